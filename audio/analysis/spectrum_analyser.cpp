#include "audio/analysis/spectrum_analyser.h"

#include "audio/audio_error.h"
#include "audio/event_handler.h"

namespace djkivo {

TSpectrumAnalyser::TSpectrumAnalyser() : events_(TEventHandler::Acquire()) {}

TSpectrumAnalyser::~TSpectrumAnalyser() { events_->Forget(this); }

void TSpectrumAnalyser::SetOnGainData(TGenericEvent handler) {
  std::lock_guard lock(levels_lock_);
  on_gain_data_ = std::move(handler);
}

TSpectrumLevels TSpectrumAnalyser::Levels() const {
  std::lock_guard lock(levels_lock_);
  return levels_;
}

void TSpectrumAnalyser::OpenStage() {
  busy_.store(true);
  position_.store(0);
  TAudioInput* input = Input();
  if (!input)
    throw EAudioError("Input is not assigned");
  input->Open();
  bytes_per_sample_ = input->BitsPerSample() / 8;
  bands_.Open(bytes_per_sample_);
  {
    std::lock_guard lock(levels_lock_);
    levels_ = bands_.Levels();
  }
  size_.store(input->Size());
  position_.store(0);
}

void TSpectrumAnalyser::CloseStage() {
  if (TAudioInput* input = Input())
    input->Close();
  busy_.store(false);
}

void TSpectrumAnalyser::ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) {
  TAudioInput* input = Input();
  if (!input) {
    buffer = nullptr;
    bytes = 0;
    return;
  }
  position_.store(input->Position());
  const std::uint32_t cap = bytes_per_sample_ * SpectrumBands::kMaxSamples;
  if (cap != 0 && bytes > cap)
    bytes = cap;
  input->GetData(buffer, bytes);
  if (!buffer || bytes == 0)
    return;
  if (!bands_.Analyse(buffer, bytes, Channels(), SampleRate(), interval_.load(),
                      measuring_.load(std::memory_order_relaxed)))
    return;
  std::lock_guard lock(levels_lock_);
  levels_ = bands_.Levels();
  if (on_gain_data_)
    events_->PostEvent(this, on_gain_data_);
}

}  // namespace djkivo
