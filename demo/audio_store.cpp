#include "demo/audio_store.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

#include "demo/synth.h"

namespace djkivo::demo {
namespace {

constexpr std::int64_t kBitRate = 128000;
// Longer than any encode takes, even on a loaded machine.
constexpr auto kStalePartAge = std::chrono::hours(1);

void Check(int result, const char* what) {
  if (result < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(result, text, sizeof text);
    throw std::runtime_error(std::string(what) + " failed: " + text);
  }
}

// Owns the FFmpeg objects of one encode, so every exit frees them.
struct EncodeJob {
  AVFormatContext* muxer = nullptr;
  AVCodecContext* encoder = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  ~EncodeJob() {
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&encoder);
    if (muxer) {
      if (muxer->pb)
        avio_closep(&muxer->pb);
      avformat_free_context(muxer);
    }
  }

  // Sends `input` (nullptr to flush) and writes every packet the encoder gives back.
  void Drain(AVFrame* input, AVStream* stream) {
    Check(avcodec_send_frame(encoder, input), "avcodec_send_frame");
    for (;;) {
      int result = avcodec_receive_packet(encoder, packet);
      if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
        return;
      Check(result, "avcodec_receive_packet");
      av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
      packet->stream_index = stream->index;
      Check(av_interleaved_write_frame(muxer, packet), "av_interleaved_write_frame");
    }
  }
};

}  // namespace

bool EncodeSong(std::uint32_t seed, double seconds, AudioFormat format, const std::string& path,
                const std::function<bool()>& cancelled) {
  const bool mp3 = format == AudioFormat::kMp3;
  EncodeJob job;
  Check(avformat_alloc_output_context2(&job.muxer, nullptr, mp3 ? "mp3" : "asf", path.c_str()),
        "avformat_alloc_output_context2");
  const AVCodec* codec = avcodec_find_encoder_by_name(mp3 ? "libmp3lame" : "wmav2");
  if (!codec)
    throw std::runtime_error(std::string("FFmpeg has no encoder ") +
                             (mp3 ? "libmp3lame" : "wmav2"));
  AVStream* stream = avformat_new_stream(job.muxer, nullptr);
  job.encoder = avcodec_alloc_context3(codec);
  if (!stream || !job.encoder)
    throw std::runtime_error("Out of memory");
  job.encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;  // both encoders take planar float
  job.encoder->sample_rate = SongSynth::kSampleRate;
  job.encoder->bit_rate = kBitRate;
  job.encoder->time_base = AVRational{1, SongSynth::kSampleRate};
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  Check(av_channel_layout_copy(&job.encoder->ch_layout, &stereo), "av_channel_layout_copy");
  if (job.muxer->oformat->flags & AVFMT_GLOBALHEADER)
    job.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  Check(avcodec_open2(job.encoder, codec, nullptr), "avcodec_open2");
  Check(avcodec_parameters_from_context(stream->codecpar, job.encoder),
        "avcodec_parameters_from_context");
  stream->time_base = job.encoder->time_base;
  Check(avio_open(&job.muxer->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open");
  Check(avformat_write_header(job.muxer, nullptr), "avformat_write_header");

  job.frame = av_frame_alloc();
  job.packet = av_packet_alloc();
  if (!job.frame || !job.packet)
    throw std::runtime_error("Out of memory");
  const int frame_size = job.encoder->frame_size > 0 ? job.encoder->frame_size : 1152;
  job.frame->format = job.encoder->sample_fmt;
  job.frame->sample_rate = job.encoder->sample_rate;
  job.frame->nb_samples = frame_size;
  Check(av_channel_layout_copy(&job.frame->ch_layout, &stereo), "av_channel_layout_copy");
  Check(av_frame_get_buffer(job.frame, 0), "av_frame_get_buffer");

  SongSynth synth(seed, seconds);
  std::int64_t pts = 0;
  for (;;) {
    if (cancelled && cancelled())
      return false;
    Check(av_frame_make_writable(job.frame), "av_frame_make_writable");
    auto* left = reinterpret_cast<float*>(job.frame->data[0]);
    auto* right = reinterpret_cast<float*>(job.frame->data[1]);
    int got = synth.Render(left, right, frame_size);
    if (got == 0)
      break;
    // The encoders want whole frames but for the last one; pad nothing, shorten it.
    job.frame->nb_samples = got;
    job.frame->pts = pts;
    pts += got;
    job.Drain(job.frame, stream);
    if (got < frame_size)
      break;
  }
  job.Drain(nullptr, stream);
  Check(av_write_trailer(job.muxer), "av_write_trailer");
  return true;
}

void AudioStore::Prepare() const {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error)
    throw std::runtime_error("Cannot create the audio cache folder " + folder_ + ": " +
                             error.message());
  // Partial files left by a process that died while encoding. A young one may belong to a
  // process encoding right now, so only old ones go.
  const auto now = std::filesystem::file_time_type::clock::now();
  for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
    auto written = entry.last_write_time(error);
    if (!error && entry.path().filename().string().find(".part") != std::string::npos &&
        now - written > kStalePartAge)
      std::filesystem::remove(entry.path(), error);
  }
}

std::string AudioStore::Ensure(const DemoSong& song, AudioFormat format,
                               const std::function<bool()>& cancelled) {
  const auto milliseconds = static_cast<long long>(song.seconds * 1000 + 0.5);
  std::string name = song.id + "-" + std::to_string(milliseconds) + "ms-v" +
                     std::to_string(kVersion) + (format == AudioFormat::kMp3 ? ".mp3" : ".wma");
  std::string path = folder_ + "/" + name;
  std::shared_ptr<std::mutex> file_lock;
  {
    std::lock_guard lock(mutex_);
    auto& slot = file_locks_[name];
    if (!slot)
      slot = std::make_shared<std::mutex>();
    file_lock = slot;
  }
  std::lock_guard lock(*file_lock);
  std::error_code error;
  if (std::filesystem::exists(path, error))
    return path;
  // Written beside the final name and renamed, so a crash or a cancel never leaves a partial
  // file under the final name, and other processes sharing the folder never see one either.
  static std::atomic<unsigned> serial{0};
  std::string temporary =
      path + ".part" + std::to_string(getpid()) + "-" + std::to_string(serial++);
  bool done = false;
  try {
    done = EncodeSong(song.seed, song.seconds, format, temporary, cancelled);
  } catch (...) {
    std::filesystem::remove(temporary, error);
    throw;
  }
  if (!done) {
    std::filesystem::remove(temporary, error);
    throw std::runtime_error("Encoding was cancelled");
  }
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw std::runtime_error("Cannot store " + path + ": " + error.message());
  }
  return path;
}

}  // namespace djkivo::demo
