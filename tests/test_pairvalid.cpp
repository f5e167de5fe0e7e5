// The two-polygon mode on every shared edge of every small generated mesh, at
// sizes up to the safe bevel size: each result must be a valid mesh as it
// comes out, closed where the input is.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fixtures.h"
#include "host/host.h"
#include "meshio/meshio.h"
#include "meshsets.h"
#include "plugin/activate.h"

namespace {

enum Fault { REPEATED, ZERO_AREA, BORDER, CROWDED, SAME_WAY, FAULT_KINDS };
const char *const kFaultNames[FAULT_KINDS] = {"repeated point", "zero area", "border",
                                               "crowded", "same-way"};

// Which kinds of fault a result shows, one bit each; the sweep counts the
// results of each kind so that a change of cause shows in the figures.
unsigned FaultKinds(const MeshData &mesh, bool closed)
{
    unsigned kinds = 0;
    std::map<std::pair<int, int>, int> count;
    for (size_t k = 0; k < mesh.polys.size(); ++k) {
        const std::vector<int> &v = mesh.polys[k].points;
        for (size_t i = 0; i < v.size(); ++i) {
            for (size_t j = i + 1; j < v.size(); ++j)
                kinds |= v[i] == v[j] ? 1u << REPEATED : 0u;
            count[{v[i], v[(i + 1) % v.size()]}]++;
        }
        const std::array<double, 3> n =
            v.size() >= 3 ? MeshPolyNewell(mesh, k) : std::array<double, 3>{0.0, 0.0, 0.0};
        kinds |= n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0 ? 1u << ZERO_AREA : 0u;
    }
    for (const auto &e : count) {
        auto rev = count.find({e.first.second, e.first.first});
        const int back = rev == count.end() ? 0 : rev->second;
        kinds |= closed && back == 0 ? 1u << BORDER : 0u;
        kinds |= e.second + back > 2 ? 1u << CROWDED : 0u;
        kinds |= e.second > 1 ? 1u << SAME_WAY : 0u;
    }
    return kinds;
}

// No settings file: thousands of runs need not each write one.
MeshData Chamfered(const MeshData &mesh, int a, int b, double size)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    EmuHostAddMesh(host.get(), 1, WithSelected(mesh, {a, b}));
    host->script.noDirectoryService = true;
    host->script.bevelSize = size;
    EmuHostRun(host.get(), Activate);
    return EmuHostLayerMesh(host.get(), 1);
}

TEST(PairValidity, EverySharedEdgeOfTheSmallMeshesUpToTheSafeSize)
{
    const bool verbose = getenv("CORVANE_PAIRVALID_VERBOSE") != nullptr;
    const double shares[] = {0.25, 0.5, 0.9, 1.0};
    int runs = 0, invalid = 0;
    int perKind[FAULT_KINDS] = {};
    for (const NamedMesh &m : ValiditySet()) {
        const double safe = MeshSafeBevelSize(m.mesh);
        ASSERT_TRUE(std::isfinite(safe)) << m.name;
        std::map<std::pair<int, int>, int> holder;
        for (size_t p = 0; p < m.mesh.polys.size(); ++p) {
            const std::vector<int> &v = m.mesh.polys[p].points;
            for (size_t k = 0; k < v.size(); ++k)
                holder[{v[k], v[(k + 1) % v.size()]}] = static_cast<int>(p);
        }
        for (const auto &e : holder) {
            auto across = holder.find({e.first.second, e.first.first});
            if (across == holder.end() || across->second <= e.second)
                continue;
            for (double share : shares) {
                const MeshData out =
                    Chamfered(m.mesh, e.second, across->second, share * safe);
                ++runs;
                const std::string fault = MeshValidityFault(out, m.closed);
                if (fault.empty())
                    continue;
                ++invalid;
                const unsigned kinds = FaultKinds(out, m.closed);
                for (int k = 0; k < FAULT_KINDS; ++k)
                    perKind[k] += (kinds >> k) & 1u;
                if (verbose)
                    printf("%s, pair %d/%d at %g of the safe size: %s\n", m.name.c_str(),
                           e.second, across->second, share, fault.c_str());
            }
        }
    }
    if (verbose) {
        printf("%d runs, %d invalid:", runs, invalid);
        for (int k = 0; k < FAULT_KINDS; ++k)
            printf(" %s %d,", kFaultNames[k], perKind[k]);
        printf("\n");
    }
    // Every shared edge is tried, so the figures are exact. Still invalid:
    // loops that come back to a merged polygon at a second of its edges
    // (28 runs on the merged tori and box), and one on the noisy torus where
    // a cut lands just outside the weld's reach of a point when the cap is
    // made and inside it at the flush. Any change shows here, better or
    // worse.
    EXPECT_EQ(runs, 5296);
    EXPECT_EQ(invalid, 29);
    const int known[FAULT_KINDS] = {3, 0, 28, 3, 3};
    for (int k = 0; k < FAULT_KINDS; ++k)
        EXPECT_EQ(perKind[k], known[k]) << kFaultNames[k];
}

}  // namespace
