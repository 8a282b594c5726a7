// Hears when the computer's network comes back, from NetworkManager on the system bus, so a
// stream waiting to reconnect tries at once instead of waiting out its back-off.
#pragma once

#include <functional>

#include <QDBusConnection>
#include <QObject>

namespace djkivo::app {

/// Calls `on_back` each time NetworkManager's state goes from anything short of full
/// connectivity to "connected" (`kConnectedGlobal`): after a Wi-Fi drop, a cable plugged in,
/// a resume from suspend. Without NetworkManager (or a system bus) it hears nothing and costs
/// nothing. GUI thread only.
class NetworkWatcher final : public QObject {
  Q_OBJECT

 public:
  /// NetworkManager's NM_STATE_CONNECTED_GLOBAL: the network reaches the internet.
  static constexpr unsigned kConnectedGlobal = 70;

  /// Watches NetworkManager on `system` (tests pass their own bus).
  explicit NetworkWatcher(std::function<void()> on_back,
                          QDBusConnection system = QDBusConnection::systemBus());

  /// Whether the state signal is subscribed to (a system bus was there).
  bool Watching() const { return watching_; }

 private Q_SLOTS:
  void StateChanged(uint state);

 private:
  std::function<void()> on_back_;
  bool watching_ = false;
  // Taken as connected at the start: the first news that counts is a loss.
  bool connected_ = true;
};

}  // namespace djkivo::app
