// Open meshes: where chamfered edges meet at a border point, the polygons
// about it must close up, so that no new border runs into the surface.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/fixtures.h"

namespace {

using Edge = std::pair<int, int>;

// The border edges of `mesh`, and through `corners` the border points with
// two or more polygons about them.
std::vector<Edge> Border(const MeshData &mesh, int *corners = nullptr)
{
    std::set<Edge> edges;
    std::map<int, int> polysAt;
    for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++) {
        const MeshPointSpan p = MeshPolyPoints(mesh, pi);
        for (size_t k = 0; k < p.size(); ++k) {
            edges.insert({p[k], p[(k + 1) % p.size()]});
            polysAt[p[k]]++;
        }
    }
    std::vector<Edge> border;
    std::set<int> points;
    for (const Edge &e : edges)
        if (!edges.count({e.second, e.first})) {
            border.push_back(e);
            points.insert(e.first);
        }
    if (corners) {
        *corners = 0;
        for (int p : points)
            *corners += polysAt[p] >= 2;
    }
    return border;
}

// Every shared edge chamfered, each border point of these meshes (one fan
// between two border edges) with two or more polygons adds one border edge:
// the border runs straight from the first polygon's copy of the point to the
// last one's. A notch would add two, its inner end a copy off the input's
// border: both are checked, and validity, on the raw result.
void ExpectClosedFans(const char *name, const MeshData &in, const MeshData &out, bool counted)
{
    int corners = 0;
    const std::vector<Edge> before = Border(in, &corners), after = Border(out);
    if (counted) {
        EXPECT_EQ(after.size(), before.size() + static_cast<size_t>(corners)) << name;
    }
    EXPECT_EQ(MeshValidityFault(out, false), "") << name;
    const double reach = 2e-6 * Diagonal(in);  // a copy lies 1000 times farther off
    for (const Edge &e : after) {
        const auto &p = out.points[static_cast<size_t>(e.first)];
        double nearest = INFINITY;
        for (const Edge &o : before) {
            const auto &a = in.points[static_cast<size_t>(o.first)],
                       &b = in.points[static_cast<size_t>(o.second)];
            double t = 0.0, len2 = 0.0, d2 = 0.0;
            for (int i = 0; i < 3; ++i)
                t += (b[i] - a[i]) * (p[i] - a[i]), len2 += (b[i] - a[i]) * (b[i] - a[i]);
            t = std::min(1.0, std::max(0.0, t / len2));
            for (int i = 0; i < 3; ++i)
                d2 += std::pow(p[i] - a[i] - t * (b[i] - a[i]), 2);
            nearest = std::min(nearest, std::sqrt(d2));
        }
        EXPECT_LE(nearest, reach) << name << ": border point " << e.first << " lies off the input's border";
    }
}

TEST(OpenBorder, EveryFanBetweenBorderEdgesIsClosed)
{
    std::vector<std::pair<std::string, MeshData>> sets = {
        {"L of three quads", MakeLShape()},
        {"grid, 2x2 hole", MakeGridWithHole(6, 6, 2, 2, 3, 3)},
        {"grid, 3x1 slot", MakeGridWithHole(7, 5, 2, 2, 4, 2)},
        {"grid, hole at the rim", MakeGridWithHole(6, 6, 0, 2, 2, 3)},
        {"grid, L-shaped hole", MakeWithout(MakeQuadGrid(6, 6), {7, 8, 9, 13, 19})},
        {"grid, cross-shaped hole", MakeWithout(MakeQuadGrid(7, 7), {17, 23, 24, 25, 31})},
        {"strip", MakeQuadGrid(6, 1)},
        {"open box", MakeOpenBox(2, 3, 1, 2)},
        {"bowl", MakeBowl(12, 4, 0.0)},
        {"twisted bowl", MakeBowl(10, 5, 0.07)},
        {"helicoid", MakeHelicoid(24, 3, 1.5)},
        {"open tube", MakeQuadTube(8, 3)}};
    for (size_t k = 0, plain = sets.size(); k < plain; ++k) {
        sets.push_back({sets[k].first + ", triangulated", MakeRandomDiagonals(sets[k].second, 7u + k)});
        sets.push_back({sets[k].first + ", mixed", MakeTriangulated(sets[k].second, 3)});
    }
    for (const auto &set : sets) {
        const MeshData &mesh = set.second;
        const double size = 0.002 * Diagonal(mesh);
        ExpectClosedFans((set.first + ", plain").c_str(), mesh, RunObjectMode(mesh, 0, 0.0, size), true);
        // More than 1 degree chamfers every edge of these meshes; less than
        // 179 only the creases of the curved ones.
        ExpectClosedFans((set.first + ", GT 1").c_str(), mesh, RunObjectMode(mesh, 2, RadiansFor(1), size),
                         true);
        ExpectClosedFans((set.first + ", LT 179").c_str(), mesh,
                         RunObjectMode(mesh, 1, RadiansFor(179), size), false);
    }
}

TEST(OpenBorder, AnInputSlitIsWrittenAsItWasRead)
{
    // The slit's two sides are one polygon's, joined by the strips' seam
    // pass; the weld pinches nothing, so the flush cuts nothing into lobes.
    const MeshData slit = MakeSlitSquare();
    for (int mode : {0, 1}) {
        const MeshData out = RunObjectMode(slit, mode, RadiansFor(150), 0.1);
        ASSERT_EQ(MeshPolyCount(out), 1u) << mode;
        std::vector<std::array<double, 3>> in, got;
        for (int p : MeshPolyPoints(slit, 0))
            in.push_back(slit.points[(size_t)p]);
        for (int p : MeshPolyPoints(out, 0))
            got.push_back(out.points[(size_t)p]);
        EXPECT_EQ(got, in) << mode;
    }
    // With a quad below its outer edge (0,0)-(4,0), that edge is chamfered:
    // the slit polygon is cut back from it and still runs its slit both
    // ways, one polygon of ten corners.
    MeshData below = slit;
    below.points.push_back({0, -1, 0});
    below.points.push_back({4, -1, 0});
    MeshAddFace(&below, {1, 0, 8, 9});
    const MeshData out = RunObjectMode(below, 0, 0.0, 0.25);
    EXPECT_EQ(MeshPolyCount(out), 3u);
    int slits = 0;
    for (size_t pi = 0; pi < MeshPolyCount(out); pi++) {
        const MeshPointSpan p = MeshPolyPoints(out, pi);
        if (p.size() != 10)
            continue;
        slits++;
        EXPECT_EQ(p[0], p[4]);
        EXPECT_EQ(p[5], p[9]);
        EXPECT_EQ(out.points[(size_t)p[1]], (std::array<double, 3>{4, 0.25, 0}));
    }
    EXPECT_EQ(slits, 1);
}

}  // namespace
