// Vector operations. Every result is computed in double precision in exactly
// the order written here: the coordinates the passes build, and so the points
// the weld merges, depend on it bit for bit.
#include "vecmath/vecmath.h"

#include <math.h>

// The composite operations keep their result in a record of their own and
// hand out a copy. Not reentrant; everything runs on the host's calling
// thread.
static Vec3 g_footResult;
static Vec3 g_intersectResult;

Vec3 VecCopyOrZero(const Vec3 *v)
{
    if (!v)
        return Vec3{0.0, 0.0, 0.0};
    return *v;
}

Vec3 VecFoot(const Vec3 &p, const Vec3 &d, const Vec3 &o)
{
    // For a non-unit d the offset along d is scaled by |d|; the only user
    // takes a ratio of two such offsets, which the scale does not change.
    Vec3 po = VecSub(p, o);
    double t = VecDot(po, d) / VecLength(d);
    Vec3 along = VecScale(d, t);
    g_footResult = VecAdd(o, along);
    return g_footResult;
}

// The signed distance from c to the foot of q on the line through c along n,
// negative when the foot lies on the side n points to. The sign test compares
// the unit offset with the unit normal: |u + m| is about 2 when they agree
// and about 0 when they are opposite. A NaN length (q's foot at c, or n zero)
// fails `>= 0.5` and so counts as opposite.
static double SignedOffset(const Vec3 &q, const Vec3 &n, const Vec3 &c, const Vec3 &m)
{
    Vec3 foot = VecFoot(q, n, c);
    Vec3 off = VecSub(c, foot);
    double k = VecLength(off);
    Vec3 u = VecDiv(off, k);
    double agree = VecLength(VecAdd(u, m));
    if (!(agree >= 0.5))
        k = -k;
    return k;
}

Vec3 LinePlaneIntersect(const Vec3 &a, const Vec3 &n, const Vec3 &c, const Vec3 &e)
{
    // Direction of the line
    Vec3 d = VecSub(e, c);
    // Signed offsets of e and a along n, measured from c
    Vec3 m = VecDiv(n, VecLength(n));
    double ke = SignedOffset(e, n, c, m);
    double ka = SignedOffset(a, n, c, m);
    // Parallel line (e level with c) or zero normal: no intersection
    if (ke == 0.0 || ke != ke) {
        g_intersectResult = c;
        return g_intersectResult;
    }
    // The point on the line where it crosses the plane.
    g_intersectResult = VecAdd(c, VecScale(d, ka / ke));
    return g_intersectResult;
}

int VecSame(const Vec3 &a, const Vec3 &b)
{
    double la = VecLength(a);
    double lb = VecLength(b);
    double shorter = la < lb ? la : lb;
    if (fabs(la - lb) > 0.0001 * shorter)
        return 0;
    double cosine = VecDot(a, b) / (la * lb);
    // A NaN cosine (both vectors zero) fails the test.
    return cosine >= 0.9999 ? 1 : 0;
}
