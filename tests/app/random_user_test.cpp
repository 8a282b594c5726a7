// The random user: seeded random actions on every control of the real window (offscreen) while
// the demo site answers with random faults. Clicks come while page loads wait, as a user's do.
// After every action the play list file must hold exactly the window's list, and a watchdog
// checks that the window's thread never goes 2 s without handling its events.
//
// It runs for DJKIVO_MONKEY_SECONDS (default 120) with the seed DJKIVO_MONKEY_SEED (default a
// fresh one); the seed is printed at the start, and a failure names the seed and the actions that
// led to it, so `scripts/monkey MINUTES SEED` repeats the same actions.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>

#include "app/core/player_controller.h"
#include "app/gbk_qstring.h"
#include "tests/app/window_fixture.h"
#include "tests/support/process_stats.h"

namespace djkivo::app {
namespace {

using Clock = std::chrono::steady_clock;

// The longest the window's thread may go without handling an event.
constexpr auto kAnswerBound = 2s;
// How often the window's thread shows that it answers, and the watchdog looks.
constexpr auto kHeartbeat = 50ms;
constexpr auto kDefaultRun = 120s;
// Actions run inside the page loads of earlier ones, up to this many deep.
constexpr int kMaxDepth = 3;
// The actions a failure report lists, the last ones before it.
constexpr std::size_t kReportedActions = 40;
// Every thread the window started has ended this long after the last window is gone.
constexpr auto kThreadsBound = 10s;

// The site's faults, drawn now and then. Stalls are short: each one holds a page load, and the
// window is live meanwhile, but the run should not spend its time waiting.
const char* const kPageFaults[] = {
    "",
    "",
    "gzip",
    "chunked",
    "gzip,chunked",
    "redirect=3",
    "redirect=2,relative",
    "stall=2",
    "slow=20000",
    "truncate=300",
    "reset",
    "reset=2000",
    "404",
    "gzip,truncate=300",
};
const char* const kStreamFaults[] = {
    "", "", "chunked", "truncate=6000", "reset=9000", "stall=2@20000", "404", "reset", "slow=16000",
};

// Keywords as a user types or pastes them: empty, found, long, and text GBK has no bytes for.
QString RandomKeyword(std::mt19937& random, const demo::DemoCatalogue& catalogue) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  switch (pick(6)) {
    case 0:
      return {};
    case 1: {  // part of a song's name
      const QString name = FromGbkText(catalogue.Songs()[pick(demo::kSongCount)].name);
      const int from = pick(static_cast<int>(name.size()));
      return name.mid(from, 1 + pick(4));
    }
    case 2: {  // 100 characters of everything
      QString text;
      const QString marks = QStringLiteral(" %&+|'\"<>?=#\\/.*");
      for (int i = 0; i < 100; ++i) {
        switch (pick(4)) {
          case 0:
            text += QChar(0x4E00 + pick(0x51A5));
            break;
          case 1:
            text += QChar('a' + pick(26));
            break;
          case 2:
            text += QChar('0' + pick(10));
            break;
          default:
            text += marks[pick(static_cast<int>(marks.size()))];
        }
      }
      return text;
    }
    case 3:  // half a surrogate pair, a non-character, a NUL
      return QString(QChar(0xD800)) + QStringLiteral("a") + QChar(0xFFFF) + QChar(0);
    case 4:  // beyond the basic plane: four bytes in GB18030
      return QString::fromUtf8("\xF0\x9F\x8E\xB5 dj \xF0\x9F\x8E\xA7");
    default:
      return QStringLiteral("DJ");
  }
}

// Bytes that are no GBK text, as the search box's keyword could hold them if typed text ever
// converted badly.
const char* const kBrokenKeywords[] = {"\x81", "\xff\xfe\xfd", "abc\x80", "\x81\x30\x81"};

// Page box texts: pages, nothing, and what is no page.
const char* const kPageBoxTexts[] = {"1", "2",  "5",   "6",           "0",
                                     "",  "-1", "abc", "99999999999", " 3 "};

class RandomUserTest : public WindowTest {
 protected:
  void SetUp() override {
    baseline_threads_ = test::OwnThreads();
    WindowTest::SetUp();
    const char* seed = std::getenv("DJKIVO_MONKEY_SEED");
    seed_ = seed != nullptr && *seed != '\0'
                ? static_cast<unsigned>(std::strtoul(seed, nullptr, 10))
                : std::random_device{}();
    random_.seed(seed_);
    const char* seconds = std::getenv("DJKIVO_MONKEY_SECONDS");
    run_ = seconds != nullptr && *seconds != '\0' ? std::chrono::seconds(std::atoi(seconds))
                                                  : kDefaultRun;
    std::printf("random user: seed %u, %lld s (DJKIVO_MONKEY_SEED=%u repeats it)\n", seed_,
                static_cast<long long>(run_.count()), seed_);
    std::fflush(stdout);
    // Every song is encoded before the watchdog starts; the site makes them on first use.
    for (const demo::DemoSong& song : site_->Catalogue().Songs())
      site_->EnsureAudio(song, song.format);
    // "访问官方" opens the site in a text browser instead of the desktop's.
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser_, "setSource");
  }

