// Elliptic-curve key wrap: the built-in parameters' properties, the wire form, the
// scramble, unwrap(wrap(x)) = x, and the wrapped bytes themselves, checked against a
// reference point arithmetic written here (right-to-left multiplication with a point at
// infinity) and the wire form and scramble written out again.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "bigint.h"
#include "ec_curve.h"
#include "hex.h"
#include "key_wrap.h"
#include "reference_rand.h"
#include "scramble.h"
#include "seed_counter.h"
#include "tables.h"
#include "wavecrypt.h"

namespace {

using arbsuite::wavecrypt::BigInt;
using arbsuite::wavecrypt::checkMp;
using arbsuite::wavecrypt::Curve;
using arbsuite::wavecrypt::Point;
using wavecrypt_test::fromHex;
using wavecrypt_test::toHex;
using Key = std::array<std::uint8_t, 16>;

// ---- reference arithmetic -------------------------------------------------------

BigInt mod(const BigInt& value, const BigInt& p) {
  BigInt result;
  checkMp(mp_mod(value.get(), p.get(), result.get()));
  return result;
}

BigInt sub(const BigInt& a, const BigInt& b, const BigInt& p) {
  BigInt result;
  checkMp(mp_sub(a.get(), b.get(), result.get()));
  return mod(result, p);
}

BigInt mul(const BigInt& a, const BigInt& b, const BigInt& p) {
  BigInt result;
  checkMp(mp_mul(a.get(), b.get(), result.get()));
  return mod(result, p);
}

// a^(p-2): the inverse by Fermat's little theorem, unlike the library's mp_invmod.
BigInt inv(const BigInt& a, const BigInt& p) {
  BigInt exponent;
  BigInt result;
  checkMp(mp_sub_d(p.get(), 2, exponent.get()));
  checkMp(mp_exptmod(a.get(), exponent.get(), p.get(), result.get()));
  return result;
}

using MaybePoint = std::optional<Point>;  // nullopt is the point at infinity

MaybePoint refAdd(const Curve& c, const MaybePoint& a, const MaybePoint& b) {
  if (!a) return b;
  if (!b) return a;
  BigInt lambda;
  if (mod(a->x, c.p) == mod(b->x, c.p)) {
    if (!(mod(a->y, c.p) == mod(b->y, c.p)) || mod(a->y, c.p).isZero()) return std::nullopt;
    const BigInt x2 = mul(a->x, a->x, c.p);
    BigInt numerator = mul(x2, BigInt(3), c.p);
    checkMp(mp_add(numerator.get(), c.a.get(), numerator.get()));
    lambda = mul(numerator, inv(mul(a->y, BigInt(2), c.p), c.p), c.p);
  } else {
    lambda = mul(sub(b->y, a->y, c.p), inv(sub(b->x, a->x, c.p), c.p), c.p);
  }
  Point r;
  r.x = sub(sub(mul(lambda, lambda, c.p), a->x, c.p), b->x, c.p);
  r.y = sub(mul(lambda, sub(a->x, r.x, c.p), c.p), a->y, c.p);
  return r;
}

MaybePoint refMultiply(const Curve& c, const BigInt& k, const Point& point) {
  MaybePoint result;
  MaybePoint addend = point;
  for (int bit = 0; bit < k.bitCount(); ++bit) {
    BigInt shifted;
    checkMp(mp_div_2d(k.get(), bit, shifted.get(), nullptr));
    if (mp_get_mag_u64(shifted.get()) & 1u) result = refAdd(c, result, addend);
    addend = refAdd(c, addend, addend);
  }
  return result;
}

BigInt shiftRight(const BigInt& value, int bits) {
  BigInt result;
  checkMp(mp_div_2d(value.get(), bits, result.get(), nullptr));
  return result;
}

BigInt shiftLeft(const BigInt& value, int bits) {
  BigInt result;
  checkMp(mp_mul_2d(value.get(), bits, result.get()));
  return result;
}

bool isPrime(const BigInt& value) {
  mp_bool result = MP_NO;
  checkMp(mp_prime_is_prime(value.get(), 40, &result));
  return result == MP_YES;
}

// y^2 - x^3 - A x: the constant term of the curve through the point.
BigInt curveConstant(const Curve& c, const Point& point) {
  const BigInt cube = mul(mul(point.x, point.x, c.p), point.x, c.p);
  return sub(sub(mul(point.y, point.y, c.p), cube, c.p), mul(c.a, point.x, c.p), c.p);
}

bool samePoint(const Point& a, const MaybePoint& b) { return b && a.x == b->x && a.y == b->y; }

// ---- built-in parameters ---------------------------------------------------------

struct StoredForm {
  const char* name;
  const arbsuite::wavecrypt::tables::StoredInteger* value;
  int bits;  // exact bit length, or 0 when only "below p" is required
  bool prime;
  std::uint32_t used;
};

void PrintTo(const StoredForm& form, std::ostream* out) { *out << form.name; }

class WavecryptCurveParameter : public ::testing::TestWithParam<StoredForm> {};

TEST_P(WavecryptCurveParameter, HasTheStatedForm) {
  const StoredForm& form = GetParam();
  EXPECT_EQ(form.value->used, form.used);
  for (std::uint32_t i = 0; i < arbsuite::wavecrypt::tables::kStoredDigitSlots; ++i) {
    EXPECT_LT(form.value->digits[i], 1u << 28);
    if (i >= form.value->used) {
      EXPECT_EQ(form.value->digits[i], 0u);
    }
  }
  EXPECT_NE(form.value->digits[form.value->used - 1], 0u);  // no leading zero digit
  const BigInt value = arbsuite::wavecrypt::toBigInt(*form.value);
  if (form.bits > 0) {
    EXPECT_EQ(value.bitCount(), form.bits);
  } else {
    EXPECT_TRUE(value < arbsuite::wavecrypt::toBigInt(arbsuite::wavecrypt::tables::kCurveP));
  }
  if (form.prime) {
    EXPECT_TRUE(isPrime(value));
  }
}

INSTANTIATE_TEST_SUITE_P(
    BuiltIn, WavecryptCurveParameter,
    ::testing::Values(StoredForm{"p", &arbsuite::wavecrypt::tables::kCurveP, 132, true, 5},
                      StoredForm{"A", &arbsuite::wavecrypt::tables::kCurveA, 30, true, 2},
                      StoredForm{"B", &arbsuite::wavecrypt::tables::kCurveB, 40, true, 2},
                      StoredForm{"Gx", &arbsuite::wavecrypt::tables::kBaseX, 30, true, 2},
                      StoredForm{"Gy", &arbsuite::wavecrypt::tables::kBaseY, 45, false, 2},
                      StoredForm{"K", &arbsuite::wavecrypt::tables::kPrivateKey, 64, true, 3},
                      StoredForm{"Qx", &arbsuite::wavecrypt::tables::kPublicX, 0, false, 5},
                      StoredForm{"Qy", &arbsuite::wavecrypt::tables::kPublicY, 0, false, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WavecryptCurve, PublicKeyIsPrivateKeyTimesBaseOnTheSameCurve) {
  const auto& params = arbsuite::wavecrypt::builtInWrapParameters();
  EXPECT_TRUE(
      samePoint(params.publicKey, refMultiply(params.curve, params.privateKey, params.base)));
  EXPECT_EQ(curveConstant(params.curve, params.publicKey),
            curveConstant(params.curve, params.base));
}

TEST(WavecryptCurve, ScalarTableHolds500DistinctHundredBitNumbers) {
  std::set<std::vector<std::uint32_t>> distinct;
  for (const auto& stored : arbsuite::wavecrypt::tables::kEphemeralScalars) {
    EXPECT_EQ(stored.used, 4u);
    EXPECT_EQ(arbsuite::wavecrypt::toBigInt(stored).bitCount(), 100);
    distinct.insert(std::vector<std::uint32_t>(stored.digits, stored.digits + 8));
  }
  EXPECT_EQ(distinct.size(), arbsuite::wavecrypt::tables::kScalarEntries);
}

TEST(WavecryptCurve, MultiplicationUsesTheLeading64BinaryDigits) {
  const auto& params = arbsuite::wavecrypt::builtInWrapParameters();
  for (const std::size_t index : {0u, 137u, 499u}) {
    const BigInt k =
        arbsuite::wavecrypt::toBigInt(arbsuite::wavecrypt::tables::kEphemeralScalars[index]);
    EXPECT_TRUE(samePoint(arbsuite::wavecrypt::multiplyPoint(params.curve, k, params.base),
                          refMultiply(params.curve, shiftRight(k, 36), params.base)));
  }
  // A short scalar acts as if padded with zero digits on the right.
  EXPECT_TRUE(samePoint(arbsuite::wavecrypt::multiplyPoint(params.curve, BigInt(5), params.base),
                        refMultiply(params.curve, shiftLeft(BigInt(5), 61), params.base)));
}

// The plain affine ladder of the description, built on addPoints.
Point affineLadder(const Curve& c, const BigInt& k, const Point& point) {
  const std::uint64_t digits = arbsuite::wavecrypt::leadingBinaryDigits(k);
  Point accumulator = point;
  for (int position = 62; position >= 0; --position) {
    arbsuite::wavecrypt::addPoints(c, accumulator, accumulator, accumulator);
    if ((digits >> position) & 1u)
      arbsuite::wavecrypt::addPoints(c, accumulator, point, accumulator);
  }
  return accumulator;
}

TEST(WavecryptCurve, MultiplicationEqualsTheAffineLadderOffTheCurveToo) {
  // Foreign ciphertexts put arbitrary pairs into the multiplication.
  const auto& params = arbsuite::wavecrypt::builtInWrapParameters();
  std::mt19937 rng(63);
  for (int round = 0; round < 10; ++round) {
    std::uint8_t bytes[17];
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    const Point pair{mod(arbsuite::wavecrypt::fromBytesLE(bytes, 17), params.curve.p),
                     mod(arbsuite::wavecrypt::fromBytesLE(bytes + 3, 14), params.curve.p)};
    const BigInt k(rng() | (std::uint64_t{rng()} << 32) | (std::uint64_t{1} << 63));
    const Point fast = arbsuite::wavecrypt::multiplyPoint(params.curve, k, pair);
    const Point plain = affineLadder(params.curve, k, pair);
    EXPECT_TRUE(fast.x == plain.x && fast.y == plain.y) << "round " << round;
  }
  // y = 0: every doubling has no affine result, so the point comes back unchanged.
  const Point flat{BigInt(12345), BigInt(0)};
  const Point result = arbsuite::wavecrypt::multiplyPoint(params.curve, params.privateKey, flat);
  EXPECT_TRUE(result.x == flat.x && result.y == flat.y);
}

TEST(WavecryptCurve, AddingThenSubtractingACurvePointRestoresAnyPair) {
  const auto& params = arbsuite::wavecrypt::builtInWrapParameters();
  const Point message{BigInt(0x1234567890ull), BigInt(0xFEDCBA98ull)};  // not on the curve
  Point sum;
  ASSERT_TRUE(arbsuite::wavecrypt::addPoints(params.curve, message, params.publicKey, sum));
  Point negated{params.publicKey.x, sub(BigInt(0), params.publicKey.y, params.curve.p)};
  Point back;
  ASSERT_TRUE(arbsuite::wavecrypt::addPoints(params.curve, sum, negated, back));
  EXPECT_TRUE(back.x == message.x && back.y == message.y);
  // P + (-P) has no affine result and leaves the output alone.
  Point untouched = message;
  EXPECT_FALSE(arbsuite::wavecrypt::addPoints(params.curve, params.publicKey, negated, untouched));
  EXPECT_TRUE(untouched.x == message.x && untouched.y == message.y);
}

// ---- scramble ---------------------------------------------------------------------

TEST(WavecryptScramble, TablesAreAPermutationItsInverseAndSmallRotations) {
  std::set<int> seen;
  for (int i = 0; i < 84; ++i) {
    const int target = arbsuite::wavecrypt::tables::kScramblePermutation[i];
    ASSERT_LT(target, 84);
    seen.insert(target);
    EXPECT_EQ(arbsuite::wavecrypt::tables::kScrambleInverse[target], i);
    EXPECT_GE(arbsuite::wavecrypt::tables::kScrambleRotation[i], 1);
    EXPECT_LE(arbsuite::wavecrypt::tables::kScrambleRotation[i], 6);
  }
  EXPECT_EQ(seen.size(), 84u);
}

TEST(WavecryptScramble, MovesAndRotatesEachByteAsDescribed) {
  std::uint8_t plain[84];
  for (int i = 0; i < 84; ++i) plain[i] = static_cast<std::uint8_t>(i * 37 + 5);
  std::uint8_t scrambled[84];
  arbsuite::wavecrypt::scramble(arbsuite::wavecrypt::builtInScramble(), plain, scrambled);
  for (int i = 0; i < 84; ++i) {
    const int source = arbsuite::wavecrypt::tables::kScramblePermutation[i];
    const int r = arbsuite::wavecrypt::tables::kScrambleRotation[source];
    const auto expected =
        static_cast<std::uint8_t>((plain[source] >> r) | (plain[source] << (8 - r)));
    EXPECT_EQ(scrambled[i], expected) << "byte " << i;
  }
  std::uint8_t back[84];
  arbsuite::wavecrypt::unscramble(arbsuite::wavecrypt::builtInScramble(), scrambled, back);
  EXPECT_EQ(0, std::memcmp(back, plain, 84));
}

// ---- wire form ------------------------------------------------------------------

struct WireCase {
  const char* valueHex;  // big-endian hex of the value ("" for zero)
  const char* wire;      // serialised bytes
};

void PrintTo(const WireCase& c, std::ostream* out) { *out << c.wire; }

class WavecryptWireForm : public ::testing::TestWithParam<WireCase> {};

BigInt fromBigEndianHex(const std::string& hex) {
  auto bytes = fromHex(hex);
  std::reverse(bytes.begin(), bytes.end());
  return arbsuite::wavecrypt::fromBytesLE(bytes.data(), bytes.size());
}

TEST_P(WavecryptWireForm, SerialisesAndParses) {
  const BigInt value = fromBigEndianHex(GetParam().valueHex);
  std::uint8_t out[84] = {};
  const std::size_t length = arbsuite::wavecrypt::serialiseInteger(value, out, sizeof out);
  EXPECT_EQ(toHex(out, length), GetParam().wire);
  std::size_t position = 0;
  EXPECT_TRUE(arbsuite::wavecrypt::parseInteger(out, sizeof out, position) == value);
  EXPECT_EQ(position, length);
}

INSTANTIATE_TEST_SUITE_P(
    Values, WavecryptWireForm,
    ::testing::Values(WireCase{"", "ff"}, WireCase{"01", "00000001ff"},
                      WireCase{"0fffffff", "0fffffffff"},
                      WireCase{"10000000", "0000000000000001ff"},
                      // digits 0x6543210, 0xfedcba9, 0x0000007 (least significant first)
                      WireCase{"07fedcba96543210", "065432100fedcba900000007ff"}));

TEST(WavecryptWireForm, DigitGroupsComeFromTheValueNotTheLibraryDigitSize) {
  std::mt19937 rng(28);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::uint8_t> le(1 + rng() % 20);
    for (auto& b : le) b = static_cast<std::uint8_t>(rng());
    const BigInt value = arbsuite::wavecrypt::fromBytesLE(le.data(), le.size());
    const auto digits = arbsuite::wavecrypt::toWireDigits(value);
    // Bit i of the value is bit i % 8 of byte i / 8.
    std::vector<std::uint32_t> expected((le.size() * 8 + 27) / 28, 0);
    for (std::size_t bit = 0; bit < le.size() * 8; ++bit) {
      if ((le[bit / 8] >> (bit % 8)) & 1) expected[bit / 28] |= 1u << (bit % 28);
    }
    while (!expected.empty() && expected.back() == 0) expected.pop_back();
    EXPECT_EQ(digits, expected);
  }
}

TEST(WavecryptWireForm, ParseStopsAtTheEndAndZeroPadsACutGroup) {
  const auto bytes = fromHex("0000000102");  // one group, then two bytes of a second
  std::size_t position = 0;
  const BigInt value = arbsuite::wavecrypt::parseInteger(bytes.data(), bytes.size(), position);
  EXPECT_EQ(position, bytes.size());
  // 1 + 0x02000000 * 2^28
  EXPECT_TRUE(value == fromBigEndianHex("20000000000001"));
  EXPECT_TRUE(arbsuite::wavecrypt::parseInteger(bytes.data(), bytes.size(), position).isZero());
}

// ---- wrap and unwrap ----------------------------------------------------------------

Key wrapUnwrap(const Key& key) {
  std::uint8_t wrapped[84];
  std::uint32_t length = 84;
  EXPECT_EQ(EncOrDecOpt(3, key.data(), 16, nullptr, wrapped, &length, 0), WAVECRYPT_OK);
  EXPECT_EQ(length, 84u);
  Key back{};
  length = 16;
  EXPECT_EQ(EncOrDecOpt(3, wrapped, 84, nullptr, back.data(), &length, 1), WAVECRYPT_OK);
  EXPECT_EQ(length, 16u);
  return back;
}

class WavecryptWrapPattern : public ::testing::TestWithParam<const char*> {};

TEST_P(WavecryptWrapPattern, RoundTrips) {
  Key key{};
  const auto bytes = fromHex(GetParam());
  std::copy(bytes.begin(), bytes.end(), key.begin());
  EXPECT_EQ(toHex(wrapUnwrap(key).data(), 16), GetParam());
}

// Trailing zero and 0xFF bytes in either part survive thanks to the terminator.
INSTANTIATE_TEST_SUITE_P(
    Extremes, WavecryptWrapPattern,
    ::testing::Values("00000000000000000000000000000000", "ffffffffffffffffffffffffffffffff",
                      "ffffffffffffffffffff000000000000", "00000000000000000000ffffffffffff",
                      "01000000000000000000ff0000000000", "00ff00ff00ff00ff00ff00ff00ff00ff"));

TEST(WavecryptWrap, RandomKeysRoundTrip) {
  std::mt19937 rng(84);
  for (int round = 0; round < 100; ++round) {
    Key key;
    for (auto& b : key) b = static_cast<std::uint8_t>(rng());
    EXPECT_EQ(wrapUnwrap(key), key);
  }
}

TEST(WavecryptWrap, EveryEphemeralScalarRoundTrips) {
  const auto& params = arbsuite::wavecrypt::builtInWrapParameters();
  std::mt19937 rng(500);
  for (std::size_t index = 0; index < arbsuite::wavecrypt::tables::kScalarEntries; ++index) {
    Key key;
    for (auto& b : key) b = static_cast<std::uint8_t>(rng());
    std::uint8_t ciphertext[84];
    arbsuite::wavecrypt::encryptDataKey(
        params,
        arbsuite::wavecrypt::toBigInt(arbsuite::wavecrypt::tables::kEphemeralScalars[index]),
        key.data(), ciphertext);
    Key back{};
    ASSERT_EQ(arbsuite::wavecrypt::decryptDataKey(params, ciphertext, back.data()), 16u);
    EXPECT_EQ(back, key) << "scalar " << index;
  }
}

class WavecryptWrapSeed : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = arbsuite::wavecrypt::seedCounter(); }
  void TearDown() override { arbsuite::wavecrypt::setSeedCounter(saved_); }
  std::uint32_t saved_ = 0;
};

