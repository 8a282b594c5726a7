// The window's desktop side on a real window: the once-per-run version check against a home
// site of its own, and hiding to the tray and coming back.
#include <QAction>
#include <QDesktopServices>
#include <QMenu>
#include <QMetaObject>
#include <QTextBrowser>
#include <QTimer>

#include <gmock/gmock.h>

#include "app/tray_area.h"
#include "base/gbk_text.h"
#include "desktop/tray_icon.h"
#include "desktop/worker_thread.h"
#include "tests/app/window_fixture.h"

namespace djkivo::app {
namespace {

const std::string kNotice =
    "发现新版本！请注意及时更新！！！\n最嗨，最全，最好听的DJ音乐！尽在DJKivo云播放!\n"
    "DJKivo云播放 1，自由软件，仅供学习与交流。";

class DesktopTest : public WindowTest {
 protected:
  /// The window with `home_host` as its home site, its version check due at once rather than
  /// a second after start-up.
  TForm1& MakeFormWithHome(const std::string& home_host) {
    TForm1Config config;
    config.catalogue_host = site_->HostPort();
    config.home_host = home_host;
    config.my_list_file_name = PlayListPath();
    config.device = "null";
    config.error_box = [this](const QString& message) { errors_.push_back(message.toStdString()); };
    config.info_box = [this](const QString& message) { infos_.push_back(message.toStdString()); };
    form_ = std::make_unique<TForm1>(std::move(config));
    form_->show();
    EXPECT_TRUE(form_->Timer2->isActive());
    EXPECT_EQ(form_->Timer2->interval(), 1000);
    EXPECT_FALSE(form_->Timer3->isActive());
    form_->Timer2->start(1);
    return *form_;
  }

  /// Runs every call queued on the window's thread so far, and those they queue at once.
  void Settle() {
    bool done = false;
    QMetaObject::invokeMethod(
        form_.get(), [&] { done = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(WaitFor([&] { return done; }));
  }
};

struct VersionCase {
  const char* body;
  bool notice;
};

TEST_F(DesktopTest, VersionCheckShowsTheNoticeOnceForANewerReleaseOnly) {
  const VersionCase cases[] = {
      {"2", true},  {"$10", true}, {"2\n", false}, {"1", false},
      {"0", false}, {"-1", false}, {"", false},    {"2 ", false},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.body)));
    demo::DemoSiteOptions options;
    options.version_body = c.body;
    options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
    demo::DemoSite home(options);
    home.Start();
    infos_.clear();
    TForm1& form = MakeFormWithHome(home.HostPort());

    ASSERT_TRUE(WaitFor([&] {
      return !form.Timer2->isActive() && home.RequestCount("/djKivodata/ver.txt") == 1 &&
             !form.WorkerThread1->IsRunning();
    }));
    if (c.notice) {
      ASSERT_TRUE(WaitFor([&] { return !infos_.empty(); }));
      EXPECT_EQ(infos_[0], kNotice);
    }
    Settle();  // the worker's request, if any, has reached the window
    ASSERT_FALSE(form.Timer3->isActive());
    EXPECT_EQ(infos_.size(), c.notice ? 1u : 0u);
    EXPECT_TRUE(errors_.empty());
    EXPECT_FALSE(form.Timer2->isActive());  // once per run
    EXPECT_EQ(home.RequestCount("/djKivodata/ver.txt"), 1);
    form_.reset();
  }
}

TEST_F(DesktopTest, UnreachableHomeSiteShowsNothing) {
  demo::DemoSite gone;
  gone.Start();
  const std::string host = gone.HostPort();
  gone.Stop();  // nothing listens there now
  TForm1& form = MakeFormWithHome(host);
  ASSERT_TRUE(
      WaitFor([&] { return !form.Timer2->isActive() && !form.WorkerThread1->IsRunning(); }));
  Settle();
  EXPECT_FALSE(form.Timer3->isActive());
  EXPECT_TRUE(infos_.empty());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(DesktopTest, ClosingWhileTheCheckWaitsShowsNoLateNotice) {
  // A home site that holds the answer back longer than the window waits for its worker.
  demo::DemoSiteOptions options;
  options.version_body = "2";
  options.page_faults = demo::ParseFaults("stall=6");
  options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
  demo::DemoSite home(options);
  home.Start();
  TForm1& form = MakeFormWithHome(home.HostPort());
  ASSERT_TRUE(WaitFor([&] { return home.RequestCount("/djKivodata/ver.txt") == 1; }));
  EXPECT_TRUE(form.WorkerThread1->IsRunning());
  form_.reset();  // waits a bounded time for the worker, then leaves it to finish alone
  // The answer arrives after the window has gone: nothing is shown and nothing breaks.
  ProcessEventsUntil([] { return false; }, 2500ms);
  home.Stop();
  EXPECT_TRUE(infos_.empty());
}

TEST_F(DesktopTest, VisitingTheHomeSiteOpensItsAddressAndChangesNothingElse) {
  // The desktop's browser, as Qt reaches it, replaced by a text browser that records where it
  // was sent.
  QTextBrowser browser;
  QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "setSource");
  TForm1& form = MakeForm();
  ClickCategory(13);  // "访问官方"
  QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
  EXPECT_EQ(browser.source().toString().toStdString(), "http://" + site_->HostPort());
  EXPECT_EQ(form.CategoryIndex(), -1);
  EXPECT_TRUE(form.SkinListView1->isHidden());
  EXPECT_TRUE(errors_.empty());
}

// A home site without a host name is never asked: the version check is skipped with one line,
// and "访问官方" says why instead of opening "http://".
TEST_F(DesktopTest, AHomeSiteWithoutAHostIsNeverRequested) {
  for (const std::string host : {"", ":8080"}) {
    SCOPED_TRACE(host);
    errors_.clear();
    QTextBrowser browser;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "setSource");
    testing::internal::CaptureStderr();
    TForm1& form = MakeFormWithHome(host);
    ASSERT_TRUE(WaitFor([&] { return !form.Timer2->isActive(); }));
    Settle();
    EXPECT_FALSE(form.WorkerThread1->IsRunning());
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr("djkivo: the home site \"" + host +
                                   "\" names no host; no version check\n"));
    ClickCategory(13);  // "访问官方"
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    EXPECT_TRUE(browser.source().isEmpty());
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_THAT(errors_[0], testing::HasSubstr("--home-host"));
    EXPECT_EQ(form.CategoryIndex(), -1);
  }
}

