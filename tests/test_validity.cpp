// Every object-mode result is a valid mesh: the plain mode and the angle
// modes at limits from 60 to 179 degrees, at fractions of the safe bevel
// size and at a small size clamped to it, on every generated mesh of the
// validity set. Each result is checked raw; a failure names the mesh, the
// mode and the size, and the counts per class of fault are printed.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>

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

// The classes of fault a result shows, for the tally: a failing run counts
// once in each class it shows.
enum { REPEAT, ZERO_AREA, BORDER, CROWDED, SAME_WAY, CLASSES };
const char *const kClassNames[CLASSES] = {"repeated point", "zero area", "border", "crowded",
                                          "same-way"};

unsigned FaultClasses(const MeshData &mesh, bool closed)
{
    unsigned found = 0;
    std::map<std::pair<int, int>, int> runs;
    for (size_t k = 0; k < mesh.polys.size(); ++k) {
        std::vector<int> sorted = mesh.polys[k].points;
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            found |= 1u << REPEAT;
        const auto n = sorted.size() >= 3 ? MeshPolyNewell(mesh, k) : std::array<double, 3>{};
        if (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0)
            found |= 1u << ZERO_AREA;
        const std::vector<int> &v = mesh.polys[k].points;
        for (size_t i = 0; i < v.size(); ++i)
            runs[{v[i], v[(i + 1) % v.size()]}]++;
    }
    for (const auto &r : runs) {
        auto back = runs.find({r.first.second, r.first.first});
        const int reverse = back == runs.end() ? 0 : back->second;
        if (r.second + reverse > 2)
            found |= 1u << CROWDED;
        else if (r.second == 2)
            found |= 1u << SAME_WAY;
        else if (closed && reverse == 0)
            found |= 1u << BORDER;
    }
    return found;
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
    // Per mode name and class, the failing runs; per mode name, the runs.
    std::map<std::string, std::array<int, CLASSES>> tally;
    std::map<std::string, int> runs;
    int failed = 0;
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
                const std::string fault = MeshValidityFault(out, m.closed);
                runs[mode.name]++;
                if (fault.empty())
                    continue;
                ++failed;
                const unsigned classes = FaultClasses(out, m.closed);
                for (int c = 0; c < CLASSES; ++c)
                    tally[mode.name][c] += (classes >> c) & 1u;
                ADD_FAILURE() << m.name << ", " << mode.name << " " << mode.limit << ", "
                              << size.first << " (" << size.second << "): " << fault;
            }
        }
    }
    for (const auto &r : runs) {
        printf("%-5s %5d runs", r.first.c_str(), r.second);
        for (int c = 0; c < CLASSES; ++c)
            printf(", %s %d", kClassNames[c], tally[r.first][c]);
        printf("\n");
    }
    EXPECT_EQ(failed, 0);
}

}  // namespace

namespace {

TEST_F(ValiditySweep, ARidgeApexClosesWithOnePatchPerLobe)
{
    // The roof's two flat halves each keep two faces' corners at the apex P,
    // between the ridge's two strips: the hole about P is two triangles that
    // touch at P. Closed as one ring it was a bow-tie through P twice.
    const MeshData in = MakeRoofBipyramid(8);
    const MeshData out = Run(in, ANGLE_MODE_LT, 179.0, 0.05);
    ASSERT_EQ(MeshValidityFault(out, true), "");
    std::vector<size_t> apex;
    for (size_t p = 0; p < out.points.size(); ++p)
        if (out.points[p] == in.points[0])
            apex.push_back(p);
    ASSERT_EQ(apex.size(), 1u);
    int patches = 0;
    for (size_t k = in.polys.size(); k < out.polys.size(); ++k) {
        const std::vector<int> &v = out.polys[k].points;
        if (std::find(v.begin(), v.end(), static_cast<int>(apex[0])) == v.end())
            continue;
        ++patches;
        EXPECT_EQ(v.size(), 3u) << "polygon " << k;
    }
    EXPECT_EQ(patches, 2);
}

}  // namespace
