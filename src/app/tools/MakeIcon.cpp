// Draws the program's icon, a spider's web in an evening sky like the about
// picture, and writes it for the desktop's icon theme: PNG files of the
// given sizes and one SVG, both from the same shapes.
// Usage: make_icon <output directory> <name> <size>...
//   writes <dir>/<size>x<size>/<name>.png for each size and <dir>/<name>.svg
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The shapes in a 256 by 256 square.
constexpr double kSide = 256;
constexpr double kPi = 3.14159265358979323846;
const QColor kSkyTop(30, 40, 110), kSkyBottom(250, 170, 120), kSilk(245, 245, 255),
    kSpider(25, 20, 30);
const QRectF kTile(8, 8, 240, 240);
constexpr double kTileRadius = 40;
const QPointF kHub(118, 112);
const QRectF kSpiderBody(160, 150, 34, 44);
constexpr double kSilkWidth = 5;

struct TStrand {
  QPointF from, to;
};

// Twelve spokes of slightly uneven length and six rings between them, the
// about picture's web with fewer, thicker threads so that 48 pixels still
// show it.
std::vector<TStrand> WebStrands() {
  constexpr int kSpokes = 12, kRings = 6;
  std::vector<QPointF> ends;
  for (int s = 0; s < kSpokes; ++s) {
    double angle = 2 * kPi * s / kSpokes + 0.13 * std::sin(s * 2.3);
    double reach = 96 + 12 * std::sin(s * 1.7);
    ends.push_back(kHub + QPointF(reach * std::cos(angle), reach * std::sin(angle)));
  }
  std::vector<TStrand> strands;
  for (const QPointF& end : ends) strands.push_back({kHub, end});
  for (int ring = 1; ring <= kRings; ++ring) {
    double share = ring / (kRings + 0.5);
    for (int s = 0; s < kSpokes; ++s) {
      const QPointF& a = ends[s];
      const QPointF& b = ends[(s + 1) % kSpokes];
      strands.push_back({kHub + (a - kHub) * share, kHub + (b - kHub) * share});
    }
  }
  // The spider's thread.
  strands.push_back({QPointF(177, 100), QPointF(177, 152)});
  return strands;
}

void Paint(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, kTile.top(), 0, kTile.bottom());
  sky.setColorAt(0, kSkyTop);
  sky.setColorAt(1, kSkyBottom);
  painter.setPen(Qt::NoPen);
  painter.setBrush(sky);
  painter.drawRoundedRect(kTile, kTileRadius, kTileRadius);

  // The web may not reach past the tile's rounded edge.
  QPainterPath tile;
  tile.addRoundedRect(kTile, kTileRadius, kTileRadius);
  painter.setClipPath(tile);
  painter.setPen(QPen(kSilk, kSilkWidth, Qt::SolidLine, Qt::RoundCap));
  for (const TStrand& strand : WebStrands()) painter.drawLine(strand.from, strand.to);
  painter.setPen(Qt::NoPen);
  painter.setBrush(kSpider);
  painter.drawEllipse(kSpiderBody);
}

bool WritePng(const QString& dir, const QString& name, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.scale(size / kSide, size / kSide);
  Paint(painter);
  painter.end();
  QString sizeDir = QStringLiteral("%1/%2x%2").arg(dir).arg(size);
  return QDir().mkpath(sizeDir) &&
         image.save(sizeDir + QLatin1Char('/') + name + QStringLiteral(".png"), "PNG");
}

QString Colour(const QColor& colour) { return colour.name(QColor::HexRgb); }
QString Number(double value) { return QString::number(value, 'f', 2); }

// The same shapes as Paint, as SVG elements.
QString SvgText() {
  QString path;
  for (const TStrand& s : WebStrands()) {
    path += QStringLiteral("M%1 %2L%3 %4")
                .arg(Number(s.from.x()), Number(s.from.y()), Number(s.to.x()), Number(s.to.y()));
  }
  QString tile = QStringLiteral("x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\"")
                     .arg(Number(kTile.x()), Number(kTile.y()), Number(kTile.width()),
                          Number(kTile.height()), Number(kTileRadius));
  QPointF body = kSpiderBody.center();
  return QStringLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 "
             "256 256\">\n"
             "<defs>\n"
             "<linearGradient id=\"sky\" x1=\"0\" y1=\"%1\" x2=\"0\" y2=\"%2\" "
             "gradientUnits=\"userSpaceOnUse\">"
             "<stop offset=\"0\" stop-color=\"%3\"/><stop offset=\"1\" "
             "stop-color=\"%4\"/></linearGradient>\n"
             "<clipPath id=\"tile\"><rect %5/></clipPath>\n"
             "</defs>\n"
             "<rect %5 fill=\"url(#sky)\"/>\n"
             "<path clip-path=\"url(#tile)\" fill=\"none\" stroke=\"%6\" stroke-width=\"%7\" "
             "stroke-linecap=\"round\" d=\"%8\"/>\n"
             "<ellipse cx=\"%9\" cy=\"%10\" rx=\"%11\" ry=\"%12\" fill=\"%13\"/>\n"
             "</svg>\n")
      .arg(Number(kTile.top()), Number(kTile.bottom()), Colour(kSkyTop), Colour(kSkyBottom), tile,
           Colour(kSilk), Number(kSilkWidth), path, Number(body.x()), Number(body.y()),
           Number(kSpiderBody.width() / 2), Number(kSpiderBody.height() / 2), Colour(kSpider));
}

bool WriteSvg(const QString& dir, const QString& name) {
  QFile file(dir + QLatin1Char('/') + name + QStringLiteral(".svg"));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  QByteArray bytes = SvgText().toUtf8();
  return file.write(bytes) == bytes.size() && file.flush();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_icon <output directory> <name> <size>...\n");
    return 2;
  }
  QString dir = QFile::decodeName(argv[1]);
  QString name = QFile::decodeName(argv[2]);
  for (int i = 3; i < argc; ++i) {
    int size = std::atoi(argv[i]);
    if (size <= 0 || !WritePng(dir, name, size)) {
      std::fprintf(stderr, "make_icon: cannot write the %s pixel icon\n", argv[i]);
      return 1;
    }
  }
  if (!WriteSvg(dir, name)) {
    std::fprintf(stderr, "make_icon: cannot write the SVG icon\n");
    return 1;
  }
  return 0;
}
