// The floor under the window's memory, window_bench's anchor for `playing_rss_mib`: a Qt window
// showing the player's Chinese texts while the FFmpeg libraries the player links decode a stream
// to 16-bit PCM that goes nowhere. None of the player's own code runs, so whatever resident
// memory this holds, any Qt player built on the same libraries holds too.
//
//   djkivo-rss-floor STREAM_ADDRESS
// Decodes the whole stream, keeps the window up for a moment longer, and ends with 0 (1 when the
// stream cannot be decoded).
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <thread>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// How long the window stays up after the decode, so its painting is part of the figure.
constexpr int kShownAfterDecodeMs = 1500;

// Decodes `address` to interleaved 16-bit stereo at 44.1 kHz, as the player's reader does, and
// throws the samples away. False when the stream cannot be opened or decoded.
bool DecodeToNothing(const char* address) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, address, nullptr, nullptr) < 0)
    return false;
  bool ok = false;
  AVCodecContext* codec = nullptr;
  SwrContext* resampler = nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  const AVCodec* decoder = nullptr;
  const int index = avformat_find_stream_info(format, nullptr) >= 0
                        ? av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0)
                        : -1;
  if (index >= 0 && (codec = avcodec_alloc_context3(decoder)) != nullptr &&
      avcodec_parameters_to_context(codec, format->streams[index]->codecpar) >= 0 &&
      avcodec_open2(codec, decoder, nullptr) >= 0) {
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    ok = swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_S16, 44100, &codec->ch_layout,
                             codec->sample_fmt, codec->sample_rate, 0, nullptr) == 0 &&
         swr_init(resampler) == 0;
    std::uint8_t pcm[4 * 8192];
    while (ok && av_read_frame(format, packet) >= 0) {
      if (packet->stream_index == index && avcodec_send_packet(codec, packet) >= 0)
        while (avcodec_receive_frame(codec, frame) >= 0) {
          std::uint8_t* out = pcm;
          swr_convert(resampler, &out, 8192, const_cast<const std::uint8_t**>(frame->data),
                      frame->nb_samples);
        }
      av_packet_unref(packet);
    }
  }
  swr_free(&resampler);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&codec);
  avformat_close_input(&format);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: djkivo-rss-floor STREAM_ADDRESS\n");
    return 2;
  }
  QApplication application(argc, argv);
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(new QLabel(QStringLiteral("DJKivo云播放")));
  layout->addWidget(new QLabel(QStringLiteral("暂无播放文件  0:00 / 0:00")));
  layout->addWidget(new QLabel(QStringLiteral("最新推荐 舞曲排行 我的列表 播放首页")));
  window.show();

  std::atomic<bool> finished{false};
  bool decoded = false;
  std::thread decode([&] {
    decoded = DecodeToNothing(argv[1]);
    finished = true;
  });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!finished)
      return;
    poll.stop();
    decode.join();
    QTimer::singleShot(kShownAfterDecodeMs, [&] { application.exit(decoded ? 0 : 1); });
  });
  poll.start(100);
  return application.exec();
}
