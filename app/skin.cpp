#include "app/skin.h"

#include <cmath>

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace djkivo::app {

QString DarkStyleSheet() {
  return QStringLiteral(R"(
QWidget { background: #1b1e25; color: #d8dce6; font-size: 12px; }
QMenuBar { background: #14161b; border-bottom: 1px solid #2a2e38; }
QToolButton { background: #262a33; border: 1px solid #353a46; border-radius: 4px; padding: 2px; }
QToolButton:hover { background: #30353f; border-color: #2fb4e8; }
QToolButton:pressed, QToolButton:checked { background: #1f6f91; border-color: #2fb4e8; }
QPushButton { background: #262a33; border: 1px solid #353a46; border-radius: 3px; padding: 1px 6px; }
QPushButton:hover { border-color: #2fb4e8; }
QPushButton:pressed { background: #1f6f91; }
QLineEdit { background: #111318; border: 1px solid #353a46; border-radius: 3px; padding: 1px 4px;
            selection-background-color: #1f6f91; }
QLineEdit:focus { border-color: #2fb4e8; }
QSlider::groove:horizontal { height: 4px; background: #353a46; border-radius: 2px; }
QSlider::sub-page:horizontal { background: #2fb4e8; border-radius: 2px; }
QSlider::sub-page:horizontal:disabled { background: #2a89b0; }
QSlider::handle:horizontal { width: 10px; margin: -4px 0; border-radius: 5px; background: #d8dce6; }
QSlider::handle:horizontal:disabled { background: #8a909c; }
QListWidget#SkinHeaderListBox1 { background: #161920; border: none; border-right: 1px solid #2a2e38;
                                 outline: none; }
QListWidget#SkinHeaderListBox1::item { padding-left: 10px; border: none; }
QListWidget#SkinHeaderListBox1::item:selected { background: #1f6f91; color: #ffffff; }
QListWidget#SkinHeaderListBox1::item:hover:!selected { background: #232833; }
QTableView { background: #15171d; alternate-background-color: #1a1d24; gridline-color: #2a2e38;
               border: none; selection-background-color: #1f6f91; selection-color: #ffffff; outline: none; }
QHeaderView::section { background: #22262f; color: #aab0bc; border: none;
                       border-right: 1px solid #2a2e38; padding: 3px 6px; }
QScrollBar:vertical { background: #15171d; width: 10px; }
QScrollBar::handle:vertical { background: #353a46; border-radius: 4px; min-height: 24px; }
QScrollBar::add-line, QScrollBar::sub-line { height: 0; width: 0; }
QScrollBar:horizontal { background: #15171d; height: 10px; }
QScrollBar::handle:horizontal { background: #353a46; border-radius: 4px; min-width: 24px; }
QMenu { background: #22262f; border: 1px solid #353a46; }
QMenu::item { padding: 4px 20px; }
QMenu::item:selected { background: #1f6f91; }
QMenu::item:disabled { color: #5c6270; }
QMenu::separator { height: 1px; background: #353a46; margin: 3px 6px; }
QToolTip { background: #22262f; color: #d8dce6; border: 1px solid #2fb4e8; }
QWidget#SkinStatusBar1 { background: #14161b; border-top: 1px solid #2a2e38; }
QLabel#SkinStatusPanel1 { background: transparent; color: #e8b04a; padding-left: 6px; }
QWidget#SkinPaintPanel1 { background: #0f1115; border: 1px solid #2a2e38; border-radius: 3px; }
)");
}

namespace {

// A vinyl record with a cloud-shaped label: the program's emblem, drawn into `rect`.
void DrawEmblem(QPainter& p, const QRectF& rect) {
  p.setRenderHint(QPainter::Antialiasing);
  QPointF c = rect.center();
  double r = std::min(rect.width(), rect.height()) / 2.0;
  QRadialGradient disc(c, r);
  disc.setColorAt(0.0, QColor(0x30, 0x34, 0x40));
  disc.setColorAt(1.0, QColor(0x0c, 0x0d, 0x11));
  p.setPen(Qt::NoPen);
  p.setBrush(disc);
  p.drawEllipse(c, r, r);
  p.setBrush(Qt::NoBrush);
  for (double f = 0.55; f < 0.95; f += 0.1) {
    p.setPen(QPen(QColor(0x3a, 0x40, 0x4e), std::max(1.0, r / 48)));
    p.drawEllipse(c, r * f, r * f);
  }
  // The label: a cloud in the accent colour.
  p.setPen(Qt::NoPen);
  p.setBrush(kSkinAccentColor);
  double u = r * 0.16;
  QPainterPath cloud;
  cloud.addEllipse(QPointF(c.x() - 1.3 * u, c.y() + 0.3 * u), 1.1 * u, 1.1 * u);
  cloud.addEllipse(QPointF(c.x(), c.y() - 0.4 * u), 1.5 * u, 1.5 * u);
  cloud.addEllipse(QPointF(c.x() + 1.4 * u, c.y() + 0.3 * u), 1.1 * u, 1.1 * u);
  cloud.addRoundedRect(QRectF(c.x() - 2.4 * u, c.y() + 0.1 * u, 4.8 * u, 1.3 * u), 0.6 * u,
                       0.6 * u);
  p.drawPath(cloud.simplified());
  p.setBrush(QColor(0x0c, 0x0d, 0x11));
  p.drawEllipse(c, 0.28 * u, 0.28 * u);
}

}  // namespace

QIcon ProgramIcon() {
  // packaging/djkivo.svg rendered at build time, the same files the desktop's icon theme gets.
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/icons/%1/djkivo.png").arg(size), QSize(size, size));
  return icon;
}

QPixmap HomePicture(int width, int height) {
  QPixmap pixmap(std::max(width, 1), std::max(height, 1));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, pixmap.height());
  sky.setColorAt(0.0, QColor(0x12, 0x24, 0x38));
  sky.setColorAt(1.0, QColor(0x10, 0x11, 0x16));
  p.fillRect(pixmap.rect(), sky);

  // An equaliser skyline along the bottom, a fixed pattern so every start looks the same.
  int bars = 48;
  double bar_width = pixmap.width() / double(bars);
  for (int i = 0; i < bars; ++i) {
    double level = 0.25 + 0.2 * std::sin(i * 0.7) + 0.15 * std::sin(i * 0.23 + 1.0);
    double h = level * pixmap.height() * 0.45;
    QColor color = kSkinAccentColor;
    color.setAlpha(70 + (i * 37) % 60);
    p.fillRect(QRectF(i * bar_width + 1, pixmap.height() - h, bar_width - 2, h), color);
  }

  double emblem = std::min(pixmap.width(), pixmap.height()) * 0.42;
  DrawEmblem(p, QRectF(pixmap.width() / 2.0 - emblem / 2, pixmap.height() * 0.12, emblem, emblem));

  QFont title;
  title.setPixelSize(std::max(14, pixmap.height() / 12));
  title.setBold(true);
  p.setFont(title);
  p.setPen(kSkinTextColor);
  QRectF text_rect(0, pixmap.height() * 0.12 + emblem + 8, pixmap.width(), title.pixelSize() * 1.6);
  p.drawText(text_rect, Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("DJKivo云播放"));
  QFont sub;
  sub.setPixelSize(std::max(11, pixmap.height() / 24));
  p.setFont(sub);
  p.setPen(QColor(0x8a, 0x90, 0x9c));
  p.drawText(QRectF(0, text_rect.bottom(), pixmap.width(), sub.pixelSize() * 1.8),
             Qt::AlignHCenter | Qt::AlignVCenter,
             QStringLiteral("选择左侧的分类，双击歌曲即可播放"));
  return pixmap;
}

QIcon GlyphIcon(Glyph glyph) {
  const int size = 32;
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(kSkinTextColor);
  auto triangle = [&](double x0, double x1, bool right) {
    QPolygonF t;
    if (right)
      t << QPointF(x0, 7) << QPointF(x1, 16) << QPointF(x0, 25);
    else
      t << QPointF(x1, 7) << QPointF(x0, 16) << QPointF(x1, 25);
    p.drawPolygon(t);
  };
  switch (glyph) {
    case Glyph::kPlay:
      triangle(10, 25, true);
      break;
    case Glyph::kPause:
      p.drawRoundedRect(QRectF(9, 7, 5, 18), 1, 1);
      p.drawRoundedRect(QRectF(18, 7, 5, 18), 1, 1);
      break;
    case Glyph::kPrevious:
      p.drawRect(QRectF(7, 8, 3, 16));
      triangle(10, 24, false);
      break;
    case Glyph::kNext:
      triangle(8, 22, true);
      p.drawRect(QRectF(22, 8, 3, 16));
      break;
    case Glyph::kSequential: {
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(kSkinTextColor, 3, Qt::SolidLine, Qt::RoundCap));
      for (int y : {9, 16, 23})
        p.drawLine(QPointF(6, y), QPointF(26, y));
      break;
    }
    case Glyph::kRandom: {
      // Shuffle: two paths that cross on their way to the right, each ending in an arrow head.
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(kSkinTextColor, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      QPainterPath down(QPointF(4, 9));
      down.cubicTo(QPointF(14, 9), QPointF(16, 23), QPointF(24, 23));
      QPainterPath up(QPointF(4, 23));
      up.cubicTo(QPointF(14, 23), QPointF(16, 9), QPointF(24, 9));
      p.drawPath(down);
      p.drawPath(up);
      p.setPen(Qt::NoPen);
      p.setBrush(kSkinTextColor);
      for (double y : {9.0, 23.0})
        p.drawPolygon(QPolygonF{QPointF(22, y - 5), QPointF(29, y), QPointF(22, y + 5)});
      break;
    }
    case Glyph::kAbout: {
      QFont font;
      font.setPixelSize(24);
      font.setBold(true);
      p.setFont(font);
      p.setPen(kSkinTextColor);
      p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, QStringLiteral("i"));
      break;
    }
    case Glyph::kSearch:
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(kSkinTextColor, 3, Qt::SolidLine, Qt::RoundCap));
      p.drawEllipse(QPointF(13, 13), 7, 7);
      p.drawLine(QPointF(18, 18), QPointF(26, 26));
      break;
  }
  return QIcon(pixmap);
}

}  // namespace djkivo::app
