#include "audio/output/snd_out.h"

#include <cstring>

namespace djkivo {

void SndOutEnumerate(SndOut& snd, std::vector<SoundDeviceEntry>& list) {
  list = snd.device->Enumerate();
  if (list.size() > static_cast<std::size_t>(kMaxSoundDevices))
    list.resize(kMaxSoundDevices);
  for (SoundDeviceEntry& entry : list)
    if (entry.description.size() > kMaxDeviceDescription)
      entry.description.resize(kMaxDeviceDescription);
}

SoundResult SndOutCreate(SndOut& snd, int index) { return snd.device->Create(index); }

SoundResult SndOutInitBuffer(SndOut& snd, const WaveFormat& format, std::uint32_t size) {
  snd.size = size;
  snd.underrun = false;
  snd.has_buffer = false;
  SoundResult result = snd.device->InitBuffer(format, size);
  if (result != kSoundOk)
    return result;
  snd.has_buffer = true;
  std::uint32_t play = 0;
  std::uint32_t write = 0;
  result = snd.device->GetCurrentPosition(&play, &write);
  snd.write_position = write;
  return result;
}

SoundResult SndOutFreeSpace(SndOut& snd, std::uint32_t* free) {
  snd.underrun = false;
  *free = 0;
  std::uint32_t play = 0;
  std::uint32_t write = 0;
  const SoundResult result = snd.device->GetCurrentPosition(&play, &write);
  if (result != kSoundOk)
    return result;
  const auto size = static_cast<std::int64_t>(snd.size);
  std::int64_t committed = static_cast<std::int64_t>(write) - play;
  if (committed < 0)
    committed += size;
  std::int64_t ahead = static_cast<std::int64_t>(snd.write_position) - play;
  if (ahead < 0)
    ahead += size;
  // The write position inside the region the device has already committed: the play cursor
  // overtook it. Writing goes on at the device's write cursor. (Only this region counts: a
  // write position that merely wrapped past the end, after a partial block, is still ahead of
  // the play cursor, and moving it would drop the unplayed audio behind it.)
  if (ahead < committed) {
    snd.underrun = true;
    snd.write_position = write;
  }
  std::int64_t space = static_cast<std::int64_t>(play) - snd.write_position;
  if (space < 0)
    space += size;
  *free = static_cast<std::uint32_t>(space);
  return kSoundOk;
}

namespace {

// Locks `count` bytes at the write position, lets `fill` write the one or two regions, and
// advances the write position past them.
template <typename Fill>
SoundResult WriteRegions(SndOut& snd, std::uint32_t count, Fill fill) {
  if (count == 0)
    return kSoundOk;
  SoundRegion first;
  SoundRegion second;
  const SoundResult result = snd.device->Lock(snd.write_position, count, &first, &second);
  if (result != kSoundOk)
    return result;
  fill(first, second);
  snd.write_position = (snd.write_position + first.bytes + second.bytes) % snd.size;
  snd.device->Unlock();
  return kSoundOk;
}

}  // namespace

SoundResult SndOutWrite(SndOut& snd, const std::uint8_t* data, std::uint32_t count) {
  return WriteRegions(snd, count, [data](const SoundRegion& first, const SoundRegion& second) {
    std::memcpy(first.data, data, first.bytes);
    if (second.bytes)
      std::memcpy(second.data, data + first.bytes, second.bytes);
  });
}

SoundResult SndOutFillSilence(SndOut& snd, std::uint8_t byte) {
  std::uint32_t free = 0;
  const SoundResult result = SndOutFreeSpace(snd, &free);
  if (result != kSoundOk)
    return result;
  return WriteRegions(snd, free, [byte](const SoundRegion& first, const SoundRegion& second) {
    std::memset(first.data, byte, first.bytes);
    if (second.bytes)
      std::memset(second.data, byte, second.bytes);
  });
}

SoundResult SndOutStart(SndOut& snd) { return snd.device->Play(true); }

SoundResult SndOutRestart(SndOut& snd) {
  return snd.has_buffer ? snd.device->Play(false) : kSoundNoBuffer;
}

SoundResult SndOutStop(SndOut& snd) { return snd.has_buffer ? snd.device->Stop() : kSoundOk; }

HalfWait SndOutWaitHalf(SndOut& snd, int which, std::chrono::milliseconds timeout) {
  return snd.device->WaitHalf(which, timeout);
}

void SndOutClearHalf(SndOut& snd, int which) { snd.device->ClearHalf(which); }

SoundResult SndOutSetVolume(SndOut& snd, std::int32_t hundredths_db) {
  return snd.device->SetVolume(hundredths_db);
}

void SndOutClose(SndOut& snd) {
  snd.device->Close();
  snd.has_buffer = false;
}

}  // namespace djkivo
