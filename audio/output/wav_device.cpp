// The WAV sound device: every byte the play cursor passes goes to a WAV file, either at the
// speed of real playback (a clock, as the null device) or as fast as the chain delivers.
#include "audio/output/wav_device.h"

#include <cstring>

namespace djkivo {

namespace {

void PutLe(std::uint8_t* at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The format chunk's length: the 16-byte PCM layout, or all 40 bytes of the extensible one.
std::uint32_t FormatChunkBytes(const WaveFormat& format) {
  return format.format_tag == kWaveFormatExtensible ? sizeof(WaveFormat) : 16;
}

}  // namespace

WavDevice::WavDevice(std::string path, bool realtime)
    : NullDevice(1, !realtime), path_(std::move(path)), realtime_(realtime) {}

WavDevice::~WavDevice() { Close(); }

std::vector<SoundDeviceEntry> WavDevice::Enumerate() { return {{"", "WAV file " + path_}}; }

SoundResult WavDevice::OpenStream(const WaveFormat& format) {
  FinishFile();
  file_ = std::fopen(path_.c_str(), "wb");
  if (!file_)
    return kSoundFail;
  data_bytes_ = 0;
  WriteHeader();
  const SoundResult result = NullDevice::OpenStream(format);
  if (result != kSoundOk)
    FinishFile();
  return result;
}

void WavDevice::CloseStream() {
  NullDevice::CloseStream();
  FinishFile();
}

HalfWait WavDevice::WaitHalf(int which, std::chrono::milliseconds timeout) {
  // Play up to the crossing at once: the file gets the audio as soon as it is written.
  if (!realtime_ && !CrossingSet(which))
    AdvanceToCrossing(which);
  return NullDevice::WaitHalf(which, timeout);
}

SoundResult WavDevice::Stop() {
  if (!realtime_ && Playing()) {
    // What was written and not yet passed would have played before the buffer stopped.
    const std::uint32_t size = BufferSize();
    const std::uint32_t distance = (LastWriteEnd() + size - PlayCursor()) % size;
    Advance(distance == 0 ? size : distance);
  }
  return NullDevice::Stop();
}

void WavDevice::Consumed(const std::uint8_t* data, std::uint32_t bytes) {
  if (file_ && std::fwrite(data, 1, bytes, file_) == bytes)
    data_bytes_ += bytes;
}

void WavDevice::WriteHeader() {
  const WaveFormat& format = Format();
  const std::uint32_t fmt_bytes = FormatChunkBytes(format);
  std::uint8_t head[12 + 8 + sizeof(WaveFormat) + 8] = {};
  std::uint8_t* at = head;
  std::memcpy(at, "RIFF", 4);
  PutLe(at + 4, static_cast<std::uint32_t>(4 + 8 + fmt_bytes + 8 + data_bytes_), 4);
  std::memcpy(at + 8, "WAVE", 4);
  at += 12;
  std::memcpy(at, "fmt ", 4);
  PutLe(at + 4, fmt_bytes, 4);
  at += 8;
  PutLe(at, format.format_tag, 2);
  PutLe(at + 2, format.channels, 2);
  PutLe(at + 4, format.samples_per_sec, 4);
  PutLe(at + 8, format.avg_bytes_per_sec, 4);
  PutLe(at + 12, format.block_align, 2);
  PutLe(at + 14, format.bits_per_sample, 2);
  if (fmt_bytes > 16) {
    PutLe(at + 16, format.extra_size, 2);
    PutLe(at + 18, format.valid_bits_per_sample, 2);
    PutLe(at + 20, format.channel_mask, 4);
    std::memcpy(at + 24, format.sub_format, sizeof format.sub_format);
  }
  at += fmt_bytes;
  std::memcpy(at, "data", 4);
  PutLe(at + 4, static_cast<std::uint32_t>(data_bytes_), 4);
  at += 8;
  std::fwrite(head, 1, static_cast<std::size_t>(at - head), file_);
}

void WavDevice::FinishFile() {
  if (!file_)
    return;
  // The sizes are known only now; a file cut short by a crash still has the samples.
  if (std::fseek(file_, 0, SEEK_SET) == 0)
    WriteHeader();
  std::fclose(file_);
  file_ = nullptr;
}

}  // namespace djkivo
