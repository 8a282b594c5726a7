#include "audio/media_stream_in.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <optional>
#include <vector>

#include "audio/audio_error.h"
#include "audio/event_handler.h"
#include "base/event.h"

namespace djkivo {

namespace {

constexpr std::uint64_t kHundredNanosecondsPerSecond = 10'000'000;

std::string DecimalResult(int result) { return "Result " + std::to_string(result); }

std::string HexResult(int result) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(result));
  return std::string("Result ") + text;
}

}  // namespace

/// One open of the stream: the reader, the queue of delivered blocks and the hand-over state.
/// It is the reader's callback; the reader calls it on the reader's thread until its Close.
class TMediaStreamIn::ReaderRecord final : public MediaReaderCallback {
 public:
  /// A private copy of one delivered block.
  struct SampleBlock {
    std::vector<std::uint8_t> data;
    std::size_t consumed = 0;  // bytes already handed out; the pulling thread only
  };

  explicit ReaderRecord(TMediaStreamIn* owner) : owner_(owner) {}
  ~ReaderRecord() override { CloseReader(); }

  void OnStatus(ReaderStatus status, int result) override {
    if (status == ReaderStatus::kReconnecting || status == ReaderStatus::kReconnected) {
      const bool now = status == ReaderStatus::kReconnecting;
      if (reconnecting.exchange(now) != now && !closing.load())
        owner_->ReconnectChanged(now);
      sample_event.Set();  // a waiting read looks at its limit again
      return;
    }
    if (result != kReaderOk && status != ReaderStatus::kOpened && !closing.load()) {
      std::string reason = "the stream broke off";
      WithReader([&](MediaReader& open) { reason = open.ErrorText(result); });
      owner_->SetFailure(reason);
    }
    // A failure is stored before anyone is woken, so the opening thread never sees a failed
    // open as opened.
    status_.store(result == kReaderOk ? status : ReaderStatus::kClosed);
    if ((status == ReaderStatus::kClosed || result != kReaderOk) && reconnecting.exchange(false) &&
        !closing.load())
      owner_->ReconnectChanged(false);
    // Wake a waiting read for an end too, so the last block is followed by the end at once.
    if (status == ReaderStatus::kOpened || status == ReaderStatus::kEndOfFile ||
        status == ReaderStatus::kClosed || result != kReaderOk)
      sample_event.Set();
  }

  bool OnSample(std::uint32_t output, const std::uint8_t* data, std::size_t length) override {
    if (!has_audio || output != audio_output_number)
      return false;
    SampleBlock block;
    block.data.assign(data, data + length);
    {
      std::lock_guard lock(queue_lock);
      sample_queue.push_back(std::move(block));
    }
    // The event stays set until a wait sees it: a read that starts waiting just after this
    // still wakes, and waits re-check the queue, so a stale signal costs one loop.
    sample_event.Set();
    return true;
  }

  /// Stops and closes the reader; afterwards no callback runs. Any thread.
  void CloseReader() {
    std::unique_ptr<MediaReader> gone;
    {
      std::lock_guard lock(reader_lock);
      gone = std::move(reader);
    }
    if (gone) {
      gone->ResetLoggingUrlList();
      gone->Stop();
      gone->Close();
    }
  }

  /// Calls `fn` with the reader unless it is closed. Any thread.
  template <typename Fn>
  void WithReader(Fn fn) {
    std::lock_guard lock(reader_lock);
    if (reader)
      fn(*reader);
  }

  bool HasBlock() {
    std::lock_guard lock(queue_lock);
    return !sample_queue.empty();
  }

  ReaderStatus Status() const { return status_.load(); }

  // Set while opening (opening thread), read-only afterwards.
  std::uint64_t buffering_span = 0;
  float rate = 1.0f;
  bool has_audio = false;
  std::uint32_t audio_output_number = 0;
  std::uint32_t channels = 0;
  std::uint32_t sample_rate = 0;
  std::uint32_t bits_per_sample = 0;
  std::uint32_t bitrate = 0;
  std::int64_t duration = 0;        // whole seconds
  std::uint64_t duration_span = 0;  // as declared, 100-ns units
  bool duration_is_estimate = false;

  std::atomic<std::uint32_t> max_wait{kInitialMaxWait};
  std::atomic<bool> ended{false};          // no more blocks will come
  std::atomic<bool> reader_paused{false};  // paused since the last wait for data
  std::atomic<bool> closing{false};        // the source is being closed
  std::atomic<bool> reconnecting{false};   // the reader reported a drop it is riding out
  Event sample_event{false};  // auto-reset: opened, a block, an end, a reconnect, a close

  std::deque<SampleBlock> sample_queue;  // --- guarded by queue_lock
  std::mutex queue_lock;

