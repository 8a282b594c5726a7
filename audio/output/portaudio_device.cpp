// The PortAudio sound device: the real sound card (through ALSA, or PulseAudio/PipeWire
// behind ALSA's default device). The looping buffer is ours; PortAudio's callback reads it
// at the play cursor.
#include "audio/output/portaudio_device.h"

#include <portaudio.h>

#include <algorithm>

#include "base/thread_name.h"

namespace djkivo {

namespace {

// The description of entry 0, the system's default output.
constexpr const char* kDefaultDescription = "Default output device";

PaSampleFormat SampleFormatFor(unsigned bits) {
  switch (bits) {
    case 8:
      return paUInt8;
    case 16:
      return paInt16;
    case 24:
      return paInt24;
    default:
      return paInt32;
  }
}

}  // namespace

PortAudioDevice::PortAudioDevice() : initialized_(Pa_Initialize() == paNoError) {}

PortAudioDevice::~PortAudioDevice() {
  Close();
  if (initialized_)
    Pa_Terminate();
}

std::vector<SoundDeviceEntry> PortAudioDevice::Enumerate() {
  std::vector<SoundDeviceEntry> list;
  devices_.clear();
  if (!initialized_)
    return list;
  const PaDeviceIndex fallback = Pa_GetDefaultOutputDevice();
  if (fallback == paNoDevice)
    return list;
  list.push_back({"", kDefaultDescription});
  devices_.push_back(fallback);
  const PaDeviceIndex count = Pa_GetDeviceCount();
  for (PaDeviceIndex i = 0; i < count && list.size() < kMaxSoundDevices; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (!info || info->maxOutputChannels <= 0)
      continue;
    std::string description = info->name ? info->name : "";
    if (description.size() > kMaxDeviceDescription)
      description.resize(kMaxDeviceDescription);
    list.push_back({std::to_string(i), std::move(description)});
    devices_.push_back(i);
  }
  return list;
}

SoundResult PortAudioDevice::Create(int index) {
  if (devices_.empty())
    Enumerate();
  if (index < 0 || static_cast<std::size_t>(index) >= devices_.size())
    return kSoundNoDriver;
  device_ = devices_[static_cast<std::size_t>(index)];
  return kSoundOk;
}

SoundResult PortAudioDevice::OpenStream(const WaveFormat& format) {
  const PaDeviceInfo* info = Pa_GetDeviceInfo(device_);
  if (!info)
    return kSoundNoDriver;
  PaStreamParameters params{};
  params.device = device_;
  params.channelCount = format.channels;
  params.sampleFormat = SampleFormatFor(format.bits_per_sample);
  params.suggestedLatency = info->defaultLowOutputLatency;
  PaStream* stream = nullptr;
  if (Pa_OpenStream(&stream, nullptr, &params, format.samples_per_sec, paFramesPerBufferUnspecified,
                    paNoFlag, &PortAudioDevice::Callback, this) != paNoError)
    return kSoundInvalidArg;
  if (Pa_StartStream(stream) != paNoError) {
    Pa_CloseStream(stream);
    return kSoundFail;
  }
  stream_ = stream;
  return kSoundOk;
}

void PortAudioDevice::CloseStream() {
  if (!stream_)
    return;
  Pa_AbortStream(stream_);
  Pa_CloseStream(stream_);
  stream_ = nullptr;
}

int PortAudioDevice::Callback(const void*, void* output, unsigned long frames,
                              const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
  // PortAudio starts this thread; it is named at its first block (a name is set without a lock).
  thread_local bool named = false;
  if (!named) {
    NameThisThread("djk-portaudio");
    named = true;
  }
  auto* self = static_cast<PortAudioDevice*>(user);
  const auto bytes = static_cast<std::uint32_t>(frames * self->Format().block_align);
  // The block the card takes next is about as long as this one: report it as committed.
  self->SetCommitted(std::min(bytes, self->BufferSize() / 4));
  self->Render(static_cast<std::uint8_t*>(output), bytes);
  return paContinue;
}

}  // namespace djkivo
