// Closing the window while a fault is in progress: a page that never ends or breaks off, a
// stream that stalls or loses its server, a sound device that stops answering, a play list the
// player may not write or a huge broken one. Each case drives the real window into its fault
// and closes it as a user does (the running program then quits). The close must return, the
// command it interrupted must return, nothing may happen after it (no message, no new page
// load, no sound, no write to the play list's folder), and every thread the window started
// must end.
#include <sys/fsuid.h>
#include <unistd.h>

#include <map>
#include <optional>

#include <QTimer>

#include "audio/output/null_device.h"
#include "tests/app/window_fixture.h"
#include "tests/support/compressed.h"
#include "tests/support/process_stats.h"
#include "tests/support/scrape_pages.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/temp_folder.h"

namespace djkivo::app {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::OkResponse;
using test::PeerScript;
using test::PeerStep;
using test::ScriptedPeer;

// A close, the command it interrupted and the window's destruction each return within this:
// a hang check, not a speed check.
constexpr auto kCloseBound = 5s;
// Every thread the window started has ended this long after the window is gone.
constexpr auto kThreadsBound = 10s;
// The longest a case may take to reach its fault (a song encoded on first use included).
constexpr auto kFaultBound = 30s;
constexpr fs::perms kReadOnly =
    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
// The stream's wait limit in the case that outlasts it; the window's default is 10 s.
constexpr std::uint32_t kShortMaxWait = 1000;
// Stream bytes the demo site sends before a stall: about 2.5 s of a demo song, past the
// 2 s the stream input buffers before it starts playing.
constexpr int kStallAfterBytes = 40000;

// Everything in a folder: each entry's relative path and bytes (a folder's path ends in "/").
using FolderState = std::map<std::string, std::string>;
FolderState ReadFolder(const fs::path& folder) {
  FolderState state;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_directory()) {
      state[name + "/"] = "";
    } else {
      state[name] = test::ReadFileBytes(entry.path());
    }
  }
  return state;
}

// A play-list file of 100,000 lines that are no GBK text: bytes no character starts with,
// NUL bytes, lines without "|" or with two pieces, CR, LF and CR LF line ends.
std::string HugeBrokenPlayList() {
  std::string bytes;
  for (int i = 0; i < 100'000; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 4) {
      case 0:
        bytes += "\xff\xfe" + n + "|\x80\x80|" + n + "\r\n";
        break;
      case 1:
        bytes += "no separator \x81" + n + "\n";
        break;
      case 2:
        bytes += "\x81|two pieces " + n + "\r";
        break;
      default:
        bytes += std::string("\0\x7f", 2) + n + "|up|" + n + "|more|\xfe\n";
    }
  }
  return bytes;
}

// Permissions do not hold back root: while this lives, the file access of the window's thread
// is checked as an unprivileged user's. The file-system identity belongs to one thread, so
// nothing else of the process is affected (threads the window starts meanwhile take it over;
// they do not touch files).
class UnprivilegedFiles {
 public:
  static constexpr uid_t kNobody = 65534;
  UnprivilegedFiles() : uid_(::geteuid()), gid_(::getegid()) {
    if (uid_ == 0) {
      ::setfsgid(kNobody);
      ::setfsuid(kNobody);
    }
  }
  ~UnprivilegedFiles() {
    ::setfsuid(uid_);
    ::setfsgid(gid_);
  }
  UnprivilegedFiles(const UnprivilegedFiles&) = delete;
  UnprivilegedFiles& operator=(const UnprivilegedFiles&) = delete;

  /// False when the identity could not be changed (root without the capability).
  bool Active() const { return uid_ != 0 || static_cast<uid_t>(::setfsuid(-1)) == kNobody; }

 private:
  const uid_t uid_;
  const gid_t gid_;
};

class WindowFaultsTest;

struct FaultCase {
  const char* name;
  // Arranges the fault, makes the window, arms the close and drives the window into the fault.
  void (WindowFaultsTest::*drive)();
  // How long after the close nothing may happen: past the fault's own bound where it has one.
  std::chrono::milliseconds quiet;
};

