// Per-stage processor time of the analysis command, read by scripts/bench.sh.
//
//   bench_pipeline concat CORPUSDIR SECONDS OUT.wav
//       writes the recordings of CORPUSDIR (sorted by name, repeated as often as needed)
//       one after the other into a 16 kHz WAV of exactly SECONDS seconds.
//   bench_pipeline run [--reference] FILEIN FILEF0 FILECC [FILEFV] [--NAME=value ...]
//       runs the command's own pipeline (the same code as brisvane16, fast variants unless
//       --reference) and prints one line per stage, "stage NAME SECONDS", processor time
//       from std::clock, then "stage total SECONDS".
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/brisvane.h"
#include "io/wavm1616io.h"
#include "tools/synth/synthspeech.h"

namespace {

constexpr double kFs = 16000.0;

int concat(const char* dir, const char* seconds, const char* out) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    if (e.path().extension() == ".wav") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<double> all;
  for (const auto& f : files) {
    std::vector<double> x;
    if (brisvane::wavreadm1616(f.string().c_str(), x) > 0) all.insert(all.end(), x.begin(), x.end());
  }
  const double s = std::atof(seconds);
  if (all.empty() || !(s > 0.0 && s <= 3600.0)) {
    std::printf("Error: no recordings in %s or a duration outside (0, 3600] s\n", dir);
    return 1;
  }
  const auto total = static_cast<std::size_t>(s * kFs);
  std::vector<double> y;
  y.reserve(total);
  while (y.size() < total) {
    const std::size_t take = std::min(all.size(), total - y.size());
    y.insert(y.end(), all.begin(), all.begin() + static_cast<std::ptrdiff_t>(take));
  }
  if (!brisvane::synth::writewav16(out, y, kFs)) {
    std::printf("Error: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

int run(int argc, char** argv) {
  brisvane::stagetimes t;
  brisvane::pipelineoptions opt;
  opt.times = &t;
  // argv[0] stands in for the program name of the command's argument vector.
  std::vector<char*> args;
  args.push_back(argv[0]);
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reference") == 0) {
      opt.reference = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  const int status = brisvane::brisvanemain(static_cast<int>(args.size()), args.data(), opt);
  std::printf("stage read %.3f\n", t.read);
  std::printf("stage pitch %.3f\n", t.pitch);
  std::printf("stage refine %.3f\n", t.refine);
  std::printf("stage cepstrum %.3f\n", t.cepstrum);
  std::printf("stage fv %.3f\n", t.fv);
  std::printf("stage write %.3f\n", t.write);
  std::printf("stage total %.3f\n", t.read + t.pitch + t.refine + t.cepstrum + t.fv + t.write);
  return status == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "concat") == 0) return concat(argv[2], argv[3], argv[4]);
  if (argc >= 5 && std::strcmp(argv[1], "run") == 0) return run(argc, argv);
  std::puts("usage: bench_pipeline concat CORPUSDIR SECONDS OUT.wav");
  std::puts("       bench_pipeline run [--reference] FILEIN FILEF0 FILECC [FILEFV] [--NAME=value ...]");
  return 1;
}
