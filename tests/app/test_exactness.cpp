// The command's fast arithmetic against its documented arithmetic: every setting is run
// both ways (brisvanemain with and without pipelineoptions::reference) on synthetic
// recordings and on the speech corpus, and the 32-bit output streams are compared.
//
// Required: the same voicing decision in every frame, the same chosen pitch candidate and
// maximum voiced frequency candidate (their values may differ at most in the last bit of
// the float), and every cepstral coefficient equal to float32 rounding: at most one unit in
// its last place, or (for coefficients far smaller than their frame's largest, whose
// rounding in 64 bits is relative to the frame's scale) within half a unit in the last
// place of the frame's largest coefficient.
//
// One exception, bounded and counted: the pitch tracker's fast autocorrelation may change
// the 64-bit f0 of a frame in its last bits (the 32-bit log-f0 stays the same), and a few
// frames amplify such a change in the envelope: where the highest harmonic lies a hair below
// the Nyquist frequency (its sine basis vector almost vanishes over the frame, so the fit of
// its amplitude is ill-conditioned) and where a harmonic falls within about 1e-6 of a bin.
// The demo utterance's steady 200 Hz vowel is such a case (40th harmonic 0.0004 Hz below
// 8 kHz): a relative change of 4e-16 in f0 moves its coefficients by up to 1e-5 of the
// frame's scale with the documented routines alone. Those values may differ by up to 2^-14
// of their frame's largest coefficient and must stay rare. The counts of values that differ
// are printed per setting.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/brisvane.h"
#include "io/wavm1616io.h"
#include "tools/synth/synthspeech.h"

