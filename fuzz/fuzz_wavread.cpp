// WAV reader on arbitrary bytes. The reader must accept exactly the one layout of the
// analysis (RIFF/WAVE, PCM 1, mono, 16000 Hz, 16 bits, "data" right after the format
// chunk), return no more samples than the file holds after its header, scale every
// sample exactly to value/32768 and leave the output empty when it rejects a file.
#include <cmath>

#include "fuzzutil.h"
#include "io/wavm1616io.h"

namespace {

// The sample count an exact reader yields for these bytes; 0 means "rejected".
// Returns the offset of the first sample through first.
uint64_t expectedcount(const uint8_t* d, size_t size, uint64_t& first) {
  using fuzzutil::le16;
  using fuzzutil::le32;
  if (size < 36) return 0;
  if (std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "WAVE", 4) != 0) return 0;
  const uint32_t fmtsize = le32(d + 16);
  if (le16(d + 20) != 1 || le16(d + 22) != 1 || le32(d + 24) != 16000 || le16(d + 34) != 16) return 0;
  if (fmtsize < 16) return 0;  // a format chunk cannot be shorter than its own fields
  const uint64_t tag = 36 + (static_cast<uint64_t>(fmtsize) - 16);
  if (tag + 8 > size) return 0;
  if (std::memcmp(d + tag, "data", 4) != 0) return 0;
  const uint64_t declared = le32(d + tag + 4) / 2;
  const uint64_t present = (size - (tag + 8)) / 2;
  first = tag + 8;
  return std::min(declared, present);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzutil::MemFile file("wav");
  file.set(data, size);

  std::vector<double> samples = {0.25, -0.5, 7.0};  // must be cleared on rejection
  const uint32_t n = brisvane::wavreadm1616(file.path(), samples);

  uint64_t first = 0;
  const uint64_t expected = expectedcount(data, size, first);
  FUZZ_CHECK(n == expected, "reader returned %u samples, the file holds %llu after its header", n,
             static_cast<unsigned long long>(expected));
  FUZZ_CHECK(samples.size() == n, "output holds %zu values for a count of %u", samples.size(), n);
  for (uint32_t i = 0; i < n; ++i) {
    const double v = samples[i];
    FUZZ_CHECK(v >= -1.0 && v < 1.0, "sample %u = %.17g outside [-1, 1)", i, v);
    FUZZ_CHECK(v * 32768.0 == std::trunc(v * 32768.0), "sample %u = %.17g is not a multiple of 1/32768", i, v);
    const int16_t raw = static_cast<int16_t>(fuzzutil::le16(data + first + 2 * static_cast<uint64_t>(i)));
    FUZZ_CHECK(v == raw / 32768.0, "sample %u = %.17g, the file holds %d", i, v, raw);
  }
  return 0;
}
