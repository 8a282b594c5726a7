// The WAV file sound device (see wav_device.cpp).
#pragma once

#include <cstdio>
#include <string>

#include "audio/output/null_device.h"

namespace djkivo {

/// Writes every byte the play cursor passes, with the volume applied, to the WAV file at
/// `path`, which each new buffer replaces. Real time: a clock takes the bytes as a sound card
/// would. Fast: the play cursor jumps to a crossing as soon as the output thread waits for
/// it, and `Stop` plays out what was written, so a whole song is written in the time it takes
/// to decode.
class WavDevice : public NullDevice {
 public:
  WavDevice(std::string path, bool realtime);
  ~WavDevice() override;

  std::vector<SoundDeviceEntry> Enumerate() override;
  HalfWait WaitHalf(int which, std::chrono::milliseconds timeout) override;
  SoundResult Stop() override;
  bool RealTime() const override { return realtime_; }

 protected:
  SoundResult OpenStream(const WaveFormat& format) override;
  void CloseStream() override;
  void Consumed(const std::uint8_t* data, std::uint32_t bytes) override;

 private:
  void WriteHeader();
  void FinishFile();

  const std::string path_;
  const bool realtime_;
  // Touched by the consuming thread under region_mutex_, or with no consumer running.
  std::FILE* file_ = nullptr;
  std::uint64_t data_bytes_ = 0;
};

}  // namespace djkivo
