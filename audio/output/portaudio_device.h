// The PortAudio sound device (see portaudio_device.cpp).
#pragma once

#include <vector>

#include "audio/output/looping_device.h"

typedef void PaStream;
typedef int PaDeviceIndex;
struct PaStreamCallbackTimeInfo;
typedef unsigned long PaStreamCallbackFlags;

namespace djkivo {

/// The sound card. Entry 0 of the list is PortAudio's default output device, the others its
/// output devices in PortAudio's order, 16 at most. The stream runs from `InitBuffer` to
/// `Close`; while the buffer is stopped the callback plays silence. The callback runs on
/// PortAudio's thread and only calls `Render`, which neither locks, allocates nor blocks.
class PortAudioDevice : public LoopingDevice {
 public:
  PortAudioDevice();
  ~PortAudioDevice() override;

  std::vector<SoundDeviceEntry> Enumerate() override;
  SoundResult Create(int index) override;

 protected:
  SoundResult OpenStream(const WaveFormat& format) override;
  void CloseStream() override;

 private:
  static int Callback(const void* input, void* output, unsigned long frames,
                      const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags,
                      void* user);

  const bool initialized_;
  std::vector<PaDeviceIndex> devices_;  // list entry -> PortAudio device
  PaDeviceIndex device_ = -1;
  PaStream* stream_ = nullptr;
};

}  // namespace djkivo
