// Object mode where edges are on three or more polygons (crowded) and where
// fans of polygons touch at one point (a bow-tie): every other edge is
// chamfered, a crowded edge stays as it is, and the result has no fault the
// input did not have.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "meshio/meshio.h"
#include "options/options.h"
#include "tests/fixtures.h"
#include "tests/meshsets.h"

namespace {

// What a mesh holds that other tools may refuse, counted: polygons through a
// point twice or of zero area, crowded edges, edges run twice the same way,
// and (with `borders`) border edges. A chamfer must leave every count as the
// input had it. Where chamfered edges meet a border, its point is cut across
// and the border gains an edge (see test_openborder), so the border is
// counted only where that cannot be.
std::string Faults(const MeshData &mesh, bool borders)
{
    int repeated = 0, zero = 0;
    std::map<std::pair<int, int>, int> undirected;
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k) {
        const MeshPointSpan v = MeshPolyPoints(mesh, k);
        for (size_t i = 0; i < v.size(); ++i) {
            for (size_t j = i + 1; j < v.size(); ++j)
                repeated += v[i] == v[j];
            const int a = v[i], b = v[(i + 1) % v.size()];
            undirected[{std::min(a, b), std::max(a, b)}]++;
        }
        const std::array<double, 3> n = MeshPolyNewell(mesh, k);
        zero += n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0;
    }
    int crowded = 0, border = 0, twice = 0;
    for (const auto &e : undirected) {
        crowded += e.second > 2;
        border += e.second == 1;
    }
    for (const auto &e : DirectedEdgeCounts(mesh))
        twice += e.second > 1;
    std::ostringstream out;
    out << repeated << " repeated, " << zero << " zero-area, " << crowded << " crowded, " << twice
        << " run twice";
    if (borders)
        out << ", " << border << " border";
    return out.str();
}

struct Named {
    const char *name;
    MeshData mesh;
    bool borders;  // no chamfered edge meets its border
};

std::vector<Named> NonManifoldMeshes()
{
    return {{"fin", MakeFin(), true},
            {"fin, triangulated", MakeTriangulated(MakeFin(), 1), false},
            {"cube with a fin", MakeWithFin(MakeCube(), 0, 1), true},
            {"cube with a fin, triangulated", MakeTriangulated(MakeWithFin(MakeCube(), 0, 1), 1), false},
            {"folded corner", MakeFoldedCorner(), true},
            {"folded corner, triangulated", MakeTriangulated(MakeFoldedCorner(), 1), true},
            {"bow-tie", MakeBowTie(), true},
            {"bow-tie, triangulated", MakeTriangulated(MakeBowTie(), 1), true}};
}

struct Mode {
    const char *name;
    int mode;
    double limit;
};

const Mode kModes[] = {{"plain", ANGLE_MODE_DISABLE, 0.0},
                       {"LT 150", ANGLE_MODE_LT, 150.0},
                       {"LT 100", ANGLE_MODE_LT, 100.0},
                       {"GT 150", ANGLE_MODE_GT, 150.0}};

// The polygon of `mesh` whose corners lie at `corners`, in this order from
// some start; -1 when there is none.
int PolyAt(const MeshData &mesh, const std::vector<std::array<double, 3>> &corners)
{
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k) {
        const MeshPointSpan v = MeshPolyPoints(mesh, k);
        if (v.size() != corners.size())
            continue;
        for (size_t s = 0; s < v.size(); ++s) {
            bool all = true;
            for (size_t i = 0; i < v.size() && all; ++i)
                all = mesh.points[(size_t)v[(s + i) % v.size()]] == corners[i];
            if (all)
                return static_cast<int>(k);
        }
    }
    return -1;
}

TEST(CrowdedEdges, EveryModeKeepsTheInputsFaults)
{
    for (const Named &m : NonManifoldMeshes()) {
        const std::string before = Faults(m.mesh, m.borders);
        for (const Mode &mode : kModes)
            for (double size : {0.05, 0.1, 0.2}) {
                const MeshData out = RunObjectMode(m.mesh, mode.mode, RadiansFor(mode.limit), size);
                EXPECT_EQ(Faults(out, m.borders), before) << m.name << ", " << mode.name << ", size " << size;
            }
    }
}

TEST(CrowdedEdges, ValiditySetWithOneEdgeMadeCrowded)
{
    for (const NamedMesh &m : ValiditySet()) {
        const MeshData in = MakeWithFinOnFirstSharedEdge(m.mesh);
        // The fin's own border is kept: no chamfered edge meets it.
        const std::string before = Faults(in, m.closed);
        const double safe = MeshSafeBevelSize(m.mesh);
        for (const Mode &mode : kModes)
            for (double share : {0.25, 0.5, 0.9}) {
                const MeshData out = RunObjectMode(in, mode.mode, RadiansFor(mode.limit), share * safe);
                EXPECT_EQ(Faults(out, m.closed), before)
                    << m.name << ", " << mode.name << ", " << share << " x the safe size";
            }
    }
}

TEST(CrowdedEdges, TheCrowdedEdgeKeepsItsPointsAndTheFacesTaperToIt)
{
    // The fin stands on the cube's edge 0-1, (0,0,0)-(1,0,0), which the -z
    // face (0, 2, 3, 1) and the -y face (0, 1, 5, 4) share. Their copies keep
    // 0 and 1 where they are, so each tapers from its inset at the far edge
    // to the crowded edge; the fin is untouched.
    const MeshData in = MakeWithFin(MakeCube(), 0, 1);
    for (const Mode &mode : {kModes[0], kModes[2]}) {
        const MeshData out = RunObjectMode(in, mode.mode, RadiansFor(mode.limit), 0.25);
        EXPECT_GE(PolyAt(out, {{0, 0, 0}, {0.25, 0.75, 0}, {0.75, 0.75, 0}, {1, 0, 0}}), 0) << mode.name;
        EXPECT_GE(PolyAt(out, {{0, 0, 0}, {1, 0, 0}, {0.75, 0, 0.75}, {0.25, 0, 0.75}}), 0) << mode.name;
        const MeshPointSpan fin = MeshPolyPoints(in, MeshPolyCount(in) - 1);
        std::vector<std::array<double, 3>> corners;
        for (int p : fin)
            corners.push_back(in.points[(size_t)p]);
        EXPECT_GE(PolyAt(out, corners), 0) << mode.name;
        // The +z face, away from the fin, is inset on all four sides.
        EXPECT_GE(PolyAt(out, {{0.25, 0.25, 1}, {0.75, 0.25, 1}, {0.75, 0.75, 1}, {0.25, 0.75, 1}}), 0)
            << mode.name;
    }
}

TEST(CrowdedEdges, BowTieClosesBothCorners)
{
    // Two cubes touching at (1, 1, 1): each gets its own corner patch there,
    // and the result is closed.
    const MeshData out = RunObjectMode(MakeBowTie(), ANGLE_MODE_DISABLE, 0.0, 0.25);
    EXPECT_EQ(MeshValidityFault(out, true), "");
    EXPECT_EQ(MeshPolyCount(out), 52u);
    EXPECT_GE(PolyAt(out, {{0.75, 1, 0.75}, {0.75, 0.75, 1}, {1, 0.75, 0.75}}), 0);
    EXPECT_GE(PolyAt(out, {{1.25, 1, 1.25}, {1, 1.25, 1.25}, {1.25, 1.25, 1}}), 0);
}

}  // namespace
