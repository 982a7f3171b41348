// Hostile input for the brisvane16 command, end to end: broken and unusual WAV files,
// devices and directories in place of files, outputs that cannot be created, settings at
// and beyond their accepted limits, degenerate signals and broken batches. Each case runs
// the built executable in a fresh directory and checks the message, the exit status,
// that every output is either absent, complete or (when the run refused) left as it was,
// and that every value written is finite.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* kBinary = BRISVANE_BINARY_DIR "/brisvane16";

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

struct Outcome {
  int status = -1;  // exit status; -1 when killed (e.g. by the time limit)
  std::string out;
};

// Layout of a generated WAV file; the defaults give the one accepted format.
struct WavLayout {
  uint16_t format = 1;
  uint16_t channels = 1;
  uint32_t rate = 16000;
  uint16_t bits = 16;
  uint32_t fmtsize = 16;
  std::string between;             // chunk bytes between the format and data chunks
  int64_t datasize = -1;           // declared data size; -1: the true size
  int64_t cut = -1;                // keep only this many bytes of the file; -1: all
};

std::string le(uint32_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

std::string wavbytes(const std::vector<int16_t>& x, const WavLayout& w = {}) {
  std::string data;
  for (int16_t v : x) data += le(static_cast<uint16_t>(v), 2);
  std::string fmt = le(w.format, 2) + le(w.channels, 2) + le(w.rate, 4) + le(w.rate * w.channels * w.bits / 8, 4) +
                    le(w.channels * w.bits / 8, 2) + le(w.bits, 2);
  // Small declared sizes are honoured byte for byte (a short chunk is cut, an extension
  // padded); a huge declared size is only declared.
  if (w.fmtsize <= 64) fmt.resize(w.fmtsize, '\0');
  const uint32_t declared = w.datasize < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(w.datasize);
  std::string body = "WAVEfmt " + le(w.fmtsize, 4) + fmt + w.between + "data" + le(declared, 4) + data;
  std::string file = "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
  if (w.cut >= 0) file.resize(static_cast<size_t>(w.cut));
  return file;
}

// Test signals, 16-bit.
std::vector<int16_t> tone(uint32_t n, double f0 = 150.0, double amp = 12000.0) {
  std::vector<int16_t> x(n);
  for (uint32_t i = 0; i < n; ++i) {
    double v = 0.0;
    for (int h = 1; h * f0 < 7000.0; ++h) v += std::sin(6.283185307179586 * h * f0 * i / 16000.0) / h;
    x[i] = static_cast<int16_t>(std::lround(amp * 0.5 * v));
  }
  return x;
}
std::vector<int16_t> square(uint32_t n, uint32_t period) {
  std::vector<int16_t> x(n);
  for (uint32_t i = 0; i < n; ++i) x[i] = (i % period) < period / 2 ? 32767 : -32768;
  return x;
}
std::vector<int16_t> noise(uint32_t n, uint32_t seed) {
  std::vector<int16_t> x(n);
  uint32_t s = seed;
  for (auto& v : x) {
    s = s * 1664525u + 1013904223u;
    v = static_cast<int16_t>(s >> 16);
  }
  return x;
}
std::vector<int16_t> clipped(uint32_t n) {
  std::vector<int16_t> x = tone(n, 120.0, 1.0);
  for (uint32_t i = 0; i < n; ++i) {
    const double v = 200000.0 * std::sin(6.283185307179586 * 120.0 * i / 16000.0);
    x[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
  }
  return x;
}

uint32_t frames(uint32_t n, uint32_t shift = 80) { return (n - 1) / shift + 1; }

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "brisvane16-hostile-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    dir_ = root_ / "work";
    fs::create_directory(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  fs::path path(const std::string& name) const { return dir_ / name; }

  // Runs the command in the case directory with a time limit (an endless read or loop
  // shows up as a killed run). Arguments are single-quoted; shell is prepended as is.
  Outcome run(const std::vector<std::string>& args, const std::string& shell = "", int seconds = 120) const {
    std::string cmd = "cd '" + dir_.string() + "' && " + shell + " timeout -s KILL " + std::to_string(seconds) +
                      " '" + kBinary + "'";
    for (const auto& a : args) cmd += " '" + a + "'";
    cmd += " >'" + (root_ / "stdout.txt").string() + "' 2>'" + (root_ / "stderr.txt").string() + "'";
    const int ws = std::system(cmd.c_str());
    Outcome r;
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    if (r.status == 137) r.status = -1;
    r.out = readfile(root_ / "stdout.txt");
    EXPECT_EQ(readfile(root_ / "stderr.txt"), "") << "nothing may go to standard error";
    return r;
  }

  static std::string readfile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  static void writefile(const fs::path& p, const std::string& bytes) {
    std::ofstream f(p, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  void wav(const std::string& name, const std::vector<int16_t>& x, const WavLayout& w = {}) const {
    writefile(path(name), wavbytes(x, w));
  }

  // A complete stream of count finite 32-bit values; returns them.
  std::vector<float> stream(const std::string& name, size_t count) const {
    const std::string bytes = readfile(path(name));
    EXPECT_EQ(bytes.size(), 4 * count) << name;
    std::vector<float> v(bytes.size() / 4);
    if (!v.empty()) std::memcpy(v.data(), bytes.data(), 4 * v.size());
    for (size_t i = 0; i < v.size(); ++i) {
      EXPECT_TRUE(std::isfinite(v[i])) << name << " value " << i;
      if (!std::isfinite(v[i])) break;
    }
    return v;
  }

  // The three (or four) outputs of a run over n samples, all complete and finite; the
  // voicing frequency is 0 on every unvoiced frame and never above 8 kHz.
  void outputs(uint32_t F, uint32_t order = 39, bool withfv = true, const std::string& f0 = "o.lf0") const {
    const std::vector<float> lf0 = stream(f0, F);
    stream("o.cc", static_cast<size_t>(F) * (order + 1));
    if (!withfv) {
      EXPECT_FALSE(fs::exists(path("o.fv")));
      return;
    }
    const std::vector<float> fv = stream("o.fv", F);
    for (size_t k = 0; k < fv.size() && k < lf0.size(); ++k) {
      EXPECT_TRUE(fv[k] >= 0.0f && fv[k] <= 8000.0f) << "frame " << k << ": " << fv[k];
      if (lf0[k] == -1e10f) {
        EXPECT_EQ(fv[k], 0.0f) << "unvoiced frame " << k;
      }
    }
  }

  // Nothing but the listed names in the case directory (no leftovers of aborted writes).
  void onlyfiles(std::vector<std::string> names) const {
    std::vector<std::string> have;
    for (const auto& e : fs::directory_iterator(dir_)) have.push_back(e.path().filename().string());
    std::sort(have.begin(), have.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(have, names);
  }

  fs::path root_, dir_;
};

const std::vector<std::string> kOuts = {"o.lf0", "o.cc", "o.fv"};

std::vector<std::string> cmd(const std::string& in, std::vector<std::string> params = {}) {
  std::vector<std::string> a = {in, "o.lf0", "o.cc", "o.fv"};
  a.insert(a.end(), params.begin(), params.end());
  return a;
}

// ---- broken recordings ----------------------------------------------------------

TEST_F(Hostile, RejectedRecordingsAreReportedAndWriteNothing) {
  const std::vector<int16_t> x = tone(400);
  struct Case {
    const char* what;
    std::string bytes;
  };
  WavLayout stereo, bits8, rate44, flt, tiny, list, zero, one, shortfmt, hugefmt;
  stereo.channels = 2;
  bits8.bits = 8;
  rate44.rate = 44100;
  flt.format = 3;
  flt.bits = 32;
  list.between = "LIST" + le(4, 4) + "INFO";
  zero.datasize = 0;
  one.datasize = 1;
  shortfmt.fmtsize = 12;
  hugefmt.fmtsize = 0xFFFFFFF0u;
  std::vector<Case> cases = {
      {"empty file", ""},
      {"RIFF only", "RIFF"},
      {"cut in the format chunk", wavbytes(x).substr(0, 30)},
      {"cut before the data size", wavbytes(x).substr(0, 42)},
      {"header only, no sample", wavbytes({})},
      {"stereo", wavbytes(x, stereo)},
      {"8 bit", wavbytes(x, bits8)},
      {"44.1 kHz", wavbytes(x, rate44)},
      {"float samples", wavbytes(x, flt)},
      {"LIST before data", wavbytes(x, list)},
      {"zero-length data", wavbytes(x, zero)},
      {"one-byte data", wavbytes(x, one)},
      {"format chunk of 12 bytes", wavbytes(x, shortfmt)},
      {"format chunk size near 4 GiB", wavbytes(x, hugefmt)},
      {"text file", "this is not a recording\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    writefile(path("in.wav"), c.bytes);
    const Outcome r = run(cmd("in.wav"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Error: could not open in.wav.\n");
    onlyfiles({"in.wav"});
  }
}

TEST_F(Hostile, ShortOrOverdeclaredDataYieldsTheSamplesPresent) {
  // Declared far beyond the file (the all-ones placeholder of streaming recorders), or
  // cut inside the sample data: the whole samples present are analysed.
  WavLayout placeholder;
  placeholder.datasize = 0xFFFFFFFFu;
  wav("in.wav", tone(800), placeholder);
  Outcome r = run(cmd("in.wav"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  outputs(frames(800));

  WavLayout cut;
  cut.cut = 44 + 2 * 500 + 1;  // 500 whole samples and one odd byte
  wav("in.wav", tone(800), cut);
  r = run(cmd("in.wav"));
  EXPECT_EQ(r.out, "");
  outputs(frames(500));

  WavLayout ext;  // 18-byte format chunk with an extension size field
  ext.fmtsize = 18;
  wav("in.wav", tone(240), ext);
  r = run(cmd("in.wav"));
  EXPECT_EQ(r.out, "");
  outputs(frames(240));
}

TEST_F(Hostile, DirectoriesAndDevicesAsInputDoNotHang) {
  fs::create_directory(path("folder.wav"));
  for (const std::string in : {"folder.wav", "/dev/null", "/dev/zero", "missing.wav"}) {
    SCOPED_TRACE(in);
    const Outcome r = run(cmd(in), "", 60);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Error: could not open " + in + ".\n");
    onlyfiles({"folder.wav"});
  }
}

// ---- outputs that cannot be written -----------------------------------------------

TEST_F(Hostile, UncreatableOutputsAreReportedAndTheOthersWritten) {
  wav("in.wav", tone(800));
  fs::create_directory(path("dir.cc"));
  const Outcome r = run({"in.wav", "missing/o.lf0", "dir.cc", "o.fv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Error: could not create missing/o.lf0.\nError: could not create dir.cc.\n");
  EXPECT_TRUE(fs::is_empty(path("dir.cc")));
  stream("o.fv", frames(800));
  onlyfiles({"in.wav", "dir.cc", "o.fv"});

  // A folder as the track to load: nothing is loaded, the estimate cannot be written there.
  const Outcome folder = run({"in.wav", "dir.cc", "o.cc", "--F0LOAD=1"});
  EXPECT_EQ(folder.out, "Error: could not create dir.cc.\n");
  stream("o.cc", frames(800) * 40);

  // A device that refuses every byte: the failure is reported, not taken for success.
  const Outcome full = run({"in.wav", "o.lf0", "/dev/full", "o.fv"});
  EXPECT_EQ(full.out, "Error: could not create /dev/full.\n");
  stream("o.lf0", frames(800));
}

TEST_F(Hostile, RefusedRunsLeaveOldOutputsIntact) {
  wav("in.wav", tone(800));
  for (const auto& name : kOuts) writefile(path(name), "old!");
  const std::vector<std::vector<std::string>> refused = {
      {"--LFRAME=0"},       {"--LFRAME=-80"},     {"--CCORD=-1"},       {"--CCORD=1001"},
      {"--FFTSIZE=0"},      {"--FFTSIZE=1000"},   {"--FFTSIZE=131072"}, {"--FFTSIZE=-1024"},
      {"--ALPHA=1"},        {"--ALPHA=-1"},       {"--ALPHA=nan"},      {"--ALPHA=inf"},
      {"--F0MIN=nan"},      {"--F0MIN=-inf"},     {"--F0MAX=inf"},      {"--F0MAX=nan"},
      {"--F0MIN=2286"},     {"--F0MIN=19.9"},     {"--F0MIN=1e-300"},   {"--F0ITREF=-1"},
      {"--F0MIN=0", "--F0ITREF=1"},               {"--F0MIN=-60", "--F0ITREF=3"},
  };
  for (const auto& p : refused) {
    SCOPED_TRACE(p[0] + (p.size() > 1 ? " " + p[1] : ""));
    const Outcome r = run(cmd("in.wav", p));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("Error: ", 0), 0u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    for (const auto& name : kOuts) EXPECT_EQ(readfile(path(name)), "old!") << name;
  }
  // An input that cannot be read leaves the old outputs as well.
  EXPECT_EQ(run(cmd("missing.wav")).out, "Error: could not open missing.wav.\n");
  for (const auto& name : kOuts) EXPECT_EQ(readfile(path(name)), "old!") << name;
  onlyfiles({"in.wav", "o.lf0", "o.cc", "o.fv"});
}

// ---- accepted settings at their limits ---------------------------------------------

TEST_F(Hostile, ExtremeAcceptedSettingsGiveCompleteFiniteOutputs) {
  // Short signals keep the costly corners fast: a 1-sample shift makes a frame per sample,
  // and f0 near 20 Hz makes every harmonic fit one of ~400 harmonics.
  struct Case {
    std::vector<std::string> params;
    uint32_t n, shift, order;
  };
  const std::vector<Case> cases = {
      {{"--LFRAME=1", "--CCORD=4"}, 200, 1, 4},
      {{"--LFRAME=2147483647"}, 1600, 2147483647u, 39},
      {{"--CCORD=0"}, 1600, 80, 0},
      {{"--CCORD=1000", "--LFRAME=800"}, 1600, 800, 1000},
      {{"--CCORD=1000", "--FFTSIZE=16", "--LFRAME=800"}, 1600, 800, 1000},
      {{"--CCORD=1000", "--FFTSIZE=16", "--CCMETH=2", "--LFRAME=800"}, 1600, 800, 1000},
      {{"--CCORD=1000", "--FFTSIZE=16", "--CCMETH=1", "--LFRAME=800"}, 1600, 800, 1000},
      {{"--FFTSIZE=1"}, 1600, 80, 39},
      {{"--FFTSIZE=65536", "--LFRAME=400"}, 1600, 400, 39},
      {{"--ALPHA=0.99", "--FVALPHA=1"}, 1600, 80, 39},
      {{"--ALPHA=-0.99", "--FVALPHA=nan"}, 1600, 80, 39},
      {{"--F0MIN=20", "--F0MAX=30", "--LFRAME=800"}, 1600, 800, 39},
      {{"--F0MIN=2285", "--F0MAX=1e300"}, 1600, 80, 39},
      {{"--F0MIN=0", "--F0MAX=-5"}, 1600, 80, 39},
      {{"--F0MIN=-1e300", "--F0MAX=1e-300", "--F0HR=1"}, 1600, 80, 39},
      {{"--F0MIN=20", "--F0MAX=8000", "--F0ITREF=5", "--F0MREF=2"}, 1600, 80, 39},
      {{"--F0MIN=2285", "--F0MAX=2286", "--F0ITREF=2", "--F0MREF=1"}, 1600, 80, 39},
      {{"--CCMETH=1", "--CCORD=60", "--F0MIN=20"}, 1600, 80, 60},
      {{"--CCMETH=2", "--FFTSIZE=16", "--F0MIN=20"}, 1600, 80, 39},
      {{"--CCMETH=-255", "--F0MREF=-2147483648"}, 1600, 80, 39},
  };
  for (const auto& c : cases) {
    std::string label;
    for (const auto& p : c.params) label += p + " ";
    SCOPED_TRACE(label);
    for (const auto& name : kOuts) fs::remove(path(name));
    wav("in.wav", tone(c.n, 180.0));
    const Outcome r = run(cmd("in.wav", c.params));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    outputs(frames(c.n, c.shift), c.order);
  }
}

// ---- degenerate signals ------------------------------------------------------------

TEST_F(Hostile, DegenerateSignalsGiveCompleteFiniteOutputs) {
  struct Case {
    const char* what;
    std::vector<int16_t> x;
  };
  const std::vector<Case> cases = {
      {"one sample", {12345}},
      {"two samples", {-32768, 32767}},
      {"80 samples", tone(80)},
      {"81 samples", tone(81)},
      {"silence", std::vector<int16_t>(1600, 0)},
      {"DC at full scale", std::vector<int16_t>(1600, 32767)},
      {"DC at negative full scale", std::vector<int16_t>(1600, -32768)},
      {"square wave, 100 Hz", square(1600, 160)},
      {"square wave, Nyquist", square(1600, 2)},
      {"clipped tone", clipped(1600)},
      {"random noise", noise(1600, 7)},
      {"single click", [] {
         std::vector<int16_t> v(1600, 0);
         v[800] = 32767;
         return v;
       }()},
  };
  const std::vector<std::vector<std::string>> settings = {
      {},
      {"--CCMETH=1", "--F0HR=1"},
      {"--CCMETH=2", "--F0ITREF=2", "--FVALPHA=1"},
      {"--F0MIN=20", "--F0MAX=2000", "--F0ITREF=1", "--F0MREF=1", "--CCMETH=1"},
  };
  for (const auto& c : cases) {
    wav("in.wav", c.x);
    for (const auto& p : settings) {
      SCOPED_TRACE(std::string(c.what) + (p.empty() ? "" : " " + p[0]));
      for (const auto& name : kOuts) fs::remove(path(name));
      const Outcome r = run(cmd("in.wav", p));
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, "");
      outputs(frames(static_cast<uint32_t>(c.x.size())));
    }
  }
}

// ---- loaded f0 tracks --------------------------------------------------------------

TEST_F(Hostile, LoadedF0WithUnusableValuesCountsThemUnvoiced) {
  const uint32_t n = 1600;  // 20 frames
  wav("in.wav", tone(n, 150.0));
  const float nan = std::nanf("");
  const float inf = INFINITY;
  // log-f0 values: NaN, +-inf, 1 Hz, 19.9 Hz, 8001 Hz, 1e30 Hz (overflows), marker, below
  // it, and usable 150 Hz frames; two trailing bytes ignored.
  const std::vector<float> track = {nan,          inf,          -inf,         0.0f,          std::log(19.9f),
                                    std::log(8001.0f), 69.0f,  -1e10f,       -3e38f,        std::log(150.0f),
                                    std::log(150.0f), std::log(7999.0f), std::log(20.0f), std::log(150.0f)};
  std::string bytes(4 * track.size(), '\0');
  std::memcpy(bytes.data(), track.data(), bytes.size());
  bytes += "xy";
  writefile(path("in.lf0"), bytes);
  for (const auto& p : std::vector<std::vector<std::string>>{{}, {"--CCMETH=1"}, {"--CCMETH=2", "--FVALPHA=1"}}) {
    SCOPED_TRACE(p.empty() ? "method 0" : p[0]);
    std::vector<std::string> args = {"in.wav", "in.lf0", "o.cc", "o.fv", "--F0LOAD=1"};
    args.insert(args.end(), p.begin(), p.end());
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readfile(path("in.lf0")), bytes) << "a loaded track is never rewritten";
    stream("o.cc", track.size() * 40);  // the shorter loaded track decides the frame count
    const std::vector<float> fv = stream("o.fv", track.size());
    for (size_t k = 0; k < 9 && k < fv.size(); ++k) {
      EXPECT_EQ(fv[k], 0.0f) << "frame " << k << " is unvoiced";
    }
  }
}

TEST_F(Hostile, EndlessDeviceAsLoadedF0DoesNotExhaustMemory) {
  // /dev/zero never ends: reading it as a log-f0 track must stop at a bounded size (or
  // refuse the device) instead of filling memory; the run completes in seconds.
  wav("in.wav", tone(800));
  // The limits only keep a faulty reader from taking the machine down with it.
  const std::string limit = kAddressSanitizer ? "ASAN_OPTIONS=\"$ASAN_OPTIONS:max_allocation_size_mb=1024\""
                                              : "ulimit -v 4000000 &&";
  const Outcome r = run({"in.wav", "/dev/zero", "o.cc", "o.fv", "--F0LOAD=1"}, limit, 60);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("Error: not enough memory"), std::string::npos) << r.out;
  stream("o.cc", static_cast<size_t>(frames(800)) * 40);
  stream("o.fv", frames(800));
}

// ---- batches -----------------------------------------------------------------------

TEST_F(Hostile, BatchGoesOnPastBrokenFiles) {
  wav("in1.wav", tone(400));
  writefile(path("in2.wav"), "RIFF");  // broken
  // in3.wav missing
  wav("in4.wav", square(300, 100));
  WavLayout stereo;
  stereo.channels = 2;
  wav("in5.wav", tone(400), stereo);
  wav("in6.wav", {1});
  const Outcome r = run({"in?.wav", "o?.lf0", "o?.cc", "o?.fv", "--INDLIST=1-6"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "in1.wav\nin2.wav\nError: could not open in2.wav.\nin3.wav\nError: could not open in3.wav.\n"
            "in4.wav\nin5.wav\nError: could not open in5.wav.\nin6.wav\n");
  for (const auto& [i, n] : std::vector<std::pair<int, uint32_t>>{{1, 400}, {4, 300}, {6, 1}}) {
    const std::string s = std::to_string(i);
    stream("o" + s + ".lf0", frames(n));
    stream("o" + s + ".cc", frames(n) * 40);
    stream("o" + s + ".fv", frames(n));
  }
  onlyfiles({"in1.wav", "in2.wav", "in4.wav", "in5.wav", "in6.wav", "o1.lf0", "o1.cc", "o1.fv", "o4.lf0",
             "o4.cc", "o4.fv", "o6.lf0", "o6.cc", "o6.fv"});
}

TEST_F(Hostile, BatchNamesThatCannotTakeEveryIndexRefuseTheRun) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"in?.wav", "o.logf", "o?.cc", "--INDLIST=1"}, "Error: file name o.logf has no index field.\n"},
      {{"in?.wav", "o?.lf0", "o?.cc", "out/x.fv", "--INDLIST=1-3"}, "Error: file name out/x.fv has no index field.\n"},
      {{"in?.wav", "o?.lf0", "o?.cc", "--INDLIST=1,10"}, "Error: index 10 does not fit the index field of in?.wav.\n"},
      {{"in?.wav", "o?.lf0", "o?.cc", "--INDLIST=1-4294967296"}, "Error: bad formatted INDLIST.\n"},
      {{"in?.wav", "o?.lf0", "o?.cc", "--INDLIST=99999999999"}, "Error: bad formatted INDLIST.\n"},
      {{"in?.wav", "o?.lf0", "o?.cc", "--INDLIST=1-3(x)"}, "Error: bad formatted INDLIST.\n"},
      {{"in?.wav", "o?.lf0", "o?.cc", "--INDLIST= 1"}, "Error: bad formatted INDLIST.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    wav("in1.wav", tone(400));
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, c.message);
    onlyfiles({"in1.wav"});
  }
}

// ---- memory ------------------------------------------------------------------------

TEST_F(Hostile, RecordingLargerThanMemoryFailsWithAMessageAndTheBatchGoesOn) {
  if (kAddressSanitizer) GTEST_SKIP() << "address-space limits do not apply under AddressSanitizer";
  // 10 minutes of audio (19.2 MB) against a 64 MB address-space limit: the first file
  // cannot be analysed, the second (0.1 s) still is.
  std::vector<int16_t> big = noise(9600000, 3);
  wav("in1.wav", big);
  wav("in2.wav", tone(1600));
  const Outcome r = run({"in?.wav", "o?.lf0", "o?.cc", "--INDLIST=1-2"}, "ulimit -v 64000 &&");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "in1.wav\nError: not enough memory to analyse in1.wav.\nin2.wav\n");
  EXPECT_FALSE(fs::exists(path("o1.lf0")));
  EXPECT_FALSE(fs::exists(path("o1.cc")));
  stream("o2.lf0", frames(1600));
  stream("o2.cc", frames(1600) * 40);
}

}  // namespace
