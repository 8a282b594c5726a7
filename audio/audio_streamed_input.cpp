#include "audio/audio_streamed_input.h"

namespace djkivo {

namespace {
// Counts a block into `position`; when it reaches a known `size` the source ends there, and a
// block running past `size` is cut to end exactly at it.
void Account(std::atomic<std::int64_t>& position, std::int64_t size, std::atomic<bool>& at_end,
             std::uint32_t& bytes) {
  if (bytes == 0) {
    at_end.store(true);
    return;
  }
  std::int64_t now = position.fetch_add(bytes) + bytes;
  if (size > 0 && now >= size) {
    at_end.store(true);
    if (now > size) {
      bytes -= static_cast<std::uint32_t>(now - size);
      position.store(size);
    }
  }
}
}  // namespace

void TAudioStreamedInput::SetStream(std::istream* stream) { stream_ = stream; }

void TAudioStreamedInput::GetData(std::uint8_t*& buffer, std::uint32_t& bytes) {
  std::lock_guard lock(data_lock_);
  const std::uint32_t requested = bytes;
  const bool loop = loop_.load();
  // A looping source that stopped exactly at `Size` on the previous call restarts now, so the
  // block that reached `Size` was delivered rather than dropped for the restart.
  if (loop && !at_end_.load() && CutSize() > 0 && position_.load() >= CutSize())
    Restart();
  if (at_end_.load()) {
    buffer = nullptr;
    bytes = 0;
    return;
  }
  ReadStage(buffer, bytes);
  Account(position_, CutSize(), at_end_, bytes);
  if (!at_end_.load() || !loop)
    return;
  if (bytes > 0) {
    // The tail of this pass goes out first; the next call restarts (see above).
    at_end_.store(false);
    return;
  }
  Restart();
  bytes = requested;
  ReadStage(buffer, bytes);
  Account(position_, CutSize(), at_end_, bytes);
  if (bytes == 0)
    buffer = nullptr;
}

void TAudioStreamedInput::Restart() {
  at_end_.store(false);
  if (seekable_.load()) {
    std::int64_t sample = start_sample_.load();
    SeekSample(sample);
  } else {
    Close();
    Open();
  }
  position_.store(0);
}

}  // namespace djkivo