TEST_F(WavecryptWrapSeed, EphemeralChoiceFollowsTheSeedRule) {
  const std::uint32_t now = 1765000000u;
  arbsuite::wavecrypt::setSeedCounter(17);
  const std::uint32_t index = arbsuite::wavecrypt::chooseEphemeralIndex(now);
  EXPECT_EQ(index, wavecrypt_test::ReferenceRand(now + 17 + 987).next() % 500);
  EXPECT_EQ(arbsuite::wavecrypt::seedCounter(), 18u);
}

TEST_F(WavecryptWrapSeed, CounterResetsWhenTheWrapReachesTheLimit) {
  arbsuite::wavecrypt::setSeedCounter(0xFFFFFE09u);
  arbsuite::wavecrypt::chooseEphemeralIndex(5);
  EXPECT_EQ(arbsuite::wavecrypt::seedCounter(), 0xFFFFFE0Au);
  arbsuite::wavecrypt::chooseEphemeralIndex(5);
  EXPECT_EQ(arbsuite::wavecrypt::seedCounter(), 0u);
}

TEST_F(WavecryptWrapSeed, TwoWrapsInTheSameSecondDifferAndBothUnwrap) {
  const Key key = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::uint8_t first[84];
  std::uint8_t second[84];
  arbsuite::wavecrypt::wrapDataKey(key.data(), first, 1765000000u);
  arbsuite::wavecrypt::wrapDataKey(key.data(), second, 1765000000u);
  EXPECT_NE(0, std::memcmp(first, second, 84));
  for (const std::uint8_t* wrapped : {first, second}) {
    Key back{};
    ASSERT_EQ(arbsuite::wavecrypt::unwrapDataKey(wrapped, back.data()), 16u);
    EXPECT_EQ(back, key);
  }
}

