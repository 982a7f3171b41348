// Dense matrix kernels of the least-squares estimators (harmonic amplitudes, pitch
// refinement, regularised discrete cepstrum). Flat row-major storage, element (i, j)
// of a matrix with C columns at i * C + j. Every singularity test is an exact
// comparison; the summation orders below fix the rounding of the results.
#include "dsp/matvect.h"
#include "dsp/simd.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace brisvane {

namespace {

using idx = std::size_t;

// Mirrored copy of a computed element: unchanged for sign 1, negated otherwise.
double mirrored(double v, int8_t sign) { return sign == 1 ? v : -v; }

// Row i of A times column j of B, A with row length b, B with row length a,
// summed in increasing k from 0.
double rowcol(const double* A, const double* B, idx i, idx j, idx a, idx b) {
    double s = 0.0;
    for (idx k = 0; k < b; ++k) {
        s += A[i * b + k] * B[k * a + j];
    }
    return s;
}

}  // namespace

int copymat2(double* dst, const double* src, uint32_t R, uint32_t C, double factor, uint8_t transpose) {
    const idx count = static_cast<idx>(R) * C;
    if (count == 0) {
        return 0;
    }
    if (dst == nullptr || (src == nullptr && factor != 0.0)) {
        return -1;
    }
    if (factor == 0.0) {
        std::fill(dst, dst + count, 0.0);
        return 0;
    }
    // The transposing form addresses both matrices with row length C: square only.
    if (transpose != 0 && R != C) {
        return -1;
    }
    if (transpose == 0) {
        for (idx f = 0; f < count; ++f) {
            const double v = src[f];
            dst[f] = factor == 1.0 ? v : (factor == -1.0 ? -v : v * factor);
        }
        return 0;
    }
    for (idx i = 0; i < R; ++i) {
        for (idx j = 0; j < C; ++j) {
            const double v = src[j * C + i];
            dst[i * C + j] = factor == 1.0 ? v : (factor == -1.0 ? -v : v * factor);
        }
    }
    return 0;
}

int addmat(double* A, const double* B, uint32_t count, double factor) {
    if (count == 0 || factor == 0.0) {
        return 0;
    }
    if (A == nullptr || B == nullptr) {
        return -1;
    }
    for (idx f = 0; f < count; ++f) {
        if (factor == 1.0) {
            A[f] = A[f] + B[f];
        } else if (factor == -1.0) {
            A[f] = A[f] - B[f];
        } else {
            A[f] = A[f] + factor * B[f];
        }
    }
    return 0;
}

int simprodmat(const double* A, const double* B, double* P, uint32_t a, uint32_t b, int8_t sign) {
    if (a == 0) {
        return 0;
    }
    if (P == nullptr || (b != 0 && (A == nullptr || B == nullptr))) {
        return -1;
    }
    const idx n = a;
    for (idx i = 0; i < n; ++i) {
        for (idx j = 0; j <= i; ++j) {
            const double v = rowcol(A, B, i, j, n, b);
            P[i * n + j] = v;
            if (j != i) {
                P[j * n + i] = mirrored(v, sign);
            }
        }
    }
    return 0;
}

int simpmprodmat(const double* A, const double* B, double* P, uint32_t a, uint32_t b, int8_t sign) {
    if (a == 0) {
        return 0;
    }
    if (P == nullptr || (b != 0 && (A == nullptr || B == nullptr))) {
        return -1;
    }
    const idx n = a;
    // Front index f and back index g = n*n - 1 - f meet in the middle; for odd n the
    // centre element is computed and then overwritten by its own mirrored copy.
    idx g = n * n - 1;
    for (idx f = 0; f <= g; ++f, --g) {
        const double v = rowcol(A, B, f / n, f % n, n, b);
        P[f] = v;
        P[g] = mirrored(v, sign);
        if (g == 0) {
            break;
        }
    }
    return 0;
}

