// The network's return after a drop, as a listener hears it: a song streamed from the demo site
// at about its bit rate (so little is read ahead) through the window's chain, in real time on
// the null device; 10 s in, the site drops the connection and refuses every connection for
// 40 s. Measured: from the moment the site takes connections again to the first audible sample
// after the silence. The reconnect's back-off (at most 5 s between attempts) bounds it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "audio/analysis/spectrum_analyser.h"
#include "audio/audio_cache.h"
#include "audio/media_stream_in.h"
#include "audio/output/null_device.h"
#include "audio/output/sound_out.h"
#include "base/main_thread.h"
#include "bench/measure.h"
#include "demo/demo_site.h"

namespace djkivo {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kDropSeconds = 40;
constexpr int kMp3BytesPerSecond = 16000;  // the site's 128 kbit/s
constexpr int kSecondsBeforeDrop = 10;
// Faster than the bit rate, so the song keeps up, but not by much, so little is read ahead.
constexpr int kPaceBytesPerSecond = 20000;
// Silence at least this long, after audio, is the drop being heard.
constexpr auto kSilenceHeard = 2s;

// The null device on its clock, noting when audio comes back after a stretch of silence.
class ListeningDevice : public NullDevice {
 public:
  ListeningDevice() : NullDevice(1, false) {}
  std::optional<Clock::time_point> SoundAfterSilence() {
    std::lock_guard lock(mutex_);
    return back_;
  }

 protected:
  void Consumed(const std::uint8_t* data, std::uint32_t bytes) override {
    const bool audible = std::any_of(data, data + bytes, [](std::uint8_t b) { return b != 0; });
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    if (!audible) {
      if (!silent_since_)
        silent_since_ = now;
      return;
    }
    if (heard_ && silent_since_ && now - *silent_since_ >= kSilenceHeard && !back_)
      back_ = now;
    heard_ = true;
    silent_since_.reset();
  }

 private:
  std::mutex mutex_;
  bool heard_ = false;  // --- guarded by mutex_
  std::optional<Clock::time_point> silent_since_;
  std::optional<Clock::time_point> back_;
};

double SecondsToSoundAfterTheReturn() {
  demo::DemoSiteOptions options;
  options.cache_folder = DJKIVO_BINARY_DIR "/demo-audio";
  demo::DemoSite site(options);
  site.Start();
  const auto& songs = site.Catalogue().Songs();
  const demo::DemoSong& song =
      *std::max_element(songs.begin(), songs.end(),
                        [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
  site.EnsureAudio(song, demo::AudioFormat::kMp3);
  QueueMainThread main;
  MainThread::Install(&main);
  double seconds = -1;
  {
    auto device = std::make_unique<ListeningDevice>();
    ListeningDevice* listening = device.get();
    TMediaStreamIn stream;
    TAudioCache cache;
    TSpectrumAnalyser analyser;
    TSoundOut out(std::move(device));
    cache.SetInput(&stream);
    analyser.SetInput(&cache);
    out.SetInput(&analyser);
    stream.SetFileName(site.BaseAddress() + "/_f/slow=" + std::to_string(kPaceBytesPerSecond) +
                       ",drop=" + std::to_string(kDropSeconds) + "@" +
                       std::to_string(kSecondsBeforeDrop * kMp3BytesPerSecond) + "/audio/" +
                       song.id + ".mp3");
    out.Run();
    const Clock::time_point limit = Clock::now() + 3min;
    std::optional<Clock::time_point> back;
    Clock::time_point returned{};
    while (Clock::now() < limit && !(back = listening->SoundAfterSilence())) {
      main.Pump(100ms);
      if (site.RefusedUntil() > returned)
        returned = site.RefusedUntil();
    }
    if (back && returned != Clock::time_point{})
      seconds = std::chrono::duration<double>(*back - returned).count();
    out.Stop(false);
  }
  MainThread::Install(nullptr);
  return seconds;
}

}  // namespace
}  // namespace djkivo

int main() {
  const double seconds = djkivo::SecondsToSoundAfterTheReturn();
  std::printf("network back after a %d s drop -> sound again: %.2f s\n", djkivo::kDropSeconds,
              seconds);
  djkivo::bench::PrintMeasure("reconnect_return_to_sound", seconds, 0, "<=6", "s");
  return seconds < 0 ? 1 : 0;
}
