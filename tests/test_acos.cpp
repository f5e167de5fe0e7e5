// The portable arc cosine against the C library's: within one unit in the
// last place everywhere, exact where the angle test meets its common cases
// (coplanar, right angle, folded flat), monotone across the seams between
// its three formulas, and not a number outside [-1, 1].
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <string.h>

#include <random>

#include "vecmath/vecmath.h"

namespace {

int64_t Bits(double d)
{
    int64_t b;
    memcpy(&b, &d, sizeof b);
    return b;
}

// Distance in units in the last place between two finite non-negative
// doubles (every arc cosine is in [0, pi]).
int64_t UlpDistance(double a, double b)
{
    return llabs(Bits(a) - Bits(b));
}

void ExpectNearLibrary(double x)
{
    const double got = VecAcos(x);
    const double want = acos(x);
    EXPECT_LE(UlpDistance(got, want), 1) << "acos(" << x << "): " << got << " vs " << want;
}

}  // namespace

TEST(VecAcos, ExactAtTheEndsAndTheMiddle)
{
    // Coplanar polygons (d = 1), a right angle (d = 0) and a fold back onto
    // itself (d = -1) are the angle test's everyday inputs: no rounding there.
    EXPECT_EQ(Bits(VecAcos(1.0)), Bits(0.0));
    EXPECT_EQ(Bits(VecAcos(0.0)), Bits(1.5707963267948966));
    EXPECT_EQ(Bits(VecAcos(-0.0)), Bits(1.5707963267948966));
    EXPECT_EQ(Bits(VecAcos(-1.0)), Bits(3.141592653589793));
    EXPECT_EQ(Bits(VecAcos(0.0)), Bits(acos(0.0)));
    EXPECT_EQ(Bits(VecAcos(-1.0)), Bits(acos(-1.0)));
    EXPECT_EQ(VecAcos(0.5), acos(0.5)) << "pi/3, a common fold";
    EXPECT_EQ(VecAcos(-0.5), acos(-0.5)) << "2 pi/3";
}

TEST(VecAcos, NotANumberOutsideTheDomain)
{
    const double outside[] = {
        nextafter(1.0, 2.0), nextafter(-1.0, -2.0), 2.0, -1e300, INFINITY, -INFINITY, NAN};
    for (double x : outside)
        EXPECT_TRUE(isnan(VecAcos(x))) << "acos(" << x << ")";
}

TEST(VecAcos, WithinOneUlpOfTheLibraryOverTheDomain)
{
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int i = 0; i < 300000; ++i)
        ExpectNearLibrary(uniform(random));
    // Near +-1, where the square-root formula loses most if done carelessly,
    // and near 0, where the result is pi/2 minus a tiny amount.
    for (int e = 1; e <= 60; ++e) {
        for (int k = 0; k < 200; ++k) {
            const double t = ldexp(1.0 + uniform(random) * 0.5, -e);
            ExpectNearLibrary(1.0 - t);
            ExpectNearLibrary(-1.0 + t);
            ExpectNearLibrary(t);
            ExpectNearLibrary(-t);
        }
    }
    ExpectNearLibrary(1e-300);
    ExpectNearLibrary(-5e-324);
}

TEST(VecAcos, MonotoneAcrossTheSeamsOfItsFormulas)
{
    // The formula changes at -1/2 and 1/2: stepping one double at a time
    // across each, the result never goes up.
    for (double seam : {-0.5, 0.5}) {
        double x = seam;
        for (int k = 0; k < 64; ++k)
            x = nextafter(x, -2.0);
        double previous = VecAcos(x);
        for (int k = 0; k < 128; ++k) {
            x = nextafter(x, 2.0);
            const double value = VecAcos(x);
            EXPECT_LE(value, previous) << "at " << x;
            ExpectNearLibrary(x);
            previous = value;
        }
    }
}
