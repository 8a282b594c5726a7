#include "tests/support/virtual_display.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <vector>

#include "tests/support/poll.h"
#include "tests/support/run_process.h"

namespace djkivo::test {

namespace {
// Xvfb reports its display within a second; this is for a loaded machine.
constexpr auto kStartLimit = std::chrono::seconds(10);
constexpr auto kToolLimit = std::chrono::seconds(10);
// The root window property the window manager's startup command sets.
constexpr char kWmReady[] = "_DJKIVO_TEST_WM_READY";
}  // namespace

VirtualDisplay::VirtualDisplay() {
  try {
    // Xvfb reports the display number it took on descriptor 3.
    xvfb_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0", "1024x768x24"});
  } catch (const std::runtime_error&) {
    return;
  }
  const std::optional<std::string> number = xvfb_->ReadLine(kStartLimit);
  if (!number || number->empty())
    return;
  display_ = ":" + *number;
  ::setenv("DISPLAY", display_.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
}

std::string VirtualDisplay::StartWindowManager(std::chrono::milliseconds limit) {
  if (display_.empty())
    return "no display";
  // Openbox claims the display well before it is ready to manage windows (it loads fonts and
  // themes first, slow on a loaded machine); it runs its startup command once it is.
  try {
    window_manager_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "openbox", "--sm-disable", "--startup",
        std::string("xprop -root -f ") + kWmReady + " 32c -set " + kWmReady + " 1"});
  } catch (const std::runtime_error&) {
    return "openbox could not be started";
  }
  const std::string xprop = FindProgram("xprop").value_or("xprop");
  const bool ready = PollUntil(
      [&] {
        return RunProcess({xprop, "-root", kWmReady}, kToolLimit).out.find("= 1") !=
               std::string::npos;
      },
      limit, std::chrono::milliseconds(20));
  if (ready)
    return {};
  return window_manager_->Running() ? "openbox did not get ready to manage the display"
                                    : "openbox ended at start";
}

}  // namespace djkivo::test