// Test names and failure messages show the case's name rather than its bytes.
void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.name; }

class WindowFaultsTest : public WindowTest, public ::testing::WithParamInterface<FaultCase> {
 public:
  // --- Pages: "最新推荐" is opened and its page goes wrong; the window closes once the server
  // has the request (for a slow page, a while after).
  void PageStallsForever() { LoadListFrom(SiteWith("stall=3600")); }
  void ResetMidBody() { LoadListFrom(SiteWith("reset=2000")); }
  void TruncatedGzipBody() { LoadListFrom(SiteWith("gzip,truncate=300")); }
  void LongHeaderLine() {
    LoadListFrom(Peer(
        {ScriptedPeer::Answer("HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'v') + "\r\n\r\n")}));
  }
  void TenMegabytePage() {
    const test::PageOptions options = {
        .rows = 300, .row_bytes = 35000, .upper_case = false, .broken = false, .seed = 1};
    LoadListFrom(Peer({ScriptedPeer::Answer(OkResponse(test::MakeListPage(options, nullptr)))}));
  }
  void GzipBomb() {
    LoadListFrom(Peer({ScriptedPeer::Answer(
        OkResponse(test::Gzip(std::string((64u << 20) + 1, 'a')), "Content-Encoding: gzip\r\n"))}));
  }
  void SlowLoris() {
    PeerScript script = {PeerStep::ReadRequest()};
    for (char byte : OkResponse("<html></html>")) {
      script.push_back(PeerStep::Send(std::string(1, byte)));
      script.push_back(PeerStep::Pause(1s));
    }
    LoadListFrom(Peer({script}), 1500ms);
  }

  // --- Streams: the play list's first song is played and its stream goes wrong.
  void PlayPageWithoutTheScript() {
    // Each page comes after a moment, so the close does not miss the songs' turns.
    const std::string page = "<html><body>This song was taken down.</body></html>";
    const PeerScript answer = {PeerStep::ReadRequest(), PeerStep::Pause(50ms),
                               PeerStep::Send(OkResponse(page)), PeerStep::Close()};
    std::vector<PeerScript> scripts(10, answer);
    catalogue_ = Peer(std::move(scripts));
    std::string list;
    for (int id = 1; id <= 10; ++id)
      list += "song|u|" + std::to_string(id) + "\r\n";
    WritePlayList(list);
    MakeFormNoting();
    // Closed while the window moves from song to song, each failing to open, before a whole
    // round of them has failed (which shows the last failure's message).
    CloseWhen([this] { return PageRequests() >= 2; });
    form_->PlayButtonClick();
  }
  void StreamStallsMidSong() {
    site_->SetStreamFaults(demo::ParseFaults("stall=3600@" + std::to_string(kStallAfterBytes)));
    PlayFirstSong();
    CloseWhen(Delayed([this] { return AudioFlowing(); }, 300ms));
  }
  void StreamStallsBeforeItsFirstByte() {
    site_->SetStreamFaults(demo::ParseFaults("stall=3600"));
    PlayFirstSong();
    // Closed while the stream input waits for the reader to open the stream.
    const std::string stream = "/audio/" + site_->Catalogue().Songs()[0].id + ".mp3";
    CloseWhen(Delayed([this, stream] { return site_->RequestCount(stream) > 0; }, 300ms));
  }
  void StreamStallsPastMaxWait() {
    site_->SetStreamFaults(demo::ParseFaults("stall=3600@" + std::to_string(kStallAfterBytes)));
    PlayFirstSong(kShortMaxWait);
    // Closed as the window handles the end the wait limit gave the song: the next song's play
    // page is being read.
    const std::string next = "/dance/play/" + site_->Catalogue().Songs()[1].id + ".html";
    CloseWhen([this, next] { return site_->RequestCount(next) > 0; });
  }
  void StreamServerDies() {
    site_->SetStreamFaults(demo::ParseFaults("slow=64000"));  // still downloading when it dies
    PlayFirstSong();
    ASSERT_TRUE(WaitFor([this] { return AudioFlowing(); }, kFaultBound));
    site_->Stop();
    CloseWhen(Delayed([] { return true; }, 300ms));  // while the reader tries to reconnect
  }
  void DeviceStopsAnswering() {
    PlayFirstSong();
    ASSERT_TRUE(WaitFor([this] { return AudioFlowing(); }, kFaultBound));
    device_->StopForever();
    CloseWhen(Delayed([] { return true; }, 300ms));  // before the output gives up on it
  }

  // --- The play-list file: a song of "最新推荐" is double-clicked, which adds it to the play
  // list and saves; the window closes right after the save (its message, when it failed).
  void FolderInPlaceOfThePlayList() {
    fs::create_directory(PlayListPath());
    MakeFormNoting();  // the start-up load shows its message
    SaveAndClose("Is a directory");
  }
  void ReadOnlyPlayListAndFolder() {
    WritePlayList("old|u|1\r\n");
    fs::permissions(PlayListPath(), kReadOnly);
    fs::permissions(folder_.Path(), kReadOnly | fs::perms::owner_exec | fs::perms::group_exec |
                                        fs::perms::others_exec);
    MakeFormNoting();
    unprivileged_.emplace();
    if (!unprivileged_->Active())
      GTEST_SKIP() << "cannot check file access as an unprivileged user";
    SaveAndClose("Permission denied");
  }
  void ReadOnlyPlayListInAWritableFolder() {
    const std::string original = "old|u|1\r\n";
    WritePlayList(original);
    fs::permissions(PlayListPath(), kReadOnly);
    MakeFormNoting();
    ClickCategory(1);
    ASSERT_GT(Rows(), 0);
    // Whether the save replaces the file whole or fails with its message, the folder must
    // hold after the close what it held right after the save.
    const std::size_t errors = errors_.size();
    const std::string saved =
        original + RowBytes(0, 0) + "|" + RowBytes(0, 1) + "|" + RowBytes(0, 2) + "\r\n";
    CloseWhen([this, errors, saved] {
      if (errors_.size() > errors)
        return true;
      if (ReadPlayList() != saved)
        return false;
      expected_folder_ = {{"mylist.txt", saved}};
      return true;
    });
    DoubleClickRow(0);
  }
  void HugeBrokenPlayListAtStartUp() {
    WritePlayList(HugeBrokenPlayList());
    MakeFormNoting();
    CloseWhen([] { return true; });  // right after the start-up load
  }

 protected:
  void SetUp() override {
    baseline_threads_ = test::OwnThreads();
    WindowTest::SetUp();
  }

  void TearDown() override {
    close_timer_.reset();
    unprivileged_.reset();
    WindowTest::TearDown();
    peer_.reset();
    fs::permissions(folder_.Path(), fs::perms::owner_all);
  }

  void QuitDuringLoad() override {
    WindowTest::QuitDuringLoad();
    StopPeer();
  }

  void Configure(TForm1Config& config) override {
    // A null device the test can reach, to make it stop answering.
    config.device_factory = [this] {
      auto device = std::make_unique<NullDevice>();
      device_ = device.get();
      return device;
    };
  }

  std::string CatalogueHost() const override {
    return catalogue_.empty() ? site_->HostPort() : catalogue_;
  }
  demo::SongLength SongLength() const override { return demo::SongLength::kNormal; }

  /// The demo site with the fault switches `faults` on every catalogue page.
  std::string SiteWith(const std::string& faults) const {
    return site_->HostPort() + "/_f/" + faults;
  }
  /// Starts the scripted peer; its host and port.
  std::string Peer(std::vector<PeerScript> scripts) {
    peer_ = std::make_unique<ScriptedPeer>(std::move(scripts));
    return "127.0.0.1:" + std::to_string(peer_->Port());
  }
  void StopPeer() {
    if (!peer_)
      return;
    stopped_peer_requests_ = static_cast<int>(peer_->Requests().size());
    peer_.reset();
  }
  /// Page requests the servers have read (list and play pages; the version check and the
  /// streams aside). Only the window's thread starts a page load, so once the window has
  /// closed the count may grow only by the loads that were waiting then.
  int PageRequests() const {
    int pages = peer_ ? static_cast<int>(peer_->Requests().size()) : stopped_peer_requests_;
    for (const demo::RequestRecord& request : site_->Requests())
      pages += request.target.find("/audio/") == std::string::npos &&
               request.target != "/djKivodata/ver.txt";
    return pages;
  }

  /// Makes the window, noting the play list's folder as it must stay.
  void MakeFormNoting() {
    expected_folder_ = ReadFolder(folder_.Path());
    MakeForm();
  }
  void LoadListFrom(std::string catalogue, std::chrono::milliseconds after = 0ms) {
    catalogue_ = std::move(catalogue);
    WritePlayList(PlayListOfDemoSongs(2));
    MakeFormNoting();
    CloseWhen(Delayed([this] { return PageRequests() > 0; }, after));
    ClickCategory(1);
  }
  void PlayFirstSong(std::uint32_t max_wait = 0) {
    WritePlayList(PlayListOfDemoSongs(2));
    MakeFormNoting();
    if (max_wait != 0)
      form_->MediaStreamIn1->SetMaxWaitMilliseconds(max_wait);
    form_->PlayButtonClick();
  }
  /// Adds a song to the play list, whose save fails for `reason`.
  void SaveAndClose(const std::string& reason) {
    ClickCategory(1);
    ASSERT_GT(Rows(), 0);
    const std::size_t errors = errors_.size();
    CloseWhen([this, errors] { return errors_.size() > errors; });
    DoubleClickRow(0);  // the save runs before the double click's play page load
    ASSERT_EQ(errors_.size(), errors + 1);
    EXPECT_EQ(errors_.back(), "Cannot create file \"" + PlayListPath() + "\". " + reason);
  }
  bool AudioFlowing() const {
    return form_->SoundOut1->Status() == kPlaying && !form_->ElapsedText().empty();
  }

  /// `ready`, once it has held for `delay`.
  std::function<bool()> Delayed(std::function<bool()> ready, std::chrono::milliseconds delay) {
    auto since = std::make_shared<std::optional<Clock::time_point>>();
    return [ready = std::move(ready), delay, since] {
      if (!*since && ready())
        *since = Clock::now();
      return *since && Clock::now() - **since >= delay;
    };
  }
  /// Closes the window as soon as `ready()` holds, from the window's event loop (a nested one
  /// while a load waits).
  void CloseWhen(std::function<bool()> ready) {
    close_timer_ = std::make_unique<QTimer>();
    close_timer_->setInterval(5);
    QObject::connect(close_timer_.get(), &QTimer::timeout, [this, ready = std::move(ready)] {
      if (closed_ || !ready())
        return;
      close_timer_->stop();
      Close();
    });
    close_timer_->start();
  }
  /// What closing the window does in the running program: the window closes, and as the last
  /// one it ends the application's loop.
  void Close() {
    unprivileged_.reset();
    closed_at_ = Clock::now();
    active_loads_at_close_ = waiter_->ActiveLoads();
    errors_at_close_ = errors_;
    infos_at_close_ = infos_;
    page_requests_at_close_ = PageRequests();
    form_->close();
    close_took_ = Clock::now() - closed_at_;
    QCoreApplication::exit(0);
    closed_ = true;
  }

  int baseline_threads_ = 0;
  std::string catalogue_;  // the window's catalogue host; empty: the demo site
  std::unique_ptr<ScriptedPeer> peer_;
  int stopped_peer_requests_ = 0;
  NullDevice* device_ = nullptr;  // owned by the window's output
  std::optional<UnprivilegedFiles> unprivileged_;
  FolderState expected_folder_;
  std::unique_ptr<QTimer> close_timer_;
  bool closed_ = false;
  Clock::time_point closed_at_{};
  Clock::duration close_took_{};
  int active_loads_at_close_ = 0;
  std::vector<std::string> errors_at_close_;
  std::vector<std::string> infos_at_close_;
  int page_requests_at_close_ = 0;
};

TEST_P(WindowFaultsTest, ClosingEndsEverythingAndLeavesThePlayListAlone) {
  (this->*GetParam().drive)();
  if (IsSkipped())
    return;
  const Clock::time_point driven = Clock::now();
  ASSERT_TRUE(WaitFor([this] { return closed_; }, kFaultBound)) << "the fault never came";
  EXPECT_LT(close_took_, kCloseBound);
  // A command the close interrupted (a load waiting in a nested loop) has returned.
  EXPECT_LT(std::max(driven, closed_at_) - closed_at_, kCloseBound);
  if (quit_during_load_ != Clock::time_point{}) {
    EXPECT_LT(quit_during_load_ - closed_at_, kCloseBound);
  }

  // Nothing happens after the close: no message, no new page load, no sound. (A stream being
  // opened at the close may still reach the site: its request was sent before the close
  // ended the chain. The chain's threads are checked below.)
  EXPECT_EQ(form_->SoundOut1->Status(), kIdle);
  ProcessEventsUntil([] { return false; }, GetParam().quiet);
  ClearApplicationQuit();
  EXPECT_EQ(errors_, errors_at_close_);
  EXPECT_EQ(infos_, infos_at_close_);
  EXPECT_LE(PageRequests(), page_requests_at_close_ + active_loads_at_close_);
  if (active_loads_at_close_ == 0) {
    EXPECT_EQ(quit_during_load_, Clock::time_point{}) << "a load started after the close";
  }
  EXPECT_EQ(form_->SoundOut1->Status(), kIdle);

  const Clock::time_point destroying = Clock::now();
  form_.reset();
  EXPECT_LT(Clock::now() - destroying, kCloseBound);
  site_->Stop();
  StopPeer();
  EXPECT_TRUE(WaitFor([this] { return test::OwnThreads() <= baseline_threads_; }, kThreadsBound))
      << test::OwnThreads() << " threads left, " << baseline_threads_ << " before";
  EXPECT_TRUE(ReadFolder(folder_.Path()) == expected_folder_) << "the play list's folder changed";
}

const FaultCase kFaultCases[] = {
    {"PageStallsForever", &WindowFaultsTest::PageStallsForever, 300ms},
    {"ResetMidBody", &WindowFaultsTest::ResetMidBody, 300ms},
    {"TruncatedGzipBody", &WindowFaultsTest::TruncatedGzipBody, 300ms},
    {"HeaderLineOf20000Bytes", &WindowFaultsTest::LongHeaderLine, 300ms},
    {"TenMegabytePage", &WindowFaultsTest::TenMegabytePage, 300ms},
    {"GzipBomb", &WindowFaultsTest::GzipBomb, 300ms},
    {"SlowLorisAtOneBytePerSecond", &WindowFaultsTest::SlowLoris, 300ms},
    {"PlayPageWithoutTheScript", &WindowFaultsTest::PlayPageWithoutTheScript, 500ms},
    {"StreamStallsMidSong", &WindowFaultsTest::StreamStallsMidSong, 500ms},
    {"StreamStallsBeforeItsFirstByte", &WindowFaultsTest::StreamStallsBeforeItsFirstByte, 500ms},
    {"StreamStallsPastMaxWait", &WindowFaultsTest::StreamStallsPastMaxWait, 1500ms},
    {"StreamServerDies", &WindowFaultsTest::StreamServerDies, 1000ms},
    {"DeviceStopsAnswering", &WindowFaultsTest::DeviceStopsAnswering, 1500ms},
    {"FolderInPlaceOfThePlayList", &WindowFaultsTest::FolderInPlaceOfThePlayList, 300ms},
    {"ReadOnlyPlayListAndFolder", &WindowFaultsTest::ReadOnlyPlayListAndFolder, 300ms},
    {"ReadOnlyPlayListInAWritableFolder", &WindowFaultsTest::ReadOnlyPlayListInAWritableFolder,
     300ms},
    {"HugeBrokenPlayListAtStartUp", &WindowFaultsTest::HugeBrokenPlayListAtStartUp, 300ms},
};

INSTANTIATE_TEST_SUITE_P(Faults, WindowFaultsTest, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace djkivo::app
