// Deterministic synthetic speech: band-limited pulse train through formant resonators,
// white-noise stretches and silence, with the true f0 / voicing truth per frame.
#include "tools/synth/synthspeech.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace brisvane::synth {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kRadiation = 0.97;          // lip radiation zero, 1 - 0.97 z^-1
constexpr double kFadeSeconds = 0.005;       // raised-cosine fade at every segment edge
constexpr double kStableHalfSeconds = 0.015; // half of the 30 ms neighbourhood of a stable frame
// Half length of the pulse / noise-split FIR: 6 ms (96 taps each side at 16 kHz) gives a
// Blackman transition band of about 5.5 * fs / 193 = 460 Hz around the voiced cut-off.
constexpr double kKernelHalfSeconds = 0.006;
constexpr double kMaxSeconds = 3600.0;

// Independent random streams of one configuration, so that e.g. changing the SNR does not
// change the jitter pattern, and editing one segment does not change the others.
enum Purpose : uint64_t { kJitter = 1, kExcitationNoise = 2, kAdditiveNoise = 3 };

uint64_t mix64(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// splitmix64: a 64-bit counter through a bijective mixer; exact integer arithmetic, so
// identical on every platform.
struct Rng {
  uint64_t state;
  uint64_t next() {
    state += 0x9E3779B97F4A7C15ull;
    return mix64(state);
  }
  // Uniform on [0, 1) with 53 random bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  // Irwin-Hall: sum of 12 uniforms minus 6 has mean 0 and variance 1, bounded to +-6.
  // Only additions of exactly representable values, so it needs no libm function.
  double gauss() {
    double s = 0.0;
    for (int i = 0; i < 12; ++i) s += uniform();
    return s - 6.0;
  }
};

Rng streamfor(uint64_t seed, uint64_t segment, uint64_t purpose) {
  uint64_t s = mix64(seed + 0x9E3779B97F4A7C15ull);
  s = mix64(s ^ (segment * 0xD1B54A32D192ED03ull + 0x632BE59BD9B4E019ull));
  s = mix64(s ^ (purpose * 0x8CB92BA72F3D8DD7ull + 0x2545F4914F6CDD1Dull));
  return Rng{s};
}

bool finite(double v) { return std::isfinite(v); }

void require(bool ok, const char* what) {
  if (!ok) throw std::invalid_argument(what);
}

void validatefilter(const Config& cfg) {
  require(finite(cfg.fs) && cfg.fs >= 1000.0 && cfg.fs <= 384000.0, "fs must be 1000 ... 384000 Hz");
  for (const Formant& f : cfg.formants) {
    require(finite(f.freq) && f.freq > 0.0 && f.freq < 0.5 * cfg.fs, "formant frequency must be in (0, fs/2)");
    require(finite(f.bandwidth) && f.bandwidth > 0.0 && f.bandwidth <= cfg.fs, "formant bandwidth must be in (0, fs]");
  }
}

void validate(const Config& cfg) {
  validatefilter(cfg);
  require(cfg.shift >= 1, "frame shift must be >= 1");
  require(!std::isnan(cfg.noisesnr_db), "noise SNR must not be NaN");
  require(finite(cfg.voicedcutoff) && cfg.voicedcutoff >= 0.0 && cfg.voicedcutoff <= 0.5 * cfg.fs,
          "voiced cut-off must be in [0, fs/2]");
  double total = 0.0;
  for (const Segment& s : cfg.segments) {
    require(finite(s.seconds) && s.seconds >= 0.0, "segment duration must be >= 0");
    require(finite(s.level) && s.level >= 0.0 && s.level < 1.0, "segment level must be in [0, 1)");
    if (s.kind == SegmentKind::Voiced) {
      // At least 1 Hz keeps every period (and the pulse weight sqrt(T)) finite.
      require(finite(s.f0start) && s.f0start >= 1.0 && s.f0start < 0.5 * cfg.fs, "f0start must be in [1, fs/2)");
      require(finite(s.f0end) && s.f0end >= 1.0 && s.f0end < 0.5 * cfg.fs, "f0end must be in [1, fs/2)");
      require(finite(s.jitter) && s.jitter >= 0.0 && s.jitter <= 0.15, "jitter must be in [0, 0.15]");
    }
    total += s.seconds;
  }
  require(total <= kMaxSeconds, "utterance longer than one hour");
}

// Resonator y[n] = b0 x[n] + a1 y[n-1] + a2 y[n-2] with poles at r e^{+-j theta},
// r = exp(-pi B / fs) (the -3 dB bandwidth B), theta = 2 pi F / fs, and b0 = 1 - a1 - a2
// for unity gain at 0 Hz.
struct Resonator {
  double b0, a1, a2;
};

Resonator makeresonator(const Formant& f, double fs) {
  const double r = std::exp(-kPi * f.bandwidth / fs);
  const double a1 = 2.0 * r * std::cos(2.0 * kPi * f.freq / fs);
  const double a2 = -r * r;
  return {1.0 - a1 - a2, a1, a2};
}

// Blackman-windowed sinc low-pass with cut-off fcn (cycles per sample, <= 0.5) and
// support |x| <= half samples, evaluated at a real offset x. Its samples sum to about 1.
double lowpasskernel(double x, double fcn, double half) {
  if (std::fabs(x) >= half) return 0.0;
  const double w = 0.42 + 0.5 * std::cos(kPi * x / half) + 0.08 * std::cos(2.0 * kPi * x / half);
  const double arg = 2.0 * kPi * fcn * x;
  const double s = (arg == 0.0) ? 2.0 * fcn : 2.0 * fcn * std::sin(arg) / arg;
  return s * w;
}

struct SegmentBounds {
  uint64_t start, end;  // samples [start, end)
};

std::vector<SegmentBounds> segmentbounds(const Config& cfg) {
  std::vector<SegmentBounds> b;
  b.reserve(cfg.segments.size());
  double cum = 0.0;
  uint64_t prev = 0;
  for (const Segment& s : cfg.segments) {
    cum += s.seconds;
    const auto e = static_cast<uint64_t>(std::llround(cum * cfg.fs));
    const uint64_t end = std::max(e, prev);
    b.push_back({prev, end});
    prev = end;
  }
  return b;
}

// f0 of a linear glide at local sample position t of a segment of L samples.
double glidef0(const Segment& s, double t, double L) {
  const double u = (L > 0.0) ? std::clamp(t / L, 0.0, 1.0) : 0.0;
  return s.f0start + (s.f0end - s.f0start) * u;
}

struct Pulse {
  double t;       // instant, local samples
  double period;  // samples until the next pulse
};

// Pulse instants covering [0, L): the nominal period T solves fs / T = f0(t + T/2) by
// fixed-point iteration (the glide changes little within one period), then jitter scales it.
std::vector<Pulse> placepulses(const Segment& s, double fs, uint64_t L, Rng& rng) {
  std::vector<Pulse> p;
  const double len = static_cast<double>(L);
  double t = 0.0;
  while (t < len) {
    double T = fs / glidef0(s, t, len);
    for (int it = 0; it < 4; ++it) T = fs / glidef0(s, t + 0.5 * T, len);
    T *= 1.0 + s.jitter * rng.gauss();
    p.push_back({t, T});
    t += T;
  }
  return p;
}

// Adds the high-passed (delta minus low-pass) unit-variance noise of mixed excitation.
void addhighpassnoise(std::vector<double>& e, double fcn, int half, Rng& rng) {
  const size_t L = e.size();
  const size_t h = static_cast<size_t>(half);
  std::vector<double> w(L + 2 * h);
  for (double& v : w) v = rng.gauss();
  std::vector<double> k(2 * h + 1);
  for (size_t j = 0; j < k.size(); ++j) k[j] = lowpasskernel(static_cast<double>(j) - half, fcn, half);
  for (size_t n = 0; n < L; ++n) {
    double lp = 0.0;
    for (size_t j = 0; j < k.size(); ++j) lp += k[j] * w[n + j];
    e[n] += w[n + h] - lp;
  }
}

void filterchain(std::vector<double>& x, const Config& cfg) {
  for (const Formant& f : cfg.formants) {
    const Resonator r = makeresonator(f, cfg.fs);
    double y1 = 0.0, y2 = 0.0;
    for (double& v : x) {
      const double y = r.b0 * v + r.a1 * y1 + r.a2 * y2;
      y2 = y1;
      y1 = y;
      v = y;
    }
  }
  double x1 = 0.0;
  for (double& v : x) {
    const double in = v;
    v = in - kRadiation * x1;
    x1 = in;
  }
}

// Voiced segment: excitation, filter chain, and the per-frame f0 truth of frames whose
// centre falls inside it.
std::vector<double> voicedsegment(const Config& cfg, size_t idx, const SegmentBounds& b, Result& out) {
  const Segment& s = cfg.segments[idx];
  const uint64_t L = b.end - b.start;
  Rng jit = streamfor(cfg.seed, idx, kJitter);
  const std::vector<Pulse> pulses = placepulses(s, cfg.fs, L, jit);

  const bool mixed = cfg.voicedcutoff > 0.0 && cfg.voicedcutoff < 0.5 * cfg.fs;
  const double fcn = mixed ? cfg.voicedcutoff / cfg.fs : 0.5;
  const int half = std::max(1, static_cast<int>(std::lround(kKernelHalfSeconds * cfg.fs)));
  const double hh = static_cast<double>(half);

  std::vector<double> e(L, 0.0);
  for (const Pulse& p : pulses) {
    const double amp = std::sqrt(p.period);
    const double lo = std::max(0.0, std::ceil(p.t - hh));
    const double hi = std::min(static_cast<double>(L) - 1.0, std::floor(p.t + hh));
    for (double n = lo; n <= hi; n += 1.0) e[static_cast<size_t>(n)] += amp * lowpasskernel(n - p.t, fcn, hh);
    out.pulses.push_back(static_cast<double>(b.start) + p.t);
  }
  if (mixed) {
    Rng nz = streamfor(cfg.seed, idx, kExcitationNoise);
    addhighpassnoise(e, fcn, half, nz);
  }
  filterchain(e, cfg);

  // Truth: the reciprocal of the actual period containing each frame centre.
  const uint64_t shift = cfg.shift;
  size_t i = 0;
  for (uint64_t k = (b.start + shift - 1) / shift; k < out.f0.size() && k * shift < b.end; ++k) {
    const double c = static_cast<double>(k * shift - b.start);
    while (i + 1 < pulses.size() && pulses[i + 1].t <= c) ++i;
    out.f0[k] = cfg.fs / pulses[i].period;
    out.fv[k] = mixed ? cfg.voicedcutoff : 0.5 * cfg.fs;
  }
  return e;
}

std::vector<double> unvoicedsegment(const Config& cfg, size_t idx, const SegmentBounds& b) {
  Rng nz = streamfor(cfg.seed, idx, kExcitationNoise);
  std::vector<double> e(b.end - b.start);
  for (double& v : e) v = nz.gauss();
  return e;
}

uint64_t fadelength(const Config& cfg, uint64_t L) {
  return std::min(static_cast<uint64_t>(std::llround(kFadeSeconds * cfg.fs)), L / 2);
}

// Raised-cosine fades at both ends, then the peak magnitude is scaled to the level.
void shapesegment(std::vector<double>& y, uint64_t fade, double level) {
  const size_t L = y.size();
  for (size_t n = 0; n < fade; ++n) {
    const double g = 0.5 - 0.5 * std::cos(kPi * (static_cast<double>(n) + 0.5) / static_cast<double>(fade));
    y[n] *= g;
    y[L - 1 - n] *= g;
  }
  double peak = 0.0;
  for (double v : y) peak = std::max(peak, std::fabs(v));
  if (peak > 0.0) {
    const double g = level / peak;
    for (double& v : y) v *= g;
  }
}

// Frames whose +-15 ms neighbourhood lies inside the unfaded part of one voiced segment.
void markstable(const Config& cfg, const SegmentBounds& b, uint64_t fade, Result& out) {
  const double H = kStableHalfSeconds * cfg.fs;
  const double first = static_cast<double>(b.start + fade);
  const double last = static_cast<double>(b.end) - 1.0 - static_cast<double>(fade);
  for (size_t k = 0; k < out.stable.size(); ++k) {
    const double c = static_cast<double>(k) * cfg.shift;
    if (c - H >= first && c + H <= last) out.stable[k] = 1;
  }
}

void addnoise(const Config& cfg, const std::vector<SegmentBounds>& bounds, Result& out) {
  if (cfg.noisesnr_db >= 1e9 || out.signal.empty()) return;
  double sum = 0.0;
  uint64_t count = 0;
  for (size_t i = 0; i < bounds.size(); ++i) {
    if (cfg.segments[i].kind != SegmentKind::Voiced) continue;
    for (uint64_t n = bounds[i].start; n < bounds[i].end; ++n) sum += out.signal[n] * out.signal[n];
    count += bounds[i].end - bounds[i].start;
  }
  if (count == 0) {  // no voiced stretch: relative to the whole signal
    for (double v : out.signal) sum += v * v;
    count = out.signal.size();
  }
  const double power = sum / static_cast<double>(count);
  if (!(power > 0.0)) return;
  const double sigma = std::sqrt(power * std::pow(10.0, -cfg.noisesnr_db / 10.0));
  Rng nz = streamfor(cfg.seed, 0, kAdditiveNoise);
  for (double& v : out.signal) v += sigma * nz.gauss();
}

}  // namespace