TEST_F(DesktopTest, TrayIconCarriesTheHintAndTheWindowsIcon) {
  TForm1& form = MakeForm();
  EXPECT_EQ(form.TrayIcon1->Hint(), Utf8ToGbk("DJKivo云播放").value());
  EXPECT_EQ(form.TrayDesktop1->Icon().toolTip().toStdString(), "DJKivo云播放");
  EXPECT_FALSE(form.TrayDesktop1->Icon().icon().isNull());
  EXPECT_TRUE(form.TrayIcon1->MinimizeToTray());
}

TEST_F(DesktopTest, MinimisingHidesToTheTrayAndTheTrayBringsTheWindowBack) {
  TForm1& form = MakeForm();
  form.TrayDesktop1->SetAvailabilityProbe([] { return true; });
  QSystemTrayIcon& icon = form.TrayDesktop1->Icon();

  ASSERT_TRUE(WaitFor([&] { return form.SpectrumAnalyser1->Measuring(); }));
  form.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return form.isHidden(); }));
  EXPECT_FALSE(form.SpectrumAnalyser1->Measuring()) << "nobody sees the bars in the tray";
  Q_EMIT icon.activated(QSystemTrayIcon::Trigger);  // the desktop reports a click on the icon
  ASSERT_TRUE(WaitFor([&] { return form.isVisible() && !form.isMinimized(); }));
  EXPECT_TRUE(form.SpectrumAnalyser1->Measuring());

  form.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return form.isHidden(); }));
  form.N11->trigger();  // "打开主界面"
  ASSERT_TRUE(WaitFor([&] { return form.isVisible() && !form.isMinimized(); }));

  Q_EMIT icon.activated(QSystemTrayIcon::Context);  // the tray menu pops up at the mouse
  ASSERT_TRUE(WaitFor([&] { return form.SkinPopupMenu1->isVisible(); }));
  form.SkinPopupMenu1->hide();

  // "退出" from the tray while the window is hidden there ends the program.
  form.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return form.isHidden(); }));
  // In the program's main loop, with a guard that ends it otherwise.
  QTimer::singleShot(0, form_.get(), [&] { form.N9->trigger(); });
  QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST_F(DesktopTest, AWindowHiddenInAnAreaThatGoesAwayComesBackMinimised) {
  TForm1& form = MakeForm();
  // Shared with the probe, which the window may still ask after the test's body has ended.
  auto available = std::make_shared<bool>(true);
  form.TrayDesktop1->SetAvailabilityProbe([available] { return *available; });
  form.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return form.isHidden(); }));
  *available = false;
  ASSERT_TRUE(WaitFor([&] { return form.isVisible(); }));
  Settle();  // the minimise it brings is handled: nothing hides or restores the window
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.isMinimized());

  // Restored from the taskbar; an area is back, and minimising hides to it again.
  form.showNormal();
  *available = true;
  form.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return form.isHidden(); }));
}

TEST_F(DesktopTest, WithoutANotificationAreaMinimisingKeepsTheWindow) {
  TForm1& form = MakeForm();
  form.TrayDesktop1->SetAvailabilityProbe([] { return false; });
  form.showMinimized();
  Settle();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.isMinimized());
  EXPECT_FALSE(form.SpectrumAnalyser1->Measuring()) << "nor on a minimised window";
}

}  // namespace
}  // namespace djkivo::app
