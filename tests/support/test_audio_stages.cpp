#include "tests/support/test_audio_stages.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include "audio/audio_error.h"
#include "audio/audio_thread.h"

namespace djkivo::test {

namespace {
// The pattern's period: odd and not a multiple of any frame size, so a block that lands on
// the wrong offset never matches by accident.
constexpr std::uint64_t kPeriod = 999983;
constexpr std::chrono::milliseconds kSlice{1};
}  // namespace

std::uint8_t PatternByte(std::uint64_t offset) {
  const std::uint64_t i = offset % kPeriod;
  return static_cast<std::uint8_t>((i * 131) ^ (i >> 8));
}

std::int64_t FindPatternMismatch(const std::uint8_t* data, std::uint32_t bytes,
                                 std::uint64_t offset) {
  for (std::uint32_t i = 0; i < bytes; ++i)
    if (data[i] != PatternByte(offset + i))
      return i;
  return -1;
}

TMemoryPcmSource::Config MemorySource(std::uint64_t data_bytes, std::int64_t reported_size,
                                      std::uint32_t block_bytes) {
  TMemoryPcmSource::Config config;
  config.data_bytes = data_bytes;
  config.reported_size = reported_size;
  config.block_bytes = block_bytes;
  return config;
}

std::string OpenMessage(TAudioInput& input) {
  try {
    input.Open();
    return "(opened)";
  } catch (const EAudioError& error) {
    return error.what();
  }
}

std::string ReadAll(TAudioInput& input, std::uint32_t request) {
  std::string out;
  while (true) {
    std::uint8_t* buffer = nullptr;
    std::uint32_t bytes = request;
    input.GetData(buffer, bytes);
    if (bytes == 0)
      return out;
    out.append(reinterpret_cast<const char*>(buffer), bytes);
  }
}

// --- TMemoryPcmSource

TMemoryPcmSource::TMemoryPcmSource(const Config& config)
    : config_(config), pattern_(new std::uint8_t[kPeriod + kMaxBlock]) {
  for (std::uint64_t i = 0; i < kPeriod + kMaxBlock; ++i)
    pattern_[i] = PatternByte(i);
  SetFileName("memory");
  seekable_.store(config.seekable);
}

TMemoryPcmSource::~TMemoryPcmSource() { Release(); }

void TMemoryPcmSource::Release() {
  {
    std::lock_guard lock(stall_lock_);
    released_ = true;
  }
  stall_changed_.notify_all();
}

void TMemoryPcmSource::CancelRead() {
  {
    std::lock_guard lock(stall_lock_);
    cancelled_ = true;
    cancel_seen_.store(true);
  }
  stall_changed_.notify_all();
}

bool TMemoryPcmSource::WaitStalled(std::chrono::milliseconds timeout) {
  std::unique_lock lock(stall_lock_);
  return stall_changed_.wait_for(lock, timeout, [this] { return stalled_; });
}

bool TMemoryPcmSource::WaitReadable(std::chrono::milliseconds timeout) {
  std::unique_lock lock(stall_lock_);
  return stall_changed_.wait_for(lock, timeout, [this] {
    const std::uint64_t offset = offset_.load();
    const std::uint64_t next =
        std::min<std::uint64_t>({config_.block_bytes, kMaxBlock,
                                 config_.data_bytes - std::min(offset, config_.data_bytes)});
    const bool stalls = config_.stall_at >= 0 && next > 0 &&
                        offset + next > static_cast<std::uint64_t>(config_.stall_at);
    return !stalls || released_ || cancelled_;
  });
}

void TMemoryPcmSource::OpenSource() {
  std::lock_guard lock(open_lock_);
  if (!config_.fail_open.empty())
    throw EAudioError(config_.fail_open);
  if (open_.exchange(true))
    return;
  opens_.fetch_add(1);
  open_count_.fetch_add(1);
  offset_.store(0);
  {
    std::lock_guard stall(stall_lock_);
    cancelled_ = false;
    cancel_seen_.store(false);
  }
  valid_.store(true);
  source_rate_.store(config_.sample_rate);
  source_bits_.store(config_.bits);
  source_channels_.store(config_.channels);
  size_.store(config_.reported_size == -2 ? static_cast<std::int64_t>(config_.data_bytes)
                                          : config_.reported_size);
}

void TMemoryPcmSource::CloseSource() {
  std::lock_guard lock(open_lock_);
  if (!open_.exchange(false))
    return;
  closes_.fetch_add(1);
}

bool TMemoryPcmSource::SeekSample(std::int64_t& sample) {
  if (!config_.seekable)
    return false;
  seeks_.fetch_add(1);
  const std::uint64_t frame = config_.channels * (config_.bits / 8);
  const std::uint64_t target = std::min<std::uint64_t>(sample * frame, config_.data_bytes);
  offset_.store(target);
  sample = static_cast<std::int64_t>(target / frame);
  return true;
}

void TMemoryPcmSource::GetData(std::uint8_t*& buffer, std::uint32_t& bytes) {
  if (config_.end_at_size) {
    TAudioFileIn::GetData(buffer, bytes);
    return;
  }
  std::lock_guard lock(data_lock_);
  ReadStage(buffer, bytes);
  position_.fetch_add(bytes);
}

void TMemoryPcmSource::ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) {
  const std::uint64_t offset = offset_.load();
  std::uint64_t n =
      std::min<std::uint64_t>({bytes, config_.block_bytes, kMaxBlock,
                               config_.data_bytes - std::min(offset, config_.data_bytes)});
  if (config_.stall_at >= 0 && offset + n > static_cast<std::uint64_t>(config_.stall_at)) {
    std::unique_lock lock(stall_lock_);
    if (!released_ && !cancelled_) {
      stalled_ = true;
      stall_changed_.notify_all();
      const bool woken = stall_changed_.wait_for(lock, config_.stall_limit,
                                                 [this] { return released_ || cancelled_; });
      stalled_ = false;
      if (!woken) {
        cancelled_ = true;  // the wait limit: the source gives up like a dead stream
        cancel_seen_.store(true);
      }
    }
  }
  if (cancel_seen_.load())
    n = 0;
  if (n > 0 && config_.fail_read_at >= 0 &&
      offset + n > static_cast<std::uint64_t>(config_.fail_read_at))
    throw EAudioError(config_.fail_read);
  if (n == 0) {
    buffer = nullptr;
    bytes = 0;
    return;
  }
  buffer = pattern_.get() + offset % kPeriod;
  bytes = static_cast<std::uint32_t>(n);
  offset_.store(offset + n);
  bytes_read_.fetch_add(n);
}

