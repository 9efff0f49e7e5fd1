// Stands in for the person at the screen: answers questions and file
// dialogs from a script and records what the program showed.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "UserDialogs.h"

struct TAskedQuestion {
  std::string Caption;
  std::string Text;
  TQuestionButtons Buttons;
};

class TScriptedDialogs : public TUserDialogs {
 public:
  std::deque<TAnswer> Answers;                   // used up in order; Cancel when empty
  std::deque<std::optional<std::string>> Files;  // chosen paths; cancelled when empty
  std::vector<TAskedQuestion> Questions;
  std::vector<std::string> Errors;
  std::vector<std::string> OpenedAddresses;
  int ModalDialogs = 0;

  TAnswer Ask(const std::string& caption, const std::string& text,
              TQuestionButtons buttons) override {
    Questions.push_back({caption, text, buttons});
    return Next(Answers, TAnswer::Cancel);
  }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  std::optional<std::string> ChooseFileToOpen() override {
    return Next(Files, std::optional<std::string>());
  }
  std::optional<std::string> ChooseFileToSave() override {
    return Next(Files, std::optional<std::string>());
  }
  void ShowModal(QDialog&) override { ++ModalDialogs; }
  void OpenWebAddress(const std::string& address) override { OpenedAddresses.push_back(address); }

 private:
  template <typename T>
  static T Next(std::deque<T>& queue, T fallback) {
    if (queue.empty()) return fallback;
    T value = queue.front();
    queue.pop_front();
    return value;
  }
};
