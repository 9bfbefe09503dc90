// libwavecrypt.so as seqlink uses it: loaded by name around every single call,
// functions looked up by their exported names.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using CrcFunction = std::uint32_t (*)(const void*, std::uint32_t);
using KeyFunction = std::int32_t (*)(void*);
using EntryFunction = std::int32_t (*)(std::int32_t, const void*, std::uint32_t, const void*, void*,
                                       std::uint32_t*, std::int32_t);

// Loads the library, runs body with the named function, releases the library.
template <typename Function, typename Body>
void withFunction(const char* name, Body body) {
  void* library = dlopen(WAVECRYPT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  void* symbol = dlsym(library, name);
  ASSERT_NE(symbol, nullptr) << name;
  body(reinterpret_cast<Function>(symbol));
  EXPECT_EQ(dlclose(library), 0);
}

TEST(WavecryptLibrary, ChecksumThroughTheLoadedLibrary) {
  withFunction<CrcFunction>("AfxGetCrcU32",
                            [](CrcFunction crc) { EXPECT_EQ(crc("123456789", 9), 0xCBF43926u); });
}

TEST(WavecryptLibrary, DrawWrapUnwrapAndEncryptOneCallPerLoad) {
  std::array<std::uint8_t, 16> key{};
  withFunction<KeyFunction>("AfxgetRandKeyR5",
                            [&](KeyFunction draw) { EXPECT_EQ(draw(key.data()) & 0xFFFF, 0); });
  std::array<std::uint8_t, 84> wrapped{};
  withFunction<EntryFunction>("EncOrDecOpt", [&](EntryFunction entry) {
    std::uint32_t length = 84;
    EXPECT_EQ(entry(3, key.data(), 16, nullptr, wrapped.data(), &length, 0) & 0xFFFF, 0);
    EXPECT_EQ(length, 84u);
  });
  std::array<std::uint8_t, 16> unwrapped{};
  withFunction<EntryFunction>("EncOrDecOpt", [&](EntryFunction entry) {
    std::uint32_t length = 16;
    EXPECT_EQ(entry(3, wrapped.data(), 84, nullptr, unwrapped.data(), &length, 1) & 0xFFFF, 0);
    EXPECT_EQ(length, 16u);
  });
  EXPECT_EQ(unwrapped, key);

  // RC5 with the all-zero key and block: Rivest's first example.
  withFunction<EntryFunction>("EncOrDecOpt", [](EntryFunction entry) {
    const std::uint8_t zeroKey[16] = {};
    const std::uint8_t zeroBlock[8] = {};
    std::uint8_t out[8];
    std::uint32_t length = 8;
    EXPECT_EQ(entry(2, zeroBlock, 8, zeroKey, out, &length, 0), 0);
    const std::uint8_t expected[8] = {0x21, 0xA5, 0xDB, 0xEE, 0x15, 0x4B, 0x8F, 0x6D};
    EXPECT_EQ(0, std::memcmp(out, expected, 8));
  });
}

}  // namespace
