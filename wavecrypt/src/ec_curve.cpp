// Point addition and scalar multiplication in affine coordinates (LibTomMath).
#include "ec_curve.h"

namespace wavecrypt {
namespace {

// Modular inverse of a non-zero residue of the prime p.
BigInt inverse(const BigInt& value, const BigInt& p) {
  BigInt result;
  checkMp(mp_invmod(value.get(), p.get(), result.get()));
  return result;
}

}  // namespace

bool addPoints(const Curve& curve, const Point& p1, const Point& p2, Point& out) {
  const mp_int* p = curve.p.get();
  BigInt dx;
  BigInt dy;
  checkMp(mp_submod(p2.x.get(), p1.x.get(), p, dx.get()));
  checkMp(mp_submod(p2.y.get(), p1.y.get(), p, dy.get()));

  BigInt lambda;
  if (!dx.isZero()) {
    checkMp(mp_mulmod(dy.get(), inverse(dx, curve.p).get(), p, lambda.get()));
  } else if (dy.isZero()) {
    // Doubling: lambda = (3 x1^2 + A) / (2 y1).
    BigInt numerator;
    checkMp(mp_sqrmod(p1.x.get(), p, numerator.get()));
    checkMp(mp_mul_d(numerator.get(), 3, numerator.get()));
    checkMp(mp_addmod(numerator.get(), curve.a.get(), p, numerator.get()));
    BigInt denominator;
    checkMp(mp_mul_2(p1.y.get(), denominator.get()));
    checkMp(mp_mod(denominator.get(), p, denominator.get()));
    if (denominator.isZero()) return false;
    checkMp(mp_mulmod(numerator.get(), inverse(denominator, curve.p).get(), p, lambda.get()));
  } else {
    return false;  // P + (-P): no affine result
  }

  // x3 = lambda^2 - x1 - x2, y3 = lambda (x1 - x3) - y1.
  BigInt x3;
  checkMp(mp_sqrmod(lambda.get(), p, x3.get()));
  checkMp(mp_submod(x3.get(), p1.x.get(), p, x3.get()));
  checkMp(mp_submod(x3.get(), p2.x.get(), p, x3.get()));
  BigInt y3;
  checkMp(mp_submod(p1.x.get(), x3.get(), p, y3.get()));
  checkMp(mp_mulmod(lambda.get(), y3.get(), p, y3.get()));
  checkMp(mp_submod(y3.get(), p1.y.get(), p, y3.get()));

  out.x = std::move(x3);
  out.y = std::move(y3);
  return true;
}

std::uint64_t leadingBinaryDigits(const BigInt& k) {
  const int bits = k.bitCount();
  if (bits == 0) return 0;
  if (bits <= 64) return mp_get_mag_u64(k.get()) << (64 - bits);
  BigInt top;
  checkMp(mp_div_2d(k.get(), bits - 64, top.get(), nullptr));
  return mp_get_mag_u64(top.get());
}

Point multiplyPoint(const Curve& curve, const BigInt& k, const Point& point) {
  const std::uint64_t digits = leadingBinaryDigits(k);
  Point accumulator = point;
  for (int position = 62; position >= 0; --position) {
    addPoints(curve, accumulator, accumulator, accumulator);
    if ((digits >> position) & 1u) addPoints(curve, accumulator, point, accumulator);
  }
  return accumulator;
}

}  // namespace wavecrypt
