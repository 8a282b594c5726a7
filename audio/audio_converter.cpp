#include "audio/audio_converter.h"

namespace djkivo {

namespace {
// Bits per sample above this are flags of the input, not a sample width.
constexpr std::uint32_t kBitsMask = 127;
}  // namespace

TAudioConverter::~TAudioConverter() = default;

std::uint32_t TAudioConverter::BitsPerSample() {
  TAudioInput* input = input_.load();
  if (input == nullptr)
    return 0;
  const std::uint32_t bits = input->BitsPerSample();
  return raw_bits_.load() ? bits : bits & kBitsMask;
}

std::uint32_t TAudioConverter::Channels() {
  TAudioInput* input = input_.load();
  return input == nullptr ? 0 : input->Channels();
}

std::uint32_t TAudioConverter::SampleRate() {
  TAudioInput* input = input_.load();
  return input == nullptr ? 0 : input->SampleRate();
}

void TAudioConverter::GetData(std::uint8_t*& buffer, std::uint32_t& bytes) {
  std::lock_guard lock(data_lock_);
  if (at_end_.load()) {
    buffer = nullptr;
    bytes = 0;
    return;
  }
  ReadStage(buffer, bytes);
  const std::int64_t position = position_.fetch_add(bytes) + bytes;
  const std::int64_t size = size_.load();
  // Only a block that runs strictly past a known size is cut; `Position` stays past `Size`, so
  // the converter ends on the following call's check, not on reaching `Size` exactly.
  if (size > 0 && position > size) {
    const std::int64_t excess = position - size;
    bytes = excess >= bytes ? 0 : bytes - static_cast<std::uint32_t>(excess);
    at_end_.store(true);
  }
  if (bytes == 0) {
    buffer = nullptr;
    at_end_.store(true);
  }
}

void TAudioConverter::PauseInput() {
  if (TAudioInput* input = input_.load())
    input->PauseInput();
}

void TAudioConverter::ResumeInput() {
  if (TAudioInput* input = input_.load())
    input->ResumeInput();
}

void TAudioConverter::Jump(int per_mille) {
  if (TAudioInput* input = input_.load())
    input->Jump(per_mille);
}

void TAudioConverter::CancelRead() {
  if (TAudioInput* input = input_.load())
    input->CancelRead();
}

bool TAudioConverter::WaitReadable(std::chrono::milliseconds timeout) {
  TAudioInput* input = input_.load();
  return input == nullptr || input->WaitReadable(timeout);
}

void TAudioConverter::ResetCancel() {
  if (TAudioInput* input = input_.load())
    input->ResetCancel();
}

void TAudioConverter::SetInput(TAudioInput* input) {
  if (input == this)
    return;
  std::lock_guard lock(data_lock_);
  TAudioInput* old = input_.load();
  if (old == input)
    return;
  if (busy_.load()) {
    if (old != nullptr)
      old->Close();
    if (input != nullptr)
      input->Open();
  }
  if (old != nullptr)
    RemoveFreeNotification(old);
  if (input != nullptr)
    FreeNotification(input);
  input_.store(input);
}

void TAudioConverter::Notification(TComponent* removed) {
  if (removed == input_.load()) {
    std::lock_guard lock(data_lock_);
    input_.store(nullptr);
  }
  TAudioInput::Notification(removed);
}

}  // namespace djkivo
