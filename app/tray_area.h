// The tray icon's desktop side on Qt: QSystemTrayIcon as the notification area, a QMenu as the
// popup menu, and the main window as the application to hide and restore.
#pragma once

#include <functional>

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include "desktop/notification_area.h"
#include "desktop/tray_icon.h"

class QDBusServiceWatcher;
class QMenu;
class QWidget;

namespace djkivo::app {

/// An icon image of the Qt back end.
class QtTrayImage final : public TrayImage {
 public:
  explicit QtTrayImage(QIcon icon) : icon_(std::move(icon)) {}
  const QIcon& icon() const { return icon_; }

 private:
  QIcon icon_;
};

/// Everything TTrayIcon needs from the desktop, on QSystemTrayIcon, one QMenu and one window.
/// The menu is the icon's context menu, so a StatusNotifierItem host reads it over the session
/// bus and an XEmbed tray shows it on a right click.
///
/// Qt reports a click on the icon only once it is complete, so a left click arrives as a down
/// and an up together, a right click likewise, and there are no move reports. A restart of the
/// desktop's notification area (the StatusNotifierWatcher service coming back on the session
/// bus) is reported to the tray icon so it adds its icon again; the area going away while it is
/// watched is reported within about `kAreaCheckInterval`. GUI thread only.
class QtTrayDesktop final : public QObject,
                            public NotificationArea,
                            public TrayHost,
                            public TrayMenu {
 public:
  /// How often the area is checked while it is watched (the window hidden in it): a hidden
  /// window comes back within about this long after the area goes.
  static constexpr int kAreaCheckInterval = 1000;  // ms

  /// `window` is the main window, `menu` the tray menu (may be null); both outlive this.
  QtTrayDesktop(QWidget* window, QMenu* menu);
  ~QtTrayDesktop() override;

  /// Connects the icon's mouse actions and the area's restarts and departures to `tray`. Call
  /// once, before `tray.Loaded()`; `tray` must outlive this object or be destroyed first.
  void Attach(TTrayIcon& tray);

  // NotificationArea
  bool Add(const TIcon& icon, const std::string& tooltip) override;
  bool Modify(const TIcon& icon, const std::string& tooltip) override;
  bool Delete() override;
  bool IsAvailable() const override;
  void WatchAvailability(bool on) override;
  std::optional<ScreenPoint> CursorPos() const override;
  TShiftState KeyboardState() const override;

  // TrayHost
  bool HasMainForm() const override { return window_ != nullptr; }
  void HideMainForm() override;
  void HideApplication() override;
  void RestoreApplication() override;
  void ShowMinimized() override;
  void ProcessMessages() override;

  // TrayMenu
  bool AutoPopup() const override { return menu_ != nullptr; }
  void Popup(ScreenPoint at) override;
  bool ClickDefaultItem() override;

  /// The tray icon itself, for tests and for messages shown from the tray.
  QSystemTrayIcon& Icon() { return icon_; }

  /// Replaces the question `IsAvailable` asks the desktop. Tests use it to stand in for a
  /// desktop with a notification area where the platform has none (the offscreen platform).
  void SetAvailabilityProbe(std::function<bool()> probe) { probe_ = std::move(probe); }

 private:
  void Apply(const TIcon& icon, const std::string& tooltip);
  /// While the area is watched: reports it gone if it is no longer available.
  void CheckArea();

  QWidget* window_;
  QMenu* menu_;
  QSystemTrayIcon icon_;
  TTrayIcon* tray_ = nullptr;
  QDBusServiceWatcher* watcher_ = nullptr;  // owned by this (Qt parent)
  bool notifier_watcher_present_ = false;   // a StatusNotifierWatcher is on the session bus
  QTimer area_check_;                       // runs while the area is watched
  std::function<bool()> probe_ = &QSystemTrayIcon::isSystemTrayAvailable;
};

}  // namespace djkivo::app