  std::unique_ptr<MediaReader> reader;  // --- guarded by reader_lock (null once closed)
  std::mutex reader_lock;

 private:
  TMediaStreamIn* const owner_;
  std::atomic<ReaderStatus> status_{ReaderStatus::kNone};
};

TMediaStreamIn::TMediaStreamIn() : dispatcher_(TEventHandler::Acquire()) {}

TMediaStreamIn::~TMediaStreamIn() {
  CloseSource();
  dispatcher_->Forget(this);
}

void TMediaStreamIn::SetBufferingTime(std::uint16_t seconds) {
  if (seconds >= 1 && seconds <= 60)
    buffering_time_.store(seconds);
}

std::string TMediaStreamIn::ProxyProtocol() const {
  std::lock_guard lock(property_lock_);
  return proxy_protocol_;
}

void TMediaStreamIn::SetProxyProtocol(const std::string& value) {
  std::lock_guard lock(property_lock_);
  proxy_protocol_ = value;
}

std::string TMediaStreamIn::ProxyHost() const {
  std::lock_guard lock(property_lock_);
  return proxy_host_;
}

void TMediaStreamIn::SetProxyHost(const std::string& value) {
  std::lock_guard lock(property_lock_);
  proxy_host_ = value;
}

std::string TMediaStreamIn::LoggingURL() const {
  std::lock_guard lock(property_lock_);
  return logging_url_;
}

void TMediaStreamIn::SetLoggingURL(const std::string& value) {
  std::lock_guard lock(property_lock_);
  logging_url_ = value;
}

void TMediaStreamIn::SetOnStreamOpened(TStreamedAudioEvent handler) {
  std::lock_guard lock(property_lock_);
  on_stream_opened_ = std::move(handler);
}

void TMediaStreamIn::SetOnStartedPlaying(TStreamedAudioEvent handler) {
  std::lock_guard lock(property_lock_);
  on_started_playing_ = std::move(handler);
}

void TMediaStreamIn::SetOnReconnect(TStreamedAudioEvent handler) {
  std::lock_guard lock(property_lock_);
  on_reconnect_ = std::move(handler);
}

std::string TMediaStreamIn::Failure() const {
  std::lock_guard lock(property_lock_);
  return failure_;
}

void TMediaStreamIn::SetFailure(const std::string& reason) {
  std::lock_guard lock(property_lock_);
  if (failure_.empty())
    failure_ = "The stream ended early: " + reason;
}

void TMediaStreamIn::ReconnectChanged(bool reconnecting) {
  reconnecting_.store(reconnecting);
  TStreamedAudioEvent handler;
  {
    std::lock_guard lock(property_lock_);
    handler = on_reconnect_;
  }
  PostStreamEvent(handler);
}

void TMediaStreamIn::RetryNow() {
  if (std::shared_ptr<ReaderRecord> record = CurrentRecord())
    record->WithReader([](MediaReader& reader) { reader.RetryNow(); });
}

void TMediaStreamIn::SetReaderFactory(ReaderFactory factory) {
  std::lock_guard lock(property_lock_);
  reader_factory_ = std::move(factory);
}

std::shared_ptr<TMediaStreamIn::ReaderRecord> TMediaStreamIn::CurrentRecord() const {
  std::lock_guard lock(record_lock_);
  return record_;
}

void TMediaStreamIn::PostStreamEvent(const TStreamedAudioEvent& handler) {
  if (handler)
    dispatcher_->PostEvent(this, handler);
}