  void TearDown() override {
    StopWatchdog();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    WindowTest::TearDown();
  }

  // A quit while a page load waits (none of the actions quits; the tray's "退出" only closes
  // a window that is not hidden in a tray) is a fault of the run.
  void QuitDuringLoad() override { Fail("the application quit while a page load waited"); }

  // --- The run.
  void Run() {
    MakeForm();
    StartWatchdog();
    deadline_ = Clock::now() + run_;
    QTimer::singleShot(0, &driver_, [this] { Step(); });
    ASSERT_TRUE(WaitFor([this] { return finished_; }, run_ + 120s))
        << Report("the run never ended");
  }

  // One action, from the event loop (a nested one while a load waits). The next action is
  // scheduled first, so it comes while this one's load waits.
  void Step() {
    if (failed_ || Clock::now() >= deadline_) {
      if (depth_ == 0 && waiter_->ActiveLoads() == 0)
        finished_ = true;
      else
        QTimer::singleShot(50, &driver_, [this] { Step(); });
      return;
    }
    const int delay = Pick(10) == 0 ? 500 + Pick(2500) : Pick(250);
    QTimer::singleShot(delay, &driver_, [this] { Step(); });
    if (depth_ >= kMaxDepth)
      return;
    ++depth_;
    if (form_ && !closed_)
      Act();
    else if (!form_ && depth_ == 1 && waiter_->ActiveLoads() == 0)
      Reopen();
    --depth_;
    CheckPlayList();
  }

  struct Action {
    const char* name;
    int weight;
    void (RandomUserTest::*act)();
  };

  void Act() {
    static const Action kActions[] = {
        {"category", 8, &RandomUserTest::OpenCategory},
        {"my list", 4, &RandomUserTest::OpenPlayList},
        {"home picture", 1, &RandomUserTest::OpenHome},
        {"site link", 1, &RandomUserTest::OpenSiteLink},
        {"search", 5, &RandomUserTest::Search},
        {"search for broken bytes", 1, &RandomUserTest::SearchBrokenBytes},
        {"paging", 6, &RandomUserTest::Page},
        {"double click", 6, &RandomUserTest::DoubleClick},
        {"song list menu", 5, &RandomUserTest::SongListMenu},
        {"tray menu", 4, &RandomUserTest::TrayMenu},
        {"play or pause", 4, &RandomUserTest::PlayOrPause},
        {"previous or next", 4, &RandomUserTest::PreviousOrNext},
        {"space bar", 1, &RandomUserTest::SpaceBar},
        {"play mode", 2, &RandomUserTest::PlayMode},
        {"volume", 2, &RandomUserTest::Volume},
        {"about", 1, &RandomUserTest::About},
        {"minimise", 1, &RandomUserTest::Minimise},
        {"close the window", 1, &RandomUserTest::CloseWindow},
        {"site faults", 2, &RandomUserTest::ChangeFaults},
        {"wait", 4, &RandomUserTest::Wait},
    };
    int total = 0;
    for (const Action& action : kActions)
      total += action.weight;
    int draw = Pick(total);
    const Action* chosen = &kActions[0];
    for (const Action& action : kActions) {
      if (draw < action.weight) {
        chosen = &action;
        break;
      }
      draw -= action.weight;
    }
    Note(chosen->name);
    (this->*chosen->act)();
  }

  // --- The actions.
  void OpenCategory() {
    static const int kItems[] = {1, 2, 3, 4, 7, 8, 9, 10};
    const int item = kItems[Pick(std::size(kItems))];
    Detail("item " + std::to_string(item));
    ClickCategory(item);
  }
  void OpenPlayList() { ClickCategory(5); }
  void OpenHome() { ClickCategory(12); }
  void OpenSiteLink() { ClickCategory(13); }

  void Search() {
    const QString keyword = RandomKeyword(random_, site_->Catalogue());
    Detail("\"" + keyword.left(20).toStdString() + "\" (" + std::to_string(keyword.size()) +
           " characters)");
    QLineEdit* box = form_->SkinEdit1;
    box->setFocus();
    box->selectAll();
    // Typed key by key where the test library can type it (printable ASCII), else pasted.
    const bool typeable = std::all_of(keyword.begin(), keyword.end(), [](QChar c) {
      return c.unicode() >= 0x20 && c.unicode() < 0x7f;
    });
    if (typeable && keyword.size() <= 8 && Pick(2) == 0)
      QTest::keyClicks(box, keyword);
    else
      box->setText(keyword);
    if (Pick(2) == 0)
      QTest::keyClick(box, Qt::Key_Return);
    else
      form_->SkinEdit1Button->trigger();
  }
  void SearchBrokenBytes() {
    form_->Controller().Catalogue().Search(kBrokenKeywords[Pick(std::size(kBrokenKeywords))]);
  }