double choleskyinvdet2(uint32_t n, double* A, double* W) {
    if (n == 0 || A == nullptr || W == nullptr) {
        return 0.0;
    }
    if (n == 1) {
        if (A[0] == 0.0) {
            return 0.0;
        }
        W[0] = 1.0 / A[0];
        return A[0];
    }
    const idx N = n;
    // A = U^T U, U upper triangular in the upper triangle of W.
    double d = 1.0;
    for (idx i = 0; i < N; ++i) {
        double s = 0.0;
        for (idx k = 0; k < i; ++k) {
            s += W[k * N + i] * W[k * N + i];
        }
        const double pivot = A[i * N + i] - s;
        d = d * pivot;
        const double u = std::sqrt(pivot);
        W[i * N + i] = u;
        if (std::isnan(u)) {
            return u;  // negative pivot: not positive definite
        }
        for (idx j = i + 1; j < N; ++j) {
            double t = 0.0;
            for (idx k = 0; k < i; ++k) {
                t += W[k * N + i] * W[k * N + j];
            }
            W[i * N + j] = (A[i * N + j] - t) / u;
        }
    }
    if (d == 0.0) {
        return 0.0;
    }
    // V = U^-1 by back substitution, into the upper triangle of A.
    for (idx j = 0; j < N; ++j) {
        A[j * N + j] = 1.0 / W[j * N + j];
        for (idx c = j; c-- > 0;) {
            double s = 0.0;
            for (idx k = c + 1; k <= j; ++k) {
                s += W[c * N + k] * A[k * N + j];
            }
            A[c * N + j] = -s / W[c * N + c];
        }
    }
    // A^-1 = V V^T, symmetric: upper triangle computed, lower mirrored.
    for (idx j = 0; j < N; ++j) {
        for (idx k = j; k < N; ++k) {
            double s = 0.0;
            for (idx l = k; l < N; ++l) {
                s += A[j * N + l] * A[k * N + l];
            }
            W[j * N + k] = s;
            W[k * N + j] = s;
        }
    }
    return d;
}

int toeplitzsiminv(uint32_t n, const double* T, double* R) {
    if (n == 0 || T == nullptr || R == nullptr) {
        return -1;
    }
    if (T[0] == 0.0) {
        return -1;
    }
    if (n == 1) {
        R[0] = 1.0 / T[0];
        return 0;
    }
    const idx N = n;
    // x: first column of the inverse of the leading block; y: the bordered one.
    std::vector<double> x(N, 0.0);
    std::vector<double> y(N, 0.0);
    std::vector<double> g(N, 0.0);  // per-column correction of the bordering step
    x[0] = 1.0 / T[0];
    std::fill(R, R + N * N, 0.0);
    R[0] = 1.0 / T[0];
    for (idx i = 1; i < N; ++i) {
        double c = 0.0;
        for (idx k = 0; k < i; ++k) {
            c += T[i * N + k] * x[k];
        }
        if (c == 1.0 || c == -1.0) {
            return -1;  // leading (i+1) block exactly singular
        }
        const double e = 1.0 / (1.0 - c * c);
        const double f = -c * e;
        y[0] = e * x[0];
        for (idx k = 1; k < i; ++k) {
            y[k] = e * x[k] + f * x[i - k];
        }
        y[i] = f * x[0];
        // Border every column j: g(j) = sum over k < i of T(i, k) R(k, j), summed in
        // increasing k for each column (rows are walked in the outer loop so that R is
        // read row by row), h(j) = [j == i] - g(j), and R(k, j) += y(i - k) h(j):
        // the reversed y is the new last column of the inverse.
        std::fill(g.begin(), g.end(), 0.0);
        for (idx k = 0; k < i; ++k) {
            const double t = T[i * N + k];
            const double* row = R + k * N;
            for (idx j = 0; j < N; ++j) {
                g[j] += t * row[j];
            }
        }
        for (idx j = 0; j < N; ++j) {
            g[j] = j == i ? 1.0 - g[j] : -g[j];
        }
        for (idx k = 0; k <= i; ++k) {
            const double yk = y[i - k];
            double* row = R + k * N;
            for (idx j = 0; j < N; ++j) {
                row[j] = row[j] + yk * g[j];
            }
        }
        std::swap(x, y);
    }
    return 0;
}

