// End-to-end tests of the brisvane16 command: the built executable is run in a fresh
// temporary directory on short generated recordings, and its standard output, exit
// status and output files are checked.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char* kBinary = BRISVANE_BINARY_DIR "/brisvane16";
constexpr uint32_t kSamples = 8000;                       // 0.5 s at 16 kHz
constexpr uint32_t kFrames = (kSamples - 1) / 80 + 1;     // default 5 ms grid: 100 frames

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// A fresh directory per test: "work" is where the command runs, its standard error is
// collected beside it.
class Command : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "brisvane16-e2e-XXXXXX").string();
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

  Outcome run(const std::string& args, const std::string& prefix = "") const {
    // Every argument single-quoted: "?" and "(" reach the command unexpanded.
    std::string quoted;
    std::istringstream words(args);
    for (std::string w; words >> w;) quoted += " '" + w + "'";
    const std::string cmd = "cd '" + dir_.string() + "' && " + prefix + "'" + kBinary + "'" + quoted +
                            " 2>'" + (root_ / "stderr.txt").string() + "'";
    Outcome r;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int ws = pclose(p);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    r.err = readfile(root_ / "stderr.txt");
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
  static uintmax_t sizeof_(const fs::path& p) {
    std::error_code ec;
    const uintmax_t s = fs::file_size(p, ec);
    return ec ? static_cast<uintmax_t>(-1) : s;
  }

  // Canonical 44-byte-header WAV, mono, 16 kHz, 16-bit.
  static void writewav(const fs::path& p, const std::vector<int16_t>& x) {
    std::string b;
    auto u32 = [&b](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF)); };
    auto u16 = [&b](uint32_t v) { for (int i = 0; i < 2; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF)); };
    const uint32_t bytes = static_cast<uint32_t>(2 * x.size());
    b += "RIFF";
    u32(36 + bytes);
    b += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(16000);
    u32(32000);
    u16(2);
    u16(16);
    b += "data";
    u32(bytes);
    for (int16_t s : x) u16(static_cast<uint16_t>(s));
    writefile(p, b);
  }

  // 0.3 s of a 140 Hz harmonic voice (ten harmonics, falling as 1/h), then noise.
  static std::vector<int16_t> speechlike(uint32_t n, double f0 = 140.0) {
    std::vector<int16_t> x(n);
    uint32_t seed = 12345;
    for (uint32_t i = 0; i < n; ++i) {
      double v = 0.0;
      if (i < n * 3 / 5) {
        for (int h = 1; h <= 10; ++h) v += (0.3 / h) * std::sin(6.283185307179586 * h * f0 * i / 16000.0);
      } else {
        seed = seed * 1664525u + 1013904223u;
        v = 0.05 * (static_cast<double>(seed >> 8) / 8388608.0 - 1.0);
      }
      x[i] = static_cast<int16_t>(std::lround(v * 32767.0));
    }
    return x;
  }

  // Little-endian 32-bit float stream.
  static void writefloats(const fs::path& p, const std::vector<float>& v) {
    std::string b(v.size() * 4, '\0');
    for (size_t i = 0; i < v.size(); ++i) {
      uint32_t u;
      std::memcpy(&u, &v[i], 4);
      for (int k = 0; k < 4; ++k) b[4 * i + k] = static_cast<char>((u >> (8 * k)) & 0xFF);
    }
    writefile(p, b);
  }

  fs::path root_;
  fs::path dir_;
};

const char* const kComplaint = "Incorrect input arguments.\nHelp: brisvane16 (without arguments)\n\n";

std::vector<std::string> splitlines(const std::string& s) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(s);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

