#include "app/paint_panel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace djkivo::app {

namespace {
// The room kept free inside the panel's border, in pixels.
constexpr int kPanelPadding = 3;
}  // namespace

TPaintPanel::TPaintPanel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_StyledBackground, true);
}

void TPaintPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // The style sheet's background and border first, then the owner's content.
  QStyleOption option;
  option.initFrom(this);
  style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
  if (OnPanelPaint)
    OnPanelPaint(painter,
                 rect().adjusted(kPanelPadding, kPanelPadding, -kPanelPadding, -kPanelPadding));
}

}  // namespace djkivo::app
