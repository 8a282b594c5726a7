// The window's player on a private session bus with a notification server and a desktop portal
// played by the test: a song started while the window is out of sight is notified (name and
// uploader), one started in view is not, and suspending is held off exactly while a song plays.
#include "app/desktop_observer.h"

#include <QDBusMessage>
#include <QDBusObjectPath>

#include "app/song_list.h"
#include "base/gbk_text.h"
#include "tests/app/bus_stub.h"
#include "tests/app/window_fixture.h"

namespace djkivo::app {
namespace {

constexpr char kHandle[] = "/org/freedesktop/portal/desktop/request/1_1/djkivo";

class DesktopObserverTest : public OnPrivateBus<WindowTest> {
 protected:
  void SetUp() override {
    OnPrivateBus<WindowTest>::SetUp();
    notifications_ =
        std::make_unique<BusStub>(bus_->Address(), QStringLiteral("org.freedesktop.Notifications"),
                                  QStringLiteral("/org/freedesktop/Notifications"));
    notifications_->On(QStringLiteral("Notify"),
                       [](const QDBusMessage& call) { return call.createReply(7u); });
    portal_ =
        std::make_unique<BusStub>(bus_->Address(), QStringLiteral("org.freedesktop.portal.Desktop"),
                                  QStringLiteral("/org/freedesktop/portal/desktop"));
    portal_->On(QStringLiteral("Inhibit"), [](const QDBusMessage& call) {
      return call.createReply(QVariant::fromValue(QDBusObjectPath(kHandle)));
    });
    portal_->On(QStringLiteral("Close"),
                [](const QDBusMessage& call) { return call.createReply(); });
  }

  void TearDown() override {
    OnPrivateBus<WindowTest>::TearDown();
    notifications_.reset();
    portal_.reset();
  }

  std::size_t Count(BusStub& stub, const char* member) {
    return stub.Calls(QString::fromLatin1(member)).size();
  }

  std::unique_ptr<BusStub> notifications_;
  std::unique_ptr<BusStub> portal_;
};

TEST_F(DesktopObserverTest, SongsOutOfSightAreNotifiedAndSuspendWaitsWhilePlaying) {
  WritePlayList(PlayListOfDemoSongs(2));
  TForm1& form = MakeForm();
  form.hide();  // in the tray
  form.PlayButtonClick();
  ASSERT_TRUE(WaitFor([&] { return Count(*notifications_, "Notify") == 1; }));
  const QVariantList notified = notifications_->Calls(QStringLiteral("Notify"))[0].arguments();
  const demo::DemoSong& first = site_->Catalogue().Songs()[0];
  EXPECT_EQ(notified.value(3).toString(), ShownSongName(first.name));
  EXPECT_EQ(notified.value(4).toString(),
            QString::fromStdString(GbkToUtf8(first.uploader).value_or("")).toHtmlEscaped());
  ASSERT_TRUE(WaitFor([&] { return Count(*portal_, "Inhibit") == 1; }));
  EXPECT_EQ(portal_->Calls(QStringLiteral("Inhibit"))[0].arguments().value(1).toUInt(), 4u);

  form.PauseButtonClick();
  ASSERT_TRUE(WaitFor([&] { return Count(*portal_, "Close") == 1; }));

  // In view, the next song is not notified; it plays, so suspending waits again.
  form.N11Click();
  form.SkinButton2Click();
  ASSERT_TRUE(WaitFor([&] { return Count(*portal_, "Inhibit") == 2; }));
  ProcessEventsUntil([] { return false; }, 300ms);
  EXPECT_EQ(Count(*notifications_, "Notify"), 1u);
  form_.reset();  // exit while playing releases it
  EXPECT_TRUE(WaitFor([&] { return Count(*portal_, "Close") == 2; }));
}

}  // namespace
}  // namespace djkivo::app
