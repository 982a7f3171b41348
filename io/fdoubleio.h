#pragma once
// Parameter stream files: headerless runs of little-endian IEEE 32-bit floats,
// widened to 64-bit floats in memory. The file does not record the frame size.
#include <cstdint>
#include <vector>

namespace brisvane {

// Reads every whole 4-byte value of the file (trailing 1 to 3 bytes are ignored) into
// values, widened exactly. Returns the value count; 0 (values left empty) when path is
// null, the file cannot be opened or is a directory or a device (a character device
// such as /dev/zero never ends), holds no whole value, would hold more than 2^32 - 1
// values, or cannot be read completely. FIFOs are read up to their end.
uint32_t fdoubleread(const char* path, std::vector<double>& values);

// Writes count values as 32-bit floats (round to nearest, ties to even), little-endian.
// The array is consumed: its storage is reused for the 32-bit images, so it no longer
// holds the 64-bit values afterwards. A regular target (or an absent one) is replaced
// atomically through a temporary file in the same directory: on failure the previous
// contents stay intact and no partial file is left. Other targets (devices, FIFOs) are
// written directly. Returns count, or 0 when path or values is null, count is 0 (nothing
// is created, the array is untouched) or the stream cannot be written completely.
uint32_t fdoublewrite2(const char* path, double* values, uint32_t count);

}  // namespace brisvane
