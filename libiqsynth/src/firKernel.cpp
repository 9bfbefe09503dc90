// FIR kernels: the blocked direct sum over a signal with history, which the pulse shaping and
// the noise low-pass share, and the polyphase form that filters upsampled symbol tracks on
// their grid points only (its AVX2 and AVX-512 kernels are in firKernelSimd).
#include "firKernel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "firKernelSimd.h"

namespace arbsuite::iqsynth {

namespace {

// Both kernels sum taps[k] * x[i - k] in ascending k, as a plain delay-line FIR does, and
// compute a block of outputs of constant width together: the fully unrolled inner loop keeps
// the block's sums in vector registers at -O2. Input samples that are zero are skipped by the
// polyphase form, which changes no sum.
constexpr std::size_t kFirBlock = 8;    // outputs per vector block
constexpr std::size_t kMaxStride = 32;  // widest polyphase block (the largest oversampling)
constexpr std::size_t kGridProbe = 8;   // non-zero samples looked at to guess the grid
// Samples the polyphase form gathers, checks and filters in one go: small enough to stay in the
// first-level cache between the reading and the writing.
constexpr std::size_t kChunkSamples = 2048;

// Polyphase FIR for an input that is non-zero only on the grid phase + b*stride. Output
// phase + b*stride + r (r < stride) is sum over j of h[j*stride + r] * sym[b - j]: one scaled
// row of taps per symbol in the filter's reach, M/stride products per output instead of M.
// The scalar kernel (the reference of the vector ones) for symbols first .. last-1; W is the
// row width.
template <std::size_t W>
void polyphaseFir(const PolyphaseJob& job, std::size_t first, std::size_t last) {
  for (std::size_t b = first; b < last; ++b) {
    double acc[W] = {};
    const double* s = job.sym + b;
    for (std::size_t j = 0; j < job.rowCount; ++j) {
      const double v = *(s - j);
      const double* row = job.rows + j * W;
#pragma GCC unroll 32
      for (std::size_t q = 0; q < W; ++q) {
        acc[q] += v * row[q];
      }
    }
    const std::size_t base = b * job.stride;
    const std::size_t count = std::min(job.stride, job.outCount - base);
    for (std::size_t q = 0; q < count; ++q) {
      job.out[base + q] = acc[q];
    }
  }
}

void polyphaseScalar(const PolyphaseJob& job, std::size_t first, std::size_t last) {
  switch (job.width) {
    case 8:
      polyphaseFir<8>(job, first, last);
      break;
    case 16:
      polyphaseFir<16>(job, first, last);
      break;
    case 24:
      polyphaseFir<24>(job, first, last);
      break;
    default:
      polyphaseFir<32>(job, first, last);
      break;
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

// Moves the grid samples of symbols first .. last-1 to sym (leaving +0.0 in x) and tells whether
// all of that stretch of x is now +0.0: every other sample was a positive zero, which a failed
// attempt can put back exactly.
bool gatherChunk(double* x, std::size_t n, std::size_t phase, std::size_t stride, std::size_t first,
                 std::size_t last, double* sym) {
  for (std::size_t b = first; b < last; ++b) {
    sym[b] = x[phase + b * stride];
    x[phase + b * stride] = 0.0;
  }
  const std::size_t end = std::min(phase + last * stride, n);
  std::uint64_t bits[kFirBlock] = {};  // blocks of constant width: vector ORs at -O2
  std::size_t i = phase + first * stride;
  for (; i + kFirBlock <= end; i += kFirBlock) {
#pragma GCC unroll 8
    for (std::size_t q = 0; q < kFirBlock; ++q) {
      bits[q] |= std::bit_cast<std::uint64_t>(x[i + q]);
    }
  }
  for (; i < end; ++i) {
    bits[0] |= std::bit_cast<std::uint64_t>(x[i]);
  }
  std::uint64_t any = 0;
  for (const std::uint64_t b : bits) {
    any |= b;
  }
  return any == 0;
}

// Puts the input back after a failed attempt: symbols 0 .. filtered-1 were overwritten by
// outputs (their stretch held +0.0 off the grid), symbols up to gathered-1 were moved to sym.
void restoreInput(double* x, std::size_t n, std::size_t phase, std::size_t stride,
                  std::size_t filtered, std::size_t gathered, const double* sym) {
  std::fill(x + phase, x + std::min(phase + filtered * stride, n), 0.0);
  for (std::size_t b = 0; b < gathered; ++b) {
    x[phase + b * stride] = sym[b];
  }
}

// Polyphase pays one padded row of taps per stride outputs: worth it when that is less than
// the dense sum of M taps per output.
bool polyphasePays(std::size_t stride, std::size_t taps) {
  const std::size_t width = (stride + kFirBlock - 1) / kFirBlock * kFirBlock;
  return stride > 1 && (taps + stride - 1) / stride * width < taps * stride;
}

using PolyphaseKernel = void (*)(const PolyphaseJob&, std::size_t, std::size_t);

PolyphaseKernel polyphaseKernel(arbsuite::SimdLevel level) {
  switch (arbsuite::usableSimdLevel(level)) {
    case arbsuite::SimdLevel::kAvx512:
      return polyphaseAvx512;
    case arbsuite::SimdLevel::kAvx2:
      return polyphaseAvx2;
    default:
      return polyphaseScalar;
  }
}

// Tries the polyphase form on the grid (phase, stride), a chunk of symbols at a time: gathers the
// chunk's grid samples (behind rowCount - 1 zeros of history), checks that the rest of it is zero
// and filters it in place, so that each stretch of x is read from memory and written back once.
// False, with x as it was, when a sample off the grid is not +0.0.
bool tryPolyphase(std::valarray<double>& x, const std::valarray<double>& taps, std::size_t phase,
                  std::size_t stride, arbsuite::SimdLevel level) {
  const std::size_t n = x.size();
  const std::size_t M = taps.size();
  const std::size_t width = (stride + kFirBlock - 1) / kFirBlock * kFirBlock;
  const std::size_t rowCount = (M + stride - 1) / stride;
  const std::size_t symbols = (n - phase + stride - 1) / stride;
  std::vector<double> rows(rowCount * width, 0.0);
  for (std::size_t k = 0; k < M; ++k) {
    rows[(k / stride) * width + k % stride] = taps[k];
  }
  std::vector<double> symBuffer(rowCount - 1 + symbols, 0.0);
  double* sym = symBuffer.data() + (rowCount - 1);
  double* data = &x[0];
  const PolyphaseJob job{sym, rows.data(), rowCount, width, stride, data + phase, n - phase};
  const PolyphaseKernel kernel = polyphaseKernel(level);

  const std::size_t chunkSymbols = std::max<std::size_t>(1, kChunkSamples / stride);
  for (std::size_t first = 0; first < symbols; first += chunkSymbols) {
    const std::size_t last = std::min(first + chunkSymbols, symbols);
    if (!gatherChunk(data, n, phase, stride, first, last, sym)) {
      restoreInput(data, n, phase, stride, first, last, sym);
      return false;
    }
    kernel(job, first, last);
  }
  // Nothing reaches the outputs before the first non-zero input.
  std::fill(data, data + phase, 0.0);
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

std::size_t symbolHistory(std::size_t stride, std::size_t taps) {
  return stride == 0 || taps == 0 ? 0 : (taps + stride - 1) / stride - 1;
}

SymbolShaper::SymbolShaper(std::size_t stride, const std::valarray<double>& taps)
    : m_stride(stride) {
  const std::size_t M = taps.size();
  if (stride > kMaxStride || !polyphasePays(stride, M)) {
    return;
  }
  for (const double tap : taps) {
    if (!std::isfinite(tap)) {
      return;
    }
  }
  m_width = (stride + kFirBlock - 1) / kFirBlock * kFirBlock;
  m_rowCount = (M + stride - 1) / stride;
  m_rows.assign(m_rowCount * m_width, 0.0);
  for (std::size_t k = 0; k < M; ++k) {
    m_rows[(k / stride) * m_width + k % stride] = taps[k];
  }
  m_kernel = polyphaseKernel(arbsuite::detectedSimdLevel());
  m_usable = true;
}

void SymbolShaper::shape(const double* sym, std::size_t first, std::size_t count,
                         double* out) const {
  if (count == 0) {
    return;
  }
  std::size_t b = first / m_stride;
  const std::size_t skip = first % m_stride;
  if (skip != 0) {
    // A stretch that starts inside a symbol: that symbol's outputs into a scratch row.
    double row[kMaxStride];
    const PolyphaseJob job{sym + b, m_rows.data(), m_rowCount, m_width, m_stride, row, m_stride};
    m_kernel(job, 0, 1);
    const std::size_t head = std::min(m_stride - skip, count);
    std::copy(row + skip, row + skip + head, out);
    out += head;
    count -= head;
    ++b;
  }
  const PolyphaseJob job{sym + b, m_rows.data(), m_rowCount, m_width, m_stride, out, count};
  m_kernel(job, 0, (count + m_stride - 1) / m_stride);
}

// The same rows and kernel as tryPolyphase with phase 0. The track form skips zero input
// samples (off the grid, and any zero symbols when it finds a coarser grid) and zeroes the
// outputs before the first non-zero symbol; here every symbol is summed. With finite taps a
// zero input adds a product of +0.0 or -0.0, which leaves every sum as it is (a sum that starts
// at +0.0 is never -0.0 in round-to-nearest), so the doubles are the same.
bool polyphaseFromSymbols(const double* sym, std::size_t stride, const std::valarray<double>& taps,
                          double* out, std::size_t outCount) {
  const SymbolShaper shaper(stride, taps);
  if (!shaper.usable()) {
    return false;
  }
  shaper.shape(sym, 0, outCount, out);
  return true;
}

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
  causalFirInPlace(x, taps, arbsuite::detectedSimdLevel());
}

void causalFirInPlace(std::valarray<double>& x, const std::valarray<double>& taps,
                      arbsuite::SimdLevel level) {
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
  if (polyphasePays(stride, taps.size()) && tryPolyphase(x, taps, phase, stride, level)) {
    return;
  }
  stride = usableStride(gridSpacing(x, phase, 0));
  if (polyphasePays(stride, taps.size()) && tryPolyphase(x, taps, phase, stride, level)) {
    return;
  }
  runDense(x, taps);
}

}  // namespace arbsuite::iqsynth
