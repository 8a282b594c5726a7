// The stream input's costs: CPU to decode a minute of MP3 through TMediaStreamIn next to the
// ffmpeg tool decoding the same file, the time from Open to the first block of a song served by
// nginx on loopback, and the memory one open stream takes besides its queued blocks.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/media_stream_in.h"
#include "bench/decode_cost.h"
#include "bench/measure.h"
#include "tests/support/nginx_server.h"
#include "tests/support/process_stats.h"
#include "tests/support/run_process.h"
#include "tests/support/test_media.h"

namespace djkivo {
namespace {

using djkivo::bench::PrintMeasure;
using djkivo::bench::ProcessCpuMs;
using djkivo::bench::PullAll;

using test::TestMedia;

constexpr int kSongSeconds = 60;  // one minute of audio: the unit of the decode measures
constexpr int kDecodeRuns = 3;    // best of, for both sides
constexpr int kFirstBlockRuns = 21;
constexpr int kMemoryStreams = 4;

double ChildrenCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

void DecodeCpu(const char* name, TestMedia media) {
  const std::string path = test::TestMediaPath(media, kSongSeconds);
  double ours = 1e30, tool = 1e30, tool_start = 1e30;
  std::uint64_t bytes = 0;
  for (int run = 0; run < kDecodeRuns; ++run) {
    TMediaStreamIn input;
    input.SetOrigin(AddressOrigin::kUser);
    input.SetFileName(path);
    const double before = ProcessCpuMs();
    bytes = PullAll(input);
    ours = std::min(ours, ProcessCpuMs() - before);

    // The tool's own start (loading its libraries, parsing options) is not decoding: it is
    // measured on a run that stops after a few milliseconds of audio and taken off.
    for (const char* length : {"0.01", "999"}) {
      const double children = ChildrenCpuMs();
      test::RunProcess({test::kFfmpegTool, "-nostdin", "-v", "error", "-i", path, "-t", length,
                        "-f", "s16le", "-c:a", "pcm_s16le", "-y", "/dev/null"});
      double& best = length[0] == '0' ? tool_start : tool;
      best = std::min(best, ChildrenCpuMs() - children);
    }
  }
  const double minutes = kSongSeconds / 60.0;
  const double anchor = std::max(tool - tool_start, 0.001) / minutes;
  std::printf(
      "%-16s %8.1f ms CPU/min (%llu bytes)   ffmpeg tool %8.1f ms CPU/min "
      "(%.1f ms run less %.1f ms start)\n",
      name, ours / minutes, static_cast<unsigned long long>(bytes), anchor, tool, tool_start);
  PrintMeasure(name, ours / minutes, anchor, "<=1.1", "ms_cpu_per_audio_min");
}

void FirstBlock() {
  const std::string file = test::TestMediaFileName(TestMedia::kMp3Cbr128, kSongSeconds);
  test::TestMediaPath(TestMedia::kMp3Cbr128, kSongSeconds);
  test::NginxServer nginx("", test::TestMediaFolder());
  std::vector<double> times;
  for (int run = 0; run < kFirstBlockRuns; ++run) {
    TMediaStreamIn input;
    input.SetFileName(nginx.Url("/" + file));
    const auto start = std::chrono::steady_clock::now();
    input.Open();
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes = 4096;
    input.GetData(buffer, bytes);
    if (bytes == 0) {
      std::printf("first block: the stream gave no data\n");
      return;
    }
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    input.Close();
  }
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  std::printf("first block      median %.1f ms, min %.1f, max %.1f (%d opens, nginx loopback)\n",
              median, times.front(), times.back(), kFirstBlockRuns);
  PrintMeasure("first_block_ms", median, 0, "<=50", "ms");
}

// Streams that are open but not read: each reader holds back once its queue passes the limit,
// so the growth per stream is its queue plus everything else the open takes.
void StreamMemory() {
  const std::string file = test::TestMediaFileName(TestMedia::kMp3Cbr128, kSongSeconds);
  test::NginxServer nginx("", test::TestMediaFolder());
  {
    TMediaStreamIn warm;  // loads codec tables and the like once
    warm.SetFileName(nginx.Url("/" + file));
    PullAll(warm);
  }
  const double before = test::ResidentMib();
  std::vector<std::unique_ptr<TMediaStreamIn>> inputs;
  for (int i = 0; i < kMemoryStreams; ++i) {
    inputs.push_back(std::make_unique<TMediaStreamIn>());
    inputs.back()->SetFileName(nginx.Url("/" + file));
    inputs.back()->Open();
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes = 4096;
    inputs.back()->GetData(buffer, bytes);
  }
  // Let every reader run into its hold-back limit.
  timespec pause{1, 0};
  nanosleep(&pause, nullptr);
  const double per_stream = (test::ResidentMib() - before) / kMemoryStreams;
  const double queued = MediaReader::kHoldBackBytes / 1048576.0;
  std::printf("stream memory    %.2f MiB per open stream, of which about %.2f MiB queued blocks\n",
              per_stream, queued);
  PrintMeasure("stream_memory_mib", per_stream - queued, 0, "<=8", "MiB");
  for (auto& input : inputs)
    input->Close();
}

}  // namespace
}  // namespace djkivo

int main() {
  using djkivo::test::TestMedia;
  djkivo::DecodeCpu("decode_cpu_320k", TestMedia::kMp3Cbr320);
  djkivo::DecodeCpu("decode_cpu_128k", TestMedia::kMp3Cbr128);
  djkivo::FirstBlock();
  djkivo::StreamMemory();
  return 0;
}
