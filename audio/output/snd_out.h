// The output's view of its sound device: the program's own write position over the device's
// looping buffer, with the free-space, write, silence, start/stop and half-wait operations the
// fill loop of `TSoundOut` is built from. Tested by tests/audio/output/snd_out_test.cpp.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/output/sound_device.h"

namespace djkivo {

/// One output's device state. Used by the output thread, or by another thread only while the
/// output thread is parked (pause, resume, the latency change).
struct SndOut {
  std::unique_ptr<SoundDevice> device;
  // `SndOutInitBuffer` succeeded; atomic because a resume on the main thread asks for it.
  std::atomic<bool> has_buffer{false};
  std::uint32_t size = 0;            // buffer length in bytes
  bool underrun = false;             // set by SndOutFreeSpace: the write position was overtaken
  std::uint32_t write_position = 0;  // where the next write goes
};

/// Fills `list` with the device list (at most `kMaxSoundDevices` entries).
void SndOutEnumerate(SndOut& snd, std::vector<SoundDeviceEntry>& list);
/// Opens device `index` of the list.
SoundResult SndOutCreate(SndOut& snd, int index);
/// Creates a silent looping buffer of `size` bytes with crossings at 0 and `size / 2`; the
/// write position becomes the device's write cursor.
SoundResult SndOutInitBuffer(SndOut& snd, const WaveFormat& format, std::uint32_t size);
/// Bytes writable at the write position (returned through `free`). A write position inside the
/// region the device has already committed sets `underrun` and moves to the write cursor.
SoundResult SndOutFreeSpace(SndOut& snd, std::uint32_t* free);
/// Copies `count` bytes at the write position, wrapping at the end, and advances it.
SoundResult SndOutWrite(SndOut& snd, const std::uint8_t* data, std::uint32_t count);
/// Fills all free space with `byte` and advances the write position.
SoundResult SndOutFillSilence(SndOut& snd, std::uint8_t byte);
/// Moves the play cursor to 0 and starts looping playback.
SoundResult SndOutStart(SndOut& snd);
/// Continues looping playback from the play cursor; kSoundNoBuffer without a buffer.
SoundResult SndOutRestart(SndOut& snd);
/// Halts playback; success without a buffer.
SoundResult SndOutStop(SndOut& snd);
/// Waits (at most `timeout`) for crossing `which` (0 = start, 1 = middle) and clears it.
HalfWait SndOutWaitHalf(SndOut& snd, int which, std::chrono::milliseconds timeout);
/// Clears crossing `which` (the other one, after a wait found both set).
void SndOutClearHalf(SndOut& snd, int which);
/// Sets the volume in hundredths of a decibel.
SoundResult SndOutSetVolume(SndOut& snd, std::int32_t hundredths_db);
/// Stops and releases buffer and device.
void SndOutClose(SndOut& snd);

}  // namespace djkivo
