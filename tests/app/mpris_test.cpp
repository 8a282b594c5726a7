// The player on a private session bus: a second connection drives it as a desktop panel does
// and reads back its playback status, title and volume.
#include <memory>
#include <string>
#include <vector>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QProcess>
#include <QRegularExpression>
#include <QSlider>
#include <QToolButton>

#include "app/gbk_qstring.h"
#include "app/mpris.h"
#include "tests/app/bus_stub.h"
#include "tests/app/window_fixture.h"

namespace djkivo::app {
namespace {

const QString kService = QStringLiteral("org.mpris.MediaPlayer2.djkivo");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

class MprisTest : public OnPrivateBus<WindowTest> {
 protected:
  /// A panel's own connection to the bus, apart from the player's.
  QDBusConnection Client() {
    return QDBusConnection::connectToBus(QString::fromStdString(bus_->Address()),
                                         QStringLiteral("panel"));
  }

  /// Calls the player and waits for its answer, running the window's events meanwhile.
  QDBusMessage Call(const QString& interface, const QString& method,
                    const QVariantList& args = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    message.setArguments(args);
    QDBusPendingCall call = Client().asyncCall(message, 30000);
    EXPECT_TRUE(WaitFor([&] { return call.isFinished(); }));
    return call.reply();
  }

