// The media reader the stream input drives: opens an address, demuxes and decodes it on threads
// of its own, and calls back with statuses and PCM sample blocks.
//
// The real implementation is the FFmpeg reader in audio/reader/; tests plug in a scripted fake
// (tests/support/fake_reader.h). The stream input relies only on what this header promises.
//
// Methods a reader implements, and who calls them:
//   Set*/AddLoggingUrl/ResetLoggingUrlList  configuration; before Open (ResetLoggingUrlList
//                                           also at close). The opening thread.
//   Open             mandatory; starts the asynchronous open and returns at once. Opening thread.
//   GetOutputCount/GetMediaType/GetAttribute  after the opened status. Opening thread.
//   Start            mandatory; starts delivering samples. Opening thread.
//   SetReconnectTime configuration, before Open. The opening thread.
//   RetryNow         any thread, any time (the desktop reports the network back).
//   ErrorText        any thread.
//   Pause/Resume     the thread that pauses the chain.
//   Consumed         flow control; the thread that reads the delivered blocks.
//   Stop/Close       the closing thread. After Close returns no callback runs any more.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace djkivo {

/// Status codes a reader reports (the values the stream input acts on).
enum class ReaderStatus : std::uint8_t {
  kNone = 0,       // nothing reported yet
  kOpened = 1,     // the open finished (successfully or not: see the result code)
  kEndOfFile = 4,  // the last sample block has been delivered
  kStarted = 11,   // delivery has started (after Start or Resume)
  kClosed = 13,    // the reader is closed; no more blocks will come
  // The connection dropped mid-stream and the reader is getting it back: no blocks come until
  // kReconnected (or kClosed when it gives up).
  kReconnecting = 35,
  kReconnected = 36,  // the stream is back; the next block follows the last one delivered
};

/// Result codes: 0 is success; failures are negative (FFmpeg's AVERROR values for the FFmpeg
/// reader) so they print as "Result -N" and as 8 hexadecimal digits.
inline constexpr int kReaderOk = 0;

namespace reader_detail {
constexpr int Tag(char a, char b, char c, char d) {
  return -static_cast<int>(static_cast<unsigned>(a) | static_cast<unsigned>(b) << 8 |
                           static_cast<unsigned>(c) << 16 | static_cast<unsigned>(d) << 24);
}
}  // namespace reader_detail

/// A dropped stream did not come back within the reconnect time (reported with kClosed).
inline constexpr int kReaderReconnectTimedOut = reader_detail::Tag('R', 'C', 'T', 'O');
/// A dropped stream came back as something else (another length, other bytes): playing on
/// would splice two files, so the reader ends it (reported with kClosed).
inline constexpr int kReaderStreamChanged = reader_detail::Tag('C', 'H', 'N', 'G');
/// An https stream's server certificate was refused (reported with kOpened); `ErrorText` says
/// why, as a page load would.
inline constexpr int kReaderCertificateRefused = reader_detail::Tag('C', 'E', 'R', 'T');
/// The format of one reader output. An audio output always delivers interleaved signed 16-bit
/// little-endian PCM at the stream's own sample rate and channel count.
struct ReaderMediaType {
  bool is_audio = false;
  std::uint32_t channels = 0;
  std::uint32_t sample_rate = 0;
  std::uint32_t bits_per_sample = 0;
};

/// What a reader calls back. Both methods run on the reader's own thread, never after the
/// reader's Close has returned, and must return quickly (a short lock at most).
class MediaReaderCallback {
 public:
  virtual ~MediaReaderCallback() = default;

  /// A status change; `result` is kReaderOk or a failure code (an opened status with a failure
  /// code means the open failed).
  virtual void OnStatus(ReaderStatus status, int result) = 0;

  /// One decoded block of output `output`. `data` is valid only during the call. Returns
  /// whether the block was kept: a dropped block (an output nobody reads) does not count
  /// towards the reader's hold-back.
  virtual bool OnSample(std::uint32_t output, const std::uint8_t* data, std::size_t length) = 0;
};

