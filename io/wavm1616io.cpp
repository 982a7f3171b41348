// Reader for 16 kHz mono 16-bit integer PCM WAV recordings.
//
// The header is read field by field in file order with no chunk search: the "data"
// chunk must follow the format chunk directly. Any short read inside the header rejects
// the file. The sample data is read in fixed-size blocks up to the declared size, so a
// file shorter than its declared data (including the 0xFFFFFFFF placeholder of
// streaming recorders) yields the whole samples actually present and the memory used
// never depends on the declared size alone.
#include "io/wavm1616io.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace brisvane {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr uint32_t kSampleRate = 16000;

bool readbytes(std::FILE* f, unsigned char* dst, std::size_t n) {
    return std::fread(dst, 1, n, f) == n;
}

bool readtag(std::FILE* f, const char* tag) {
    std::array<unsigned char, 4> b{};
    return readbytes(f, b.data(), b.size()) && std::memcmp(b.data(), tag, 4) == 0;
}

bool readu16(std::FILE* f, uint32_t& v) {
    std::array<unsigned char, 2> b{};
    if (!readbytes(f, b.data(), b.size())) {
        return false;
    }
    v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8);
    return true;
}

bool readu32(std::FILE* f, uint32_t& v) {
    std::array<unsigned char, 4> b{};
    if (!readbytes(f, b.data(), b.size())) {
        return false;
    }
    v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
        (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

bool expectu16(std::FILE* f, uint32_t want) {
    uint32_t v = 0;
    return readu16(f, v) && v == want;
}

bool expectu32(std::FILE* f, uint32_t want) {
    uint32_t v = 0;
    return readu32(f, v) && v == want;
}

// Walks the header up to and including the data size; returns false at the first
// field that is missing or does not have its required value.
bool readheader(std::FILE* f, uint32_t& datasize) {
    uint32_t ignored = 0;
    uint32_t fmtsize = 0;
    if (!readtag(f, "RIFF") || !readu32(f, ignored) || !readtag(f, "WAVE")) {
        return false;
    }
    std::array<unsigned char, 4> fmtid{};  // any four bytes are accepted as the id
    if (!readbytes(f, fmtid.data(), fmtid.size()) || !readu32(f, fmtsize) || fmtsize < 16) {
        return false;
    }
    if (!expectu16(f, 1) || !expectu16(f, 1) || !expectu32(f, kSampleRate)) {
        return false;  // integer PCM, one channel, 16 kHz
    }
    if (!readu32(f, ignored) || !readu16(f, ignored) || !expectu16(f, 16)) {
        return false;  // byte rate and block align ignored, 16 bits per sample
    }
    if (fmtsize > 16 && std::fseek(f, static_cast<long>(fmtsize - 16), SEEK_CUR) != 0) {
        return false;  // format extension skipped
    }
    return readtag(f, "data") && readu32(f, datasize);
}

// Bytes from the current position to the end of a regular file; 0 when that cannot be
// known (a pipe or device), or -1 when the position cannot be restored.
int64_t bytesleft(std::FILE* f) {
    const long pos = std::ftell(f);
    if (pos < 0 || std::fseek(f, 0, SEEK_END) != 0) {
        std::clearerr(f);
        return 0;
    }
    const long end = std::ftell(f);
    if (std::fseek(f, pos, SEEK_SET) != 0) {
        return -1;
    }
    return end > pos ? static_cast<int64_t>(end - pos) : 0;
}

// Reads up to maxsamples little-endian 16-bit samples, scaled by 1/32768, until the
// end of the file; an odd last byte is ignored. False on a read error. The samples
// present in a regular file are reserved at once (never more than the file holds), so
// that a long recording is not copied as the array grows.
bool readsamples(std::FILE* f, uint32_t maxsamples, std::vector<double>& out) {
    const int64_t present = bytesleft(f);
    if (present < 0) {
        return false;
    }
    out.reserve(static_cast<std::size_t>(std::min<int64_t>(maxsamples, present / 2)));
    std::array<unsigned char, 8192> block{};
    uint32_t left = maxsamples;
    while (left > 0) {
        const std::size_t want = left < block.size() / 2 ? left : block.size() / 2;
        const std::size_t got = std::fread(block.data(), 1, 2 * want, f) / 2;
        const std::size_t base = out.size();
        out.resize(base + got);
        double* dst = out.data() + base;
        for (std::size_t i = 0; i < got; ++i) {
            const uint32_t u = static_cast<uint32_t>(block[2 * i]) | (static_cast<uint32_t>(block[2 * i + 1]) << 8);
            const int16_t v = static_cast<int16_t>(static_cast<uint16_t>(u));
            dst[i] = static_cast<double>(v) / 32768.0;
        }
        left -= static_cast<uint32_t>(got);
        if (got < want) {
            return std::ferror(f) == 0;
        }
    }
    return true;
}

}  // namespace

uint32_t wavreadm1616(const char* path, std::vector<double>& samples) {
    samples.clear();
    if (path == nullptr) {
        return 0;
    }
    FilePtr f(std::fopen(path, "rb"));
    if (!f) {
        return 0;
    }
    uint32_t datasize = 0;
    if (!readheader(f.get(), datasize) || datasize < 2) {
        return 0;
    }
    std::vector<double> out;
    if (!readsamples(f.get(), datasize / 2, out) || out.empty()) {
        return 0;
    }
    samples = std::move(out);
    return static_cast<uint32_t>(samples.size());
}

}  // namespace brisvane
