// The media reader on FFmpeg: one thread per open demuxes, decodes and converts to interleaved
// signed 16-bit PCM; http and https streams are read through ResumableHttpInput, which rides out
// dropped connections. Covered by tests/audio/reader/ffmpeg_reader_test.cpp and, through the
// stream input, tests/audio/media_stream_in_test.cpp.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "audio/media_reader.h"
#include "audio/reader/resumable_http.h"
#include "base/thread_name.h"
#include "net/http_errors.h"
#include "net/network_settings.h"
#include "net/stream_options.h"

namespace djkivo {
namespace {

// Protocols an address taken from a page may use: network streaming only, so a page can never
// make the player read local files or chain other protocols. "httpproxy" is the CONNECT tunnel
// an https stream takes through a proxy.
constexpr const char* kNetworkProtocols = "http,https,httpproxy,tcp,tls,mmsh,mmst";
// An address the user typed may also be a local file.
constexpr const char* kUserProtocols = "file,http,https,httpproxy,tcp,tls,mmsh,mmst";

// Containers an address taken from a page may be: the audio formats a music site serves. No
// playlist or manifest format (HLS, DASH, concat), which would make FFmpeg fetch further
// addresses of the page's choosing, the loopback and the local network included.
constexpr const char* kNetworkFormats = "mp3,asf,aac,mov,ogg,flac,wav";

// A network read that gets no byte for this long fails and is retried by a reconnect at the same
// byte. Well inside the stream input's 10 s wait for a block, so a connection that went silent
// is replaced while the read-ahead still plays, before the input gives the stream up.
constexpr const char* kReadTimeoutMicroseconds = "5000000";
// How long Close waits for the reader's thread. A thread inside an FFmpeg call is interrupted at
// once; one inside the system's name lookup (which nothing interrupts, and which can take half a
// minute on a network that drops DNS packets) is left to finish on its own, so no caller ever
// waits for the resolver.
constexpr std::chrono::milliseconds kCloseWait{1000};
// Probe little: the first block of a song should come quickly. MP3 and ASF headers are
// recognised within a few kilobytes; the limits still leave room for tags in front of the audio.
constexpr const char* kProbeSizeBytes = "65536";
constexpr const char* kAnalyzeDurationMicroseconds = "500000";

// Size of the blocks delivered (the last one of a stream may be shorter): about 90 ms of
// 44.1 kHz stereo, four MP3 frames.
constexpr std::size_t kBlockBytes = 16 * 1024;

bool HasScheme(const std::string& address, const std::string& scheme) {
  return address.size() > scheme.size() + 3 &&
         av_strncasecmp(address.c_str(), (scheme + "://").c_str(), scheme.size() + 3) == 0;
}

// FFmpeg takes one proxy, for HTTP (and HTTPS through CONNECT); settings for any other
// protocol are ignored.
bool IsProxiedProtocol(const std::string& protocol) {
  return protocol.empty() || av_strcasecmp(protocol.c_str(), "http") == 0 ||
         av_strcasecmp(protocol.c_str(), "https") == 0;
}

// One stream of the container, as one reader output.
struct Output {
  ReaderMediaType type;
  AVStream* stream = nullptr;
  AVCodecContext* codec = nullptr;  // audio outputs only
  SwrContext* convert = nullptr;    // created on the first frame that needs converting
  AVChannelLayout layout{};         // the output's channel layout
  AVSampleFormat convert_from = AV_SAMPLE_FMT_NONE;
  int convert_rate = 0;
  AVChannelLayout convert_layout{};
  // Converted PCM not yet delivered: decoded frames are gathered into blocks of about
  // kBlockBytes, so the consumer is woken once per block rather than once per MP3 frame.
  std::vector<std::uint8_t> pending;
  std::size_t pending_length = 0;
};

// What one open shares between the reader's handle and its thread. The thread holds a reference
// of its own, so a thread that outlives the handle's Close (stuck in the name lookup) still has
// everything it touches; it frees the FFmpeg contexts when it ends.
class ReaderCore final : public std::enable_shared_from_this<ReaderCore>,
                         public ResumableHttpInput::Host {
 public:
  explicit ReaderCore(AddressOrigin origin) : origin_(origin) {}
  ~ReaderCore() override;

  void SetEnableTCP(bool enable) { enable_tcp_ = enable; }
  void SetEnableHTTP(bool enable) { enable_http_ = enable; }
  // FFmpeg has no streaming over UDP for these addresses: the switch is recorded only.
  void SetEnableUDP(bool enable) { enable_udp_ = enable; }
  int SetBufferingTime(std::uint64_t span);
  void SetProxyHostName(const std::string& protocol, const std::string& host);
  void SetProxyPort(const std::string& protocol, std::uint32_t port);
  int AddLoggingUrl(const std::string& url);
  void ResetLoggingUrlList() { logging_urls_.clear(); }
  void SetReconnectTime(std::chrono::milliseconds limit) { reconnect_time_ = limit; }
  int Prepare(const std::string& address, MediaReaderCallback* callback);
  int GetOutputCount(std::uint32_t* count);
  // Why the open failed with kReaderCertificateRefused. Any thread.
  std::string CertificateRefusal() {
    std::lock_guard lock(mutex_);
    return certificate_refusal_;
  }
  int GetMediaType(std::uint32_t output, ReaderMediaType* type);
  int GetAttribute(const std::string& name, std::uint64_t* value);
  int Start(float rate);
  void Pause();
  void Resume();
  void Consumed(std::size_t bytes);
  void RetryNow();
  void Stop();
  /// The thread's whole life: the open, the delivery, then the end of the thread.
  void Run();
  /// Waits up to `timeout` for the thread to end; true when it has.
  bool WaitFinished(std::chrono::milliseconds timeout);
  /// From now on no callback is called, even by a thread still running. Waits for a callback
  /// in progress to return.
  void DropCallback();

  // ResumableHttpInput::Host, on the reader thread.
  void OnReconnecting() override { Report(ReaderStatus::kReconnecting, kReaderOk); }
  void OnReconnected() override { Report(ReaderStatus::kReconnected, kReaderOk); }
  bool WaitForRetry(ResumableHttpInput::Clock::time_point when) override;

 private:
  static int Interrupted(void* self);
  // The callback, unless it was dropped.
  void Report(ReaderStatus status, int result);
  bool Hand(std::uint32_t index, const std::uint8_t* data, std::size_t length);
  int OpenInput();
  // For an https open that failed with FFmpeg's bare I/O error: kReaderCertificateRefused
  // (its reason stored) when the server's certificate is refused, else `result`.
  int WhyTlsOpenFailed(int result);
  // The proxy set on the reader itself as FFmpeg's http_proxy value; "" for none.
  std::string OwnProxy() const;
  // Reads the next packet; false at the end of the stream, with a failure other than the
  // clean end stored in `failure`.
  bool ReadPacket(AVPacket* packet, int* failure);
  // Waits until delivery may go on; false when the reader is stopping.
  bool WaitToDeliver();
  // Decodes one packet (nullptr flushes every decoder) and delivers the PCM; false on stop.
  bool Decode(const AVPacket* packet);
  // Converts a decoded frame to the output's PCM at the end of its pending block.
  void Convert(Output& output, const AVFrame* frame);
  // Runs the converter on `frame` (nullptr: what it still holds) into the pending block.
  void Drain(Output& output, const AVFrame* frame);
  // Space for `samples` more frames at the end of the pending block.
  std::uint8_t* Room(Output& output, int samples);
  // Hands the pending block (if any) to the callback once delivery may go on; false when the
  // reader is stopping.
  bool Deliver(std::uint32_t index, Output& output);
  // The open and the delivery, on the reader thread.
  void Read();
  void FreeOutputs();
  // True for a packet of a decoded audio output (streams that appear after the open are not).
  bool IsAudio(int stream_index) const {
    return stream_index >= 0 && static_cast<std::size_t>(stream_index) < outputs_.size() &&
           outputs_[stream_index].codec;
  }

  const AddressOrigin origin_;

  // Configuration: set by the opening thread before Open, read by the reader thread after it.
  bool enable_tcp_ = false;  // FFmpeg allows TCP and HTTP anyway: recorded only
  bool enable_http_ = false;
  bool enable_udp_ = false;
  std::uint64_t buffering_span_ = 0;  // 100-ns units of packets read before started
  std::string proxy_host_;            // applied as FFmpeg's http_proxy option
  std::uint32_t proxy_port_ = 0;
  // Playback logs are a Windows Media server feature: addresses are checked and recorded only.
  std::vector<std::string> logging_urls_;
  std::chrono::milliseconds reconnect_time_{0};
  std::string address_;

  // The stream's callback; null once dropped. Called only under gate_, so dropping it waits for
  // a call in progress.
  MediaReaderCallback* callback_ = nullptr;
  std::mutex gate_;

  // Set by Stop/Close: interrupts a blocked FFmpeg call at once and ends the reader thread.
  std::atomic<bool> abort_{false};
  // Bytes delivered (reader thread) and reported consumed (reading thread): the hold-back gauge.
  std::atomic<std::size_t> delivered_{0};
  std::atomic<std::size_t> consumed_{0};

  // The container and its outputs: written by the reader thread before it reports opened, read
  // by the opening thread after that, freed with the core once the thread has ended.
  AVFormatContext* format_ = nullptr;
  std::vector<Output> outputs_;
  // The bytes of an http or https stream (null for other addresses); freed after format_.
  std::unique_ptr<ResumableHttpInput> http_;

  std::mutex mutex_;
  std::condition_variable wake_;  // Start, Pause, Resume, Consumed, RetryNow, Stop, the end
  bool opened_ = false;           // --- guarded by mutex_: outputs_ may be read
  bool started_ = false;
  bool paused_ = false;
  // Over kHoldBackBytes delivered and not consumed; cleared at kResumeBytes.
  bool holding_back_ = false;
  bool retry_now_ = false;
  bool finished_ = false;            // the thread has left Run
  std::string certificate_refusal_;  // why the open failed with kReaderCertificateRefused

  // Reader thread only.
  AVFrame* frame_ = nullptr;
};

int ReaderCore::SetBufferingTime(std::uint64_t span) {
  buffering_span_ = span;
  return kReaderOk;
}

void ReaderCore::SetProxyHostName(const std::string& protocol, const std::string& host) {
  if (IsProxiedProtocol(protocol))
    proxy_host_ = host;
}

void ReaderCore::SetProxyPort(const std::string& protocol, std::uint32_t port) {
  if (IsProxiedProtocol(protocol))
    proxy_port_ = port;
}

int ReaderCore::AddLoggingUrl(const std::string& url) {
  if (!HasScheme(url, "http") && !HasScheme(url, "https"))
    return AVERROR(EINVAL);
  logging_urls_.push_back(url);
  return kReaderOk;
}

int ReaderCore::Prepare(const std::string& address, MediaReaderCallback* callback) {
  if (address.empty() || !callback)
    return AVERROR(EINVAL);
  // Refuse at once what the whitelist would refuse later: a page's address naming a local file.
  if (origin_ == AddressOrigin::kNetwork) {
    bool allowed = false;
    for (const char* scheme : {"http", "https", "tcp", "tls", "mmsh", "mmst"})
      allowed = allowed || HasScheme(address, scheme);
    if (!allowed)
      return AVERROR(EPERM);
  }
  address_ = address;
  callback_ = callback;
  return kReaderOk;
}

int ReaderCore::GetOutputCount(std::uint32_t* count) {
  std::lock_guard lock(mutex_);
  if (!opened_)
    return AVERROR(EAGAIN);
  *count = static_cast<std::uint32_t>(outputs_.size());
  return kReaderOk;
}

int ReaderCore::GetMediaType(std::uint32_t output, ReaderMediaType* type) {
  std::lock_guard lock(mutex_);
  if (!opened_ || output >= outputs_.size())
    return AVERROR(EINVAL);
  *type = outputs_[output].type;
  return kReaderOk;
}

int ReaderCore::GetAttribute(const std::string& name, std::uint64_t* value) {
  std::lock_guard lock(mutex_);
  if (!opened_)
    return AVERROR(EAGAIN);
  if (name == "Duration" && format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
    // AV_TIME_BASE is microseconds; the attribute counts 100 ns.
    *value = static_cast<std::uint64_t>(format_->duration) * (10'000'000 / AV_TIME_BASE);
    return kReaderOk;
  }
  if (name == "Bitrate" && format_->bit_rate > 0) {
    *value = static_cast<std::uint64_t>(format_->bit_rate);
    return kReaderOk;
  }
  // An MP3 without a Xing or VBRI header has its duration guessed from the first frames' bit
  // rate, which for variable bit rate may be far off either way.
  if (name == "DurationIsEstimate" && format_->duration != AV_NOPTS_VALUE) {
    *value = format_->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE ? 1 : 0;
    return kReaderOk;
  }
  return AVERROR(ENOENT);
}

int ReaderCore::Start(float rate) {
  // Blocks are pulled by the consumer as fast as it plays them, so a playback rate other than
  // 1.0 has nothing to act on here; it is accepted and the stream plays at its own speed.
  (void)rate;
  std::lock_guard lock(mutex_);
  if (!opened_)
    return AVERROR(EAGAIN);
  started_ = true;
  wake_.notify_all();
  return kReaderOk;
}

void ReaderCore::Pause() {
  std::lock_guard lock(mutex_);
  paused_ = true;
}

void ReaderCore::Resume() {
  std::lock_guard lock(mutex_);
  paused_ = false;
  wake_.notify_all();
}

void ReaderCore::Consumed(std::size_t bytes) {
  const std::size_t consumed = consumed_.fetch_add(bytes) + bytes;
  // Above the resume mark a waiting reader stays held back, and a reader that is not waiting
  // has delivered since: nobody to wake. While the reader waits `delivered_` stands still, so
  // the call that brings the gauge down to the mark sees it and wakes the reader.
  if (delivered_.load() - consumed > MediaReader::kResumeBytes)
    return;
  std::lock_guard lock(mutex_);
  wake_.notify_all();
}

void ReaderCore::RetryNow() {
  std::lock_guard lock(mutex_);
  retry_now_ = true;
  wake_.notify_all();
}

bool ReaderCore::WaitForRetry(ResumableHttpInput::Clock::time_point when) {
  std::unique_lock lock(mutex_);
  wake_.wait_until(lock, when, [this] { return abort_.load() || retry_now_; });
  retry_now_ = false;
  return !abort_.load();
}

void ReaderCore::Stop() {
  abort_.store(true);
  std::lock_guard lock(mutex_);
  wake_.notify_all();
}

bool ReaderCore::WaitFinished(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return wake_.wait_for(lock, timeout, [this] { return finished_; });
}

void ReaderCore::DropCallback() {
  std::lock_guard lock(gate_);
  callback_ = nullptr;
}

void ReaderCore::Report(ReaderStatus status, int result) {
  std::lock_guard lock(gate_);
  if (callback_)
    callback_->OnStatus(status, result);
}

bool ReaderCore::Hand(std::uint32_t index, const std::uint8_t* data, std::size_t length) {
  std::lock_guard lock(gate_);
  return callback_ && callback_->OnSample(index, data, length);
}

ReaderCore::~ReaderCore() {
  FreeOutputs();
  avformat_close_input(&format_);
  http_.reset();  // after the container, which reads through it to the last
}

int ReaderCore::Interrupted(void* self) {
  return static_cast<ReaderCore*>(self)->abort_.load() ? 1 : 0;
}

int ReaderCore::OpenInput() {
  format_ = avformat_alloc_context();
  if (!format_)
    return AVERROR(ENOMEM);
  format_->interrupt_callback = {&ReaderCore::Interrupted, this};

  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist",
              origin_ == AddressOrigin::kNetwork ? kNetworkProtocols : kUserProtocols, 0);
  if (origin_ == AddressOrigin::kNetwork)
    av_dict_set(&options, "format_whitelist", kNetworkFormats, 0);
  av_dict_set(&options, "rw_timeout", kReadTimeoutMicroseconds, 0);
  // The same bound for a connect that gets no answer (a network that drops packets), so the
  // reconnect attempts keep their pace.
  av_dict_set(&options, "timeout", kReadTimeoutMicroseconds, 0);
  av_dict_set(&options, "probesize", kProbeSizeBytes, 0);
  av_dict_set(&options, "analyzeduration", kAnalyzeDurationMicroseconds, 0);
  // The stream takes the pages' way (proxy, trust) and is checked as they are; a proxy set on
  // the stream input itself wins.
  try {
    for (const auto& [name, value] :
         net::StreamNetworkOptions(net::InstalledNetworkSettings(), address_))
      av_dict_set(&options, name.c_str(), value.c_str(), 0);
  } catch (const net::EHttpClientError&) {
    av_dict_free(&options);
    return AVERROR(EINVAL);  // a proxy setting that cannot be used: never a silent way around it
  }
  if (!proxy_host_.empty())
    av_dict_set(&options, "http_proxy", OwnProxy().c_str(), 0);
  // Streams over HTTP come through the input that rides out dropped connections (its requests
  // get the protocol options above, the demuxer the rest).
  if (HasScheme(address_, "http") || HasScheme(address_, "https")) {
    http_ = std::make_unique<ResumableHttpInput>(address_, options, format_->interrupt_callback,
                                                 reconnect_time_, this);
    if (const int opened = http_->Open(); opened < 0) {
      av_dict_free(&options);
      avformat_free_context(format_);
      format_ = nullptr;
      return opened;
    }
    format_->pb = http_->Context();
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  // On failure avformat_open_input frees the context and clears format_.
  int result = avformat_open_input(&format_, address_.c_str(), nullptr, &options);
  av_dict_free(&options);
  if (result < 0)
    return result;
  result = avformat_find_stream_info(format_, nullptr);
  if (result < 0)
    return result;

  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    Output output;
    output.stream = format_->streams[i];
    const AVCodecParameters* params = output.stream->codecpar;
    const AVCodec* decoder =
        params->codec_type == AVMEDIA_TYPE_AUDIO ? avcodec_find_decoder(params->codec_id) : nullptr;
    if (decoder && (output.codec = avcodec_alloc_context3(decoder)) &&
        avcodec_parameters_to_context(output.codec, params) >= 0 &&
        avcodec_open2(output.codec, decoder, nullptr) >= 0 && output.codec->sample_rate > 0 &&
        output.codec->ch_layout.nb_channels > 0) {
      if (output.codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&output.layout, output.codec->ch_layout.nb_channels);
      else
        av_channel_layout_copy(&output.layout, &output.codec->ch_layout);
      output.type = {true, static_cast<std::uint32_t>(output.layout.nb_channels),
                     static_cast<std::uint32_t>(output.codec->sample_rate), 16};
    } else {
      avcodec_free_context(&output.codec);
      output.stream->discard = AVDISCARD_ALL;  // video, data, or audio nobody can decode
    }
    outputs_.push_back(output);
  }
  return 0;
}

std::string ReaderCore::OwnProxy() const {
  if (proxy_host_.empty())
    return "";
  std::string proxy = "http://" + proxy_host_;
  if (proxy_port_ != 0)
    proxy += ":" + std::to_string(proxy_port_);
  return proxy;
}

int ReaderCore::WhyTlsOpenFailed(int result) {
  // FFmpeg's TLS fails a refused certificate as a bare I/O error, like any other I/O failure,
  // and names the reason only in its log: the certificate is checked again, as a page load
  // checks it, and a refusal is reported only when that check refuses it too.
  if (result != AVERROR(EIO) || !HasScheme(address_, "https") || abort_.load())
    return result;
  net::TNetworkSettings settings = net::InstalledNetworkSettings();
  if (!proxy_host_.empty())
    settings.proxy = OwnProxy();
  std::optional<std::string> refusal = net::StreamCertificateRefusal(settings, address_);
  if (!refusal)
    return result;
  std::lock_guard lock(mutex_);
  certificate_refusal_ = std::move(*refusal);
  return kReaderCertificateRefused;
}

void ReaderCore::FreeOutputs() {
  for (Output& output : outputs_) {
    avcodec_free_context(&output.codec);
    swr_free(&output.convert);
    av_channel_layout_uninit(&output.layout);
    av_channel_layout_uninit(&output.convert_layout);
  }
  outputs_.clear();
}

bool ReaderCore::WaitToDeliver() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] {
    if (abort_.load())
      return true;
    const std::size_t waiting = delivered_.load() - consumed_.load();
    if (waiting > MediaReader::kHoldBackBytes)
      holding_back_ = true;
    else if (waiting <= MediaReader::kResumeBytes)
      holding_back_ = false;
    return started_ && !paused_ && !holding_back_;
  });
  return !abort_.load();
}

