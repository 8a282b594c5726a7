// The sound device the output stage plays through: a looping buffer with two position
// notifications, as the output's fill logic (audio/output/snd_out.h) needs it.
//
// Operations, whether a back end must supply them, and the thread that calls them:
//
//   Enumerate          mandatory  UI thread, once, when the output is constructed
//   Create             mandatory  output thread, at the start of each run
//   InitBuffer         mandatory  output thread at open; the calibration call (dispatcher thread,
//                                 output thread parked) when the latency changes
//   GetCurrentPosition mandatory  output thread
//   Lock / Unlock      mandatory  output thread (always paired, on the same thread)
//   Play               mandatory  output thread (priming); UI thread (resume, thread parked)
//   Stop               mandatory  output thread; UI thread (pause, thread parked)
//   SetVolume          optional   any thread (UI for the volume bar, output thread at priming);
//                                 a device without volume control answers kSoundControlUnavail
//   WaitHalf           mandatory  output thread; always bounded by the caller's time-out
//   ClearHalf          mandatory  output thread
//   Close              mandatory  output thread at the end of a run; destructor
//   RealTime           optional   output thread; true unless the device plays faster than real
//                                 time (the WAV writer's fast mode), where the output waits for
//                                 late audio instead of playing silence in its place
//
// Every back end in this folder derives from `LoopingDevice` (looping_device.h), which owns
// the looping buffer and its cursors, so the back ends differ only in who consumes it: the
// PortAudio callback (portaudio_device.cpp), a clock (null_device.cpp) or a WAV file writer
// (wav_device.cpp). `CreateSoundDevice` picks one by name.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace djkivo {

/// Result codes of the device operations: 0 is success; the others keep the values the
/// player's messages print as 8 hexadecimal digits.
using SoundResult = std::uint32_t;
inline constexpr SoundResult kSoundOk = 0;
inline constexpr SoundResult kSoundControlUnavail = 0x8878001E;  // no volume control
inline constexpr SoundResult kSoundInvalidArg = 0x80070057;      // bad format, size or offset
inline constexpr SoundResult kSoundFail = 0x80004005;            // the back end refused
inline constexpr SoundResult kSoundNoBuffer = 0x88780096;        // no buffer has been created
inline constexpr SoundResult kSoundNoDriver = 0x88780078;        // no such device

/// At most this many devices are listed; a further device is ignored.
inline constexpr int kMaxSoundDevices = 16;
/// A device description keeps at most this many characters.
inline constexpr std::size_t kMaxDeviceDescription = 127;

/// One listed device. Entry 0 is the system's default device and has an empty identifier.
struct SoundDeviceEntry {
  std::string id;
  std::string description;
};

/// The 40-byte wave format of a buffer: plain PCM, or the extensible layout for more than
/// two channels. Laid out exactly as the platform's extensible wave format.
struct WaveFormat {
  std::uint16_t format_tag = 0;  // 1 = PCM, 0xFFFE = extensible
  std::uint16_t channels = 0;
  std::uint32_t samples_per_sec = 0;
  std::uint32_t avg_bytes_per_sec = 0;
  std::uint16_t block_align = 0;
  std::uint16_t bits_per_sample = 0;
  std::uint16_t extra_size = 0;  // 22 for extensible, else 0
  std::uint16_t valid_bits_per_sample = 0;
  std::uint32_t channel_mask = 0;
  std::uint8_t sub_format[16] = {};
};
static_assert(sizeof(WaveFormat) == 40, "the wave format is 40 bytes");

inline constexpr std::uint16_t kWaveFormatPcm = 1;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

/// One contiguous piece of a locked range of the looping buffer.
struct SoundRegion {
  std::uint8_t* data = nullptr;
  std::uint32_t bytes = 0;
};

/// How a wait for a crossing ended.
enum class HalfWait {
  kSet,       // the crossing happened; the other one has not
  kBothSet,   // the crossing happened and the other one is already set too (an underrun)
  kTimedOut,  // nothing within the time-out: the device stopped answering
};

/// A sound device with one looping buffer. See the top of this file for the thread contract.
class SoundDevice {
 public:
  virtual ~SoundDevice() = default;

  /// The devices of this back end, at most `kMaxSoundDevices`, entry 0 the default.
  virtual std::vector<SoundDeviceEntry> Enumerate() = 0;

  /// Opens device `index` of the list. Nonzero when it cannot be used.
  virtual SoundResult Create(int index) = 0;

  /// Creates (or replaces) the looping buffer of `size` bytes in `format`, filled with the
  /// format's silence, not playing, both crossings clear, write cursor at the play cursor.
  virtual SoundResult InitBuffer(const WaveFormat& format, std::uint32_t size) = 0;

  /// The play cursor and the write cursor (the first byte past what the device has already
  /// taken); both are offsets into the buffer.
  virtual SoundResult GetCurrentPosition(std::uint32_t* play, std::uint32_t* write) = 0;

  /// Gives `count` bytes at `offset` for writing: one region, or two when the range wraps.
  virtual SoundResult Lock(std::uint32_t offset, std::uint32_t count, SoundRegion* first,
                           SoundRegion* second) = 0;
  /// Ends the write begun by the last successful `Lock`.
  virtual void Unlock() = 0;

  /// Starts looping playback: from offset 0 (with the start crossing set, since the cursor is
  /// at 0) when `from_start`, otherwise from where the play cursor stopped.
  virtual SoundResult Play(bool from_start) = 0;
  /// Halts playback where it is. Success when there is no buffer.
  virtual SoundResult Stop() = 0;

  /// Volume in hundredths of a decibel: 0 = full level, -4000 = 40 dB down.
  virtual SoundResult SetVolume(std::int32_t hundredths_db) = 0;

  /// Waits until crossing `which` (0 = the play cursor reached offset 0, 1 = it reached the
  /// middle) is set, at most `timeout`; clears it and tells whether the other one was set too.
  virtual HalfWait WaitHalf(int which, std::chrono::milliseconds timeout) = 0;
  /// Clears crossing `which`.
  virtual void ClearHalf(int which) = 0;

  /// Stops and releases the buffer and the device; nothing is held afterwards.
  virtual void Close() = 0;

  /// Whether the buffer is played at the speed of real playback. A device that is not (it
  /// plays as fast as it is written) never starves: audio that comes late is waited for.
  virtual bool RealTime() const { return true; }
};

/// The back end named by `name`: "portaudio" (or empty), "null", "wav:PATH" (writes the file
/// as fast as the chain delivers) or "wav-realtime:PATH" (at the speed of real playback).
/// Returns nullptr for an unknown name.
std::unique_ptr<SoundDevice> CreateSoundDevice(const std::string& name);

/// Hundredths of a decibel as a linear gain (0 → 1.0, -2000 → 0.1).
double VolumeToGain(std::int32_t hundredths_db);

}  // namespace djkivo