Result synthesize(const Config& cfg) {
  validate(cfg);
  const std::vector<SegmentBounds> bounds = segmentbounds(cfg);
  const uint64_t N = bounds.empty() ? 0 : bounds.back().end;
  const uint64_t F = (N == 0) ? 0 : (N - 1) / cfg.shift + 1;

  Result out;
  out.signal.assign(N, 0.0);
  out.f0.assign(F, 0.0);
  out.fv.assign(F, 0.0);
  out.stable.assign(F, 0);

  for (size_t i = 0; i < cfg.segments.size(); ++i) {
    const Segment& s = cfg.segments[i];
    const SegmentBounds& b = bounds[i];
    if (s.kind == SegmentKind::Silence || b.end == b.start) continue;
    std::vector<double> y =
        (s.kind == SegmentKind::Voiced) ? voicedsegment(cfg, i, b, out) : unvoicedsegment(cfg, i, b);
    const uint64_t fade = fadelength(cfg, y.size());
    shapesegment(y, fade, s.level);
    std::copy(y.begin(), y.end(), out.signal.begin() + static_cast<std::ptrdiff_t>(b.start));
    if (s.kind == SegmentKind::Voiced) markstable(cfg, b, fade, out);
  }
  addnoise(cfg, bounds, out);
  return out;
}

