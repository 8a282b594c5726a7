// The source of the audio chain: a stream address opened, downloaded and decoded by a media
// reader on its own thread, handed out block by block through the pull protocol.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/audio_tagged_file_in.h"
#include "audio/media_reader.h"

namespace djkivo {

class TEventHandler;

/// A stream input event; the sender is the stream input.
using TStreamedAudioEvent = TAudioEvent;

/// The stream input (`MediaStreamIn1`).
///
/// `OpenSource` has a fresh media reader open `FileName` and waits (at most
/// `MaxWaitMilliseconds`) for its answer; the reader then delivers decoded blocks on its own
/// thread into a queue, and `ReadStage` hands them out one block (or the rest of one) per call,
/// as a pointer into the block, without copying. The format is the reader's: signed 16-bit PCM
/// at the stream's own rate and channel count. `Size` is an estimate from the declared duration
/// (-1 for a stream without one; a duration the reader only guessed is kept for the display but
/// does not cut the stream); the stream is not seekable.
///
/// A connection that drops mid-song is reconnected by the reader for up to `ReconnectTime`
/// (`Reconnecting` meanwhile, with `OnReconnect` posted as it starts and ends; `RetryNow`
/// tries at once). A stream that delivers nothing for `MaxWaitMilliseconds` while no reconnect
/// is under way ends, as does one the reader gives up on; `Failure` then says why.
///
/// Threads: properties are set on the main thread while the source is closed. `OpenSource` and
/// `CloseSource` run on whichever thread opens or closes the chain (or asks for the format),
/// under `OpenLock`; `ReadStage` on the pulling thread (the cache's fill thread) under
/// `DataLock`; the reader's callbacks on the reader's thread; `PauseInput`, `ResumeInput` and
/// `CancelRead` on any thread. `TotalTime`, `Position` and `Size` may be read from any thread.
/// Events are posted through the audio event dispatcher and run on the main thread.
class TMediaStreamIn : public TAudioTaggedFileIn {
 public:
  /// Makes the reader for one open (tests plug in the scripted fake here).
  using ReaderFactory = std::function<std::unique_ptr<MediaReader>(AddressOrigin origin)>;

  /// The wait limit of a reader record before the properties are applied.
  static constexpr std::uint32_t kInitialMaxWait = 10000;
  /// The wait limit once a reader record is being closed: a read still waiting gives up soon.
  static constexpr std::uint32_t kClosingMaxWait = 2000;
  /// How long a dropped stream is reconnected by default: long enough for a laptop's Wi-Fi to
  /// come back, short enough that a dead stream does not hold the player.
  static constexpr std::uint32_t kDefaultReconnectMinutes = 3;
  static constexpr std::chrono::milliseconds kDefaultReconnectTime{
      std::chrono::minutes(kDefaultReconnectMinutes)};

  TMediaStreamIn();
  ~TMediaStreamIn() override;

