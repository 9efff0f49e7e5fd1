#include "AboutBoxUnit.h"

#include <QDate>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "Cp1252.h"
#include "Fonts.h"
#include "Glyphs.h"
#include "JpegImage.h"
#include "MainUnit.h"

namespace {

// The dialog's texts, Windows-1252.
const char* const kProductName = "Brennick Web";
const char* const kCopyright = "Copyright \xA9 XXXX Brennick Web";
const char* const kComments = "Ein Programm von Brennick Web, Werkzeuge rund um Sprache und Netz.";
const char* const kAboutLine1 = "Brennick Web";
const char* const kAboutLine2 = "Software f\xFCr Wortschatz und Webseiten";
const char* const kAboutParagraph =
    "Unsere Programme sammeln, ordnen und pr\xFC"
    "fen W\xF6rter: vom Wortschatz einer Website "
    "\xFC"
    "ber Listen f\xFCr den Unterricht bis zu Pr\xFC"
    "fhilfen f\xFCr Texte.";
const char* const kWebButtonCaption = "www.brennick.example";

QLabel* MakeLabel(QWidget* parent, const char* text, QRect geometry, bool autoSize) {
  auto* label = new QLabel(FromCp1252(text), parent);
  label->setGeometry(geometry);
  if (autoSize) label->adjustSize();
  return label;
}

}  // namespace

std::string InsertYear(std::string caption, int year) {
  size_t at = caption.find("XXXX");
  if (at != std::string::npos) caption.replace(at, 4, std::to_string(year));
  return caption;
}

TAboutBox::TAboutBox(QWidget* parent, std::function<void(const std::string&)> openWebAddress)
    : QDialog(parent), openWebAddress_(std::move(openWebAddress)) {
  setWindowTitle(QStringLiteral("Info"));
  setFont(WindowFont());
  setFixedSize(664, 453);  // fixed dialog border: no resizing
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);
  BuildPanel1();
  BitBtn1 = new QPushButton(MakeGlyph(TGlyph::Ok), QStringLiteral("OK"), this);
  BitBtn1->setGeometry(241, 404, 181, 37);
  BitBtn1->setDefault(true);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  setTabOrder(BitBtnXP1, BitBtn1);
  FormCreate();
}

void TAboutBox::BuildPanel1() {
  Panel1 = new QFrame(this);
  Panel1->setGeometry(8, 8, 649, 385);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setLineWidth(2);
  Panel1->setAutoFillBackground(true);
  QPalette colours = Panel1->palette();
  colours.setColor(QPalette::Window, QColor(240, 202, 166));
  colours.setColor(QPalette::WindowText, Qt::black);
  Panel1->setPalette(colours);

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setGeometry(16, 40, 306, 322);
  ProgramIcon->setPixmap(QPixmap::fromImage(DecodeJpeg(kAboutPicture, kAboutPictureSize)));

  ProductName = MakeLabel(Panel1, kProductName, QRect(8, 8, 406, 27), false);
  ProductName->setFont(
      MakeFont({"Arial Narrow", "Liberation Sans Narrow", "DejaVu Sans Condensed"}, 24, true));

  Copyright = MakeLabel(Panel1, kCopyright, QRect(336, 40, 208, 13), false);
  Comments = MakeLabel(Panel1, kComments, QRect(336, 56, 257, 33), false);
  Comments->setWordWrap(true);
  Comments->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1 = MakeLabel(Panel1, kAboutLine1, QRect(336, 96, 0, 0), false);
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  Label1->adjustSize();
  Label2 = MakeLabel(Panel1, kAboutLine2, QRect(336, 112, 0, 0), true);
  Label3 = MakeLabel(Panel1, kAboutParagraph, QRect(336, 128, 238, 121), false);
  Label3->setWordWrap(true);
  Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  BitBtnXP1 = new QPushButton(MakeGlyph(TGlyph::Web), FromCp1252(kWebButtonCaption), Panel1);
  BitBtnXP1->setGeometry(336, 240, 169, 25);
  BitBtnXP1->setAutoDefault(false);
  connect(BitBtnXP1, &QPushButton::clicked, this, &TAboutBox::BitBtnXP1Click);
}

// The year in which the program started takes the placeholder's place.
void TAboutBox::FormCreate() {
  std::string caption = ToCp1252(Copyright->text());
  Copyright->setText(FromCp1252(InsertYear(caption, QDate::currentDate().year())));
}

void TAboutBox::BitBtnXP1Click() {
  if (openWebAddress_) openWebAddress_(kMakerWebSite);
}
