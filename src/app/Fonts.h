// The windows' fonts: the designed family first, then look-alikes that a
// Linux desktop has (narrow ones, so that texts fit the designed sizes).
#pragma once

#include <QFont>
#include <initializer_list>

QFont MakeFont(std::initializer_list<const char*> families, int pixelSize, bool bold = false);

// "MS Sans Serif", 11 pixels: the default font of both windows.
QFont WindowFont();
