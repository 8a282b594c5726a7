// The scripted fake reader.
#include "tests/support/fake_reader.h"

#include <cerrno>

namespace djkivo::test {

FakeMediaReader::FakeMediaReader(FakeReaderScript script, std::shared_ptr<FakeReaderLog> log)
    : script_(std::move(script)), log_(std::move(log)) {}

FakeMediaReader::~FakeMediaReader() { Close(); }

void FakeMediaReader::SetEnableTCP(bool enable) {
  std::lock_guard lock(log_->mutex);
  log_->enable_tcp = enable;
}

void FakeMediaReader::SetEnableHTTP(bool enable) {
  std::lock_guard lock(log_->mutex);
  log_->enable_http = enable;
}

void FakeMediaReader::SetEnableUDP(bool enable) {
  std::lock_guard lock(log_->mutex);
  log_->enable_udp = enable;
}

int FakeMediaReader::SetBufferingTime(std::uint64_t span) {
  std::lock_guard lock(log_->mutex);
  log_->buffering_span = span;
  return script_.buffering_result;
}

void FakeMediaReader::SetProxyHostName(const std::string& protocol, const std::string& host) {
  std::lock_guard lock(log_->mutex);
  log_->proxy_protocol = protocol;
  log_->proxy_host = host;
}

void FakeMediaReader::SetProxyPort(const std::string& protocol, std::uint32_t port) {
  std::lock_guard lock(log_->mutex);
  log_->proxy_protocol = protocol;
  log_->proxy_port = port;
}

int FakeMediaReader::AddLoggingUrl(const std::string& url) {
  std::lock_guard lock(log_->mutex);
  log_->logging_urls.push_back(url);
  return script_.logging_result;
}

void FakeMediaReader::ResetLoggingUrlList() {
  std::lock_guard lock(log_->mutex);
  ++log_->logging_resets;
}

int FakeMediaReader::Open(const std::string& address, MediaReaderCallback* callback) {
  {
    std::lock_guard lock(log_->mutex);
    log_->address = address;
  }
  if (script_.open_result != kReaderOk)
    return script_.open_result;
  callback_ = callback;
  thread_ = std::thread([this] { Run(); });
  return kReaderOk;
}

int FakeMediaReader::GetOutputCount(std::uint32_t* count) {
  if (script_.output_count_result == kReaderOk)
    *count = static_cast<std::uint32_t>(script_.outputs.size());
  return script_.output_count_result;
}

int FakeMediaReader::GetMediaType(std::uint32_t output, ReaderMediaType* type) {
  if (output >= script_.outputs.size())
    return -EINVAL;
  *type = script_.outputs[output];
  return kReaderOk;
}

int FakeMediaReader::GetAttribute(const std::string& name, std::uint64_t* value) {
  const std::optional<std::uint64_t>& found = name == "Duration"  ? script_.duration
                                              : name == "Bitrate" ? script_.bitrate
                                                                  : std::nullopt;
  if (!found)
    return -ENOENT;
  *value = *found;
  return kReaderOk;
}

int FakeMediaReader::Start(float rate) {
  {
    std::lock_guard lock(log_->mutex);
    log_->rate = rate;
  }
  if (script_.start_result != kReaderOk)
    return script_.start_result;
  std::lock_guard lock(mutex_);
  started_ = true;
  wake_.notify_all();
  return kReaderOk;
}

void FakeMediaReader::Pause() {
  {
    std::lock_guard lock(log_->mutex);
    ++log_->pauses;
  }
  std::lock_guard lock(mutex_);
  paused_ = true;
}

void FakeMediaReader::Resume() {
  {
    std::lock_guard lock(log_->mutex);
    ++log_->resumes;
  }
  std::lock_guard lock(mutex_);
  paused_ = false;
  wake_.notify_all();
}

void FakeMediaReader::Consumed(std::size_t bytes) {
  std::lock_guard lock(log_->mutex);
  log_->consumed += bytes;
}

void FakeMediaReader::SetReconnectTime(std::chrono::milliseconds limit) {
  std::lock_guard lock(log_->mutex);
  log_->reconnect_time = limit;
}

void FakeMediaReader::RetryNow() {
  {
    std::lock_guard lock(log_->mutex);
    ++log_->retries;
  }
  std::lock_guard lock(mutex_);
  retry_now_ = true;
  wake_.notify_all();
}

std::string FakeMediaReader::ErrorText(int result) const {
  if (result == kReaderReconnectTimedOut)
    return "the connection did not come back in time";
  return "fake failure " + std::to_string(result);
}

bool FakeMediaReader::Reconnect(std::chrono::milliseconds time, bool give_up) {
  callback_->OnStatus(ReaderStatus::kReconnecting, kReaderOk);
  {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, time, [this] { return closing_ || retry_now_; });
    retry_now_ = false;
    if (closing_)
      return false;
  }
  if (give_up)
    callback_->OnStatus(ReaderStatus::kClosed, kReaderReconnectTimedOut);
  else
    callback_->OnStatus(ReaderStatus::kReconnected, kReaderOk);
  return true;
}

void FakeMediaReader::Stop() {
  {
    std::lock_guard lock(log_->mutex);
    ++log_->stops;
  }
  std::lock_guard lock(mutex_);
  closing_ = true;
  wake_.notify_all();
}

void FakeMediaReader::Close() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    wake_.notify_all();
  }
  if (thread_.joinable()) {
    thread_.join();
    std::lock_guard lock(log_->mutex);
    ++log_->closes;
  }
}

void FakeMediaReader::Run() {
  if (!script_.report_opened)
    return;
  callback_->OnStatus(ReaderStatus::kOpened, script_.opened_result);
  if (script_.opened_result != kReaderOk)
    return;
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return started_ || closing_; });
  if (closing_)
    return;
  lock.unlock();
  callback_->OnStatus(ReaderStatus::kStarted, kReaderOk);
  for (const FakeReaderScript::Block& block : script_.blocks) {
    lock.lock();
    wake_.wait(lock, [this] { return !paused_ || closing_; });
    if (closing_)
      return;
    lock.unlock();
    if (block.reconnect_before.count() > 0 && !Reconnect(block.reconnect_before, false))
      return;
    (void)callback_->OnSample(block.output, block.data.data(), block.data.size());
  }
  if (script_.end == FakeReaderScript::End::kEndOfFile)
    callback_->OnStatus(ReaderStatus::kEndOfFile, kReaderOk);
  else if (script_.end == FakeReaderScript::End::kClosed)
    callback_->OnStatus(ReaderStatus::kClosed, -EIO);
  else if (script_.end == FakeReaderScript::End::kGiveUp)
    Reconnect(script_.give_up_after, true);
}

}  // namespace djkivo::test
