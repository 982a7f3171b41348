// The whole per-file analysis, run through the command on generated files. The first 12
// bytes of the input choose the settings within the ranges the command accepts; the rest
// is the signal (raw 16-bit samples, or one period repeated, a square wave or a clipped
// ramp of up to 0.25 s) and, with F0LOAD, a loaded log-f0 track of arbitrary 32-bit
// values. An accepted run must print nothing, write streams of exactly the frame count,
// hold only finite values, and give 0 Hz maximum voiced frequency to every unvoiced frame;
// the command's fast routes and the documented arithmetic must agree on every voicing
// decision and on every value up to float rounding (FUZZ_COMPARE_ROUTES=0 in the
// environment skips that comparison, e.g. to fuzz for crashes past a known difference).
#include <algorithm>
#include <cmath>
#include <utility>

#include "app/brisvane.h"
#include "fuzzutil.h"

namespace {

constexpr size_t kHeader = 12;
constexpr uint32_t kMaxSamples = 4000;  // 0.25 s at 16 kHz
// Frame limits that keep one execution in the tens of milliseconds. A harmonic fit costs
// O(K^3) in its harmonic count K = fs/2 / f0 (about 0.7 s per frame at 25 Hz), so runs
// that fit harmonics (methods 0 and 1, refinement) get fewer frames and an f0 floor.
constexpr uint32_t kMaxFrames = 24;
constexpr uint32_t kMaxFitFrames = 3;
constexpr double kFitF0Floor = 80.0;

struct Settings {
  bool f0hr, fvalpha, f0load, withfv;
  int ccmeth;
  int32_t lframe, ccord, fftsize, f0itref, f0mref;
  double alpha, f0min, f0max;
  uint32_t nloaded;
};

// Whether the run fits harmonics to frames (the costly part of the analysis).
bool fits(const Settings& s) { return (s.ccmeth & 0xFF) != 2 || s.f0itref != 0; }

Settings decode(const uint8_t* h) {
  Settings s{};
  s.f0hr = h[0] & 1;
  s.fvalpha = h[0] & 2;
  s.f0load = h[0] & 4;
  s.withfv = !(h[0] & 8);
  static const int kMethods[4] = {0, 1, 2, 257};  // 257: low byte 1 selects the direct fit
  s.ccmeth = kMethods[(h[0] >> 4) & 3];
  s.lframe = 1 + static_cast<int32_t>((h[1] | (h[2] & 1) << 8) % 400);
  s.ccord = (h[2] >> 1) % 61;
  s.fftsize = 1 << (4 + h[3] % 9);
  s.alpha = (h[4] - 127.5) / 127.5 * 0.95;
  s.f0itref = h[8] % 6;
  s.f0mref = (h[8] / 6) % 3;
  s.f0min = (h[0] & 64) ? -static_cast<double>(h[5]) : 20.0 + (h[5] | h[6] << 8) % 381;
  if (fits(s) && s.f0min > 0.0 && s.f0min < kFitF0Floor) s.f0min = kFitF0Floor;
  const double f0max[16] = {-10.0, 0.0, s.f0min, s.f0min + 0.5, 300.0, 500.0, 1000.0, 2000.0,
                            4000.0, 7999.0, 8000.0, 16000.0, 40000.0, 1e9, 1e300, 2.0 * s.f0min};
  s.f0max = f0max[h[7] & 15];
  s.nloaded = (h[0] & 4) ? h[9] : 0;
  return s;
}

// 16-bit samples from the payload, by the mode in h[10]: raw, one period repeated, square
// wave (full scale) or clipped ramp; the length of the generated kinds comes from h[11].
std::vector<int16_t> makesignal(const uint8_t* h, const uint8_t* p, size_t n) {
  std::vector<int16_t> raw(n / 2);
  if (!raw.empty()) std::memcpy(raw.data(), p, 2 * raw.size());
  const uint32_t len = std::min<uint32_t>(kMaxSamples, 16u * (h[11] + 1u));
  std::vector<int16_t> x;
  switch (h[10] % 4) {
    case 0:
      raw.resize(std::min<size_t>(raw.size(), kMaxSamples));
      return raw;
    case 1:
      if (raw.empty()) raw.push_back(1000);
      for (uint32_t i = 0; i < len; ++i) x.push_back(raw[i % raw.size()]);
      return x;
    case 2: {
      const uint32_t period = 2 + (n > 0 ? p[0] : 0);
      for (uint32_t i = 0; i < len; ++i) x.push_back((i % period) < period / 2 ? 32767 : -32768);
      return x;
    }
    default: {
      const int32_t step = n > 1 ? static_cast<int16_t>(p[0] | p[1] << 8) : 300;
      for (uint32_t i = 0; i < len; ++i)
        x.push_back(static_cast<int16_t>(std::clamp<int64_t>(static_cast<int64_t>(step) * i, -32768, 32767)));
      return x;
    }
  }
}

std::vector<uint8_t> wavbytes(const std::vector<int16_t>& x) {
  std::vector<uint8_t> b;
  auto put = [&b](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const uint32_t d = static_cast<uint32_t>(2 * x.size());
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put(36 + d, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(16, 4);
  put(1, 2);
  put(1, 2);
  put(16000, 4);
  put(32000, 4);
  put(2, 2);
  put(16, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put(d, 4);
  for (int16_t v : x) put(static_cast<uint16_t>(v), 2);
  return b;
}

std::vector<float> floats(const std::vector<uint8_t>& bytes) {
  std::vector<float> v(bytes.size() / 4);
  if (!v.empty()) std::memcpy(v.data(), bytes.data(), 4 * v.size());
  return v;
}

std::string arg(const char* name, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "--%s=%.17g", name, v);
  return buf;
}
std::string arg(const char* name, int32_t v) { return "--" + std::string(name) + "=" + std::to_string(v); }

// Runs the command on dir/in.wav (and dir/in.lf0 with F0LOAD) writing the streams
// prefix.lf0, prefix.cc and prefix.fv; reference selects the documented arithmetic
// instead of the fast routes. Returns the result and what was printed.
std::pair<int, std::string> runcommand(const fuzzutil::ScratchDir& dir, const Settings& s, const std::string& prefix,
                                       bool reference) {
  std::vector<std::string> args = {"brisvane16", dir / "in.wav", dir / (s.f0load ? "in.lf0" : prefix + ".lf0"),
                                   dir / (prefix + ".cc")};
  if (s.withfv) args.push_back(dir / (prefix + ".fv"));
  args.push_back(arg("F0MIN", s.f0min));
  args.push_back(arg("F0MAX", s.f0max));
  args.push_back(arg("ALPHA", s.alpha));
  args.push_back(arg("FVALPHA", s.fvalpha ? 1.0 : 0.0));
  args.push_back(arg("LFRAME", s.lframe));
  args.push_back(arg("CCORD", s.ccord));
  args.push_back(arg("FFTSIZE", s.fftsize));
  args.push_back(arg("F0LOAD", s.f0load ? 1 : 0));
  args.push_back(arg("CCMETH", s.ccmeth));
  args.push_back(arg("F0ITREF", s.f0itref));
  args.push_back(arg("F0MREF", s.f0mref));
  args.push_back(arg("F0HR", s.f0hr ? 1 : 0));
  std::vector<std::vector<char>> store;
  std::vector<char*> argv;
  for (const auto& a : args) store.emplace_back(a.c_str(), a.c_str() + a.size() + 1);
  for (auto& st : store) argv.push_back(st.data());
  argv.push_back(nullptr);

  brisvane::pipelineoptions opt;
  opt.reference = reference;
  fuzzutil::StdoutCapture cap;
  const int rc = brisvane::brisvanemain(static_cast<int>(args.size()), argv.data(), opt);
  return {rc, cap.finish()};
}

// Whether two streams agree within a few units in the last place of a 32-bit float
// (relative to the larger magnitude in the frame): the fast routes differ from the
// documented arithmetic only in rounding.
bool closestreams(const std::vector<float>& a, const std::vector<float>& b, size_t frame, size_t& bad) {
  if (a.size() != b.size()) return false;
  for (size_t f = 0; f < a.size(); f += frame) {
    float scale = 0.0f;
    for (size_t i = f; i < f + frame; ++i) scale = std::max({scale, std::fabs(a[i]), std::fabs(b[i])});
    for (size_t i = f; i < f + frame; ++i) {
      if (!(std::fabs(a[i] - b[i]) <= 1e-5f * scale)) {
        bad = i;
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzutil::ScratchDir dir;
  if (size < kHeader) return 0;
  Settings s = decode(data);
  const uint8_t* payload = data + kHeader;
  size_t rest = size - kHeader;

  // The loaded track takes the first 4*nloaded payload bytes (as far as present).
  std::vector<uint8_t> lf0(payload, payload + std::min<size_t>(rest, 4u * s.nloaded));
  lf0.resize(lf0.size() / 4 * 4);
  if (fits(s)) {
    // Loaded f0 between 20 Hz and the fit floor is raised to the floor (see kFitF0Floor).
    const float lo = std::log(20.0f), floor = std::log(static_cast<float>(kFitF0Floor));
    for (size_t i = 0; i < lf0.size(); i += 4) {
      float v;
      std::memcpy(&v, lf0.data() + i, 4);
      if (v >= lo && v < floor) std::memcpy(lf0.data() + i, &floor, 4);
    }
  }
  payload += lf0.size();
  rest -= lf0.size();
  const std::vector<int16_t> x = makesignal(data, payload, rest);
  if (x.empty()) return 0;
  const uint32_t N = static_cast<uint32_t>(x.size());
  // Frame shifts that would give more than kMaxFrames frames are raised: the analysis cost
  // grows with the frame count, not with any rare path.
  const uint32_t maxframes = fits(s) ? kMaxFitFrames : kMaxFrames;
  s.lframe = std::max<int32_t>(s.lframe, static_cast<int32_t>((N + maxframes - 1) / maxframes));

  dir.clear();
  fuzzutil::writefile(dir / "in.wav", wavbytes(x));
  if (s.f0load) fuzzutil::writefile(dir / "in.lf0", lf0);

  const auto [rc, out] = runcommand(dir, s, "o", false);
  // Refinement needs a positive floor; everything else drawn here is accepted.
  const bool refused = s.f0itref != 0 && !(s.f0min > 0.0);
  FUZZ_CHECK(rc == (refused ? -1 : 0), "result %d (F0MIN %g, F0ITREF %d)", rc, s.f0min, s.f0itref);
  if (refused) {
    FUZZ_CHECK(out.rfind("Error: ", 0) == 0, "refusal printed \"%s\"", out.c_str());
    return 0;
  }
  FUZZ_CHECK(out.empty(), "accepted run printed \"%s\"", out.c_str());

  uint32_t F = (N - 1) / static_cast<uint32_t>(s.lframe) + 1;
  const std::vector<float> loaded = floats(lf0);
  const bool useloaded = s.f0load && !loaded.empty();
  if (useloaded) F = std::min<uint32_t>(F, static_cast<uint32_t>(loaded.size()));

  // f0 of each frame as the analysis saw it: the written track, or the loaded one with
  // values outside [20, 8000) Hz (or not finite) taken as unvoiced.
  std::vector<double> f0(F, 0.0);
  std::vector<float> fastlf;
  if (useloaded) {
    FUZZ_CHECK(fuzzutil::readfile(dir / "in.lf0") == lf0, "loaded log-f0 file was changed");
    for (uint32_t k = 0; k < F; ++k) {
      const double v = loaded[k] > -1e10 ? std::exp(static_cast<double>(loaded[k])) : 0.0;
      f0[k] = (std::isfinite(v) && v >= 20.0 && v < 8000.0) ? v : 0.0;
    }
  } else {
    fastlf = floats(fuzzutil::readfile(dir / (s.f0load ? "in.lf0" : "o.lf0")));
    const std::vector<float>& lf = fastlf;
    FUZZ_CHECK(lf.size() == F, "log-f0 stream holds %zu values for %u frames", lf.size(), F);
    for (uint32_t k = 0; k < F; ++k) {
      FUZZ_CHECK(std::isfinite(lf[k]), "log-f0 of frame %u is %g", k, static_cast<double>(lf[k]));
      if (lf[k] != -1e10f) f0[k] = std::exp(static_cast<double>(lf[k]));
    }
  }
  const std::vector<float> cc = floats(fuzzutil::readfile(dir / "o.cc"));
  const size_t order1 = static_cast<size_t>(s.ccord) + 1;
  FUZZ_CHECK(cc.size() == F * order1, "cepstral stream holds %zu values for %u frames of %zu", cc.size(), F,
             order1);
  for (size_t i = 0; i < cc.size(); ++i)
    FUZZ_CHECK(std::isfinite(cc[i]), "cepstral value %zu of frame %zu is %g (f0 %g)", i % order1, i / order1,
               static_cast<double>(cc[i]), f0[i / order1]);
  if (s.withfv) {
    const std::vector<float> fv = floats(fuzzutil::readfile(dir / "o.fv"));
    FUZZ_CHECK(fv.size() == F, "voicing stream holds %zu values for %u frames", fv.size(), F);
    for (uint32_t k = 0; k < F; ++k) {
      FUZZ_CHECK(std::isfinite(fv[k]) && fv[k] >= 0.0f && fv[k] <= 8000.0f, "fv of frame %u is %g", k,
                 static_cast<double>(fv[k]));
      if (f0[k] == 0.0) FUZZ_CHECK(fv[k] == 0.0f, "unvoiced frame %u has fv %g", k, static_cast<double>(fv[k]));
    }
  }
  FUZZ_CHECK(fuzzutil::listdir(dir.path()).size() == (s.withfv ? 4u : 3u), "unexpected files in the output folder");

  // The documented arithmetic must give the same voicing decisions and the same values up
  // to float rounding. A loaded track that was empty has meanwhile received the estimate:
  // restore it so that both runs start from the same files.
  static const bool compare = [] {
    const char* v = std::getenv("FUZZ_COMPARE_ROUTES");
    return v == nullptr || std::strcmp(v, "0") != 0;
  }();
  if (!compare) return 0;
  if (s.f0load) fuzzutil::writefile(dir / "in.lf0", lf0);
  const auto [rrc, rout] = runcommand(dir, s, "r", true);
  FUZZ_CHECK(rrc == 0 && rout.empty(), "documented route: result %d, printed \"%s\"", rrc, rout.c_str());
  size_t bad = 0;
  if (!useloaded) {
    const std::vector<float> reff0 = floats(fuzzutil::readfile(dir / (s.f0load ? "in.lf0" : "r.lf0")));
    FUZZ_CHECK(reff0.size() == F, "documented route wrote %zu log-f0 values for %u frames", reff0.size(), F);
    for (uint32_t k = 0; k < F; ++k) {
      FUZZ_CHECK((fastlf[k] == -1e10f) == (reff0[k] == -1e10f), "frame %u voiced in one route only", k);
      FUZZ_CHECK(std::fabs(fastlf[k] - reff0[k]) <= 1e-5f * std::fabs(reff0[k]), "log-f0 of frame %u: %.9g vs %.9g",
                 k, static_cast<double>(fastlf[k]), static_cast<double>(reff0[k]));
    }
  }
  const std::vector<float> rcc = floats(fuzzutil::readfile(dir / "r.cc"));
  FUZZ_CHECK(closestreams(cc, rcc, order1, bad),
             "cepstral value %zu of frame %zu (f0 %g): fast %.9g, documented %.9g", bad % order1, bad / order1,
             f0[bad / order1], static_cast<double>(cc[bad]), static_cast<double>(rcc[bad]));
  if (s.withfv) {
    const std::vector<float> fv = floats(fuzzutil::readfile(dir / "o.fv"));
    const std::vector<float> rfv = floats(fuzzutil::readfile(dir / "r.fv"));
    FUZZ_CHECK(closestreams(fv, rfv, 1, bad), "fv of frame %zu (f0 %g): fast %.9g, documented %.9g", bad, f0[bad],
               static_cast<double>(fv[bad]), static_cast<double>(rfv[bad]));
  }
  return 0;
}
