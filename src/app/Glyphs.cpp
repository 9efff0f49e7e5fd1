#include "Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSize = 16;

// Greys every colour for the disabled image.
QColor Tone(QColor colour, bool enabled) {
  if (enabled) return colour;
  int grey = 128 + qGray(colour.rgb()) / 3;
  return QColor(grey, grey, grey);
}

void DrawGlyph(QPainter& p, TGlyph glyph, bool on) {
  QPen outline(Tone(QColor(40, 40, 40), on), 1);
  p.setPen(outline);
  switch (glyph) {
    case TGlyph::Go:
      p.setBrush(Tone(QColor(0, 150, 0), on));
      p.drawPolygon(QPolygon({QPoint(6, 1), QPoint(10, 1), QPoint(10, 6), QPoint(13, 6),
                              QPoint(8, 11), QPoint(3, 6), QPoint(6, 6)}));
      p.setBrush(Tone(QColor(120, 120, 200), on));
      p.drawRect(1, 12, 14, 3);
      break;
    case TGlyph::Open:
      p.setBrush(Tone(QColor(230, 190, 60), on));
      p.drawRect(1, 4, 13, 10);
      p.setBrush(Tone(QColor(250, 220, 110), on));
      p.drawPolygon(QPolygon({QPoint(3, 7), QPoint(15, 7), QPoint(13, 14), QPoint(1, 14)}));
      break;
    case TGlyph::Save:
      p.setBrush(Tone(QColor(40, 70, 160), on));
      p.drawRect(1, 1, 14, 14);
      p.setBrush(Tone(QColor(240, 240, 240), on));
      p.drawRect(4, 2, 8, 5);
      p.setBrush(Tone(QColor(180, 180, 180), on));
      p.drawRect(4, 10, 8, 5);
      break;
    case TGlyph::New:
      p.setBrush(Tone(QColor(255, 255, 255), on));
      p.drawPolygon(
          QPolygon({QPoint(3, 1), QPoint(10, 1), QPoint(13, 4), QPoint(13, 15), QPoint(3, 15)}));
      p.drawLine(10, 1, 10, 4);
      p.drawLine(10, 4, 13, 4);
      break;
    case TGlyph::Cancel:
      p.setPen(QPen(Tone(QColor(200, 0, 0), on), 3, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(3, 3, 12, 12);
      p.drawLine(12, 3, 3, 12);
      break;
    case TGlyph::Help:
      p.setBrush(Tone(QColor(30, 90, 200), on));
      p.drawEllipse(1, 1, 14, 14);
      p.setPen(Tone(Qt::white, on));
      p.setFont(QFont(QStringLiteral("Sans Serif"), 8, QFont::Bold));
      p.drawText(QRect(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
      break;
    case TGlyph::Retry: {
      p.setPen(QPen(Tone(QColor(0, 130, 0), on), 2));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRect(2, 2, 12, 12), 30 * 16, 280 * 16);
      p.setPen(outline);
      p.setBrush(Tone(QColor(0, 130, 0), on));
      p.drawPolygon(QPolygon({QPoint(10, 1), QPoint(15, 4), QPoint(10, 7)}));
      break;
    }
    case TGlyph::Ok:
      p.setPen(QPen(Tone(QColor(0, 140, 0), on), 3, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(2, 8, 6, 12);
      p.drawLine(6, 12, 14, 3);
      break;
    case TGlyph::Web:
      p.setBrush(Tone(QColor(70, 150, 230), on));
      p.drawEllipse(1, 1, 14, 14);
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(5, 1, 6, 14);
      p.drawLine(1, 8, 15, 8);
      break;
  }
}

QPixmap PaintGlyph(TGlyph glyph, bool enabled) {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawGlyph(painter, glyph, enabled);
  return pixmap;
}

}  // namespace

QIcon MakeGlyph(TGlyph glyph) {
  QIcon icon;
  icon.addPixmap(PaintGlyph(glyph, true), QIcon::Normal);
  icon.addPixmap(PaintGlyph(glyph, false), QIcon::Disabled);
  return icon;
}
