#include "app/core/audio_chain.h"

#include <utility>

namespace djkivo::app {

AudioChain::AudioChain(std::unique_ptr<SoundDevice> device) : SoundOut1(std::move(device)) {
  MediaStreamIn1.SetBufferingTime(kBufferingSeconds);
  MediaStreamIn1.SetMaxWaitMilliseconds(10000);
  MediaStreamIn1.SetLoop(false);
  MediaStreamIn1.SetEnableHTTP(false);
  MediaStreamIn1.SetEnableTCP(false);
  MediaStreamIn1.SetEnableUDP(false);
  MediaStreamIn1.SetProxyPort(0);
  MediaStreamIn1.SetStretchFactor(1.0f);
  MediaStreamIn1.SetOrigin(AddressOrigin::kNetwork);

  AudioCache1.SetInput(&MediaStreamIn1);

  SpectrumAnalyser1.SetInput(&AudioCache1);
  SpectrumAnalyser1.SetInterval(kGainInterval);

  SoundOut1.SetInput(&SpectrumAnalyser1);
  SoundOut1.SetDeviceNumber(0);
  SoundOut1.SetLatency(kLatency);
  SoundOut1.SetSpeedFactor(1.0f);
  SoundOut1.SetCalibrate(false);
}

}  // namespace djkivo::app
