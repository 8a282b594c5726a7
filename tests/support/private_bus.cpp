#include "tests/support/private_bus.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace djkivo::test {

namespace {
// A dbus-daemon reports its address within milliseconds; this is for a loaded machine.
constexpr auto kStartLimit = std::chrono::seconds(10);
}  // namespace

PrivateBus::PrivateBus(const char* variable) {
  try {
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--session", "--print-address=3", "--nofork"});
  } catch (const std::runtime_error&) {
    return;  // not installed: the address stays empty and the tests say so
  }
  address_ = daemon_->ReadLine(kStartLimit).value_or(std::string());
  if (!address_.empty() && variable != nullptr)
    ::setenv(variable, address_.c_str(), 1);
}

}  // namespace djkivo::test
