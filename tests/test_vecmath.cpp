// Vector operations: the snapping difference, summation orders, and the
// composite operations the corner cut and the end caps rely on.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include "vecmath/vecmath.h"

namespace {

const Vec3 kOrigin = {0.0, 0.0, 0.0};

// Bit-equal comparison, so that -0.0 and NaN are told apart as they are.
bool SameBits(double a, double b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

void ExpectVec(const Vec3 &got, double x, double y, double z, const char *what)
{
    EXPECT_TRUE(SameBits(got.x, x)) << what << ": x " << got.x << " expected " << x;
    EXPECT_TRUE(SameBits(got.y, y)) << what << ": y " << got.y << " expected " << y;
    EXPECT_TRUE(SameBits(got.z, z)) << what << ": z " << got.z << " expected " << z;
}

}  // namespace

TEST(VecSub, SnapsEachComponentAgainstTheOtherTwo)
{
    // A component tiny beside the other two vanishes.
    ExpectVec(VecSub({1e-9, 1, 0}, kOrigin), 0.0, 1.0, 0.0, "tiny x");
    // 0.3 beside 1e6 is rounded to the spacing of doubles near 2^32 * 1e6.
    ExpectVec(VecSub({0.3, 1000000, 0}, kOrigin), 0.5, 1000000.0, 0.0, "coarse grid");
    // The other two sum to 0: nothing to snap against.
    ExpectVec(VecSub({0.3, 5, -5}, kOrigin), 0.3, 5.0, -5.0, "cancelling pair");
    ExpectVec(VecSub({1, 2, 3}, kOrigin), 1.0, 2.0, 3.0, "integers");
    // Decimals are pulled onto the grid of 2^-20 of their neighbours' sum.
    ExpectVec(VecSub({0.1, 0.2, 0.3}, kOrigin), 0.099999904632568359, 0.20000004768371582,
              0.29999995231628418, "decimals");
}

TEST(VecSub, SnapsFromTheUnsnappedDifference)
{
    // y is snapped against x + z = 0.1 + -0.1 = 0 of the raw difference, so it
    // stays 0.2; snapping it against the already snapped x would give
    // 0.20000000000000284.
    ExpectVec(VecSub({0.1, 0.2, -0.1}, kOrigin), 0.10000002384185791, 0.2, -0.099999904632568359,
              "order independence");
    // The difference is formed first, then snapped: a - b, not a + b.
    ExpectVec(VecSub({5, 7, 9}, {1, 2, 3}), 4.0, 5.0, 6.0, "plain difference");
    ExpectVec(VecSub({10.3, 1000000, 0}, {10, 0, 0}), 0.5, 1000000.0, 0.0, "snapped difference");
}

TEST(VecLengthDot, SumInTheGivenOrder)
{
    // (y*y + x*x) + z*z: the other association rounds differently here.
    const double x = 3.2875129520278374, y = -3.8404227234100929, z = -5.5100355150365505;
    ASSERT_NE(sqrt(x * x + (y * y + z * z)), 7.4777723608839208) << "case must discriminate";
    EXPECT_TRUE(SameBits(VecLength({x, y, z}), 7.4777723608839208));
    EXPECT_EQ(VecLength({3, 4, 12}), 13.0);

    // z is added last: two half-ulps added to 1 one at a time vanish, added
    // to each other first they survive.
    const double half = ldexp(1.0, -53);
    EXPECT_EQ(VecDot({1, 1, 1}, {half, 1, half}), 1.0);
    EXPECT_EQ(VecDot({1, 1, 1}, {half, half, 1}), 1.0 + ldexp(1.0, -52));
    EXPECT_EQ(VecDot({1, 2, 3}, {4, -5, 6}), 12.0);
}

TEST(VecBasics, CopyScaleDivCross)
{
    ExpectVec(VecCopyOrZero(nullptr), 0.0, 0.0, 0.0, "none");
    Vec3 v = {1.5, -2, 3};
    ExpectVec(VecCopyOrZero(&v), 1.5, -2.0, 3.0, "copy");
    ExpectVec(VecAdd({1, 2, 3}, {0.5, -2, 4}), 1.5, 0.0, 7.0, "add");
    ExpectVec(VecScale({1, -2, 0.5}, 4), 4.0, -8.0, 2.0, "scale");
    // The divisor is not tested: IEEE results.
    Vec3 q = VecDiv({1, -1, 0}, 0.0);
    EXPECT_TRUE(isinf(q.x) && q.x > 0);
    EXPECT_TRUE(isinf(q.y) && q.y < 0);
    EXPECT_TRUE(isnan(q.z));
    // Right-handed, first operand on the left.
    ExpectVec(VecCross({1, 0, 0}, {0, 1, 0}), 0.0, 0.0, 1.0, "x cross y");
    ExpectVec(VecCross({0, 1, 0}, {1, 0, 0}), 0.0, 0.0, -1.0, "y cross x");
    ExpectVec(VecCross({1, 2, 3}, {4, 5, 6}), -3.0, 6.0, -3.0, "general cross");
}

TEST(VecFoot, OffsetIsScaledByTheDirectionLength)
{
    ExpectVec(VecFoot({3, 4, 0}, {1, 0, 0}, kOrigin), 3.0, 0.0, 0.0, "unit direction");
    ExpectVec(VecFoot({3, 4, 7}, {0, 0, 1}, {1, 1, 1}), 1.0, 1.0, 7.0, "offset origin");
    // dot / |d| rather than dot / |d|^2: with |d| = 2 the offset doubles.
    ExpectVec(VecFoot({3, 4, 0}, {2, 0, 0}, kOrigin), 6.0, 0.0, 0.0, "direction of length 2");
}

TEST(LinePlaneIntersect, MeetsThePlaneOrFallsBackToC)
{
    const Vec3 a = {0, 0, 5}, up = {0, 0, 1};
    ExpectVec(LinePlaneIntersect(a, up, kOrigin, {1, 0, 1}), 5.0, 0.0, 5.0, "basic");
    // Line parallel to the plane, and a zero normal: c itself.
    ExpectVec(LinePlaneIntersect(a, up, kOrigin, {1, 0, 0}), 0.0, 0.0, 0.0, "parallel");
    ExpectVec(LinePlaneIntersect(a, kOrigin, kOrigin, {1, 0, 1}), 0.0, 0.0, 0.0, "zero normal");
    // e == c: no line at all.
    ExpectVec(LinePlaneIntersect(a, up, {1, 2, 3}, {1, 2, 3}), 1.0, 2.0, 3.0, "e equals c");
    // e on the other side of c from the plane: the signs of both offsets
    // decide the direction along the line.
    ExpectVec(LinePlaneIntersect(a, up, kOrigin, {1, 0, -1}), -5.0, 0.0, 5.0, "e away from plane");
    ExpectVec(LinePlaneIntersect({0, 0, -2}, up, kOrigin, {1, 0, 1}), -2.0, 0.0, -2.0, "plane below c");
    // Neither the orientation nor the length of n matters.
    ExpectVec(LinePlaneIntersect(a, {0, 0, -1}, kOrigin, {1, 0, 1}), 5.0, 0.0, 5.0, "reversed n");
    ExpectVec(LinePlaneIntersect(a, {0, 0, 2}, kOrigin, {1, 0, 1}), 5.0, 0.0, 5.0, "long n");
    // c on the plane: a's offset is 0 and its unit vector NaN, which counts
    // as opposite; the result is c.
    ExpectVec(LinePlaneIntersect({3, 4, 0}, up, {1, 2, 0}, {2, 2, 1}), 1.0, 2.0, 0.0, "c on plane");
    // Only the sign of that zero offset shows the NaN rule: with c.x = -0.0,
    // k_a = -0.0 and k_e = -1 give c.x + (+0.0) = +0.0; an unnegated k_a
    // would give -0.0.
    ExpectVec(LinePlaneIntersect({3, 4, 0}, up, {-0.0, 2, 0}, {1, 2, 1}), 0.0, 2.0, 0.0,
              "zero sign on plane");
    // An oblique plane x + y = 0, line along x from (-2, 0, 0): meets at the
    // origin, up to the rounding of the square roots of 2.
    Vec3 p = LinePlaneIntersect(kOrigin, {1, 1, 0}, {-2, 0, 0}, {-1, 0, 0});
    EXPECT_NEAR(p.x, 0.0, 1e-12) << "oblique: distances near 2, after square roots";
    EXPECT_EQ(p.y, 0.0);
    EXPECT_EQ(p.z, 0.0);
}

TEST(VecSame, LengthAndDirectionTolerances)
{
    EXPECT_EQ(VecSame({1, 0, 0}, {1.00005, 0, 0}), 1);
    EXPECT_EQ(VecSame({1, 0, 0}, {1.0002, 0, 0}), 0);
    EXPECT_EQ(VecSame({1, 0, 0}, {0, 1, 0}), 0);
    EXPECT_EQ(VecSame({1, 0, 0}, {-1, 0, 0}), 0);
    EXPECT_EQ(VecSame(kOrigin, kOrigin), 0) << "NaN cosine";
    EXPECT_EQ(VecSame(kOrigin, {1, 0, 0}), 0);
    // The length tolerance is relative: 1.5 apart at length 10000 fails,
    // 0.5 apart passes.
    EXPECT_EQ(VecSame({10000, 0, 0}, {10001.5, 0, 0}), 0);
    EXPECT_EQ(VecSame({10000, 0, 0}, {10000.5, 0, 0}), 1);
    // Measured against the shorter length: 1.00005 apart exceeds 1e-4 of
    // 10000 but not of 10001.00005.
    EXPECT_EQ(VecSame({10000, 0, 0}, {10001.00005, 0, 0}), 0);
    EXPECT_EQ(VecSame({10001.00005, 0, 0}, {10000, 0, 0}), 0);
    // Equal lengths, cosine 0.9998 < 0.9999; a slighter turn passes.
    EXPECT_EQ(VecSame({1, 0, 0}, {0.9998, sqrt(1 - 0.9998 * 0.9998), 0}), 0);
    EXPECT_EQ(VecSame({1, 0, 0}, {0.99995, sqrt(1 - 0.99995 * 0.99995), 0}), 1);
}
