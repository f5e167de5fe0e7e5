// The two-polygon mode on every shared edge of every small generated mesh, at
// sizes up to the safe bevel size: each result must be a valid mesh as it
// comes out, closed where the input is.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fixtures.h"
#include "host/host.h"
#include "meshio/meshio.h"
#include "meshsets.h"

namespace {

TEST(PairValidity, EverySharedEdgeOfTheSmallMeshesUpToTheSafeSize)
{
    const double shares[] = {0.25, 0.5, 0.9, 1.0};
    for (const NamedMesh &m : ValiditySet()) {
        int pairs = 0;
        const double safe = MeshSafeBevelSize(m.mesh);
        ASSERT_TRUE(std::isfinite(safe)) << m.name;
        std::map<std::pair<int, int>, int> holder;
        for (size_t p = 0; p < MeshPolyCount(m.mesh); ++p) {
            const MeshPointSpan v = MeshPolyPoints(m.mesh, p);
            for (size_t k = 0; k < v.size(); ++k)
                holder[{v[k], v[(k + 1) % v.size()]}] = static_cast<int>(p);
        }
        for (const auto &e : holder) {
            auto across = holder.find({e.first.second, e.first.first});
            if (across == holder.end() || across->second <= e.second)
                continue;
            ++pairs;
            for (double share : shares) {
                const MeshData out = RunPairMode(m.mesh, e.second, across->second, share * safe);
                EXPECT_EQ(MeshValidityFault(out, m.closed), "")
                    << m.name << ", pair " << e.second << "/" << across->second << " at " << share
                    << " of the safe size";
            }
        }
        // A mesh whose edges the scan above misses would pass unseen.
        EXPECT_GT(pairs, 0) << m.name << ": no shared edge was chamfered";
    }
}

TEST(PairValidity, AStripOfOnePairCappedFlatAtBothEnds)
{
    // The edge from point 8 to 15 of the triangulated cylinder runs round
    // the ring at z = 1, where five polygons meet at each end: the strip is
    // the selected pair alone, and at each end the cap would lie on the
    // vertical line through the end point. Each end point goes into the one
    // bridge quad instead, the second as well as the first.
    const MeshData mesh = MakeTriangulated(MakeCylinder(8, 3), 2);
    std::map<std::pair<int, int>, int> holder;
    for (size_t p = 0; p < MeshPolyCount(mesh); ++p) {
        const MeshPointSpan v = MeshPolyPoints(mesh, p);
        for (size_t k = 0; k < v.size(); ++k)
            holder[{v[k], v[(k + 1) % v.size()]}] = static_cast<int>(p);
    }
    const int a = holder.at({8, 15}), b = holder.at({15, 8});
    const double safe = MeshSafeBevelSize(mesh);
    for (double share : {0.05, 0.1, 0.5, 0.99}) {
        const MeshData out = RunPairMode(mesh, a, b, share * safe);
        EXPECT_EQ(MeshValidityFault(out, true), "") << share;
        int bridges = 0;
        for (size_t pi = 0; pi < MeshPolyCount(out); pi++) {
            const MeshPointSpan p = MeshPolyPoints(out, pi);
            int ends = 0;
            for (int q : p)
                ends += out.points[(size_t)q] == mesh.points[8] || out.points[(size_t)q] == mesh.points[15];
            bridges += p.size() == 6 && ends == 2;
        }
        EXPECT_EQ(bridges, 1) << share;
    }
}

}  // namespace
