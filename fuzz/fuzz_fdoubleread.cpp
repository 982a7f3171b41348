// Parameter-stream reader and the log-f0 loading path on arbitrary bytes: every whole
// 4-byte value is widened exactly, trailing bytes are ignored, log-f0 -> f0 never gives a
// NaN or a negative frequency, and writing the values back reproduces the bytes.
#include <cmath>

#include "analysis/pitchanalysis.h"
#include "fuzzutil.h"
#include "io/fdoubleio.h"

namespace {

bool samebits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzutil::MemFile in("stream-in");
  static fuzzutil::MemFile out("stream-out");
  in.set(data, size);

  std::vector<double> values = {1.0, 2.0};  // must be replaced (or cleared on failure)
  const uint32_t count = brisvane::fdoubleread(in.path(), values);
  FUZZ_CHECK(count == size / 4, "%u values read from %zu bytes", count, size);
  FUZZ_CHECK(values.size() == count, "output holds %zu values for a count of %u", values.size(), count);

  std::vector<float> raw(count);
  if (count > 0) std::memcpy(raw.data(), data, 4 * static_cast<size_t>(count));
  for (uint32_t i = 0; i < count; ++i) {
    const double v = values[i];
    const double w = static_cast<double>(raw[i]);
    FUZZ_CHECK((std::isnan(v) && std::isnan(w)) || std::memcmp(&v, &w, sizeof v) == 0,
               "value %u widened to %.17g, expected %.17g", i, v, w);
  }

  // Loading a log-f0 track: above -1e10 it is exp(value), at or below it and NaN unvoiced.
  std::vector<double> f0 = values;
  FUZZ_CHECK(brisvane::logf02f0(count, f0.data()) == 0, "logf02f0 failed");
  for (uint32_t i = 0; i < count; ++i) {
    const double lf = values[i];
    const double expect = (lf > -1e10) ? std::exp(lf) : 0.0;
    FUZZ_CHECK(!std::isnan(f0[i]) && f0[i] >= 0.0, "log-f0 %.17g gave f0 %.17g", lf, f0[i]);
    FUZZ_CHECK(f0[i] == expect, "log-f0 %.17g gave f0 %.17g, expected %.17g", lf, f0[i], expect);
  }
  // Back to log-f0: never NaN; unvoiced frames carry the marker.
  std::vector<double> lf0 = f0;
  FUZZ_CHECK(brisvane::f02logf0(count, lf0.data()) == 0, "f02logf0 failed");
  for (uint32_t i = 0; i < count; ++i) {
    FUZZ_CHECK(!std::isnan(lf0[i]), "f0 %.17g gave a NaN log-f0", f0[i]);
    if (!(f0[i] > 0.0)) FUZZ_CHECK(lf0[i] == brisvane::kUnvoicedLogF0, "f0 %.17g not marked unvoiced", f0[i]);
  }

  // Writing the widened values back narrows them exactly to the bytes that were read.
  if (count > 0) {
    const uint32_t written = brisvane::fdoublewrite2(out.path(), values.data(), count);
    FUZZ_CHECK(written == count, "wrote %u of %u values", written, count);
    const std::vector<uint8_t> back = out.get();
    FUZZ_CHECK(back.size() == 4 * static_cast<size_t>(count), "stream of %zu bytes for %u values",
               back.size(), count);
    for (uint32_t i = 0; i < count; ++i) {
      float a, b;
      std::memcpy(&a, back.data() + 4 * i, 4);
      std::memcpy(&b, data + 4 * i, 4);
      FUZZ_CHECK(samebits(a, b) || (std::isnan(a) && std::isnan(b)), "value %u written as %.9g, read as %.9g",
                 i, static_cast<double>(a), static_cast<double>(b));
    }
  }
  return 0;
}
