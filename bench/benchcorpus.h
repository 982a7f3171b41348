#pragma once
// The speech corpus of the benchmarks: the folder named by the environment variable
// BRISVANE_CORPUS_DIR, else the build's default beside the project. A missing folder gives
// no files, and the benchmarks report a skip.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "io/wavm1616io.h"

namespace benchcorpus {

inline std::string corpusdir() {
  const char* env = std::getenv("BRISVANE_CORPUS_DIR");
  if (env != nullptr && env[0] != '\0') return env;
  return BRISVANE_CORPUS_DIR;
}

// Every readable recording of the corpus, sorted by file name.
inline std::vector<std::vector<double>> recordings() {
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(corpusdir(), ec)) {
    if (e.path().extension() == ".wav") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::vector<double>> out;
  for (const auto& f : files) {
    std::vector<double> x;
    if (brisvane::wavreadm1616(f.string().c_str(), x) > 0) out.push_back(std::move(x));
  }
  return out;
}

// All recordings one after the other.
inline std::vector<double> concatenated() {
  std::vector<double> all;
  for (const auto& x : recordings()) all.insert(all.end(), x.begin(), x.end());
  return all;
}

}  // namespace benchcorpus
