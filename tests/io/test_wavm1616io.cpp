#include "io/wavm1616io.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace brisvane;
namespace fs = std::filesystem;

namespace {

struct Layout {
    uint32_t format = 1, channels = 1, rate = 16000, bits = 16;
    uint32_t fmtsize = 16;  // bytes beyond 16 are written as zeros
    bool list = false;      // a LIST chunk between the format and data chunks
    int64_t declared = -1;  // data size field; -1: the real size
};

void put(std::string& s, uint32_t v, int bytes) {
    for (int b = 0; b < bytes; ++b) s += static_cast<char>((v >> (8 * b)) & 0xFF);
}

std::string pcm(const std::vector<int16_t>& x) {
    std::string s;
    for (int16_t v : x) put(s, static_cast<uint16_t>(v), 2);
    return s;
}

std::string wav(const Layout& w, const std::string& data) {
    const uint32_t size = static_cast<uint32_t>(data.size());
    const std::pair<uint32_t, int> fmt[] = {{w.fmtsize, 4}, {w.format, 2}, {w.channels, 2}, {w.rate, 4},
                                            {w.rate * w.channels * w.bits / 8, 4}, {w.channels * w.bits / 8, 2},
                                            {w.bits, 2}};
    std::string s = "RIFF";
    put(s, 36 + size, 4);
    s += "WAVEfmt ";
    for (const auto& [v, n] : fmt) put(s, v, n);
    s += std::string(w.fmtsize > 16 ? w.fmtsize - 16 : 0, '\0');
    s += w.list ? "LIST\x04\x00\x00\x00INFOdata" : "data";
    put(s, w.declared < 0 ? size : static_cast<uint32_t>(w.declared), 4);
    return s + data;
}

class WavReader : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }

    // Writes the bytes to a file and reads it; x starts non-empty to see failures clear it.
    uint32_t read(const std::string& bytes) {
        std::ofstream(dir_ / "in.wav", std::ios::binary | std::ios::trunc) << bytes;
        x.assign(3, 9.0);
        const uint32_t n = wavreadm1616((dir_ / "in.wav").c_str(), x);
        EXPECT_EQ(x.size(), n);
        return n;
    }

    const fs::path dir_ = fs::path(BRISVANE_BINARY_DIR) / "testtmp" / ("wav_" + std::to_string(::getpid()));
    std::vector<double> x;
};

}  // namespace

TEST_F(WavReader, AcceptedLayoutsAndSampleScaling) {
    const std::string data = pcm({-32768, 0, 16384, 32767, -1});
    ASSERT_EQ(read(wav({}, data)), 5U);
    EXPECT_EQ(x, (std::vector<double>{-1.0, 0.0, 0.5, 0.999969482421875, -1.0 / 32768}));
    ASSERT_EQ(read(wav({.fmtsize = 18}, data)), 5U);  // extension size field skipped
    EXPECT_EQ(x[2], 0.5);
    // A chunk after the declared data is not read as samples.
    EXPECT_EQ(read(wav({}, data) + "LIST" + std::string(20, 'x')), 5U);
    // A long file, read in several blocks.
    std::vector<int16_t> many(40001);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<int16_t>(i * 7919);
    ASSERT_EQ(read(wav({}, pcm(many))), 40001U);
    EXPECT_EQ(x[40000], static_cast<int16_t>(40000 * 7919) / 32768.0);
}

TEST_F(WavReader, RejectsOtherLayouts) {
    const std::string data = pcm({1, 2, 3, 4});
    for (const Layout& w : {Layout{.list = true}, Layout{.channels = 2}, Layout{.bits = 8}, Layout{.rate = 44100},
                            Layout{.format = 3, .bits = 32}, Layout{.fmtsize = 14}}) {
        EXPECT_EQ(read(wav(w, data)), 0U) << w.format << w.channels << w.rate << w.bits << w.fmtsize;
    }
    for (std::size_t at : {3U, 8U}) {  // "RIFF" and "WAVE" tags
        std::string bad = wav({}, data);
        bad[at] ^= 0x20;
        EXPECT_EQ(read(bad), 0U) << at;
    }
    EXPECT_EQ(wavreadm1616(dir_.c_str(), x), 0U);
    EXPECT_EQ(wavreadm1616((dir_ / "missing.wav").c_str(), x), 0U);
    EXPECT_EQ(wavreadm1616(nullptr, x), 0U);
}

TEST_F(WavReader, DataSizeEdgesAndTruncation) {
    ASSERT_EQ(read(wav({}, pcm({16384}) + "\x7f")), 1U);  // odd byte ignored
    EXPECT_EQ(x[0], 0.5);
    EXPECT_EQ(read(wav({}, "\x01")), 0U);
    EXPECT_EQ(read(wav({}, "")), 0U);
    // Less data than declared, and the all-ones placeholder: the whole samples present.
    for (int64_t declared : {1000LL, 0xFFFFFFFFLL}) {
        ASSERT_EQ(read(wav({.declared = declared}, pcm({100, -100, 200}) + "\x05")), 3U);
        EXPECT_EQ(x[2], 200.0 / 32768);
    }
    EXPECT_EQ(read(wav({.declared = 0xFFFFFFFFLL}, "")), 0U);
    // A file ending anywhere inside its header is rejected.
    const std::string full = wav({}, pcm({1, 2}));
    for (std::size_t len = 0; len <= 44; ++len) EXPECT_EQ(read(full.substr(0, len)), 0U) << len;
    EXPECT_EQ(read(wav({.fmtsize = 40}, "").substr(0, 50)), 0U);
}

// A recording piped in (a FIFO cannot seek, so nothing can be reserved ahead) gives the same
// samples as the file itself, across many blocks.
TEST_F(WavReader, ReadsFromAPipe) {
    std::vector<int16_t> many(30001);
    for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<int16_t>(i * 104729);
    const std::string bytes = wav({}, pcm(many));
    ASSERT_EQ(read(bytes), 30001U);
    const std::vector<double> fromfile = x;
    const fs::path fifo = dir_ / "in.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << bytes; });
    std::vector<double> piped;
    EXPECT_EQ(wavreadm1616(fifo.c_str(), piped), 30001U);
    writer.join();
    EXPECT_EQ(piped, fromfile);
}