std::uint8_t* ReaderCore::Room(Output& output, int samples) {
  const std::size_t bytes = static_cast<std::size_t>(samples) * output.layout.nb_channels * 2;
  // The buffer only grows (to a little over one block), so it is not cleared again and again.
  if (output.pending.size() < output.pending_length + bytes)
    output.pending.resize(output.pending_length + bytes);
  return output.pending.data() + output.pending_length;
}

void ReaderCore::Convert(Output& output, const AVFrame* frame) {
  const int channels = output.layout.nb_channels;
  const auto format = static_cast<AVSampleFormat>(frame->format);
  if (format == AV_SAMPLE_FMT_S16 && frame->sample_rate == output.codec->sample_rate &&
      frame->ch_layout.nb_channels == channels && !output.convert) {
    // Already what the output delivers (16-bit WAV): no conversion.
    const std::size_t bytes = static_cast<std::size_t>(frame->nb_samples) * channels * 2;
    std::memcpy(Room(output, frame->nb_samples), frame->data[0], bytes);
    output.pending_length += bytes;
    return;
  }
  AVChannelLayout in_layout{};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&in_layout, frame->ch_layout.nb_channels);
  else
    av_channel_layout_copy(&in_layout, &frame->ch_layout);
  // (Re)build the converter when the decoded format changes mid-stream, so the output keeps
  // the format it announced.
  if (!output.convert || output.convert_from != format ||
      output.convert_rate != frame->sample_rate ||
      av_channel_layout_compare(&output.convert_layout, &in_layout) != 0) {
    swr_free(&output.convert);
    if (swr_alloc_set_opts2(&output.convert, &output.layout, AV_SAMPLE_FMT_S16,
                            output.codec->sample_rate, &in_layout, format, frame->sample_rate, 0,
                            nullptr) < 0 ||
        swr_init(output.convert) < 0) {
      swr_free(&output.convert);
      av_channel_layout_uninit(&in_layout);
      return;  // a frame that cannot be converted is skipped, the stream goes on
    }
    output.convert_from = format;
    output.convert_rate = frame->sample_rate;
    av_channel_layout_uninit(&output.convert_layout);
    av_channel_layout_copy(&output.convert_layout, &in_layout);
  }
  av_channel_layout_uninit(&in_layout);
  Drain(output, frame);
}

