#pragma once
// Shared helpers of the fuzz targets: property checks that abort with a message,
// in-memory files with a path, a private scratch directory and capture of standard output.
#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

// Aborts the fuzzer (a finding) when a property that must hold does not.
#define FUZZ_CHECK(cond, ...)                                                   \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "property violated at %s:%d: %s\n  ", __FILE__,      \
                   __LINE__, #cond);                                            \
      std::fprintf(stderr, __VA_ARGS__);                                        \
      std::fprintf(stderr, "\n");                                               \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

namespace fuzzutil {

// An anonymous in-memory file reachable through /proc/self/fd/N, so a reader that
// opens a path sees exactly the fuzz bytes without touching the disk.
class MemFile {
 public:
  explicit MemFile(const char* name) : fd_(memfd_create(name, 0)) {
    FUZZ_CHECK(fd_ >= 0, "memfd_create failed");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemFile() { close(fd_); }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  void set(const uint8_t* data, size_t size) {
    FUZZ_CHECK(ftruncate(fd_, 0) == 0, "ftruncate failed");
    size_t done = 0;
    while (done < size) {
      ssize_t w = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      FUZZ_CHECK(w > 0, "pwrite failed");
      done += static_cast<size_t>(w);
    }
  }
  std::vector<uint8_t> get() const {
    struct stat st {};
    FUZZ_CHECK(fstat(fd_, &st) == 0, "fstat failed");
    std::vector<uint8_t> out(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
      ssize_t r = pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(done));
      FUZZ_CHECK(r > 0, "pread failed");
      done += static_cast<size_t>(r);
    }
    return out;
  }
  int fd() const { return fd_; }
  const char* path() const { return path_.c_str(); }

 private:
  int fd_;
  std::string path_;
};

// Names of the entries of a directory (without "." and ".."), sorted.
inline std::vector<std::string> listdir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline std::vector<uint8_t> readfile(const std::string& path) {
  std::vector<uint8_t> out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buf[4096];
    size_t r;
    while ((r = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + r);
    std::fclose(f);
  }
  return out;
}

inline void writefile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr, "cannot create %s", path.c_str());
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(), "short write");
  std::fclose(f);
}

// A private scratch directory under /tmp, unique to this process, emptied on demand.
class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/brisvane-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(tmpl) != nullptr, "mkdtemp failed");
    dir_ = tmpl;
  }
  ~ScratchDir() {
    clear();
    rmdir(dir_.c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  void clear() const {
    for (const auto& n : listdir(dir_)) {
      std::string p = dir_ + "/" + n;
      if (unlink(p.c_str()) != 0) rmdir(p.c_str());
    }
  }
  const std::string& path() const { return dir_; }
  std::string operator/(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// Redirects standard output (C stdio and iostreams) into a memory file while alive.
class StdoutCapture {
 public:
  StdoutCapture() : mem_("stdout") {
    std::fflush(stdout);
    std::cout.flush();
    saved_ = dup(1);
    FUZZ_CHECK(saved_ >= 0 && dup2(mem_.fd(), 1) == 1, "cannot redirect stdout");
  }
  ~StdoutCapture() { restore(); }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Restores standard output and returns everything printed meanwhile.
  std::string finish() {
    restore();
    std::vector<uint8_t> bytes = mem_.get();
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    std::cout.flush();
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
  }
  MemFile mem_;
  int saved_ = -1;
};

// Little-endian field readers for raw byte checks.
inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

}  // namespace fuzzutil
