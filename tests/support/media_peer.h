// A scripted loopback HTTP peer serving one media file with fault switches: stall, drop the
// connection part way, refuse to reconnect. For fault tests of the stream input and its reader.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace djkivo::test {

/// Serves `body` for every GET on 127.0.0.1:`Port()` (any path), honouring "Range: bytes=N-"
/// with a 206 answer. Connections run on threads of their own; the destructor ends them all.
class MediaPeer {
 public:
  struct Script {
    std::string content_type = "audio/mpeg";
    /// Stop sending after this many body bytes and keep the connection open (-1: never).
    std::int64_t stall_after = -1;
    /// Close the first connection after this many body bytes (-1: never).
    std::int64_t drop_after = -1;
    /// Answer every request after the first with "503 Service Unavailable".
    bool refuse_reconnect = false;
  };

  MediaPeer(std::string body, Script script);
  ~MediaPeer();
  MediaPeer(const MediaPeer&) = delete;
  MediaPeer& operator=(const MediaPeer&) = delete;

  int Port() const { return port_; }
  /// "http://127.0.0.1:PORT/" + `path`.
  std::string Url(const std::string& path) const;
  /// Requests answered so far.
  int Requests() const { return requests_.load(); }
  /// The start offsets of the Range requests seen so far.
  std::vector<std::int64_t> RangeStarts() const;

 private:
  void Accept();
  void Serve(int fd, int request);
  bool Stopping(int wait_ms);

  const std::string body_;
  const Script script_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<int> requests_{0};
  std::thread acceptor_;

  mutable std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;  // --- guarded by mutex_
  std::vector<std::int64_t> range_starts_;
  std::vector<std::thread> connections_;
};

}  // namespace djkivo::test
