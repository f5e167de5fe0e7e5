// Helpers shared by the tests: running the linked-in module on an emulated
// host, finding what it committed, and checking meshes (exact comparison,
// closedness, orientation).
#ifndef CORVANE_TESTS_FIXTURES_H
#define CORVANE_TESTS_FIXTURES_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/loader.h"
#include "hostapi/hostapi.h"
#include "meshgen/meshgen.h"

extern "C" const HostModuleDescriptor _mod_descrip;

// Runs the module linked into the test the way a host runs a loaded one:
// descriptor checks, startup, the "QX_Corvane" server's activation on `host`,
// shutdown. Returns the activation's result, or -1 (with *error) when the
// descriptor is refused.
inline int RunLinkedModule(EmuHost *host, std::string *error = nullptr)
{
    LoadedModule module;
    std::string why;
    if (!OpenModuleDescriptor(&_mod_descrip, "(linked module)", "MeshDataEdit", "QX_Corvane", &module,
                              &why)) {
        if (error != nullptr)
            *error = why;
        return -1;
    }
    const int rc = EmuHostRun(host, module.activate, module.serverData);
    UnloadModule(&module);
    return rc;
}

// Object mode of the linked module: `mesh` in the background layer, the
// options typed into the panel, and no settings folder offered, so nothing
// is read or written between runs (thousands take a fraction of a second).
// The rebuilt foreground layer.
inline MeshData RunObjectMode(const MeshData &mesh, int angleMode, double limitRadians, double size)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    host->script.noDirectoryService = true;
    host->script.bevelSize = size;
    host->script.angleMode = angleMode;
    host->script.limitAngleRad = limitRadians;
    EmuHostAddMesh(host.get(), 2, mesh);
    EXPECT_EQ(RunLinkedModule(host.get()), HOST_ACTIVATE_OK);
    return EmuHostLayerMesh(host.get(), 1);
}

// A host holding `foreground` in layer 1 and, when given, `background` in
// layer 2.
inline std::unique_ptr<EmuHost> HostWithMeshes(const MeshData &foreground,
                                               const MeshData *background = nullptr)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    EmuHostAddMesh(host.get(), 1, foreground);
    if (background != nullptr)
        EmuHostAddMesh(host.get(), 2, *background);
    return host;
}

// `mesh` with polygons `which` selected (and all others not).
inline MeshData WithSelected(MeshData mesh, const std::vector<int> &which)
{
    mesh.polySelected.assign(MeshPolyCount(mesh), 0);
    for (int k : which)
        mesh.polySelected[static_cast<size_t>(k)] = 1;
    return mesh;
}

// Two-polygon mode of the linked module on polygons `a` and `b` (from 0) of
// `mesh`, selected in the foreground layer, likewise without a settings
// folder. The edited foreground layer.
inline MeshData RunPairMode(const MeshData &mesh, int a, int b, double size)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    host->script.noDirectoryService = true;
    host->script.bevelSize = size;
    EmuHostAddMesh(host.get(), 1, WithSelected(mesh, {a, b}));
    EXPECT_EQ(RunLinkedModule(host.get()), HOST_ACTIVATE_OK);
    return EmuHostLayerMesh(host.get(), 1);
}

// Indices of the polygons of `mesh` whose surface is `surface`.
inline std::vector<int> PolysWithSurface(const MeshData &mesh, const std::string &surface)
{
    std::vector<int> out;
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k)
        if (MeshPolyHasSurface(mesh, k) && MeshPolySurface(mesh, k) == surface)
            out.push_back(static_cast<int>(k));
    return out;
}

// The polygons the module added that are alive now (committed), in the order
// they were added, optionally only those of one surface.
inline std::vector<EmuPoly *> CommittedPolys(EmuHost *host, const char *surface = nullptr)
{
    std::vector<EmuPoly *> out;
    for (LWPolID id : host->log.addedPolys) {
        EmuPoly *p = EmuHostPoly(host, id);
        if (p == nullptr || !p->alive)
            continue;
        if (surface != nullptr && (!p->hasSurface || p->surface != surface))
            continue;
        out.push_back(p);
    }
    return out;
}

// The position of a host point (asserting tests look it up by id).
inline std::array<double, 3> HostPosition(EmuHost *host, LWPntID id)
{
    const EmuPoint *p = EmuHostPoint(host, id);
    if (p == nullptr)
        return {NAN, NAN, NAN};
    return {p->info.position[0], p->info.position[1], p->info.position[2]};
}

