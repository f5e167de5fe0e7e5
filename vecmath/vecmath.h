// Vector operations on Vec3: every coordinate the module builds goes through
// these, in double precision and in the order written, so that results are
// bit-for-bit the same on every target.
//
// Each operation that returns a computed vector first writes it into a result
// record of its own and returns a copy, so none of them is reentrant.
#ifndef CORVANE_VECMATH_H
#define CORVANE_VECMATH_H

struct Vec3 {
    double x, y, z;
};

// Copy of v, or (0, 0, 0) when v is null.
Vec3 VecCopyOrZero(const Vec3 *v);
Vec3 VecCopy(const Vec3 &v);
// a - b with each component snapped against the sum of the other two
// (K = 2^32): removes round-off noise that is tiny beside the other components.
Vec3 VecSub(const Vec3 &a, const Vec3 &b);
Vec3 VecAdd(const Vec3 &a, const Vec3 &b);
Vec3 VecScale(const Vec3 &v, double s);
// Divides each component by s; s is not tested for 0 (IEEE results).
Vec3 VecDiv(const Vec3 &v, double s);
// sqrt((y*y + x*x) + z*z), summed in that order.
double VecLength(const Vec3 &v);
// (a.y*b.y + a.x*b.x) + a.z*b.z, summed in that order.
double VecDot(const Vec3 &a, const Vec3 &b);
// a x b, first operand on the left.
Vec3 VecCross(const Vec3 &a, const Vec3 &b);
// o + d * (VecDot(p - o, d) / VecLength(d)).
Vec3 VecFoot(const Vec3 &p, const Vec3 &d, const Vec3 &o);
// Point where the line through c and e meets the plane through a with normal
// direction n; c when the line is parallel to the plane or n is zero.
Vec3 LinePlaneIntersect(const Vec3 &a, const Vec3 &n, const Vec3 &c, const Vec3 &e);
// 1 when a and b agree in length (to 1e-4 of the shorter) and direction
// (cosine at least 0.9999), else 0; two zero vectors give 0.
int VecSame(const Vec3 &a, const Vec3 &b);

// Arc cosine in radians, within one unit in the last place of the exact
// value and the same bits on every target (the C library's acos is neither
// portable nor independent of the x87 precision word on 32-bit Windows):
// exact at -1, 0 and 1; not a number outside [-1, 1] and for NaN.
double VecAcos(double x);

#endif
