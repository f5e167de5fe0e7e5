// The angle-limited object mode on closed meshes: whatever the limit leaves
// chamfered, a closed, consistently wound mesh comes out closed and wound
// the same way. The meshes are made so that the limit splits their edges:
// polyhedra with two or three dihedral angles, a split box, prisms, a
// geodesic sphere, a torus and a UV sphere (smoothly varying angles) and
// meshes of triangles and quads.
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "meshgen/meshgen.h"
#include "options/options.h"
#include "plugin/activate.h"
#include "tests/fixtures.h"

namespace {

using Point = std::array<double, 3>;

Point Sub(const Point &a, const Point &b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

double Dot(const Point &a, const Point &b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// A cube whose faces are fanned from one corner each.
MeshData FannedCube(double lo, double hi)
{
    return MakeTriangulated(MakeCube(lo, hi), 1);
}

MeshData FannedCube1(double lo)
{
    return FannedCube(lo, lo + 1);
}

struct Generated {
    const char *name;
    MeshData mesh;
};

std::vector<Generated> GeneratedSet()
{
    return {
        {"SplitBox", MakeBox(2, 1, 1.5, 2)},
        {"SplitCube3", MakeBox(1, 1, 1, 3)},
        {"Prism3", MakeCylinder(3, 1)},
        {"Prism5x2", MakeCylinder(5, 2)},
        {"Prism8", MakeCylinder(8, 1)},
        {"TruncatedOctahedron", MakeTruncatedOctahedron()},
        {"Rhombicuboctahedron", MakeRhombicuboctahedron()},
        {"GreatRhombicosidodecahedron", MakeGreatRhombicosidodecahedron()},
        {"Geodesic", MakeGeodesicSphere()},
        {"Torus", MakeTorus(12, 8)},
        {"UVSphere", MakeRoundUvSphere(12, 8)},
        {"FannedCube", FannedCube(1, 2)},
        {"MixedQuadSphere", MakeTriangulated(MakeQuadSphere(3), 3)},
        {"MixedTorus", MakeTriangulated(MakeTorus(10, 6), 2)},
        {"JitteredSphere", MakeJittered(MakeTriangulated(MakeQuadSphere(4), 2), 0.1)},
        {"JitteredGeodesic", MakeJittered(MakeGeodesicSphere(), 0.15)},
    };
}

struct LimitedRun : ::testing::Test {
    MeshData Run(const MeshData &mesh, int mode, double degrees, double size)
    {
        return RunObjectMode(mesh, mode, RadiansFor(degrees), size);
    }
};

TEST_F(LimitedRun, ClosedMeshesStayClosedAtEveryLimit)
{
    const double limits[] = {100, 120, 135, 150, 160, 170};
    const double sizes[] = {0.002, 0.02, 0.06};
    for (const Generated &g : GeneratedSet()) {
        ASSERT_EQ(MeshValidityFault(g.mesh, true), "") << g.name;
        ASSERT_GT(SignedVolume(g.mesh), 0.0) << g.name;
        for (int mode : {ANGLE_MODE_LT, ANGLE_MODE_GT}) {
            for (double limit : limits) {
                for (double size : sizes) {
                    MeshData out = Run(g.mesh, mode, limit, size * Diagonal(g.mesh));
                    const std::string fault = MeshValidityFault(out, true);
                    EXPECT_EQ(fault, "")
                        << g.name << (mode == ANGLE_MODE_LT ? " LT " : " GT ") << limit << " size " << size;
                    if (fault.empty()) {
                        EXPECT_GT(SignedVolume(out), 0.0) << g.name << " " << limit;
                    }
                }
            }
        }
    }
}

}  // namespace

// The great rhombicosidodecahedron, size 0.05: each point joins a square, a
// hexagon and a decagon (square-hexagon 159.1, square-decagon 148.3,
// hexagon-decagon 142.6 degrees).
size_t CountSides(const MeshData &mesh, size_t faces, size_t sides, size_t want)
{
    size_t n = 0;
    for (size_t f = 0; f < faces; ++f)
        n += MeshPolyPoints(mesh, f).size() == sides;
    EXPECT_EQ(n, want) << sides << "-gons";
    return n;
}

TEST_F(LimitedRun, OneChamferedEdgeAtAPointCutsTheThirdPolygonsCorner)
{
    // " GT " 150: only the square-hexagon edges. At each point the strip's
    // end runs between the square's and the hexagon's copies, slid along
    // the decagon's two edges: the decagon gives its corner up to them.
    const MeshData in = MakeGreatRhombicosidodecahedron();
    ASSERT_EQ(MeshPolyCount(in), 62u);
    MeshData out = Run(in, ANGLE_MODE_GT, 150.0, 0.05);
    EXPECT_EQ(MeshValidityFault(out, true), "");
    EXPECT_EQ(MeshPolyCount(out), 62u + 60) << "faces and strips, no patch";
    CountSides(out, 62, 4, 30);
    CountSides(out, 62, 6, 20);
    CountSides(out, 62, 20, 12);
    // Each point of the input is now two: the square's and the hexagon's
    // copies.
    EXPECT_EQ(out.points.size(), 2 * in.points.size());
}

TEST_F(LimitedRun, CopiesSlidApartAlongAnUnchamferedEdgeAreBothOnIt)
{
    // " LT " 150: all but the square-hexagon edges. The square and the
    // hexagon slide their copies along the edge they share, by the size
    // over the sine of their own corner (90 and 120 degrees), so the
    // hexagon's copy lies farther out: the square's edge takes it in.
    const MeshData in = MakeGreatRhombicosidodecahedron();
    MeshData out = Run(in, ANGLE_MODE_LT, 150.0, 0.05);
    EXPECT_EQ(MeshValidityFault(out, true), "");
    EXPECT_EQ(MeshPolyCount(out), 62u + 120 + 120) << "faces, strips, one patch a point";
    CountSides(out, 62, 8, 30);
    CountSides(out, 62, 6, 20);
    CountSides(out, 62, 10, 12);
    for (size_t k = 62 + 120; k < MeshPolyCount(out); ++k)
        EXPECT_EQ(MeshPolyPoints(out, k).size(), 3u) << "patch " << k;
    EXPECT_EQ(out.points.size(), 3 * in.points.size());
    // A square's inserted point lies on the line of the square's own edge,
    // between its copy and the far end of the edge: the square stays flat.
    for (size_t s = 0; s < 62; ++s) {
        const MeshPointSpan v = MeshPolyPoints(out, s);
        if (v.size() != 8)
            continue;
        // Newell's normal: three of the points may be on one line.
        const Point n = MeshPolyNewell(out, s);
        for (int p : v)
            EXPECT_NEAR(Dot(n, Sub(out.points[p], out.points[v[0]])) / sqrt(Dot(n, n)), 0.0, 4.0 / 1048576.0)
                << "the snapping difference rounds to 2^-20 of coordinates about 4";
    }
}

TEST_F(LimitedRun, CornerTestsDecideTheSameWhereverTheMeshSits)
{
    // The same mesh with P at the origin, at (1, 1, 1) and at 100,000: the
    // same polygons of the same points, each point moved with the mesh.
    for (MeshData (*make)(double) : {HangingFanCube, FannedCube1}) {
        std::vector<MeshData> outs;
        const double places[] = {0.0, 1.0, 100000.0};
        for (double lo : places)
            outs.push_back(Run(make(lo), ANGLE_MODE_LT, 135.0, 0.1));
        const MeshData &at = outs[0];
        EXPECT_GT(MeshPolyCount(at), MeshPolyCount(make(0.0))) << "the fold is chamfered";
        for (size_t k = 1; k < outs.size(); ++k) {
            const MeshData &moved = outs[k];
            ASSERT_EQ(moved.points.size(), at.points.size()) << places[k];
            ASSERT_EQ(MeshPolyCount(moved), MeshPolyCount(at)) << places[k];
            for (size_t f = 0; f < MeshPolyCount(at); ++f)
                EXPECT_EQ(MeshPolyPoints(moved, f), MeshPolyPoints(at, f)) << places[k] << " polygon " << f;
            for (size_t p = 0; p < at.points.size(); ++p) {
                for (int i = 0; i < 3; ++i)
                    EXPECT_NEAR(moved.points[p][i] - places[k], at.points[p][i], 1e-9)
                        << places[k] << " point " << p;
            }
        }
    }
}