  // --- Published properties (main thread, while closed).
  /// Seconds of network buffering asked of the reader (default 2); values outside 1..60 are
  /// ignored. For the FFmpeg reader: how much it reads ahead before it reports started.
  std::uint16_t BufferingTime() const { return buffering_time_.load(); }
  void SetBufferingTime(std::uint16_t seconds);
  /// Ask the reader to allow HTTP, TCP or UDP streaming (default false). False leaves the
  /// reader's own setting alone. The FFmpeg reader records them only.
  bool EnableHTTP() const { return enable_http_.load(); }
  void SetEnableHTTP(bool value) { enable_http_.store(value); }
  bool EnableTCP() const { return enable_tcp_.load(); }
  void SetEnableTCP(bool value) { enable_tcp_.store(value); }
  bool EnableUDP() const { return enable_udp_.load(); }
  void SetEnableUDP(bool value) { enable_udp_.store(value); }
  /// Longest wait for the reader's opened status and for each next block (default 10000 ms).
  std::uint32_t MaxWaitMilliseconds() const { return max_wait_milliseconds_.load(); }
  void SetMaxWaitMilliseconds(std::uint32_t value) { max_wait_milliseconds_.store(value); }
  /// Proxy settings, applied only when `ProxyHost` is not empty. The FFmpeg reader uses them
  /// for HTTP ("http", "https" or an empty protocol) as its http_proxy option.
  std::string ProxyProtocol() const;
  void SetProxyProtocol(const std::string& value);
  std::string ProxyHost() const;
  void SetProxyHost(const std::string& value);
  std::uint32_t ProxyPort() const { return proxy_port_.load(); }
  void SetProxyPort(std::uint32_t value) { proxy_port_.store(value); }
  /// Address the reader reports playback logs to, applied only when not empty. The FFmpeg
  /// reader accepts http and https addresses and records them.
  std::string LoggingURL() const;
  void SetLoggingURL(const std::string& value);
  /// Playback rate handed to the reader's start (default 1.0). The FFmpeg reader plays at the
  /// stream's own speed whatever the rate.
  float StretchFactor() const { return stretch_factor_.load(); }
  void SetStretchFactor(float value) { stretch_factor_.store(value); }
  /// Posted (to run on the main thread) after every open attempt that the reader answered or
  /// that timed out, whether it succeeded or not.
  void SetOnStreamOpened(TStreamedAudioEvent handler);
  /// Posted (to run on the main thread) after the first block read of an open.
  void SetOnStartedPlaying(TStreamedAudioEvent handler);
  /// How long a stream whose connection drops is reconnected before it ends (default
  /// `kDefaultReconnectTime`); 0 turns reconnecting off, so a drop ends the song.
  std::chrono::milliseconds ReconnectTime() const { return reconnect_time_.load(); }
  void SetReconnectTime(std::chrono::milliseconds value) { reconnect_time_.store(value); }
  /// The same in whole minutes, as the user sets it (`ReconnectMinutes`).
  void SetReconnectMinutes(std::uint32_t minutes) {
    SetReconnectTime(std::chrono::minutes(minutes));
  }
  /// Posted (to run on the main thread) when the stream starts reconnecting and when it is back
  /// or given up; `Reconnecting` tells which.
  void SetOnReconnect(TStreamedAudioEvent handler);

  /// Where `FileName` comes from (default: the network). Addresses from the network are opened
  /// with network protocols only; a user's own address (a path typed on the command line) may
  /// also be a local file.
  AddressOrigin Origin() const { return origin_.load(); }
  void SetOrigin(AddressOrigin origin) { origin_.store(origin); }
  /// Replaces the FFmpeg reader (tests). Main thread, while closed.
  void SetReaderFactory(ReaderFactory factory);

  // --- Stream state, valid after `OpenSource`; any thread.
  /// An audio output was found.
  bool Valid() const { return valid_.load(); }
  /// Bits per second from the stream's attributes; 0 when absent.
  std::uint32_t Bitrate() const { return bitrate_.load(); }
  /// Whole seconds from the stream's attributes (rounded to nearest); 0 when absent. Kept after
  /// the stream closes. Unlike `TotalTime` it never opens anything, so a display may call it on
  /// the main thread at any time, even after a stop or while the next song opens.
  std::int64_t Duration() const { return duration_.load(); }
  /// The connection dropped and the reader is getting it back: the audio read ahead plays out,
  /// then the output waits, and the elapsed time stands still.
  bool Reconnecting() const { return reconnecting_.load(); }
  /// Why the last stream ended before its end (a drop not ridden out, a stream that stopped
  /// sending, a decoding failure), for the user; empty when it played to its end, was stopped,
  /// or is still playing. Cleared by the next open.
  std::string Failure() const;
  /// The network is back: a reconnect waiting between attempts tries at once. Any thread.
  void RetryNow();

