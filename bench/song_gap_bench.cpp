// The gap between two songs of the play list: from the last sample of one song the sound device
// takes to the first sample of the next, through auto-advance in the real window (offscreen),
// with the demo site answering every page 300 ms late (a slow site). Ours reads the next song's
// play page while the song plays out; the anchor, measured in the same run, is the same window
// reading it only once the song has ended.
//
// The songs (1 to 2 s each) play on the WAV device in real time: in its fast mode a song is
// written in less time than one slow page takes, so no read-ahead could hide the page there,
// while a real song gives it all its length.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QApplication>

#include "app/load_waiter.h"
#include "app/main_form.h"
#include "app/qt_main_thread.h"
#include "audio/output/wav_device.h"
#include "bench/measure.h"
#include "demo/demo_site.h"
#include "demo/faults.h"
#include "tests/support/temp_folder.h"

namespace {

using namespace djkivo;
using Clock = std::chrono::steady_clock;

constexpr int kSongs = 12;  // songs played in each variant: 11 gaps
constexpr char kSlowPages[] = "delay=300";
constexpr auto kRunLimit = std::chrono::seconds(120);

// The WAV device in real time, noting when each stream's first and last bytes were taken.
class GapWatchingDevice final : public WavDevice {
 public:
  explicit GapWatchingDevice(std::string path) : WavDevice(std::move(path), true) {}

  /// Milliseconds from each stream's last byte to the next stream's first.
  std::vector<double> Gaps() const {
    std::lock_guard lock(mutex_);
    std::vector<double> gaps;
    for (std::size_t i = 1; i < streams_.size(); ++i)
      if (streams_[i].taken && streams_[i - 1].taken)
        gaps.push_back(
            std::chrono::duration<double, std::milli>(streams_[i].first - streams_[i - 1].last)
                .count());
    return gaps;
  }
  int Streams() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(streams_.size());
  }

 protected:
  SoundResult OpenStream(const WaveFormat& format) override {
    {
      std::lock_guard lock(mutex_);
      streams_.push_back({});
    }
    return WavDevice::OpenStream(format);
  }
  void Consumed(const std::uint8_t* data, std::uint32_t bytes) override {
    WavDevice::Consumed(data, bytes);
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    if (streams_.empty())
      return;
    Stream& stream = streams_.back();
    if (!stream.taken)
      stream.first = now;
    stream.taken = true;
    stream.last = now;
  }

 private:
  struct Stream {
    bool taken = false;
    Clock::time_point first{};
    Clock::time_point last{};
  };
  mutable std::mutex mutex_;
  std::vector<Stream> streams_;  // guarded by mutex_
};

// Plays `kSongs` songs through auto-advance; the median gap in ms (negative when the run did
// not get through).
double MedianGap(demo::DemoSite& site, const test::TempFolder& folder, bool read_ahead) {
  GapWatchingDevice* device = nullptr;
  app::TForm1Config config;
  config.catalogue_host = site.HostPort();
  config.home_host = site.HostPort();
  config.my_list_file_name = (folder.Path() / "mylist.txt").string();
  config.device_factory = [&device, &folder] {
    auto made = std::make_unique<GapWatchingDevice>((folder.Path() / "played.wav").string());
    device = made.get();
    return made;
  };
  if (!read_ahead)
    config.timing.prepare_ahead = std::chrono::seconds(0);
  config.error_box = [](const QString& message) {
    std::fprintf(stderr, "song_gap_bench: error box: %s\n", message.toLocal8Bit().constData());
  };
  config.info_box = [](const QString&) {};
  auto form = std::make_unique<app::TForm1>(std::move(config));
  form->show();
  form->PlayButtonClick();
  const Clock::time_point start = Clock::now();
  while (device->Streams() <= kSongs && Clock::now() - start < kRunLimit)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const std::vector<double> gaps = device->Gaps();
  form.reset();
  if (static_cast<int>(gaps.size()) < kSongs - 1) {
    std::fprintf(stderr, "song_gap_bench: only %zu gaps measured\n", gaps.size());
    return -1;
  }
  std::printf("%-28s median %7.1f ms, longest %7.1f ms over %zu gaps\n",
              read_ahead ? "next page read ahead" : "next page read at the end",
              bench::Median(gaps), *std::max_element(gaps.begin(), gaps.end()), gaps.size());
  return bench::Median(gaps);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  test::TempFolder folder;
  demo::DemoSiteOptions site_options;
  site_options.song_length = demo::SongLength::kShort;
  site_options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
  demo::DemoSite site(site_options);
  site.Start();
  std::string play_list;
  for (int i = 0; i < kSongs; ++i) {
    const demo::DemoSong& song = site.Catalogue().Songs()[i];
    site.EnsureAudio(song, song.format);  // encoded before anything is timed
    play_list += song.name + "|" + song.uploader + "|" + song.id + "\r\n";
  }
  folder.Write("mylist.txt", play_list);
  site.SetPageFaults(demo::ParseFaults(kSlowPages));

  QApplication application(argc, argv);
  QtMainThread main_thread;
  MainThread::Install(&main_thread);
  app::QtLoadWaiter waiter([] {});
  app::Waiter::Install(&waiter);

  const double anchor = MedianGap(site, folder, false);
  const double ours = MedianGap(site, folder, true);
  bench::PrintMeasure("song_gap_300ms_pages", ours, anchor, "<=150", "ms");

  app::Waiter::Install(nullptr);
  main_thread.Close();
  MainThread::Install(nullptr);
  site.Stop();
  return ours >= 0 && anchor >= 0 ? 0 : 1;
}
