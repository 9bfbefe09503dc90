// RC5 encryption of large buffers (one key schedule per call), the 256-byte pieces
// wavepack uses, and one elliptic-curve wrap and unwrap, all through EncOrDecOpt; then
// RC5 through each of its kernels side by side (scalar, AVX2, AVX-512, dispatched).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rc5.h"
#include "simd_level.h"
#include "wavecrypt.h"

namespace {

void BM_Rc5EncryptBuffer(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  std::vector<std::uint8_t> input(n), output(n);
  for (std::uint32_t i = 0; i < n; ++i) input[i] = static_cast<std::uint8_t>(i * 131u);
  const std::uint8_t key[16] = {0x91, 0x5f, 0x46, 0x19, 0xbe, 0x41, 0xb2, 0x51,
                                0x63, 0x55, 0xa5, 0x01, 0x10, 0xa9, 0xce, 0x91};
  for (auto _ : state) {
    std::uint32_t length = n;
    benchmark::DoNotOptimize(EncOrDecOpt(2, input.data(), n, key, output.data(), &length, 0));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_Rc5EncryptBuffer)->Arg(256)->Arg(64 << 10)->Arg(16 << 20);

void BM_Rc5EncryptIn256BytePieces(benchmark::State& state) {
  const std::uint32_t n = 16u << 20;
  std::vector<std::uint8_t> input(n), output(n);
  const std::uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  for (auto _ : state) {
    for (std::uint32_t offset = 0; offset < n; offset += 256) {
      std::uint32_t length = 256;
      EncOrDecOpt(2, input.data() + offset, 256, key, output.data() + offset, &length, 0);
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_Rc5EncryptIn256BytePieces);

void BM_KeyWrap(benchmark::State& state) {
  const std::uint8_t key[16] = {0x10, 0x3e, 0xce, 0x05, 0x97, 0xaa, 0xc2, 0x34,
                                0x00, 0x80, 0x25, 0x2f, 0xa6, 0x4c, 0x77, 0x84};
  std::uint8_t wrapped[84];
  for (auto _ : state) {
    std::uint32_t length = 84;
    benchmark::DoNotOptimize(EncOrDecOpt(3, key, 16, nullptr, wrapped, &length, 0));
  }
}
BENCHMARK(BM_KeyWrap)->Unit(benchmark::kMicrosecond);

void BM_KeyUnwrap(benchmark::State& state) {
  const std::uint8_t key[16] = {0x10, 0x3e, 0xce, 0x05, 0x97, 0xaa, 0xc2, 0x34,
                                0x00, 0x80, 0x25, 0x2f, 0xa6, 0x4c, 0x77, 0x84};
  std::uint8_t wrapped[84];
  std::uint32_t length = 84;
  if (EncOrDecOpt(3, key, 16, nullptr, wrapped, &length, 0) != 0) {
    state.SkipWithError("wrap failed");
    return;
  }
  std::uint8_t unwrapped[16];
  for (auto _ : state) {
    length = 16;
    benchmark::DoNotOptimize(EncOrDecOpt(3, wrapped, 84, nullptr, unwrapped, &length, 1));
  }
}
BENCHMARK(BM_KeyUnwrap)->Unit(benchmark::kMicrosecond);

void BM_KeyDraw(benchmark::State& state) {
  std::uint8_t key[16];
  for (auto _ : state) benchmark::DoNotOptimize(AfxgetRandKeyR5(key));
}
BENCHMARK(BM_KeyDraw);

// One RC5 kernel over 16 MiB, in calls of `piece` bytes (the whole buffer, or the 256-byte
// pieces of wavepack): a forced level through rc5BufferAtLevel, or (dispatched) the exported
// EncOrDecOpt with the level the library picked. A level the processor lacks is reported as
// an error, not measured.
enum class Rc5Path { kScalar, kAvx2, kAvx512, kDispatched };

void BM_Rc5Path(benchmark::State& state, Rc5Path path, std::uint32_t piece, bool encrypt) {
  using arbsuite::SimdLevel;
  const SimdLevel level = path == Rc5Path::kAvx512 ? SimdLevel::kAvx512
                          : path == Rc5Path::kAvx2 ? SimdLevel::kAvx2
                                                   : SimdLevel::kScalar;
  if (path != Rc5Path::kDispatched && arbsuite::usableSimdLevel(level) != level) {
    state.SkipWithError((std::string("the processor lacks ") + simdLevelName(level)).c_str());
    return;
  }
  const std::uint32_t n = 16u << 20;
  std::vector<std::uint8_t> input(n), output(n);
  for (std::uint32_t i = 0; i < n; ++i) input[i] = static_cast<std::uint8_t>(i * 131u + 7u);
  const std::uint8_t key[16] = {0x52, 0x69, 0xf1, 0x49, 0xd4, 0x1b, 0xa0, 0x15,
                                0x24, 0x97, 0x57, 0x4d, 0x7f, 0x15, 0x31, 0x25};
  for (auto _ : state) {
    for (std::uint32_t offset = 0; offset < n; offset += piece) {
      std::uint32_t length = piece;
      if (path == Rc5Path::kDispatched) {
        EncOrDecOpt(2, input.data() + offset, piece, key, output.data() + offset, &length,
                    encrypt ? 0 : 1);
      } else {
        arbsuite::wavecrypt::rc5BufferAtLevel(level, input.data() + offset, piece, key,
                                              output.data() + offset, &length, encrypt);
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * n);
  state.SetLabel(path == Rc5Path::kDispatched
                     ? std::string("dispatched: ") + simdLevelName(arbsuite::detectedSimdLevel())
                     : simdLevelName(level));
}

constexpr std::uint32_t kWhole = 16u << 20;
constexpr std::uint32_t kPiece = 256;
BENCHMARK_CAPTURE(BM_Rc5Path, encrypt_16MiB_scalar, Rc5Path::kScalar, kWhole, true);
BENCHMARK_CAPTURE(BM_Rc5Path, encrypt_16MiB_avx2, Rc5Path::kAvx2, kWhole, true);
BENCHMARK_CAPTURE(BM_Rc5Path, encrypt_16MiB_avx512, Rc5Path::kAvx512, kWhole, true);
BENCHMARK_CAPTURE(BM_Rc5Path, encrypt_16MiB_dispatched, Rc5Path::kDispatched, kWhole, true);
BENCHMARK_CAPTURE(BM_Rc5Path, decrypt_16MiB_scalar, Rc5Path::kScalar, kWhole, false);
BENCHMARK_CAPTURE(BM_Rc5Path, decrypt_16MiB_avx2, Rc5Path::kAvx2, kWhole, false);
BENCHMARK_CAPTURE(BM_Rc5Path, decrypt_16MiB_avx512, Rc5Path::kAvx512, kWhole, false);
BENCHMARK_CAPTURE(BM_Rc5Path, decrypt_16MiB_dispatched, Rc5Path::kDispatched, kWhole, false);
BENCHMARK_CAPTURE(BM_Rc5Path, encrypt_256B_pieces_scalar, Rc5Path::kScalar, kPiece, true);
BENCHMARK_CAPTURE(BM_Rc5Path, encrypt_256B_pieces_avx2, Rc5Path::kAvx2, kPiece, true);
BENCHMARK_CAPTURE(BM_Rc5Path, encrypt_256B_pieces_avx512, Rc5Path::kAvx512, kPiece, true);
BENCHMARK_CAPTURE(BM_Rc5Path, encrypt_256B_pieces_dispatched, Rc5Path::kDispatched, kPiece, true);

}  // namespace

BENCHMARK_MAIN();
