// An X server of the test's own (Xvfb), for tests of the window on Qt's X11 platform.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace djkivo::test {

/// Starts Xvfb on a display number it picks itself (1024x768, 24 bits), puts that display into
/// DISPLAY and Qt's X11 platform into QT_QPA_PLATFORM. Start it while the program has one
/// thread, before Qt connects to a display.
/// The server never resets when its last client leaves (the X tools a test runs come and go)
/// and ends with this object, or with the test program. Not copyable.
class VirtualDisplay {
 public:
  VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  /// ":N"; empty when Xvfb is not installed or reported no display.
  const std::string& Display() const { return display_; }

  /// Starts a window manager (openbox) on the display and waits up to `limit` until it manages
  /// windows, so that requests such as minimising are carried out as on a desktop. It reads the
  /// settings of XDG_CONFIG_HOME, as Qt does. Empty when it is ready, else why it is not. Start
  /// it before Qt starts its threads; it ends with this object.
  std::string StartWindowManager(std::chrono::milliseconds limit);

 private:
  std::unique_ptr<ChildProcess> xvfb_;
  std::unique_ptr<ChildProcess> window_manager_;  // ends before the server
  std::string display_;
};

}  // namespace djkivo::test
