// The about dialog "Info": the picture, the maker's name, the copyright line
// with the year the program started, a web button and OK. Created once,
// hidden, and shown modally as often as the user asks.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QFrame;
class QLabel;
class QPushButton;

// The caption with its first "XXXX" replaced by the year's decimal digits.
std::string InsertYear(std::string caption, int year);

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  // `openWebAddress` hands the maker's web site to the browser.
  TAboutBox(QWidget* parent, std::function<void(const std::string&)> openWebAddress);

  QFrame* Panel1;
  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* Copyright;
  QLabel* Comments;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QPushButton* BitBtnXP1;
  QPushButton* BitBtn1;

 private:
  void BuildPanel1();
  void FormCreate();
  void BitBtnXP1Click();

  std::function<void(const std::string&)> openWebAddress_;
};
