#include "audio/output/sound_device.h"

#include "audio/output/null_device.h"
#include "audio/output/portaudio_device.h"
#include "audio/output/wav_device.h"

namespace djkivo {

std::unique_ptr<SoundDevice> CreateSoundDevice(const std::string& name) {
  constexpr std::string_view kWav = "wav:";
  constexpr std::string_view kWavRealtime = "wav-realtime:";
  if (name.empty() || name == "portaudio")
    return std::make_unique<PortAudioDevice>();
  if (name == "null")
    return std::make_unique<NullDevice>();
  if (name.starts_with(kWav) && name.size() > kWav.size())
    return std::make_unique<WavDevice>(name.substr(kWav.size()), false);
  if (name.starts_with(kWavRealtime) && name.size() > kWavRealtime.size())
    return std::make_unique<WavDevice>(name.substr(kWavRealtime.size()), true);
  return nullptr;
}

}  // namespace djkivo