// A curve over a 100-bit prime: every coordinate has at most 4 digits, so the
// ciphertext is shorter than 84 bytes and reaches the scramble zero-padded.
TEST(WavecryptWrap, ShortCiphertextIsPaddedAndStillUnwraps) {
  arbsuite::wavecrypt::WrapParameters small;
  checkMp(mp_2expt(small.curve.p.get(), 99));
  checkMp(mp_add_d(small.curve.p.get(), 12345, small.curve.p.get()));
  checkMp(mp_prime_next_prime(small.curve.p.get(), 40, 0));
  small.curve.a = BigInt(7);
  small.base = Point{BigInt(0x2B7E1516ull), BigInt(0x28AED2A6ABF7ull)};
  small.privateKey = BigInt(0xF123456789ABCDEFull);
  checkMp(mp_prime_next_prime(small.privateKey.get(), 40, 0));
  const MaybePoint q = refMultiply(small.curve, small.privateKey, small.base);
  ASSERT_TRUE(q);
  small.publicKey = *q;

  std::mt19937 rng(68);
  for (const std::size_t index : {3u, 250u, 498u}) {
    Key key;
    for (auto& b : key) b = static_cast<std::uint8_t>(rng());
    std::uint8_t ciphertext[84];
    const std::size_t used = arbsuite::wavecrypt::encryptDataKey(
        small, arbsuite::wavecrypt::toBigInt(arbsuite::wavecrypt::tables::kEphemeralScalars[index]),
        key.data(), ciphertext);
    ASSERT_LE(used, 68u);
    for (std::size_t i = used; i < 84; ++i) EXPECT_EQ(ciphertext[i], 0) << "byte " << i;

    std::uint8_t scrambled[84];
    std::uint8_t unscrambled[84];
    arbsuite::wavecrypt::scramble(arbsuite::wavecrypt::builtInScramble(), ciphertext, scrambled);
    arbsuite::wavecrypt::unscramble(arbsuite::wavecrypt::builtInScramble(), scrambled, unscrambled);
    Key back{};
    ASSERT_EQ(arbsuite::wavecrypt::decryptDataKey(small, unscrambled, back.data()), 16u);
    EXPECT_EQ(back, key);
  }
}

