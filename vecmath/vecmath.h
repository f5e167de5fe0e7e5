// Vector operations on Vec3: every coordinate the module builds goes through
// these, in double precision and in the order written, so that results are
// bit-for-bit the same on every target.
//
// The basic operations are defined here, inline: every pass calls them per
// corner and per edge, and a call across files cost more than the
// arithmetic. The composite ones (VecFoot, LinePlaneIntersect) write their
// result into a record of their own and return a copy, so they are not
// reentrant.
#ifndef CORVANE_VECMATH_H
#define CORVANE_VECMATH_H

#include <float.h>
#include <math.h>

// Extended-precision intermediates (the x87 unit) would round differently
// from SSE and give other coordinates on 32-bit targets.
static_assert(FLT_EVAL_METHOD == 0, "build with SSE math (-msse2 -mfpmath=sse)");

struct Vec3 {
    double x, y, z;
};

// Copy of v, or (0, 0, 0) when v is null.
Vec3 VecCopyOrZero(const Vec3 *v);
// Every result is computed in double precision in exactly the order written
// here (no contraction, no reordering: see cmake/flags.cmake): the
// coordinates the passes build, and so the points the weld merges, depend on
// it bit for bit.

// (c + s K) - s K rounds c to the spacing of doubles near s K, with the grid
// factor K = 2^32. s = 0 leaves c unchanged.
inline double VecSnap(double c, double s)
{
    double big = s * 0x1p32;
    double sum = c + big;
    return sum - big;
}

// a - b with each component snapped against the sum of the other two:
// removes round-off noise that is tiny beside the other components. All
// three are snapped against the unsnapped difference, so the order of the
// components does not matter.
inline Vec3 VecSub(const Vec3 &a, const Vec3 &b)
{
    double dx = a.x - b.x;
    double dy = a.y - b.y;
    double dz = a.z - b.z;
    return Vec3{VecSnap(dx, dy + dz), VecSnap(dy, dx + dz), VecSnap(dz, dx + dy)};
}

inline Vec3 VecAdd(const Vec3 &a, const Vec3 &b)
{
    return Vec3{a.x + b.x, a.y + b.y, a.z + b.z};
}

inline Vec3 VecScale(const Vec3 &v, double s)
{
    return Vec3{s * v.x, s * v.y, s * v.z};
}

// Divides each component by s; s is not tested for 0 (IEEE results).
inline Vec3 VecDiv(const Vec3 &v, double s)
{
    return Vec3{v.x / s, v.y / s, v.z / s};
}

// sqrt((y*y + x*x) + z*z): y first, then x, then z; the summation order is
// part of the result.
inline double VecLength(const Vec3 &v)
{
    double yy = v.y * v.y;
    double xx = v.x * v.x;
    double zz = v.z * v.z;
    return sqrt((yy + xx) + zz);
}

// (a.y*b.y + a.x*b.x) + a.z*b.z, summed in that order.
inline double VecDot(const Vec3 &a, const Vec3 &b)
{
    double yy = a.y * b.y;
    double xx = a.x * b.x;
    double zz = a.z * b.z;
    return (yy + xx) + zz;
}

// a x b, first operand on the left.
inline Vec3 VecCross(const Vec3 &a, const Vec3 &b)
{
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
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
