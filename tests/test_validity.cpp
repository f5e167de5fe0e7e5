// Every object-mode result is a valid mesh: the plain mode and the angle
// modes at limits from 60 to 179 degrees, at fractions of the safe bevel
// size and at a small size clamped to it, on every generated mesh of the
// validity set. Each result is checked raw; a failure names the mesh, the
// mode, the size and the fault.
#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "meshio/meshio.h"
#include "options/options.h"
#include "plugin/activate.h"
#include "tests/fixtures.h"
#include "tests/meshsets.h"

namespace {

struct ValiditySweep : ::testing::Test {
    MeshData Run(const MeshData &mesh, int mode, double degrees, double size)
    {
        return RunObjectMode(mesh, mode, RadiansFor(degrees), size);
    }
};

TEST_F(ValiditySweep, EveryModeGivesAValidMeshUpToTheSafeSize)
{
    struct Mode {
        const char *name;
        int mode;
        double limit;
    };
    std::vector<Mode> modes = {{"plain", ANGLE_MODE_DISABLE, 0.0}};
    for (double limit : {60.0, 90.0, 120.0, 135.0, 150.0, 165.0, 170.0, 179.0}) {
        modes.push_back({"LT", ANGLE_MODE_LT, limit});
        modes.push_back({"GT", ANGLE_MODE_GT, limit});
    }
    for (const NamedMesh &m : ValiditySet()) {
        ASSERT_EQ(MeshValidityFault(m.mesh, m.closed), "") << m.name << ": the input itself";
        const double safe = MeshSafeBevelSize(m.mesh);
        ASSERT_TRUE(std::isfinite(safe) && safe > 0.0) << m.name;
        // The fractions of the safe size, then a small size as the clamp
        // runs it.
        std::vector<std::pair<std::string, double>> sizes;
        for (double f : {0.25, 0.5, 0.9, 1.0})
            sizes.push_back({std::to_string(f) + " x safe", f * safe});
        sizes.push_back({"0.2% of the diagonal, clamped", std::min(0.002 * Diagonal(m.mesh), safe)});
        for (const Mode &mode : modes) {
            for (const auto &size : sizes) {
                const MeshData out = Run(m.mesh, mode.mode, mode.limit, size.second);
                EXPECT_EQ(MeshValidityFault(out, m.closed), "")
                    << m.name << ", " << mode.name << " " << mode.limit << ", " << size.first << " ("
                    << size.second << ")";
            }
        }
    }
}

TEST_F(ValiditySweep, SizesAboutTheWeldDistance)
{
    // About the weld's distance (the box diagonal / 65536) and below it, the
    // weld merges copies one bevel size apart: two crossings of a corner's
    // cut, both ends of a strip, a whole patch. Whatever it merges must leave
    // polygons of three or more distinct points, and a closed mesh closed.
    std::vector<NamedMesh> set = ValiditySet();
    set.push_back({"fanned triangulated box",
                   MakeFanned(MakeTriangulated(MakeBox(1.0, 1.0, 2.0, 3), 2), {0, 2, 4, 6, 8, 10})});
    const struct {
        int mode;
        double limit;
    } modes[] = {{ANGLE_MODE_DISABLE, 0.0}, {ANGLE_MODE_LT, 90.0}, {ANGLE_MODE_LT, 150.0},
                 {ANGLE_MODE_LT, 179.0},    {ANGLE_MODE_GT, 90.0}, {ANGLE_MODE_GT, 150.0}};
    const double shares[] = {0.25, 0.5, 1.0, 1.2, 1.5, 2.0, 4.0};
    std::vector<std::string> invalid;
    auto check = [&](const MeshData &out, const NamedMesh &m, const std::string &what) {
        const std::string fault = MeshValidityFault(out, m.closed);
        if (!fault.empty())
            invalid.push_back(m.name + ", " + what + ": " + fault);
    };
    for (const NamedMesh &m : set) {
        const double weld = Diagonal(m.mesh) / 65536;
        // Up to three polygon pairs of two-polygon mode, about the first, a
        // middle and the last polygon: those whose result is valid at half
        // the safe size, so that what fails here is the small size's doing.
        std::vector<std::pair<int, int>> pairs;
        std::map<std::pair<int, int>, int> holder;
        for (size_t p = 0; p < MeshPolyCount(m.mesh); ++p) {
            const MeshPointSpan v = MeshPolyPoints(m.mesh, p);
            for (size_t k = 0; k < v.size(); ++k)
                holder[{v[k], v[(k + 1) % v.size()]}] = static_cast<int>(p);
        }
        const int last = static_cast<int>(MeshPolyCount(m.mesh)) - 1;
        for (int first : {0, last / 2, last}) {
            const MeshPointSpan v = MeshPolyPoints(m.mesh, static_cast<size_t>(first));
            auto across = holder.find({v[1], v[0]});
            if (across != holder.end() &&
                MeshValidityFault(RunPairMode(m.mesh, first, across->second, 0.5 * MeshSafeBevelSize(m.mesh)),
                                  m.closed) == "")
                pairs.push_back({first, across->second});
        }
        for (double share : shares) {
            const std::string size = std::to_string(share) + " x the weld distance";
            for (const auto &mode : modes)
                check(Run(m.mesh, mode.mode, mode.limit, share * weld), m,
                      "mode " + std::to_string(mode.mode) + " " + std::to_string(mode.limit) + ", " + size);
            for (const auto &pair : pairs)
                check(RunPairMode(m.mesh, pair.first, pair.second, share * weld), m,
                      "polygons " + std::to_string(pair.first) + " and " + std::to_string(pair.second) +
                          ", " + size);
        }
    }
    std::string all;
    for (const std::string &line : invalid)
        all += line + "\n";
    EXPECT_EQ(invalid.size(), 0u) << all;
}

}  // namespace