void ReaderCore::Drain(Output& output, const AVFrame* frame) {
  const int in_samples = frame ? frame->nb_samples : 0;
  const int room = swr_get_out_samples(output.convert, in_samples);
  if (room <= 0)
    return;
  std::uint8_t* out = Room(output, room);
  const int samples = swr_convert(
      output.convert, &out, room,
      frame ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr, in_samples);
  if (samples > 0)
    output.pending_length += static_cast<std::size_t>(samples) * output.layout.nb_channels * 2;
}

bool ReaderCore::Deliver(std::uint32_t index, Output& output) {
  if (output.pending_length == 0)
    return true;
  if (!WaitToDeliver())
    return false;
  const std::size_t length = output.pending_length;
  output.pending_length = 0;
  // Counted before the call: the consumer may report the block consumed before it returns.
  delivered_.fetch_add(length);
  if (!Hand(index, output.pending.data(), length))
    delivered_.fetch_sub(length);
  return true;
}

bool ReaderCore::Decode(const AVPacket* packet) {
  for (std::uint32_t index = 0; index < outputs_.size(); ++index) {
    Output& output = outputs_[index];
    if (!output.codec || (packet && packet->stream_index != static_cast<int>(index)))
      continue;
    // A damaged packet is dropped; the decoder resynchronises on the next one.
    if (avcodec_send_packet(output.codec, packet) < 0 && packet)
      continue;
    while (avcodec_receive_frame(output.codec, frame_) >= 0) {
      Convert(output, frame_);
      av_frame_unref(frame_);
      if (output.pending_length >= kBlockBytes && !Deliver(index, output))
        return false;
    }
    // At the end: what a resampler still holds, and the last, shorter block.
    if (!packet) {
      if (output.convert)
        Drain(output, nullptr);
      if (!Deliver(index, output))
        return false;
    }
  }
  return !abort_.load();
}

