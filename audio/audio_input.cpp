#include "audio/audio_input.h"

#include <cstring>
#include <exception>

#include "audio/audio_error.h"

namespace djkivo {

std::uint32_t TAudioInput::TotalTime() { return 0; }

std::int64_t TAudioInput::TotalSamples() { return 0; }

void TAudioInput::SetRawBitsFlag(bool value) { raw_bits_.store(value); }

void TAudioInput::Open() {
  std::lock_guard lock(data_lock_);
  at_end_.store(false);
  try {
    OpenStage();
  } catch (const std::exception& e) {
    at_end_.store(true);
    throw EAudioError(e.what());
  } catch (...) {
    at_end_.store(true);
    throw EAudioError("The audio stage failed to open");
  }
}

void TAudioInput::Close() {
  std::lock_guard lock(data_lock_);
  CloseStage();
}

void TAudioInput::GetData(std::uint8_t*& buffer, std::uint32_t& bytes) {
  std::lock_guard lock(data_lock_);
  ReadStage(buffer, bytes);
}

std::uint32_t TAudioInput::CopyData(void* dest, std::uint32_t count) {
  std::uint8_t* block = nullptr;
  std::uint32_t bytes = count;
  GetData(block, bytes);
  if (bytes > count)  // a stage never hands out more than asked; do not trust it blindly
    bytes = count;
  if (bytes > 0)
    std::memcpy(dest, block, bytes);
  return bytes;
}

std::uint32_t TAudioInput::ReadInput(void* dest, std::uint32_t count, bool& end_of_input) {
  return ReadInput(dest, count, end_of_input, {});
}

std::uint32_t TAudioInput::ReadInput(void* dest, std::uint32_t count, bool& end_of_input,
                                     const std::function<bool()>& ready) {
  end_of_input = false;
  if (dest == nullptr)
    return 0;
  auto* out = static_cast<std::uint8_t*>(dest);
  std::uint32_t total = 0;
  std::lock_guard lock(data_lock_);
  while (total < count) {
    if (ready && !ready())
      break;
    std::uint8_t* block = nullptr;
    std::uint32_t bytes = count - total;
    ReadStage(block, bytes);
    if (bytes == 0) {
      end_of_input = true;
      break;
    }
    if (bytes > count - total)
      bytes = count - total;
    std::memcpy(out + total, block, bytes);
    total += bytes;
  }
  position_.fetch_add(total);
  return total;
}

void TAudioInput::Reset() {
  try {
    Close();
  } catch (...) {
    // Reset is the way out of a broken stage: a failing close must not stop it.
  }
  busy_.store(false);
}

bool TAudioInput::WaitReadable(std::chrono::milliseconds) { return true; }

void TAudioInput::PauseInput() {}

void TAudioInput::ResumeInput() {}

void TAudioInput::Jump(int) {}

void TAudioInput::CancelRead() {}

void TAudioInput::ResetCancel() {}

}  // namespace djkivo