TEST(WavecryptUnwrap, ZeroFirstCoordinateProducesNothing) {
  const std::uint8_t zeros[84] = {};
  std::uint8_t out[16];
  std::memset(out, 0xA5, sizeof out);
  std::uint32_t length = 16;
  EXPECT_EQ(EncOrDecOpt(3, zeros, 84, nullptr, out, &length, 1), WAVECRYPT_OK);
  EXPECT_EQ(length, 0u);
  for (const std::uint8_t b : out) EXPECT_EQ(b, 0xA5);
}

TEST(WavecryptUnwrap, ForeignBytesGiveSixteenBytesOrNothingAndNeverMore) {
  std::mt19937 rng(1118);
  for (int round = 0; round < 60; ++round) {
    std::uint8_t wrapped[84];
    for (auto& b : wrapped) b = static_cast<std::uint8_t>(round % 3 == 0 ? 0xFF : rng());
    std::vector<std::uint8_t> out(16);
    std::uint32_t length = 16;
    EXPECT_EQ(EncOrDecOpt(3, wrapped, 84, nullptr, out.data(), &length, 1), WAVECRYPT_OK);
    EXPECT_TRUE(length == 16u || length == 0u);
  }
}

// ---- known answers --------------------------------------------------------------
// The wrapped bytes built here from the description alone: the parameters read from
// the stored digit tables, the reference arithmetic above, the serialisation and
// the scramble written out again. None of the library's conversions, point
// arithmetic or wire code takes part.

