// The chain the window plays through, built for tests: stream input, cache, spectrum analyser
// and sound output, wired in that order, on a device named as `CreateSoundDevice` takes it.
#pragma once

#include <string>

#include "audio/analysis/spectrum_analyser.h"
#include "audio/audio_cache.h"
#include "audio/media_stream_in.h"
#include "audio/output/sound_out.h"

namespace djkivo::test {

/// Counts the output's done events and keeps its thread's error message; both are updated on
/// the main thread, so read them there. The components are destroyed output first.
struct PlayChain {
  explicit PlayChain(const std::string& device) : out(CreateSoundDevice(device)) {
    cache.SetInput(&stream);
    analyser.SetInput(&cache);
    out.SetInput(&analyser);
    out.SetOnDone([this](TComponent*) { ++done; });
    out.SetOnThreadException([this](TComponent*) { error = out.ErrorMessage(); });
  }

  TMediaStreamIn stream;
  TAudioCache cache;
  TSpectrumAnalyser analyser;
  TSoundOut out;
  int done = 0;
  std::string error;
};

}  // namespace djkivo::test
