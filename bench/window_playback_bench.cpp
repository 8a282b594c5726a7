// The window's CPU while it plays a song: shown on an X server of its own (Xvfb) with its
// spectrum and time drawn, against ffplay's own spectrum window (-showmode rdft) playing the same
// stream at the same time; then hidden and minimised, against the command line player on the
// same stream. Each span is the same length; the figures are CPU seconds per audio minute.
//
// The window plays into the null device, ffplay into SDL's dummy audio driver; both fetch the
// song from the demo site this program runs, so the site's serving counts on our side. A window
// manager (openbox) runs on the display, so that minimising is carried out as on a desktop.
//
//   window_playback_bench [--seconds N]   (default 15: the length of each span)
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QListWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "app/load_waiter.h"
#include "app/main_form.h"
#include "app/qt_main_thread.h"
#include "app/song_list.h"
#include "audio/media_stream_in.h"
#include "audio/output/null_device.h"
#include "audio/output/sound_out.h"
#include "bench/decode_cost.h"
#include "bench/measure.h"
#include "bench/quiet_child.h"
#include "demo/demo_site.h"
#include "tests/support/temp_folder.h"
#include "tests/support/virtual_display.h"

namespace {

using namespace djkivo;
using djkivo::bench::PrintMeasure;

// The song must outlast the three spans and the start.
constexpr double kSpareSeconds = 10;
// Openbox is ready in a second or two; this is for a loaded machine.
constexpr auto kWindowManagerLimit = std::chrono::seconds(30);

// CPU seconds a child used until it ended, or -1 when it failed.
double ReapCpuSeconds(pid_t pid) {
  rusage usage{};
  int status = 0;
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0)
    return -1;
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds this process spends while Qt runs its events for `seconds`, in an event loop as
// the program's own: QTest::qWait would wake every 10 ms to look at its clock, and that would
// be counted as the window's.
double WindowCpuSeconds(int seconds) {
  const double before = bench::ProcessCpuMs();
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  return (bench::ProcessCpuMs() - before) / 1000;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = bench::SecondsOption(argc, argv, 15);
  test::VirtualDisplay display;  // before Qt and before any thread
  if (display.Display().empty()) {
    std::fprintf(stderr, "window_playback_bench: no Xvfb, nothing measured\n");
    return 1;
  }
  test::TempFolder folder;
  // The window manager and Qt read the system's settings, not the user's.
  setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
  if (const std::string why = display.StartWindowManager(kWindowManagerLimit); !why.empty()) {
    std::fprintf(stderr, "window_playback_bench: %s, nothing measured\n", why.c_str());
    return 1;
  }
  demo::DemoSiteOptions site_options;
  site_options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
  demo::DemoSite site(site_options);
  site.Start();
  const demo::DemoCategory& first = demo::DemoCatalogue::Categories()[0];
  const std::vector<const demo::DemoSong*> page = site.Catalogue().CategoryPage(first, 1);
  int row = -1;
  for (std::size_t i = 0; i < page.size() && row < 0; ++i)
    if (page[i]->seconds >= 3 * seconds + kSpareSeconds)
      row = static_cast<int>(i);
  if (row < 0) {
    std::fprintf(stderr, "window_playback_bench: no song of %g s on the first page\n",
                 3 * seconds + kSpareSeconds);
    return 1;
  }
  site.EnsureAudio(*page[static_cast<std::size_t>(row)],
                   page[static_cast<std::size_t>(row)]->format);

  QApplication application(argc, argv);
  QtMainThread main_thread;
  MainThread::Install(&main_thread);
  app::QtLoadWaiter waiter([] {});
  app::Waiter::Install(&waiter);
  app::TForm1Config config;
  config.catalogue_host = site.HostPort();
  config.home_host = site.HostPort();
  config.my_list_file_name = (folder.Path() / "mylist.txt").string();
  config.device_factory = [] { return std::make_unique<NullDevice>(); };
  auto form = std::make_unique<app::TForm1>(std::move(config));
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get()))
    std::fprintf(stderr, "window_playback_bench: the window was never exposed\n");
  QListWidget* categories = form->SkinHeaderListBox1;
  QTest::mouseClick(categories->viewport(), Qt::LeftButton, {},
                    categories->visualItemRect(categories->item(1)).center());
  QTableView* table = form->SkinListView1;
  table->scrollTo(table->model()->index(row, 0));
  const QRect rect = table->visualRect(table->model()->index(row, 0));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
  QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, rect.center());
  QTest::qWait(1000);  // the song starts and its first fill settles
  const std::string address = form->MediaStreamIn1->FileName();
  std::printf("playing row %d: %s\n", row, address.c_str());

  // --- Shown, beside ffplay's spectrum window on the same stream.
  const std::string span = std::to_string(seconds);
  const pid_t ffplay = bench::SpawnQuiet(
      {"ffplay", "-showmode", "rdft", "-autoexit", "-t", span, "-loglevel", "quiet", address},
      {"SDL_AUDIODRIVER=dummy"});
  const double shown = WindowCpuSeconds(seconds);
  const double ffplay_cpu = ReapCpuSeconds(ffplay);
  // --- Hidden (in the tray), then minimised.
  form->hide();
  const double hidden = WindowCpuSeconds(seconds);
  form->showMinimized();
  const double minimised = WindowCpuSeconds(seconds);
  if (form->windowHandle() && form->windowHandle()->isExposed())
    std::fprintf(stderr, "window_playback_bench: the minimised window is still on the screen\n");
  const bool still_playing = form->SoundOut1->Status() == OutputStatus::kPlaying;
  form->SoundOut1->Stop(false);
  // --- The command line player on the same stream, alone.
  const double cli = ReapCpuSeconds(bench::SpawnQuiet(
      {DJKIVO_CLI_PATH, "play", address, "--device", "null", "--seconds", span}, {}));
  form->close();
  form.reset();
  app::Waiter::Install(nullptr);
  main_thread.Close();
  MainThread::Install(nullptr);
  if (!still_playing || ffplay_cpu < 0 || cli < 0) {
    std::fprintf(stderr, "window_playback_bench: playing %d, ffplay %g s, cli %g s\n",
                 still_playing, ffplay_cpu, cli);
    return 1;
  }
  const double per_minute = 60.0 / seconds;
  std::printf(
      "%d s spans: shown %.3f s CPU (ffplay -showmode rdft %.3f s), hidden %.3f s, "
      "minimised %.3f s, djkivo-cli play %.3f s\n",
      seconds, shown, ffplay_cpu, hidden, minimised, cli);
  PrintMeasure("window_playback_cpu", shown * per_minute, ffplay_cpu * per_minute, "<=0.5",
               "cpu_s_per_audio_min");
  PrintMeasure("window_hidden_cpu", hidden * per_minute, cli * per_minute, "<=1.3",
               "cpu_s_per_audio_min");
  PrintMeasure("window_minimised_cpu", minimised * per_minute, cli * per_minute, "<=1.3",
               "cpu_s_per_audio_min");
  return 0;
}
