#include "audio/audio_file_in.h"

#include <algorithm>
#include <cmath>

#include "audio/audio_error.h"

namespace djkivo {

namespace {
// What a source that cannot be read reports, so the chain can still open and end at once.
constexpr std::uint32_t kInvalidRate = 8000;
constexpr std::uint32_t kInvalidBits = 8;
constexpr std::uint32_t kInvalidChannels = 1;
}  // namespace

TAudioFileIn::TAudioFileIn() { seekable_.store(true); }

std::uint32_t TAudioFileIn::BitsPerSample() {
  OpenSource();
  return source_bits_.load();
}

std::uint32_t TAudioFileIn::Channels() {
  OpenSource();
  return source_channels_.load();
}

std::uint32_t TAudioFileIn::SampleRate() {
  OpenSource();
  return source_rate_.load();
}

std::uint32_t TAudioFileIn::TotalTime() {
  OpenSource();
  const std::uint64_t per_second =
      std::uint64_t{source_rate_.load()} * source_channels_.load() * (source_bits_.load() / 8);
  const std::int64_t size = size_.load();
  if (per_second == 0 || size <= 0)
    return 0;
  return static_cast<std::uint32_t>(std::llround(static_cast<double>(size) / per_second));
}

std::int64_t TAudioFileIn::TotalSamples() {
  OpenSource();
  const std::int64_t frame = std::int64_t{source_channels_.load()} * (source_bits_.load() / 8);
  const std::int64_t size = size_.load();
  if (size <= 0 || frame == 0)
    return -1;
  return size / frame;
}

void TAudioFileIn::Reset() {
  TAudioInput::Reset();
  open_count_.store(0);
}

void TAudioFileIn::SetStream(std::istream* stream) {
  {
    std::lock_guard lock(data_lock_);
    if (busy_.load())
      CloseStage();
    else
      CloseSource();
  }
  TAudioStreamedInput::SetStream(stream);
}

std::string TAudioFileIn::FileName() const {
  std::lock_guard lock(name_lock_);
  return file_name_;
}

void TAudioFileIn::SetFileName(const std::string& name) {
  {
    std::lock_guard lock(data_lock_);
    if (busy_.load())
      CloseStage();
    else
      CloseSource();
  }
  std::lock_guard lock(name_lock_);
  file_name_ = name;
}

void TAudioFileIn::OpenStage() {
  if (busy_.load())
    throw EAudioError("The component is Busy");
  if (stream_ == nullptr && FileName().empty())
    throw EAudioError("The file name is not assigned");
  busy_.store(true);
  position_.store(0);
  try {
    OpenSource();
  } catch (...) {
    // A source that failed to open is not open: the next attempt must not meet "Busy".
    busy_.store(false);
    throw;
  }
  if (!valid_.load()) {
    source_rate_.store(kInvalidRate);
    source_bits_.store(kInvalidBits);
    source_channels_.store(kInvalidChannels);
    total_samples_.store(0);
    size_.store(0);
    total_time_.store(0);
    return;
  }
  const std::uint32_t frame = source_channels_.load() * (source_bits_.load() / 8);
  frame_size_.store(static_cast<std::uint16_t>(frame));
  const std::int64_t size = size_.load();
  const std::int64_t total = (frame > 0 && size > 0) ? size / frame : 0;
  total_samples_.store(total);
  const std::uint32_t rate = source_rate_.load();
  total_time_.store(rate > 0 ? static_cast<std::uint32_t>(total / rate) : 0);

  const std::int64_t start = start_sample_.load();
  if (start > 0) {
    std::int64_t landed = start;
    SeekSample(landed);
    position_.store(0);
  }
  std::int64_t end = end_sample_.load();
  if (start <= 0 && end == -1)
    return;
  if (end > total)
    end = -1;
  end_sample_.store(end);
  // The end sample is inclusive; without one the window ends at the last frame.
  const std::int64_t last = end == -1 ? total - 1 : end;
  const std::int64_t window =
      std::max<std::int64_t>(0, last - std::max<std::int64_t>(start, 0) + 1);
  total_samples_.store(window);
  size_.store(window * frame);
}

void TAudioFileIn::CloseStage() {
  CloseSource();
  start_sample_.store(0);
  end_sample_.store(-1);
  busy_.store(false);
}

bool TAudioFileIn::Seek(std::int64_t sample) {
  if (!seekable_.load())
    return false;
  const std::int64_t total = total_samples_.load();
  if (total != 0 && sample > total)
    return false;
  std::lock_guard lock(data_lock_);
  const std::int64_t frame = frame_size_.load();
  if (busy_.load()) {
    const std::int64_t start = start_sample_.load();
    std::int64_t landed = start + sample;
    const bool ok = SeekSample(landed);
    position_.store((landed - start) * frame);
    return ok;
  }
  start_sample_.store(sample);
  position_.store(sample * frame);
  end_sample_.store(-1);
  return true;
}

void TAudioFileIn::Jump(int per_mille) {
  const std::int64_t size = size_.load();
  if (!seekable_.load() || size == 0)
    return;
  double fraction =
      static_cast<double>(position_.load()) / static_cast<double>(size) + per_mille / 1000.0;
  fraction = std::clamp(fraction, 0.0, 1.0);
  Seek(std::llround(static_cast<double>(total_samples_.load()) * fraction));
}

}  // namespace djkivo
