// RC5-32/12/16 on 8 (AVX2) or 16 (AVX-512) blocks at once: the A words of the blocks in one
// vector, the B words in another, and the rounds of rc5.cpp applied lane by lane. The functions
// carry their own target attributes; the rest of the library stays built for baseline x86-64.
#include "rc5_simd.h"

#if defined(__x86_64__) || defined(__i386__)

#include "simd_intrinsics.h"

namespace arbsuite::wavecrypt {
namespace {

// Groups in flight in one step: the rounds are one long chain of dependent operations per
// group, and independent chains keep the vector units busy. The AVX2 rotation takes five
// operations, hence more chains there.
constexpr std::size_t kAvx2GroupsPerStep = 2;
constexpr std::size_t kAvx512GroupsPerStep = 2;

// ---- AVX2: 8 blocks in two 256-bit vectors -------------------------------------------------

constexpr std::size_t kAvx2GroupBytes = kRc5Avx2GroupBlocks * 8;

// Splits 8 blocks (A0 B0 A1 B1 ...) into their A and B words. Within each 128-bit lane the
// shuffle takes the even and the odd words of both loads; the blocks end up in the order
// 0 1 4 5 2 3 6 7, which storeBlocks undoes exactly.
[[gnu::target("avx2"), gnu::always_inline]] inline void loadBlocks(const std::uint8_t* p,
                                                                   __m256i& a, __m256i& b) {
  const __m256 lo = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  const __m256 hi =
      _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)));
  a = _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
  b = _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
}

[[gnu::target("avx2"), gnu::always_inline]] inline void storeBlocks(std::uint8_t* p, __m256i a,
                                                                    __m256i b) {
  const __m256 fa = _mm256_castsi256_ps(a);
  const __m256 fb = _mm256_castsi256_ps(b);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p),
                      _mm256_castps_si256(_mm256_unpacklo_ps(fa, fb)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 32),
                      _mm256_castps_si256(_mm256_unpackhi_ps(fa, fb)));
}