bool ReaderCore::ReadPacket(AVPacket* packet, int* failure) {
  const int result = av_read_frame(format_, packet);
  if (result >= 0)
    return true;
  if (result != AVERROR_EOF)
    *failure = result;
  return false;
}

void ReaderCore::Run() {
  NameThisThread("djk-reader");
  Read();
  std::lock_guard lock(mutex_);
  finished_ = true;
  wake_.notify_all();
}

void ReaderCore::Read() {
  int result = OpenInput();
  if (result < 0)
    result = WhyTlsOpenFailed(result);
  {
    std::lock_guard lock(mutex_);
    opened_ = result >= 0;
  }
  Report(ReaderStatus::kOpened, result >= 0 ? kReaderOk : result);
  if (result < 0)
    return;

  frame_ = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  std::deque<AVPacket*> held;  // packets read ahead before reporting started
  bool end = false;
  int failure = kReaderOk;
  {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return started_ || abort_.load(); });
  }
  // Read ahead until the buffering time is covered by audio packets (or the stream ends), so a
  // slow network start does not come out as a stutter right after the first block. Packets
  // without a duration count by their bytes only, which bound the read-ahead in every case.
  const AVRational kHundredNanoseconds{1, 10'000'000};
  std::int64_t buffered = 0;
  std::size_t held_bytes = 0;
  while (!abort_.load() && buffered < static_cast<std::int64_t>(buffering_span_) &&
         held_bytes < MediaReader::kHoldBackBytes) {
    if (!ReadPacket(packet, &failure)) {
      end = true;
      break;
    }
    if (IsAudio(packet->stream_index) && packet->duration > 0) {
      const Output& output = outputs_[packet->stream_index];
      buffered += av_rescale_q(packet->duration, output.stream->time_base, kHundredNanoseconds);
    }
    held_bytes += static_cast<std::size_t>(packet->size);
    held.push_back(av_packet_clone(packet));
    av_packet_unref(packet);
  }
  if (!abort_.load())
    Report(ReaderStatus::kStarted, kReaderOk);

  bool going = !abort_.load();
  while (going && !held.empty()) {
    going = Decode(held.front());
    av_packet_free(&held.front());
    held.pop_front();
  }
  while (going && !end) {
    if (!WaitToDeliver())
      break;
    if (!ReadPacket(packet, &failure)) {
      end = true;
      break;
    }
    going = Decode(packet);
    av_packet_unref(packet);
  }
  if (going && end && Decode(nullptr)) {
    // A read error that no reconnect could mend closes the stream; a clean end is end of file.
    if (failure == kReaderOk)
      Report(ReaderStatus::kEndOfFile, kReaderOk);
    else
      Report(ReaderStatus::kClosed, failure);
  }
  for (AVPacket*& held_packet : held)
    av_packet_free(&held_packet);
  av_packet_free(&packet);
  av_frame_free(&frame_);
}

