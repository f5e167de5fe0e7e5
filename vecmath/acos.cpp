// A deterministic arc cosine. The angle test of the chamfer strips decides by
// comparing an arc cosine against a limit, so its result must be the same
// bits on every target. The C library's acos is not: on 32-bit Windows it
// runs on the x87 unit under whatever precision word the host process set.
// This one uses only +, -, *, / and sqrt in double precision, each of which
// IEEE 754 rounds correctly everywhere once SSE2 math without contraction is
// in force (the build flags and the FLT_EVAL_METHOD check see to that).
//
// The method is the classic one: acos(x) = pi/2 - asin(x) near 0, and
// acos(x) = 2 asin(sqrt((1 - x) / 2)) towards +-1, with asin(s) = s + s z R(z)
// for z = s * s and R a rational minimax fit (degree 5 over 4) on [0, 1/4].
// pi and pi/2 are carried as a high part plus a low correction so the final
// sums keep the bits a single double would lose.
#include "vecmath/vecmath.h"

#include <math.h>

namespace {

const double kPi = 3.14159265358979311600e+00;      // pi rounded to double
const double kPiO2Hi = 1.57079632679489655800e+00;  // pi/2 rounded to double
const double kPiO2Lo = 6.12323399573676603587e-17;  // pi/2 - kPiO2Hi
const double kPiLo = 2.0 * kPiO2Lo;                 // pi - kPi

// R(z) = P(z) / Q(z) approximates (asin(s) - s) / (s z) for z = s^2 <= 1/4.
const double kP0 = 1.66666666666666657415e-01;
const double kP1 = -3.25565818622400915405e-01;
const double kP2 = 2.01212532134862925881e-01;
const double kP3 = -4.00555345006794114027e-02;
const double kP4 = 7.91534994289814532176e-04;
const double kP5 = 3.47933107596021167570e-05;
const double kQ1 = -2.40339491173441421878e+00;
const double kQ2 = 2.02094576023350569471e+00;
const double kQ3 = -6.88283971605453293030e-01;
const double kQ4 = 7.70381505559019352791e-02;

// z R(z), evaluated by Horner's rule in a fixed order.
double AsinTail(double z)
{
    const double p = z * (kP0 + z * (kP1 + z * (kP2 + z * (kP3 + z * (kP4 + z * kP5)))));
    const double q = 1.0 + z * (kQ1 + z * (kQ2 + z * (kQ3 + z * kQ4)));
    return p / q;
}

// The high half of s: at most 26 significant bits, so that hi * hi is exact
// (Veltkamp's split, multiplications and subtractions only).
double HighHalf(double s)
{
    const double t = s * 0x1.0000002p27;  // 2^27 + 1
    return t - (t - s);
}

// a + b exactly as head + *err (Knuth's two-sum: additions only, any order
// of magnitudes).
double TwoSum(double a, double b, double *err)
{
    const double head = a + b;
    const double bb = head - a;
    *err = (a - (head - bb)) + (b - bb);
    return head;
}

}  // namespace

double VecAcos(double x)
{
    // Outside [-1, 1] (and for NaN): not a number. The comparisons are false
    // for NaN, which falls through to the quotient below.
    if (x == 1.0)
        return 0.0;
    if (x == -1.0)
        return kPi + kPiLo;  // rounds to kPi, the double nearest pi
    if (!(x > -1.0 && x < 1.0))
        return (x - x) / (x - x);

    if (x > -0.5 && x < 0.5) {
        // pi/2 - x - x R(x^2). The leading difference is kept exactly as a
        // sum of two doubles, and the small terms go into its low part, so
        // that only the last addition rounds noticeably.
        if (x > -0x1p-56 && x < 0x1p-56)
            return kPiO2Hi + kPiO2Lo;  // |x| < 2^-56: acos(x) rounds to pi/2
        const double r = AsinTail(x * x);
        double err;
        const double head = TwoSum(kPiO2Hi, -x, &err);
        return head + ((err + kPiO2Lo) - x * r);
    }
    // Towards +-1 the arc cosine is 2 asin(s) (or pi minus it) with
    // s = sqrt((1 -+ x) / 2); (1 -+ x) / 2 is exact there. The rounded square
    // root s is split into a short high part hi and the correction
    // c = (z - hi^2) / (s + hi), whose numerator is exact, so that hi + c
    // carries sqrt(z) to well beyond the bits of s.
    const double z = (x < 0.0 ? 1.0 + x : 1.0 - x) * 0.5;
    const double s = sqrt(z);
    const double hi = HighHalf(s);
    const double c = (z - hi * hi) / (s + hi);
    const double w = AsinTail(z) * s + c;
    if (x < 0.0) {
        // x in (-1, -1/2]: pi - 2 (hi + w), the leading difference exact.
        double err;
        const double head = TwoSum(kPi, -2.0 * hi, &err);
        return head + ((err + kPiLo) - 2.0 * w);
    }
    // x in [1/2, 1): 2 (hi + w); the doubling is exact.
    return 2.0 * (hi + w);
}
