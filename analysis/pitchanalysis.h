#pragma once
// f0 estimation: autocorrelation pitch tracker with a Viterbi path search, its
// high-resolution variant on a 2x upsampled signal, and the log-f0 conversions.
//
// Tracker outline. Every frame (centre c = offset + k*S samples) is cut with a Hanning window
// of three periods of f0min, its mean (over two periods of f0min around the centre) removed,
// and its autocorrelation divided by that of the window itself. Strict local maxima of this
// normalised autocorrelation above 0.225 within the lag range fs/f0max .. fs/f0min become
// voiced candidates (up to five per frame, parabola-interpolated); slot 5 of each frame is the
// unvoiced candidate, whose strength grows as the frame's local peak falls below the signal's
// global peak. A dynamic-programming search picks one candidate per frame, trading candidate
// strength against octave jumps and voicing changes.
#include <cstdint>
#include <vector>

namespace brisvane {

// Log-f0 marker of an unvoiced frame (exactly representable as a 32-bit float: F9 02 15 D0).
inline constexpr double kUnvoicedLogF0 = -1e10;

// f0 in Hz -> natural log of f0; 0, negative or NaN -> -1e10. In place. Returns 0, or -1
// (nothing done) when values is null and count > 0.
int f02logf0(uint32_t count, double* values);
// log-f0 -> Hz: values strictly above -1e10 -> exp(value); -1e10, anything below it and NaN
// -> 0 (unvoiced). In place. Returns 0, or -1 (nothing done) when values is null and count > 0.
int logf02f0(uint32_t count, double* values);

// Candidate slots of one frame: 0..4 voiced, 5 the unvoiced candidate (frequency always 0).
inline constexpr int kPitchSlots = 6;
inline constexpr int kPitchVoicedSlots = 5;

// Settings of one tracker call, derived from fs (Hz), the frame shift S (samples) and the
// search range. With fs 16000, S 80, f0min 60, f0max 500: W 801, H 400, N 1024, P 135,
// lags 32..266, R 2.
struct pitchsettings {
  double fs = 0.0;           // sampling rate, Hz
  double f0min = 0.0;        // Hz, after the corrections below
  double f0max = 0.0;        // Hz, after the corrections below
  double R = 0.0;            // time-step factor (fs * 0.01) / S: 1 for a 10 ms shift
  int64_t lmin = 0;          // shortest lag ceil(fs / f0max), samples
  int64_t lmax = 0;          // longest lag floor(fs / f0min), samples
  uint32_t W = 0;            // window length: odd, three periods of f0min
  uint32_t H = 0;            // half window, W = 2H + 1
  uint32_t N = 0;            // transform length: smallest power of two >= W
  uint32_t P = 0;            // core half-width: odd length of half a period of f0min
  // The spans actually used, kept inside the window whatever f0min is (they equal the
  // nominal ones, lags lmin..lmax, mean over H +- 2P, local peak over H +- P, whenever
  // fs / f0min >= 7, i.e. f0min <= 2286 Hz at 16 kHz):
  int64_t lagfirst = 0;      // max(lmin, 1)
  int64_t laglast = 0;       // min(lmax, H - 2); empty range (lagfirst > laglast) = all unvoiced
  uint32_t meanhalf = 0;     // min(2P, H): the mean runs over H - meanhalf .. H + meanhalf
  uint32_t peakhalf = 0;     // min(P, H): the local peak over H - peakhalf .. H + peakhalf
};

// Fills st from fs (Hz), S (samples) and f0min/f0max (Hz). Corrections: f0min not above 0
// (or NaN) -> 60 Hz; then f0max not above f0min (or NaN) -> 500 Hz (which may leave it below
// f0min: empty lag range); f0min so low that the window would exceed 2^20 samples
// (fs / f0min > 349524) is raised to fs / 349524. Returns 0, or -1 (st untouched) when fs is
// not a finite number in (0, 1e9] Hz or S is 0.
int getpitchsettings(double fs, uint64_t S, double f0min, double f0max, pitchsettings* st);

// Circular autocorrelation of N interleaved complex points in place: forward FFT, every bin
// replaced by its squared magnitude (imaginary part 0), inverse FFT without 1/N. The real
// parts then hold the autocorrelation at lags 0..N-1 scaled by N. N must be a power of two;
// returns 0, or -1 (data untouched) otherwise.
int autocorrelation(int32_t N, double* buf);

// Voiced candidate search of one frame on the normalised autocorrelation rho (rho[l] for
// l = lagfirst - 1 .. laglast + 1 must be readable; lagfirst >= 1). Slots 0..4 of freq and
// strength are cleared and then filled: every strict local maximum above 0.225 is
// parabola-interpolated (a vertex beyond the end lag of the range is pulled back to it with
// the raw height; a height above 1 is reciprocated), ranked by h + 0.01*log2(f / f0min), and
// kept when a slot is free or it is at least as strong as the weakest (lowest-numbered among
// equals) of five. The ranking term is removed again, so strength holds h. Slot 5 is untouched.
void pitchcandidates(const double* rho, int64_t lagfirst, int64_t laglast, double fs,
                     double f0min, double* freq, double* strength);
// pitchcandidates with the same results bit for bit: the peak tests run on four lags at a
// time, then the peaks go through the same interpolation and ranking in increasing lag.
// Same arguments and readable range.
void pitchcandidatesfast(const double* rho, int64_t lagfirst, int64_t laglast, double fs,
                         double f0min, double* freq, double* strength);

// Path search, frame 0: strengths become costs (negated), all six slots.
void pitchpathstart(double* cost);
// Path search, frame k >= 1. cost holds frame k's strengths on entry and its accumulated
// costs on return; back receives, per taking-part slot (occupied or slot 5), the previous slot
// of the cheapest path (lowest slot among equal totals). Transition costs with the time-step
// factor R: voicing change 0.14 R; voiced Fp -> voiced Fc 0.35 R |log2(Fc / Fp)|.
void pitchpathstep(const double* prevfreq, const double* prevcost, const double* freq,
                   double* cost, int32_t* back, double R);
// Final choice (cheapest of the voiced slots and slot 5 of frame n-1, lowest slot among
// equals) and backtracking. freq and back hold 6 values per frame for n frames; lastcost the
// accumulated costs of frame n-1. Writes n values to out (Hz, 0 = unvoiced).
void pitchbacktrack(const double* freq, const int32_t* back, const double* lastcost, uint32_t n,
                    double* out);

// f0 track of n frames centred on offset + k*S samples of x (len samples at fs Hz; samples
// outside 0..len-1 count as 0), searched between f0min and f0max Hz (corrected as in
// getpitchsettings). out[k] in Hz, 0 for unvoiced. n = 0 returns 0 without touching out.
// Returns 0; -1 when x (len > 0) or out is null, or fs / S are invalid (see
// getpitchsettings); out is then all 0 when it is not null.
int getpitch(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
             double f0min, double f0max, double* out);

// Fast form of getpitch: the same frames, candidates and path search, with each frame's
// autocorrelation taken by a real-input transform from precomputed tables and, from its
// power spectrum, a cosine sum through a transform of half the length, formed only at the
// lags the candidate search reads. The values differ from getpitch only by rounding
// (relative differences of the order of 1e-15 in the normalised autocorrelation, up to
// about 1e-13 in f0); arguments and results as getpitch.
int getpitchfast(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset, uint32_t n,
                 double f0min, double f0max, double* out);

// getpitch on the signal upsampled by 2 (same frame instants, same search range and costs,
// lags twice as fine). Arguments and results as getpitch; also -1 (all-0 track) when 2*len
// does not fit 32 bits.
int getpitchhighres(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset,
                    uint32_t n, double f0min, double f0max, double* out);

// Fast form of getpitchhighres: the same upsampled signal, tracked by getpitchfast.
int getpitchhighresfast(const double* x, uint32_t len, double fs, uint32_t S, uint32_t offset,
                        uint32_t n, double f0min, double f0max, double* out);

// Upsampling by b: zero insertion with gain b, then a zero-phase windowed-sinc low-pass of
// 50*b + 1 taps cut off at 0.4*fs (0.4 of the new Nyquist frequency for b = 2). Returns
// b*len samples at rate b*fs; empty when x is null, len or b is 0, b > 85899345 (the filter
// order would not fit 32 bits) or b*len does not fit 32 bits.
std::vector<double> increaseresolution(const double* x, uint32_t len, double fs, uint32_t b);

// increaseresolution with the same values bit for bit, computed faster: every output sums
// the products of the taps with the b-fold zero-inserted signal in the same order, leaving
// out only the inserted zeros (products that are exactly 0 and leave every partial sum
// unchanged), several outputs of the same phase side by side. Same arguments and refusals.
std::vector<double> increaseresolutionfast(const double* x, uint32_t len, double fs, uint32_t b);

}  // namespace brisvane