// --- TPassThrough

void TPassThrough::OpenStage() {
  if (TAudioInput* input = Input())
    input->Open();
  position_.store(0);
  size_.store(Input() ? Input()->Size() : 0);
}

void TPassThrough::CloseStage() {
  if (TAudioInput* input = Input())
    input->Close();
}

void TPassThrough::ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) {
  TAudioInput* input = Input();
  if (input == nullptr) {
    buffer = nullptr;
    bytes = 0;
    return;
  }
  input->GetData(buffer, bytes);
}

// --- TClockOutput

TClockOutput::TClockOutput(const Config& config) : config_(config) {
  if (config.stop_wait.count() > 0)
    SetStopWait(config.stop_wait);
}

TClockOutput::~TClockOutput() {
  ReleaseHang();
  ShutDown();
}

void TClockOutput::ReleaseHang() {
  {
    std::lock_guard lock(gate_lock_);
    hang_released_ = true;
  }
  gate_changed_.notify_all();
}

bool TClockOutput::WaitHang(std::chrono::milliseconds timeout) {
  std::unique_lock lock(gate_lock_);
  return gate_changed_.wait_for(lock, timeout, [this] { return hanging_; });
}

void TClockOutput::AllowSteps(int steps) {
  {
    std::lock_guard lock(gate_lock_);
    allowed_ += steps;
  }
  gate_changed_.notify_all();
}

bool TClockOutput::WaitGate(std::chrono::milliseconds timeout) {
  std::unique_lock lock(gate_lock_);
  return gate_changed_.wait_for(lock, timeout, [this] { return at_gate_; });
}

void TClockOutput::OpenOutput() {
  runs_.fetch_add(1);
  bytes_.store(0);
  steps_.store(0);
  reached_end_.store(false);
  if (!config_.fail_open.empty())
    throw EAudioError(config_.fail_open);
  Input()->Open();
  started_ = std::chrono::steady_clock::now();
}

bool TClockOutput::OutputStep(bool abort) {
  if (abort)
    return false;
  if (config_.gated) {
    std::unique_lock lock(gate_lock_);
    at_gate_ = true;
    gate_changed_.notify_all();
    while (allowed_ == 0 && !Thread().StopFlag())
      gate_changed_.wait_for(lock, kSlice);
    at_gate_ = false;
    if (allowed_ == 0)
      return false;
    --allowed_;
  }
  const std::uint64_t done = bytes_.load();
  if (config_.hang_after >= 0 && done >= static_cast<std::uint64_t>(config_.hang_after)) {
    std::unique_lock lock(gate_lock_);
    hanging_ = true;
    gate_changed_.notify_all();
    gate_changed_.wait(lock, [this] { return hang_released_; });
    hanging_ = false;
  }
  if (config_.fail_step_after >= 0 && done >= static_cast<std::uint64_t>(config_.fail_step_after))
    throw EAudioError(config_.fail_step);
  std::uint8_t* block = nullptr;
  std::uint32_t count = config_.block_bytes;
  Input()->GetData(block, count);
  steps_.fetch_add(1);
  if (count == 0) {
    reached_end_.store(true);
    return false;
  }
  if (config_.verify && mismatch_at_.load() < 0) {
    const std::int64_t at = FindPatternMismatch(block, count, done);
    if (at >= 0)
      mismatch_at_.store(static_cast<std::int64_t>(done) + at);
  }
  bytes_.store(done + count);
  if (config_.bytes_per_second > 0) {
    const auto due =
        started_ + std::chrono::microseconds((done + count) * 1000000 / config_.bytes_per_second);
    std::this_thread::sleep_until(due);
  }
  return true;
}

void TClockOutput::CloseOutput() {
  if (TAudioInput* input = Input())
    input->Close();
}

// --- WatchedMainThread

bool WatchedMainThread::Call(Task fn) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  // Counted only once the call is queued, so a caller of `WaitForCall` knows that a
  // `RunPending` now finds it. A call the closing loop drops breaks the promise.
  auto ran = std::make_shared<std::promise<void>>();
  auto result = ran->get_future();
  loop_.Post([ran, fn = std::move(fn)] {
    fn();
    ran->set_value();
  });
  waiting_calls_.fetch_add(1);
  bool delivered = true;
  try {
    result.get();
  } catch (const std::future_error&) {
    delivered = false;
  }
  waiting_calls_.fetch_sub(1);
  return delivered;
}

bool WatchedMainThread::WaitForCall(std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (waiting_calls_.load() == 0) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace djkivo::test