TEST_F(Command, HelpScreenWithoutArguments) {
  const Outcome r = run("");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out.back(), '\n');
  const std::vector<std::string> l = splitlines(r.out);
  ASSERT_GT(l.size(), 10u);
  // Leading empty line, then a framed block: border, "|" lines of the same width, border.
  EXPECT_EQ(l[0], "");
  size_t i = 1;
  const std::string border = l[i];
  ASSERT_GE(border.size(), 4u);
  EXPECT_EQ(border.find_first_not_of(' '), border.find('+'));
  EXPECT_EQ(border.back(), '+');
  for (++i; i < l.size() && l[i] != border; ++i) {
    EXPECT_EQ(l[i].size(), border.size()) << l[i];
    EXPECT_EQ(l[i].find('|'), border.find('+')) << l[i];
    EXPECT_EQ(l[i].back(), '|') << l[i];
  }
  ASSERT_LT(i + 5, l.size());
  ++i;
  EXPECT_EQ(l[i++], "");
  EXPECT_EQ(l[i++], "  === BRISVANE16 v0.9 ===");
  EXPECT_EQ(l[i++], "");
  for (int c = 0; c < 3; ++c) EXPECT_FALSE(l[i++].empty());
  // The rest is fixed, byte for byte.
  std::string tail;
  for (; i < l.size(); ++i) tail += l[i] + "\n";
  EXPECT_EQ(tail,
            "\n"
            "  Usage:\n"
            "   brisvane16 filein filef0 filecc [filefv] [params]\n"
            "\n"
            "  Arguments:\n"
            "   filein: input wav file (mono 16kHz 16bits)\n"
            "   filef0: output file for logf0\n"
            "   filecc: output file for cepstral coeffs.\n"
            "   filefv: optional output file for max. voiced freq.\n"
            "\n"
            "  Optional parameters and default values:\n"
            "   --LFRAME=80     Frame shift (samples)\n"
            "   --CCORD=39      Order of the cepstral representation\n"
            "   --CCMETH=0      0=harmonics+mcep, 1=harmonics+mrdc, 2=efficient\n"
            "   --F0MIN=60      Lowest detectable pitch (Hz)\n"
            "   --F0MAX=500     Highest detectable pitch (Hz)\n"
            "   --F0LOAD=0      Load pitch file if it already exists\n"
            "\n"
            "\n");
}

TEST_F(Command, BadArgumentsComplaintAndStatus) {
  writewav(path("in.wav"), speechlike(kSamples));
  for (const char* args : {
           "in.wav",                                      // one argument
           "in.wav f0",                                   // two
           "in.wav f0 cc fv extra",                       // five names
           "--LFRAME=40 in.wav f0 cc",                    // parameter before the names
           "in.wav f0 --LFRAME=40 cc",                    // parameter between them
           "in.wav f0 cc --LFRAME=40 --LFRAME=40",        // repeated
           "in.wav f0 cc --lframe=40",                    // unknown (case-sensitive)
           "in.wav f0 cc --LFRAME=",                      // empty value
           "in.wav f0 cc --LFRAME=abc",                   // unparsable value
           "in.wav f0 cc --LFRAME",                       // no "="
           "in.wav f0 cc --CCORD=-5 --NOSUCH=1",          // complaint before range checks
       }) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 255) << args;
    EXPECT_EQ(r.out, kComplaint) << args;
    EXPECT_EQ(r.err, "") << args;
  }
  EXPECT_FALSE(fs::exists(path("f0")));
  EXPECT_FALSE(fs::exists(path("cc")));
}

TEST_F(Command, MalformedIndexListTakesPrecedence) {
  for (const char* args : {"in???.wav f0??? cc??? --INDLIST=5-3 --NOSUCH=1",
                           "x y z --INDLIST=1,,2",
                           "in???.wav f0??? cc??? --INDLIST=1-4294967296",
                           "in???.wav f0??? cc??? --INDLIST=1-100(2)"}) {
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 255) << args;
    EXPECT_EQ(r.out, "Error: bad formatted INDLIST.\n") << args;
  }
}

