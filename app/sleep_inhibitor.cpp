#include "app/sleep_inhibitor.h"

#include <cstdio>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace djkivo::app {

namespace {

constexpr char kPortalService[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kPortalInhibit[] = "org.freedesktop.portal.Inhibit";
constexpr char kPortalRequest[] = "org.freedesktop.portal.Request";
// The portal's flag for suspending; logout (1), user switch (2) and idle (8) are left alone.
constexpr uint kPortalSuspend = 4;

constexpr char kLogindService[] = "org.freedesktop.login1";
constexpr char kLogindPath[] = "/org/freedesktop/login1";
constexpr char kLogindManager[] = "org.freedesktop.login1.Manager";

const QString kWho = QStringLiteral("DJKivo云播放");
const QString kWhy = QStringLiteral("Playing music");

}  // namespace

SleepInhibitor::SleepInhibitor(QDBusConnection session, QDBusConnection system)
    : session_(std::move(session)), system_(std::move(system)) {}

SleepInhibitor::~SleepInhibitor() {
  wanted_ = false;
  Release();
}

void SleepInhibitor::SetPlaying(bool playing) {
  if (playing == wanted_)
    return;
  wanted_ = playing;
  if (requesting_)
    return;  // the answer decides
  if (playing)
    Request();
  else
    Release();
}

void SleepInhibitor::Request() {
  if (!session_.isConnected()) {
    RequestFromLogind();
    return;
  }
  QDBusMessage inhibit =
      QDBusMessage::createMethodCall(kPortalService, kPortalPath, kPortalInhibit, "Inhibit");
  QVariantMap options;
  options.insert(QStringLiteral("reason"), kWhy);
  // No parent window: the request is the player's, not one window's.
  inhibit << QString() << kPortalSuspend << options;
  requesting_ = true;
  auto* answer = new QDBusPendingCallWatcher(session_.asyncCall(inhibit), this);
  connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusPendingReply<QDBusObjectPath> reply = *call;
    if (!reply.isValid()) {
      RequestFromLogind();  // no portal on this desktop
      return;
    }
    requesting_ = false;
    holder_ = Holder::kPortal;
    portal_request_ = reply.value();
    if (!wanted_)
      Release();
  });
}

void SleepInhibitor::RequestFromLogind() {
  if (!system_.isConnected()) {
    requesting_ = false;
    return;
  }
  QDBusMessage inhibit =
      QDBusMessage::createMethodCall(kLogindService, kLogindPath, kLogindManager, "Inhibit");
  inhibit << QStringLiteral("sleep") << kWho << kWhy << QStringLiteral("block");
  requesting_ = true;
  auto* answer = new QDBusPendingCallWatcher(system_.asyncCall(inhibit), this);
  connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    requesting_ = false;
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    if (!reply.isValid()) {
      if (!told_) {
        told_ = true;
        std::fprintf(stderr, "djkivo: cannot keep the computer awake while playing: %s\n",
                     qPrintable(reply.error().message()));
      }
      return;
    }
    holder_ = Holder::kLogind;
    logind_fd_ = reply.value();
    if (!wanted_)
      Release();
  });
}

void SleepInhibitor::Release() {
  switch (holder_) {
    case Holder::kPortal:
      session_.send(QDBusMessage::createMethodCall(kPortalService, portal_request_.path(),
                                                   kPortalRequest, "Close"));
      portal_request_ = QDBusObjectPath();
      break;
    case Holder::kLogind:
      logind_fd_ = QDBusUnixFileDescriptor();  // logind lets go when its descriptor closes
      break;
    case Holder::kNone:
      break;
  }
  holder_ = Holder::kNone;
}

}  // namespace djkivo::app
