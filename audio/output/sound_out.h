// The output at the end of the chain: plays what it pulls through one looping device buffer,
// refilled half by half, paced by the buffer's two crossings.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/audio_output.h"
#include "audio/output/snd_out.h"
#include "audio/output/sound_device.h"

namespace djkivo {

class TEventHandler;

/// The sound output. It pulls PCM from `Input` and plays it through a looping buffer of
/// `Latency` milliseconds on a `SoundDevice`, refilled one half per crossing; at the end of
/// the input it plays out the buffer with silence behind the audio, then stops.
///
/// It never waits for audio longer than the device can: when the input has nothing ready for
/// the half the device plays next (the network is slow, the stream is reconnecting), that half
/// is filled with silence and counted as an underrun, and the next real sample follows it, so
/// the device never plays what it played before. A song, and a resume, start only once audio
/// is there. On a device that is not real-time (the WAV writer's fast mode) late audio is
/// waited for instead.
///
/// Threads: construction, destruction, the property setters, `Volume`, `Pause`, `Resume`,
/// `Run` and `Stop` on the main thread; `OpenOutput`, `OutputStep`, `CloseOutput` (and the
/// buffer's stop at a pause) on the output's thread; the calibration (a `Latency` change) on
/// the dispatcher thread. The buffer is rebuilt only while the output's thread is parked in a
/// pause. Every wait for the device is bounded by `HalfWaitBound`: a device that stops
/// answering is opened again once per run, on the default device, and the run goes on; if that
/// fails, or it stops answering again, the run ends with an `EAudioError`, so `Stop` and exit
/// never hang on it.
class TSoundOut : public TAudioOutput {
 public:
  /// The least buffer length a run uses, in milliseconds.
  static constexpr std::uint32_t kMinLatency = 10;
  /// The drain polls the buffer this often while it plays out the end.
  static constexpr std::chrono::milliseconds kDrainStep{50};
  /// The latency calibration adds this much per step that saw an underrun.
  static constexpr std::uint32_t kCalibrationStep = 10;
  /// A step waiting for audio that has no deadline (a song's start, a device that is not
  /// real-time) looks for a stop or a pause this often.
  static constexpr std::chrono::milliseconds kAudioWaitSlice{50};
  /// How long a latency change waits for the run to park before it rebuilds the buffer.
  static constexpr std::chrono::milliseconds kRebuildPauseWait{5000};

  /// Takes the device it plays through and lists its devices once.
  explicit TSoundOut(std::unique_ptr<SoundDevice> device);
  /// Writes the latency to `INIFile` when calibrating, then stops any run.
  ~TSoundOut() override;

  // --- Properties (main thread).
  /// Index into `Devices()`; checked when a run opens ("Invalid device number").
  int DeviceNumber() const { return device_number_.load(); }
  void SetDeviceNumber(int value) { device_number_.store(value); }
  /// When on, every output step that saw an underrun raises `Latency` by 10 ms.
  bool Calibrate() const { return calibrate_.load(); }
  void SetCalibrate(bool value) { calibrate_.store(value); }
  /// Where the calibrated latency is kept (section "AudioOutput", key "Latency"). Assigning a
  /// file that holds a latency restores it; it is written back at destruction when
  /// `Calibrate` is on. File errors are ignored.
  const std::string& INIFile() const { return ini_file_; }
  void SetINIFile(const std::string& path);
  /// Buffer length in milliseconds (default 100). Setting it while playing pauses, rebuilds
  /// the buffer and resumes; "Failed to create DirectSound buffer" plus the code when the
  /// buffer cannot be rebuilt (the run then ends with that error). Any thread but the
  /// output's.
  std::uint32_t Latency() const { return latency_.load(); }
  void SetLatency(std::uint32_t value);
  /// Multiplies the device rate: speed and pitch change together (default 1.0).
  float SpeedFactor() const { return speed_factor_.load(); }
  void SetSpeedFactor(float value) { speed_factor_.store(value); }
  /// An underrun happened. Posted by the output's thread; runs on the main thread.
  void SetOnUnderrun(TGenericEvent handler);

  /// Volume in hundredths of a decibel (0 full level, -4000 40 dB down). Stored, applied at
  /// once to a playing buffer and again whenever playback is primed. Raises "Control not
  /// available" when the device has no volume control.
  std::int32_t Volume() const { return volume_.load(); }
  void SetVolume(std::int32_t value);

  /// Pauses the run; the buffer stops where it is when the run parks, before its next step
  /// (unless the input has ended: the end then plays out).
  void Pause();
  /// Resumes a paused run: the buffer plays on from where it stopped, with what it held (one
  /// rebuilt meanwhile is primed afresh); nothing once the input has ended.
  void Resume();
  /// Underruns of the current or last run: halves filled with silence because no audio was
  /// ready (counted once per stretch), and crossings the output missed.
  std::uint64_t Underruns() const { return underruns_.load(); }