// Sum of digits[i] * 2^(28 i) over the used digits of a stored integer.
BigInt referenceFromStored(const arbsuite::wavecrypt::tables::StoredInteger& stored) {
  BigInt value;
  for (std::uint32_t i = stored.used; i-- > 0;) {
    checkMp(mp_mul_2d(value.get(), 28, value.get()));
    checkMp(mp_add_d(value.get(), stored.digits[i], value.get()));
  }
  return value;
}

// b0 + 256 b1 + ... for the given bytes.
BigInt referenceLittleEndian(std::vector<std::uint8_t> bytes) {
  std::reverse(bytes.begin(), bytes.end());
  BigInt value;
  checkMp(mp_from_ubin(value.get(), bytes.data(), bytes.size()));
  return value;
}

// The little-endian bytes of a value, as many as it needs (none for zero).
std::vector<std::uint8_t> referenceBytes(const BigInt& value) {
  if (value.isZero()) return {};
  std::vector<std::uint8_t> bytes(mp_ubin_size(value.get()));
  std::size_t written = 0;
  checkMp(mp_to_ubin(value.get(), bytes.data(), bytes.size(), &written));
  bytes.resize(written);
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

// Appends the wire form of a value: its 28-bit digits (bit i of the value is bit
// i % 28 of digit i / 28), least significant first, 4 bytes each with the most
// significant byte first, then 0xFF.
void referenceSerialise(const BigInt& value, std::vector<std::uint8_t>& out) {
  const std::vector<std::uint8_t> le = referenceBytes(value);
  std::vector<std::uint32_t> digits((le.size() * 8 + 27) / 28, 0);
  for (std::size_t bit = 0; bit < le.size() * 8; ++bit) {
    if ((le[bit / 8] >> (bit % 8)) & 1) digits[bit / 28] |= 1u << (bit % 28);
  }
  while (!digits.empty() && digits.back() == 0) digits.pop_back();
  for (const std::uint32_t d : digits) {
    for (const int shift : {24, 16, 8, 0}) out.push_back(static_cast<std::uint8_t>(d >> shift));
  }
  out.push_back(0xFF);
}

// The four coordinates serialised in the order C2.x, C2.y, C1.x, C1.y, zero-padded to
// 84 bytes, then each byte i rotated right by R[i] and moved to the position j with
// P[j] = i.
std::array<std::uint8_t, 84> referenceWire(const Point& c2, const Point& c1) {
  std::vector<std::uint8_t> plain;
  for (const BigInt* v : {&c2.x, &c2.y, &c1.x, &c1.y}) referenceSerialise(*v, plain);
  EXPECT_LE(plain.size(), 84u);
  plain.resize(84, 0);
  std::array<std::uint8_t, 84> wire{};
  for (int j = 0; j < 84; ++j) {
    const int i = arbsuite::wavecrypt::tables::kScramblePermutation[j];
    const int r = arbsuite::wavecrypt::tables::kScrambleRotation[i];
    wire[static_cast<std::size_t>(j)] =
        static_cast<std::uint8_t>((plain[static_cast<std::size_t>(i)] >> r) |
                                  (plain[static_cast<std::size_t>(i)] << (8 - r)));
  }
  return wire;
}

struct ReferenceCurve {
  Curve curve;
  Point base;
  Point publicKey;
};

ReferenceCurve referenceCurve() {
  using namespace arbsuite::wavecrypt::tables;
  return {Curve{referenceFromStored(kCurveP), referenceFromStored(kCurveA)},
          Point{referenceFromStored(kBaseX), referenceFromStored(kBaseY)},
          Point{referenceFromStored(kPublicX), referenceFromStored(kPublicY)}};
}

// The message pair of a key: bytes 0..9 and 10..15, each followed by 0xFF.
Point referenceMessage(const Key& key) {
  std::vector<std::uint8_t> first(key.begin(), key.begin() + 10);
  std::vector<std::uint8_t> second(key.begin() + 10, key.end());
  first.push_back(0xFF);
  second.push_back(0xFF);
  return {referenceLittleEndian(first), referenceLittleEndian(second)};
}

// ElGamal with the 64-bit scalar r: C1 = r G, C2 = M + r Q.
std::pair<Point, Point> referenceEncrypt(const ReferenceCurve& rc, const BigInt& r,
                                         const Key& key) {
  const MaybePoint c1 = refMultiply(rc.curve, r, rc.base);
  const MaybePoint shared = refMultiply(rc.curve, r, rc.publicKey);
  const MaybePoint c2 = refAdd(rc.curve, referenceMessage(key), shared);
  EXPECT_TRUE(c1 && c2);
  return {c2.value_or(Point{}), c1.value_or(Point{})};
}

// The wrap of key with table entry `index`, of which the leading 64 of its 100
// binary digits take part.
std::array<std::uint8_t, 84> expectedWrap(std::uint32_t index, const Key& key) {
  const ReferenceCurve rc = referenceCurve();
  const BigInt k =
      shiftRight(referenceFromStored(arbsuite::wavecrypt::tables::kEphemeralScalars[index]), 36);
  const auto [c2, c1] = referenceEncrypt(rc, k, key);
  return referenceWire(c2, c1);
}

Key keyFromHex(const char* hex) {
  Key key{};
  const auto bytes = fromHex(hex);
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

struct WrapAnswer {
  const char* name;
  std::uint32_t now;
  std::uint32_t counter;
  const char* keyHex;
};

void PrintTo(const WrapAnswer& a, std::ostream* out) { *out << a.name; }

class WavecryptWrapAnswer : public ::testing::TestWithParam<WrapAnswer> {
 protected:
  void SetUp() override { saved_ = arbsuite::wavecrypt::seedCounter(); }
  void TearDown() override { arbsuite::wavecrypt::setSeedCounter(saved_); }
  std::uint32_t saved_ = 0;
};

TEST_P(WavecryptWrapAnswer, BytesAreTheSerialisedScrambledCiphertext) {
  const WrapAnswer& a = GetParam();
  const Key key = keyFromHex(a.keyHex);
  // The table entry the seed rule picks, worked out here.
  const std::uint32_t index = wavecrypt_test::ReferenceRand(a.now + a.counter + 987).next() % 500;
  arbsuite::wavecrypt::setSeedCounter(a.counter);
  std::uint8_t wrapped[84];
  arbsuite::wavecrypt::wrapDataKey(key.data(), wrapped, a.now);
  const auto expected = expectedWrap(index, key);
  EXPECT_EQ(toHex(wrapped, 84), toHex(expected.data(), 84)) << "table entry " << index;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WavecryptWrapAnswer,
    ::testing::Values(WrapAnswer{"Ascending", 1765000000u, 17, "000102030405060708090a0b0c0d0e0f"},
                      WrapAnswer{"Mixed", 1234567890u, 0, "f00dcafe0123456789abcdef55aa33cc"},
                      WrapAnswer{"TrailingFF", 4000000000u, 0xFFFFFE00u,
                                 "ffffffffffffffffff00ff00000000ff"}),
    [](const auto& info) { return std::string(info.param.name); });

// The public entry takes the time from the clock: the result is the wrap of one of
// the seconds the call can have seen.
TEST(WavecryptWrapAnswerEntry, EntryWrapsWithTheCurrentSecondAndTheCounter) {
  const Key key = keyFromHex("31415926535897932384626433832795");
  const std::uint32_t counter = arbsuite::wavecrypt::seedCounter();
  const auto before = static_cast<std::uint32_t>(std::time(nullptr));
  std::uint8_t wrapped[84];
  std::uint32_t length = 84;
  ASSERT_EQ(EncOrDecOpt(3, key.data(), 16, nullptr, wrapped, &length, 0), WAVECRYPT_OK);
  const auto after = static_cast<std::uint32_t>(std::time(nullptr));
  ASSERT_EQ(length, 84u);
  bool matched = false;
  for (std::uint32_t now = before; now <= after && !matched; ++now) {
    const auto expected =
        expectedWrap(wavecrypt_test::ReferenceRand(now + counter + 987).next() % 500, key);
    matched = std::memcmp(wrapped, expected.data(), 84) == 0;
  }
  EXPECT_TRUE(matched) << toHex(wrapped, 84);
}

// Hand-built wrapped bytes: the message pair and a scalar chosen here, every
// coordinate distinct and non-zero, and unwrapped through the public entry.
TEST(WavecryptUnwrapAnswer, HandBuiltBytesGiveTheirKey) {
  const ReferenceCurve rc = referenceCurve();
  for (const auto& [scalar, hex] :
       {std::pair{0xC0FFEE0123456789ull, "8899aabbccddeeff0011223344556677"},
        std::pair{0x8000000000000001ull, "00112233445566778899aabbccddeeff"}}) {
    const Key key = keyFromHex(hex);
    const auto [c2, c1] = referenceEncrypt(rc, BigInt(scalar), key);
    const std::set<std::vector<std::uint8_t>> distinct{referenceBytes(c2.x), referenceBytes(c2.y),
                                                       referenceBytes(c1.x), referenceBytes(c1.y)};
    ASSERT_EQ(distinct.size(), 4u);
    ASSERT_FALSE(c2.x.isZero() || c2.y.isZero() || c1.x.isZero() || c1.y.isZero());
    const auto wire = referenceWire(c2, c1);
    Key back{};
    std::uint32_t length = 16;
    EXPECT_EQ(EncOrDecOpt(3, wire.data(), 84, nullptr, back.data(), &length, 1), WAVECRYPT_OK);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(toHex(back.data(), 16), hex);
  }
}

// Only a zero C2.x, the first integer on the wire, stops the unwrap: a zero in any
// other place still gives 16 bytes.
class WavecryptUnwrapZeroCoordinate : public ::testing::TestWithParam<int> {};

TEST_P(WavecryptUnwrapZeroCoordinate, OnlyTheFirstStopsTheUnwrap) {
  const int zeroAt = GetParam();  // 0 C2.x, 1 C2.y, 2 C1.x, 3 C1.y
  Point c2{BigInt(0x0123456789ABCDEFull), BigInt(0x00FEDCBA98765432ull)};
  Point c1{BigInt(0x0000111122223333ull), BigInt(0x0044445555666677ull)};
  BigInt* const coordinates[] = {&c2.x, &c2.y, &c1.x, &c1.y};
  *coordinates[zeroAt] = BigInt(0);
  const auto wire = referenceWire(c2, c1);
  std::uint8_t out[16];
  std::memset(out, 0xA5, sizeof out);
  std::uint32_t length = 16;
  EXPECT_EQ(EncOrDecOpt(3, wire.data(), 84, nullptr, out, &length, 1), WAVECRYPT_OK);
  if (zeroAt == 0) {
    EXPECT_EQ(length, 0u);
    for (const std::uint8_t b : out) EXPECT_EQ(b, 0xA5);
  } else {
    EXPECT_EQ(length, 16u);
  }
}

std::string coordinateName(const ::testing::TestParamInfo<int>& info) {
  static const char* const names[] = {"C2x", "C2y", "C1x", "C1y"};
  return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Coordinates, WavecryptUnwrapZeroCoordinate, ::testing::Values(0, 1, 2, 3),
                         coordinateName);

}  // namespace
