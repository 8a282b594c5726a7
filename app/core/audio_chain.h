// The player's audio chain, wired once with the settings of the window's layout: stream input,
// pre-buffer cache, spectrum analyser and sound output, each pulling from the one before it.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/analysis/spectrum_analyser.h"
#include "audio/audio_cache.h"
#include "audio/media_stream_in.h"
#include "audio/output/sound_out.h"

namespace djkivo::app {

/// The four stages under their layout names. Construct, wire events on and destroy on the main
/// thread; the output is destroyed first (it is declared last), so its thread has ended before
/// the stages it pulls from go. The owner sets the events it wants (`SoundOut1.SetOnDone`,
/// `SpectrumAnalyser1.SetOnGainData`); none is set here.
struct AudioChain {
  /// Seconds of network buffering asked of the reader before each song.
  static constexpr std::uint16_t kBufferingSeconds = 2;
  /// The analyser's tick, in milliseconds of audio: the display's refresh.
  static constexpr std::uint32_t kGainInterval = 100;
  /// The sound buffer's length in milliseconds.
  static constexpr std::uint32_t kLatency = 100;

  /// Plays through `device`, which must not be null.
  explicit AudioChain(std::unique_ptr<SoundDevice> device);

  TMediaStreamIn MediaStreamIn1;
  TAudioCache AudioCache1;
  TSpectrumAnalyser SpectrumAnalyser1;
  TSoundOut SoundOut1;
};

}  // namespace djkivo::app
