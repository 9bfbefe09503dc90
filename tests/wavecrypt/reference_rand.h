// The generator contract the key draw and the wrap rely on, written out for the
// tests: srand(seed) sets the state, rand() = bits 16..30 of state*214013+2531011.
#pragma once

#include <cstdint>

namespace wavecrypt_test {

class ReferenceRand {
 public:
  explicit ReferenceRand(std::uint32_t seed) : state_(seed) {}
  std::uint32_t next() {
    state_ = state_ * 214013u + 2531011u;
    return (state_ >> 16) & 0x7FFFu;
  }

 private:
  std::uint32_t state_;
};

}  // namespace wavecrypt_test
