#include "tests/support/virtual_display.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <vector>

namespace djkivo::test {

namespace {
// Xvfb reports its display within a second; this is for a loaded machine.
constexpr auto kStartLimit = std::chrono::seconds(10);
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

}  // namespace djkivo::test
