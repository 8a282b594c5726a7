// Keeps the computer awake while a song plays: asks the desktop not to suspend, through the
// XDG desktop portal's Inhibit (session bus) or, where there is no portal, logind's Inhibit
// (system bus), and releases that when playback pauses, stops or ends and at exit. Only
// suspending is held off: the screen may still blank and lock when idle.
#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

namespace djkivo::app {

/// The inhibitor. Its bus calls are asynchronous, so a slow or missing service never holds up
/// the window; a release asked for while a request is under way takes effect when it is
/// answered. GUI thread only.
class SleepInhibitor final : public QObject {
 public:
  /// Which service holds the inhibition now.
  enum class Holder { kNone, kPortal, kLogind };

  /// The portal on `session`, logind on `system` (tests pass their own buses).
  explicit SleepInhibitor(QDBusConnection session = QDBusConnection::sessionBus(),
                          QDBusConnection system = QDBusConnection::systemBus());
  /// Releases a held inhibition.
  ~SleepInhibitor() override;

  /// Holds the inhibition while `playing`, releases it otherwise. Repeating a state does
  /// nothing.
  void SetPlaying(bool playing);

  Holder Held() const { return holder_; }
  /// Whether a request is waiting for its answer.
  bool Requesting() const { return requesting_; }

 private:
  void Request();
  void RequestFromLogind();
  void Release();

  QDBusConnection session_;
  QDBusConnection system_;
  bool wanted_ = false;      // the player plays
  bool requesting_ = false;  // a request is under way
  Holder holder_ = Holder::kNone;
  QDBusObjectPath portal_request_;     // the portal's handle, closed to release
  QDBusUnixFileDescriptor logind_fd_;  // logind's lock, closed to release
  bool told_ = false;                  // the user was told nothing can hold off suspending
};

}  // namespace djkivo::app
