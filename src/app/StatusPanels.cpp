#include "StatusPanels.h"

#include <QPainter>

std::string GroupedNumber(size_t value) {
  std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += '.';
    grouped += digits[i];
  }
  return grouped;
}

std::string PagesPanelText(const TCrawlProgress& progress) {
  return "Seiten: " + GroupedNumber(progress.Fetched) +
         ", Warteschlange: " + GroupedNumber(progress.QueueLeft);
}

std::string WordsPanelText(size_t words) { return "W\xF6rter: " + GroupedNumber(words); }

TProgressPanel::TProgressPanel(const int& percent, QWidget* parent)
    : QWidget(parent), percent_(percent) {
  setFixedWidth(kWidth);
}

void TProgressPanel::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  update();
}

void TProgressPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect area = rect();
  int width = area.width() * percent_ / 100;
  if (width > 0) painter.fillRect(area.left(), area.top(), width, area.height(), QColor(0, 0, 128));
  if (text_.isEmpty()) return;
  QRect textArea = area.adjusted(3, 0, -3, 0);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text_, Qt::ElideRight, textArea.width()));
}