  // --- Operations of the chain.
  /// Opens the source if needed, then `Duration`.
  std::uint32_t TotalTime() override;
  /// The stream cannot seek: always false.
  bool SeekSample(std::int64_t& sample) override;
  /// Pauses and resumes the reader (the cache normally stops pauses before they get here).
  void PauseInput() override;
  void ResumeInput() override;
  /// Ends a wait for data, or an open's wait for the reader's answer, at once; reads answer
  /// no data, and opens fail at once, until `ResetCancel`.
  void CancelRead() override;
  void ResetCancel() override;
  /// Waits for a block, or for the stream's end. The pulling thread.
  bool WaitReadable(std::chrono::milliseconds timeout) override;

 protected:
  /// Closes as every file source does, then lets the last handed-out block go.
  void CloseStage() override;
  /// Opens a fresh reader record and waits for the reader's answer (see the class comment).
  /// Failures: "File name or URL is not assigned", "Result " + decimal code (address
  /// refused), "Failed seting buffering.", "Canoot add a logging URL", "Result " + 8 hex digits
  /// (the reader cannot start), and an empty message (no answer within `MaxWaitMilliseconds`
  /// or before a `CancelRead`, an open that failed, outputs that cannot be listed).
  void OpenSource() override;
  /// Stops and closes the reader, wakes a waiting read, frees the queued blocks.
  void CloseSource() override;
  /// Hands out (part of) the head block: a pointer into it and at most `bytes` bytes.
  void ReadStage(std::uint8_t*& buffer, std::uint32_t& bytes) override;

 private:
  class ReaderRecord;

  std::shared_ptr<ReaderRecord> CurrentRecord() const;
  void PostStreamEvent(const TStreamedAudioEvent& handler);
  /// The reader's thread: the record of the open stream started or ended a reconnect.
  void ReconnectChanged(bool reconnecting);
  /// The stream ended early; keeps the first reason given.
  void SetFailure(const std::string& reason);

  // Properties: written on the main thread, read by the opening thread.
  std::atomic<std::uint16_t> buffering_time_{2};
  std::atomic<bool> enable_http_{false};
  std::atomic<bool> enable_tcp_{false};
  std::atomic<bool> enable_udp_{false};
  std::atomic<std::uint32_t> max_wait_milliseconds_{10000};
  std::atomic<std::chrono::milliseconds> reconnect_time_{kDefaultReconnectTime};
  std::atomic<std::uint32_t> proxy_port_{0};
  std::atomic<float> stretch_factor_{1.0f};
  std::atomic<AddressOrigin> origin_{AddressOrigin::kNetwork};
  std::string proxy_protocol_;  // --- guarded by property_lock_
  std::string proxy_host_;
  std::string logging_url_;
  TStreamedAudioEvent on_stream_opened_;
  TStreamedAudioEvent on_started_playing_;
  TStreamedAudioEvent on_reconnect_;
  ReaderFactory reader_factory_;
  mutable std::mutex property_lock_;

  // Stream state: written by OpenSource under open_lock_, read from any thread.
  std::atomic<std::uint32_t> bitrate_{0};
  std::atomic<std::int64_t> duration_{0};
  std::atomic<bool> started_playing_pending_{false};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> reconnecting_{false};
  std::string failure_;  // --- guarded by property_lock_

  // The open reader record, or null when closed. Swapped under record_lock_ only, so the
  // pulling thread can take its own reference while another thread closes the source.
  std::shared_ptr<ReaderRecord> record_;
  // The record an open is waiting on for the reader's answer, null otherwise (under
  // record_lock_): `CancelRead` wakes that wait too, so a stop never waits out an open that
  // gets no answer.
  std::shared_ptr<ReaderRecord> opening_;
  mutable std::mutex record_lock_;
  // Pulling thread, under data_lock_: the record of the block handed out last, kept alive so
  // the block stays valid until the next ReadStage even if the source is closed meanwhile.
  std::shared_ptr<ReaderRecord> reading_;

  std::shared_ptr<TEventHandler> dispatcher_;
};

}  // namespace djkivo
