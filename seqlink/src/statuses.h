// Status numbers returned by the exports of seqlink: below 16 for file and
// configuration problems, 240 and above for the sample path and the crypto binding.
#pragma once

namespace seqlink {

inline constexpr int kOk = 0;
inline constexpr int kConfigCannotOpen = 1;
inline constexpr int kBadItem = 2;
inline constexpr int kConfigEmpty = 3;
inline constexpr int kFileCannotOpen = 4;
inline constexpr int kBadHeader = 7;
inline constexpr int kNameTooLong = 8;
inline constexpr int kNoMemory = 9;
inline constexpr int kMultiSegmentRefused = 15;

inline constexpr int kDataCannotOpen = 240;
inline constexpr int kHeaderCrcMismatch = 241;
inline constexpr int kDataNoMemory = 242;
inline constexpr int kDataReadError = 243;
inline constexpr int kCryptoLoadFailed = 246;
inline constexpr int kCryptoMissingFunction = 247;
inline constexpr int kCryptoCallFailed = 248;

}  // namespace seqlink
