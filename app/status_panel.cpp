#include "app/status_panel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace djkivo::app {

TStatusPanel::TStatusPanel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  // The panel takes what the bar leaves; its text never widens the window.
  setMinimumWidth(0);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void TStatusPanel::ShowText(const QString& text) {
  setText(text);
  setToolTip(text);
}

void TStatusPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOption option;
  option.initFrom(this);
  style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
  const QRect area = contentsRect();
  painter.setPen(palette().color(foregroundRole()));
  painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
}

}  // namespace djkivo::app
