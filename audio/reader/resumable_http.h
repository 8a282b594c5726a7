// The bytes of an http or https stream for the FFmpeg demuxer, riding out dropped connections:
// a drop is reconnected with a back-off and resumed at the byte where it stopped, so the
// decode goes on as if nothing happened. Part of the FFmpeg reader (ffmpeg_reader.cpp).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/dict.h>
}

#include "audio/reader/reconnect_backoff.h"

namespace djkivo {

/// A custom AVIO context over FFmpeg's own http protocol (one request per connection).
///
/// When a connection breaks (a reset, a read that times out, a body cut before its length) it
/// asks for the rest again with `Range: bytes=N-`, where N is the next byte the demuxer wants,
/// after a back-off (`ReconnectBackoff`), for up to the reconnect time. What comes back is
/// checked against the bytes already read (a 200 to the Range, which FFmpeg refuses, is taken as
/// the server's inability to resume):
/// - it goes on from the last bytes read (a 206): the stream continues;
/// - it starts again from the stream's first bytes (the server cannot resume): it is read from
///   the start once more and the first N bytes are skipped;
/// - neither, on a stream without a length (a live stream): it restarts from now;
/// - neither, or another length, on a stream with a length: the file changed, and the stream
///   ends with `kReaderStreamChanged` rather than splice two files.
/// A 4xx answer (the song is gone: 404, 410, forbidden) ends it at once; a body without a
/// length that the server closes (HTTP/1.0 framing) is the end, not a drop, so such a song
/// never loops.
///
/// Threads: everything runs on the reader's thread inside the demuxer's reads, but for the
/// host's retry-now, which wakes `WaitForRetry` from any thread.
class ResumableHttpInput {
 public:
  using Clock = std::chrono::steady_clock;

  /// What the reader does for the input; called on the reader's thread.
  class Host {
   public:
    virtual ~Host() = default;
    /// The connection dropped; nothing comes until `OnReconnected` or the read fails.
    virtual void OnReconnecting() = 0;
    /// Bytes flow again after a drop.
    virtual void OnReconnected() = 0;
    /// Sleeps until `when`, until a retry-now, or until the reader closes; false for the close.
    virtual bool WaitForRetry(Clock::time_point when) = 0;
  };

  /// The bytes compared to tell a resumed answer from a restarted or changed one.
  static constexpr std::size_t kCheckBytes = 4096;

  /// `options` (protocol whitelist, time-outs, proxy, TLS) are copied for every request;
  /// `interrupt` ends a blocked request when the reader closes. A `reconnect_time` of 0 turns
  /// reconnecting off: a drop ends the stream with the drop's error.
  ResumableHttpInput(std::string address, const AVDictionary* options,
                     const AVIOInterruptCB& interrupt, std::chrono::milliseconds reconnect_time,
                     Host* host);
  ~ResumableHttpInput();
  ResumableHttpInput(const ResumableHttpInput&) = delete;
  ResumableHttpInput& operator=(const ResumableHttpInput&) = delete;

  /// The first request; the failure's AVERROR when it cannot be made (no retry: a song that
  /// cannot be opened is not ridden out).
  int Open();
  /// The context the demuxer reads; valid after `Open` succeeded, owned by this object.
  AVIOContext* Context() const { return outer_; }

 private:
  static int ReadPacket(void* opaque, std::uint8_t* buffer, int size);
  static std::int64_t SeekPacket(void* opaque, std::int64_t offset, int whence);
  int Read(std::uint8_t* buffer, int size);
  std::int64_t Seek(std::int64_t offset, int whence);

  /// Opens the connection for the bytes from `offset` on; an AVERROR on failure.
  int OpenInner(std::int64_t offset);
  void CloseInner();
  /// Gets the connection back after a drop (`cause`), waiting out the back-off between
  /// attempts; 0 once bytes may be read again, else the error that ends the stream.
  int Reconnect(int cause);
  /// One attempt: a request, and the check of what came back. 0 when the stream goes on.
  int Reopen();
  /// Hands `bytes` read at `position_` to the demuxer's bookkeeping: position, head, tail.
  void Delivered(const std::uint8_t* data, std::size_t bytes);
  /// Reads exactly `count` bytes (fewer only at the end) from the connection into `out`.
  int ReadExactly(std::string& out, std::size_t count);

  const std::string address_;
  AVDictionary* options_ = nullptr;
  AVIOInterruptCB interrupt_;
  const std::chrono::milliseconds reconnect_time_;
  Host* const host_;

  AVIOContext* inner_ = nullptr;     // the current connection, null between connections
  AVIOContext* outer_ = nullptr;     // what the demuxer reads
  std::int64_t length_ = -1;         // the stream's whole length; -1 unknown
  bool seekable_ = false;            // the server answers Range requests
  bool ranges_ignored_ = false;      // it answered one with the whole stream
  std::int64_t position_ = 0;        // offset of the next byte the demuxer gets
  bool reopen_at_position_ = false;  // a seek moved the position: the next read reconnects there
  // The stream's first bytes, and the last ones before `position_` (a ring), for the checks.
  std::string head_;
  std::array<std::uint8_t, kCheckBytes> tail_{};
  std::size_t tail_count_ = 0;  // bytes in tail_ (at most kCheckBytes)
  std::size_t tail_next_ = 0;   // where the next tail byte goes
  // Bytes of the current connection already read by a check and not yet delivered.
  std::string pending_;
  std::size_t pending_at_ = 0;
  std::int64_t skip_ = 0;  // bytes of the current connection to drop before delivering
  // The drop being ridden out, from its start until bytes flow again.
  std::optional<ReconnectBackoff> episode_;
  Clock::time_point attempt_started_{};
};

}  // namespace djkivo
