// Every object-mode result is a valid mesh: the plain mode and the angle
// modes at limits from 60 to 179 degrees, at fractions of the safe bevel
// size and at a small size clamped to it, on every generated mesh of the
// validity set. Each result is checked raw; a failure names the mesh, the
// mode, the size and the fault.
#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>
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

// A limit typed in radians that the panel turns into exactly `degrees`.
double RadiansFor(double degrees)
{
    double r = degrees / 57.29577951308239;
    for (int i = 0; i < 64 && r * 57.29577951308239 != degrees; ++i)
        r = nextafter(r, r * 57.29577951308239 < degrees ? INFINITY : -INFINITY);
    return r;
}

double Diagonal(const MeshData &mesh)
{
    std::array<double, 3> lo = mesh.points[0], hi = mesh.points[0];
    for (const auto &q : mesh.points)
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], q[i]);
            hi[i] = std::max(hi[i], q[i]);
        }
    return std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]);
}

struct ValiditySweep : ::testing::Test {
    // The host offers no settings folder: nothing is read or written between
    // runs, and thousands of runs take a fraction of a second.
    MeshData Run(const MeshData &mesh, int mode, double degrees, double size)
    {
        std::unique_ptr<EmuHost> host = EmuHostCreate();
        host->script.noDirectoryService = true;
        host->script.bevelSize = size;
        host->script.angleMode = mode;
        host->script.limitAngleRad = RadiansFor(degrees);
        EmuHostAddMesh(host.get(), 2, mesh);
        EXPECT_EQ(EmuHostRun(host.get(), Activate), HOST_ACTIVATE_OK);
        return EmuHostLayerMesh(host.get(), 1);
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
                    << m.name << ", " << mode.name << " " << mode.limit << ", " << size.first
                    << " (" << size.second << ")";
            }
        }
    }
}

TEST_F(ValiditySweep, SizesJustAboveTheWeldDistance)
{
    // At about the weld's distance (the box diagonal / 65536) two points a
    // corner takes in (two crossings of its cut, or its neighbours' copies
    // where its corner is dropped) may lie within that distance of each
    // other: they must be one point once, not twice in a row.
    std::vector<NamedMesh> set = ValiditySet();
    set.push_back({"fanned triangulated box",
                   MakeFanned(MakeTriangulated(MakeBox(1.0, 1.0, 2.0, 3), 2), {0, 2, 4, 6, 8, 10})});
    const struct {
        int mode;
        double limit;
    } modes[] = {{ANGLE_MODE_DISABLE, 0.0}, {ANGLE_MODE_LT, 90.0}, {ANGLE_MODE_LT, 150.0},
                 {ANGLE_MODE_GT, 90.0}, {ANGLE_MODE_GT, 150.0}};
    for (const NamedMesh &m : set) {
        const double size = 1.5 * Diagonal(m.mesh) / 65536;
        for (const auto &mode : modes)
            EXPECT_EQ(MeshValidityFault(Run(m.mesh, mode.mode, mode.limit, size), m.closed), "")
                << m.name << ", mode " << mode.mode << " " << mode.limit;
    }
}

}  // namespace
