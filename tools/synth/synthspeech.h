#pragma once
// Deterministic synthetic speech with known truth, for tests, reports and the bundled
// sample input: a glottal pulse train with a known f0 contour (steady stretches, glides,
// jitter) through a cascade of formant resonators, unvoiced noise stretches and silence.
// The same configuration always gives the same samples on every machine (own PRNG, no
// library random distributions).
//
// Signal model, per segment (segments are synthesised independently and concatenated):
//   voiced:   e[n] = sum_i sqrt(T_i) * h(n - t_i)            (+ high-passed noise if mixed)
//             t_i  = pulse instants in samples (real-valued), T_i = t_{i+1} - t_i the period
//             h    = Blackman-windowed sinc low-pass at the voiced cut-off (fs/2 when none),
//                    so each pulse is a band-limited impulse with a flat spectrum below the
//                    cut-off and the harmonics all have equal amplitude 2/sqrt(T_i).
//             With sqrt(T_i) as pulse weight the pulse train has the same power spectral
//             density as unit-variance white noise, so the mixed-excitation noise above the
//             cut-off is unit-variance white noise high-passed by (delta - h).
//   unvoiced: e[n] = unit-variance white noise (flat spectrum, not shaped by the formants)
//   silence:  exact zeros
//   voiced output: e -> formant resonators (cascade) -> lip radiation 1 - 0.97 z^-1;
//   every non-silent segment then gets raised-cosine fades of 5 ms at both ends and is
//   scaled so that its peak magnitude equals Segment::level. Additive white noise
//   (noisesnr_db) is added last, over the whole signal.
// Period contour: T_i solves fs / T = f0(t_i + T/2) (the linear glide evaluated at the
// middle of the period), then with jitter T_i is multiplied by 1 + jitter * g, g a
// zero-mean unit-variance deviate (Irwin-Hall sum of 12 uniforms, bounded to +-6).
#include <cstdint>
#include <string>
#include <vector>

namespace brisvane::synth {

enum class SegmentKind { Silence, Voiced, Unvoiced };

struct Segment {
  SegmentKind kind = SegmentKind::Silence;
  double seconds = 0.1;  // duration, >= 0; segment edges are rounded to whole samples
  double f0start = 0.0;  // Hz, voiced only: f0 at the start of the segment, 1 <= f0 < fs/2
  double f0end = 0.0;    // Hz, voiced only: f0 at the end (linear glide in Hz; = start for steady)
  double jitter = 0.0;   // relative standard deviation of each period (0.01 = 1 %), 0 ... 0.15
  double level = 0.3;    // peak amplitude of the segment in [-1, 1) units, 0 <= level < 1
};

struct Formant {
  double freq;       // centre frequency, Hz, 0 < freq < fs/2
  double bandwidth;  // -3 dB bandwidth, Hz, > 0
};

struct Config {
  double fs = 16000.0;                 // Hz, 1000 ... 384000
  uint32_t shift = 80;                 // frame shift of the truth track, samples, >= 1
  std::vector<Segment> segments;
  std::vector<Formant> formants = {{700, 80}, {1220, 90}, {2600, 120}, {3500, 150}};
  double noisesnr_db = 1e9;            // additive white noise over the whole signal (SNR vs voiced power); >= 1e9 = none
  double voicedcutoff = 0.0;           // Hz; > 0: voiced frames are harmonic below it and noise above (mixed excitation); <= fs/2
  uint64_t seed = 1;
};

struct Result {
  std::vector<double> signal;   // samples in [-1, 1)
  std::vector<double> f0;       // true f0 per frame (frame k centred on k*shift), 0 = unvoiced
  std::vector<double> fv;       // true maximum voiced frequency per frame (voicedcutoff, or fs/2; 0 unvoiced)
  // 1 for frames whose whole neighbourhood of +-15 ms lies inside the unfaded part of one
  // voiced segment (the frames an f0 or envelope estimator is scored on), else 0.
  std::vector<uint8_t> stable;
  std::vector<double> pulses;   // pulse instants of all voiced segments, in samples, ascending
};

// Synthesises the configured utterance. Frame count of the truth tracks is
// floor((N - 1) / shift) + 1 for N > 0 samples, 0 for an empty signal.
// Throws std::invalid_argument for a configuration outside the ranges documented above
// (or longer than one hour).
Result synthesize(const Config& cfg);

// Natural-log magnitude at f Hz (0 <= f <= fs/2) of the voiced filter chain: the formant
// resonator cascade (each with unity gain at 0 Hz) times the lip radiation 1 - 0.97 z^-1.
// The excitation is flat below the voiced cut-off, so this is the true spectral envelope
// of voiced frames up to a constant. It is finite everywhere (ln 0.03 from the radiation
// at 0 Hz). Throws std::invalid_argument for an invalid fs or formant list.
double envelopelog(const Config& cfg, double f);

// Quantises to 16 bits (round half away from zero of x * 32768, clipped to
// [-32768, 32767], NaN as 0) and writes a canonical 44-byte-header mono PCM WAV with the
// sampling rate fs rounded to whole Hz. true on success; false if the file cannot be
// written, fs is not in [1, 2^31) or the data would not fit a RIFF size field.
bool writewav16(const std::string& path, const std::vector<double>& x, double fs);

// A ready-made utterance of about 3 s: leading silence, a steady vowel at 120 Hz, a rising
// glide 100 -> 180 Hz, an unvoiced noise stretch, a falling glide 220 -> 150 Hz with 1 %
// jitter, silence, a steady vowel at 200 Hz, trailing silence (the bundled sample input
// is made from it).
Config demoutterance();

// A single steady voiced segment of the given f0 (Hz) and duration (s), default formants.
Config steadyvowel(double f0, double seconds);

}  // namespace brisvane::synth
