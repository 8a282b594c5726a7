#include "app/tray_area.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

#include "base/gbk_text.h"

namespace djkivo::app {

namespace {
// The session-bus service of the desktop's notification area (StatusNotifierItem hosts).
constexpr char kNotifierWatcher[] = "org.kde.StatusNotifierWatcher";
}  // namespace

QtTrayDesktop::QtTrayDesktop(QWidget* window, QMenu* menu) : window_(window), menu_(menu) {
  // The menu belongs to the icon, so every kind of notification area shows it: a
  // StatusNotifierItem host reads it over the bus (com.canonical.dbusmenu) and shows it
  // itself, and Qt's XEmbed tray window pops it up on a right click.
  if (menu_ != nullptr)
    icon_.setContextMenu(menu_);
  // Where the icon is docked by XEmbed, Qt says nothing when the tray goes away: the tray's
  // window just disappears, and Qt docks the icon again by itself when a new tray comes. So
  // while a window is hidden in the area, the area is checked on a timer (reading who owns the
  // tray's selection is cheap). While a StatusNotifierWatcher is on the session bus the bus
  // itself tells when it leaves, and the timer leaves the check to that: Qt's availability
  // check there opens a bus connection each time. Nothing is checked while no window is hidden.
  area_check_.setInterval(kAreaCheckInterval);
  QObject::connect(&area_check_, &QTimer::timeout, this, [this] {
    if (!notifier_watcher_present_)
      CheckArea();
  });
}

QtTrayDesktop::~QtTrayDesktop() { icon_.hide(); }

void QtTrayDesktop::Attach(TTrayIcon& tray) {
  tray_ = &tray;
  QObject::connect(&icon_, &QSystemTrayIcon::activated, this,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     switch (reason) {
                       case QSystemTrayIcon::Trigger:
                         tray_->HandleMouse(TrayMouseAction::LeftDown);
                         tray_->HandleMouse(TrayMouseAction::LeftUp);
                         break;
                       case QSystemTrayIcon::DoubleClick:
                         tray_->HandleMouse(TrayMouseAction::LeftDoubleClick);
                         break;
                       case QSystemTrayIcon::Context:
                         tray_->HandleMouse(TrayMouseAction::RightDown);
                         tray_->HandleMouse(TrayMouseAction::RightUp);
                         break;
                       case QSystemTrayIcon::MiddleClick:
                         tray_->HandleMouse(TrayMouseAction::MiddleDown);
                         tray_->HandleMouse(TrayMouseAction::MiddleUp);
                         break;
                       case QSystemTrayIcon::Unknown:
                         break;
                     }
                   });
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    watcher_ = new QDBusServiceWatcher(
        kNotifierWatcher, bus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
        this);
    notifier_watcher_present_ =
        bus.interface() != nullptr && bus.interface()->isServiceRegistered(kNotifierWatcher);
    QObject::connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] {
      notifier_watcher_present_ = true;
      // Qt still counts the icon as shown, and showing it again would change nothing: take it
      // down so the tray icon's adding it again registers it with the new area.
      icon_.hide();
      tray_->HandleAreaRestarted();
    });
    // The bus tells at once when the watcher leaves; the check decides, as the timer's does,
    // so an icon docked by XEmbed is not taken for gone while that tray is still there.
    QObject::connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
      notifier_watcher_present_ = false;
      CheckArea();
    });
  }
}

void QtTrayDesktop::Apply(const TIcon& icon, const std::string& tooltip) {
  if (icon)
    icon_.setIcon(static_cast<const QtTrayImage&>(*icon).icon());
  icon_.setToolTip(QString::fromStdString(GbkToUtf8(tooltip).value_or(std::string())));
}

bool QtTrayDesktop::Add(const TIcon& icon, const std::string& tooltip) {
  Apply(icon, tooltip);
  icon_.show();
  return IsAvailable();
}

bool QtTrayDesktop::Modify(const TIcon& icon, const std::string& tooltip) {
  Apply(icon, tooltip);
  return icon_.isVisible();
}

bool QtTrayDesktop::Delete() {
  icon_.hide();
  return true;
}

bool QtTrayDesktop::IsAvailable() const { return probe_(); }

void QtTrayDesktop::WatchAvailability(bool on) {
  if (on)
    area_check_.start();
  else
    area_check_.stop();
}

void QtTrayDesktop::CheckArea() {
  if (!area_check_.isActive() || tray_ == nullptr || IsAvailable())
    return;
  area_check_.stop();
  tray_->HandleAreaGone();
}

std::optional<ScreenPoint> QtTrayDesktop::CursorPos() const {
  QPoint at = QCursor::pos();
  return ScreenPoint{at.x(), at.y()};
}

TShiftState QtTrayDesktop::KeyboardState() const {
  Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
  TShiftState state = 0;
  if (held & Qt::ShiftModifier)
    state |= ssShift;
  if (held & Qt::ControlModifier)
    state |= ssCtrl;
  if (held & Qt::AltModifier)
    state |= ssAlt;
  return state;
}

void QtTrayDesktop::HideMainForm() { window_->hide(); }

void QtTrayDesktop::HideApplication() {
  // A hidden top-level window has no taskbar entry; there is no separate application window.
}

void QtTrayDesktop::RestoreApplication() {
  if (window_->isMinimized())
    window_->showNormal();
  window_->raise();
  window_->activateWindow();
}

void QtTrayDesktop::ShowMinimized() { window_->showMinimized(); }

void QtTrayDesktop::ProcessMessages() { QCoreApplication::processEvents(); }

void QtTrayDesktop::Popup(ScreenPoint at) {
  // Qt's XEmbed tray window pops the icon's menu up itself before it reports the right click:
  // a second popup would move it away from where the tray put it. A StatusNotifierItem host
  // shows the menu it read from the bus and reports nothing; one that cannot asks the item
  // for a menu instead, and gets it here.
  if (menu_->isVisible())
    return;
  if (window_ != nullptr)
    window_->activateWindow();
  menu_->popup(QPoint(at.x, at.y));
}

bool QtTrayDesktop::ClickDefaultItem() {
  if (menu_ == nullptr)
    return false;
  QAction* item = menu_->defaultAction();
  if (item == nullptr)
    return false;
  item->trigger();
  return true;
}

}  // namespace djkivo::app
