// Point addition and scalar multiplication in affine coordinates (LibTomMath).
#include "ec_curve.h"

namespace arbsuite::wavecrypt {
namespace {

// Modular inverse of a non-zero residue of the prime p.
BigInt inverse(const BigInt& value, const BigInt& p) {
  BigInt result;
  checkMp(mp_invmod(value.get(), p.get(), result.get()));
  return result;
}

// The left-to-right multiplication in Jacobian coordinates (x = X/Z^2, y = Y/Z^3)
// over Montgomery residues: one inversion per multiplication instead of one per
// step. Each step reproduces addPoints exactly, exceptional cases included: the
// affine dx and dy are zero exactly when H and R below are, a doubling fails
// exactly when Y is zero, and a failed step leaves the accumulator as it was.
class JacobianLadder {
 public:
  JacobianLadder(const Curve& curve, const Point& base) : p_(curve.p) {
    checkMp(mp_montgomery_setup(p_.get(), &rho_));
    checkMp(mp_montgomery_calc_normalization(one_.get(), p_.get()));
    enter(curve.a, a_);
    enter(base.x, baseX_);
    enter(base.y, baseY_);
    x_ = baseX_;
    y_ = baseY_;
    z_ = one_;
  }

  void doubleAccumulator() {
    if (y_.isZero()) return;  // 2 y has no inverse: no affine result
    // S = 4 X Y^2, M = 3 X^2 + A Z^4, X3 = M^2 - 2 S,
    // Y3 = M (S - X3) - 8 Y^4, Z3 = 2 Y Z.
    mul(y_, y_, yy_);
    mul(x_, yy_, s_);
    add(s_, s_, s_);
    add(s_, s_, s_);
    mul(z_, z_, t1_);
    mul(t1_, t1_, t1_);
    mul(a_, t1_, t1_);
    mul(x_, x_, m_);
    add(m_, m_, t2_);
    add(m_, t2_, m_);
    add(m_, t1_, m_);
    mul(y_, z_, z_);
    add(z_, z_, z_);
    mul(m_, m_, x_);
    sub(x_, s_, x_);
    sub(x_, s_, x_);
    sub(s_, x_, t1_);
    mul(m_, t1_, t1_);
    mul(yy_, yy_, yy_);
    add(yy_, yy_, yy_);
    add(yy_, yy_, yy_);
    add(yy_, yy_, yy_);
    sub(t1_, yy_, y_);
  }

  void addBase() {
    // U2 = x2 Z^2, S2 = y2 Z^3, H = U2 - X, R = S2 - Y.
    mul(z_, z_, t1_);
    mul(baseX_, t1_, h_);
    sub(h_, x_, h_);
    mul(t1_, z_, t1_);
    mul(baseY_, t1_, r_);
    sub(r_, y_, r_);
    if (h_.isZero()) {
      if (r_.isZero()) doubleAccumulator();  // the accumulator equals the base
      return;                                // otherwise P + (-P): no affine result
    }
    // X3 = R^2 - H^3 - 2 X H^2, Y3 = R (X H^2 - X3) - Y H^3, Z3 = Z H.
    mul(h_, h_, t1_);   // H^2
    mul(h_, t1_, t2_);  // H^3
    mul(x_, t1_, s_);   // V = X H^2
    mul(z_, h_, z_);
    mul(y_, t2_, m_);  // Y H^3
    mul(r_, r_, x_);
    sub(x_, t2_, x_);
    sub(x_, s_, x_);
    sub(x_, s_, x_);
    sub(s_, x_, t1_);
    mul(r_, t1_, t1_);
    sub(t1_, m_, y_);
  }

  Point result() {
    BigInt z;
    leave(z_, z);
    BigInt zInverse;
    checkMp(mp_invmod(z.get(), p_.get(), zInverse.get()));
    BigInt zInverse2;
    checkMp(mp_sqrmod(zInverse.get(), p_.get(), zInverse2.get()));
    Point out;
    leave(x_, out.x);
    checkMp(mp_mulmod(out.x.get(), zInverse2.get(), p_.get(), out.x.get()));
    leave(y_, out.y);
    checkMp(mp_mulmod(out.y.get(), zInverse2.get(), p_.get(), out.y.get()));
    checkMp(mp_mulmod(out.y.get(), zInverse.get(), p_.get(), out.y.get()));
    return out;
  }

 private:
  // value -> value R mod p (any non-negative value, reduced on the way).
  void enter(const BigInt& value, BigInt& out) {
    checkMp(mp_mulmod(value.get(), one_.get(), p_.get(), out.get()));
  }
  void leave(const BigInt& value, BigInt& out) {
    out = value;
    checkMp(mp_montgomery_reduce(out.get(), p_.get(), rho_));
  }
  void mul(const BigInt& a, const BigInt& b, BigInt& out) {
    checkMp(mp_mul(a.get(), b.get(), out.get()));
    checkMp(mp_montgomery_reduce(out.get(), p_.get(), rho_));
  }
  void add(const BigInt& a, const BigInt& b, BigInt& out) {
    checkMp(mp_add(a.get(), b.get(), out.get()));
    if (mp_cmp(out.get(), p_.get()) != MP_LT) checkMp(mp_sub(out.get(), p_.get(), out.get()));
  }
  void sub(const BigInt& a, const BigInt& b, BigInt& out) {
    checkMp(mp_sub(a.get(), b.get(), out.get()));
    if (mp_isneg(out.get())) checkMp(mp_add(out.get(), p_.get(), out.get()));
  }

  const BigInt& p_;
  mp_digit rho_ = 0;
  BigInt one_;  // R mod p, the Montgomery form of 1
  BigInt a_, baseX_, baseY_;
  BigInt x_, y_, z_;
  BigInt yy_, s_, m_, h_, r_, t1_, t2_;
};

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
  JacobianLadder ladder(curve, point);
  for (int position = 62; position >= 0; --position) {
    ladder.doubleAccumulator();
    if ((digits >> position) & 1u) ladder.addBase();
  }
  return ladder.result();
}

}  // namespace arbsuite::wavecrypt