TEST_F(Command, OutputSizesFollowTheFrameGrid) {
  writewav(path("in.wav"), speechlike(kSamples));
  Outcome r = run("in.wav a.f0 a.cc");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");  // nothing but errors is printed outside batch mode
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(sizeof_(path("a.f0")), 4u * kFrames);
  EXPECT_EQ(sizeof_(path("a.cc")), 4u * kFrames * 40);

  r = run("in.wav b.f0 b.cc b.fv --LFRAME=40 --CCORD=24 --CCMETH=2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  const uint32_t frames = (kSamples - 1) / 40 + 1;
  EXPECT_EQ(sizeof_(path("b.f0")), 4u * frames);
  EXPECT_EQ(sizeof_(path("b.cc")), 4u * frames * 25);
  EXPECT_EQ(sizeof_(path("b.fv")), 4u * frames);

  // One sample: one frame.
  writewav(path("one.wav"), {1000});
  r = run("one.wav c.f0 c.cc c.fv --CCORD=0");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(sizeof_(path("c.f0")), 4u);
  EXPECT_EQ(sizeof_(path("c.cc")), 4u);
  EXPECT_EQ(sizeof_(path("c.fv")), 4u);
}

TEST_F(Command, EquivalentSwitchValuesGiveIdenticalOutputs) {
  writewav(path("in.wav"), speechlike(kSamples));
  // F0HR: only exactly 1 selects the high-resolution tracker.
  ASSERT_EQ(run("in.wav a.f0 a.cc --F0HR=0").status, 0);
  ASSERT_EQ(run("in.wav b.f0 b.cc --F0HR=2").status, 0);
  EXPECT_EQ(readfile(path("a.f0")), readfile(path("b.f0")));
  EXPECT_EQ(readfile(path("a.cc")), readfile(path("b.cc")));
  // FVALPHA is a switch: every non-zero value (NaN included) warps with ALPHA.
  ASSERT_EQ(run("in.wav c.f0 c.cc c.fv --FVALPHA=1").status, 0);
  ASSERT_EQ(run("in.wav d.f0 d.cc d.fv --FVALPHA=0.3").status, 0);
  ASSERT_EQ(run("in.wav e.f0 e.cc e.fv --FVALPHA=nan").status, 0);
  EXPECT_EQ(readfile(path("c.fv")), readfile(path("d.fv")));
  EXPECT_EQ(readfile(path("c.fv")), readfile(path("e.fv")));
  ASSERT_EQ(run("in.wav f.f0 f.cc f.fv").status, 0);
  EXPECT_NE(readfile(path("c.fv")), readfile(path("f.fv")));  // the warp did act
  // CCMETH and F0MREF pass on their low byte only.
  ASSERT_EQ(run("in.wav g.f0 g.cc --CCMETH=2").status, 0);
  ASSERT_EQ(run("in.wav h.f0 h.cc --CCMETH=258").status, 0);
  EXPECT_EQ(readfile(path("g.cc")), readfile(path("h.cc")));
  EXPECT_NE(readfile(path("g.cc")), readfile(path("a.cc")));
  ASSERT_EQ(run("in.wav i.f0 i.cc --F0ITREF=1 --F0MREF=1").status, 0);
  ASSERT_EQ(run("in.wav j.f0 j.cc --F0ITREF=1 --F0MREF=-255").status, 0);
  EXPECT_EQ(readfile(path("i.f0")), readfile(path("j.f0")));
  EXPECT_EQ(readfile(path("c.cc")), readfile(path("a.cc")));
}

TEST_F(Command, LoadedF0TrackSetsTheFrameCountAndIsNotRewritten) {
  writewav(path("in.wav"), speechlike(kSamples));
  const float lf0 = std::log(140.0f);
  std::vector<float> shorter(50, -1e10f), longer(kFrames + 30, -1e10f);
  for (uint32_t k = 0; k < 30; ++k) shorter[k] = longer[k] = lf0;
  writefloats(path("short.f0"), shorter);
  writefloats(path("long.f0"), longer);
  const std::string shortbytes = readfile(path("short.f0"));
  const std::string longbytes = readfile(path("long.f0"));

  Outcome r = run("in.wav short.f0 s.cc s.fv --F0LOAD=1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readfile(path("short.f0")), shortbytes);
  EXPECT_EQ(sizeof_(path("s.cc")), 4u * 50 * 40);
  EXPECT_EQ(sizeof_(path("s.fv")), 4u * 50);

  r = run("in.wav long.f0 l.cc l.fv --F0LOAD=1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readfile(path("long.f0")), longbytes);
  EXPECT_EQ(sizeof_(path("l.cc")), 4u * kFrames * 40);
  EXPECT_EQ(sizeof_(path("l.fv")), 4u * kFrames);

  // A missing track falls back silently to estimation, and the estimate is written.
  r = run("in.wav missing.f0 m.cc --F0LOAD=1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(sizeof_(path("missing.f0")), 4u * kFrames);
}

TEST_F(Command, LoadedF0OutsideTheAnalysableRangeCountsAsUnvoiced) {
  writewav(path("in.wav"), speechlike(kSamples));
  const float lf0 = std::log(140.0f);
  std::vector<float> wild(kFrames, lf0), clean(kFrames, lf0);
  const float bad[] = {std::log(1e6f), std::log(8001.0f), std::log(5.0f), std::nanf(""),
                       INFINITY, 80.0f /* e^80 Hz */};
  for (size_t k = 0; k < std::size(bad); ++k) {
    wild[10 + 7 * k] = bad[k];
    clean[10 + 7 * k] = -1e10f;
  }
  writefloats(path("wild.f0"), wild);
  writefloats(path("clean.f0"), clean);
  const std::string wildbytes = readfile(path("wild.f0"));
  Outcome r = run("in.wav wild.f0 w.cc w.fv --F0LOAD=1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(run("in.wav clean.f0 c.cc c.fv --F0LOAD=1").status, 0);
  EXPECT_EQ(readfile(path("wild.f0")), wildbytes);
  EXPECT_EQ(sizeof_(path("w.cc")), 4u * kFrames * 40);
  EXPECT_EQ(readfile(path("w.cc")), readfile(path("c.cc")));
  EXPECT_EQ(readfile(path("w.fv")), readfile(path("c.fv")));
}

TEST_F(Command, RefusesUnsafeSettingsBeforeAnalysing) {
  writewav(path("in.wav"), speechlike(kSamples));
  struct Case { const char* params; const char* message; };
  for (const Case& c : {
           Case{"--F0MIN=inf", "Error: F0MIN must be finite.\n"},
           Case{"--F0MIN=2300", "Error: F0MIN must not exceed 2285.7 Hz.\n"},
           Case{"--F0MIN=10", "Error: F0MIN must be at least 20 Hz (or 0 for the default of 60 Hz).\n"},
           Case{"--F0MAX=nan", "Error: F0MAX must be finite.\n"},
           Case{"--ALPHA=1", "Error: ALPHA must be a finite value strictly between -1 and 1.\n"},
           Case{"--ALPHA=-1.5", "Error: ALPHA must be a finite value strictly between -1 and 1.\n"},
           Case{"--ALPHA=nan", "Error: ALPHA must be a finite value strictly between -1 and 1.\n"},
           Case{"--LFRAME=0", "Error: LFRAME must be at least 1.\n"},
           Case{"--CCORD=-1", "Error: CCORD must be between 0 and 1000.\n"},
           Case{"--CCORD=1001", "Error: CCORD must be between 0 and 1000.\n"},
           Case{"--FFTSIZE=1000", "Error: FFTSIZE must be a power of two between 1 and 65536.\n"},
           Case{"--FFTSIZE=0", "Error: FFTSIZE must be a power of two between 1 and 65536.\n"},
           Case{"--FFTSIZE=131072", "Error: FFTSIZE must be a power of two between 1 and 65536.\n"},
           Case{"--F0ITREF=-1", "Error: F0ITREF must not be negative.\n"},
           Case{"--F0ITREF=2 --F0MIN=0", "Error: F0MIN must be positive when F0ITREF is not 0.\n"},
       }) {
    const Outcome r = run(std::string("in.wav o.f0 o.cc o.fv ") + c.params);
    EXPECT_EQ(r.status, 255) << c.params;
    EXPECT_EQ(r.out, c.message) << c.params;
    EXPECT_EQ(r.err, "") << c.params;
    EXPECT_FALSE(fs::exists(path("o.f0")) || fs::exists(path("o.cc")) || fs::exists(path("o.fv")))
        << c.params;
  }
  // The documented silent corrections stay: F0MIN <= 0 without refinement, F0MAX <= F0MIN.
  const Outcome r = run("in.wav o.f0 o.cc --F0MIN=-5 --F0MAX=40");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(sizeof_(path("o.f0")), 4u * kFrames);
}

TEST_F(Command, BatchProcessesEveryIndexAndReportsFailuresOnTheWay) {
  for (int i : {1, 2, 4}) writewav(path("in00" + std::to_string(i) + ".wav"), speechlike(kSamples, 100.0 + 20 * i));
  fs::create_directory(path("cc04.bin"));  // an output that cannot be created
  // "lf??": the index field is the first run of "?" or digits of the file-name part.
  const Outcome r = run("in???.wav lf??.bin cc??.bin fv-?.bin --INDLIST=1-4");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "in001.wav\n"
            "in002.wav\n"
            "in003.wav\n"
            "Error: could not open in003.wav.\n"
            "in004.wav\n"
            "Error: could not create cc04.bin.\n");
  for (int i : {1, 2, 4}) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(sizeof_(path("lf0" + n + ".bin")), 4u * kFrames) << i;
    EXPECT_EQ(sizeof_(path("fv-" + n + ".bin")), 4u * kFrames) << i;
    if (i != 4) {
      EXPECT_EQ(sizeof_(path("cc0" + n + ".bin")), 4u * kFrames * 40) << i;
    }
  }
  EXPECT_FALSE(fs::exists(path("lf03.bin")));
  EXPECT_FALSE(fs::exists(path("cc03.bin")));
  // Different recordings, different tracks: no file was analysed twice.
  EXPECT_NE(readfile(path("lf01.bin")), readfile(path("lf02.bin")));
}

TEST_F(Command, BatchRefusesNamesThatWouldOverwriteEachOther) {
  writewav(path("in001.wav"), speechlike(kSamples));
  struct Case { const char* args; const char* message; };
  for (const Case& c : {
           Case{"in???.wav lf.bin cc??.bin --INDLIST=1-3", "Error: file name lf.bin has no index field.\n"},
           Case{"in???.wav lf?.bin cc??.bin fv.bin --INDLIST=1-3", "Error: file name fv.bin has no index field.\n"},
           Case{"in???.wav lf?.bin cc??.bin --INDLIST=1,5-12", "Error: index 12 does not fit the index field of lf?.bin.\n"},
           Case{"dir9/in.wav lf?.bin cc?.bin --INDLIST=1", "Error: file name dir9/in.wav has no index field.\n"},
       }) {
    const Outcome r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.args;
    EXPECT_EQ(r.out, c.message) << c.args;
  }
  // Nothing but the input is in the directory.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(Command, StreamTooLargeFor32BitCountsIsRefusedPerFile) {
  // 4.3 million frames of 1001 coefficients exceed a 32-bit value count: the file is
  // skipped with a memory error and the batch goes on with the next one.
  const uint32_t n = 4300000;
  writewav(path("in1.wav"), std::vector<int16_t>(n, 0));
  writefloats(path("lf1"), std::vector<float>(n, -1e10f));
  writewav(path("in2.wav"), speechlike(50));  // 50 frames of order 1000: kept short
  const Outcome r = run("in?.wav lf? cc? --INDLIST=1-2 --LFRAME=1 --CCORD=1000 --F0LOAD=1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "in1.wav\nError: not enough memory to analyse in1.wav.\nin2.wav\n");
  EXPECT_FALSE(fs::exists(path("cc1")));
  EXPECT_EQ(sizeof_(path("lf1")), 4u * n);  // loaded track untouched
  EXPECT_EQ(sizeof_(path("cc2")), 4u * 50 * 1001);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRISVANE_E2E_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define BRISVANE_E2E_ASAN 1
#endif
// An address-space limit cannot be combined with the address sanitizer's shadow memory.
#if !defined(BRISVANE_E2E_ASAN)
TEST_F(Command, AllocationFailureSkipsOnlyThatFile) {
  // Under a 256 MB address-space limit the 2-million-frame cepstral stream (640 MB)
  // cannot be allocated; the next, short file is still analysed.
  const uint32_t n = 2000000;
  writewav(path("in1.wav"), std::vector<int16_t>(n, 0));
  writefloats(path("lf1"), std::vector<float>(n, -1e10f));
  writewav(path("in2.wav"), speechlike(400));  // 400 frames at a one-sample shift
  const Outcome r = run("in?.wav lf? cc? --INDLIST=1-2 --LFRAME=1 --F0LOAD=1", "ulimit -v 262144 && ");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "in1.wav\nError: not enough memory to analyse in1.wav.\nin2.wav\n");
  EXPECT_FALSE(fs::exists(path("cc1")));
  EXPECT_EQ(sizeof_(path("cc2")), 4u * 400 * 40);
}
#endif

}  // namespace
