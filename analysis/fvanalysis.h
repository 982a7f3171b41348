#pragma once
// Maximum voiced frequency: per frame, the frequency above which the spectrum stops
// being harmonic, and its warping onto the cepstral frequency axis.
//
// Outline. Each voiced frame (f0 = F) is cut with a raised-cosine window of three periods,
// placed zero-phase in a four-times longer transform. Every spectral peak from 0.9 F up
// gets a score in [0, 1] (slm) telling how closely the bins around it follow the main lobe
// that a single stationary sinusoid leaves through that window. Scores at or below 0.85
// count as noise-like. The ordered peak list is split into a sinusoid-like lower part
// (target score 1) and a noise-like upper part (target score 0.85); the cheapest splits in
// the least-squares sense become the frame's candidates, each proposing the frequency of
// its lowest noise-like peak. A dynamic-programming search over all frames then picks one
// candidate per frame, charging lambda * (change in Hz)^2 between consecutive frames.
#include <cstdint>

namespace brisvane {

// Lowest f0 analysed, Hz. Lower (but positive) values are taken as unvoiced: no speech is
// voiced that low, and the bound keeps the transform length finite (16384 points at
// 16 kHz; the window is three periods long).
inline constexpr double kFvMinF0 = 20.0;
// Longest analysis window, samples. Frames needing more (only at sampling rates above
// about 109 kHz, since f0 >= 20 Hz) are taken as unvoiced; transforms stay <= 65536 points.
inline constexpr uint32_t kFvMaxWindow = 16383;
// Drop limit between consecutive spectral maxima: 12.5 dB of power in natural-log units
// (1.25 * ln 10). A maximum whose vertex lies lower than the previous one minus this is
// taken as a sidelobe or noise ripple, not a peak.
inline constexpr double kFvDropLimit = 2.8782313662425576;
// Score floor and target of noise-like peaks; target of sinusoid-like peaks is 1.
inline constexpr double kFvScoreFloor = 0.85;

// Analysis geometry of one voiced frame with f0 = F Hz at fs Hz.
struct fvframe {
  uint32_t W = 0;      // window length: odd length of three periods of F
  uint32_t Hh = 0;     // half window, W = 2 Hh + 1
  uint32_t N = 0;      // transform length: smallest power of two >= 4 W
  double df = 0.0;     // bin spacing fs / N, Hz
  uint32_t g = 0;      // scoring half-width floor((F * 0.5) / df), bins
  uint32_t bfirst = 0; // first bin searched for peaks, floor((F * 0.9) / df)
  uint32_t blast = 0;  // last bin searched, N/2 - g
};

// Fills fr for f0 = F Hz at fs Hz. With fs = 16000 and F = 100: W 481, Hh 240, N 2048,
// df 7.8125 Hz, g 6, bins 11..1018. Returns 0 when the frame can be analysed; -1 when it
// is taken as unvoiced: F not finite or below kFvMinF0, fs not finite and positive, a
// window longer than kFvMaxWindow, or an empty search range (F so high, above about
// fs/2.8, that no peak fits between 0.9 F and N/2 - g, or a first bin below 1). fr is
// filled as far as it could be computed in every case (null fr: -1).
int fvframesetup(double F, double fs, fvframe* fr);

// Cost per squared Hz of a change of the maximum voiced frequency between consecutive
// frames: (((fs * 0.005) / S) * c * c) / ((fs * 0.25) * fs), c = 0.15000000000000002,
// i.e. (0.005 fs / S) * (c / (fs/2))^2; 3.515625e-10 for fs 16000 Hz and S 80 samples.
double fvtransitionweight(double fs, uint32_t S);

// Peak list of one frame from its log power spectrum P (natural log of |X|^2 per bin).
// Scans bins b = bfirst..blast upward; a strict local maximum (P[b] > P[b-1] and
// P[b] > P[b+1]) is fitted by a parabola through its three bins; the first maximum is
// accepted, each later one only if its vertex height exceeds the previous maximum's vertex
// height minus kFvDropLimit (every maximum, accepted or not, sets that threshold). For
// each accepted peak, bins[p] = b and freq[p] = (vertex offset + b) * df, Hz. P must hold
// bins bfirst-1..blast+1 (bfirst >= 1); bins and freq room for (blast - bfirst)/2 + 1
// peaks. Returns the number of peaks (0 for null arrays or bfirst < 1 or bfirst > blast).
uint32_t fvpeaklist(const double* P, uint32_t bfirst, uint32_t blast, double df,
                    uint32_t* bins, double* freq);

// Split costs of K peak scores s[0..K-1] (in increasing frequency), each first raised to
// 0.85 when not above it (NaN included): E[i], 0 <= i < K, is the mean squared deviation
// from target 1 of the peaks below i and from target 0.85 of the peaks from i on, computed
// by a downward then an upward running-sum sweep and a final scaling by 1/K. Returns 0, or
// -1 (nothing written) for null arrays with K > 0.
int fvsplitcosts(const double* s, uint32_t K, double* E);

// Candidate split indices of K >= 1 split costs, in increasing order: 0 when E[0] < E[1];
// every strict interior local minimum; K-1 when there is none; 0 alone when K = 1.
// idx needs room for K entries. Returns the count (0 for K = 0 or null arrays).
uint32_t fvcandidates(const double* E, uint32_t K, uint32_t* idx);

// fvsplitcosts followed by fvcandidates in two passes instead of four, with the same
// operations (the same costs E and indices idx): a downward sweep floors the scores in place
// (s is overwritten with the floored scores), an upward sweep finishes each cost (its sum
// and its scaling by 1/K) and tests the cost below it as a candidate. E and idx need room
// for K entries. Returns the candidate count (0, nothing written, for K = 0 or null arrays).
uint32_t fvsplitcandidatesfast(double* s, uint32_t K, double* E, uint32_t* idx);

// Viterbi choice of one candidate per frame. Frame k has count[k] >= 1 candidates, stored
// frame after frame in freq (Hz) and cost (split cost). The accumulated cost of candidate i
// of frame k is its own cost plus the minimum over the previous frame's candidates m of
// their accumulated cost + lambda * (freq_k[i] - freq_{k-1}[m])^2 (strict comparison, so
// the first among equals wins); frame 0 keeps its own costs. The cheapest candidate of the
// last frame (first among equals) is traced back; fv[k] receives the chosen frequencies.
// Returns 0; -1 (fv untouched) for null arrays with n > 0 or a frame without candidates.
int fvpathsearch(uint32_t n, const uint32_t* count, const double* freq, const double* cost,
                 double lambda, double* fv);

// fvpathsearch with four candidates of a frame costed at once (one per vector lane, each
// running over the previous frame's candidates in order with the same operations and strict
// comparisons): the same track. Arguments and results as fvpathsearch.
int fvpathsearchfast(uint32_t n, const uint32_t* count, const double* freq, const double* cost,
                     double lambda, double* fv);

// fv[k] in Hz for the n frames centred on offset + k*S samples of x (len samples at fs Hz);
// 0 for unvoiced frames. A frame is voiced when f0[k] is finite and >= kFvMinF0 Hz (0,
// negative, NaN and infinite values are unvoiced) and fvframesetup accepts it. Samples
// outside the signal count as 0. The log power of a bin of exactly zero power is taken as
// ln(DBL_MIN) (about -708) instead of -inf, so digital silence gives a flat spectrum; a
// frame without any usable spectral peak (such silence included) gets 0 like an unvoiced
// one. S = 0 (every frame on one centre) makes the
// transition weight infinite; the track stays made of candidate frequencies. Forwards to
// getfvslm.
// Returns 0; -1 (fv untouched) for null f0 or fv with n > 0, null x with len > 0, or fs
// not finite and positive. fv may be the f0 array itself.
int getfvoicing(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
                const double* f0, double* fv);
int getfvslm(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
             const double* f0, double* fv);

// Fast form of getfvoicing: the same frames, peaks, scores, candidates and path search, with
// the spectrum taken by a real-input transform from precomputed tables (one that skips the
// zeros around the window, which spans at most a quarter of the transform), the strict local
// maxima found on the power spectrum (logarithms taken only of the three bins around each
// maximum, by a vector logarithm within one unit in the last place: fvpeaklistpowerfast)
// and the sinusoid-likeness kernel evaluated by angle addition, four peaks at a
// time (one per vector lane, bins in the order of slmfast, both kernels of a bin over one
// denominator; the kernels' first sines and cosines by a vector sine/cosine within about
// 1e-16 of libm's; near 0 and +-pi as slmfast), split costs and candidates by
// fvsplitcandidatesfast and the path by fvpathsearchfast. Windows and kernel tables
// are made once per call (the windows of all half lengths the track needs, up to 4 MB of
// them, and a kernel table per half length when a frame first needs it; beyond that, per
// frame). The results differ from getfvoicing only by rounding and
// do not depend on whether the AVX2 copies of the vector loops run; arguments and results
// as getfvoicing.
int getfvoicingfast(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset,
                    uint32_t n, const double* f0, double* fv);

// Sinusoid-likeness of the peak at f Hz of the N-point interleaved complex spectrum X of a
// W-sample frame: the magnitude of the normalised correlation of bins b-g..b+g with the
// window's amplitude response K(theta) = sin(theta) * (1/theta - 0.5 (1/(theta-pi) +
// 1/(theta+pi))) placed at +f and at its mirror image (-f below fs/4, fs - f from fs/4 up).
// 1 for a lone stationary sinusoid, lower for noise. The mirror is modelled in phase with
// the peak, so within about one main lobe of fs/2 only a cosine-phase sinusoid (relative
// to the frame centre) scores near 1. Returns a value in [0, 1] (up to
// rounding); 0 when the neighbourhood does not fit (b < g or b + g >= N), X is null, the
// bins or the model have zero energy, or the result is not finite.
double slm(const double* X, uint32_t N, double fs, double f, uint32_t W, uint32_t b, uint32_t g);

// Peak list of fvpeaklist from the powers q[b] = |X_b|^2 (an exact 0 replaced by DBL_MIN)
// instead of their logarithms: a bin is a strict local maximum of ln q when it is one of q
// and its logarithm still exceeds both neighbours' (rounding can make the logarithms of
// two close powers equal), so only the three bins around each maximum are taken to the
// log. Same arguments, bins read and result as fvpeaklist on P = ln q.
uint32_t fvpeaklistpower(const double* q, uint32_t bfirst, uint32_t blast, double df,
                         uint32_t* bins, double* freq);

// fvpeaklistpower with the logarithms of the three bins around each maximum taken by the
// vector logarithm of dsp/simd.h (lognormal, within one unit in the last place of std::log)
// four maxima at a time; powers that are not positive normal finite doubles take std::log.
// Same arguments, bins read and result as fvpeaklist on P[b] = lognormal(q[b]) (std::log(q[b])
// where q[b] is not a positive normal finite double); q must hold bins bfirst-1 .. blast+1.
uint32_t fvpeaklistpowerfast(const double* q, uint32_t bfirst, uint32_t blast, double df,
                             uint32_t* bins, double* freq);

// slm on a spectrum in split layout (re[i], im[i], bins 0 .. b+g) with the sines of the
// kernel taken by angle addition, sin(theta_a + k d) with d = pi W / N, from sin and cos of
// the first angle theta_a of each kernel and the table cosd[k] = cos(k d), sind[k] = sin(k d),
// k = 0 .. 2g (fvslmtable), and the kernel's three fractions over one denominator. Within
// 1/64 rad of theta = 0 and +-pi, where the kernel divides a small sine by a small factor, the
// kernel is evaluated as in slm (this includes the exact values 1 and 0.5). The angles and
// the order of the sums are those of slm; the result differs from slm only by rounding.
// Same range checks and results as slm (0 for null arrays).
double slmfast(const double* re, const double* im, uint32_t N, double fs, double f, uint32_t W,
               uint32_t b, uint32_t g, const double* cosd, const double* sind);
// Fills cosd[k] = cos(k d) and sind[k] = sin(k d), d = pi W / N, for k = 0 .. 2g (2g + 1
// values each). Returns 0, or -1 (nothing written) for null arrays or N = 0.
int fvslmtable(uint32_t N, uint32_t W, uint32_t g, double* cosd, double* sind);

// Rewrites the n maximum voiced frequencies (Hz) in place on the warped axis of the
// all-pass factor alpha: v <= 0 -> 0, v >= fs/2 -> fs/2, otherwise
// fwarp(v * pi / (fs/2), alpha) * (fs/2) / pi. alpha == 0 leaves the track untouched (even
// negative values and values above fs/2). A NaN value stays NaN. Returns 0; -1 (nothing
// changed) for null fv with n > 0 or fs not finite and positive.
int fvoicingwarp(uint32_t n, double* fv, double fs, double alpha);

}  // namespace brisvane
