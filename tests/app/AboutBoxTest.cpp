#include "AboutBoxUnit.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "Cp1252.h"
#include "JpegImage.h"

TEST(AboutBox, InsertYearReplacesOnlyTheFirstPlaceholder) {
  EXPECT_EQ(InsertYear("(c) XXXX und XXXX", 2026), "(c) 2026 und XXXX");
  EXPECT_EQ(InsertYear("XXXXX", 987), "987X");
  EXPECT_EQ(InsertYear("ohne", 2026), "ohne");
}

TEST(AboutBox, CopyrightShowsTheYearOfCreation) {
  int before = QDate::currentDate().year();
  TAboutBox box(nullptr, nullptr);
  int after = QDate::currentDate().year();
  std::string copyright = ToCp1252(box.Copyright->text());
  EXPECT_EQ(copyright.find("XXXX"), std::string::npos);
  bool hasYear = copyright.find(std::to_string(before)) != std::string::npos ||
                 copyright.find(std::to_string(after)) != std::string::npos;
  EXPECT_TRUE(hasYear) << copyright;
}

TEST(AboutBox, LayoutAndPicture) {
  TAboutBox box(nullptr, nullptr);
  EXPECT_EQ(box.windowTitle(), QStringLiteral("Info"));
  EXPECT_EQ(box.size(), QSize(664, 453));
  EXPECT_EQ(box.Panel1->geometry(), QRect(8, 8, 649, 385));
  EXPECT_EQ(box.Panel1->palette().color(QPalette::Window), QColor(240, 202, 166));
  EXPECT_EQ(box.BitBtn1->geometry(), QRect(241, 404, 181, 37));
  EXPECT_TRUE(box.BitBtn1->isDefault());
  QPixmap picture = box.ProgramIcon->pixmap();
  ASSERT_EQ(picture.size(), QSize(306, 322));
  QImage image = picture.toImage();
  EXPECT_FALSE(image.allGray());
}

TEST(AboutBox, OkClosesTheDialog) {
  TAboutBox box(nullptr, nullptr);
  box.show();
  box.BitBtn1->click();
  EXPECT_FALSE(box.isVisible());
  EXPECT_EQ(box.result(), QDialog::Accepted);
}

TEST(Jpeg, BrokenDataGivesANullImage) {
  const unsigned char garbage[] = {0xFF, 0xD8, 0xFF, 0x00, 1, 2, 3};
  EXPECT_TRUE(DecodeJpeg(garbage, sizeof garbage).isNull());
  EXPECT_TRUE(DecodeJpeg(nullptr, 0).isNull());
  // A picture cut short decodes without a crash, whatever it shows.
  QImage cut = DecodeJpeg(kAboutPicture, kAboutPictureSize / 2);
  EXPECT_TRUE(cut.isNull() || cut.size() == QSize(306, 322));
}
