// TTrayIcon: keeps one icon in the notification area, turns mouse actions on it into events,
// pops up its menu, animates through an image list, and hides the application in the tray when
// it is minimised. Qt-free: the desktop is reached through notification_area.h.
//
// Main thread only: setters, the reports from the back end (`HandleMouse`, `HandleAreaRestarted`,
// `HandleAreaGone`, `HandleApplicationMinimized`, `HandleFormShown`) and the cycle timer all run
// there.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/main_thread.h"
#include "desktop/notification_area.h"

namespace djkivo {

using TNotifyEvent = std::function<void()>;
/// (Button, Shift, X, Y), X and Y in screen coordinates.
using TMouseEvent = std::function<void(TMouseButton, TShiftState, int x, int y)>;
/// (Shift, X, Y).
using TMouseMoveEvent = std::function<void(TShiftState, int x, int y)>;
/// (NextIndex): raised before each animation step with the index the animation moves to next.
using TCycleEvent = std::function<void(int next_index)>;

class TTrayIcon {
 public:
  /// Longest tooltip passed to the area, in bytes (the area's tip field holds 127 and a NUL).
  static constexpr std::size_t kMaxTooltipBytes = 127;

  /// `menu` may be null (no popup menu). All three must outlive the icon.
  TTrayIcon(NotificationArea& area, TrayHost& host, TrayMenu* menu);
  /// Removes the icon and stops the animation.
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  /// Call once every property is set (the form has loaded): hides the application when
  /// `StartMinimized` (shows it minimised instead where there is no notification area), then
  /// shows the icon when `IconVisible`.
  void Loaded();

  // Events.
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TCycleEvent OnCycle;

  // Properties.
  const std::optional<std::vector<TIcon>>& IconList() const { return icon_list_; }
  /// Stores the list (nullopt: none) and sets `IconIndex` to 0.
  void SetIconList(std::optional<std::vector<TIcon>> list);
  bool CycleIcons() const { return cycle_icons_; }
  /// Turning it on starts at image 0; the animation runs while on and `CycleInterval` > 0.
  void SetCycleIcons(bool on);
  unsigned CycleInterval() const { return cycle_interval_; }
  void SetCycleInterval(unsigned milliseconds);
  bool Enabled() const { return enabled_; }
  /// When false, mouse actions on the icon raise nothing.
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  const std::string& Hint() const { return hint_; }
  /// The tooltip (GBK bytes); the area gets at most `kMaxTooltipBytes`, cut between characters.
  void SetHint(std::string hint);
  bool ShowHint() const { return show_hint_; }
  void SetShowHint(bool show);
  const TIcon& Icon() const { return icon_; }
  void SetIcon(TIcon icon);
  bool IconVisible() const { return icon_visible_; }
  void SetIconVisible(bool visible);
  int IconIndex() const { return icon_index_; }
  /// With a list: clamped to the last image, whose icon is then shown; without: 0.
  void SetIconIndex(int index);
  bool LeftPopup() const { return left_popup_; }
  /// The left button also pops up the menu, and a double click no longer runs its default item.
  void SetLeftPopup(bool on) { left_popup_ = on; }
  bool StartMinimized() const { return start_minimized_; }
  void SetStartMinimized(bool on) { start_minimized_ = on; }
  bool MinimizeToTray() const { return minimize_to_tray_; }
  void SetMinimizeToTray(bool on) { minimize_to_tray_ = on; }

  void ShowIcon();
  void HideIcon();
  /// Passes the current icon and tooltip to the area.
  void ModifyIcon();
  /// Shows the popup menu at the mouse position, if there is a menu that pops up by itself.
  void PopupAtCursor();

  // Reports from the back end.
  void HandleMouse(TrayMouseAction action);
  /// The notification area restarted: the icon is added again if it is visible.
  void HandleAreaRestarted();
  /// The notification area went away: a window hidden in it comes back minimised, with its
  /// taskbar entry, since nothing else could bring it back. A later minimise hides to the area
  /// again once the desktop has one.
  void HandleAreaGone();
  /// The application was minimised: with `MinimizeToTray`, hide it in the tray.
  void HandleApplicationMinimized();
  /// The main window was shown by the program: bring the application back from the tray.
  void HandleFormShown();

 private:
  std::string Tooltip() const;
  /// Hides the application in the area; false (and nothing hidden) where there is none.
  bool HideToArea();
  void StopWatchingArea();
  void CycleTick();
  void UpdateCycleTimer();

  NotificationArea& area_;
  TrayHost& host_;
  TrayMenu* menu_;
  MainThread* main_;

  std::optional<std::vector<TIcon>> icon_list_;
  bool cycle_icons_ = false;
  unsigned cycle_interval_ = 0;
  bool enabled_ = true;
  std::string hint_;
  bool show_hint_ = true;
  TIcon icon_;
  bool icon_visible_ = true;
  int icon_index_ = 0;
  bool left_popup_ = false;
  bool start_minimized_ = false;
  bool minimize_to_tray_ = false;

  bool click_pending_ = false;  // the left button went down on the icon
  bool warned_no_area_ = false;
  bool hidden_in_area_ = false;          // the area is watched while this is set
  MainThread::TimerId cycle_timer_ = 0;  // 0: not running
};

}  // namespace djkivo
