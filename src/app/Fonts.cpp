#include "Fonts.h"

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
  return MakeFont({"MS Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans Condensed", "Sans Serif"}, 11);
}