  QVariant Property(const QString& name) {
    QDBusMessage reply = Call(kProperties, QStringLiteral("Get"), {kPlayer, name});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    return reply.arguments().value(0).value<QDBusVariant>().variant();
  }
};

TEST_F(MprisTest, PanelControlsThePlayerAndReadsItsState) {
  WritePlayList(PlayListOfDemoSongs(3));
  TForm1& form = MakeForm();
  ASSERT_TRUE(form.Mpris1 != nullptr);
  EXPECT_TRUE(Client().interface()->isServiceRegistered(kService).value());
  EXPECT_EQ(Property(QStringLiteral("PlaybackStatus")).toString().toStdString(), "Stopped");
  const QVariantMap nothing = qdbus_cast<QVariantMap>(Property(QStringLiteral("Metadata")));
  EXPECT_EQ(qdbus_cast<QDBusObjectPath>(nothing.value(QStringLiteral("mpris:trackid"))).path(),
            QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
  EXPECT_FALSE(nothing.contains(QStringLiteral("xesam:title")));

  Call(kPlayer, QStringLiteral("PlayPause"));
  ASSERT_TRUE(WaitFor([&] { return form.SoundOut1->Status() == kPlaying; }));
  EXPECT_EQ(form.CurrentIndex(), 0);
  EXPECT_EQ(Property(QStringLiteral("PlaybackStatus")).toString().toStdString(), "Playing");
  const QVariantMap metadata = qdbus_cast<QVariantMap>(Property(QStringLiteral("Metadata")));
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:title")).toString(),
            FromGbkText(site_->Catalogue().Songs()[0].name));
  // The uploader, as the song's notification names it.
  EXPECT_EQ(metadata.value(QStringLiteral("xesam:artist")).toStringList(),
            QStringList{FromGbkText(site_->Catalogue().Songs()[0].uploader)});

  Call(kPlayer, QStringLiteral("Next"));
  ASSERT_TRUE(
      WaitFor([&] { return form.CurrentIndex() == 1 && form.SoundOut1->Status() == kPlaying; }));

  Call(kPlayer, QStringLiteral("PlayPause"));
  ASSERT_TRUE(WaitFor([&] { return form.SoundOut1->Status() == kPaused; }));
  EXPECT_EQ(Property(QStringLiteral("PlaybackStatus")).toString().toStdString(), "Paused");
  Call(kPlayer, QStringLiteral("Pause"));  // already paused: stays so, with no error
  EXPECT_EQ(form.SoundOut1->Status(), kPaused);
  Call(kPlayer, QStringLiteral("Play"));
  ASSERT_TRUE(WaitFor([&] { return form.SoundOut1->Status() == kPlaying; }));
  Call(kPlayer, QStringLiteral("Previous"));
  ASSERT_TRUE(WaitFor([&] { return form.CurrentIndex() == 0; }));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(MprisTest, PanelHearsOfEveryChange) {
  // dbus-monitor stands in for a panel listening for the player's changes.
  QProcess monitor;
  monitor.setProcessChannelMode(QProcess::MergedChannels);
  monitor.start(
      QStringLiteral("dbus-monitor"),
      {QStringLiteral("--address"), QString::fromStdString(bus_->Address()),
       QStringLiteral("type='signal',member='PropertiesChanged',path='/org/mpris/MediaPlayer2'")});
  ASSERT_TRUE(monitor.waitForStarted(10000));
  QByteArray heard;
  auto hears = [&](const QString& pattern) {
    const QRegularExpression expression(pattern);
    return WaitFor([&] {
      heard += monitor.readAll();
      return expression.match(QString::fromUtf8(heard)).hasMatch();
    });
  };
  ASSERT_TRUE(hears(QStringLiteral("NameAcquired")))
      << heard.toStdString();  // the monitor is listening

  WritePlayList(PlayListOfDemoSongs(1));
  TForm1& form = MakeForm();
  ASSERT_TRUE(form.Mpris1 != nullptr);
  form.PlayButton->click();
  EXPECT_TRUE(hears(QStringLiteral(R"(string "PlaybackStatus"\s+variant\s+string "Playing")")))
      << heard.toStdString();
  const QString title = FromGbkText(site_->Catalogue().Songs()[0].name);
  EXPECT_TRUE(hears(QStringLiteral(R"(string "xesam:title"\s+variant\s+string ")") +
                    QRegularExpression::escape(title) + QStringLiteral("\"")))
      << heard.toStdString();
  form.VolumeBar->setValue(-2000);
  EXPECT_TRUE(hears(QStringLiteral(R"(string "Volume"\s+variant\s+double 0\.5)")))
      << heard.toStdString();
  monitor.kill();
  monitor.waitForFinished(10000);
}

TEST_F(MprisTest, VolumeFollowsTheVolumeBarBothWays) {
  TForm1& form = MakeForm();
  ASSERT_TRUE(form.Mpris1 != nullptr);
  EXPECT_DOUBLE_EQ(Property(QStringLiteral("Volume")).toDouble(), 1.0);
  form.VolumeBar->setValue(-1000);
  EXPECT_DOUBLE_EQ(Property(QStringLiteral("Volume")).toDouble(), 0.75);

  const struct {
    double volume;
    int bar;
  } cases[] = {{0.5, -2000}, {0.0, -4000}, {1.0, 0}, {1.5, 0}, {-0.5, -4000}};
  for (const auto& c : cases) {
    QDBusMessage reply =
        Call(kProperties, QStringLiteral("Set"),
             {kPlayer, QStringLiteral("Volume"), QVariant::fromValue(QDBusVariant(c.volume))});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(form.VolumeBar->value(), c.bar) << c.volume;
  }
}

TEST_F(MprisTest, WhenTheNameIsTakenThePlayerTakesItsInstanceNameAndGivesItBack) {
  ASSERT_TRUE(Client().registerService(kService));  // another player holds the name
  TForm1& form = MakeForm();
  ASSERT_TRUE(form.Mpris1 != nullptr);
  const QString own = kService + QStringLiteral(".instance%1").arg(getpid());
  EXPECT_EQ(form.Mpris1->ServiceName(), own);
  EXPECT_TRUE(Client().interface()->isServiceRegistered(own).value());
  form_.reset();
  EXPECT_FALSE(Client().interface()->isServiceRegistered(own).value());
  EXPECT_TRUE(Client().unregisterService(kService));
}

}  // namespace
}  // namespace djkivo::app
