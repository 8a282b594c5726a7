// Wake-ups of the player while it plays and while it is paused: the context switches of all
// its threads per second of audio, counted by the kernel (/proc/PID/task/*/status). The chain is
// the command line player's (stream input, cache, spectrum analyser, sound output into the null
// device, this program's main thread pumping its events); the anchor while playing is ffplay
// playing the same 320 kbit/s MP3 at the same time (no display, SDL's dummy audio driver).
//
//   wakeups_bench [--seconds N]   (default 20: the span counted while playing)
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/main_thread.h"
#include "bench/allocation_counter.h"
#include "bench/measure.h"
#include "bench/quiet_child.h"
#include "tests/support/play_chain.h"
#include "tests/support/test_media.h"
#include "tests/support/thread_tasks.h"

namespace {

using djkivo::bench::PrintMeasure;
using djkivo::test::ListThreadTasks;
using djkivo::test::SwitchesBetween;
using djkivo::test::ThreadTask;

// Playing settles (the first fill of the cache, the first blocks) before counting starts.
constexpr std::chrono::seconds kSettle{3};
constexpr std::chrono::seconds kPausedSpan{10};
// The song goes on this long after the spans: longer than the read-ahead (the cache's ring and
// the reader's queue, about 48 s), so the reader still reads, and is counted, while they run.
constexpr std::chrono::seconds kSongAfterSpans{60};
// The longest the main loop sleeps when no event comes, as the command line player's does.
constexpr std::chrono::milliseconds kPumpStep{60000};

void PumpFor(djkivo::QueueMainThread& main, std::chrono::steady_clock::duration span) {
  const auto end = std::chrono::steady_clock::now() + span;
  for (auto now = std::chrono::steady_clock::now(); now < end;
       now = std::chrono::steady_clock::now())
    main.Pump(std::min(kPumpStep, std::chrono::duration_cast<std::chrono::milliseconds>(end - now) +
                                      std::chrono::milliseconds(1)));
}

std::uint64_t Total(const std::map<std::string, std::uint64_t>& by_name) {
  std::uint64_t total = 0;
  for (const auto& [name, switches] : by_name)
    total += switches;
  return total;
}

void PrintByThread(const char* what, const std::map<std::string, std::uint64_t>& by_name,
                   double seconds) {
  std::printf("%s, per second, by thread:\n", what);
  for (const auto& [name, switches] : by_name)
    std::printf("  %-16s %8.2f\n", name.c_str(), static_cast<double>(switches) / seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = djkivo::bench::SecondsOption(argc, argv, 20);
  const int song_seconds =
      seconds + static_cast<int>(kSettle.count() + kPausedSpan.count() + kSongAfterSpans.count());
  const std::string media =
      djkivo::test::TestMediaPath(djkivo::test::TestMedia::kMp3Cbr320, song_seconds);

  djkivo::QueueMainThread main_thread;
  djkivo::MainThread::Install(&main_thread);
  int status = 0;
  {
    djkivo::test::PlayChain chain("null");
    chain.stream.SetOrigin(djkivo::AddressOrigin::kUser);
    chain.stream.SetFileName(media);
    chain.out.Run();
    const pid_t ffplay = djkivo::bench::SpawnQuiet(
        {"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", media}, {"SDL_AUDIODRIVER=dummy"});
    PumpFor(main_thread, kSettle);

    const std::vector<ThreadTask> ours_start = ListThreadTasks();
    const std::vector<ThreadTask> ffplay_start = ListThreadTasks(ffplay);
    const std::uint64_t allocations_before = djkivo::bench::Allocations();
    PumpFor(main_thread, std::chrono::seconds(seconds));
    const std::uint64_t allocations = djkivo::bench::Allocations() - allocations_before;
    const auto playing = SwitchesBetween(ours_start, ListThreadTasks());
    const auto ffplay_playing = SwitchesBetween(ffplay_start, ListThreadTasks(ffplay));

    chain.out.Pause();
    PumpFor(main_thread, std::chrono::seconds(1));
    const std::vector<ThreadTask> paused_start = ListThreadTasks();
    PumpFor(main_thread, kPausedSpan);
    const auto paused = SwitchesBetween(paused_start, ListThreadTasks());
    chain.out.Resume();
    chain.out.Stop(false);
    if (ffplay > 0) {
      kill(ffplay, SIGTERM);
      waitpid(ffplay, nullptr, 0);
    }
    if (chain.done != 0 || !chain.error.empty()) {
      std::fprintf(stderr, "wakeups_bench: the song ended early: %s\n", chain.error.c_str());
      status = 1;
    }

    const double span = seconds;
    const double paused_span = static_cast<double>(kPausedSpan.count());
    PrintByThread("playing", playing, span);
    PrintByThread("ffplay playing", ffplay_playing, span);
    PrintByThread("paused", paused, paused_span);
    // The steady state once the read-ahead is full: the output's steps, the cache's refills and
    // the reader's blocks; the reader's blocks are the only ones that should allocate.
    std::printf("heap allocations while playing: %.1f a second\n",
                static_cast<double>(allocations) / span);
    PrintMeasure("playback_wakeups", static_cast<double>(Total(playing)) / span,
                 static_cast<double>(Total(ffplay_playing)) / span, "<=20", "switches_per_s");
    PrintMeasure("paused_wakeups", static_cast<double>(Total(paused)) / paused_span, 0, "<=2",
                 "switches_per_s");
  }
  djkivo::MainThread::Install(nullptr);
  return status;
}