namespace {

// Horizontal sum of a four-lane vector, in the shape (v0 + v1) + (v2 + v3).
BRISVANE_KERNEL double lanesum(v4d v) { return (v[0] + v[1]) + (v[2] + v[3]); }

// Predictor update of one pair (lo, hi = i - lo) left over from the vector blocks of a
// Levinson step: the lower partner in the natural array al, the upper one in the reversed
// array ar (see LevinsonArrays); each becomes itself less c times its partner. The new values
// are written back and returned (ana at lo, anu at hi).
BRISVANE_KERNEL void predictorpair(double* al, double* ar, idx N, idx lo, idx hi, double c, double& ana,
                                   double& anu) {
    const double aa = al[lo];
    const double ad = ar[N - 1 - hi];
    ana = aa - c * ad;
    anu = ad - c * aa;
    al[lo] = ana;
    ar[N - 1 - hi] = anu;
}

// Storage of the vectors of the Levinson recursion (see levinsonstep): a and z each in two
// arrays, the natural order al[k] = a(k), zl[k] = z(k) for the lower partner k of each pair
// (k, i-k) and the reversed order ar[N-1-k] = a(k), zr[N-1-k] = z(k) for the upper partner, so
// that the four partners i-k of four consecutive k are four consecutive values: the pairs need
// no lane reversal. tr holds t reversed, tr[k] = t(N-1-k).
struct LevinsonArrays {
    double* al;
    double* ar;
    double* zl;
    double* zr;
    const double* t;
    const double* tr;
};

// Sums of one step of the Levinson recursion, see levinsonstep: four vector partial sums and
// the scalar ones.
struct LevinsonSums {
    v4d qa, qd, sa, sd;
    double qs, ss;
};

// One block of four pairs of levinsonstep: lower partners k = lo + j (natural arrays) and upper
// partners k = hi - j (reversed arrays), lane j of every vector holding the pair (lo + j, hi - j);
// the sums are accumulated in that lane order (levinsonstep turns two of them round).
template <bool Next>
BRISVANE_KERNEL void levinsonblock(idx N, idx i, idx lo, idx hi, const LevinsonArrays& w, v4d c4, v4d r4,
                                   LevinsonSums& u) {
    double* __restrict al = w.al;
    double* __restrict ar = w.ar;
    double* __restrict zl = w.zl;
    double* __restrict zr = w.zr;
    const idx up = N - 1 - hi;  // reversed index of the upper partners
    const v4d aa = load4(al + lo);
    const v4d au = load4(ar + up);
    const v4d ana = aa - c4 * au;  // new a(lo + j)
    const v4d anu = au - c4 * aa;  // new a(hi - j)
    const v4d zna = load4(zl + lo) + r4 * anu;  // new z(lo + j), partner a(i - lo - j) = a(hi - j)
    const v4d znu = load4(zr + up) + r4 * ana;  // new z(hi - j), partner a(lo + j)
    store4(al + lo, ana);
    store4(ar + up, anu);
    store4(zl + lo, zna);
    store4(zr + up, znu);
    if constexpr (Next) {
        const v4d tlo = load4(w.tr + (N - 2 - i + lo));  // t(i+1-k), k = lo + j
        const v4d tup = load4(w.t + (lo + 1));           // t(i+1-k), k = hi - j
        u.qa += tlo * ana;
        u.qd += tup * anu;
        u.sa += tlo * zna;
        u.sd += tup * znu;
    }
}

// One step i of the Levinson recursion of toeplitzsimsolve. The first column of the leading
// i-block's inverse is kept as x0 a(k) with a(0) = 1 (x0 = 1/prediction error), so that its
// update to the (i+1)-block, y(k) = e (x(k) - c x(i-k)), e = 1/(1 - c^2), is a(k) -= c a(i-k)
// with one multiplication, and x0 *= e. The solution z of the i-block is bordered with the
// reversed new column: z(k) += r a(i-k), r = res x0 (x0 already advanced). Both updates touch
// a(k) and a(i-k) only, so each pair (k, i-k) is updated in place from its old values, four
// pairs per vector, two vectors per pass of the loop. With Next, the sums
// q = sum_{k<=i} t(i+1-k) a(k) and s = sum_{k<=i} t(i+1-k) z(k) of step i+1 (c = x0 q) are
// formed from the new values while they are in registers, so every step is one pass over a and
// z. Their shape is fixed, as it sets the rounding of c and r: per quantity two vectors of lane
// sums over the blocks (added in increasing lo), for q with lane j at k = lo + j and at
// k = hi - 3 + j, for s at k = lo + 3 - j and at k = hi - j; the pairs left over and the centre
// in a scalar sum in increasing k; combined as lanesum(first + second) + scalar.
// Where the values are (see LevinsonArrays): every lower partner is written to the natural
// arrays only, every upper partner to the reversed ones only, the centre (element i/2 of an even
// step i) to both. Every step reads its lower partners from the natural arrays, its upper
// partners and centre from the reversed ones. An element k is created as an upper partner (a
// new a(k) = z(k) = 0 in the cleared reversed arrays), stays one while k > i/2, is the centre at
// step 2k and a lower partner from then on, so each read finds the value last written.
template <bool Next>
BRISVANE_KERNEL void levinsonstep(idx N, idx i, const LevinsonArrays& w, double c, double r, double& qn,
                                  double& sn) {
    const v4d c4 = splat4(c), r4 = splat4(r);
    LevinsonSums u{splat4(0.0), splat4(0.0), splat4(0.0), splat4(0.0), 0.0, 0.0};
    idx lo = 0, hi = i;  // pairs (lo + j, hi - j), j = 0 .. 3, the blocks disjoint
    for (; lo + 15 <= hi; lo += 8, hi -= 8) {
        levinsonblock<Next>(N, i, lo, hi, w, c4, r4, u);
        levinsonblock<Next>(N, i, lo + 4, hi - 4, w, c4, r4, u);
    }
    if (lo + 7 <= hi) {
        levinsonblock<Next>(N, i, lo, hi, w, c4, r4, u);
        lo += 4;
        hi -= 4;
    }
    const double* t = w.t;
    for (; lo < hi; ++lo, --hi) {
        double ana, and_;
        predictorpair(w.al, w.ar, N, lo, hi, c, ana, and_);
        const double zn = w.zl[lo] + r * and_;
        const double zu = w.zr[N - 1 - hi] + r * ana;
        w.zl[lo] = zn;
        w.zr[N - 1 - hi] = zu;
        if constexpr (Next) {
            u.qs += t[i + 1 - lo] * ana + t[i + 1 - hi] * and_;
            u.ss += t[i + 1 - lo] * zn + t[i + 1 - hi] * zu;
        }
    }
    if (lo == hi) {
        const double ac = w.ar[N - 1 - lo];
        const double an = ac - c * ac;
        const double zn = w.zr[N - 1 - lo] + r * an;
        w.al[lo] = an;
        w.ar[N - 1 - lo] = an;
        w.zl[lo] = zn;
        w.zr[N - 1 - lo] = zn;
        if constexpr (Next) {
            u.qs += t[i + 1 - lo] * an;
            u.ss += t[i + 1 - lo] * zn;
        }
    }
    if constexpr (Next) {
        // The blocks' upper q sums (lane j at k = hi - j) and lower s sums (lane j at k = lo + j)
        // turned round into the fixed shape.
        qn = lanesum(u.qa + reverse4(u.qd)) + u.qs;
        sn = lanesum(reverse4(u.sa) + u.sd) + u.ss;
    }
}

// Levinson recursion of toeplitzsimsolve with the arrays of LevinsonArrays: al, ar, zr and tr
// in work, zl in z; at the end z takes the upper partners' values from zr.
BRISVANE_KERNEL int levinsonbody(idx N, const double* __restrict t, const double* __restrict b, double* __restrict z,
                                 double* __restrict work, double* growth) {
    const LevinsonArrays w{work, work + N, z, work + 2 * N, t, work + 3 * N};
    double* tr = work + 3 * N;
    for (idx k = 0; k < N; ++k) {
        tr[k] = t[N - 1 - k];
    }
    // Elements beyond the current block are 0 (a(i) and z(i) of step i); a new element is first
    // read from the reversed arrays, the natural ones only once written (see levinsonstep).
    std::fill(w.ar, w.ar + N, 0.0);
    std::fill(w.zr, w.zr + N, 0.0);
    double x0 = 1.0 / t[0];
    w.al[0] = 1.0;
    z[0] = b[0] * x0;
    // q = sum_{k<i} t(i-k) a(k), so that c = x0 q; s = sum_{k<i} t(i-k) z(k), the bordered
    // solution's left side in its last equation.
    double q = 0.0, s = 0.0;
    if (N > 1) {
        q = t[1];
        s = t[1] * z[0];
    }
    for (idx i = 1; i < N; ++i) {
        const double c = x0 * q;
        if (std::fabs(c) == 1.0) {
            return -1;  // leading (i+1) block exactly singular (c == 1 or c == -1)
        }
        x0 = x0 * (1.0 / (1.0 - c * c));
        const double r = (b[i] - s) * x0;
        if (i + 1 < N) {
            levinsonstep<true>(N, i, w, c, r, q, s);
        } else {
            levinsonstep<false>(N, i, w, c, r, q, s);
        }
    }
    // After the last step the upper partners k >= N/2 (and the centre) are in zr.
    for (idx k = N / 2; N > 1 && k < N; ++k) {
        z[k] = w.zr[N - 1 - k];
    }
    if (growth != nullptr) {
        *growth = t[0] * x0;
    }
    return 0;
}

BRISVANE_AVX2 int levinsonavx2(idx N, const double* t, const double* b, double* z, double* work, double* growth) {
    return levinsonbody(N, t, b, z, work, growth);
}

int levinsonplain(idx N, const double* t, const double* b, double* z, double* work, double* growth) {
    return levinsonbody(N, t, b, z, work, growth);
}

// Storage of the centre-out solve (toeplitzsimsolvecentred): the predictor a in al and ar as in
// LevinsonArrays, tr = t reversed, and the lower halves of the two parity solutions, xs[r] and
// xa[r] for the element r of the full vector (r <= h, the centre at h).
struct CentredArrays {
    double* al;
    double* ar;
    double* xs;
    double* xa;
    const double* t;
    const double* tr;
    idx h;
};

// Sums of one pass of the centre-out solve: the predictor's q exactly as in LevinsonSums, and the
// parity solutions' bordering sums rho (vector lane sums and the scalar rest).
struct CentredSums {
    v4d qa, qd, rs, ra;
    double qs, rss, ras;
};

// Base pointers of one step i of the centre-out solve, so that the block of lower partners
// k = lo .. lo+3 reads every array at base + lo: al (a(k)), ar (a(i-k), reversed array), xs and
// xa (the lower partners of the central block of size i+1), tr (t(i+1-k)) and t (t(k+1)).
struct CentredBases {
    double* al;
    double* ar;
    double* xs;
    double* xa;
    const double* tr;
    const double* t;
};

// One block of four pairs of centredstep at lower partners lo .. lo+3, lanes and predictor
// arithmetic as in levinsonblock. With Solve (even step i = 2m) the parity solutions of the block
// of size i+1 take their bordering, xs[k] += ms (a(k) + a(i-k)), xa[k] += ma (a(k) - a(i-k)), and
// with Next the rho sums sum (t(k+1) +- t(i+1-k)) x[k] of step i+2 are accumulated.
template <bool Next, bool Solve>
BRISVANE_KERNEL void centredblock(const CentredBases& p, idx lo, v4d c4, v4d ms4, v4d ma4, CentredSums& u) {
    const v4d aa = load4(p.al + lo);
    const v4d au = load4(p.ar + lo);
    const v4d ana = aa - c4 * au;  // new a(lo + j)
    const v4d anu = au - c4 * aa;  // new a(i - lo - j)
    store4(p.al + lo, ana);
    store4(p.ar + lo, anu);
    v4d sn{}, an{};
    if constexpr (Solve) {
        sn = load4(p.xs + lo) + ms4 * (ana + anu);
        an = load4(p.xa + lo) + ma4 * (ana - anu);
        store4(p.xs + lo, sn);
        store4(p.xa + lo, an);
    }
    if constexpr (Next) {
        const v4d tlo = load4(p.tr + lo);  // t(i+1-k), k = lo + j
        const v4d tup = load4(p.t + lo);   // t(k+1): t(i+1-k) of the upper partner
        u.qa += tlo * ana;
        u.qd += tup * anu;
        if constexpr (Solve) {
            u.rs += (tup + tlo) * sn;
            u.ra += (tup - tlo) * an;
        }
    }
}

// One step i of the centre-out solve. The predictor part (a, q and the order of q's sums) is
// levinsonstep's, so c, x0 and the growth are the same values. On even steps i = 2m (Solve) the
// symmetric and antisymmetric solutions of the central block of size i+1 are bordered with
// a +- J a, J the reversal: both are stored as their lower halves only (the upper halves follow
// by parity), ms and ma their factors, and with Next the sums rho of step i+2 are formed:
// rho = sum_(k=0..i) t(k+1) x(k), folded by parity into the lower half (the centre once).
template <bool Next, bool Solve>
BRISVANE_KERNEL void centredstep(idx N, idx i, const CentredArrays& w, double c, double ms, double ma, double& qn,
                                 double& rsn, double& ran) {
    const v4d c4 = splat4(c), ms4 = splat4(ms), ma4 = splat4(ma);
    CentredSums u{splat4(0.0), splat4(0.0), splat4(0.0), splat4(0.0), 0.0, 0.0, 0.0};
    // The lower partner k of the block of size i+1 is the full vector's element h - i/2 + k.
    double* xs = w.xs + (w.h - i / 2);
    double* xa = w.xa + (w.h - i / 2);
    // Upper partner i - k at ar[N-1-i+k]; t(i+1-k) at tr[N-2-i+k] (read only with Next, i < N-1).
    const CentredBases p{w.al, w.ar + (N - 1 - i), xs, xa, w.tr + (Next ? N - 2 - i : 0), w.t + 1};
    idx lo = 0, hi = i;
    if constexpr (Solve) {
        for (; lo + 7 <= hi; lo += 4, hi -= 4) {
            centredblock<Next, Solve>(p, lo, c4, ms4, ma4, u);
        }
    } else {
        for (; lo + 15 <= hi; lo += 8, hi -= 8) {
            centredblock<Next, Solve>(p, lo, c4, ms4, ma4, u);
            centredblock<Next, Solve>(p, lo + 4, c4, ms4, ma4, u);
        }
        if (lo + 7 <= hi) {
            centredblock<Next, Solve>(p, lo, c4, ms4, ma4, u);
            lo += 4;
            hi -= 4;
        }
    }
    const double* t = w.t;
    for (; lo < hi; ++lo, --hi) {
        double ana, and_;
        predictorpair(w.al, w.ar, N, lo, hi, c, ana, and_);
        double sn = 0.0, an = 0.0;
        if constexpr (Solve) {
            sn = xs[lo] + ms * (ana + and_);
            an = xa[lo] + ma * (ana - and_);
            xs[lo] = sn;
            xa[lo] = an;
        }
        if constexpr (Next) {
            u.qs += t[i + 1 - lo] * ana + t[i + 1 - hi] * and_;
            if constexpr (Solve) {
                u.rss += (t[lo + 1] + t[i + 1 - lo]) * sn;
                u.ras += (t[lo + 1] - t[i + 1 - lo]) * an;
            }
        }
    }
    if constexpr (Solve) {
        // Centre k = m (lo == hi on an even step): a + J a is 2 a(m) there, a - J a is 0.
        const double ac = w.ar[N - 1 - lo];
        const double an = ac - c * ac;
        w.al[lo] = an;
        w.ar[N - 1 - lo] = an;
        const double sn = xs[lo] + ms * (an + an);
        xs[lo] = sn;
        if constexpr (Next) {
            u.qs += t[i + 1 - lo] * an;
            u.rss += t[lo + 1] * sn;
        }
    }
    if constexpr (Next) {
        qn = lanesum(u.qa + reverse4(u.qd)) + u.qs;
        if constexpr (Solve) {
            rsn = lanesum(u.rs) + u.rss;
            ran = lanesum(u.ra) + u.ras;
        }
    }
}

// Centre-out solve of toeplitzsimsolvecentred, N = 2h + 1: al, ar and tr in work.
BRISVANE_KERNEL int centredbody(idx h, const double* __restrict t, const double* __restrict ys,
                                const double* __restrict ya, double* __restrict zs, double* __restrict za,
                                double* __restrict work, double* growth) {
    const idx N = 2 * h + 1;
    const CentredArrays w{work, work + N, zs, za, t, work + 2 * N, h};
    double* tr = work + 2 * N;
    for (idx k = 0; k < N; ++k) {
        tr[k] = t[N - 1 - k];
    }
    std::fill(w.ar, w.ar + N, 0.0);
    // Elements outside the current central block are 0 until it reaches them.
    std::fill(zs, zs + h + 1, 0.0);
    std::fill(za, za + h + 1, 0.0);
    double x0 = 1.0 / t[0];
    w.al[0] = 1.0;
    zs[h] = ys[0] * x0;
    // q as in levinsonbody; rs and ra: rho of the symmetric and antisymmetric solution for the
    // next even step, the first row of T times the current central solution shifted by one.
    double q = 0.0, rs = 0.0, ra = 0.0;
    if (N > 1) {
        q = t[1];
        rs = t[1] * zs[h];
    }
    for (idx i = 1; i < N; ++i) {
        const double c = x0 * q;
        if (std::fabs(c) == 1.0) {
            return -1;  // leading (i+1) block exactly singular (c == 1 or c == -1)
        }
        x0 = x0 * (1.0 / (1.0 - c * c));
        if (i % 2 == 1) {
            // The block of size i+1 is even: no central solution, the predictor only (i < N-1).
            centredstep<true, false>(N, i, w, c, 0.0, 0.0, q, rs, ra);
            continue;
        }
        // Outer elements of the new central block: right-hand side at distance m = i/2.
        const idx m = i / 2;
        const double ms = (ys[m] - rs) * x0;
        const double ma = (ya[m] - ra) * x0;
        if (i + 1 < N) {
            centredstep<true, true>(N, i, w, c, ms, ma, q, rs, ra);
        } else {
            centredstep<false, true>(N, i, w, c, ms, ma, q, rs, ra);
        }
    }
    if (growth != nullptr) {
        *growth = t[0] * x0;
    }
    return 0;
}

BRISVANE_AVX2 int levinsoncentredavx2(idx h, const double* t, const double* ys, const double* ya, double* zs,
                                      double* za, double* work, double* growth) {
    return centredbody(h, t, ys, ya, zs, za, work, growth);
}

int levinsoncentredplain(idx h, const double* t, const double* ys, const double* ya, double* zs, double* za,
                         double* work, double* growth) {
    return centredbody(h, t, ys, ya, zs, za, work, growth);
}

}  // namespace

