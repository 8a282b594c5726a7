// What the tray icon logic needs from the desktop: an icon with a tooltip in the notification
// area, the mouse on it, a popup menu, and the application's window to hide and restore.
// The Qt back end (app/) implements these on QSystemTrayIcon and the main window; tests use fakes.
//
// Every method is called on the main thread, and every report into TTrayIcon is made there.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace djkivo {

/// An icon image as the back end knows it; the logic only passes references around.
class TrayImage {
 public:
  virtual ~TrayImage() = default;
};
using TIcon = std::shared_ptr<const TrayImage>;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

/// Keyboard and mouse-button state of a mouse event, as bit flags.
enum TShiftFlag : unsigned {
  ssShift = 1u << 0,
  ssAlt = 1u << 1,
  ssCtrl = 1u << 2,
  ssLeft = 1u << 3,
  ssRight = 1u << 4,
  ssMiddle = 1u << 5,
};
using TShiftState = unsigned;

/// The mouse actions the area reports for the icon.
enum class TrayMouseAction {
  Move,
  LeftDown,
  LeftUp,
  LeftDoubleClick,
  RightDown,
  RightUp,
  MiddleDown,
  MiddleUp
};

struct ScreenPoint {
  int x = 0;
  int y = 0;
};

/// The desktop's notification area. Results say whether the desktop took the change; the
/// logic does not act on them (a change before the icon was added simply fails).
class NotificationArea {
 public:
  virtual ~NotificationArea() = default;
  /// Mandatory. Adds the icon with its tooltip (GBK bytes, at most 127 of them; empty: none).
  virtual bool Add(const TIcon& icon, const std::string& tooltip) = 0;
  /// Mandatory. Changes the icon and tooltip of an added icon.
  virtual bool Modify(const TIcon& icon, const std::string& tooltip) = 0;
  /// Mandatory. Removes the icon.
  virtual bool Delete() = 0;
  /// False where the desktop has no notification area: hiding to it would lose the window.
  virtual bool IsAvailable() const = 0;
  /// While on, the back end reports the area going away (no longer `IsAvailable`) to the tray
  /// icon's `HandleAreaGone`. The tray icon turns it on only while the window is hidden in the
  /// area, so a back end that has to poll for it polls only then.
  virtual void WatchAvailability(bool on) = 0;
  /// The mouse position in screen coordinates, if it can be read.
  virtual std::optional<ScreenPoint> CursorPos() const = 0;
  /// Which of Shift, Ctrl and Alt are held now (ssShift, ssCtrl, ssAlt).
  virtual TShiftState KeyboardState() const = 0;
};

/// The tray icon's popup menu.
class TrayMenu {
 public:
  virtual ~TrayMenu() = default;
  /// Whether the menu pops up by itself on a click (the menu's automatic popup).
  virtual bool AutoPopup() const = 0;
  /// Shows the menu at a screen position.
  virtual void Popup(ScreenPoint at) = 0;
  /// Runs the first item (in menu order) marked as default; false when there is none.
  virtual bool ClickDefaultItem() = 0;
};

/// The application and its main window, as far as hiding to the tray concerns them.
class TrayHost {
 public:
  virtual ~TrayHost() = default;
  virtual bool HasMainForm() const = 0;
  /// Makes the main window invisible.
  virtual void HideMainForm() = 0;
  /// Removes the program's taskbar entry.
  virtual void HideApplication() = 0;
  /// Brings the taskbar entry back, restored from minimised, and the window to the front.
  virtual void RestoreApplication() = 0;
  /// Shows the main window minimised: back in the taskbar, without taking the focus.
  virtual void ShowMinimized() = 0;
  /// Lets the window system process what is pending before a menu pops up.
  virtual void ProcessMessages() = 0;
};

}  // namespace djkivo