void TMediaStreamIn::OpenSource() {
  // Every format question of the chain (a few a pull) comes here: an open source answers
  // without the lock. The count is raised only after the format is stored.
  if (open_count_.load() > 0)
    return;
  std::lock_guard open(open_lock_);
  if (open_count_.load() > 0)
    return;
  const std::string address = FileName();
  if (address.empty())
    throw EAudioError("File name or URL is not assigned");
  // The chain is stopping (the stop may have come just before this open): do not start one.
  if (cancelled_.load())
    throw EAudioError("");

  std::string proxy_protocol, proxy_host, logging_url;
  ReaderFactory factory;
  TStreamedAudioEvent on_opened;
  {
    std::lock_guard lock(property_lock_);
    proxy_protocol = proxy_protocol_;
    proxy_host = proxy_host_;
    logging_url = logging_url_;
    factory = reader_factory_;
    on_opened = on_stream_opened_;
    failure_.clear();
  }
  reconnecting_.store(false);

  // A fresh record; it replaces the current one only once the open has succeeded, so a
  // failure (which closes its reader as the record goes) leaves nothing half open.
  auto record = std::make_shared<ReaderRecord>(this);
  record->reader = factory ? factory(origin_.load()) : CreateMediaReader(origin_.load());
  MediaReader& reader = *record->reader;
  if (!proxy_host.empty()) {
    reader.SetProxyHostName(proxy_protocol, proxy_host);
    reader.SetProxyPort(proxy_protocol, proxy_port_.load());
  }
  if (!logging_url.empty() && reader.AddLoggingUrl(logging_url) != kReaderOk)
    throw EAudioError("Canoot add a logging URL");
  reader.SetReconnectTime(reconnect_time_.load());
  record->rate = stretch_factor_.load();
  record->max_wait.store(max_wait_milliseconds_.load());
  record->buffering_span = buffering_time_.load() * kHundredNanosecondsPerSecond;

  // Opening the record with the address.
  if (enable_tcp_.load())
    reader.SetEnableTCP(true);
  if (enable_http_.load())
    reader.SetEnableHTTP(true);
  if (enable_udp_.load())
    reader.SetEnableUDP(true);
  if (record->buffering_span != 0 && reader.SetBufferingTime(record->buffering_span) != kReaderOk)
    throw EAudioError("Failed seting buffering.");
  if (const int result = reader.Open(address, record.get()); result != kReaderOk)
    throw EAudioError(DecimalResult(result));
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(record->max_wait.load());
  {
    std::lock_guard lock(record_lock_);
    opening_ = record;
  }
  // A cancel (the chain stopping) ends the wait as an unanswered open.
  while (record->Status() == ReaderStatus::kNone && !cancelled_.load()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      break;
    record->sample_event.WaitFor(left);
  }
  {
    std::lock_guard lock(record_lock_);
    opening_.reset();
  }
  bool opened = record->Status() == ReaderStatus::kOpened;
  std::uint32_t outputs = 0;
  if (opened && reader.GetOutputCount(&outputs) != kReaderOk)
    opened = false;
  if (!opened) {
    record->ended.store(true);
    record->CloseReader();
  } else {
    for (std::uint32_t output = 0; output < outputs; ++output) {
      ReaderMediaType type;
      // When several outputs carry audio, the last one wins.
      if (reader.GetMediaType(output, &type) == kReaderOk && type.is_audio) {
        record->has_audio = true;
        record->audio_output_number = output;
        record->channels = type.channels;
        record->sample_rate = type.sample_rate;
        record->bits_per_sample = type.bits_per_sample;
      }
    }
    if (record->has_audio) {
      std::uint64_t value = 0;
      if (reader.GetAttribute("Duration", &value) == kReaderOk) {
        record->duration_span = value;
        record->duration = static_cast<std::int64_t>((value + kHundredNanosecondsPerSecond / 2) /
                                                     kHundredNanosecondsPerSecond);
      }
      value = 0;
      if (reader.GetAttribute("Bitrate", &value) == kReaderOk)
        record->bitrate = static_cast<std::uint32_t>(value);
      value = 0;
      record->duration_is_estimate =
          reader.GetAttribute("DurationIsEstimate", &value) == kReaderOk && value != 0;
      if (const int result = reader.Start(record->rate); result != kReaderOk)
        throw EAudioError(HexResult(result));
    }
  }

  PostStreamEvent(on_opened);
  valid_.store(record->has_audio);
  if (!opened)
    throw EAudioError("");

  source_channels_.store(record->channels);
  source_bits_.store(record->bits_per_sample);
  source_rate_.store(record->sample_rate);
  bitrate_.store(record->bitrate);
  duration_.store(record->duration);
  total_time_.store(static_cast<std::uint32_t>(record->duration));
  // The length in frames comes from the declared duration itself, rounded up, not from the
  // whole seconds: sizing by the rounded seconds would cut up to half a second off the end of
  // a song, since the stream ends where `Size` says.
  const auto total_samples = static_cast<std::int64_t>(
      (record->duration_span * record->sample_rate + kHundredNanosecondsPerSecond - 1) /
      kHundredNanosecondsPerSecond);
  if (total_samples == 0) {  // no duration: a live stream of unknown length
    size_.store(-1);
    total_samples_.store(-1);
  } else {
    total_samples_.store(total_samples);
    size_.store(total_samples * record->channels * (record->bits_per_sample / 8));
  }
  seekable_.store(false);
  // A guessed length is shown, but the stream plays to its real end.
  cut_at_size_.store(!record->duration_is_estimate);
  started_playing_pending_.store(true);
  {
    std::lock_guard lock(record_lock_);
    record_ = std::move(record);
  }
  open_count_.fetch_add(1);
}

void TMediaStreamIn::CloseSource() {
  std::lock_guard open(open_lock_);
  if (open_count_.load() <= 0)
    return;
  std::shared_ptr<ReaderRecord> record;
  {
    std::lock_guard lock(record_lock_);
    record = std::move(record_);
  }
  if (record) {
    record->max_wait.store(kClosingMaxWait);
    record->closing.store(true);
    record->CloseReader();
    record->sample_event.Set();  // a waiting read gives up at once
  }
  reconnecting_.store(false);
  // The queued blocks go with the last reference: here, or at the pulling thread's next read.
  open_count_.store(0);
}

