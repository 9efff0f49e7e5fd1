#include "JpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the decoder, which gives up on the picture.
struct TJpegError {
  jpeg_error_mgr manager;
  std::jmp_buf escape;
};

void LeaveDecoder(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegError*>(info->err)->escape, 1);
}
void IgnoreMessage(j_common_ptr) {}

constexpr JDIMENSION kMaxSide = 8192;  // refuses absurd sizes before allocating

// Fills `image` (allocated here once the size is known). Returns false on a
// decoding failure. Only plain data lives between setjmp and longjmp.
bool DecodeInto(const unsigned char* data, size_t size, QImage& image) {
  jpeg_decompress_struct info;
  TJpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = LeaveDecoder;
  error.manager.output_message = IgnoreMessage;
  if (setjmp(error.escape)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_width == 0 || info.output_height == 0 || info.output_width > kMaxSide ||
      info.output_height > kMaxSide || info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                 QImage::Format_RGB888);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

QImage DecodeJpeg(const unsigned char* data, size_t size) {
  if (data == nullptr || size == 0) return {};
  QImage image;
  if (!DecodeInto(data, size, image)) return {};
  return image;
}
