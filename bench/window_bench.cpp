// The window's speed and memory: cold start to the window shown, a category click to its rows
// shown, a double click to the first audio the device plays, the peak memory while playing, and
// a play list of 100,000 songs: the click on "我的列表" to its rows painted, and adding one song
// to it (the whole file written anew, atomically and durably, as every add does).
//
// The window runs on the offscreen platform against the demo site on loopback, on a null sound
// device whose played-byte counter marks the first audio. The memory is that of the real
// program (`djkivo --demo`, demo site included) playing a song. Anchors, measured in the same run:
// for the category click, libcurl + PCRE2-JIT loading and scraping the same page; for the
// double click, the bare audio chain (no window, no play page) started on the same stream
// address. The songs are encoded before any timing starts.
#include <curl/curl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QListWidget>
#include <QTableView>
#include <QTest>

#include "app/core/catalogue_address.h"
#include "app/core/fetch_page.h"
#include "app/core/my_list.h"
#include "app/core/scrapers.h"
#include "app/core/song_entry.h"
#include "app/load_waiter.h"
#include "app/main_form.h"
#include "app/qt_main_thread.h"
#include "app/song_list.h"
#include "audio/analysis/spectrum_analyser.h"
#include "audio/audio_cache.h"
#include "audio/media_stream_in.h"
#include "audio/output/null_device.h"
#include "audio/output/sound_out.h"
#include "bench/measure.h"
#include "demo/demo_site.h"
#include "tests/support/pcre2_scraper.h"
#include "tests/support/temp_folder.h"

