#include "audio/audio_cache.h"

#include "audio/audio_error.h"

namespace djkivo {

TAudioCache::TAudioCache() : staging_(new std::uint8_t[kStagingSize]) {}

TAudioCache::~TAudioCache() {
  // An owner that destroys an open cache still must not leave a thread reading its input.
  StopFill();
}

void TAudioCache::StopFill() {
  std::unique_ptr<TAudioCacheThread> fill;
  {
    std::lock_guard lock(fill_lock_);
    fill.swap(fill_);
  }
  if (fill) {
    // The thread reads the input without the cache's lock: it must be gone before the input
    // closes. It leaves as soon as its current read returns.
    fill->Terminate();
    fill->Join();
  }
}

void TAudioCache::OpenStage() {
  TAudioInput* input = Input();
  if (input == nullptr)
    throw EAudioError("Input is not assigned");
  StopFill();  // an open without a close in between starts afresh
  input->Open();
  auto fill = std::make_unique<TAudioCacheThread>(input);
  fill->Start();
  {
    std::lock_guard lock(fill_lock_);
    fill_ = std::move(fill);
  }
  position_.store(0);
  size_.store(input->Size());
}

void TAudioCache::CloseStage() {
  StopFill();
  if (TAudioInput* input = Input())
    input->Close();
}

void TAudioCache::ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) {
  if (bytes > kStagingSize) {
    const std::uint32_t frame = BitsPerSample() / 8 * Channels();
    bytes = kStagingSize - (frame > 0 ? kStagingSize % frame : 0);
  }
  // fill_ changes only on this thread (open and close), so reading it needs no lock here.
  TAudioCacheThread* fill = fill_.get();
  const std::uint32_t n =
      (fill != nullptr && bytes > 0) ? fill->Ring().Read(staging_.get(), bytes) : 0;
  if (n == 0) {
    buffer = nullptr;
    bytes = 0;
    return;
  }
  buffer = staging_.get();
  bytes = n;
  const std::int64_t size = size_.load();
  if (size > 0 && position_.load() + n > size)
    position_.store(0);
}

void TAudioCache::Jump(int per_mille) {
  std::lock_guard lock(fill_lock_);
  if (!fill_ || fill_->Ring().DataEnded())
    return;
  TAudioInput* input = Input();
  if (input != nullptr) {
    input->Jump(per_mille);
    position_.store(input->Position());
  }
  fill_->Ring().Discard();
}

bool TAudioCache::WaitReadable(std::chrono::milliseconds timeout) {
  // fill_ changes only on this thread (open and close).
  TAudioCacheThread* fill = fill_.get();
  return fill == nullptr || fill->Ring().WaitReadable(timeout);
}

void TAudioCache::CancelRead() {
  {
    std::lock_guard lock(fill_lock_);
    if (fill_)
      fill_->Ring().Cancel();
  }
  TAudioConverter::CancelRead();
}

}  // namespace djkivo