double envelopelog(const Config& cfg, double f) {
  validatefilter(cfg);
  require(finite(f), "frequency must be finite");
  const double w = 2.0 * kPi * f / cfg.fs;
  const double c1 = std::cos(w), s1 = std::sin(w);
  const double c2 = std::cos(2.0 * w), s2 = std::sin(2.0 * w);
  double lg = 0.0;
  for (const Formant& fm : cfg.formants) {
    const Resonator r = makeresonator(fm, cfg.fs);
    // |1 - a1 e^{-jw} - a2 e^{-2jw}|^2
    const double re = 1.0 - r.a1 * c1 - r.a2 * c2;
    const double im = r.a1 * s1 + r.a2 * s2;
    lg += std::log(std::fabs(r.b0)) - 0.5 * std::log(re * re + im * im);
  }
  lg += 0.5 * std::log(1.0 - 2.0 * kRadiation * c1 + kRadiation * kRadiation);
  return lg;
}

namespace {

void put16(std::vector<unsigned char>& b, uint32_t v) {
  b.push_back(static_cast<unsigned char>(v & 0xFFu));
  b.push_back(static_cast<unsigned char>((v >> 8) & 0xFFu));
}

void put32(std::vector<unsigned char>& b, uint32_t v) {
  put16(b, v & 0xFFFFu);
  put16(b, v >> 16);
}

void puttag(std::vector<unsigned char>& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(tag[i]));
}

