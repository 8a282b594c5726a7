// Tells the user what plays with a desktop notification (org.freedesktop.Notifications on the
// session bus): one notification that each new song replaces, so they never pile up.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace djkivo::app {

/// The notifier. Calls to the notification server are asynchronous: nothing here waits on
/// it, and a desktop without one costs one failed call per song. GUI thread only.
class SongNotifier final : public QObject {
 public:
  /// Notifications through `bus` (tests pass their own).
  explicit SongNotifier(QDBusConnection bus = QDBusConnection::sessionBus());

  /// Turns the notifications on or off (the user's setting); on at first.
  void SetEnabled(bool on) { enabled_ = on; }
  bool Enabled() const { return enabled_; }

  /// Shows `song` (the summary) and `uploader` (the body), in place of the notification shown
  /// last. A song shown while the server has not yet answered for the previous one waits for
  /// that answer, so it replaces it rather than adding a second one.
  void Show(const QString& song, const QString& uploader);

  /// The server's id of the notification shown last; 0 before its first answer.
  uint NotificationId() const { return id_; }

 private:
  void Send(const QString& song, const QString& uploader);

  QDBusConnection bus_;
  bool enabled_ = true;
  uint id_ = 0;           // what the next notification replaces
  bool waiting_ = false;  // a Notify call has not been answered yet
  bool queued_ = false;   // a song to show once it is
  bool told_ = false;     // the user was told the server is missing
  QString queued_song_;
  QString queued_uploader_;
};

}  // namespace djkivo::app
