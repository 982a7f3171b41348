// Parameter stream files: headerless little-endian IEEE 32-bit floats.
//
// Reading widens every whole 4-byte value exactly to 64 bits. Writing narrows each
// 64-bit value to the nearest 32-bit float in the caller's own array (the array is
// consumed) and replaces a regular target file atomically: the stream goes to a
// temporary file in the same directory which is renamed over the target only once it
// has been written and closed without error, so a failed write never leaves a
// half-written stream nor damages an existing one.
#include "io/fdoubleio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>

namespace brisvane {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr uint64_t kMaxCount = 0xFFFFFFFFULL;

double widen(const unsigned char* b) {
    const uint32_t bits = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                          (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    float v = 0.0F;
    std::memcpy(&v, &bits, sizeof v);
    return static_cast<double>(v);
}

// Reads at most limit whole values (all of them when limit is kMaxCount + 1).
// False on a read error or when the stream holds more than kMaxCount values.
bool readvalues(std::FILE* f, uint64_t limit, std::vector<double>& out) {
    std::array<unsigned char, 8192> block{};
    while (out.size() < limit) {
        const uint64_t left = limit - out.size();
        const std::size_t want = left < block.size() / 4 ? static_cast<std::size_t>(left) : block.size() / 4;
        const std::size_t got = std::fread(block.data(), 1, 4 * want, f) / 4;
        if (out.size() + got > kMaxCount) {
            return false;
        }
        for (std::size_t i = 0; i < got; ++i) {
            out.push_back(widen(block.data() + 4 * i));
        }
        if (got < want) {
            return std::ferror(f) == 0;
        }
    }
    return true;
}

// Narrows the count values to 32-bit little-endian images packed at the front of the
// same array. Walking forwards, image i (bytes 4i..4i+3) lands in element i/2 <= i,
// which has already been read, so no value is lost before it is narrowed.
void narrowinplace(double* values, uint32_t count) {
    auto* bytes = reinterpret_cast<unsigned char*>(values);
    for (std::size_t i = 0; i < count; ++i) {
        const float v = static_cast<float>(values[i]);
        uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        bytes[4 * i] = static_cast<unsigned char>(bits & 0xFFU);
        bytes[4 * i + 1] = static_cast<unsigned char>((bits >> 8) & 0xFFU);
        bytes[4 * i + 2] = static_cast<unsigned char>((bits >> 16) & 0xFFU);
        bytes[4 * i + 3] = static_cast<unsigned char>((bits >> 24) & 0xFFU);
    }
}

// Narrows and writes the stream to an open file, then closes it; true only when every
// byte was written and the file was flushed and closed without error.
bool writeandclose(std::FILE* f, double* values, uint32_t count) {
    narrowinplace(values, count);
    const std::size_t nbytes = static_cast<std::size_t>(count) * 4;
    bool ok = std::fwrite(values, 1, nbytes, f) == nbytes;
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

// Writes straight into the target: devices, FIFOs, or when no temporary can be made.
uint32_t writedirect(const char* path, double* values, uint32_t count) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) {
        return 0;
    }
    return writeandclose(f, values, count) ? count : 0;
}

// Creates a new, uniquely named file target + ".tmpXXXXXX"; returns its descriptor
// (or -1) and its name.
int createtemp(const std::string& target, mode_t mode, std::string& name) {
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kDigits - 2);
    for (int attempt = 0; attempt < 32; ++attempt) {
        name = target + ".tmp";
        for (int k = 0; k < 6; ++k) {
            name += kDigits[pick(rd)];
        }
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// The regular file that writing to path would replace: path itself, or the file a
// symbolic link points to. False when the link cannot be resolved.
bool resolvetarget(const char* path, std::string& target) {
    struct stat lst {};
    if (::lstat(path, &lst) != 0 || !S_ISLNK(lst.st_mode)) {
        target = path;
        return true;
    }
    std::array<char, PATH_MAX> buf{};
    if (::realpath(path, buf.data()) == nullptr) {
        return false;
    }
    target = buf.data();
    return true;
}

}  // namespace

uint32_t fdoubleread(const char* path, std::vector<double>& values) {
    values.clear();
    if (path == nullptr) {
        return 0;
    }
    FilePtr f(std::fopen(path, "rb"));
    if (!f) {
        return 0;
    }
    struct stat st {};
    // A device is no stream file: a character device such as /dev/zero never ends and
    // would be read until memory runs out, a block device is read as a whole disk.
    if (::fstat(::fileno(f.get()), &st) != 0 || S_ISDIR(st.st_mode) || S_ISCHR(st.st_mode) ||
        S_ISBLK(st.st_mode)) {
        return 0;
    }
    std::vector<double> out;
    uint64_t limit = kMaxCount + 1;  // streams of unknown length: up to the end
    if (S_ISREG(st.st_mode)) {
        limit = static_cast<uint64_t>(st.st_size) / 4;
        if (limit > kMaxCount) {
            return 0;
        }
        out.reserve(static_cast<std::size_t>(limit));
    }
    if (!readvalues(f.get(), limit, out) || out.empty()) {
        return 0;
    }
    if (S_ISREG(st.st_mode) && out.size() != limit) {
        return 0;  // the file shrank while being read
    }
    values = std::move(out);
    return static_cast<uint32_t>(values.size());
}

uint32_t fdoublewrite2(const char* path, double* values, uint32_t count) {
    if (path == nullptr || values == nullptr || count == 0) {
        return 0;
    }
    struct stat st {};
    const bool exists = ::stat(path, &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        return writedirect(path, values, count);  // device or FIFO (a directory fails)
    }
    if (exists && ::access(path, W_OK) != 0) {
        return 0;  // a write-protected stream stays as it is
    }
    std::string target;
    if (!resolvetarget(path, target)) {
        return writedirect(path, values, count);  // dangling link: create its target
    }
    std::string tmpname;
    const mode_t mode = exists ? (st.st_mode & 07777) : 0666;
    const int fd = createtemp(target, mode, tmpname);
    if (fd < 0) {
        // No temporary possible (e.g. a write-protected directory holding a writable
        // stream): fall back to writing the target itself.
        return writedirect(path, values, count);
    }
    if (exists) {
        ::fchmod(fd, mode);  // keep the permissions of the stream being replaced
    }
    std::FILE* f = ::fdopen(fd, "wb");
    if (f == nullptr) {
        ::close(fd);
        std::remove(tmpname.c_str());
        return 0;
    }
    if (!writeandclose(f, values, count) || std::rename(tmpname.c_str(), target.c_str()) != 0) {
        std::remove(tmpname.c_str());
        return 0;
    }
    return count;
}

}  // namespace brisvane
