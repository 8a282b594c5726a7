#include "demo/synth.h"

#include <algorithm>
#include <cmath>

namespace djkivo::demo {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSineTableSize = 4096;
// Semitone steps of a natural minor progression i - VI - III - VII, in the key's root.
constexpr int kProgressions[3][4] = {{0, 8, 3, 10}, {0, 5, 8, 7}, {0, 10, 8, 7}};
// A minor triad on the chord's root for i, major triads for the others.
constexpr int kTriads[4][3] = {{0, 3, 7}, {0, 4, 7}, {0, 4, 7}, {0, 4, 7}};

double NoteHz(double semitones_from_a4) { return 440.0 * std::pow(2.0, semitones_from_a4 / 12.0); }

// exp(-x) for x >= 0 from a table: the envelopes need it several times a sample, and the
// library call made first-request encoding of a long song noticeably slower.
constexpr int kExpSteps = 256;    // table steps per unit of x
constexpr double kExpRange = 16;  // exp(-16) is inaudible
float DecayOf(double x) {
  static const std::vector<float> table = [] {
    std::vector<float> values(static_cast<std::size_t>(kExpRange * kExpSteps) + 2);
    for (std::size_t i = 0; i < values.size(); ++i)
      values[i] = static_cast<float>(std::exp(-static_cast<double>(i) / kExpSteps));
    return values;
  }();
  if (x >= kExpRange)
    return 0;
  double position = x * kExpSteps;
  auto index = static_cast<std::size_t>(position);
  auto fraction = static_cast<float>(position - static_cast<double>(index));
  return table[index] + (table[index + 1] - table[index]) * fraction;
}

// A soft clip close to tanh, without its cost: exact at 0, 1 at |x| >= 3.
float SoftClip(float x) {
  if (x > 3)
    return 1;
  if (x < -3)
    return -1;
  return x * (27 + x * x) / (27 + 9 * x * x);
}

// Headroom below full scale, so the encoders' overshoot does not clip.
constexpr float kMasterGain = 0.85f;

// The chords' low-pass coefficient changes slowly; it is recomputed every this many frames.
constexpr int kFilterUpdateFrames = 64;

}  // namespace

SongSynth::SongSynth(std::uint32_t seed, double seconds)
    : total_frames_(static_cast<std::int64_t>(std::llround(seconds * kSampleRate))),
      beat_frames_(60.0 / (118 + seed % 13) * kSampleRate),
      sine_table_(kSineTableSize + 1),
      noise_(seed | 1) {
  for (int i = 0; i <= kSineTableSize; ++i)
    sine_table_[static_cast<std::size_t>(i)] =
        static_cast<float>(std::sin(2 * kPi * i / kSineTableSize));
  int key = static_cast<int>(seed / 13 % 12) - 12;  // one octave around A3
  const int* steps = kProgressions[seed / 156 % 3];
  for (int chord = 0; chord < 4; ++chord) {
    for (int note = 0; note < 3; ++note)
      chord_hz_[chord][note] = NoteHz(key + steps[chord] + kTriads[chord][note]);
    bass_hz_[chord] = NoteHz(key + steps[chord] - 24);
  }
}

float SongSynth::Sine(double phase) const {
  double position = (phase - std::floor(phase)) * kSineTableSize;
  auto index = static_cast<int>(position);
  auto fraction = static_cast<float>(position - index);
  float a = sine_table_[static_cast<std::size_t>(index)];
  return a + (sine_table_[static_cast<std::size_t>(index) + 1] - a) * fraction;
}