// AVX2 has no rotation: two shifts by n and 32 - n (a shift by 32 gives 0, so n = 0 works).
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i rotl(__m256i x, __m256i by) {
  const __m256i n = _mm256_and_si256(by, _mm256_set1_epi32(31));
  return _mm256_or_si256(_mm256_sllv_epi32(x, n),
                         _mm256_srlv_epi32(x, _mm256_sub_epi32(_mm256_set1_epi32(32), n)));
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m256i rotr(__m256i x, __m256i by) {
  const __m256i n = _mm256_and_si256(by, _mm256_set1_epi32(31));
  return _mm256_or_si256(_mm256_srlv_epi32(x, n),
                         _mm256_sllv_epi32(x, _mm256_sub_epi32(_mm256_set1_epi32(32), n)));
}

template <std::size_t kGroups>
[[gnu::target("avx2"), gnu::always_inline]] inline void encryptStepAvx2(const std::uint32_t* s,
                                                                        const std::uint8_t* in,
                                                                        std::uint8_t* out) {
  __m256i a[kGroups];
  __m256i b[kGroups];
  for (std::size_t g = 0; g < kGroups; ++g) {
    loadBlocks(in + g * kAvx2GroupBytes, a[g], b[g]);
  }
  for (std::size_t g = 0; g < kGroups; ++g) {
    a[g] = _mm256_add_epi32(a[g], _mm256_set1_epi32(static_cast<int>(s[0])));
    b[g] = _mm256_add_epi32(b[g], _mm256_set1_epi32(static_cast<int>(s[1])));
  }
  for (int round = 1; round <= kRc5Rounds; ++round) {
    const __m256i sa = _mm256_set1_epi32(static_cast<int>(s[2 * round]));
    const __m256i sb = _mm256_set1_epi32(static_cast<int>(s[2 * round + 1]));
    for (std::size_t g = 0; g < kGroups; ++g) {
      a[g] = _mm256_add_epi32(rotl(_mm256_xor_si256(a[g], b[g]), b[g]), sa);
    }
    for (std::size_t g = 0; g < kGroups; ++g) {
      b[g] = _mm256_add_epi32(rotl(_mm256_xor_si256(b[g], a[g]), a[g]), sb);
    }
  }
  for (std::size_t g = 0; g < kGroups; ++g) {
    storeBlocks(out + g * kAvx2GroupBytes, a[g], b[g]);
  }
}

template <std::size_t kGroups>
[[gnu::target("avx2"), gnu::always_inline]] inline void decryptStepAvx2(const std::uint32_t* s,
                                                                        const std::uint8_t* in,
                                                                        std::uint8_t* out) {
  __m256i a[kGroups];
  __m256i b[kGroups];
  for (std::size_t g = 0; g < kGroups; ++g) {
    loadBlocks(in + g * kAvx2GroupBytes, a[g], b[g]);
  }
  for (int round = kRc5Rounds; round >= 1; --round) {
    const __m256i sa = _mm256_set1_epi32(static_cast<int>(s[2 * round]));
    const __m256i sb = _mm256_set1_epi32(static_cast<int>(s[2 * round + 1]));
    for (std::size_t g = 0; g < kGroups; ++g) {
      b[g] = _mm256_xor_si256(rotr(_mm256_sub_epi32(b[g], sb), a[g]), a[g]);
    }
    for (std::size_t g = 0; g < kGroups; ++g) {
      a[g] = _mm256_xor_si256(rotr(_mm256_sub_epi32(a[g], sa), b[g]), b[g]);
    }
  }
  for (std::size_t g = 0; g < kGroups; ++g) {
    a[g] = _mm256_sub_epi32(a[g], _mm256_set1_epi32(static_cast<int>(s[0])));
    b[g] = _mm256_sub_epi32(b[g], _mm256_set1_epi32(static_cast<int>(s[1])));
    storeBlocks(out + g * kAvx2GroupBytes, a[g], b[g]);
  }
}

template <bool kEncrypt, std::size_t kGroups>
[[gnu::target("avx2"), gnu::always_inline]] inline void stepAvx2(const std::uint32_t* s,
                                                                 const std::uint8_t* in,
                                                                 std::uint8_t* out) {
  if constexpr (kEncrypt) {
    encryptStepAvx2<kGroups>(s, in, out);
  } else {
    decryptStepAvx2<kGroups>(s, in, out);
  }
}

template <bool kEncrypt>
[[gnu::target("avx2")]] void walkAvx2(const std::uint32_t* s, const std::uint8_t* in,
                                      std::uint8_t* out, std::size_t groups, bool backwards) {
  constexpr std::size_t kPerStep = kAvx2GroupsPerStep;
  const std::size_t steps = groups / kPerStep;
  const std::size_t singles = steps * kPerStep;  // the groups left over come last, one by one
  if (backwards) {
    for (std::size_t g = groups; g-- > singles;) {
      stepAvx2<kEncrypt, 1>(s, in + g * kAvx2GroupBytes, out + g * kAvx2GroupBytes);
    }
    for (std::size_t g = singles; g > 0;) {
      g -= kPerStep;
      stepAvx2<kEncrypt, kPerStep>(s, in + g * kAvx2GroupBytes, out + g * kAvx2GroupBytes);
    }
  } else {
    for (std::size_t g = 0; g < singles; g += kPerStep) {
      stepAvx2<kEncrypt, kPerStep>(s, in + g * kAvx2GroupBytes, out + g * kAvx2GroupBytes);
    }
    for (std::size_t g = singles; g < groups; ++g) {
      stepAvx2<kEncrypt, 1>(s, in + g * kAvx2GroupBytes, out + g * kAvx2GroupBytes);
    }
  }
}

// ---- AVX-512: 16 blocks in two 512-bit vectors, with the native rotations --------------------

constexpr std::size_t kAvx512GroupBytes = kRc5Avx512GroupBlocks * 8;

// As the AVX2 pair: per 128-bit lane, even and odd words; unpacking restores the block order.
[[gnu::target("avx512f"), gnu::always_inline]] inline void loadBlocks(const std::uint8_t* p,
                                                                      __m512i& a, __m512i& b) {
  const __m512 lo = _mm512_castsi512_ps(_mm512_loadu_si512(p));
  const __m512 hi = _mm512_castsi512_ps(_mm512_loadu_si512(p + 64));
  a = _mm512_castps_si512(_mm512_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
  b = _mm512_castps_si512(_mm512_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
}

[[gnu::target("avx512f"), gnu::always_inline]] inline void storeBlocks(std::uint8_t* p, __m512i a,
                                                                       __m512i b) {
  const __m512 fa = _mm512_castsi512_ps(a);
  const __m512 fb = _mm512_castsi512_ps(b);
  _mm512_storeu_si512(p, _mm512_castps_si512(_mm512_unpacklo_ps(fa, fb)));
  _mm512_storeu_si512(p + 64, _mm512_castps_si512(_mm512_unpackhi_ps(fa, fb)));
}

template <std::size_t kGroups>
[[gnu::target("avx512f"), gnu::always_inline]] inline void encryptStepAvx512(const std::uint32_t* s,
                                                                             const std::uint8_t* in,
                                                                             std::uint8_t* out) {
  __m512i a[kGroups];
  __m512i b[kGroups];
  for (std::size_t g = 0; g < kGroups; ++g) {
    loadBlocks(in + g * kAvx512GroupBytes, a[g], b[g]);
  }
  for (std::size_t g = 0; g < kGroups; ++g) {
    a[g] = _mm512_add_epi32(a[g], _mm512_set1_epi32(static_cast<int>(s[0])));
    b[g] = _mm512_add_epi32(b[g], _mm512_set1_epi32(static_cast<int>(s[1])));
  }
  for (int round = 1; round <= kRc5Rounds; ++round) {
    const __m512i sa = _mm512_set1_epi32(static_cast<int>(s[2 * round]));
    const __m512i sb = _mm512_set1_epi32(static_cast<int>(s[2 * round + 1]));
    for (std::size_t g = 0; g < kGroups; ++g) {
      a[g] = _mm512_add_epi32(_mm512_rolv_epi32(_mm512_xor_si512(a[g], b[g]), b[g]), sa);
    }
    for (std::size_t g = 0; g < kGroups; ++g) {
      b[g] = _mm512_add_epi32(_mm512_rolv_epi32(_mm512_xor_si512(b[g], a[g]), a[g]), sb);
    }
  }
  for (std::size_t g = 0; g < kGroups; ++g) {
    storeBlocks(out + g * kAvx512GroupBytes, a[g], b[g]);
  }
}

template <std::size_t kGroups>
[[gnu::target("avx512f"), gnu::always_inline]] inline void decryptStepAvx512(const std::uint32_t* s,
                                                                             const std::uint8_t* in,
                                                                             std::uint8_t* out) {
  __m512i a[kGroups];
  __m512i b[kGroups];
  for (std::size_t g = 0; g < kGroups; ++g) {
    loadBlocks(in + g * kAvx512GroupBytes, a[g], b[g]);
  }
  for (int round = kRc5Rounds; round >= 1; --round) {
    const __m512i sa = _mm512_set1_epi32(static_cast<int>(s[2 * round]));
    const __m512i sb = _mm512_set1_epi32(static_cast<int>(s[2 * round + 1]));
    for (std::size_t g = 0; g < kGroups; ++g) {
      b[g] = _mm512_xor_si512(_mm512_rorv_epi32(_mm512_sub_epi32(b[g], sb), a[g]), a[g]);
    }
    for (std::size_t g = 0; g < kGroups; ++g) {
      a[g] = _mm512_xor_si512(_mm512_rorv_epi32(_mm512_sub_epi32(a[g], sa), b[g]), b[g]);
    }
  }
  for (std::size_t g = 0; g < kGroups; ++g) {
    a[g] = _mm512_sub_epi32(a[g], _mm512_set1_epi32(static_cast<int>(s[0])));
    b[g] = _mm512_sub_epi32(b[g], _mm512_set1_epi32(static_cast<int>(s[1])));
    storeBlocks(out + g * kAvx512GroupBytes, a[g], b[g]);
  }
}

template <bool kEncrypt, std::size_t kGroups>
[[gnu::target("avx512f"), gnu::always_inline]] inline void stepAvx512(const std::uint32_t* s,
                                                                      const std::uint8_t* in,
                                                                      std::uint8_t* out) {
  if constexpr (kEncrypt) {
    encryptStepAvx512<kGroups>(s, in, out);
  } else {
    decryptStepAvx512<kGroups>(s, in, out);
  }
}

template <bool kEncrypt>
[[gnu::target("avx512f")]] void walkAvx512(const std::uint32_t* s, const std::uint8_t* in,
                                           std::uint8_t* out, std::size_t groups, bool backwards) {
  constexpr std::size_t kPerStep = kAvx512GroupsPerStep;
  const std::size_t steps = groups / kPerStep;
  const std::size_t singles = steps * kPerStep;  // the groups left over come last, one by one
  if (backwards) {
    for (std::size_t g = groups; g-- > singles;) {
      stepAvx512<kEncrypt, 1>(s, in + g * kAvx512GroupBytes, out + g * kAvx512GroupBytes);
    }
    for (std::size_t g = singles; g > 0;) {
      g -= kPerStep;
      stepAvx512<kEncrypt, kPerStep>(s, in + g * kAvx512GroupBytes, out + g * kAvx512GroupBytes);
    }
  } else {
    for (std::size_t g = 0; g < singles; g += kPerStep) {
      stepAvx512<kEncrypt, kPerStep>(s, in + g * kAvx512GroupBytes, out + g * kAvx512GroupBytes);
    }
    for (std::size_t g = singles; g < groups; ++g) {
      stepAvx512<kEncrypt, 1>(s, in + g * kAvx512GroupBytes, out + g * kAvx512GroupBytes);
    }
  }
}

}  // namespace

void rc5GroupsAvx2(const Rc5Schedule& schedule, const std::uint8_t* input, std::uint8_t* output,
                   std::size_t groups, bool encrypt, bool backwards) {
  if (encrypt) {
    walkAvx2<true>(schedule.s.data(), input, output, groups, backwards);
  } else {
    walkAvx2<false>(schedule.s.data(), input, output, groups, backwards);
  }
}

void rc5GroupsAvx512(const Rc5Schedule& schedule, const std::uint8_t* input, std::uint8_t* output,
                     std::size_t groups, bool encrypt, bool backwards) {
  if (encrypt) {
    walkAvx512<true>(schedule.s.data(), input, output, groups, backwards);
  } else {
    walkAvx512<false>(schedule.s.data(), input, output, groups, backwards);
  }
}

}  // namespace arbsuite::wavecrypt

#else  // not x86: detectedSimdLevel() is scalar, so these are never reached

namespace arbsuite::wavecrypt {

void rc5GroupsAvx2(const Rc5Schedule&, const std::uint8_t*, std::uint8_t*, std::size_t, bool,
                   bool) {}
void rc5GroupsAvx512(const Rc5Schedule&, const std::uint8_t*, std::uint8_t*, std::size_t, bool,
                     bool) {}

}  // namespace arbsuite::wavecrypt

#endif
