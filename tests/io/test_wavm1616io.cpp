#include "io/wavm1616io.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace brisvane;
namespace fs = std::filesystem;

namespace {

struct WavLayout {
    uint16_t format = 1;
    uint16_t channels = 1;
    uint32_t rate = 16000;
    uint16_t bits = 16;
    uint32_t fmtsize = 16;        // S; bytes beyond 16 are written as zeros
    bool listchunk = false;       // a LIST chunk between format and data
    int64_t declared = -1;        // data size field; -1: the size of the sample bytes
};

void put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

std::string samplebytes(const std::vector<int16_t>& x) {
    std::string s;
    for (int16_t v : x) {
        put16(s, static_cast<uint16_t>(v));
    }
    return s;
}

std::string wavbytes(const WavLayout& w, const std::string& data) {
    std::string s = "RIFF";
    put32(s, 36 + static_cast<uint32_t>(data.size()));
    s += "WAVEfmt ";
    put32(s, w.fmtsize);
    put16(s, w.format);
    put16(s, w.channels);
    put32(s, w.rate);
    put32(s, w.rate * w.channels * w.bits / 8);
    put16(s, w.channels * w.bits / 8);
    put16(s, w.bits);
    if (w.fmtsize > 16) {
        s += std::string(w.fmtsize - 16, '\0');
    }
    if (w.listchunk) {
        s += "LIST";
        put32(s, 4);
        s += "INFO";
    }
    s += "data";
    put32(s, w.declared < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(w.declared));
    return s + data;
}

class WavReader : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(BRISVANE_BINARY_DIR) / "testtmp" /
               (std::string("wav_") + info->name() + "_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& bytes) {
        const fs::path p = dir_ / std::to_string(n_++);
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }

    // Reads a file; the result vector starts non-empty to see that failures clear it.
    uint32_t read(const std::string& bytes, std::vector<double>& x) {
        x.assign(3, 9.0);
        return wavreadm1616(write(bytes).c_str(), x);
    }

    uint32_t read(const std::string& bytes) {
        std::vector<double> x;
        const uint32_t n = read(bytes, x);
        EXPECT_EQ(x.size(), n);
        return n;
    }

    fs::path dir_;
    int n_ = 0;
};

}  // namespace

TEST_F(WavReader, CanonicalFileAndSampleScaling) {
    std::vector<double> x;
    const std::string data = samplebytes({-32768, 0, 16384, 32767, -1});
    ASSERT_EQ(read(wavbytes({}, data), x), 5U);
    EXPECT_EQ(x, (std::vector<double>{-1.0, 0.0, 0.5, 0.999969482421875, -1.0 / 32768}));

    // An 18-byte format chunk (extension size field) is skipped.
    WavLayout ext;
    ext.fmtsize = 18;
    ASSERT_EQ(read(wavbytes(ext, data), x), 5U);
    EXPECT_EQ(x[2], 0.5);

    // Bytes after the declared data (a trailing chunk) are not samples.
    ASSERT_EQ(read(wavbytes({}, data) + "LIST" + std::string(20, 'x'), x), 5U);
}

TEST_F(WavReader, RejectsOtherLayouts) {
    const std::string data = samplebytes({1, 2, 3, 4});
    WavLayout w;
    w.listchunk = true;
    EXPECT_EQ(read(wavbytes(w, data)), 0U);
    w = {};
    w.channels = 2;
    EXPECT_EQ(read(wavbytes(w, data)), 0U);
    w = {};
    w.bits = 8;
    EXPECT_EQ(read(wavbytes(w, data)), 0U);
    w = {};
    w.rate = 44100;
    EXPECT_EQ(read(wavbytes(w, data)), 0U);
    w = {};
    w.format = 3;
    w.bits = 32;
    EXPECT_EQ(read(wavbytes(w, data)), 0U);
    w = {};
    w.format = 3;  // float tag with 16 bits is still not integer PCM
    EXPECT_EQ(read(wavbytes(w, data)), 0U);
    w = {};
    w.fmtsize = 14;  // malformed format chunk size
    EXPECT_EQ(read(wavbytes(w, data)), 0U);

    std::string tag = wavbytes({}, data);
    tag[3] = 'X';
    EXPECT_EQ(read(tag), 0U);
    tag = wavbytes({}, data);
    tag[8] = 'w';
    EXPECT_EQ(read(tag), 0U);
}

TEST_F(WavReader, DataSizeEdges) {
    std::vector<double> x;
    // 3 data bytes: one sample, the odd byte is ignored.
    ASSERT_EQ(read(wavbytes({}, samplebytes({16384}) + "\x7f"), x), 1U);
    EXPECT_EQ(x[0], 0.5);
    EXPECT_EQ(read(wavbytes({}, "\x01")), 0U);
    EXPECT_EQ(read(wavbytes({}, "")), 0U);

    // Fewer bytes than declared, and the all-ones placeholder: the samples present.
    const std::string data = samplebytes({100, -100, 200}) + "\x05";
    WavLayout w;
    w.declared = 1000;
    ASSERT_EQ(read(wavbytes(w, data), x), 3U);
    EXPECT_EQ(x[2], 200.0 / 32768);
    w.declared = 0xFFFFFFFFLL;
    ASSERT_EQ(read(wavbytes(w, data), x), 3U);
    w.declared = 0xFFFFFFFFLL;
    EXPECT_EQ(read(wavbytes(w, "")), 0U);

    // Large file read completely in blocks.
    std::vector<int16_t> many(40001);
    for (std::size_t i = 0; i < many.size(); ++i) {
        many[i] = static_cast<int16_t>(i * 7919);
    }
    ASSERT_EQ(read(wavbytes({}, samplebytes(many)), x), 40001U);
    EXPECT_EQ(x[40000], static_cast<int16_t>(40000 * 7919) / 32768.0);
}

TEST_F(WavReader, TruncatedHeaderIsRejected) {
    const std::string full = wavbytes({}, samplebytes({1, 2}));
    for (std::size_t len = 0; len <= 44; ++len) {
        EXPECT_EQ(read(full.substr(0, len)), 0U) << len;
    }
    WavLayout ext;
    ext.fmtsize = 40;  // extension runs past the end of the file
    EXPECT_EQ(read(wavbytes(ext, "").substr(0, 50)), 0U);
}

TEST_F(WavReader, UnreadablePaths) {
    std::vector<double> x(2, 1.0);
    EXPECT_EQ(wavreadm1616(dir_.c_str(), x), 0U);
    EXPECT_TRUE(x.empty());
    EXPECT_EQ(wavreadm1616((dir_ / "missing.wav").c_str(), x), 0U);
    EXPECT_EQ(wavreadm1616(nullptr, x), 0U);
}
