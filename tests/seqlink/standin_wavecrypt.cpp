// Stand-ins for libwavecrypt.so, built in several variants, for testing how seqlink
// binds the crypto library at run time:
//   STANDIN_CRC_ONLY   exports AfxGetCrcU32 only (the other functions are missing)
//   STANDIN_FAILING    exports all three; EncOrDecOpt and AfxgetRandKeyR5 fail
//   STANDIN_RECORDING  exports all three; succeeds with status bits only above the
//                      low 16 bits, an identity "cipher" (in place too), and records
//                      every load, call and release in the file named by
//                      SEQLINK_STANDIN_LOG
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define STANDIN_API extern "C" __attribute__((visibility("default")))

namespace {

void record(const char* event) {
#if defined(STANDIN_RECORDING)
  if (const char* path = std::getenv("SEQLINK_STANDIN_LOG")) {
    if (std::FILE* log = std::fopen(path, "a")) {
      std::fprintf(log, "%s\n", event);
      std::fclose(log);
    }
  }
#else
  (void)event;
#endif
}

struct LoadRecorder {
  LoadRecorder() { record("load"); }
  ~LoadRecorder() { record("release"); }
} loadRecorder;

}  // namespace

// The standard reflected CRC-32, bit by bit.
STANDIN_API std::uint32_t AfxGetCrcU32(const void* data, std::uint32_t length) {
  record("AfxGetCrcU32");
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint32_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

#if !defined(STANDIN_CRC_ONLY)

STANDIN_API std::int32_t AfxgetRandKeyR5(void* key16) {
  record("AfxgetRandKeyR5");
#if defined(STANDIN_FAILING)
  (void)key16;
  return -1;
#else
  std::memset(key16, 0x3C, 16);
  return 0x10000;  // the low 16 bits say success
#endif
}

STANDIN_API std::int32_t EncOrDecOpt(std::int32_t operation, const void* input,
                                     std::uint32_t inputLength, const void* key, void* output,
                                     std::uint32_t* outputLength, std::int32_t direction) {
  record("EncOrDecOpt");
#if defined(STANDIN_FAILING)
  (void)operation, (void)input, (void)inputLength, (void)key, (void)output, (void)outputLength,
      (void)direction;
  return -1;
#else
  (void)key;
  if (operation == 3) {
    const std::uint32_t produced = direction == 0 ? 84 : 16;
    std::memset(output, 0x5A, produced);
    *outputLength = produced;
  } else {
    // The output may be the input itself, as the real cipher allows.
    const std::uint32_t produced = (inputLength + 7) / 8 * 8;
    std::memmove(output, input, inputLength);
    std::memset(static_cast<std::uint8_t*>(output) + inputLength, 0, produced - inputLength);
    *outputLength = produced;
  }
  return 0x7FFF0000;
#endif
}

#endif
