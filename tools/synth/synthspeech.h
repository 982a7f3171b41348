#pragma once
// Deterministic synthetic speech with known truth, for tests, reports and the bundled
// sample input: a glottal pulse train with a known f0 contour (steady stretches, glides,
// jitter) through a cascade of formant resonators, unvoiced noise stretches and silence.
// The same configuration always gives the same samples on every machine (own PRNG, no
// library random distributions).
#include <cstdint>
#include <string>
#include <vector>

namespace brisvane::synth {

enum class SegmentKind { Silence, Voiced, Unvoiced };

struct Segment {
  SegmentKind kind = SegmentKind::Silence;
  double seconds = 0.1;
  double f0start = 0.0;  // Hz, voiced only: f0 at the start of the segment
  double f0end = 0.0;    // Hz, voiced only: f0 at the end (linear glide in Hz; = start for steady)
  double jitter = 0.0;   // relative standard deviation of each period (0.01 = 1 %)
  double level = 0.3;    // peak-ish amplitude of the segment in [-1, 1) units
};

struct Formant {
  double freq;       // centre frequency, Hz
  double bandwidth;  // -3 dB bandwidth, Hz
};

struct Config {
  double fs = 16000.0;
  uint32_t shift = 80;                 // frame shift of the truth track, samples
  std::vector<Segment> segments;
  std::vector<Formant> formants = {{700, 80}, {1220, 90}, {2600, 120}, {3500, 150}};
  double noisesnr_db = 1e9;            // additive white noise over the whole signal (SNR vs voiced power); >= 1e9 = none
  double voicedcutoff = 0.0;           // Hz; > 0: voiced frames are harmonic below it and noise above (mixed excitation)
  uint64_t seed = 1;
};

struct Result {
  std::vector<double> signal;   // samples in [-1, 1)
  std::vector<double> f0;       // true f0 per frame (frame k centred on k*shift), 0 = unvoiced
  std::vector<double> fv;       // true maximum voiced frequency per frame (voicedcutoff, or fs/2; 0 unvoiced)
};

Result synthesize(const Config& cfg);

// Log amplitude (natural log, arbitrary but fixed offset) of the formant filter's response
// at f Hz: the true spectral envelope shape of voiced frames.
double envelopelog(const Config& cfg, double f);

// Quantises to 16-bit and writes a canonical 44-byte-header mono WAV. true on success.
bool writewav16(const std::string& path, const std::vector<double>& x, double fs);

// A ready-made utterance of a few seconds: silence, steady vowels, glides, jitter,
// unvoiced noise stretches (the bundled sample input is made from it).
Config demoutterance();

}  // namespace brisvane::synth
