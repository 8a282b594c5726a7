#include "audio/output/sound_out.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <thread>

#include "audio/audio_error.h"
#include "audio/audio_thread.h"
#include "audio/event_handler.h"
#include "audio/output/ini_file.h"

namespace djkivo {

namespace {

// The PCM sub-format of the extensible layout, {00000001-0000-0010-8000-00AA00389B71}, as
// it lies in memory.
constexpr std::uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr const char* kIniSection = "AudioOutput";
constexpr const char* kIniKey = "Latency";

std::string BufferError(SoundResult code) {
  char text[64];
  std::snprintf(text, sizeof text, "Failed to create DirectSound buffer%08X", code);
  return text;
}

}  // namespace

TSoundOut::TSoundOut(std::unique_ptr<SoundDevice> device) : events_(TEventHandler::Acquire()) {
  snd_.device = std::move(device);
  SndOutEnumerate(snd_, devices_);
  device_count_ = static_cast<int>(devices_.size());
}

TSoundOut::~TSoundOut() {
  WriteIniFile();
  ShutDown();
  SndOutClose(snd_);
}

void TSoundOut::SetINIFile(const std::string& path) {
  ini_file_ = path;
  ReadIniFile();
}

void TSoundOut::ReadIniFile() {
  if (ini_file_.empty())
    return;
  const std::optional<std::string> value = ReadIniValue(ini_file_, kIniSection, kIniKey);
  if (!value || value->empty() || (*value)[0] == '-')
    return;
  char* end = nullptr;
  const unsigned long latency = std::strtoul(value->c_str(), &end, 10);
  if (*end == '\0' && latency <= UINT32_MAX)
    latency_.store(static_cast<std::uint32_t>(latency));
}

void TSoundOut::WriteIniFile() {
  if (ini_file_.empty() || !calibrate_.load())
    return;
  try {
    // Saving the calibrated latency is a convenience; a failure must not stop the exit.
    WriteIniValue(ini_file_, kIniSection, kIniKey, std::to_string(latency_.load()));
  } catch (...) {
  }
}

void TSoundOut::SetOnUnderrun(TGenericEvent handler) {
  std::lock_guard lock(handler_lock_);
  on_underrun_ = std::move(handler);
}

void TSoundOut::SetVolume(std::int32_t value) {
  volume_.store(value);
  if (closed_.load())
    return;
  if (SndOutSetVolume(snd_, value) == kSoundControlUnavail)
    throw std::runtime_error("Control not available");
}

void TSoundOut::Pause() { TAudioOutput::Pause(); }

void TSoundOut::Resume() {
  if (end_of_input_.load() || Status() != OutputStatus::kPaused)
    return;
  TAudioOutput::Resume();
}

void TSoundOut::PauseOutput() {
  // Stopped here, between two steps, the buffer is never stopped under a step that still waits
  // on it (which would then loop its last stretch, or time out as a dead device).
  if (end_of_input_.load() || closed_.load())
    return;
  SndOutStop(snd_);
  stopped_for_pause_.store(true);
}

void TSoundOut::ResumeOutput() {
  // Playback goes on where the buffer stopped, with what it still held; a buffer rebuilt
  // meanwhile (a latency change) is primed afresh by the next step instead.
  if (stopped_for_pause_.exchange(false) && !first_fill_.load())
    SndOutRestart(snd_);
}

std::chrono::microseconds TSoundOut::HalfPlayTime() const {
  const std::uint64_t bytes_per_second =
      static_cast<std::uint64_t>(bits_ / 8) * channels_ * device_rate_.load();
  return std::chrono::microseconds(
      bytes_per_second ? buffer_bytes_.load() / 2 * std::uint64_t{1000000} / bytes_per_second : 0);
}

std::chrono::milliseconds TSoundOut::HalfWaitBound() const {
  const std::uint64_t bytes_per_second =
      static_cast<std::uint64_t>(bits_ / 8) * channels_ * device_rate_.load();
  const std::uint64_t buffer_ms =
      bytes_per_second ? static_cast<std::uint64_t>(buffer_bytes_.load()) * 1000 / bytes_per_second
                       : 0;
  return std::chrono::milliseconds(2 * buffer_ms + 1000);
}

WaveFormat TSoundOut::MakeWaveFormat(std::uint32_t channels, std::uint32_t rate,
                                     std::uint32_t bits) {
  WaveFormat format;
  format.format_tag = channels <= 2 ? kWaveFormatPcm : kWaveFormatExtensible;
  format.channels = static_cast<std::uint16_t>(channels);
  format.samples_per_sec = rate;
  format.block_align = static_cast<std::uint16_t>(channels * (bits / 8));
  format.avg_bytes_per_sec = rate * format.block_align;
  format.bits_per_sample = static_cast<std::uint16_t>(bits);
  if (channels > 2) {
    format.extra_size = 22;
    format.channel_mask = channels == 6 ? 0x3F : channels == 8 ? 0xFF : 0;
    std::copy(std::begin(kPcmSubFormat), std::end(kPcmSubFormat), format.sub_format);
  }
  return format;
}

std::uint32_t TSoundOut::FrameCount(std::uint32_t latency_ms, std::uint32_t rate) {
  return static_cast<std::uint32_t>(2 * ((static_cast<std::uint64_t>(latency_ms) * rate) / 2000));
}

void TSoundOut::OpenOutput() {
  // A negative number would index before the list: it is as invalid as one past its end.
  const int number = device_number_.load();
  if (number < 0 || number >= device_count_)
    throw EAudioError("Invalid device number");
  TAudioInput* input = Input();
  input->Open();
  channels_ = input->Channels();
  bits_ = input->BitsPerSample();
  const std::uint32_t rate = input->SampleRate();
  const float speed = speed_factor_.load();
  // Rounded half to even, as the rate has always been rounded.
  device_rate_.store(speed == 1.0f ? rate
                                   : static_cast<std::uint32_t>(std::nearbyint(
                                         static_cast<double>(rate) * static_cast<double>(speed))));
  if (latency_.load() < kMinLatency)
    latency_.store(kMinLatency);
  if (SndOutCreate(snd_, number) != kSoundOk)
    throw EAudioError("Failed to create DirectSound device");
  rebuild_error_.clear();
  BuildBuffer();
  first_fill_.store(true);
  end_of_input_.store(false);
  stopped_for_pause_.store(false);
  underruns_.store(0);
  starving_ = false;
  recovered_ = false;
  closed_.store(false);
}

void TSoundOut::BuildBuffer() {
  const std::uint32_t rate = device_rate_.load();
  const std::uint32_t bytes = (bits_ / 8) * FrameCount(latency_.load(), rate) * channels_;
  buffer_bytes_.store(bytes);
  // Kept when the size stays: a device opened again keeps the half waiting to be written.
  if (scratch_.size() != bytes)
    scratch_.assign(bytes, 0);
  silence_ = bits_ == 8 ? 0x80 : 0;
  const SoundResult result = SndOutInitBuffer(snd_, MakeWaveFormat(channels_, rate, bits_), bytes);
  if (result != kSoundOk) {
    // Nothing half-made is kept: the device and the scratch block go now.
    SndOutClose(snd_);
    scratch_.clear();
    scratch_.shrink_to_fit();
    throw EAudioError(BufferError(result));
  }
}

void TSoundOut::SetLatency(std::uint32_t value) {
  if (closed_.load()) {
    latency_.store(value);
    return;
  }
  PauseAndWait(kRebuildPauseWait);
  std::string failure;
  {
    std::lock_guard lock(rebuild_lock_);
    latency_.store(value);  // no floor here: the floor applies at the next open
    // The buffer is rebuilt only while the run is parked in the pause; a run that ended
    // meanwhile (or would not park) picks the value up at its next open.
    if (!closed_.load() && Thread().Paused()) {
      SndOutStop(snd_);
      try {
        BuildBuffer();
        first_fill_.store(true);
        end_of_input_.store(false);
      } catch (const EAudioError& error) {
        failure = error.what();
        rebuild_error_ = failure;
      }
    }
  }
  Resume();
  if (!failure.empty())
    throw EAudioError(failure);
}

std::uint32_t TSoundOut::ReadHalf(std::uint32_t count) {
  TAudioInput* input = Input();
  const bool realtime = snd_.device->RealTime();
  // Half the play time of the half being read: the write then still comes well before the
  // device reaches it.
  const auto deadline = std::chrono::steady_clock::now() + HalfPlayTime() / 2;
  bool end = false;
  // Two pointers' worth of captures, which std::function keeps without a heap block: this
  // runs twice a step.
  std::uint32_t got = input->ReadInput(scratch_.data(), count, end, [this, &deadline] {
    if (!snd_.device->RealTime())
      return WaitForAudio();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return Input()->WaitReadable(std::max(left, std::chrono::milliseconds(0)));
  });
  if (end)
    end_of_input_.store(true);
  if (got < count && !end && realtime) {
    // Nothing more in time: the device plays silence here, never its last stretch again.
    std::fill(scratch_.begin() + got, scratch_.begin() + count, silence_);
    got = count;
    if (!starving_) {
      starving_ = true;
      bool seen = false;
      NoteUnderrun(seen);
    }
  } else if (got == count) {
    starving_ = false;
  }
  return got;
}

bool TSoundOut::WaitForAudio() {
  TAudioInput* input = Input();
  while (!input->WaitReadable(kAudioWaitSlice))
    if (RunCalledOff())
      return false;
  return true;
}

void TSoundOut::Prime(std::uint32_t count) {
  SndOutWrite(snd_, scratch_.data(), count);
  // A device without volume control plays at its own level rather than not at all; the
  // missing control is reported to whoever sets `Volume`.
  SndOutSetVolume(snd_, volume_.load());
  SndOutStart(snd_);
  first_fill_.store(false);
}

void TSoundOut::NoteUnderrun(bool& underrun_seen) {
  underrun_seen = true;
  underruns_.fetch_add(1);
  std::lock_guard lock(handler_lock_);
  if (on_underrun_)
    events_->PostEvent(this, on_underrun_);
}

bool TSoundOut::WaitHalf(int which, bool& underrun_seen) {
  switch (SndOutWaitHalf(snd_, which, HalfWaitBound())) {
    case HalfWait::kSet:
      return true;
    case HalfWait::kBothSet:
      SndOutClearHalf(snd_, 1 - which);
      NoteUnderrun(underrun_seen);
      return true;
    case HalfWait::kTimedOut:
      break;
  }
  if (recovered_) {
    SndOutStop(snd_);
    throw EAudioError("The sound device stopped responding");
  }
  // A headset unplugged, a sound server restarted, a resume from suspend: the song goes on on
  // the default device. What the old device still held is lost, nothing more.
  recovered_ = true;
  ReopenDefaultDevice();
  return false;
}

void TSoundOut::ReopenDefaultDevice() {
  std::lock_guard lock(rebuild_lock_);
  SndOutClose(snd_);
  if (SndOutCreate(snd_, 0) != kSoundOk) {
    closed_.store(true);
    throw EAudioError("Failed to create DirectSound device");
  }
  BuildBuffer();
}

void TSoundOut::CheckUnderrunFlag(bool& underrun_seen) {
  if (snd_.underrun)
    NoteUnderrun(underrun_seen);
}

void TSoundOut::Drain() {
  const std::uint64_t bytes_per_second =
      static_cast<std::uint64_t>(bits_ / 8) * channels_ * device_rate_.load();
  const auto play_ms = static_cast<std::uint32_t>(
      bytes_per_second ? std::lround(static_cast<double>(buffer_bytes_.load()) * 1000.0 /
                                     static_cast<double>(bytes_per_second))
                       : 0);
  for (std::uint32_t elapsed = 0; elapsed < play_ms;
       elapsed += static_cast<std::uint32_t>(kDrainStep.count())) {
    std::this_thread::sleep_for(kDrainStep);
    SndOutFillSilence(snd_, silence_);
  }
  SndOutStop(snd_);
}

bool TSoundOut::OutputStep(bool abort) {
  if (!Busy())
    return true;
  if (!Active())
    return false;
  if (abort) {
    SndOutStop(snd_);
    SetActive(false);
    return false;
  }
  if (!rebuild_error_.empty())
    throw EAudioError(rebuild_error_);
  const std::uint32_t half = buffer_bytes_.load() / 2;

  if (first_fill_.load()) {
    // A song, or a resume, starts with its audio, not with silence while the audio comes.
    if (!WaitForAudio())
      return true;  // a stop or a pause came first
    std::uint32_t count = 0;
    SndOutFreeSpace(snd_, &count);
    if (count == 0)
      count = half;
    Prime(ReadHalf(count));
  }

  if (end_of_input_.load()) {
    SetActive(false);
    Drain();
    return false;
  }

  bool underrun_seen = false;
  std::uint32_t got = ReadHalf(half);
  if (!WaitHalf(0, underrun_seen)) {
    Prime(got);  // the device was replaced: its new buffer starts with this half
    return true;
  }
  std::uint32_t free = 0;
  SndOutFreeSpace(snd_, &free);
  CheckUnderrunFlag(underrun_seen);
  if (free != 0) {
    SndOutWrite(snd_, scratch_.data(), got);
    if (end_of_input_.load()) {
      SndOutFillSilence(snd_, silence_);
      return true;
    }
    got = ReadHalf(half);
    if (!WaitHalf(1, underrun_seen)) {
      Prime(got);
      return true;
    }
    SndOutFreeSpace(snd_, &free);
    CheckUnderrunFlag(underrun_seen);
    if (free > 0) {
      SndOutWrite(snd_, scratch_.data(), got);
      if (end_of_input_.load()) {
        SndOutFillSilence(snd_, silence_);
        return true;
      }
    }
  }
  if (underrun_seen && calibrate_.load()) {
    events_->PostUrgentCall(this, [this](TComponent*) {
      try {
        SetLatency(Latency() + kCalibrationStep);
      } catch (const EAudioError&) {
        // The run ends with this failure at its next step.
      }
    });
  }
  return true;
}

void TSoundOut::CloseOutput() {
  {
    std::lock_guard lock(rebuild_lock_);
    if (!closed_.load()) {
      SndOutClose(snd_);
      scratch_.clear();
      scratch_.shrink_to_fit();
    }
    closed_.store(true);
  }
  if (TAudioInput* input = Input())
    input->Close();
}

}  // namespace djkivo
