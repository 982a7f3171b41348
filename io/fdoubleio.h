#pragma once
// Parameter stream files: headerless runs of little-endian IEEE 32-bit floats,
// widened to 64-bit floats in memory.
#include <cstdint>
#include <vector>

namespace brisvane {

// Reads every whole 4-byte value of the file (trailing 1 to 3 bytes are ignored)
// into values. Returns the value count; 0 when path is null, the file cannot be
// opened or holds no whole value (values is then left empty).
uint32_t fdoubleread(const char* path, std::vector<double>& values);

// Writes count values as 32-bit floats (round to nearest, ties to even). The array is
// consumed: its storage is reused for the 32-bit images. Returns count, or 0 when path
// is null, count is 0 (nothing is created) or the file cannot be written completely.
uint32_t fdoublewrite2(const char* path, double* values, uint32_t count);

}  // namespace brisvane
