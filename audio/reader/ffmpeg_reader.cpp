// The media reader on FFmpeg: one thread per open demuxes, decodes and converts to interleaved
// signed 16-bit PCM. Covered by tests/audio/reader/ffmpeg_reader_test.cpp and, through the
// stream input, tests/audio/media_stream_in_test.cpp.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
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
#include "net/http_errors.h"
#include "net/stream_options.h"

namespace djkivo {
namespace {

// Protocols an address taken from a page may use: network streaming only, so a page can never
// make the player read local files or chain other protocols. "httpproxy" is the CONNECT tunnel
// an https stream takes through a proxy.
constexpr const char* kNetworkProtocols = "http,https,httpproxy,tcp,tls,mmsh,mmst";
// An address the user typed may also be a local file.
constexpr const char* kUserProtocols = "file,http,https,httpproxy,tcp,tls,mmsh,mmst";

// A network read that gets no byte for this long fails and is retried by a reconnect at the same
// byte. Well inside the stream input's 10 s wait for a block, so a connection that went silent
// is replaced while the read-ahead still plays, before the input gives the stream up.
constexpr const char* kReadTimeoutMicroseconds = "5000000";
// Longest pause between reconnect attempts, in seconds. FFmpeg waits 0, 1, 3, 7... seconds
// and gives up past this: three attempts within about 4 s, inside the stream input's default
// 10 s wait for a block.
constexpr const char* kReconnectDelayMaxSeconds = "4";
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

class FfmpegMediaReader final : public MediaReader {
 public:
  explicit FfmpegMediaReader(AddressOrigin origin) : origin_(origin) {}
  ~FfmpegMediaReader() override { Close(); }

  void SetEnableTCP(bool enable) override { enable_tcp_ = enable; }
  void SetEnableHTTP(bool enable) override { enable_http_ = enable; }
  // FFmpeg has no streaming over UDP for these addresses: the switch is recorded only.
  void SetEnableUDP(bool enable) override { enable_udp_ = enable; }
  int SetBufferingTime(std::uint64_t span) override;
  void SetProxyHostName(const std::string& protocol, const std::string& host) override;
  void SetProxyPort(const std::string& protocol, std::uint32_t port) override;
  int AddLoggingUrl(const std::string& url) override;
  void ResetLoggingUrlList() override { logging_urls_.clear(); }
  int Open(const std::string& address, MediaReaderCallback* callback) override;
  int GetOutputCount(std::uint32_t* count) override;
  int GetMediaType(std::uint32_t output, ReaderMediaType* type) override;
  int GetAttribute(const std::string& name, std::uint64_t* value) override;
  int Start(float rate) override;
  void Pause() override;
  void Resume() override;
  void Consumed(std::size_t bytes) override;
  void Stop() override;
  void Close() override;

 private:
  static int Interrupted(void* self);
  void Run();
  int OpenInput();
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
  std::string address_;
  MediaReaderCallback* callback_ = nullptr;
  std::thread thread_;

  // Set by Stop/Close: interrupts a blocked FFmpeg call at once and ends the reader thread.
  std::atomic<bool> abort_{false};
  // Bytes delivered (reader thread) and reported consumed (reading thread): the hold-back gauge.
  std::atomic<std::size_t> delivered_{0};
  std::atomic<std::size_t> consumed_{0};

  // The container and its outputs: written by the reader thread before it reports opened, read
  // by the opening thread after that, freed by Close once the thread has ended.
  AVFormatContext* format_ = nullptr;
  std::vector<Output> outputs_;

  std::mutex mutex_;
  std::condition_variable wake_;  // Start, Pause, Resume, Consumed, Stop
  bool opened_ = false;           // --- guarded by mutex_: outputs_ may be read
  bool started_ = false;
  bool paused_ = false;