int SongSynth::Render(float* left, float* right, int count) {
  const double dt = 1.0 / kSampleRate;
  const double fade_frames = std::min(0.3 * kSampleRate, total_frames_ / 4.0);
  int rendered = 0;
  for (; rendered < count && frame_ < total_frames_; ++rendered, ++frame_) {
    double beat_position = frame_ / beat_frames_;
    auto beat = static_cast<std::int64_t>(beat_position);
    double in_beat = (beat_position - beat) * beat_frames_ * dt;  // seconds since the beat
    double half = std::fmod(beat_position, 0.5) * beat_frames_ * dt;
    int chord = static_cast<int>(beat / 4 % 4);
    std::int64_t bar = beat / 4;

    // White noise from a xorshift generator, high-passed by a first difference for the hats.
    noise_ ^= noise_ << 13;
    noise_ ^= noise_ >> 17;
    noise_ ^= noise_ << 5;
    float noise = static_cast<float>(noise_ & 0xffff) / 32768.0f - 1.0f;
    float hat_noise = noise - noise_last_;
    noise_last_ = noise;

    // Kick: a sine falling from 150 Hz to 50 Hz, on every beat.
    double kick_hz = 50 + 100 * DecayOf(in_beat / 0.03);
    kick_phase_ += kick_hz * dt;
    float kick = 0.8f * DecayOf(in_beat / 0.15) * Sine(kick_phase_);
    // Clap on beats 2 and 4; hi-hat on the off-beats.
    float clap = beat % 2 == 1 ? 0.25f * DecayOf(in_beat / 0.07) * noise : 0;
    float hat = beat_position - beat >= 0.5 ? 0.12f * DecayOf(half / 0.025) * hat_noise : 0;

    // Chords with two harmonics each, slightly detuned between the channels; pumped by the kick.
    float pump = 1 - 0.6f * DecayOf(in_beat / 0.12);
    float chord_left = 0, chord_right = 0;
    for (int note = 0; note < 3; ++note) {
      chord_phase_[note] += chord_hz_[chord][note] * dt;
      chord_phase_right_[note] += chord_hz_[chord][note] * 1.003 * dt;
      chord_left += Sine(chord_phase_[note]) + 0.4f * Sine(2 * chord_phase_[note]);
      chord_right += Sine(chord_phase_right_[note]) + 0.4f * Sine(2 * chord_phase_right_[note]);
    }
    // A one-pole low-pass whose cut-off sweeps over 16 bars.
    if (frame_ % kFilterUpdateFrames == 0) {
      double cutoff = 400 + 3000 * (0.5 - 0.5 * std::cos(2 * kPi * frame_ / (64 * beat_frames_)));
      filter_alpha_ = static_cast<float>(1 - std::exp(-2 * kPi * cutoff * dt));
    }
    filter_left_ += filter_alpha_ * (chord_left - filter_left_);
    filter_right_ += filter_alpha_ * (chord_right - filter_right_);

    // Bass on the eighth notes, on the chord's root.
    bass_phase_ += bass_hz_[chord] * dt;
    float bass = 0.35f * DecayOf(half / 0.2) * (Sine(bass_phase_) + 0.3f * Sine(2 * bass_phase_));

    // A rising sweep through the last bar of every eight.
    float sweep = 0;
    if (bar % 8 == 7) {
      double progress = (beat_position - bar * 4) / 4;
      sweep_phase_ += (200 + 1800 * progress * progress) * dt;
      sweep = static_cast<float>(0.08 * progress) * Sine(sweep_phase_);
    }

    double fade = 1;
    if (frame_ < fade_frames)
      fade = frame_ / fade_frames;
    else if (total_frames_ - frame_ < fade_frames)
      fade = (total_frames_ - frame_) / fade_frames;
    // A lead arpeggio on the sixteenths, an octave above the chord, from the fifth bar on.
    float lead = 0;
    if (bar >= 4) {
      double sixteenth = beat_position * 4;
      auto step = static_cast<int>(static_cast<std::int64_t>(sixteenth) % 4);
      double since = (sixteenth - std::floor(sixteenth)) * beat_frames_ / 4 * dt;
      lead_phase_ += 2 * chord_hz_[chord][step % 3] * (step == 3 ? 2 : 1) * dt;
      lead = 0.1f * DecayOf(since / 0.06) * (Sine(lead_phase_) + 0.25f * Sine(3 * lead_phase_));
    }

    // Song form: drums and bass alone for four bars, then everything; every 16 bars the kick
    // drops out for a two-bar breakdown.
    bool intro = bar < 4;
    bool breakdown = bar % 16 >= 14;
    float drums = (breakdown ? 0 : kick) + clap;
    float chords = intro ? 0 : 0.09f * pump;
    float l = drums + 0.8f * hat + chords * filter_left_ + bass + sweep + 0.8f * lead;
    float r = drums + 1.2f * hat + chords * filter_right_ + bass + sweep + 1.2f * lead;
    left[rendered] = kMasterGain * static_cast<float>(fade) * SoftClip(l);
    right[rendered] = kMasterGain * static_cast<float>(fade) * SoftClip(r);
  }
  return rendered;
}

}  // namespace djkivo::demo