  void Page() {
    QPushButton* const buttons[] = {form_->SkinButton9, form_->SkinButton6, form_->SkinButton7,
                                    form_->SkinButton8};
    QPushButton* button = buttons[Pick(std::size(buttons))];
    if (button == form_->SkinButton8 || Pick(4) == 0) {
      const char* text = kPageBoxTexts[Pick(std::size(kPageBoxTexts))];
      form_->SkinEdit2->setText(QString::fromUtf8(text));
      Detail(std::string("page box \"") + text + "\"");
    }
    Detail(button->objectName().toStdString());
    QTest::mouseClick(button, Qt::LeftButton);
  }

  void DoubleClick() {
    if (Rows() == 0 || !form_->SkinListView1->isVisible())
      return;
    const int row = Pick(Rows());
    Detail("row " + std::to_string(row));
    form_->SkinListView1->scrollTo(form_->SkinListView1->model()->index(row, 0));
    DoubleClickRow(row);
  }

  void SongListMenu() {
    if (Rows() > 0 && Pick(5) != 0) {
      const int row = Pick(Rows());
      SelectRow(row);
      Detail("row " + std::to_string(row));
    } else {
      form_->SkinListView1->clearSelection();
      Detail("no row");
    }
    QAction* const actions[] = {form_->N3, form_->N4, form_->N1};
    ChooseFromMenu(form_->SkinPopupMenu2, actions[Pick(std::size(actions))]);
  }

  void TrayMenu() {
    QAction* const actions[] = {form_->N11, form_->N2, form_->N5, form_->N7, form_->N9};
    ChooseFromMenu(form_->SkinPopupMenu1, actions[Pick(std::size(actions))]);
    if (form_->isHidden() && !form_->isMinimized())
      closed_ = true;  // "退出" closed the window
  }

