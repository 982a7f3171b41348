#pragma once
// Test material of the fast-versus-documented comparisons: the synthetic demo utterance and the
// corpus recordings (when the folder exists), each with its plain pitch track on the 5 ms grid.
// The address-sanitizer build runs the documented routes many times slower, so it takes only
// the first corpus recording.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "analysis/pitchanalysis.h"
#include "dsp/windowing.h"
#include "io/wavm1616io.h"
#include "tools/synth/synthspeech.h"

namespace brisvane::trackedspeech {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizer = true;
#else
constexpr bool kSanitizer = false;
#endif
#else
constexpr bool kSanitizer = false;
#endif

struct Recording {
  std::string name;
  std::vector<double> x;
  std::vector<double> f0;  // plain pitch track at 16 kHz, 5 ms frames, 60 - 500 Hz
};

// The recordings, each cut to maxsamples under the sanitizer.
inline std::vector<Recording> load(std::size_t maxsamples) {
  std::vector<Recording> out;
  auto add = [&](std::string name, std::vector<double> x) {
    Recording r{std::move(name), std::move(x), {}};
    if (kSanitizer && r.x.size() > maxsamples) r.x.resize(maxsamples);
    const uint32_t len = static_cast<uint32_t>(r.x.size());
    r.f0.assign(getnumframes(len, 80, 0), 0.0);
    getpitch(r.x.data(), len, 16000.0, 80, 0, static_cast<uint32_t>(r.f0.size()), 60.0, 500.0, r.f0.data());
    out.push_back(std::move(r));
  };
  add("synthetic", synth::synthesize(synth::demoutterance()).signal);
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(BRISVANE_CORPUS_DIR, ec))
    if (e.path().extension() == ".wav") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  if (kSanitizer && files.size() > 1) files.resize(1);
  for (const auto& f : files) {
    std::vector<double> x;
    if (wavreadm1616(f.string().c_str(), x) > 0) add(f.filename().string(), std::move(x));
  }
  return out;
}

}  // namespace brisvane::trackedspeech
