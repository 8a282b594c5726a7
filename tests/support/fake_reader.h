// A scripted media reader for fault tests: it reports the statuses, outputs, attributes and
// blocks its script names, on a thread of its own, and logs what it was asked to do.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/media_reader.h"

namespace djkivo::test {

/// What a fake reader does. Every result code defaults to success.
struct FakeReaderScript {
  /// How the delivery ends after the last block.
  enum class End {
    kEndOfFile,  // status 4
    kClosed,     // status 13 with a failure code
    kStall,      // nothing more until Close
    kGiveUp,     // a drop: reconnecting, then after `give_up_after` closed with
                 // kReaderReconnectTimedOut
  };
  struct Block {
    std::uint32_t output = 0;
    std::vector<std::uint8_t> data;
    /// Non-zero: the connection drops before this block; the reader reports reconnecting,
    /// and reconnected after this long (or at once on RetryNow).
    std::chrono::milliseconds reconnect_before{0};
  };

  int open_result = kReaderOk;          // returned by Open
  bool report_opened = true;            // false: never answer the open
  int opened_result = kReaderOk;        // result code of the opened status
  int buffering_result = kReaderOk;     // returned by SetBufferingTime
  int logging_result = kReaderOk;       // returned by AddLoggingUrl
  int output_count_result = kReaderOk;  // returned by GetOutputCount
  int start_result = kReaderOk;         // returned by Start
  std::vector<ReaderMediaType> outputs{};
  std::optional<std::uint64_t> duration{};  // "Duration", 100-ns units
  std::optional<std::uint64_t> bitrate{};   // "Bitrate"
  std::vector<Block> blocks{};              // delivered in order after Start
  End end = End::kEndOfFile;
  std::chrono::milliseconds give_up_after{0};  // End::kGiveUp
};

/// What the stream input asked of a fake reader. Shared, so a test can read it after the
/// reader is gone. Every field is guarded by `mutex`.
struct FakeReaderLog {
  std::mutex mutex;
  bool enable_tcp = false;
  bool enable_http = false;
  bool enable_udp = false;
  std::optional<std::uint64_t> buffering_span;
  std::string proxy_protocol;
  std::string proxy_host;
  std::uint32_t proxy_port = 0;
  std::vector<std::string> logging_urls;
  int logging_resets = 0;
  std::string address;
  std::optional<float> rate;
  int pauses = 0;
  int resumes = 0;
  int stops = 0;
  int closes = 0;
  std::size_t consumed = 0;
  std::optional<std::chrono::milliseconds> reconnect_time;
  int retries = 0;  // RetryNow calls
};

/// The fake reader. Blocks are delivered one after the other as soon as Start is called and
/// the reader is not paused; there is no hold-back.
class FakeMediaReader final : public MediaReader {
 public:
  FakeMediaReader(FakeReaderScript script, std::shared_ptr<FakeReaderLog> log);
  ~FakeMediaReader() override;

  void SetEnableTCP(bool enable) override;
  void SetEnableHTTP(bool enable) override;
  void SetEnableUDP(bool enable) override;
  int SetBufferingTime(std::uint64_t span) override;
  void SetProxyHostName(const std::string& protocol, const std::string& host) override;
  void SetProxyPort(const std::string& protocol, std::uint32_t port) override;
  int AddLoggingUrl(const std::string& url) override;
  void ResetLoggingUrlList() override;
  int Open(const std::string& address, MediaReaderCallback* callback) override;
  int GetOutputCount(std::uint32_t* count) override;
  int GetMediaType(std::uint32_t output, ReaderMediaType* type) override;
  int GetAttribute(const std::string& name, std::uint64_t* value) override;
  int Start(float rate) override;
  void Pause() override;
  void Resume() override;
  void Consumed(std::size_t bytes) override;
  void SetReconnectTime(std::chrono::milliseconds limit) override;
  void RetryNow() override;
  std::string ErrorText(int result) const override;
  void Stop() override;
  void Close() override;

 private:
  void Run();
  /// Reports a drop, waits `time` (or for RetryNow, or the close), reports the end of it; false
  /// on close.
  bool Reconnect(std::chrono::milliseconds time, bool give_up);

  const FakeReaderScript script_;
  const std::shared_ptr<FakeReaderLog> log_;
  MediaReaderCallback* callback_ = nullptr;
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool started_ = false;  // --- guarded by mutex_
  bool paused_ = false;
  bool closing_ = false;
  bool retry_now_ = false;
};

}  // namespace djkivo::test
