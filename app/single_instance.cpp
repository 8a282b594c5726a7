#include "app/single_instance.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>

namespace djkivo::app {

namespace {

// org.freedesktop.Application's object, named after the program as that interface wants.
constexpr char kObjectPath[] = "/org/example/djkivo";
constexpr char kApplicationInterface[] = "org.freedesktop.Application";
// What a start writes to a running player's socket.
constexpr char kActivateLine[] = "activate\n";
// A request line is short; a peer sending more than this is not a start of this program.
constexpr qint64 kMaxRequestLine = 64;

// FNV-1a: a stable, short fingerprint of a path for a bus name element.
std::uint64_t Fingerprint(const QByteArray& bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 1099511628211ull;
  }
  return hash;
}

// What a desktop hands a started program to let it take the focus, passed on to the player
// that is raised.
QVariantMap PlatformData() {
  QVariantMap data;
  if (qEnvironmentVariableIsSet("DESKTOP_STARTUP_ID"))
    data.insert(QStringLiteral("desktop-startup-id"), qEnvironmentVariable("DESKTOP_STARTUP_ID"));
  if (qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"))
    data.insert(QStringLiteral("activation-token"), qEnvironmentVariable("XDG_ACTIVATION_TOKEN"));
  return data;
}

}  // namespace

SingleInstance::SingleInstance(const std::string& play_list, bool new_instance, QDBusConnection bus,
                               QString runtime_folder)
    : bus_(std::move(bus)), runtime_folder_(std::move(runtime_folder)) {
  new SingleInstanceAdaptor(this);
  if (!new_instance)
    names_.push_back(QString::fromLatin1(kProgramName));
  names_.push_back(PlayListName(play_list));
}

SingleInstance::~SingleInstance() {
  ReleaseNames();
  if (object_registered_)
    bus_.unregisterObject(kObjectPath);
}

QString SingleInstance::PlayListName(const std::string& play_list) {
  const QString path =
      QDir::cleanPath(QFileInfo(QString::fromStdString(play_list)).absoluteFilePath());
  return QStringLiteral("%1.List_%2")
      .arg(QString::fromLatin1(kProgramName))
      .arg(Fingerprint(path.toUtf8()), 16, 16, QLatin1Char('0'));
}

SingleInstance::Claim SingleInstance::TryClaim() {
  return bus_.isConnected() ? ClaimOnBus() : ClaimOnSockets();
}

SingleInstance::Claim SingleInstance::ClaimOnBus() {
  object_registered_ = bus_.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors);
  QDBusConnectionInterface* names = bus_.interface();
  for (const QString& name : names_) {
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> taken =
        names->registerService(name, QDBusConnectionInterface::DontQueueService,
                               QDBusConnectionInterface::DontAllowReplacement);
    if (taken.isValid() && taken.value() == QDBusConnectionInterface::ServiceRegistered) {
      held_names_.push_back(name);
      continue;
    }
    if (!names->isServiceRegistered(name).value()) {
      // Refused although nobody holds it (a bus policy): run unguarded rather than not at all.
      std::fprintf(stderr, "djkivo: the session bus refused the name %s\n", qPrintable(name));
      continue;
    }
    ReleaseNames();
    QDBusMessage activate =
        QDBusMessage::createMethodCall(name, kObjectPath, kApplicationInterface, "Activate");
    activate << PlatformData();
    const QDBusMessage answer = bus_.call(activate, QDBus::BlockWithGui, kAnswerLimit);
    return answer.type() == QDBusMessage::ReplyMessage ? Claim::kRaisedRunning : Claim::kNoAnswer;
  }
  return Claim::kFirst;
}

QString SingleInstance::SocketPath(const QString& name) const {
  QString folder = runtime_folder_;
  if (folder.isEmpty())
    folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty()) {
    // No runtime folder (a bare session): a private one in the temporary folder.
    folder = QDir::tempPath() + QStringLiteral("/djkivo-%1").arg(::getuid());
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  // Another user's folder (made in the shared temporary folder first) could hold a socket that
  // keeps this player from starting: such a folder is not used.
  if (QFileInfo(folder).ownerId() != ::getuid())
    return QString();
  // One display session of the user: its display's name, made fit for a file name.
  QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
  if (display.isEmpty())
    display = qEnvironmentVariable("DISPLAY");
  display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
  return folder + QLatin1Char('/') + name + QLatin1Char('-') + display;
}

SingleInstance::Claim SingleInstance::ClaimOnSockets() {
  for (const QString& name : names_) {
    const QString path = SocketPath(name);
    if (path.isEmpty()) {
      std::fprintf(stderr, "djkivo: no private runtime folder; a second start is not stopped\n");
      return Claim::kFirst;
    }
    // Default socket options: with any other, Qt makes the socket elsewhere and renames it
    // into place, over a running player's socket. The runtime folder is the user's alone.
    auto server = std::make_unique<QLocalServer>();
    if (!server->listen(path)) {
      QLocalSocket running;
      running.connectToServer(path);
      if (running.waitForConnected(kAnswerLimit)) {
        ReleaseNames();
        running.write(kActivateLine);
        return running.waitForBytesWritten(kAnswerLimit) ? Claim::kRaisedRunning : Claim::kNoAnswer;
      }
      // Nobody answers there: a socket left by a player that ended without removing it.
      QLocalServer::removeServer(path);
      if (!server->listen(path)) {
        std::fprintf(stderr, "djkivo: cannot listen on %s: %s\n", qPrintable(path),
                     qPrintable(server->errorString()));
        continue;
      }
    }
    QLocalServer* listening = server.get();
    connect(listening, &QLocalServer::newConnection, this, [this, listening] {
      while (QLocalSocket* start = listening->nextPendingConnection()) {
        connect(start, &QLocalSocket::disconnected, start, &QObject::deleteLater);
        connect(start, &QLocalSocket::readyRead, this, [this, start] {
          if (!start->canReadLine() && start->bytesAvailable() < kMaxRequestLine)
            return;
          const QByteArray line = start->readLine(kMaxRequestLine);
          start->disconnectFromServer();
          if (line == kActivateLine)
            Activate({});
        });
      }
    });
    servers_.push_back(std::move(server));
  }
  return Claim::kFirst;
}

void SingleInstance::ReleaseNames() {
  for (const QString& name : held_names_)
    bus_.interface()->unregisterService(name);
  held_names_.clear();
  servers_.clear();  // a listening QLocalServer removes its socket when it closes
}

void SingleInstance::Activate(const QVariantMap&) {
  if (on_raise)
    on_raise();
}

SingleInstanceAdaptor::SingleInstanceAdaptor(SingleInstance* guard)
    : QDBusAbstractAdaptor(guard), guard_(guard) {}

void SingleInstanceAdaptor::Activate(const QVariantMap& platform_data) {
  guard_->Activate(platform_data);
}

// The player opens no files or addresses given to it and has no named actions: both show it.
void SingleInstanceAdaptor::Open(const QStringList&, const QVariantMap& platform_data) {
  guard_->Activate(platform_data);
}

void SingleInstanceAdaptor::ActivateAction(const QString&, const QVariantList&,
                                           const QVariantMap& platform_data) {
  guard_->Activate(platform_data);
}

}  // namespace djkivo::app
