#include "audio/audio_cache_thread.h"

#include <algorithm>

#include "audio/audio_input.h"
#include "base/thread_name.h"

namespace djkivo {

TAudioCacheThread::TAudioCacheThread(TAudioInput* input) : input_(input) { ring_.Reset(); }

TAudioCacheThread::~TAudioCacheThread() {
  Terminate();
  Join();
}

void TAudioCacheThread::Start() {
  thread_ = std::thread([this] { Execute(); });
}

void TAudioCacheThread::Terminate() {
  terminated_.store(true);
  ring_.WakeWriter();
}

void TAudioCacheThread::Join() {
  if (thread_.joinable())
    thread_.join();
}

std::uint32_t TAudioCacheThread::FrameBytes() const {
  return input_->BitsPerSample() / 8 * input_->Channels();
}

void TAudioCacheThread::Execute() {
  NameThisThread("djk-cachefill");
  finished_.store(false);
  try {
    const std::uint32_t frame = FrameBytes();
    while (!terminated_.load() && !ring_.DataEnded()) {
      FillPass(frame);
      ring_.WaitFreeSpace(NextPassFree(frame), kPassPause);
    }
  } catch (...) {
    // A failing source ends the stream like its end does: the output drains what is buffered
    // and finishes normally, and the cache's close does not wait for a thread that is gone.
  }
  finished_.store(true);
  ring_.SetDataEnded(true);
}

std::uint32_t TAudioCacheThread::NextPassFree(std::uint32_t frame) const {
  const std::int64_t size = input_->Size();
  if (size > 0 && size - input_->Position() <= ring_.FreeSpace())
    return kLowWaterFree;  // the rest fits: only a low buffer brings the next pass
  return kMinimumChunk + std::max<std::uint32_t>(frame, 1);
}

void TAudioCacheThread::FillPass(std::uint32_t frame) {
  const std::uint32_t free = ring_.FreeSpace();
  const std::int64_t size = input_->Size();
  const bool fill = free >= kLowWaterFree || size <= 0 || size - input_->Position() > free;
  if (!fill)
    return;
  std::uint32_t amount = std::min(free, kChunkLimit);
  if (frame > 0)
    amount -= amount % frame;
  if (amount <= kMinimumChunk || ring_.DataEnded())
    return;
  std::uint32_t added = 0;
  std::uint32_t last = amount;
  while (added < amount && last != 0 && !terminated_.load()) {
    std::uint8_t* region = nullptr;
    std::uint32_t length = 0;
    ring_.GetWriteRegion(region, length);
    if (length == 0)
      break;
    last = input_->CopyData(region, length);
    ring_.CommitWrite(last);
    added += last;
  }
  if (last == 0)
    ring_.SetDataEnded(true);
}

}  // namespace djkivo
