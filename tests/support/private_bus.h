// A message bus of the test's own: a dbus-daemon with the session bus's rules, for tests that
// play a desktop's bus services (a notification server, a portal, a tray host) without
// reaching the machine's own.
#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace djkivo::test {

/// Starts `dbus-daemon --session` and, when `variable` is given, puts its address into that
/// environment variable ("DBUS_SESSION_BUS_ADDRESS", or "DBUS_SYSTEM_BUS_ADDRESS" for a bus
/// that stands in for the system bus). Start it before anything opens its connection to that
/// bus (Qt's application connects on first use and keeps the address it read). The daemon ends
/// with this object, and with the test program if that dies first. Not copyable.
class PrivateBus {
 public:
  explicit PrivateBus(const char* variable = "DBUS_SESSION_BUS_ADDRESS");
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  /// The bus's address; empty when dbus-daemon is not installed or did not start.
  const std::string& Address() const { return address_; }

 private:
  std::unique_ptr<ChildProcess> daemon_;
  std::string address_;
};

}  // namespace djkivo::test