  // Reader thread only.
  AVFrame* frame_ = nullptr;
};

int FfmpegMediaReader::SetBufferingTime(std::uint64_t span) {
  buffering_span_ = span;
  return kReaderOk;
}

void FfmpegMediaReader::SetProxyHostName(const std::string& protocol, const std::string& host) {
  if (IsProxiedProtocol(protocol))
    proxy_host_ = host;
}

void FfmpegMediaReader::SetProxyPort(const std::string& protocol, std::uint32_t port) {
  if (IsProxiedProtocol(protocol))
    proxy_port_ = port;
}

int FfmpegMediaReader::AddLoggingUrl(const std::string& url) {
  if (!HasScheme(url, "http") && !HasScheme(url, "https"))
    return AVERROR(EINVAL);
  logging_urls_.push_back(url);
  return kReaderOk;
}

int FfmpegMediaReader::Open(const std::string& address, MediaReaderCallback* callback) {
  if (address.empty() || !callback || thread_.joinable())
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
  thread_ = std::thread([this] { Run(); });
  return kReaderOk;
}

int FfmpegMediaReader::GetOutputCount(std::uint32_t* count) {
  std::lock_guard lock(mutex_);
  if (!opened_)
    return AVERROR(EAGAIN);
  *count = static_cast<std::uint32_t>(outputs_.size());
  return kReaderOk;
}

int FfmpegMediaReader::GetMediaType(std::uint32_t output, ReaderMediaType* type) {
  std::lock_guard lock(mutex_);
  if (!opened_ || output >= outputs_.size())
    return AVERROR(EINVAL);
  *type = outputs_[output].type;
  return kReaderOk;
}

int FfmpegMediaReader::GetAttribute(const std::string& name, std::uint64_t* value) {
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
  return AVERROR(ENOENT);
}

int FfmpegMediaReader::Start(float rate) {
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

void FfmpegMediaReader::Pause() {
  std::lock_guard lock(mutex_);
  paused_ = true;
}

void FfmpegMediaReader::Resume() {
  std::lock_guard lock(mutex_);
  paused_ = false;
  wake_.notify_all();
}

void FfmpegMediaReader::Consumed(std::size_t bytes) {
  consumed_.fetch_add(bytes);
  std::lock_guard lock(mutex_);
  wake_.notify_all();
}

void FfmpegMediaReader::Stop() {
  abort_.store(true);
  std::lock_guard lock(mutex_);
  wake_.notify_all();
}

void FfmpegMediaReader::Close() {
  Stop();
  if (thread_.joinable())
    thread_.join();
  std::lock_guard lock(mutex_);
  opened_ = false;
  FreeOutputs();
  avformat_close_input(&format_);
}

int FfmpegMediaReader::Interrupted(void* self) {
  return static_cast<FfmpegMediaReader*>(self)->abort_.load() ? 1 : 0;
}

int FfmpegMediaReader::OpenInput() {
  format_ = avformat_alloc_context();
  if (!format_)
    return AVERROR(ENOMEM);
  format_->interrupt_callback = {&FfmpegMediaReader::Interrupted, this};

  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist",
              origin_ == AddressOrigin::kNetwork ? kNetworkProtocols : kUserProtocols, 0);
  av_dict_set(&options, "rw_timeout", kReadTimeoutMicroseconds, 0);
  // Ride out dropped connections: reconnect and go on at the byte where the read stopped
  // (HTTP Range), also for a server that dropped an idle connection during a long pause.
  av_dict_set(&options, "reconnect", "1", 0);
  av_dict_set(&options, "reconnect_streamed", "1", 0);
  av_dict_set(&options, "reconnect_delay_max", kReconnectDelayMaxSeconds, 0);
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
  if (!proxy_host_.empty()) {
    std::string proxy = "http://" + proxy_host_;
    if (proxy_port_ != 0)
      proxy += ":" + std::to_string(proxy_port_);
    av_dict_set(&options, "http_proxy", proxy.c_str(), 0);
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

void FfmpegMediaReader::FreeOutputs() {
  for (Output& output : outputs_) {
    avcodec_free_context(&output.codec);
    swr_free(&output.convert);
    av_channel_layout_uninit(&output.layout);
    av_channel_layout_uninit(&output.convert_layout);
  }
  outputs_.clear();
}

bool FfmpegMediaReader::WaitToDeliver() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] {
    return abort_.load() ||
           (started_ && !paused_ && delivered_.load() - consumed_.load() <= kHoldBackBytes);
  });
  return !abort_.load();
}

std::uint8_t* FfmpegMediaReader::Room(Output& output, int samples) {
  const std::size_t bytes = static_cast<std::size_t>(samples) * output.layout.nb_channels * 2;
  // The buffer only grows (to a little over one block), so it is not cleared again and again.
  if (output.pending.size() < output.pending_length + bytes)
    output.pending.resize(output.pending_length + bytes);
  return output.pending.data() + output.pending_length;
}

void FfmpegMediaReader::Convert(Output& output, const AVFrame* frame) {
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

void FfmpegMediaReader::Drain(Output& output, const AVFrame* frame) {
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

bool FfmpegMediaReader::Deliver(std::uint32_t index, Output& output) {
  if (output.pending_length == 0)
    return true;
  if (!WaitToDeliver())
    return false;
  const std::size_t length = output.pending_length;
  output.pending_length = 0;
  // Counted before the call: the consumer may report the block consumed before it returns.
  delivered_.fetch_add(length);
  if (!callback_->OnSample(index, output.pending.data(), length))
    delivered_.fetch_sub(length);
  return true;
}

bool FfmpegMediaReader::Decode(const AVPacket* packet) {
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

bool FfmpegMediaReader::ReadPacket(AVPacket* packet, int* failure) {
  const int result = av_read_frame(format_, packet);
  if (result >= 0)
    return true;
  if (result != AVERROR_EOF)
    *failure = result;
  return false;
}

void FfmpegMediaReader::Run() {
  int result = OpenInput();
  {
    std::lock_guard lock(mutex_);
    opened_ = result >= 0;
  }
  callback_->OnStatus(ReaderStatus::kOpened, result >= 0 ? kReaderOk : result);
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
         held_bytes < kHoldBackBytes) {
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
    callback_->OnStatus(ReaderStatus::kStarted, kReaderOk);

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
      callback_->OnStatus(ReaderStatus::kEndOfFile, kReaderOk);
    else
      callback_->OnStatus(ReaderStatus::kClosed, failure);
  }
  for (AVPacket*& held_packet : held)
    av_packet_free(&held_packet);
  av_packet_free(&packet);
  av_frame_free(&frame_);
}

}  // namespace

std::unique_ptr<MediaReader> CreateMediaReader(AddressOrigin origin) {
  return std::make_unique<FfmpegMediaReader>(origin);
}

}  // namespace djkivo
