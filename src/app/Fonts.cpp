#include "Fonts.h"

#include <QFontMetrics>
#include <QStringList>

QFont MakeFont(std::initializer_list<const char*> families, int pixelSize, bool bold) {
  QStringList names;
  for (const char* family : families) names << QString::fromLatin1(family);
  QFont font;
  font.setFamilies(names);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

QFont WindowFont() {
  return MakeFont(
      {"MS Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans Condensed", "Sans Serif"}, 11);
}

QFont NarrowedToFit(const QFont& font, const QString& text, int room) {
  constexpr int kNarrowest = 50, kStep = 5;  // per cent of the normal width
  QFont narrowed = font;
  for (int stretch = 100 - kStep; stretch >= kNarrowest; stretch -= kStep) {
    if (QFontMetrics(narrowed).horizontalAdvance(text) < room) break;
    narrowed.setStretch(stretch);
  }
  return narrowed;
}