namespace {

using djkivo::bench::Median;
using djkivo::bench::PrintMeasure;

using namespace djkivo;
using Clock = std::chrono::steady_clock;

constexpr int kClicks = 40;                              // category clicks, alternating with home
constexpr int kPlays = 8;                                // double clicks, each on a new row
constexpr auto kAudioLimit = std::chrono::seconds(20);   // a play that never sounds
constexpr auto kPlayerLimit = std::chrono::seconds(40);  // the player's own run
constexpr int kLongList = 100000;                        // entries of the long play list
constexpr int kListShows = 9;                            // clicks on it, alternating with home
constexpr int kListAdds = 9;                             // songs added to it, one at a time

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A process's peak resident set so far, in MiB (0 once it has ended).
double PeakRssMib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      double kib = 0;
      status >> kib;
      return kib / 1024;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

std::size_t OnCurlData(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// The peak resident set of `args` (a program of the build) run to its end in offscreen Qt, with
// its settings in `scratch`; 0 when it cannot be started. Stopped after kPlayerLimit.
double PeakRssOfRunMib(const std::vector<std::string>& args, const std::string& scratch) {
  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_strings = {"QT_QPA_PLATFORM=offscreen",
                                          "XDG_CONFIG_HOME=" + scratch};
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0 &&
        std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0)
      env_strings.emplace_back(*e);
  std::vector<char*> env;
  for (std::string& e : env_strings)
    env.push_back(e.data());
  env.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), env.data()) != 0) {
    std::fprintf(stderr, "window_bench: cannot start %s\n", argv[0]);
    return 0;
  }
  double peak = 0;
  int status = 0;
  auto started = Clock::now();
  while (waitpid(pid, &status, WNOHANG) == 0) {
    peak = std::max(peak, PeakRssMib(pid));
    if (Clock::now() - started > kPlayerLimit) {
      std::fprintf(stderr, "window_bench: %s did not finish; stopping it\n", argv[0]);
      kill(pid, SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return peak;
}

// The player itself, as a user starts it, on the site at `host`: it opens "最新推荐", plays the
// first song for a while (the screenshot option) and quits. The site runs in the bench's
// process, not in the player's as `--demo` would run it, so the figure is the player's own, as
// on a real site.
double PlayerPeakRssMib(const std::string& scratch, const std::string& host) {
  return PeakRssOfRunMib(
      {DJKIVO_BINARY_DIR "/app/djkivo", "--catalogue-host", host, "--device", "null", "--playlist",
       scratch + "/mylist.txt", "--screenshot", scratch + "/shot.png"},
      scratch);
}

// Its floor: a Qt window and the same FFmpeg libraries decoding the stream at `address`, with
// none of the player's code (bench/rss_floor_main.cpp).
double FloorPeakRssMib(const std::string& scratch, const std::string& address) {
  return PeakRssOfRunMib({DJKIVO_BINARY_DIR "/bench/djkivo-rss-floor", address}, scratch);
}

// The anchor of a category click: one libcurl GET and a PCRE2 scrape of the page.
double CurlScrapeMs(const std::string& address) {
  auto start = Clock::now();
  std::string body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnCurlData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  static test::Pcre2Pattern block(app::kCategoryBlockPattern);
  static test::Pcre2Pattern row(app::kCategoryRowPattern);
  auto rows = test::Pcre2ScrapeRows(body, block, row);
  if (rows.empty())
    std::fprintf(stderr, "window_bench: the anchor found no rows\n");
  return Ms(Clock::now() - start);
}

// Waits, running Qt's events, until `device` has played something; the time it took in ms, or
// a negative number when it never did.
double WaitForAudio(const NullDevice& device, std::uint64_t before, Clock::time_point start) {
  while (device.BytesPlayed() <= before) {
    if (Clock::now() - start > kAudioLimit)
      return -1;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
  return Ms(Clock::now() - start);
}

// The anchor of a double click: the bare chain, started on `address`, to its first audio.
double BareChainMs(const std::string& address) {
  auto device_owner = std::make_unique<NullDevice>();
  NullDevice& device = *device_owner;
  TMediaStreamIn source;
  TAudioCache cache;
  TSpectrumAnalyser analyser;
  cache.SetInput(&source);
  analyser.SetInput(&cache);
  TSoundOut output(std::move(device_owner));
  output.SetInput(&analyser);
  source.SetFileName(address);
  auto start = Clock::now();
  output.Run();
  double ms = WaitForAudio(device, 0, start);
  output.Stop(false);
  return ms;
}

// A play list file of `count` entries with names, uploaders and ids like the site's.
void WriteLongPlayList(const std::string& path, int count) {
  app::TarrMyListDj list;
  list.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    list.push_back(app::MakeMyListDj("DJ Bench Mix " + std::to_string(i) + " (Club Edit)",
                                     "uploader" + std::to_string(i % 977),
                                     std::to_string(900000000 + i)));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << app::FormatMyList(list);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  curl_global_init(CURL_GLOBAL_DEFAULT);
  test::TempFolder folder;
  demo::DemoSiteOptions site_options;
  site_options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
  demo::DemoSite site(site_options);
  site.Start();
  // Encode the songs the double clicks will play before anything is timed.
  const demo::DemoCategory& first = demo::DemoCatalogue::Categories()[0];
  std::vector<const demo::DemoSong*> played = site.Catalogue().CategoryPage(first, 1);
  played.resize(kPlays);
  for (const demo::DemoSong* song : played)
    site.EnsureAudio(*song, song->format);

  // --- Cold start: the first QApplication of the process to the window exposed.
  auto start = Clock::now();
  QApplication application(argc, argv);
  QtMainThread main_thread;
  MainThread::Install(&main_thread);
  app::QtLoadWaiter waiter([] {});
  app::Waiter::Install(&waiter);
  NullDevice* device = nullptr;
  app::TForm1Config config;
  config.catalogue_host = site.HostPort();
  config.home_host = site.HostPort();
  config.my_list_file_name = (folder.Path() / "mylist.txt").string();
  config.device_factory = [&device] {
    auto made = std::make_unique<NullDevice>();
    device = made.get();
    return made;
  };
  auto form = std::make_unique<app::TForm1>(std::move(config));
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get()))
    std::fprintf(stderr, "window_bench: the window was never exposed\n");
  const double start_ms = Ms(Clock::now() - start);

  // --- Category clicks, each from the home picture so every click loads; curl alternates.
  QListWidget* categories = form->SkinHeaderListBox1;
  auto click = [&](int index) {
    QTest::mouseClick(categories->viewport(), Qt::LeftButton, {},
                      categories->visualItemRect(categories->item(index)).center());
  };
  const int kinds[] = {1, 2, 3, 4, 7, 8, 9, 10};
  std::vector<double> clicks, curls;
  for (int i = 0; i < kClicks; ++i) {
    int index = kinds[i % 8];
    click(12);
    auto begin = Clock::now();
    click(index);
    form->SkinListView1->repaint();  // the rows on screen, not just in the model
    clicks.push_back(Ms(Clock::now() - begin));
    if (form->SkinListView1->model()->rowCount() != demo::kRowsPerPage)
      std::fprintf(stderr, "window_bench: category %d showed %d rows\n", index,
                   form->SkinListView1->model()->rowCount());
    curls.push_back(CurlScrapeMs(app::CategoryFirstPageAddress(site.HostPort(), index)));
  }

  // --- Double clicks on "最新推荐", each a new song, alternating with the bare chain.
  click(12);
  click(1);
  QTableView* table = form->SkinListView1;
  std::vector<double> plays, chains;
  for (int row = 0; row < kPlays; ++row) {
    form->SoundOut1->Stop(false);
    const std::uint64_t before = device->BytesPlayed();
    QRect rect = table->visualRect(table->model()->index(row, 0));
    auto begin = Clock::now();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, rect.center());
    double ms = WaitForAudio(*device, before, begin);
    if (ms < 0)
      std::fprintf(stderr, "window_bench: row %d never sounded\n", row);
    else
      plays.push_back(ms);
    const std::string address = form->MediaStreamIn1->FileName();
    form->SoundOut1->Stop(false);
    double chain = BareChainMs(address);
    if (chain > 0)
      chains.push_back(chain);
  }

  form->close();
  form.reset();

  // --- A play list of 100,000 songs, in a window of its own started on that file.
  app::TForm1Config long_config;
  long_config.catalogue_host = site.HostPort();
  long_config.home_host = site.HostPort();
  long_config.my_list_file_name = (folder.Path() / "longlist.txt").string();
  long_config.device_factory = [] { return std::make_unique<NullDevice>(); };
  WriteLongPlayList(long_config.my_list_file_name, kLongList);
  form = std::make_unique<app::TForm1>(std::move(long_config));
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get()))
    std::fprintf(stderr, "window_bench: the play list window was never exposed\n");
  categories = form->SkinHeaderListBox1;
  table = form->SkinListView1;
  std::vector<double> shows;
  for (int i = 0; i < kListShows; ++i) {
    click(12);
    QCoreApplication::processEvents();
    auto begin = Clock::now();
    click(5);
    table->repaint();
    shows.push_back(Ms(Clock::now() - begin));
    if (table->model()->rowCount() != kLongList)
      std::fprintf(stderr, "window_bench: the play list showed %d rows\n",
                   table->model()->rowCount());
  }
  form->close();
  form.reset();
  // Adding: the play list's own part of "加入到播放列表" (the window then also starts the song,
  // which dblclick_to_audio_ms measures), on a list loaded from the same 100,000-entry file.
  app::TMyList long_list((folder.Path() / "longlist.txt").string());
  long_list.Load();
  std::vector<double> adds;
  for (int i = 0; i < kListAdds; ++i) {
    const app::SongEntry song{"DJ Bench Added " + std::to_string(i), "bench",
                              std::to_string(800000000 + i)};
    auto begin = Clock::now();
    long_list.Add(song);
    adds.push_back(Ms(Clock::now() - begin));
  }
  app::TMyList reread((folder.Path() / "longlist.txt").string());
  reread.Load();
  if (reread.MyList().size() != static_cast<std::size_t>(kLongList + kListAdds))
    std::fprintf(stderr, "window_bench: the play list file holds %zu entries after the adds\n",
                 reread.MyList().size());

  // --- Memory: the real program, playing.
  const double rss = PlayerPeakRssMib(folder.Path().string(), site.HostPort());
  const demo::DemoSong& floor_song = site.Catalogue().Songs()[0];
  site.EnsureAudio(floor_song, demo::AudioFormat::kMp3);
  const double floor_rss = FloorPeakRssMib(folder.Path().string(),
                                           site.BaseAddress() + "/audio/" + floor_song.id + ".mp3");

  std::printf("%-22s %10s %10s\n", "measure", "ours", "anchor");
  std::printf("%-22s %10.2f %10s\n", "window_start_ms", start_ms, "-");
  std::printf("%-22s %10.2f %10.2f\n", "category_click_ms", Median(clicks), Median(curls));
  std::printf("%-22s %10.2f %10.2f\n", "dblclick_to_audio_ms", Median(plays), Median(chains));
  std::printf("%-22s %10.2f %10.2f\n", "playing_rss_mib", rss, floor_rss);
  PrintMeasure("window_start_ms", start_ms, 0, "<=300", "ms");
  PrintMeasure("category_click_ms", Median(clicks), Median(curls), "<=30", "ms");
  PrintMeasure("dblclick_to_audio_ms", Median(plays), Median(chains), "<=150", "ms");
  PrintMeasure("playing_rss_mib", rss, floor_rss, "<=64", "MiB");
  PrintMeasure("playlist_100k_show", Median(shows), 0, "<=100", "ms");
  PrintMeasure("playlist_100k_add", Median(adds), 0, "<=20", "ms");

  app::Waiter::Install(nullptr);
  main_thread.Close();
  MainThread::Install(nullptr);
  curl_global_cleanup();
  return 0;
}