void TMediaStreamIn::CloseStage() {
  TAudioTaggedFileIn::CloseStage();
  reading_.reset();
}

void TMediaStreamIn::ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) {
  const std::uint32_t wanted = bytes;
  buffer = nullptr;
  bytes = 0;
  reading_ = CurrentRecord();
  ReaderRecord* record = reading_.get();
  // A stream without audio has no queue: nothing will ever come.
  if (!record || !record->has_audio)
    return;
  while (true) {
    // Waiting for data.
    if (!record->HasBlock()) {
      if (record->reader_paused.exchange(false))
        record->ended.store(false);  // a wait that timed out during a pause does not count
      const auto max_wait = std::chrono::milliseconds(record->max_wait.load());
      auto deadline = std::chrono::steady_clock::now() + max_wait;
      // While the reader rides out a drop the wait for a block does not run; the reader ends
      // its reconnect within ReconnectTime, and this bound only guards against one that would
      // not.
      std::optional<std::chrono::steady_clock::time_point> reconnect_bound;
      while (!record->HasBlock()) {
        const ReaderStatus status = record->Status();
        if (status == ReaderStatus::kClosed || status == ReaderStatus::kEndOfFile ||
            record->ended.load() || record->closing.load() || cancelled_.load())
          return;
        const auto now = std::chrono::steady_clock::now();
        if (record->reconnecting.load() && !record->closing.load()) {
          if (!reconnect_bound)
            reconnect_bound = now + reconnect_time_.load() + max_wait;
          if (now < *reconnect_bound)
            deadline = std::min(now + max_wait, *reconnect_bound);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (left.count() <= 0) {
          // Stalled for MaxWait: the stream ends for good.
          record->ended.store(true);
          if (!record->closing.load())
            SetFailure("it sent nothing for " + std::to_string((max_wait.count() + 999) / 1000) +
                       " s");
          return;
        }
        record->sample_event.WaitFor(left);
      }
    }
    ReaderRecord::SampleBlock* head;
    {
      std::lock_guard lock(record->queue_lock);
      head = &record->sample_queue.front();
    }
    if (head->consumed >= head->data.size()) {
      const std::size_t length = head->data.size();
      {
        std::lock_guard lock(record->queue_lock);
        record->sample_queue.pop_front();
      }
      record->WithReader([length](MediaReader& reader) { reader.Consumed(length); });
      continue;
    }
    const std::size_t left = head->data.size() - head->consumed;
    bytes = static_cast<std::uint32_t>(std::min<std::size_t>(wanted, left));
    buffer = head->data.data() + head->consumed;
    head->consumed += bytes;
    break;
  }
  if (started_playing_pending_.exchange(false)) {
    TStreamedAudioEvent handler;
    {
      std::lock_guard lock(property_lock_);
      handler = on_started_playing_;
    }
    PostStreamEvent(handler);
  }
}

std::uint32_t TMediaStreamIn::TotalTime() {
  OpenSource();
  return static_cast<std::uint32_t>(duration_.load());
}

bool TMediaStreamIn::SeekSample(std::int64_t&) { return false; }

void TMediaStreamIn::PauseInput() {
  // The reader has a lock of its own: taking DataLock here would hold the caller for as long
  // as a read waits for data.
  if (std::shared_ptr<ReaderRecord> record = CurrentRecord()) {
    record->WithReader([](MediaReader& reader) { reader.Pause(); });
    record->reader_paused.store(true);
  }
}

void TMediaStreamIn::ResumeInput() {
  if (std::shared_ptr<ReaderRecord> record = CurrentRecord())
    record->WithReader([](MediaReader& reader) { reader.Resume(); });
}

void TMediaStreamIn::ResetCancel() { cancelled_.store(false); }

bool TMediaStreamIn::WaitReadable(std::chrono::milliseconds timeout) {
  const std::shared_ptr<ReaderRecord> record = CurrentRecord();
  if (!record || !record->has_audio)
    return true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const ReaderStatus status = record->Status();
    if (record->HasBlock() || status == ReaderStatus::kClosed ||
        status == ReaderStatus::kEndOfFile || record->ended.load() || record->closing.load() ||
        cancelled_.load())
      return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return false;
    // A signal this wait takes is not lost to a read: reads look at the queue before waiting.
    record->sample_event.WaitFor(left);
  }
}

void TMediaStreamIn::CancelRead() {
  cancelled_.store(true);
  std::lock_guard lock(record_lock_);
  for (const std::shared_ptr<ReaderRecord>& record : {record_, opening_})
    if (record)
      record->sample_event.Set();
}

}  // namespace djkivo
