// Timing of the numerical kernels at the sizes the analysis uses: FFTs of 1024 to 4096
// points (pitch tracking, envelopes, voicing analysis) and the three inverses at the
// normal-equation sizes of the harmonic fits (33, 133 and 267 unknowns).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/dft.h"
#include "dsp/matvect.h"

using namespace brisvane;

namespace {

std::vector<double> randomvalues(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) {
        v = u(gen);
    }
    return x;
}

// Each iteration restores the input (a copy of 16 to 64 KB) and transforms it once.
void BM_FftInterleaved(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    const std::vector<double> src = randomvalues(2 * static_cast<std::size_t>(n), 1);
    std::vector<double> x(src.size());
    for (auto _ : state) {
        std::memcpy(x.data(), src.data(), src.size() * sizeof(double));
        fftc(n, x.data());
        benchmark::DoNotOptimize(x.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_FftSplit(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    const std::vector<double> sre = randomvalues(static_cast<std::size_t>(n), 2);
    const std::vector<double> sim = randomvalues(static_cast<std::size_t>(n), 3);
    std::vector<double> re(sre.size());
    std::vector<double> im(sim.size());
    for (auto _ : state) {
        std::memcpy(re.data(), sre.data(), sre.size() * sizeof(double));
        std::memcpy(im.data(), sim.data(), sim.size() * sizeof(double));
        fftr(n, re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::DoNotOptimize(im.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

// Symmetric positive definite, well conditioned: M M^T / n + I.
std::vector<double> spdmatrix(uint32_t n) {
    const std::vector<double> M = randomvalues(static_cast<std::size_t>(n) * n, 4);
    std::vector<double> S(static_cast<std::size_t>(n) * n);
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            double s = 0.0;
            for (uint32_t k = 0; k < n; ++k) {
                s += M[i * n + k] * M[j * n + k];
            }
            S[i * n + j] = s / n + (i == j ? 1.0 : 0.0);
        }
    }
    return S;
}

void BM_CholeskyInverse(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    const std::vector<double> S = spdmatrix(n);
    std::vector<double> A(S.size());
    std::vector<double> W(S.size());
    for (auto _ : state) {
        std::memcpy(A.data(), S.data(), S.size() * sizeof(double));
        benchmark::DoNotOptimize(choleskyinvdet2(n, A.data(), W.data()));
        benchmark::ClobberMemory();
    }
}

void BM_ToeplitzInverse(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    // Autocorrelation of a first-order process (r_k = 0.9^k) plus a white floor.
    std::vector<double> T(static_cast<std::size_t>(n) * n);
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            const uint32_t lag = i > j ? i - j : j - i;
            T[i * n + j] = std::pow(0.9, lag) + (lag == 0 ? 0.1 : 0.0);
        }
    }
    std::vector<double> R(T.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(toeplitzsiminv(n, T.data(), R.data()));
        benchmark::ClobberMemory();
    }
}

void BM_GaussJordanInverse(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    const std::vector<double> S = spdmatrix(n);
    std::vector<double> A(S.size());
    std::vector<double> R(S.size());
    for (auto _ : state) {
        std::memcpy(A.data(), S.data(), S.size() * sizeof(double));
        benchmark::DoNotOptimize(simgaussinv(n, A.data(), R.data()));
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(BM_FftInterleaved)->Arg(1024)->Arg(2048)->Arg(4096);
BENCHMARK(BM_FftSplit)->Arg(1024)->Arg(2048)->Arg(4096);
// Plan-based complex transform of the pitch and voicing analyses (512 to 4096 points, split
// layout) and the real-input transform of 1024 points.
// One n-point plan-based transform per iteration of count random complex values (the rest of
// the arrays as the previous iteration left them) by transform(plan, re, im).
template <typename Transform>
void runfft(benchmark::State& state, uint32_t n, uint32_t count, Transform transform) {
    fftplan plan;
    fftplancreate(n, &plan);
    const std::vector<double> src = randomvalues(2 * static_cast<std::size_t>(count), 3);
    std::vector<double> re(n), im(n);
    for (auto _ : state) {
        std::memcpy(re.data(), src.data(), count * sizeof(double));
        std::memcpy(im.data(), src.data() + count, count * sizeof(double));
        transform(plan, re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_FftFast(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    runfft(state, n, n, [](const fftplan& p, double* re, double* im) { dofftrfast(p, re, im, 1); });
}

// A real transform of n random values per iteration: rfftfast, or (Centred) rfftfastcentred on
// a frame whose values from n/8 to 7n/8 are zero, as the voicing analysis's centred frames are.
template <bool Centred>
void runrfft(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    rfftplan plan;
    rfftplancreate(n, &plan);
    std::vector<double> x = randomvalues(n, 4);
    if (Centred) {
        for (uint32_t j = n / 8; j < n - n / 8; ++j) x[j] = 0.0;
    }
    std::vector<double> re(n / 2 + 1), im(n / 2 + 1);
    for (auto _ : state) {
        if (Centred) {
            rfftfastcentred(plan, x.data(), re.data(), im.data());
        } else {
            rfftfast(plan, x.data(), re.data(), im.data());
        }
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_RfftFast(benchmark::State& state) { runrfft<false>(state); }

// The pitch tracker's transforms (512 and 256 points, input already in bit-reversed order)
// and the voicing analysis's real transforms of centred frames (1024 and 2048 points).
void BM_FftFastReversed(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    runfft(state, n, n, [](const fftplan& p, double* re, double* im) { dofftrfastreversed(p, re, im); });
}

void BM_RfftFastCentred(benchmark::State& state) { runrfft<true>(state); }

// The noise spectrum's transform: 512 points of which the first 81 (a 161-sample window
// packed in pairs) are nonzero.
void BM_FftFastLow(benchmark::State& state) {
    const auto count = static_cast<uint32_t>(state.range(0));
    runfft(state, 512, count,
           [count](const fftplan& p, double* re, double* im) { dofftrfastlow(p, re, im, count); });
}

BENCHMARK(BM_FftFast)->Arg(512)->Arg(1024)->Arg(2048)->Arg(4096);
BENCHMARK(BM_FftFastLow)->Arg(81)->Arg(512);
BENCHMARK(BM_FftFastReversed)->Arg(256)->Arg(512);
BENCHMARK(BM_RfftFast)->Arg(1024);
BENCHMARK(BM_RfftFastCentred)->Arg(1024)->Arg(2048);
BENCHMARK(BM_CholeskyInverse)->Arg(33)->Arg(133)->Arg(267)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ToeplitzInverse)->Arg(33)->Arg(133)->Arg(267)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GaussJordanInverse)->Arg(33)->Arg(133)->Arg(267)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