int16_t quantise16(double x) {
  if (std::isnan(x)) return 0;
  double r = std::round(x * 32768.0);
  if (r > 32767.0) r = 32767.0;
  if (r < -32768.0) r = -32768.0;
  return static_cast<int16_t>(r);
}

}  // namespace

bool writewav16(const std::string& path, const std::vector<double>& x, double fs) {
  if (!(fs >= 1.0 && fs < 2147483648.0)) return false;
  if (x.size() > (0xFFFFFFFFull - 36u) / 2u) return false;
  const auto rate = static_cast<uint32_t>(std::llround(fs));
  const auto databytes = static_cast<uint32_t>(2u * x.size());

  std::vector<unsigned char> b;
  b.reserve(44 + static_cast<size_t>(databytes));
  puttag(b, "RIFF");
  put32(b, 36u + databytes);
  puttag(b, "WAVE");
  puttag(b, "fmt ");
  put32(b, 16);        // format chunk size
  put16(b, 1);         // integer PCM
  put16(b, 1);         // one channel
  put32(b, rate);
  put32(b, rate * 2u); // bytes per second
  put16(b, 2);         // bytes per sample frame
  put16(b, 16);        // bits per sample
  puttag(b, "data");
  put32(b, databytes);
  for (double v : x) put16(b, static_cast<uint16_t>(quantise16(v)));

  std::FILE* fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) return false;
  const bool wrote = std::fwrite(b.data(), 1, b.size(), fp) == b.size();
  const bool closed = std::fclose(fp) == 0;
  if (!(wrote && closed)) {
    std::remove(path.c_str());  // no truncated file left behind as if it were valid
    return false;
  }
  return true;
}

Config demoutterance() {
  Config c;
  auto silence = [](double sec) { return Segment{SegmentKind::Silence, sec, 0.0, 0.0, 0.0, 0.0}; };
  auto voiced = [](double sec, double a, double b, double jitter, double level) {
    return Segment{SegmentKind::Voiced, sec, a, b, jitter, level};
  };
  c.segments = {
      silence(0.25),
      voiced(0.50, 120.0, 120.0, 0.0, 0.5),  // steady vowel
      voiced(0.50, 100.0, 180.0, 0.0, 0.5),  // rising glide
      Segment{SegmentKind::Unvoiced, 0.25, 0.0, 0.0, 0.0, 0.12},  // fricative-like noise
      voiced(0.50, 220.0, 150.0, 0.01, 0.45),  // falling glide with 1 % jitter
      silence(0.20),
      voiced(0.50, 200.0, 200.0, 0.0, 0.4),  // steady vowel
      silence(0.25),
  };
  return c;
}

Config steadyvowel(double f0, double seconds) {
  Config c;
  c.segments = {Segment{SegmentKind::Voiced, seconds, f0, f0, 0.0, 0.5}};
  return c;
}

}  // namespace brisvane::synth
