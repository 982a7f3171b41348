#include "io/fdoubleio.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace brisvane;
namespace fs = std::filesystem;

namespace {

class StreamFiles : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const char* name) const { return (dir_ / name).string(); }
    static std::string contents(const std::string& p) {
        std::ifstream f(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }
    static void put(const std::string& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    const fs::path dir_ = fs::path(BRISVANE_BINARY_DIR) / "testtmp" / ("stream_" + std::to_string(::getpid()));
};

}  // namespace

TEST_F(StreamFiles, RoundTripNarrowsToNearestFloat) {
    std::vector<double> src = {0.0, 100.0, -1e10, 0.1, -2.5, 1e300};
    for (int i = 0; i < 3000; ++i) src.push_back(i * 0.37 - 900.0);  // several read blocks
    std::vector<double> work = src, back;
    const std::string p = path("a.lf0");
    ASSERT_EQ(fdoublewrite2(p.c_str(), work.data(), 3006), 3006U);
    const std::string bytes = contents(p);
    ASSERT_EQ(bytes.size(), 4U * 3006);
    EXPECT_EQ(bytes.substr(8, 4), std::string("\xF9\x02\x15\xD0", 4));  // -1e10, little-endian
    ASSERT_EQ(fdoubleread(p.c_str(), back), 3006U);
    for (std::size_t i = 0; i < src.size(); ++i) {
        ASSERT_EQ(back[i], static_cast<double>(static_cast<float>(src[i]))) << i;
    }
    EXPECT_TRUE(std::isinf(back[5]));  // beyond the float range
}

TEST_F(StreamFiles, ReadCountsWholeValuesOnly) {
    std::vector<double> x;
    put(path("ten"), std::string("\x00\x00\x80\x3f\x00\x00\x00\xc0\x01\x02", 10));
    ASSERT_EQ(fdoubleread(path("ten").c_str(), x), 2U);
    EXPECT_EQ(x, (std::vector<double>{1.0, -2.0}));
    put(path("three"), "abc");
    put(path("empty"), "");
    for (const std::string& p : {path("three"), path("empty"), path("missing"), dir_.string()}) {
        x.assign(2, 1.0);
        EXPECT_EQ(fdoubleread(p.c_str(), x), 0U) << p;
        EXPECT_TRUE(x.empty()) << p;
    }
    EXPECT_EQ(fdoubleread(nullptr, x), 0U);
    // 2^32 + 1 values (a sparse file): refused before anything is allocated.
    std::error_code ec;
    fs::resize_file(path("empty"), (uint64_t{1} << 34) + 4, ec);
    if (!ec) { EXPECT_EQ(fdoubleread(path("empty").c_str(), x), 0U); }
}

TEST_F(StreamFiles, WriteRefusalsCreateNothing) {
    double v[2] = {1.0, 2.0};
    EXPECT_EQ(fdoublewrite2(path("none").c_str(), v, 0), 0U);
    EXPECT_EQ(v[0], 1.0);
    EXPECT_EQ(fdoublewrite2(nullptr, v, 2), 0U);
    EXPECT_EQ(fdoublewrite2(path("nul").c_str(), nullptr, 2), 0U);
    EXPECT_EQ(fdoublewrite2((dir_ / "nodir" / "x.cc").c_str(), v, 2), 0U);
    EXPECT_EQ(fdoublewrite2(dir_.c_str(), v, 2), 0U);
    EXPECT_EQ(entries(), 0U);
    EXPECT_EQ(fdoublewrite2("/dev/null", v, 2), 2U);  // not a regular file: written directly
}

TEST_F(StreamFiles, ReplacementKeepsModeAndLinks) {
    const std::string p = path("out.cc"), link = path("link.cc");
    put(p, "old contents");
    ASSERT_EQ(::chmod(p.c_str(), 0640), 0);
    double v[3] = {1.0, 2.0, 3.0};
    ASSERT_EQ(fdoublewrite2(p.c_str(), v, 3), 3U);
    EXPECT_EQ(contents(p).size(), 12U);
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640U);
    // Writing through a symbolic link replaces the file it points to, not the link.
    fs::create_symlink(p, link);
    double w[1] = {5.0};  // v was consumed by the write
    ASSERT_EQ(fdoublewrite2(link.c_str(), w, 1), 1U);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(p), std::string("\x00\x00\xa0\x40", 4));
    EXPECT_EQ(entries(), 2U);  // no temporary left behind
}

TEST_F(StreamFiles, FailedWriteLeavesExistingStreamIntact) {
    const std::string p = path("keep.f0");
    put(p, "previous stream");
    // Cap the file size so that writing 400 bytes fails part way.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit cap = old;
    cap.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &cap), 0);
    std::vector<double> v(100, 1.0);
    const uint32_t n = fdoublewrite2(p.c_str(), v.data(), 100);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(n, 0U);
    EXPECT_EQ(contents(p), "previous stream");
    EXPECT_EQ(entries(), 1U);
    if (::geteuid() != 0) {  // permissions do not bind the superuser
        ASSERT_EQ(::chmod(p.c_str(), 0444), 0);
        v.assign(2, 1.0);
        EXPECT_EQ(fdoublewrite2(p.c_str(), v.data(), 2), 0U);
        EXPECT_EQ(contents(p), "previous stream");
    }
}
