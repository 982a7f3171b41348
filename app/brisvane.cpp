#include "app/brisvane.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <new>
#include <vector>

#include "analysis/ccanalysis.h"
#include "analysis/fvanalysis.h"
#include "analysis/harmonicanalysis.h"
#include "analysis/pitchanalysis.h"
#include "app/paramread.h"
#include "dsp/windowing.h"
#include "io/fdoubleio.h"
#include "io/wavm1616io.h"

namespace brisvane {

namespace {

// The analysis runs at one fixed rate: the WAV reader accepts 16 kHz recordings only.
constexpr double kFs = 16000.0;

// Lowest f0 (Hz) any analysis is asked to serve. Below it the pitch-adaptive windows
// (two or more periods) and the transforms sized from them grow without bound as f0
// approaches 0; 20 Hz is already below any speaking voice.
constexpr double kLowestF0 = 20.0;

// Highest F0MIN (Hz): the tracker's window covers three periods of F0MIN, and only while
// a period spans at least 7 samples (F0MIN <= fs/7, about 2285.7 Hz) does that window
// still hold the longest lag searched and the mean span of two half-periods either side
// of the frame centre.
constexpr double kHighestF0Min = kFs / 7.0;

// Largest cepstral order accepted: the per-frame cost and the stream's memory grow
// with the order, and envelopes of 16 kHz speech need far fewer than 1000 coefficients.
constexpr int32_t kMaxCcOrder = 1000;

// Largest lower bound of the cepstral transform length (4 s of signal at 16 kHz).
constexpr int32_t kMaxFftSize = 65536;

// Highest f0 searched when F0MAX is not above F0MIN (the tracker's own replacement).
constexpr double kDefaultF0Max = 500.0;

// The analysis settings with their defaults; the named parameters override them.
struct Settings {
  double f0min = 60.0;
  double f0max = 500.0;
  double alpha = 0.42;
  double fvalpha = 0.0;
  int32_t lframe = 80;
  int32_t ccord = 39;
  int32_t fftsize = 1024;
  int32_t f0load = 0;
  int32_t ccmeth = 0;
  int32_t f0itref = 0;
  int32_t f0mref = 0;
  int32_t f0hr = 0;
  char* indlist = nullptr;
};

// The file names of one run: filefv is null when the voicing stream is not asked for.
struct FileNames {
  char* in = nullptr;
  char* f0 = nullptr;
  char* cc = nullptr;
  char* fv = nullptr;
};

// Looks every setting up once, in a fixed order; a setting not found keeps its default.
void readsettings(uint32_t count, char** list, Settings& s) {
  searchdoubleparam(count, list, "F0MIN", &s.f0min);
  searchdoubleparam(count, list, "F0MAX", &s.f0max);
  searchdoubleparam(count, list, "ALPHA", &s.alpha);
  searchdoubleparam(count, list, "FVALPHA", &s.fvalpha);
  searchintparam(count, list, "LFRAME", &s.lframe);
  searchintparam(count, list, "CCORD", &s.ccord);
  searchintparam(count, list, "FFTSIZE", &s.fftsize);
  searchintparam(count, list, "F0LOAD", &s.f0load);
  searchintparam(count, list, "CCMETH", &s.ccmeth);
  searchintparam(count, list, "F0ITREF", &s.f0itref);
  searchintparam(count, list, "F0MREF", &s.f0mref);
  searchintparam(count, list, "F0HR", &s.f0hr);
  s.indlist = searchstringparam(count, list, "INDLIST");
}

bool ispoweroftwo(int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

// Refuses settings under which an analysis would be undefined, unbounded or unsafe.
// Prints one "Error: ..." line and returns -1 for the first such setting; 0 otherwise.
// F0MIN <= 0 without refinement and F0MAX <= F0MIN stay allowed: the tracker replaces
// them by its own defaults (60 Hz and 500 Hz).
int checksettings(const Settings& s) {
  if (!std::isfinite(s.f0min)) {
    std::printf("Error: F0MIN must be finite.\n");
    return -1;
  }
  if (s.f0min > kHighestF0Min) {
    std::printf("Error: F0MIN must not exceed %.1f Hz.\n", std::floor(kHighestF0Min * 10.0) / 10.0);
    return -1;
  }
  if (s.f0min > 0.0 && s.f0min < kLowestF0) {
    std::printf("Error: F0MIN must be at least %.0f Hz (or 0 for the default of 60 Hz).\n",
                kLowestF0);
    return -1;
  }
  if (!std::isfinite(s.f0max)) {
    std::printf("Error: F0MAX must be finite.\n");
    return -1;
  }
  if (!(s.alpha > -1.0 && s.alpha < 1.0)) {
    std::printf("Error: ALPHA must be a finite value strictly between -1 and 1.\n");
    return -1;
  }
  if (s.lframe < 1) {
    std::printf("Error: LFRAME must be at least 1.\n");
    return -1;
  }
  if (s.ccord < 0 || s.ccord > kMaxCcOrder) {
    std::printf("Error: CCORD must be between 0 and %d.\n", kMaxCcOrder);
    return -1;
  }
  if (!ispoweroftwo(s.fftsize) || s.fftsize > kMaxFftSize) {
    std::printf("Error: FFTSIZE must be a power of two between 1 and %d.\n", kMaxFftSize);
    return -1;
  }
  if (s.f0itref < 0) {
    std::printf("Error: F0ITREF must not be negative.\n");
    return -1;
  }
  if (s.f0itref != 0 && !(s.f0min > 0.0)) {
    std::printf("Error: F0MIN must be positive when F0ITREF is not 0.\n");
    return -1;
  }
  return 0;
}

// Largest index a (well-formed) index list makes the batch process.
uint32_t lastindex(const char* list) {
  uint32_t last = 0;
  for (const char* p = list; p != nullptr; p = strnumnextinterv(p)) {
    const uint32_t end = strnumintervend(p, strnumintervstart(p));
    if (end > last) last = end;
  }
  return last;
}

// In batch mode every name must have an index field wide enough for every index, or
// one file's outputs would overwrite another's. Prints an error and returns -1 for the
// first name that fails; 0 otherwise.
int checkbatchnames(const char* list, const FileNames& names) {
  const uint32_t digits = getdigits(lastindex(list));
  for (const char* name : {names.in, names.f0, names.cc, names.fv}) {
    if (name == nullptr) continue;
    if (getfileindex(name) == nullptr) {
      std::printf("Error: file name %s has no index field.\n", name);
      return -1;
    }
    if (digits > getfileindexwidth(name)) {
      std::printf("Error: index %u does not fit the index field of %s.\n",
                  static_cast<unsigned>(lastindex(list)), name);
      return -1;
    }
  }
  return 0;
}

// A loaded log-f0 track is trusted only within the range the analyses can serve:
// values that are not finite, below 20 Hz or at/above the Nyquist frequency become
// unvoiced (0 Hz) for the analysis.
void sanitizeloadedf0(std::vector<double>& f0) {
  for (double& v : f0) {
    if (!std::isfinite(v) || v < kLowestF0 || v >= kFs / 2.0) v = 0.0;
  }
}

void writestream(const char* path, std::vector<double>& values, uint32_t count) {
  if (fdoublewrite2(path, values.data(), count) == 0) {
    std::printf("Error: could not create %s.\n", path);
  }
  values = std::vector<double>();
}

// Adds the processor time since start to *slot (when timing is asked for) and returns
// the start of the next stage.
std::clock_t lap(std::clock_t start, double* slot) {
  if (slot == nullptr) return start;
  const std::clock_t now = std::clock();
  *slot += static_cast<double>(now - start) / CLOCKS_PER_SEC;
  return now;
}

// Stage slot of the timing record, or null without timing.
double* slotof(stagetimes* t, double stagetimes::*member) {
  return t == nullptr ? nullptr : &(t->*member);
}

// The f0 track from the recording: plain or high-resolution tracker, then the optional
// harmonic refinement, each in its fast or documented form.
void estimatef0(const Settings& s, const std::vector<double>& x, uint32_t F,
                const pipelineoptions& opt, std::clock_t& t, std::vector<double>& f0) {
  const uint32_t N = static_cast<uint32_t>(x.size());
  const uint32_t shift = static_cast<uint32_t>(s.lframe);
  f0.assign(F, 0.0);
  if (s.f0hr == 1) {
    if (opt.reference) {
      getpitchhighres(x.data(), N, kFs, shift, 0, F, s.f0min, s.f0max, f0.data());
    } else {
      getpitchhighresfast(x.data(), N, kFs, shift, 0, F, s.f0min, s.f0max, f0.data());
    }
  } else {
    if (opt.reference) {
      getpitch(x.data(), N, kFs, shift, 0, F, s.f0min, s.f0max, f0.data());
    } else {
      getpitchfast(x.data(), N, kFs, shift, 0, F, s.f0min, s.f0max, f0.data());
    }
  }
  t = lap(t, slotof(opt.times, &stagetimes::pitch));
  if (s.f0itref != 0) {
    const auto method = static_cast<int8_t>(s.f0mref & 0xFF);
    // The refined values are clamped to the same range the tracker searched: an F0MAX not
    // above F0MIN means 500 Hz there, and clamping to the raw value would push every voiced
    // frame below F0MIN (or, for a negative F0MAX, make it unvoiced).
    const double f0max = (s.f0max > s.f0min) ? s.f0max : kDefaultF0Max;
    if (opt.reference) {
      refinepitch(x.data(), N, kFs, shift, 0, F, s.f0min, f0max, s.f0itref, method, f0.data());
    } else {
      refinepitchfast(x.data(), N, kFs, shift, 0, F, s.f0min, f0max, s.f0itref, method,
                      f0.data());
    }
    t = lap(t, slotof(opt.times, &stagetimes::refine));
  }
}

// The whole analysis of one recording: signal, f0 track (loaded or estimated),
// cepstral stream, optional maximum voiced frequency, then the writes in the order
// f0, cepstra, voicing frequency. Throws std::bad_alloc when memory runs out; nothing
// has been written by then.
void processfile(const Settings& s, const FileNames& names, const pipelineoptions& opt) {
  std::clock_t t = opt.times != nullptr ? std::clock() : 0;
  std::vector<double> x;
  const uint32_t N = wavreadm1616(names.in, x);
  t = lap(t, slotof(opt.times, &stagetimes::read));
  if (N == 0) {
    std::printf("Error: could not open %s.\n", names.in);
    return;
  }
  const uint32_t shift = static_cast<uint32_t>(s.lframe);
  uint32_t F = getnumframes(N, shift, 0);

  std::vector<double> f0;
  bool loaded = false;
  if (s.f0load != 0) {
    const uint32_t L = fdoubleread(names.f0, f0);
    if (L > 0) {
      if (L < F) F = L;
      logf02f0(L, f0.data());
      sanitizeloadedf0(f0);
      loaded = true;
    }
    t = lap(t, slotof(opt.times, &stagetimes::pitch));
  }
  if (!loaded) estimatef0(s, x, F, opt, t, f0);

  // The stream is counted in 32 bits on its way to the file.
  const uint64_t ccsize = static_cast<uint64_t>(F) * (static_cast<uint64_t>(s.ccord) + 1);
  if (ccsize > UINT32_MAX) throw std::bad_alloc();
  const uint32_t order = static_cast<uint32_t>(s.ccord);
  std::vector<double> cc(getccssize(F, order), 0.0);
  const auto fftmin = static_cast<uint32_t>(s.fftsize);
  const auto ccmethod = static_cast<uint8_t>(s.ccmeth & 0xFF);
  if (opt.reference) {
    waveform2ccs(x.data(), N, kFs, shift, 0, F, f0.data(), fftmin, order, cc.data(), s.alpha,
                 ccmethod);
  } else {
    waveform2ccsfast(x.data(), N, kFs, shift, 0, F, f0.data(), fftmin, order, cc.data(), s.alpha,
                     ccmethod);
  }
  htsadapteradhoc(cc.data(), order, F);
  t = lap(t, slotof(opt.times, &stagetimes::cepstrum));

  std::vector<double> fv;
  if (names.fv != nullptr) {
    fv.assign(F, 0.0);
    if (opt.reference) {
      getfvoicing(x.data(), N, kFs, shift, 0, F, f0.data(), fv.data());
    } else {
      getfvoicingfast(x.data(), N, kFs, shift, 0, F, f0.data(), fv.data());
    }
    if (s.fvalpha != 0.0) fvoicingwarp(F, fv.data(), kFs, s.alpha);  // NaN also warps
    t = lap(t, slotof(opt.times, &stagetimes::fv));
  }
  x = std::vector<double>();

  if (!loaded) {
    f02logf0(F, f0.data());
    writestream(names.f0, f0, F);
  }
  f0 = std::vector<double>();
  writestream(names.cc, cc, static_cast<uint32_t>(ccsize));
  if (names.fv != nullptr) writestream(names.fv, fv, F);
  lap(t, slotof(opt.times, &stagetimes::write));
}

// Runs processfile and keeps the batch going when one recording does not fit in memory.
void processfileguarded(const Settings& s, const FileNames& names,
                         const pipelineoptions& opt) {
  try {
    processfile(s, names, opt);
  } catch (const std::bad_alloc&) {
    std::printf("Error: not enough memory to analyse %s.\n", names.in);
  }
  std::fflush(stdout);
}

void runbatch(const Settings& s, const FileNames& names, const pipelineoptions& opt) {
  for (const char* p = s.indlist; p != nullptr; p = strnumnextinterv(p)) {
    const uint32_t first = strnumintervstart(p);
    const uint32_t last = strnumintervend(p, first);
    // 64-bit counter: a range ending at 4294967295 must still terminate.
    for (uint64_t i = first; i <= last; ++i) {
      const uint32_t index = static_cast<uint32_t>(i);
      for (char* name : {names.in, names.f0, names.cc, names.fv}) {
        if (name != nullptr) replacefileindex(name, index);
      }
      std::printf("%s\n", names.in);
      processfileguarded(s, names, opt);
    }
  }
}

}  // namespace

int plothelp() {
  std::puts("");
  std::puts("  +------------------------------------------------------------------+");
  std::puts("  |  brisvane16 speech analysis: f0, warped cepstrum and maximum     |");
  std::puts("  |  voiced frequency of 16 kHz mono 16-bit recordings.              |");
  std::puts("  |                                                                  |");
  std::puts("  |  Provided as is, without warranty of any kind, express or        |");
  std::puts("  |  implied. Use it at your own risk.                               |");
  std::puts("  +------------------------------------------------------------------+");
  std::puts("");
  std::printf("  === BRISVANE16 v%s ===\n", "0.9");
  std::puts("");
  std::puts("  Analysis side of a harmonic-plus-noise speech vocoder.");
  std::puts("  Per frame: log-f0, warped cepstral envelope, max. voiced frequency.");
  std::puts("  Outputs are raw streams of little-endian 32-bit floats.");
  std::puts("");
  std::puts("  Usage:");
  std::puts("   brisvane16 filein filef0 filecc [filefv] [params]");
  std::puts("");
  std::puts("  Arguments:");
  std::puts("   filein: input wav file (mono 16kHz 16bits)");
  std::puts("   filef0: output file for logf0");
  std::puts("   filecc: output file for cepstral coeffs.");
  std::puts("   filefv: optional output file for max. voiced freq.");
  std::puts("");
  std::puts("  Optional parameters and default values:");
  const Settings d;
  std::printf("   --LFRAME=%d     Frame shift (samples)\n", d.lframe);
  std::printf("   --CCORD=%d      Order of the cepstral representation\n", d.ccord);
  std::printf("   --CCMETH=%d      %d=harmonics+mcep, %d=harmonics+mrdc, %d=efficient\n", d.ccmeth, 0, 1,
              2);
  std::printf("   --F0MIN=%.0f      Lowest detectable pitch (Hz)\n", d.f0min);
  std::printf("   --F0MAX=%.0f     Highest detectable pitch (Hz)\n", d.f0max);
  std::printf("   --F0LOAD=%d      Load pitch file if it already exists\n", d.f0load);
  std::puts("");
  std::puts("");
  return 0;
}

int argcerror() {
  std::puts("Incorrect input arguments.");
  std::puts("Help: brisvane16 (without arguments)");
  std::puts("");
  return 0;
}

int brisvanemain(int argc, char** argv) { return brisvanemain(argc, argv, pipelineoptions{}); }

int brisvanemain(int argc, char** argv, const pipelineoptions& opt) {
  if (argc <= 1 || argv == nullptr) {
    plothelp();
    return 0;
  }
  if (argc == 2 || argc == 3) {
    argcerror();
    return -1;
  }

  // Positional names come first; the first "--" argument starts the parameter list.
  int npos = 0;
  while (npos < argc && isparam(argv[npos]) == 0) ++npos;
  const uint32_t nparams = static_cast<uint32_t>(argc - npos);
  char** params = argv + npos;

  Settings s;
  readsettings(nparams, params, s);

  if (s.indlist != nullptr && strnumdiagnose(s.indlist) != 0) {
    std::puts("Error: bad formatted INDLIST.");
    return -1;
  }
  if (unreadparams(nparams, params) != 0 || (npos != 4 && npos != 5)) {
    argcerror();
    return -1;
  }

  FileNames names;
  names.in = argv[1];
  names.f0 = argv[2];
  names.cc = argv[3];
  names.fv = npos == 5 ? argv[4] : nullptr;

  if (checksettings(s) != 0) return -1;
  if (s.indlist != nullptr && checkbatchnames(s.indlist, names) != 0) return -1;

  if (s.indlist == nullptr) {
    processfileguarded(s, names, opt);
  } else {
    runbatch(s, names, opt);
  }
  return 0;
}

}  // namespace brisvane
