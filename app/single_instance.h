// One running player per user and desktop session: a second start raises the window of the
// first and ends, so two players never rewrite the same play list.
//
// Each running player holds names on the session bus: the program's own name
// (`kProgramName`), unless it was started with --new-instance, and one name per play list
// file (`PlayListName`). A start that finds a name held asks its holder to show itself, through
// the org.freedesktop.Application interface's Activate, and ends. Without a session bus the
// names are local sockets in the user's runtime folder, one per display, and the request is one
// line written to the socket.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QLocalServer;

namespace djkivo::app {

/// The program's application id: its bus name, desktop entry and metainfo are named after it.
inline constexpr char kProgramName[] = "org.example.djkivo";

/// The guard. GUI thread only; lives as long as the player runs (its names go with it).
class SingleInstance final : public QObject {
  Q_OBJECT

 public:
  /// What `Claim` found.
  enum class Claim {
    kFirst,          // no other player in the way: this one goes on starting
    kRaisedRunning,  // a running player was asked to show itself: this start ends (status 0)
    kNoAnswer,       // a running player holds a name but did not answer: this start ends
  };

  /// How long a start waits for the running player to answer.
  static constexpr int kAnswerLimit = 5000;  // ms

  /// A guard for a player keeping `play_list` (its full path). With `new_instance`, only
  /// another player on the same play list is in the way. `bus` is the session bus (tests pass
  /// their own); a bus that is not connected means local sockets in `runtime_folder` (the
  /// user's runtime folder when empty).
  SingleInstance(const std::string& play_list, bool new_instance,
                 QDBusConnection bus = QDBusConnection::sessionBus(),
                 QString runtime_folder = QString());
  ~SingleInstance() override;

  /// Takes this player's names, or asks the player holding one to show itself. Waits at most
  /// `kAnswerLimit` for its answer, running the event loop meanwhile. Call once, before the
  /// window exists.
  Claim TryClaim();

  /// Called on the GUI thread when a later start asks this player to show itself.
  std::function<void()> on_raise;

  /// The bus name of the player keeping `play_list`.
  static QString PlayListName(const std::string& play_list);

  /// Whether the names are on the session bus (else on local sockets). Valid after `TryClaim`.
  bool OnBus() const { return bus_.isConnected(); }

  /// org.freedesktop.Application's Activate, from the bus or a socket: shows the player.
  void Activate(const QVariantMap& platform_data);

 private:
  Claim ClaimOnBus();
  Claim ClaimOnSockets();
  // The socket path standing for `name` in this user's display session; empty when the
  // runtime folder is not the user's own.
  QString SocketPath(const QString& name) const;
  void ReleaseNames();

  QDBusConnection bus_;
  QString runtime_folder_;
  std::vector<QString> names_;       // the names to hold, the program's own first
  std::vector<QString> held_names_;  // those taken on the bus
  std::vector<std::unique_ptr<QLocalServer>> servers_;  // those taken as sockets
  bool object_registered_ = false;
};

/// org.freedesktop.Application on the guard's object, so a second start (and a desktop that
/// activates applications by bus) reaches it.
class SingleInstanceAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

 public:
  explicit SingleInstanceAdaptor(SingleInstance* guard);

 public Q_SLOTS:
  void Activate(const QVariantMap& platform_data);
  void Open(const QStringList& uris, const QVariantMap& platform_data);
  void ActivateAction(const QString& action, const QVariantList& parameter,
                      const QVariantMap& platform_data);

 private:
  SingleInstance* guard_;
};

}  // namespace djkivo::app
