// The windows' fonts: the designed family first, then look-alikes that a
// Linux desktop has (narrow ones, so that texts fit the designed sizes).
#pragma once

#include <QFont>
#include <QString>
#include <initializer_list>

QFont MakeFont(std::initializer_list<const char*> families, int pixelSize, bool bold = false);

// "MS Sans Serif", 11 pixels: the default font of both windows.
QFont WindowFont();

// `font`, or a narrower stretch of it (down to half its width) when `text`
// set in it would be `room` pixels wide or wider: a text placed at a
// designed position must end before the control beside it, in whichever
// family the machine substitutes.
QFont NarrowedToFit(const QFont& font, const QString& text, int room);