// Exact comparison: same points (bit-equal coordinates) and polygons (point
// lists, surfaces, selection). Empty when equal, else the first difference.
inline std::string MeshDifference(const MeshData &a, const MeshData &b)
{
    std::ostringstream why;
    if (a.points.size() != b.points.size()) {
        why << "point counts " << a.points.size() << " and " << b.points.size();
        return why.str();
    }
    for (size_t k = 0; k < a.points.size(); ++k) {
        if (a.points[k] != b.points[k]) {
            why << "point " << k << ": (" << a.points[k][0] << ", " << a.points[k][1] << ", "
                << a.points[k][2] << ") and (" << b.points[k][0] << ", " << b.points[k][1] << ", "
                << b.points[k][2] << ")";
            return why.str();
        }
    }
    if (MeshPolyCount(a) != MeshPolyCount(b)) {
        why << "polygon counts " << MeshPolyCount(a) << " and " << MeshPolyCount(b);
        return why.str();
    }
    for (size_t k = 0; k < MeshPolyCount(a); ++k) {
        const MeshPointSpan p = MeshPolyPoints(a, k), q = MeshPolyPoints(b, k);
        if (!std::equal(p.begin(), p.end(), q.begin(), q.end()) ||
            MeshPolyHasSurface(a, k) != MeshPolyHasSurface(b, k) ||
            MeshPolySurface(a, k) != MeshPolySurface(b, k) ||
            MeshPolySelected(a, k) != MeshPolySelected(b, k)) {
            why << "polygon " << k << " differs";
            return why.str();
        }
    }
    return "";
}

// How often each directed edge (point, next point) occurs in the polygons.
inline std::map<std::pair<int, int>, int> DirectedEdgeCounts(const MeshData &mesh)
{
    std::map<std::pair<int, int>, int> count;
    for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++) {
        const MeshPointSpan p = MeshPolyPoints(mesh, pi);
        const size_t n = p.size();
        for (size_t k = 0; k < n; ++k)
            count[{p[k], p[(k + 1) % n]}]++;
    }
    return count;
}

// The first directed edge that occurs more than once, or whose reverse does
// (with `closed`: that does not occur exactly once, or whose reverse does
// not); empty when there is none.
inline std::string EdgeUseFault(const MeshData &mesh, bool closed)
{
    const std::map<std::pair<int, int>, int> count = DirectedEdgeCounts(mesh);
    for (const auto &e : count) {
        auto rev = count.find({e.first.second, e.first.first});
        const int back = rev == count.end() ? 0 : rev->second;
        if (closed ? e.second != 1 || back != 1 : e.second > 1 || back > 1) {
            std::ostringstream why;
            why << "edge " << e.first.first << " -> " << e.first.second << " occurs " << e.second
                << " times, its reverse " << back << " times";
            return why.str();
        }
    }
    return "";
}

// Closed and consistently oriented: every directed edge occurs once and its
// reverse exactly once. Empty when so, else the first offending edge.
inline std::string ClosedMeshFault(const MeshData &mesh)
{
    return EdgeUseFault(mesh, true);
}

// The directed edges whose reverse no polygon holds: the border of an open
// mesh, each as (point, next point), in point order.
inline std::vector<std::pair<int, int>> BorderEdges(const MeshData &mesh)
{
    const std::map<std::pair<int, int>, int> count = DirectedEdgeCounts(mesh);
    std::vector<std::pair<int, int>> border;
    for (const auto &e : count)
        if (count.find({e.first.second, e.first.first}) == count.end())
            border.push_back(e.first);
    return border;
}

inline std::array<double, 3> MeshPolyNewell(const MeshData &mesh, size_t k);