  /// The devices listed at construction (at most 16, entry 0 the default).
  const std::vector<SoundDeviceEntry>& Devices() const { return devices_; }

  // --- What a run uses, readable once it has opened (tests and the command line).
  std::uint32_t BufferBytes() const { return buffer_bytes_.load(); }
  std::uint32_t DeviceSampleRate() const { return device_rate_.load(); }
  /// The longest wait for one crossing: twice the buffer's play time plus a second.
  std::chrono::milliseconds HalfWaitBound() const;

  /// The 40-byte wave format for the buffer: plain PCM for one or two channels, the
  /// extensible layout (channel mask 0x3F for 6 channels, 0xFF for 8, else 0) for more.
  static WaveFormat MakeWaveFormat(std::uint32_t channels, std::uint32_t rate, std::uint32_t bits);
  /// Frames in a buffer of `latency_ms` at `rate`: always even, so both halves are whole.
  static std::uint32_t FrameCount(std::uint32_t latency_ms, std::uint32_t rate);

 protected:
  void OpenOutput() override;
  bool OutputStep(bool abort) override;
  void CloseOutput() override;
  void PauseOutput() override;
  void ResumeOutput() override;

 private:
  /// Sizes the buffer for the current latency and rate, allocates the scratch block and
  /// creates the device buffer; raises "Failed to create DirectSound buffer" + code.
  void BuildBuffer();
  /// Reads `count` bytes of input into the scratch block, no longer than the device can wait
  /// (half the play time of half a buffer); on a real-time device what did not come in time is
  /// silence. Returns the bytes to write; sets `end_of_input_`.
  std::uint32_t ReadHalf(std::uint32_t count);
  /// Waits in slices until the input has audio or has ended; false when a stop or a pause
  /// came first.
  bool WaitForAudio();
  /// Writes the first `count` bytes of the scratch block, applies the volume and starts the
  /// buffer from its start.
  void Prime(std::uint32_t count);
  /// Waits for crossing `which`; notes an underrun (clearing the other crossing) when both
  /// were set. A device that does not answer within `HalfWaitBound` is replaced by the default
  /// device once per run (false: the caller primes the new buffer with its half); after that,
  /// or when the default device cannot be opened, it raises.
  bool WaitHalf(int which, bool& underrun_seen);
  /// Opens the default device with a buffer like the last one. Raises the device's error.
  void ReopenDefaultDevice();
  /// The play time of half a buffer.
  std::chrono::microseconds HalfPlayTime() const;
  /// Notes the `SndOut` underrun flag after a free-space query.
  void CheckUnderrunFlag(bool& underrun_seen);
  void NoteUnderrun(bool& underrun_seen);
  /// Plays the buffer out with silence behind the audio, then stops it.
  void Drain();
  void ReadIniFile();
  void WriteIniFile();

  std::shared_ptr<TEventHandler> events_;
  std::vector<SoundDeviceEntry> devices_;  // filled at construction
  int device_count_ = 0;

  // --- Properties.
  std::atomic<int> device_number_{0};
  std::atomic<bool> calibrate_{false};
  std::string ini_file_;  // main thread only
  std::atomic<std::uint32_t> latency_{100};
  std::atomic<float> speed_factor_{1.0f};
  std::atomic<std::int32_t> volume_{0};

  // --- Per run: written by the output's thread (or by the latency change while it is
  // parked); the flags are read by the main thread.
  SndOut snd_;
  std::uint32_t channels_ = 0;
  std::uint32_t bits_ = 0;
  std::atomic<std::uint32_t> device_rate_{0};
  std::atomic<std::uint32_t> buffer_bytes_{0};
  std::vector<std::uint8_t> scratch_;
  std::uint8_t silence_ = 0;
  std::atomic<bool> first_fill_{false};
  std::atomic<bool> end_of_input_{false};
  std::atomic<bool> closed_{true};
  std::atomic<bool> stopped_for_pause_{false};  // the buffer was stopped when the run parked
  std::atomic<std::uint64_t> underruns_{0};
  bool starving_ = false;      // the last half was (partly) silence for want of audio
  bool recovered_ = false;     // the device was opened again in this run
  std::string rebuild_error_;  // a failed latency change, raised by the next step
  /// Held by a latency change while it rebuilds and by `CloseOutput`, so a run that ends
  /// meanwhile never releases the device under the rebuild.
  std::mutex rebuild_lock_;

  // --- guarded by handler_lock_
  TGenericEvent on_underrun_;
  std::mutex handler_lock_;
};

}  // namespace djkivo
