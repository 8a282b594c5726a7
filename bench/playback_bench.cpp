// Playback cost: a 320 kbit/s MP3 played in real time through the whole chain into the null
// device (djkivo-cli play), against ffplay on the same file, both running at once; the same
// playback against its floor, decoding the file alone through the stream input in this
// process (best of three, after the playback); and the spectrum analysis alone against a plain
// 16-point FFT loop.
//
//   playback_bench [--seconds N]   (default 60: the file's length and so the run's)
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/analysis/spectrum_bands.h"
#include "audio/media_stream_in.h"
#include "bench/decode_cost.h"
#include "bench/measure.h"
#include "bench/quiet_child.h"
#include "tests/support/test_media.h"

namespace {

using djkivo::bench::PrintMeasure;

using djkivo::SpectrumBands;

// The song that shows the program's start alone.
constexpr int kStartSongSeconds = 1;

struct ProcessCost {
  double cpu_seconds = 0;
  double peak_rss_mb = 0;
  int status = -1;
};

ProcessCost Reap(pid_t pid) {
  ProcessCost cost;
  if (pid < 0)
    return cost;
  rusage usage{};
  int status = 0;
  if (wait4(pid, &status, 0, &usage) != pid)
    return cost;
  cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  cost.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  cost.peak_rss_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
  return cost;
}

// Stereo 16-bit pulls of 768 frames of a tone mix, as the output pulls them.
std::vector<std::uint8_t> TestPull() {
  std::vector<std::uint8_t> pcm(768 * 4);
  for (std::size_t f = 0; f < 768; ++f) {
    const double v = 0.4 * std::sin(0.05 * static_cast<double>(f)) +
                     0.3 * std::sin(0.9 * static_cast<double>(f));
    const auto s = static_cast<std::int16_t>(std::lrint(32767.0 * v));
    for (int c = 0; c < 2; ++c) {
      pcm[f * 4 + static_cast<std::size_t>(c) * 2] = static_cast<std::uint8_t>(s);
      pcm[f * 4 + static_cast<std::size_t>(c) * 2 + 1] =
          static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8);
    }
  }
  return pcm;
}

template <typename Fn>
double NsPerFrame(Fn&& body, std::uint64_t frames_per_call) {
  constexpr int kCalls = 20000;
  for (int i = 0; i < 200; ++i)
    body();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCalls; ++i)
    body();
  const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / static_cast<double>(kCalls * frames_per_call);
}

// The anchor: a plain 16-point FFT (precomputed twiddles, bit-reversed loading) over the mono
// mix, with the magnitudes of bins 0 to 7.
double PlainFftNsPerFrame(const std::vector<std::uint8_t>& pcm, volatile float& sink) {
  float twiddle_re[8];
  float twiddle_im[8];
  for (int k = 0; k < 8; ++k) {
    twiddle_re[k] = static_cast<float>(std::cos(-2.0 * M_PI * k / 16));
    twiddle_im[k] = static_cast<float>(std::sin(-2.0 * M_PI * k / 16));
  }
  return NsPerFrame(
      [&] {
        float total = 0;
        for (std::size_t b = 0; b < 768 / 16; ++b) {
          float re[16];
          float im[16] = {};
          for (std::size_t k = 0; k < 16; ++k) {
            std::int16_t l;
            std::int16_t r;
            std::memcpy(&l, &pcm[(b * 16 + k) * 4], 2);
            std::memcpy(&r, &pcm[(b * 16 + k) * 4 + 2], 2);
            const std::size_t rev =
                ((k & 1) << 3) | ((k & 2) << 1) | ((k & 4) >> 1) | ((k & 8) >> 3);
            re[rev] = (static_cast<float>(l) + static_cast<float>(r)) * (0.5f / 32768.0f);
          }
          for (std::size_t half = 1; half < 16; half *= 2)
            for (std::size_t i = 0; i < 16; i += 2 * half)
              for (std::size_t j = 0; j < half; ++j) {
                const std::size_t w = j * (8 / half);
                const std::size_t a = i + j;
                const std::size_t c = a + half;
                const float tr = twiddle_re[w] * re[c] - twiddle_im[w] * im[c];
                const float ti = twiddle_re[w] * im[c] + twiddle_im[w] * re[c];
                re[c] = re[a] - tr;
                im[c] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
              }
          for (int k = 0; k < 8; ++k)
            total += std::sqrt(re[k] * re[k] + im[k] * im[k]);
        }
        sink = sink + total;
      },
      768);
}