// The one validity check every closedness test uses, on the raw output: each
// polygon has three or more points, none of them twice, and a Newell normal
// that is not the zero vector; no edge is used twice the same way or by more
// than two polygons; and, with `closed`, no edge is a border. Empty when
// valid, else the first fault, naming the polygon or edge.
inline std::string MeshValidityFault(const MeshData &mesh, bool closed)
{
    std::ostringstream why;
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k) {
        const MeshPointSpan v = MeshPolyPoints(mesh, k);
        for (size_t i = 0; i < v.size(); ++i)
            for (size_t j = i + 1; j < v.size(); ++j)
                if (v[i] == v[j]) {
                    why << "polygon " << k << " holds point " << v[i] << " twice";
                    return why.str();
                }
        const std::array<double, 3> n = v.size() >= 3 ? MeshPolyNewell(mesh, k)
                                                      : std::array<double, 3>{0.0, 0.0, 0.0};
        if (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0) {
            why << "polygon " << k << " of " << v.size() << " points has zero area";
            return why.str();
        }
    }
    return EdgeUseFault(mesh, closed);
}

// Newell normal of polygon `k` of a plain mesh, not normalised.
inline std::array<double, 3> MeshPolyNewell(const MeshData &mesh, size_t k)
{
    const MeshPointSpan v = MeshPolyPoints(mesh, k);
    double n[3] = {0.0, 0.0, 0.0};
    for (size_t i = 0; i < v.size(); ++i) {
        const auto &p = mesh.points[static_cast<size_t>(v[i])];
        const auto &q = mesh.points[static_cast<size_t>(v[(i + 1) % v.size()])];
        n[0] += (p[1] - q[1]) * (p[2] + q[2]);
        n[1] += (p[2] - q[2]) * (p[0] + q[0]);
        n[2] += (p[0] - q[0]) * (p[1] + q[1]);
    }
    return {n[0], n[1], n[2]};
}

// Length of the diagonal of the mesh's bounding box: the scale the sweeps
// give their bevel sizes in.
inline double Diagonal(const MeshData &mesh)
{
    std::array<double, 3> lo = mesh.points[0], hi = mesh.points[0];
    for (const auto &p : mesh.points)
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    return std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                     (hi[2] - lo[2]) * (hi[2] - lo[2]));
}

// A limit typed in radians that the panel turns into exactly `degrees`.
inline double RadiansFor(double degrees)
{
    double r = degrees / 57.29577951308239;
    for (int i = 0; i < 64 && r * 57.29577951308239 != degrees; ++i)
        r = std::nextafter(r, r * 57.29577951308239 < degrees ? INFINITY : -INFINITY);
    return r;
}

// Volume enclosed by a closed mesh, positive when its polygons face outwards
// (each polygon fanned from its first point).
inline double SignedVolume(const MeshData &mesh)
{
    double v = 0.0;
    for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++) {
        const MeshPointSpan p = MeshPolyPoints(mesh, pi);
        const auto &a = mesh.points[static_cast<size_t>(p[0])];
        for (size_t i = 1; i + 1 < p.size(); ++i) {
            const auto &b = mesh.points[static_cast<size_t>(p[i])];
            const auto &c = mesh.points[static_cast<size_t>(p[i + 1])];
            v += a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
                 a[2] * (b[0] * c[1] - b[1] * c[0]);
        }
    }
    return v / 6.0;
}

// A cube [lo, lo + 1]^3 whose -z face is a fan of three triangles from its
// corner P = (lo, lo, lo) (point 8 splits the edge from (lo + 1, lo, lo) to
// (lo + 1, lo + 1, lo)), and a triangle hanging from P by that point alone:
// the polygons about P do not close into one fan, so the walk goes round
// and the patch's plane cuts the middle triangle's corner.
inline MeshData HangingFanCube(double lo)
{
    MeshData mesh = MakeCube(lo, lo + 1);
    mesh.points.push_back({lo + 1, lo + 0.5, lo});
    std::vector<MeshFace> polys = MeshFacesOf(mesh);
    for (MeshFace &p : polys) {
        size_t n = p.points.size();
        for (size_t v = 0; v < n; ++v) {
            int a = p.points[v], b = p.points[(v + 1) % n];
            if ((a == 1 && b == 3) || (a == 3 && b == 1)) {
                p.points.insert(p.points.begin() + (long)v + 1, 8);
                break;
            }
        }
    }
    polys[0].points = {0, 2, 3};
    MeshSetFaces(&mesh, polys);
    MeshAddFace(&mesh, {0, 3, 8});
    MeshAddFace(&mesh, {0, 8, 1});
    mesh.points.push_back({lo - 1, lo - 1, lo - 1});
    mesh.points.push_back({lo - 1, lo - 0.5, lo - 1});
    MeshAddFace(&mesh, {0, 9, 10});
    return mesh;
}

#endif