// The reader a stream input holds: the calls go to the open's core, whose thread it starts and
// ends.
class FfmpegMediaReader final : public MediaReader {
 public:
  explicit FfmpegMediaReader(AddressOrigin origin) : core_(std::make_shared<ReaderCore>(origin)) {}
  ~FfmpegMediaReader() override { Close(); }

  void SetEnableTCP(bool enable) override { core_->SetEnableTCP(enable); }
  void SetEnableHTTP(bool enable) override { core_->SetEnableHTTP(enable); }
  void SetEnableUDP(bool enable) override { core_->SetEnableUDP(enable); }
  int SetBufferingTime(std::uint64_t span) override { return core_->SetBufferingTime(span); }
  void SetProxyHostName(const std::string& protocol, const std::string& host) override {
    core_->SetProxyHostName(protocol, host);
  }
  void SetProxyPort(const std::string& protocol, std::uint32_t port) override {
    core_->SetProxyPort(protocol, port);
  }
  int AddLoggingUrl(const std::string& url) override { return core_->AddLoggingUrl(url); }
  void ResetLoggingUrlList() override { core_->ResetLoggingUrlList(); }
  void SetReconnectTime(std::chrono::milliseconds limit) override {
    core_->SetReconnectTime(limit);
  }
  int Open(const std::string& address, MediaReaderCallback* callback) override {
    if (thread_.joinable() || closed_)
      return AVERROR(EINVAL);
    if (const int result = core_->Prepare(address, callback); result != kReaderOk)
      return result;
    thread_ = std::thread([core = core_] { core->Run(); });
    return kReaderOk;
  }
  int GetOutputCount(std::uint32_t* count) override { return core_->GetOutputCount(count); }
  int GetMediaType(std::uint32_t output, ReaderMediaType* type) override {
    return core_->GetMediaType(output, type);
  }
  int GetAttribute(const std::string& name, std::uint64_t* value) override {
    return core_->GetAttribute(name, value);
  }
  int Start(float rate) override { return core_->Start(rate); }
  void Pause() override { core_->Pause(); }
  void Resume() override { core_->Resume(); }
  void Consumed(std::size_t bytes) override { core_->Consumed(bytes); }
  void RetryNow() override { core_->RetryNow(); }
  std::string ErrorText(int result) const override;
  void Stop() override { core_->Stop(); }
  // Never waits long for the thread: one the name lookup holds is let go, and its callback
  // dropped, so it can neither call back nor hold up its caller (nor the program's exit).
  void Close() override {
    closed_ = true;
    core_->Stop();
    if (thread_.joinable()) {
      if (core_->WaitFinished(kCloseWait))
        thread_.join();
      else
        thread_.detach();
    }
    core_->DropCallback();
  }

 private:
  const std::shared_ptr<ReaderCore> core_;
  std::thread thread_;
  bool closed_ = false;
};

std::string FfmpegMediaReader::ErrorText(int result) const {
  if (result == kReaderReconnectTimedOut)
    return "the connection did not come back in time";
  if (result == kReaderStreamChanged)
    return "the stream changed while it was reconnected";
  if (result == kReaderCertificateRefused)
    return core_->CertificateRefusal();
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(result, text, sizeof text);
  return text;
}

}  // namespace

std::unique_ptr<MediaReader> CreateMediaReader(AddressOrigin origin) {
  return std::make_unique<FfmpegMediaReader>(origin);
}

}  // namespace djkivo