// CPU milliseconds of decoding `path` whole through the stream input, best of three.
double DecodeCpuMs(const std::string& path) {
  constexpr int kRuns = 3;
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    djkivo::TMediaStreamIn input;
    input.SetOrigin(djkivo::AddressOrigin::kUser);
    input.SetFileName(path);
    const double before = djkivo::bench::ProcessCpuMs();
    djkivo::bench::PullAll(input);
    best = std::min(best, djkivo::bench::ProcessCpuMs() - before);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = djkivo::bench::SecondsOption(argc, argv, 60);

  // --- The analyser alone.
  const std::vector<std::uint8_t> pcm = TestPull();
  SpectrumBands bands;
  bands.Open(2);
  volatile float sink = 0;
  const double ours_ns = NsPerFrame(
      [&] {
        if (bands.Analyse(pcm.data(), static_cast<std::uint32_t>(pcm.size()), 2, 44100, 100))
          sink = sink + bands.Levels()[0];
      },
      768);
  const double fft_ns = PlainFftNsPerFrame(pcm, sink);
  std::printf("spectrum analysis: %.2f ns per stereo frame; plain 16-point FFT loop: %.2f ns\n",
              ours_ns, fft_ns);

  // --- Real-time playback, ours and ffplay at once.
  const std::string media =
      djkivo::test::TestMediaPath(djkivo::test::TestMedia::kMp3Cbr320, seconds);
  const pid_t ours_pid =
      djkivo::bench::SpawnQuiet({DJKIVO_CLI_PATH, "play", media, "--device", "null"}, {});
  // No sound card here: ffplay's SDL gets the dummy audio driver, which still plays in real time.
  const pid_t ffplay_pid = djkivo::bench::SpawnQuiet(
      {"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", media}, {"SDL_AUDIODRIVER=dummy"});
  const ProcessCost ours = Reap(ours_pid);
  const ProcessCost ffplay = Reap(ffplay_pid);
  if (ours.status != 0 || ffplay.status != 0) {
    std::fprintf(stderr, "playback_bench: djkivo-cli exit %d, ffplay exit %d\n", ours.status,
                 ffplay.status);
    return 1;
  }
  const double minutes = seconds / 60.0;
  const double decode_ms = DecodeCpuMs(media);
  // The program's start (the dynamic linker and the libraries FFmpeg brings in) is paid once
  // per run, not per minute: a one-second song shows it, and what the playing costs beyond it.
  const ProcessCost start = Reap(djkivo::bench::SpawnQuiet(
      {DJKIVO_CLI_PATH, "play",
       djkivo::test::TestMediaPath(djkivo::test::TestMedia::kMp3Cbr320, kStartSongSeconds),
       "--device", "null"},
      {}));
  std::printf("real-time playback of %d s of 320 kbit/s MP3 into the null device:\n", seconds);
  std::printf("  djkivo-cli play: %.3f s CPU, %.1f MB peak RSS\n", ours.cpu_seconds,
              ours.peak_rss_mb);
  std::printf("  ffplay -nodisp (SDL_AUDIODRIVER=dummy): %.3f s CPU, %.1f MB peak RSS\n",
              ffplay.cpu_seconds, ffplay.peak_rss_mb);
  PrintMeasure("playback_cpu", ours.cpu_seconds / minutes, ffplay.cpu_seconds / minutes, "<=0.5",
               "cpu_s_per_audio_min");
  std::printf("  decoding alone (the floor): %.1f ms CPU\n", decode_ms);
  if (start.status == 0 && seconds > kStartSongSeconds) {
    const double beyond_ms =
        (ours.cpu_seconds - start.cpu_seconds) * 1000 / ((seconds - kStartSongSeconds) / 60.0);
    std::printf(
        "  a %d s song: %.1f ms CPU, most of it the start; beyond it, %.1f ms per audio minute, "
        "%.2f times decoding\n",
        kStartSongSeconds, start.cpu_seconds * 1000, beyond_ms, beyond_ms / (decode_ms / minutes));
  }
  PrintMeasure("playback_cpu_to_decode", ours.cpu_seconds * 1000 / minutes, decode_ms / minutes,
               "<=2.5", "ms_cpu_per_audio_min");
  PrintMeasure("playback_rss", ours.peak_rss_mb, ffplay.peak_rss_mb, "<=1.0", "MB");
  std::printf(
      "measure: spectrum_ns_per_frame ours=%.4g anchor=%.4g ratio=%.3f target=<=15 "
      "unit=ns\n",
      ours_ns, fft_ns, ours_ns / fft_ns);
  return 0;
}