int toeplitzsimsolve(uint32_t n, const double* t, const double* b, double* z, double* work, double* growth) {
    if (n == 0 || t == nullptr || b == nullptr || z == nullptr || work == nullptr) {
        return -1;
    }
    if (t[0] == 0.0) {
        return -1;
    }
    const idx N = n;
    if (cpuhasavx2()) {
        return levinsonavx2(N, t, b, z, work, growth);
    }
    return levinsonplain(N, t, b, z, work, growth);
}

int toeplitzsimsolvecentred(uint32_t h, const double* t, const double* ys, const double* ya, double* zs, double* za,
                            double* work, double* growth) {
    if (t == nullptr || ys == nullptr || ya == nullptr || zs == nullptr || za == nullptr || work == nullptr) {
        return -1;
    }
    if (t[0] == 0.0) {
        return -1;
    }
    if (cpuhasavx2()) {
        return levinsoncentredavx2(h, t, ys, ya, zs, za, work, growth);
    }
    return levinsoncentredplain(h, t, ys, ya, zs, za, work, growth);
}

int simgaussinv(uint32_t n, double* A, double* R) {
    if (n == 0 || A == nullptr || R == nullptr) {
        return -1;
    }
    if (n == 1) {
        if (A[0] == 0.0) {
            return -1;
        }
        R[0] = 1.0 / A[0];
        return 0;
    }
    const idx N = n;
    std::fill(R, R + N * N, 0.0);
    for (idx i = 0; i < N; ++i) {
        R[i * N + i] = 1.0;
    }
    // m: highest column of R that can be nonzero in the rows handled so far.
    idx m = 0;
    for (idx i = 0; i < N; ++i) {
        m = std::max(m, i);
        if (A[i * N + i] == 0.0) {
            idx j = i + 1;
            while (j < N && A[j * N + i] == 0.0) {
                ++j;
            }
            if (j == N) {
                return -1;
            }
            m = std::max(m, j);
            for (idx k = i; k < N; ++k) {
                std::swap(A[i * N + k], A[j * N + k]);
            }
            for (idx k = 0; k <= m; ++k) {
                std::swap(R[i * N + k], R[j * N + k]);
            }
        }
        for (idx j = i + 1; j < N; ++j) {
            if (A[j * N + i] == 0.0) {
                continue;
            }
            const double q = A[j * N + i] / A[i * N + i];
            A[j * N + i] = 0.0;
            for (idx k = i + 1; k < N; ++k) {
                A[j * N + k] = A[j * N + k] - q * A[i * N + k];
            }
            for (idx k = 0; k <= m; ++k) {
                R[j * N + k] = R[j * N + k] - q * R[i * N + k];
            }
        }
    }
    // Back substitution of the lower triangle only (the inverse is symmetric).
    for (idx r = N; r-- > 0;) {
        const double s = 1.0 / A[r * N + r];
        A[r * N + r] = 1.0;
        for (idx k = 0; k <= r; ++k) {
            R[r * N + k] = R[r * N + k] * s;
        }
        for (idx i = r; i-- > 0;) {
            const double air = A[i * N + r];
            if (air == 0.0) {
                continue;
            }
            for (idx k = 0; k <= i; ++k) {
                R[i * N + k] = R[i * N + k] - air * R[r * N + k];
            }
            A[i * N + r] = 0.0;
        }
    }
    for (idx i = 0; i < N; ++i) {
        for (idx j = 0; j < i; ++j) {
            R[j * N + i] = R[i * N + j];
        }
    }
    return 0;
}

}  // namespace brisvane
