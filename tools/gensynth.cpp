// gensynth: writes deterministic synthetic speech as a 16 kHz mono 16-bit WAV file and,
// optionally, the true f0 of every 5 ms frame (Hz, 0 = unvoiced), one value per line.
//
//   gensynth [options] out.wav [truth.txt]
//     (no options)     the demo utterance of about 3 s (the bundled sample input)
//     --f0=Hz          a steady vowel at this f0 instead
//     --seconds=s      its duration (default 1)
//     --jitter=r       its relative period jitter (default 0)
//     --snr=dB         additive white noise at this SNR
//     --cutoff=Hz      mixed excitation: harmonic below, noise above this frequency
//     --seed=n         random seed (default 1)
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "tools/synth/synthspeech.h"

namespace {

using brisvane::synth::Config;

void usage() {
  std::puts("usage: gensynth [--f0=Hz] [--seconds=s] [--jitter=r] [--snr=dB] [--cutoff=Hz] [--seed=n]"
            " out.wav [truth.txt]");
}

// Parses "--name=value" into v; returns false if arg is not that option or the value is
// not a complete number.
bool option(const std::string& arg, const char* name, double& v) {
  const std::string prefix = std::string("--") + name + "=";
  if (arg.rfind(prefix, 0) != 0) return false;
  const std::string text = arg.substr(prefix.size());
  char* end = nullptr;
  v = std::strtod(text.c_str(), &end);
  if (text.empty() || end == nullptr || *end != '\0') throw std::invalid_argument("bad value in " + arg);
  return true;
}

// Parses "--seed=n" (a decimal unsigned 64-bit integer) into v.
bool seedoption(const std::string& arg, uint64_t& v) {
  const std::string prefix = "--seed=";
  if (arg.rfind(prefix, 0) != 0) return false;
  const std::string text = arg.substr(prefix.size());
  char* end = nullptr;
  errno = 0;
  const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] == '-' || errno != 0 || end == nullptr || *end != '\0')
    throw std::invalid_argument("bad value in " + arg);
  v = n;
  return true;
}

bool writetruth(const std::string& path, const brisvane::synth::Result& r) {
  std::FILE* fp = std::fopen(path.c_str(), "w");
  if (fp == nullptr) return false;
  bool ok = true;
  for (double f : r.f0) ok = ok && std::fprintf(fp, "%.6f\n", f) > 0;
  return (std::fclose(fp) == 0) && ok;
}

int run(int argc, char** argv) {
  double f0 = 0.0, seconds = 1.0, jitter = 0.0, snr = 1e9, cutoff = 0.0;
  uint64_t seed = 1;
  std::string files[2];
  int nfiles = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (option(a, "f0", f0) || option(a, "seconds", seconds) || option(a, "jitter", jitter) ||
        option(a, "snr", snr) || option(a, "cutoff", cutoff) || seedoption(a, seed)) {
      continue;
    }
    if (a.rfind("--", 0) == 0 || nfiles == 2) {
      usage();
      return 1;
    }
    files[nfiles++] = a;
  }
  if (nfiles == 0) {
    usage();
    return 1;
  }

  Config cfg = (f0 > 0.0) ? brisvane::synth::steadyvowel(f0, seconds) : brisvane::synth::demoutterance();
  if (f0 > 0.0 && !cfg.segments.empty()) cfg.segments[0].jitter = jitter;
  cfg.noisesnr_db = snr;
  cfg.voicedcutoff = cutoff;
  cfg.seed = seed;

  const brisvane::synth::Result r = brisvane::synth::synthesize(cfg);
  if (!brisvane::synth::writewav16(files[0], r.signal, cfg.fs)) {
    std::printf("Error: cannot write %s\n", files[0].c_str());
    return 1;
  }
  if (nfiles == 2 && !writetruth(files[1], r)) {
    std::printf("Error: cannot write %s\n", files[1].c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::printf("Error: %s\n", e.what());
    return 1;
  }
}
