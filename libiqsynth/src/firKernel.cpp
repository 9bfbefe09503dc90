// FIR kernels: the blocked direct sum over a signal with history, which the pulse shaping and
// the noise low-pass share, and the polyphase form that filters upsampled symbol tracks on
// their grid points only.
#include "firKernel.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <numeric>
#include <vector>

namespace iqsynth {

namespace {

// Both kernels sum taps[k] * x[i - k] in ascending k, as a plain delay-line FIR does, and
// compute a block of outputs of constant width together: the fully unrolled inner loop keeps
// the block's sums in vector registers at -O2. Input samples that are zero are skipped by the
// polyphase form, which changes no sum.
constexpr std::size_t kFirBlock = 8;    // outputs per vector block
constexpr std::size_t kMaxStride = 32;  // widest polyphase block (the largest oversampling)
constexpr std::size_t kGridProbe = 8;   // non-zero samples looked at to guess the grid

// Polyphase FIR for an input that is non-zero only on the grid phase + b*stride. Output
// phase + b*stride + r (r < stride) is sum over j of h[j*stride + r] * sym[b - j]: one scaled
// row of taps per symbol in the filter's reach, M/stride products per output instead of M.
// rows holds those rows, W wide (zero-padded); sym points at symbol 0 and is readable back to
// symbol -(rowCount-1) (zeros). out receives outCount samples from the grid's phase on.
template <std::size_t W>
void polyphaseFir(const double* sym, std::size_t symbols, const double* rows, std::size_t rowCount,
                  std::size_t stride, double* out, std::size_t outCount) {
  for (std::size_t b = 0; b < symbols; ++b) {
    double acc[W] = {};
    const double* s = sym + b;
    for (std::size_t j = 0; j < rowCount; ++j) {
      const double v = *(s - j);
      const double* row = rows + j * W;
#pragma GCC unroll 32
      for (std::size_t q = 0; q < W; ++q) {
        acc[q] += v * row[q];
      }
    }
    const std::size_t base = b * stride;
    const std::size_t count = std::min(stride, outCount - base);
    for (std::size_t q = 0; q < count; ++q) {
      out[base + q] = acc[q];
    }
  }
}

// Largest stride of at most kMaxStride that divides g (g = 0: nothing constrains it).
std::size_t usableStride(std::size_t g) {
  if (g == 0) {
    return kMaxStride;
  }
  std::size_t d = std::min(g, kMaxStride);
  while (g % d != 0) {
    --d;
  }
  return d;
}

// gcd of the distances from phase to the non-zero samples after it: all of them (limit 0),
// or the first `limit` ones. 0 when there are none.
std::size_t gridSpacing(const std::valarray<double>& x, std::size_t phase, std::size_t limit) {
  std::size_t g = 0;
  std::size_t last = phase;
  std::size_t seen = 0;
  for (std::size_t i = phase + 1; i < x.size(); ++i) {
    if (x[i] == 0.0) {
      continue;
    }
    // Upsampled symbols arrive at a steady distance: only a change needs a gcd.
    if (g == 0 || i - last != g) {
      g = std::gcd(g, i - phase);
      if (g == 1) {
        return 1;
      }
    }
    last = i;
    if (limit != 0 && ++seen == limit) {
      break;
    }
  }
  return g;
}

// Copies x[phase + b*stride] to sym[b] and tells whether every other sample from phase on is
// zero (the sign bit is ignored: -0 adds nothing either).
bool gatherGrid(const std::valarray<double>& x, std::size_t phase, std::size_t stride,
                double* sym) {
  const std::size_t n = x.size();
  std::uint64_t offGrid = 0;
  std::size_t b = 0;
  for (std::size_t base = phase; base < n; base += stride, ++b) {
    sym[b] = x[base];
    const std::size_t end = std::min(base + stride, n);
    for (std::size_t i = base + 1; i < end; ++i) {
      offGrid |= std::bit_cast<std::uint64_t>(x[i]) << 1;
    }
  }
  return offGrid == 0;
}

// Polyphase pays one padded row of taps per stride outputs: worth it when that is less than
// the dense sum of M taps per output.
bool polyphasePays(std::size_t stride, std::size_t taps) {
  const std::size_t width = (stride + kFirBlock - 1) / kFirBlock * kFirBlock;
  return stride > 1 && (taps + stride - 1) / stride * width < taps * stride;
}

void runPolyphase(std::valarray<double>& x, const std::valarray<double>& taps, std::size_t phase,
                  std::size_t stride, std::vector<double>& symBuffer) {
  const std::size_t n = x.size();
  const std::size_t M = taps.size();
  const std::size_t width = (stride + kFirBlock - 1) / kFirBlock * kFirBlock;
  const std::size_t rowCount = (M + stride - 1) / stride;
  const std::size_t symbols = (n - phase + stride - 1) / stride;
  std::vector<double> rows(rowCount * width, 0.0);
  for (std::size_t k = 0; k < M; ++k) {
    rows[(k / stride) * width + k % stride] = taps[k];
  }
  // Nothing reaches the outputs before the first non-zero input.
  for (std::size_t i = 0; i < phase; ++i) {
    x[i] = 0.0;
  }
  const double* s = symBuffer.data() + (rowCount - 1);
  double* out = &x[phase];
  const std::size_t outCount = n - phase;
  switch (width) {
    case 8:
      polyphaseFir<8>(s, symbols, rows.data(), rowCount, stride, out, outCount);
      break;
    case 16:
      polyphaseFir<16>(s, symbols, rows.data(), rowCount, stride, out, outCount);
      break;
    case 24:
      polyphaseFir<24>(s, symbols, rows.data(), rowCount, stride, out, outCount);
      break;
    default:
      polyphaseFir<32>(s, symbols, rows.data(), rowCount, stride, out, outCount);
      break;
  }
}

// Tries the polyphase form on the grid (phase, stride): gathers the grid samples behind
// rowCount - 1 zeros of history and filters. False, with x untouched, when a sample off the
// grid is not zero.
bool tryPolyphase(std::valarray<double>& x, const std::valarray<double>& taps, std::size_t phase,
                  std::size_t stride) {
  const std::size_t rowCount = (taps.size() + stride - 1) / stride;
  const std::size_t symbols = (x.size() - phase + stride - 1) / stride;
  std::vector<double> symBuffer(rowCount - 1 + symbols, 0.0);
  if (!gatherGrid(x, phase, stride, symBuffer.data() + (rowCount - 1))) {
    return false;
  }
  runPolyphase(x, taps, phase, stride, symBuffer);
  return true;
}

void runDense(std::valarray<double>& x, const std::valarray<double>& taps) {
  const std::size_t n = x.size();
  const std::size_t M = taps.size();
  std::vector<double> padded(M + n, 0.0);  // M zeros of history, then the input
  std::copy(std::begin(x), std::end(x), padded.begin() + static_cast<std::ptrdiff_t>(M));
  firOverHistory(padded.data() + M, n, &taps[0], M, &x[0]);
}

}  // namespace

// y[m] = sum over k < nh of h[k] * src[m - k] for m = 0 .. count-1 (src[-nh+1 .. count-1]
// readable). Ascending k, the order of a plain direct sum.
void firOverHistory(const double* src, std::size_t count, const double* h, std::size_t nh,
                    double* y) {
  std::size_t m = 0;
  for (; m + kFirBlock <= count; m += kFirBlock) {
    double acc[kFirBlock] = {};
    const double* base = src + m;
    for (std::size_t k = 0; k < nh; ++k) {
      const double hk = h[k];
      const double* in = base - k;
#pragma GCC unroll 8
      for (std::size_t q = 0; q < kFirBlock; ++q) {
        acc[q] += hk * in[q];
      }
    }
#pragma GCC unroll 8
    for (std::size_t q = 0; q < kFirBlock; ++q) {
      y[m + q] = acc[q];
    }
  }
  for (; m < count; ++m) {
    double acc = 0.0;
    for (std::size_t k = 0; k < nh; ++k) {
      acc += h[k] * src[m - k];
    }
    y[m] = acc;
  }
}

void causalFirInPlace(std::valarray<double>& x, const std::valarray<double>& taps) {
  if (x.size() == 0) {
    return;
  }
  if (taps.size() == 0) {
    x = 0.0;
    return;
  }
  std::size_t phase = 0;
  while (phase < x.size() && x[phase] == 0.0) {
    ++phase;
  }
  if (phase == x.size()) {
    return;  // all zero in, all zero out
  }
  // Guess the grid from the first few non-zero samples; check it while gathering, and
  // fall back to the grid of all of them when the guess was too coarse.
  std::size_t stride = usableStride(gridSpacing(x, phase, kGridProbe));
  if (polyphasePays(stride, taps.size()) && tryPolyphase(x, taps, phase, stride)) {
    return;
  }
  stride = usableStride(gridSpacing(x, phase, 0));
  if (polyphasePays(stride, taps.size()) && tryPolyphase(x, taps, phase, stride)) {
    return;
  }
  runDense(x, taps);
}

}  // namespace iqsynth
