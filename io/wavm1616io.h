#pragma once
// Reader for the one recording layout the analysis accepts: RIFF/WAVE, integer PCM
// (format 1), one channel, 16000 Hz, 16 bits, the "data" chunk directly after the format
// chunk (a format chunk of S >= 16 bytes; its extension is skipped).
#include <cstdint>
#include <vector>

namespace brisvane {

// Reads the file at path and stores its samples, scaled to [-1, 1) (value / 32768), in
// samples. Returns the sample count N > 0 on success, N = min(D, bytes present) / 2 for a
// declared data size D; an odd last byte is ignored. Returns 0 on any failure, with
// samples left empty: null path, unreadable path or directory, a file that ends inside
// its header, a header field without its required value, S < 16, a chunk other than
// "data" after the format chunk, or no whole sample.
uint32_t wavreadm1616(const char* path, std::vector<double>& samples);

}  // namespace brisvane
