// The buttons' glyphs, drawn by the program: 16 by 16 pixels, each with a
// normal image and a grey one for the disabled state.
#pragma once

#include <QIcon>

enum class TGlyph {
  Go,      // the start button: an arrow into a tray
  Open,    // a folder
  Save,    // a disk
  New,     // a blank page
  Cancel,  // kind Cancel: a red cross
  Help,    // kind Help: a question mark
  Retry,   // kind Retry: a circular arrow
  Ok,      // kind OK: a tick
  Web,     // the about dialog's web button: a globe
};

QIcon MakeGlyph(TGlyph glyph);
