#include "app/mpris.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

namespace djkivo::app {

namespace {
constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";
constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
// The one track has no track list; MPRIS wants an object path for it all the same.
constexpr char kTrackPath[] = "/org/djkivo/track/current";
// The protocol's path for "no current track".
constexpr char kNoTrackPath[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
}  // namespace

MprisService::MprisService(MprisPlayer player, QObject* parent)
    : QObject(parent), player_(std::move(player)) {
  new MprisRootAdaptor(this);
  new MprisPlayerAdaptor(this);
  poll_.setInterval(kPollInterval);
  QObject::connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
}

MprisService::~MprisService() {
  if (registered_) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kObjectPath);
    bus.unregisterService(service_name_);
  }
}

bool MprisService::Start() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected())
    return false;
  if (!bus.registerObject(kObjectPath, this))
    return false;
  // A second running player takes the per-instance name the protocol provides for it.
  service_name_ = QString::fromLatin1(kServiceName);
  if (!bus.registerService(service_name_)) {
    service_name_ += QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
    if (!bus.registerService(service_name_)) {
      bus.unregisterObject(kObjectPath);
      return false;
    }
  }
  registered_ = true;
  last_status_ = player_.playback_status();
  last_title_ = player_.title();
  last_volume_ = player_.volume();
  poll_.start();
  return true;
}

QVariantMap MprisService::Metadata() const {
  QVariantMap metadata;
  const QString title = player_.title();
  metadata.insert(
      "mpris:trackid",
      QVariant::fromValue(QDBusObjectPath(title.isEmpty() ? kNoTrackPath : kTrackPath)));
  if (!title.isEmpty())
    metadata.insert("xesam:title", title);
  const QString artist = player_.artist ? player_.artist() : QString();
  if (!artist.isEmpty())
    metadata.insert("xesam:artist", QStringList{artist});
  return metadata;
}

void MprisService::Poll() {
  QVariantMap changed;
  QString status = player_.playback_status();
  if (status != last_status_)
    changed.insert("PlaybackStatus", last_status_ = status);
  QString title = player_.title();
  if (title != last_title_) {
    last_title_ = title;
    changed.insert("Metadata", Metadata());
  }
  double volume = player_.volume();
  if (volume != last_volume_)
    changed.insert("Volume", last_volume_ = volume);
  if (changed.isEmpty())
    return;
  QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, "org.freedesktop.DBus.Properties",
                                                   "PropertiesChanged");
  signal << QString(kPlayerInterface) << changed << QStringList();
  QDBusConnection::sessionBus().send(signal);
}

MprisRootAdaptor::MprisRootAdaptor(MprisService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

QString MprisRootAdaptor::Identity() const { return QStringLiteral("DJKivo云播放"); }
void MprisRootAdaptor::Raise() { service_->player().raise(); }
void MprisRootAdaptor::Quit() { service_->player().quit(); }

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

QString MprisPlayerAdaptor::PlaybackStatus() const { return service_->player().playback_status(); }
QVariantMap MprisPlayerAdaptor::Metadata() const { return service_->Metadata(); }
double MprisPlayerAdaptor::Volume() const { return service_->player().volume(); }
void MprisPlayerAdaptor::SetVolume(double volume) { service_->player().set_volume(volume); }
void MprisPlayerAdaptor::Next() { service_->player().next(); }
void MprisPlayerAdaptor::Previous() { service_->player().previous(); }
void MprisPlayerAdaptor::Pause() { service_->player().pause(); }
void MprisPlayerAdaptor::PlayPause() { service_->player().play_pause(); }
// Stopping is pausing here: the window has no stop control, and a stopped stream cannot resume.
void MprisPlayerAdaptor::Stop() { service_->player().pause(); }
void MprisPlayerAdaptor::Play() { service_->player().play(); }
void MprisPlayerAdaptor::Seek(qlonglong) {}
void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath&, qlonglong) {}
void MprisPlayerAdaptor::OpenUri(const QString&) {}

}  // namespace djkivo::app
