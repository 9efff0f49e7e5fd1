// Decodes a JPEG picture with libjpeg into a QImage (no Qt image plugins).
#pragma once

#include <QImage>
#include <cstddef>

// A null image when the data is not a JPEG picture libjpeg can decode.
QImage DecodeJpeg(const unsigned char* data, size_t size);

// The about dialog's picture, embedded in the program (306 by 322 pixels).
extern const unsigned char kAboutPicture[];
extern const size_t kAboutPictureSize;
