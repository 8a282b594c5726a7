// What decoding alone costs: the floor a player's CPU is measured against. Shared by the
// benchmarks that compare with it.
#pragma once

#include <time.h>

#include <cstdint>

#include "audio/media_stream_in.h"

namespace djkivo::bench {

/// CPU time this process has used so far, all threads, in milliseconds.
inline double ProcessCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

/// Pulls the whole song through the stream input as fast as it comes; returns the bytes.
inline std::uint64_t PullAll(TMediaStreamIn& input) {
  input.Open();
  std::uint64_t total = 0;
  while (true) {
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes = 1 << 16;
    input.GetData(buffer, bytes);
    if (bytes == 0)
      break;
    total += bytes;
  }
  input.Close();
  return total;
}

}  // namespace djkivo::bench
