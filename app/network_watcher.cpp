// Covered by tests/app/network_watcher_test.cpp.
#include "app/network_watcher.h"

#include <utility>

namespace djkivo::app {

namespace {

const char kService[] = "org.freedesktop.NetworkManager";
const char kPath[] = "/org/freedesktop/NetworkManager";
const char kInterface[] = "org.freedesktop.NetworkManager";

}  // namespace

NetworkWatcher::NetworkWatcher(std::function<void()> on_back, QDBusConnection system)
    : on_back_(std::move(on_back)) {
  if (system.isConnected())
    watching_ = system.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                               QString::fromLatin1(kInterface), QStringLiteral("StateChanged"),
                               this, SLOT(StateChanged(uint)));
}

void NetworkWatcher::StateChanged(uint state) {
  const bool connected = state == kConnectedGlobal;
  const bool back = connected && !connected_;
  connected_ = connected;
  if (back && on_back_)
    on_back_();
}

}  // namespace djkivo::app
