// Open meshes: where chamfered edges meet at a border point, the polygons
// about it must close up, so that no new border runs into the surface.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/fixtures.h"

namespace {

using Edge = std::pair<int, int>;

std::map<Edge, int> DirectedEdges(const MeshData &mesh)
{
    std::map<Edge, int> count;
    for (const MeshPoly &p : mesh.polys)
        for (size_t k = 0; k < p.points.size(); ++k)
            count[{p.points[k], p.points[(k + 1) % p.points.size()]}]++;
    return count;
}

int BorderEdges(const MeshData &mesh)
{
    std::map<Edge, int> count = DirectedEdges(mesh);
    int border = 0;
    for (const auto &e : count)
        border += count.find({e.first.second, e.first.first}) == count.end();
    return border;
}

// The border a closed fan gives when every shared edge is chamfered: the
// input's border, and one edge more for each fan of two or more polygons
// between two border edges at a point (the border runs on straight from the
// first polygon's copy of the point to the last one's). Counted on the
// input's topology alone: each border edge P -> Y ends a fan at P, which is
// followed back polygon by polygon across the edges arriving at P.
int ClosedFanBorder(const MeshData &mesh)
{
    std::map<Edge, int> count = DirectedEdges(mesh);
    std::map<Edge, int> arrivingIn;  // (P, X): the polygon whose edge X -> P ends at P
    std::map<Edge, int> leavingIn;   // (P, Y): the polygon whose edge P -> Y leaves P
    for (size_t k = 0; k < mesh.polys.size(); ++k) {
        const std::vector<int> &v = mesh.polys[k].points;
        for (size_t i = 0; i < v.size(); ++i) {
            leavingIn[{v[i], v[(i + 1) % v.size()]}] = static_cast<int>(k);
            arrivingIn[{v[(i + 1) % v.size()], v[i]}] = static_cast<int>(k);
        }
    }
    int border = 0, fans = 0;
    for (const auto &e : count) {
        if (count.count({e.first.second, e.first.first}))
            continue;
        border++;
        const int p = e.first.first;
        int poly = leavingIn[e.first], polys = 1;
        for (;;) {
            // The edge by which `poly` arrives at P, and the polygon leaving
            // P along it the other way, if any.
            const std::vector<int> &v = mesh.polys[static_cast<size_t>(poly)].points;
            size_t at = 0;
            while (v[at] != p)
                at++;
            const int x = v[(at + v.size() - 1) % v.size()];
            auto next = leavingIn.find({p, x});
            if (next == leavingIn.end() || polys > 64)
                break;
            poly = next->second;
            polys++;
        }
        fans += polys >= 2;
    }
    return border + fans;
}

double SegmentDistance(const std::array<double, 3> &p, const std::array<double, 3> &a,
                       const std::array<double, 3> &b)
{
    double ab[3], ap[3], t = 0.0, len2 = 0.0;
    for (int i = 0; i < 3; ++i) {
        ab[i] = b[i] - a[i];
        ap[i] = p[i] - a[i];
        t += ab[i] * ap[i];
        len2 += ab[i] * ab[i];
    }
    t = len2 > 0.0 ? std::min(1.0, std::max(0.0, t / len2)) : 0.0;
    double d2 = 0.0;
    for (int i = 0; i < 3; ++i)
        d2 += (ap[i] - t * ab[i]) * (ap[i] - t * ab[i]);
    return std::sqrt(d2);
}

// The first point of the result's border that lies off the input's border
// (farther than `reach` from every border edge of it): the inner end of a
// notch. Empty when there is none.
std::string BorderOffOutline(const MeshData &input, const MeshData &result, double reach)
{
    std::map<Edge, int> in = DirectedEdges(input), out = DirectedEdges(result);
    std::vector<Edge> outline;
    for (const auto &e : in)
        if (!in.count({e.first.second, e.first.first}))
            outline.push_back(e.first);
    for (const auto &e : out) {
        if (out.count({e.first.second, e.first.first}))
            continue;
        const auto &p = result.points[static_cast<size_t>(e.first.first)];
        double nearest = INFINITY;
        for (const Edge &o : outline)
            nearest = std::min(nearest, SegmentDistance(p, input.points[static_cast<size_t>(o.first)],
                                                        input.points[static_cast<size_t>(o.second)]));
        if (!(nearest <= reach)) {
            std::ostringstream why;
            why << "border point " << e.first.first << " at (" << p[0] << ", " << p[1] << ", " << p[2]
                << ") lies " << nearest << " off the input's border";
            return why.str();
        }
    }
    return "";
}

struct OpenSet {
    const char *name;
    MeshData mesh;
};

std::vector<OpenSet> OpenMeshes()
{
    std::vector<OpenSet> out;
    out.push_back({"L of three quads", MakeLShape()});
    out.push_back({"grid 6x6, 2x2 hole", MakeGridWithHole(6, 6, 2, 2, 3, 3)});
    out.push_back({"grid 5x4, 1x1 hole", MakeGridWithHole(5, 4, 1, 1, 1, 1)});
    out.push_back({"grid 7x5, 3x1 slot", MakeGridWithHole(7, 5, 2, 2, 4, 2)});
    out.push_back({"grid 6x6, hole at the rim", MakeGridWithHole(6, 6, 0, 2, 2, 3)});
    out.push_back({"grid 6x6, L-shaped hole", MakeWithout(MakeQuadGrid(6, 6), {7, 8, 9, 13, 19})});
    out.push_back({"grid 7x7, cross-shaped hole", MakeWithout(MakeQuadGrid(7, 7), {17, 23, 24, 25, 31})});
    out.push_back({"strip 6x1", MakeQuadGrid(6, 1)});
    out.push_back({"open box 2x3x1", MakeOpenBox(2, 3, 1, 2)});
    out.push_back({"bowl", MakeBowl(12, 4, 0.0)});
    out.push_back({"twisted bowl", MakeBowl(10, 5, 0.07)});
    out.push_back({"helicoid", MakeHelicoid(24, 3, 1.5)});
    out.push_back({"open tube", MakeQuadTube(8, 3)});
    const size_t plain = out.size();
    for (size_t k = 0; k < plain; ++k) {
        out.push_back({"  triangulated", MakeRandomDiagonals(out[k].mesh, 7u + static_cast<uint32_t>(k))});
        out.push_back({"  mixed", MakeTriangulated(out[k].mesh, 3)});
    }
    return out;
}

// Where a fan of polygons between two border edges comes out cut back,
// three things show a notch left open: more border than the closed fans
// give, a border point off the input's border, or an invalid mesh. Every
// mesh of the set, as it comes out.
void ExpectClosedFans(const OpenSet &set, const MeshData &out, const char *mode, bool count)
{
    const double size = 0.002 * Diagonal(set.mesh);
    if (count) {
        EXPECT_EQ(BorderEdges(out), ClosedFanBorder(set.mesh)) << set.name << ", " << mode;
    }
    EXPECT_EQ(MeshValidityFault(out, false), "") << set.name << ", " << mode;
    // A copy lies a bevel size or more off the border; rounding, far less.
    EXPECT_EQ(BorderOffOutline(set.mesh, out, size * 1e-3), "") << set.name << ", " << mode;
}

TEST(OpenBorder, EveryFanBetweenBorderEdgesIsClosed)
{
    for (const OpenSet &set : OpenMeshes()) {
        const double size = 0.002 * Diagonal(set.mesh);
        ExpectClosedFans(set, RunObjectMode(set.mesh, 0, 0.0, size), "plain", true);
        // The angle tests: "greater than 1 degree" chamfers every edge of
        // these meshes, "less than 179" only the creases of the curved ones.
        ExpectClosedFans(set, RunObjectMode(set.mesh, 2, RadiansFor(1), size), "GT 1", true);
        ExpectClosedFans(set, RunObjectMode(set.mesh, 1, RadiansFor(179), size), "LT 179", false);
    }
}

// The meshes of the report, at 0.2% of the diagonal: each corner of a hole
// where two chamfered edges meet adds one border edge, not two.
TEST(OpenBorder, HoleCornersAddOneBorderEdgeEach)
{
    const MeshData l = MakeLShape();
    EXPECT_EQ(BorderEdges(RunObjectMode(l, 0, 0.0, 0.002 * Diagonal(l))), 11);
    const MeshData square = MakeGridWithHole(6, 6, 2, 2, 3, 3);
    EXPECT_EQ(BorderEdges(RunObjectMode(square, 0, 0.0, 0.002 * Diagonal(square))), 60);
    const MeshData lhole = MakeWithout(MakeQuadGrid(6, 6), {7, 8, 9, 13, 19});
    EXPECT_EQ(BorderEdges(RunObjectMode(lhole, 0, 0.0, 0.002 * Diagonal(lhole))), 67);
}

// The L's inner corner (1, 1) at size 1/8: the copies there stay where the
// strips left them, (1 + s, 1) on the lower right quad's border, (1, 1 + s)
// on the upper quad's border and (1 - s, 1 - s) in the lower left quad, and
// one triangle through them, in that order, closes the corner, facing +z
// like the quads.
TEST(OpenBorder, TheLsInnerCornerIsOneTriangle)
{
    const MeshData out = RunObjectMode(MakeLShape(), 0, 0.0, 0.125);
    const std::vector<std::array<double, 3>> want = {{1.125, 1.0, 0.0}, {1.0, 1.125, 0.0}, {0.875, 0.875, 0.0}};
    int found = 0;
    for (size_t k = 0; k < out.polys.size(); ++k) {
        const std::vector<int> &v = out.polys[k].points;
        if (v.size() != 3)
            continue;
        found++;
        for (size_t i = 0; i < 3; ++i) {
            size_t at = 0;
            while (at < 3 && out.points[static_cast<size_t>(v[at])] != want[0])
                at++;
            ASSERT_LT(at, 3u) << "triangle " << k << " misses (1.125, 1, 0)";
            EXPECT_EQ(out.points[static_cast<size_t>(v[(at + i) % 3])], want[i]) << "triangle " << k << ", corner " << i;
        }
        EXPECT_GT(MeshPolyNewell(out, k)[2], 0.0) << "triangle " << k;
        EXPECT_EQ(out.polys[k].surface, "Default") << "triangle " << k;
    }
    EXPECT_EQ(found, 1);
    EXPECT_EQ(BorderEdges(out), 11);
}

}  // namespace
