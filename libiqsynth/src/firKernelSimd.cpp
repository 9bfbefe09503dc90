// Polyphase FIR kernels with AVX2 and AVX-512: a symbol's outputs sit across the lanes of one to
// four vectors, and several symbols are summed at once so that the additions of independent sums
// overlap. The functions carry their own target attributes; the library stays built for baseline
// x86-64. Built with -ffp-contract=off: a fused multiply-add would round differently from the
// scalar form.
#include "firKernelSimd.h"

#if defined(__x86_64__) || defined(__i386__)

#include <algorithm>

#include "simd_intrinsics.h"

namespace arbsuite::iqsynth {
namespace {

// ---- AVX-512: eight doubles a vector, V vectors a symbol, T symbols at a time --------------

template <std::size_t V, std::size_t T>
[[gnu::target("avx512f"), gnu::always_inline]] inline void symbolsAvx512(const PolyphaseJob& job,
                                                                         std::size_t b) {
  constexpr std::size_t kLanes = 8;
  __m512d acc[T][V];
#pragma GCC unroll 8
  for (std::size_t t = 0; t < T; ++t) {
#pragma GCC unroll 8
    for (std::size_t v = 0; v < V; ++v) {
      acc[t][v] = _mm512_setzero_pd();
    }
  }
  const double* row = job.rows;
  const double* s = job.sym + b;
  for (std::size_t j = 0; j < job.rowCount; ++j, row += V * kLanes, --s) {
    __m512d taps[V];
#pragma GCC unroll 8
    for (std::size_t v = 0; v < V; ++v) {
      taps[v] = _mm512_loadu_pd(row + v * kLanes);
    }
#pragma GCC unroll 8
    for (std::size_t t = 0; t < T; ++t) {
      const __m512d symbol = _mm512_set1_pd(s[t]);
#pragma GCC unroll 8
      for (std::size_t v = 0; v < V; ++v) {
        acc[t][v] = _mm512_add_pd(acc[t][v], _mm512_mul_pd(symbol, taps[v]));
      }
    }
  }
#pragma GCC unroll 8
  for (std::size_t t = 0; t < T; ++t) {
    const std::size_t base = (b + t) * job.stride;
    const std::size_t count = std::min(job.stride, job.outCount - base);
    double* out = job.out + base;
#pragma GCC unroll 8
    for (std::size_t v = 0; v < V; ++v) {
      const std::size_t lane = v * kLanes;
      if (lane + kLanes <= count) {
        _mm512_storeu_pd(out + lane, acc[t][v]);
      } else if (lane < count) {
        const auto mask = static_cast<__mmask8>((1u << (count - lane)) - 1u);
        _mm512_mask_storeu_pd(out + lane, mask, acc[t][v]);
      }
    }
  }
}

template <std::size_t V, std::size_t T>
[[gnu::target("avx512f")]] void runAvx512(const PolyphaseJob& job, std::size_t first,
                                          std::size_t last) {
  const PolyphaseJob local = job;  // fields in registers: the stores of outputs cannot change them
  std::size_t b = first;
  for (; b + T <= last; b += T) {
    symbolsAvx512<V, T>(local, b);
  }
  for (; b < last; ++b) {
    symbolsAvx512<V, 1>(local, b);
  }
}

// ---- AVX2: four doubles a vector, V vectors a symbol, T symbols at a time ------------------

template <std::size_t V, std::size_t T>
[[gnu::target("avx2"), gnu::always_inline]] inline void symbolsAvx2(const PolyphaseJob& job,
                                                                    std::size_t b) {
  constexpr std::size_t kLanes = 4;
  __m256d acc[T][V];
#pragma GCC unroll 8
  for (std::size_t t = 0; t < T; ++t) {
#pragma GCC unroll 8
    for (std::size_t v = 0; v < V; ++v) {
      acc[t][v] = _mm256_setzero_pd();
    }
  }
  const double* row = job.rows;
  const double* s = job.sym + b;
  for (std::size_t j = 0; j < job.rowCount; ++j, row += V * kLanes, --s) {
#pragma GCC unroll 8
    for (std::size_t t = 0; t < T; ++t) {
      const __m256d symbol = _mm256_set1_pd(s[t]);
#pragma GCC unroll 8
      for (std::size_t v = 0; v < V; ++v) {
        acc[t][v] =
            _mm256_add_pd(acc[t][v], _mm256_mul_pd(symbol, _mm256_loadu_pd(row + v * kLanes)));
      }
    }
  }
  const __m256i laneIndex = _mm256_set_epi64x(3, 2, 1, 0);
#pragma GCC unroll 8
  for (std::size_t t = 0; t < T; ++t) {
    const std::size_t base = (b + t) * job.stride;
    const std::size_t count = std::min(job.stride, job.outCount - base);
    double* out = job.out + base;
#pragma GCC unroll 8
    for (std::size_t v = 0; v < V; ++v) {
      const std::size_t lane = v * kLanes;
      if (lane + kLanes <= count) {
        _mm256_storeu_pd(out + lane, acc[t][v]);
      } else if (lane < count) {
        const __m256i left = _mm256_set1_epi64x(static_cast<long long>(count - lane));
        _mm256_maskstore_pd(out + lane, _mm256_cmpgt_epi64(left, laneIndex), acc[t][v]);
      }
    }
  }
}

template <std::size_t V, std::size_t T>
[[gnu::target("avx2")]] void runAvx2(const PolyphaseJob& job, std::size_t first, std::size_t last) {
  const PolyphaseJob local = job;  // fields in registers: the stores of outputs cannot change them
  std::size_t b = first;
  for (; b + T <= last; b += T) {
    symbolsAvx2<V, T>(local, b);
  }
  for (; b < last; ++b) {
    symbolsAvx2<V, 1>(local, b);
  }
}

}  // namespace

// Symbols at a time: enough independent sums to cover the latency of the additions, few enough
// that the sums and a row of taps stay in registers (32 of them with AVX-512, 16 with AVX2).
void polyphaseAvx512(const PolyphaseJob& job, std::size_t first, std::size_t last) {
  switch (job.width) {
    case 8:
      runAvx512<1, 8>(job, first, last);
      break;
    case 16:
      runAvx512<2, 4>(job, first, last);
      break;
    case 24:
      runAvx512<3, 2>(job, first, last);
      break;
    default:
      runAvx512<4, 2>(job, first, last);
      break;
  }
}

void polyphaseAvx2(const PolyphaseJob& job, std::size_t first, std::size_t last) {
  switch (job.width) {
    case 8:
      runAvx2<2, 4>(job, first, last);
      break;
    case 16:
      runAvx2<4, 2>(job, first, last);
      break;
    case 24:
      runAvx2<6, 1>(job, first, last);
      break;
    default:
      runAvx2<8, 1>(job, first, last);
      break;
  }
}

}  // namespace arbsuite::iqsynth

#else  // not x86: detectedSimdLevel() is scalar, so these are never reached

namespace arbsuite::iqsynth {

void polyphaseAvx2(const PolyphaseJob&, std::size_t, std::size_t) {}
void polyphaseAvx512(const PolyphaseJob&, std::size_t, std::size_t) {}

}  // namespace arbsuite::iqsynth

#endif
