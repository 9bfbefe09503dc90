// Loads libwavecrypt.so around every single crypto call (see crypto_binding.h).
#include "crypto_binding.h"

#include <dlfcn.h>

#include <string>

#include "seqlink.h"
#include "seqlink_stream.h"
#include "wavecrypt.h"

namespace arbsuite::seqlink {
namespace {

// The signatures of the crypto library's own declarations; the functions are looked
// up by name, never linked.
using CrcFn = decltype(&AfxGetCrcU32);
using EncOrDecFn = decltype(&EncOrDecOpt);
using RandKeyFn = decltype(&AfxgetRandKeyR5);

void* openCryptoLibrary();

// Owns one dlopen handle; released on every path out of a call.
class LoadedLibrary {
 public:
  LoadedLibrary() : handle_(openCryptoLibrary()) {}
  ~LoadedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }

  template <typename Fn>
  Fn find(const char* name) const {
    return reinterpret_cast<Fn>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

// Loads the crypto library by name, in the loader's ordinary search order, which
// includes this library's RUNPATH $ORIGIN. When a preloaded runtime interposes
// dlopen (a sanitizer runtime, a profiling tool), the loader takes that runtime for
// the caller and never looks at $ORIGIN; the library is then looked for in this
// library's own folder explicitly, which is what $ORIGIN stands for.
void* openCryptoLibrary() {
  if (void* handle = dlopen(kCryptoLibraryName, RTLD_NOW | RTLD_LOCAL)) return handle;
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&openCryptoLibrary), &self) == 0 ||
      self.dli_fname == nullptr) {
    return nullptr;
  }
  std::string path = self.dli_fname;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return nullptr;
  path.replace(slash + 1, std::string::npos, kCryptoLibraryName);
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

// The crypto statuses are signed 16-bit values in an int: only the low 16 bits count.
bool cryptoSucceeded(std::int32_t status) {
  return static_cast<std::int16_t>(status) == WAVECRYPT_OK;
}

}  // namespace

CryptoLibraryHold::CryptoLibraryHold() : handle_(openCryptoLibrary()) {}

CryptoLibraryHold::~CryptoLibraryHold() {
  if (handle_ != nullptr) dlclose(handle_);
}

int cryptoCrc32(const void* data, std::uint32_t length, std::uint32_t& crc) {
  LoadedLibrary library;
  if (!library.loaded()) return SEQLINK_CRYPTO_LOAD_FAILED;
  auto fn = library.find<CrcFn>("AfxGetCrcU32");
  if (fn == nullptr) return SEQLINK_CRYPTO_MISSING_FUNCTION;
  crc = fn(data, length);
  return SEQLINK_OK;
}

int cryptoEncOrDec(int operation, const void* input, std::uint32_t inputLength, const void* key,
                   void* output, std::uint32_t* outputLength, int direction) {
  LoadedLibrary library;
  if (!library.loaded()) return SEQLINK_CRYPTO_LOAD_FAILED;
  auto fn = library.find<EncOrDecFn>("EncOrDecOpt");
  if (fn == nullptr) return SEQLINK_CRYPTO_MISSING_FUNCTION;
  const int status = fn(operation, input, inputLength, key, output, outputLength, direction);
  return cryptoSucceeded(status) ? SEQLINK_OK : SEQLINK_CRYPTO_CALL_FAILED;
}

int cryptoRandomKey(void* key) {
  LoadedLibrary library;
  if (!library.loaded()) return SEQLINK_CRYPTO_LOAD_FAILED;
  auto fn = library.find<RandKeyFn>("AfxgetRandKeyR5");
  if (fn == nullptr) return SEQLINK_CRYPTO_MISSING_FUNCTION;
  return cryptoSucceeded(fn(key)) ? SEQLINK_OK : SEQLINK_CRYPTO_CALL_FAILED;
}

}  // namespace arbsuite::seqlink
