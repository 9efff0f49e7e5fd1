// Draws the about dialog's picture (306 by 322 pixels: a spider's web in an
// evening sky over hills) and writes it as JPEG bytes into a C++ source file
// that the program embeds. Usage: make_about_picture <output.cpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

namespace {

constexpr int kWidth = 306;
constexpr int kHeight = 322;
constexpr double kPi = 3.14159265358979323846;

struct TColour {
  double r, g, b;
};

TColour Mix(TColour a, TColour b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

class TCanvas {
 public:
  TCanvas() : pixels_(kWidth * kHeight) {}
  TColour& At(int x, int y) { return pixels_[static_cast<size_t>(y * kWidth + x)]; }
  void Blend(int x, int y, TColour colour, double alpha) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
    At(x, y) = Mix(At(x, y), colour, alpha);
  }
  std::vector<unsigned char> Bytes() const {
    std::vector<unsigned char> bytes;
    bytes.reserve(pixels_.size() * 3);
    for (const TColour& c : pixels_) {
      for (double v : {c.r, c.g, c.b})
        bytes.push_back(static_cast<unsigned char>(std::clamp(v, 0.0, 255.0)));
    }
    return bytes;
  }

 private:
  std::vector<TColour> pixels_;
};

double Hill(double x, double base, double amplitude, double wave, double phase) {
  return base + amplitude * std::sin(x / wave + phase) +
         amplitude * 0.4 * std::sin(x / (wave * 0.37) + phase * 2);
}

void DrawSkyAndHills(TCanvas& canvas) {
  const TColour top{30, 40, 110}, horizon{250, 170, 120};
  const TColour hills[] = {{120, 150, 110}, {70, 120, 70}, {35, 80, 45}};
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      TColour c = Mix(top, horizon, y / 230.0);
      double sun = std::hypot(x - 215.0, y - 190.0);
      c = Mix(c, TColour{255, 240, 180}, std::exp(-sun / 28.0));
      if (sun < 26) c = TColour{255, 225, 120};
      for (int layer = 0; layer < 3; ++layer) {
        double ridge = Hill(x, 215 + layer * 30, 14 - layer * 3, 40 + layer * 13, layer * 1.7);
        if (y > ridge) c = Mix(hills[layer], TColour{20, 40, 25}, (y - ridge) / 160.0);
      }
      canvas.At(x, y) = c;
    }
  }
}

// A line with soft edges: every pixel near the segment is blended by distance.
void DrawLine(TCanvas& canvas, double x0, double y0, double x1, double y1, double width,
              TColour colour) {
  int left = static_cast<int>(std::min(x0, x1) - width - 1),
      right = static_cast<int>(std::max(x0, x1) + width + 1);
  int top = static_cast<int>(std::min(y0, y1) - width - 1),
      bottom = static_cast<int>(std::max(y0, y1) + width + 1);
  double dx = x1 - x0, dy = y1 - y0, length2 = std::max(dx * dx + dy * dy, 1e-9);
  for (int y = top; y <= bottom; ++y) {
    for (int x = left; x <= right; ++x) {
      double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / length2, 0.0, 1.0);
      double distance = std::hypot(x - (x0 + t * dx), y - (y0 + t * dy));
      canvas.Blend(x, y, colour, std::clamp(width / 2 + 0.5 - distance, 0.0, 1.0) * 0.85);
    }
  }
}

void DrawWeb(TCanvas& canvas) {
  const double cx = 95, cy = 105;
  const int spokes = 12;
  const TColour silk{245, 245, 255};
  std::vector<double> angle(spokes), reach(spokes);
  for (int s = 0; s < spokes; ++s) {
    angle[s] = 2 * kPi * s / spokes + 0.13 * std::sin(s * 2.3);
    reach[s] = 88 + 14 * std::sin(s * 1.7);
    DrawLine(canvas, cx, cy, cx + reach[s] * std::cos(angle[s]), cy + reach[s] * std::sin(angle[s]),
             1.2, silk);
  }
  for (int ring = 1; ring <= 9; ++ring) {
    double share = ring / 9.5;
    for (int s = 0; s < spokes; ++s) {
      int n = (s + 1) % spokes;
      DrawLine(canvas, cx + share * reach[s] * std::cos(angle[s]),
               cy + share * reach[s] * std::sin(angle[s]),
               cx + share * reach[n] * std::cos(angle[n]),
               cy + share * reach[n] * std::sin(angle[n]), 1.0, silk);
    }
  }
  // The spider: a dark body on a thread near the centre.
  DrawLine(canvas, cx + 30, cy - 20, cx + 30, cy + 8, 0.8, silk);
  for (int y = -9; y <= 9; ++y) {
    for (int x = -9; x <= 9; ++x) {
      double d = std::hypot(x / 6.0, (y - 2) / 8.0);
      canvas.Blend(static_cast<int>(cx + 30 + x), static_cast<int>(cy + 14 + y),
                   TColour{25, 20, 30}, std::clamp((1.0 - d) * 4, 0.0, 1.0));
    }
  }
}

std::vector<unsigned char> EncodeJpeg(const std::vector<unsigned char>& rgb) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&info, &out, &outSize);
  info.image_width = kWidth;
  info.image_height = kHeight;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 88, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    auto* row =
        const_cast<JSAMPROW>(rgb.data() + static_cast<size_t>(info.next_scanline) * kWidth * 3);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<unsigned char> bytes(out, out + outSize);
  jpeg_destroy_compress(&info);
  std::free(out);
  return bytes;
}

bool WriteSource(const char* path, const std::vector<unsigned char>& jpeg) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  std::fprintf(file,
               "// Generated by make_about_picture: the about dialog's picture, JPEG bytes.\n");
  std::fprintf(file, "#include \"JpegImage.h\"\n\nextern const unsigned char kAboutPicture[] = {");
  for (size_t i = 0; i < jpeg.size(); ++i)
    std::fprintf(file, "%s%u,", i % 20 == 0 ? "\n" : "", jpeg[i]);
  std::fprintf(file, "\n};\nextern const size_t kAboutPictureSize = sizeof(kAboutPicture);\n");
  return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_about_picture <output.cpp>\n");
    return 2;
  }
  TCanvas canvas;
  DrawSkyAndHills(canvas);
  DrawWeb(canvas);
  if (!WriteSource(argv[1], EncodeJpeg(canvas.Bytes()))) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
