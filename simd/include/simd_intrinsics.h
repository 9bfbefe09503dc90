// The x86 intrinsics header for the vector kernels, included once here with the one warning it
// raises silenced. Include it only inside an x86 guard.
#ifndef ARBSUITE_SIMD_INTRINSICS_H
#define ARBSUITE_SIMD_INTRINSICS_H

// GCC 12's AVX-512 headers fill the unused source of their unmasked forms from
// _mm512_undefined_*(), which -Wmaybe-uninitialized reports inside the header itself. Clang has
// no such warning group and would reject the pragma as unknown.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#endif