/// A media reader. One open per object: a new address needs a new reader.
class MediaReader {
 public:
  /// Bytes of delivered but not yet consumed blocks above which a reader holds back (stops
  /// reading the source) until the consumer reports it has caught up. It bounds memory while
  /// the chain is paused or the network is faster than playback: a long mix decodes to
  /// hundreds of megabytes of PCM.
  static constexpr std::size_t kHoldBackBytes = 2u << 20;
  /// A reader holding back goes on once the blocks not yet consumed are down to this: it then
  /// reads and decodes a megabyte in one go, where going on at the first block consumed would
  /// wake it, and the consumer with it, for every block.
  static constexpr std::size_t kResumeBytes = 1u << 20;

  virtual ~MediaReader() = default;

  /// Ask the reader to allow streaming over TCP, HTTP or UDP. A reader for which a protocol
  /// switch has no meaning records it and ignores it.
  virtual void SetEnableTCP(bool enable) = 0;
  virtual void SetEnableHTTP(bool enable) = 0;
  virtual void SetEnableUDP(bool enable) = 0;

  /// How much the reader buffers before it reports started, in 100-nanosecond units.
  /// Returns a result code.
  virtual int SetBufferingTime(std::uint64_t span) = 0;

  /// Proxy for the named protocol (for example "http").
  virtual void SetProxyHostName(const std::string& protocol, const std::string& host) = 0;
  virtual void SetProxyPort(const std::string& protocol, std::uint32_t port) = 0;

  /// Playback log addresses. Returns a result code.
  virtual int AddLoggingUrl(const std::string& url) = 0;
  virtual void ResetLoggingUrlList() = 0;

  /// Starts opening `address`; the outcome arrives as an opened status on the reader's thread.
  /// A non-zero return means the address was refused and no status will come.
  /// `callback` must outlive the reader's Close.
  virtual int Open(const std::string& address, MediaReaderCallback* callback) = 0;

  /// Number of outputs (one per stream of the container). Returns a result code.
  virtual int GetOutputCount(std::uint32_t* count) = 0;
  /// The format of output `output`. Returns a result code.
  virtual int GetMediaType(std::uint32_t output, ReaderMediaType* type) = 0;

  /// The attributes "Duration" (100-nanosecond units), "Bitrate" (bits per second) and
  /// "DurationIsEstimate" (1 when the duration is only guessed, from the size and the first
  /// frames' bit rate: the stream may really be longer or shorter, 0 otherwise). Fails
  /// (non-zero) when the name is unknown or the container does not give the value.
  virtual int GetAttribute(const std::string& name, std::uint64_t* value) = 0;

  /// Starts delivering from the beginning to the end at playback `rate` (1.0 = normal).
  /// Returns a result code.
  virtual int Start(float rate) = 0;

  /// How long a stream whose connection drops mid-way (a reset, a stall, a cut before its
  /// length) is reconnected before the reader gives up with kReaderReconnectTimedOut. While it
  /// tries it reports kReconnecting, and kReconnected once the stream flows again from the byte
  /// where it stopped. 0 turns reconnecting off: a drop ends the stream.
  virtual void SetReconnectTime(std::chrono::milliseconds limit) = 0;
  /// The network is back: a reconnect waiting between two attempts tries at once. Nothing
  /// when no reconnect is waiting.
  virtual void RetryNow() = 0;

  /// A result code in words, for the message of a stream that ended early.
  virtual std::string ErrorText(int result) const = 0;

  /// Stop and continue delivering blocks; the reader stops reading the source while paused.
  virtual void Pause() = 0;
  virtual void Resume() = 0;

  /// Flow control: the consumer has freed `bytes` bytes of kept blocks (see `kHoldBackBytes`
  /// and `kResumeBytes`). Any thread.
  virtual void Consumed(std::size_t bytes) = 0;

  /// Stops delivery. Close ends the open: a blocked network read is interrupted at once, the
  /// reader's threads have ended when it returns, and no callback runs after it. Both are
  /// idempotent; the destructor closes.
  virtual void Stop() = 0;
  virtual void Close() = 0;
};

/// Whether a reader may open local files and other non-network addresses.
enum class AddressOrigin {
  kNetwork,  // taken from a page: network protocols only (http, https, tcp, tls, mmsh, mmst)
  kUser,     // named by the user (a path given on the command line): local files allowed too
};

/// Creates the real (FFmpeg) reader.
std::unique_ptr<MediaReader> CreateMediaReader(AddressOrigin origin);

}  // namespace djkivo
