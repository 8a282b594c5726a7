// A panel whose content its owner paints: the window's title and time display.
#pragma once

#include <functional>

#include <QWidget>

class QPainter;

namespace djkivo::app {

/// A plain widget that hands every paint to `OnPanelPaint` with a painter on the panel and the
/// rectangle to draw in (the panel's inside, within its border). GUI thread only.
class TPaintPanel final : public QWidget {
 public:
  explicit TPaintPanel(QWidget* parent = nullptr);

  /// Called from every paint event; runs on the GUI thread.
  std::function<void(QPainter& canvas, const QRect& rect)> OnPanelPaint;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace djkivo::app