  void PlayOrPause() {
    QToolButton* button = form_->PlayButton->isVisible() ? form_->PlayButton : form_->PauseButton;
    Detail(button->objectName().toStdString());
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void PreviousOrNext() {
    QToolButton* button = Pick(2) == 0 ? form_->SkinButton1 : form_->SkinButton2;
    Detail(button->objectName().toStdString());
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void SpaceBar() { QTest::keyClick(form_.get(), Qt::Key_Space); }
  void PlayMode() {
    QToolButton* button = Pick(2) == 0 ? form_->SkinButton4 : form_->SkinButton5;
    Detail(button->objectName().toStdString());
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void Volume() {
    const int value = -Pick(4001);
    Detail(std::to_string(value));
    form_->VolumeBar->setValue(value);
  }
  void About() { QTest::mouseClick(form_->SkinButton3, Qt::LeftButton); }
  void Minimise() {
    if (form_->isMinimized()) {
      form_->TrayIcon1Click();
      Detail("restored");
    } else {
      form_->showMinimized();
    }
  }
  void CloseWindow() {
    form_->close();
    closed_ = true;
  }
  void ChangeFaults() {
    const char* pages = kPageFaults[Pick(std::size(kPageFaults))];
    const char* streams = kStreamFaults[Pick(std::size(kStreamFaults))];
    Detail(std::string("pages \"") + pages + "\", streams \"" + streams + "\"");
    site_->SetPageFaults(demo::ParseFaults(pages));
    site_->SetStreamFaults(demo::ParseFaults(streams));
  }
  void Wait() {}

  // Opens `menu` as a right click or the tray does, chooses `action` if it is enabled, and
  // closes the menu.
  void ChooseFromMenu(QMenu* menu, QAction* action) {
    Detail(action->objectName().toStdString());
    menu->popup(form_->mapToGlobal(QPoint(20, 20)));
    const bool enabled = action->isEnabled();
    menu->hide();
    if (!enabled) {
      Detail("(disabled)");
      return;
    }
    action->trigger();
  }

  // The window was closed: it is made again as the program is started again, on the same play
  // list file, which must give the list the closed window had.
  void Reopen() {
    Note("reopen");
    form_.reset();
    MakeForm();
    closed_ = false;
    if (form_->MyList().MyList() != last_list_)
      Fail("the reopened window's play list differs from the closed one's");
  }

  // --- Checks.
  void CheckPlayList() {
    if (form_)
      last_list_ = form_->MyList().MyList();
    // A closed window is destroyed, as its program ends, once none of its code is on the stack
    // (no action of ours, no page load of its own).
    if (form_ && closed_ && depth_ == 0 && waiter_->ActiveLoads() == 0)
      form_.reset();
    const std::string bytes = test::ReadFileBytes(PlayListPath());
    const TarrMyListDj file = ParseMyList(bytes);
    if (FormatMyList(file) != bytes)
      Fail("the play list file holds lines a save does not write");
    else if (file != last_list_)
      Fail("the play list file (" + std::to_string(file.size()) +
           " entries) differs from the window's list (" + std::to_string(last_list_.size()) +
           " entries)");
    for (const std::string& message : errors_)
      if (message.empty())
        Fail("an empty error box");
  }

  void Fail(const std::string& what) {
    if (failed_)
      return;
    failed_ = true;
    ADD_FAILURE() << Report(what);
  }

  std::string Report(const std::string& what) {
    std::lock_guard lock(log_lock_);
    std::ostringstream out;
    out << what << "\nseed " << seed_ << " (DJKIVO_MONKEY_SEED=" << seed_ << "), action "
        << actions_ << "; the last actions:\n";
    for (const std::string& line : log_)
      out << "  " << line << "\n";
    return out.str();
  }

  // --- The action log, shared with the watchdog.
  void Note(const std::string& name) {
    std::lock_guard lock(log_lock_);
    ++actions_;
    log_.push_back("#" + std::to_string(actions_) + " " + name +
                   (depth_ > 1 ? " (in a load)" : ""));
    if (log_.size() > kReportedActions)
      log_.pop_front();
  }
  void Detail(const std::string& detail) {
    std::lock_guard lock(log_lock_);
    if (!log_.empty())
      log_.back() += " " + detail;
  }

  // --- The watchdog: the window's thread beats every kHeartbeat from its event loop; a beat
  // more than kAnswerBound late ends the program with the report (the thread may never answer
  // again, so the test cannot wait for it).
  void StartWatchdog() {
    beat_.store(Clock::now().time_since_epoch().count());
    heartbeat_.setInterval(kHeartbeat);
    QObject::connect(&heartbeat_, &QTimer::timeout,
                     [this] { beat_.store(Clock::now().time_since_epoch().count()); });
    heartbeat_.start();
    watchdog_ = std::thread([this] {
      std::unique_lock lock(watch_lock_);
      while (!watch_stop_) {
        watch_wake_.wait_for(lock, kHeartbeat);
        const auto late = Clock::now() - Clock::time_point(Clock::duration(beat_.load()));
        if (late > kAnswerBound) {
          const std::string report = Report(
              "the window's thread did not answer for " +
              std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(late).count()) +
              " ms");
          std::fprintf(stderr, "random user: %s", report.c_str());
          std::fflush(stderr);
          std::abort();
        }
      }
    });
  }
  void StopWatchdog() {
    heartbeat_.stop();
    if (!watchdog_.joinable())
      return;
    {
      std::lock_guard lock(watch_lock_);
      watch_stop_ = true;
    }
    watch_wake_.notify_all();
    watchdog_.join();
  }

  int Pick(std::size_t n) { return static_cast<int>(random_() % n); }
  int Pick(int n) { return Pick(static_cast<std::size_t>(n)); }

  unsigned seed_ = 0;
  std::mt19937 random_;
  std::chrono::seconds run_{};
  Clock::time_point deadline_{};
  int baseline_threads_ = 0;
  QObject driver_;  // the actions' timers
  QTextBrowser browser_;
  int depth_ = 0;  // actions on the stack
  bool closed_ = false;
  bool failed_ = false;
  bool finished_ = false;
  TarrMyListDj last_list_;

  std::mutex log_lock_;
  int actions_ = 0;  // --- guarded by log_lock_
  std::deque<std::string> log_;

  QTimer heartbeat_;
  std::atomic<Clock::rep> beat_{0};
  std::thread watchdog_;
  std::mutex watch_lock_;
  std::condition_variable watch_wake_;
  bool watch_stop_ = false;  // --- guarded by watch_lock_
};

TEST_F(RandomUserTest, RandomActionsNeverHangCrashOrLoseThePlayList) {
  Run();
  StopWatchdog();
  form_.reset();
  const int requests = site_->TotalRequests();
  site_->Stop();
  EXPECT_TRUE(WaitFor([this] { return test::OwnThreads() <= baseline_threads_; }, kThreadsBound))
      << test::OwnThreads() << " threads left, " << baseline_threads_ << " before";
  std::printf("random user: %d actions, %d requests to the site, %zu error boxes\n", actions_,
              requests, errors_.size());
  for (const std::string& message : errors_)
    std::printf("random user: error box \"%s\"\n", message.c_str());
}

}  // namespace
}  // namespace djkivo::app