namespace {

namespace fs = std::filesystem;

constexpr double kFs = 16000.0;
constexpr float kUnvoiced = -1e10f;

#ifdef BRISVANE_BOUNDS_CHECKS
// Checked builds run the documented path many times slower: short excerpts only.
constexpr double kCorpusSeconds = 1.0;
constexpr std::size_t kCorpusFiles = 1;
constexpr double kSyntheticSeconds = 0.6;
#else
constexpr double kCorpusSeconds = 1e9;  // whole recordings
constexpr std::size_t kCorpusFiles = 1000;
constexpr double kSyntheticSeconds = 1e9;
#endif

// Largest difference of a cepstral coefficient, relative to its frame's largest coefficient,
// allowed in the rare frames where the documented fit itself is ill-conditioned (see the file
// comment): 2^-14. Such values may make up at most 1 % of a stream.
constexpr double kConditioning = 6.103515625e-05;

struct Setting {
  const char* name;
  std::vector<std::string> params;
};

const std::vector<Setting>& settings() {
  static const std::vector<Setting> all = {
      {"default", {}},
      {"CCMETH=1", {"--CCMETH=1"}},
      {"CCMETH=2", {"--CCMETH=2"}},
      {"F0HR=1", {"--F0HR=1"}},
      {"F0ITREF=3", {"--F0ITREF=3"}},
  };
  return all;
}

// Differences found between the two runs of one stream.
struct Tally {
  std::size_t values = 0;
  std::size_t lastbit = 0;      // one unit in the last place
  std::size_t framescale = 0;   // more, but within the frame's float32 rounding
  std::size_t conditioned = 0;  // more, but within the envelope's conditioning (see below)
  double worst = 0.0;           // largest difference relative to the frame's scale
};

std::vector<float> readfloats(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> v(bytes.size() / sizeof(float));
  std::memcpy(v.data(), bytes.data(), v.size() * sizeof(float));
  return v;
}

// Distance in units in the last place between two finite floats of the same sign
// (the caller checks the signs).
int64_t ulpdistance(float a, float b) {
  int32_t ia = 0;
  int32_t ib = 0;
  std::memcpy(&ia, &a, sizeof ia);
  std::memcpy(&ib, &b, sizeof ib);
  return std::llabs(static_cast<int64_t>(ia) - static_cast<int64_t>(ib));
}

// f0 or fv stream: identical voicing, values at most one unit in the last place apart.
void comparetrack(const std::vector<float>& ref, const std::vector<float>& fast, bool logf0,
                  const std::string& what, Tally& t) {
  ASSERT_EQ(ref.size(), fast.size()) << what;
  for (std::size_t k = 0; k < ref.size(); ++k) {
    ++t.values;
    if (logf0) {
      ASSERT_EQ(ref[k] == kUnvoiced, fast[k] == kUnvoiced) << what << " voicing of frame " << k;
    } else {
      ASSERT_EQ(ref[k] == 0.0f, fast[k] == 0.0f) << what << " voicing of frame " << k;
    }
    if (ref[k] == fast[k]) continue;
    ASSERT_TRUE(std::isfinite(ref[k]) && std::isfinite(fast[k])) << what << " frame " << k;
    ASSERT_EQ(std::signbit(ref[k]), std::signbit(fast[k])) << what << " frame " << k;
    ASSERT_LE(ulpdistance(ref[k], fast[k]), 1) << what << " frame " << k << ": " << ref[k]
                                               << " vs " << fast[k];
    ++t.lastbit;
  }
}

// Cepstral stream of frames of order+1 coefficients.
void comparecepstra(const std::vector<float>& ref, const std::vector<float>& fast, uint32_t width,
                    const std::string& what, Tally& t) {
  ASSERT_EQ(ref.size(), fast.size()) << what;
  ASSERT_EQ(ref.size() % width, 0u) << what;
  for (std::size_t f = 0; f < ref.size(); f += width) {
    float scale = 0.0f;
    for (uint32_t m = 0; m < width; ++m) scale = std::max(scale, std::fabs(ref[f + m]));
    const float half = 0.5f * (std::nextafter(scale, INFINITY) - scale);
    for (uint32_t m = 0; m < width; ++m) {
      const float a = ref[f + m];
      const float b = fast[f + m];
      ++t.values;
      if (a == b) continue;
      ASSERT_TRUE(std::isfinite(a) && std::isfinite(b)) << what << " value " << f + m;
      if (std::signbit(a) == std::signbit(b) && ulpdistance(a, b) == 1) {
        ++t.lastbit;
        continue;
      }
      const double rel = std::fabs(static_cast<double>(a) - b) / scale;
      t.worst = std::max(t.worst, rel);
      if (std::fabs(a - b) <= half) {
        ++t.framescale;
        continue;
      }
      ASSERT_LE(rel, kConditioning)
          << what << " frame " << f / width << " coefficient " << m << ": " << a << " vs " << b;
      ++t.conditioned;
    }
  }
}

class Exactness : public ::testing::TestWithParam<std::size_t> {
 protected:
  static void SetUpTestSuite() {
    std::string tmpl = (fs::temp_directory_path() / "brisvane16-exact-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    writesynthetic();
    writecorpus();
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // The generator's demo utterance (silence, steady vowels, glides with jitter, noise), a
  // low voice with jitter and noise, a high voice with mixed excitation.
  static void writesynthetic() {
    using namespace brisvane::synth;
    std::vector<Config> configs;
    configs.push_back(demoutterance());
    Config low = steadyvowel(75.0, 1.0);
    low.segments[0].jitter = 0.02;
    low.segments[0].f0end = 95.0;
    low.noisesnr_db = 25.0;
    configs.push_back(low);
    Config high = steadyvowel(310.0, 0.8);
    high.voicedcutoff = 4000.0;
    high.seed = 7;
    configs.push_back(high);
    for (std::size_t i = 0; i < configs.size(); ++i) {
      const fs::path p = dir_ / ("synth" + std::to_string(i) + ".wav");
      std::vector<double> x = synthesize(configs[i]).signal;
      x.resize(static_cast<std::size_t>(std::min<double>(kSyntheticSeconds * kFs, x.size())));
      ASSERT_TRUE(writewav16(p.string(), x, kFs));
      synthetic_.push_back(p);
    }
  }

  // Corpus recordings (sorted), cut to kCorpusSeconds; none when the folder is absent.
  static void writecorpus() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(BRISVANE_CORPUS_DIR, ec)) {
      if (e.path().extension() == ".wav") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    if (files.size() > kCorpusFiles) files.resize(kCorpusFiles);
    for (const fs::path& f : files) {
      std::vector<double> x;
      if (brisvane::wavreadm1616(f.string().c_str(), x) == 0) continue;
      const auto keep = static_cast<std::size_t>(std::min<double>(kCorpusSeconds * kFs, x.size()));
      x.resize(keep);
      const fs::path p = dir_ / ("corpus_" + f.filename().string());
      ASSERT_TRUE(brisvane::synth::writewav16(p.string(), x, kFs));
      corpus_.push_back(p);
    }
  }

  // Runs the command on input with the setting's parameters; outputs named after tag.
  static void run(const fs::path& input, const Setting& s, bool reference, const std::string& tag) {
    std::vector<std::string> args = {"brisvane16", input.string(), (dir_ / (tag + ".f0")).string(),
                                     (dir_ / (tag + ".cc")).string(),
                                     (dir_ / (tag + ".fv")).string()};
    args.insert(args.end(), s.params.begin(), s.params.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    brisvane::pipelineoptions opt;
    opt.reference = reference;
    ASSERT_EQ(brisvane::brisvanemain(static_cast<int>(argv.size()), argv.data(), opt), 0);
  }

  static void compare(const std::vector<fs::path>& inputs, const Setting& s, const char* source) {
    Tally f0;
    Tally cc;
    Tally fv;
    for (const fs::path& in : inputs) {
      const std::string stem = in.stem().string();
      run(in, s, true, stem + ".ref");
      run(in, s, false, stem + ".fast");
      const std::string what = std::string(s.name) + " " + stem;
      auto load = [&](const char* tag, const char* ext) {
        return readfloats(dir_ / (stem + tag + ext));
      };
      const std::vector<float> f0ref = load(".ref", ".f0");
      ASSERT_FALSE(f0ref.empty()) << what;
      comparetrack(f0ref, load(".fast", ".f0"), true, what + " log-f0", f0);
      comparecepstra(load(".ref", ".cc"), load(".fast", ".cc"), 40, what + " cepstra", cc);
      comparetrack(load(".ref", ".fv"), load(".fast", ".fv"), false, what + " fv", fv);
    }
    EXPECT_LE(cc.conditioned, cc.values / 100) << s.name << " " << source;
    std::printf("[ exactness ] %-9s %-9s log-f0 %zu values, %zu last-bit | cepstra %zu values, "
                "%zu last-bit, %zu within frame rounding, %zu conditioned (worst %.3g) | fv %zu "
                "values, %zu last-bit\n",
                s.name, source, f0.values, f0.lastbit, cc.values, cc.lastbit, cc.framescale,
                cc.conditioned, cc.worst, fv.values, fv.lastbit);
  }

  static fs::path dir_;
  static std::vector<fs::path> synthetic_;
  static std::vector<fs::path> corpus_;
};

fs::path Exactness::dir_;
std::vector<fs::path> Exactness::synthetic_;
std::vector<fs::path> Exactness::corpus_;

TEST_P(Exactness, SyntheticRecordings) { compare(synthetic_, settings()[GetParam()], "synthetic"); }

TEST_P(Exactness, SpeechCorpus) {
  if (corpus_.empty()) GTEST_SKIP() << "no recordings in " << BRISVANE_CORPUS_DIR;
  compare(corpus_, settings()[GetParam()], "corpus");
}

INSTANTIATE_TEST_SUITE_P(EverySetting, Exactness, ::testing::Range<std::size_t>(0, 5),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           std::string n = settings()[info.param].name;
                           std::replace(n.begin(), n.end(), '=', '_');
                           return n;
                         });

// The fast path gives the same bytes on every run.
TEST(ExactnessRuns, RepeatedRunsWriteTheSameBytes) {
  std::string tmpl = (fs::temp_directory_path() / "brisvane16-repeat-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  const fs::path dir = tmpl;
  const fs::path wav = dir / "in.wav";
  ASSERT_TRUE(brisvane::synth::writewav16(
      wav.string(), brisvane::synth::synthesize(brisvane::synth::demoutterance()).signal, kFs));
  std::vector<std::vector<char>> outputs;
  for (int r = 0; r < 2; ++r) {
    const std::string t = std::to_string(r);
    std::vector<std::string> args = {"brisvane16", wav.string(), (dir / (t + ".f0")).string(),
                                     (dir / (t + ".cc")).string(), (dir / (t + ".fv")).string()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    ASSERT_EQ(brisvane::brisvanemain(static_cast<int>(argv.size()), argv.data()), 0);
    std::vector<char> all;
    for (const char* ext : {".f0", ".cc", ".fv"}) {
      std::ifstream in(dir / (t + ext), std::ios::binary);
      all.insert(all.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    outputs.push_back(all);
  }
  EXPECT_FALSE(outputs[0].empty());
  EXPECT_EQ(outputs[0], outputs[1]);
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
