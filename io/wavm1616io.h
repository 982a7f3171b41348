#pragma once
// Reader for the one recording layout the analysis accepts: RIFF/WAVE, integer PCM,
// one channel, 16000 Hz, 16 bits, the "data" chunk directly after the format chunk.
#include <cstdint>
#include <vector>

namespace brisvane {

// Reads the file at path and stores its samples, scaled to [-1, 1) (value / 32768),
// in samples. Returns the sample count N > 0 on success; 0 on any failure, with
// samples left empty. Sample data shorter than declared is read up to the last whole
// sample present; a file that ends inside its header is rejected.
uint32_t wavreadm1616(const char* path, std::vector<double>& samples);

}  // namespace brisvane
