// Music-like audio made from numbers: the demo site's songs, so no recording is shipped.
#pragma once

#include <cstdint>
#include <vector>

namespace djkivo::demo {

/// One song's audio: a four-on-the-floor drum pattern (kick, clap, hi-hat), a four-bar chord
/// progression in a minor key with a bass line and a side-chain pump, a slowly sweeping low-pass
/// filter on the chords, an arpeggiated lead, a rising sweep every eight bars and a breakdown
/// every sixteen, after a four-bar intro of drums and bass; stereo, 44.1 kHz, with short fades
/// at both ends. Tempo, key and progression come from the seed, so every song sounds a
/// little different and the same seed always gives the same samples.
class SongSynth {
 public:
  static constexpr int kSampleRate = 44100;

  SongSynth(std::uint32_t seed, double seconds);

  std::int64_t TotalFrames() const { return total_frames_; }

  /// Renders the next frames into the two planar channels, at most `count`; returns how many
  /// (0 at the end of the song).
  int Render(float* left, float* right, int count);

 private:
  float Sine(double phase) const;  // phase in turns

  // Immutable after construction.
  std::int64_t total_frames_;
  double beat_frames_;
  double chord_hz_[4][3];  // the progression: four chords of three notes
  double bass_hz_[4];
  std::vector<float> sine_table_;
  // Rendering state.
  std::int64_t frame_ = 0;
  double kick_phase_ = 0;
  double chord_phase_[3] = {};
  double chord_phase_right_[3] = {};
  double bass_phase_ = 0;
  double lead_phase_ = 0;
  double sweep_phase_ = 0;
  float filter_alpha_ = 0;
  float filter_left_ = 0, filter_right_ = 0;
  float noise_last_ = 0;
  std::uint32_t noise_ = 1;
};

}  // namespace djkivo::demo
