#include "app/song_notifier.h"

#include <cstdio>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include "app/single_instance.h"

namespace djkivo::app {

namespace {
constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
// The server's default time on screen.
constexpr int kDefaultTimeout = -1;
}  // namespace

SongNotifier::SongNotifier(QDBusConnection bus) : bus_(std::move(bus)) {}

void SongNotifier::Show(const QString& song, const QString& uploader) {
  if (!enabled_ || !bus_.isConnected())
    return;
  if (waiting_) {
    queued_ = true;
    queued_song_ = song;
    queued_uploader_ = uploader;
    return;
  }
  Send(song, uploader);
}

void SongNotifier::Send(const QString& song, const QString& uploader) {
  QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kService, "Notify");
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kProgramName));
  hints.insert(QStringLiteral("category"), QStringLiteral("x-djkivo.song"));
  // The music is the sound: a notification sound would play over it.
  hints.insert(QStringLiteral("suppress-sound"), true);
  // The body may be read as markup by the server; the summary is plain text.
  notify << QStringLiteral("DJKivo云播放") << id_ << QStringLiteral("djkivo") << song
         << uploader.toHtmlEscaped() << QStringList() << hints << kDefaultTimeout;
  waiting_ = true;
  auto* answer = new QDBusPendingCallWatcher(bus_.asyncCall(notify), this);
  connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    waiting_ = false;
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isValid()) {
      id_ = reply.value();
    } else if (!told_) {  // once, not once per song
      told_ = true;
      std::fprintf(stderr, "djkivo: no desktop notifications: %s\n",
                   qPrintable(reply.error().message()));
    }
    if (queued_) {
      queued_ = false;
      Send(queued_song_, queued_uploader_);
    }
  });
}

}  // namespace djkivo::app
