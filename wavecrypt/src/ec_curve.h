// Affine point arithmetic on y^2 = x^3 + A x + b over the integers modulo a prime p,
// the arithmetic beneath the key wrap. The constant term never enters the formulas.
#pragma once

#include <cstdint>

#include "bigint.h"

namespace arbsuite::wavecrypt {

struct Curve {
  BigInt p;  // field prime
  BigInt a;  // coefficient of x
};

struct Point {
  BigInt x;
  BigInt y;
};

// out = p1 + p2 (doubling when both are equal). The formulas are applied to any
// pair of field elements, points of the curve or not. When the sum has no affine
// result (equal x, different y, or doubling a point with y = 0) the function
// returns false and leaves out as it was. out may alias p1 or p2.
bool addPoints(const Curve& curve, const Point& p1, const Point& p2, Point& out);

// The first 64 binary digits of k, most significant first, padded with zero digits
// on the right when k has fewer than 64: the digits the multiplication uses.
std::uint64_t leadingBinaryDigits(const BigInt& k);

// k P, left to right over the leading 64 binary digits of k: the accumulator starts
// as P and always takes 63 doubling steps, adding P after each step whose digit is 1.
// A 64-bit k is used in full; a longer k acts as k shifted right to 64 digits.
Point multiplyPoint(const Curve& curve, const BigInt& k, const Point& point);

}  // namespace arbsuite::wavecrypt
