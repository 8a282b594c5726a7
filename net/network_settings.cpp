// The process's network settings. Covered by tests/net/proxy_test.cpp and, through the
// programs' options, tests/cli/fetch_command_test.cpp.
#include "net/network_settings.h"

#include <mutex>

namespace djkivo::net {

namespace {

std::mutex g_mutex;
TNetworkSettings g_settings;  // guarded by g_mutex

}  // namespace

void InstallNetworkSettings(const TNetworkSettings& settings) {
  std::lock_guard lock(g_mutex);
  g_settings = settings;
}

TNetworkSettings InstalledNetworkSettings() {
  std::lock_guard lock(g_mutex);
  return g_settings;
}

}  // namespace djkivo::net
