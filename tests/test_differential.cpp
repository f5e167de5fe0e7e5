// Differential tests: the module with its indexed passes (Corvane.p) against
// the module built with the oracle's passes (CorvaneLiteral.p, from
// tests/reference, written again from what each pass must produce). Both are loaded like a host loads them
// and run on identical emulated hosts with identical scripts; everything the host records must come out the
// same bit for bit: the points created (ids and positions), the polygons created and removed (point lists,
// surface names), the messages, the monitors (titles, totals, steps, aborts) and the final state of every
// point and polygon. Only the counts of pointInfo and polyInfo calls may differ: the indexes ask the host
// once where the oracle's scans ask again and again.
//
// Single passes are also compared on inputs no activation produces: the weld
// on point clouds built about its tolerance, the LineInfo pass on arbitrary
// record arrays. There the oracle's passes are linked in under Ref names.
//
// The default run takes a few seconds. CORVANE_DIFF_RUNS=N runs N random
// cases of each kind instead of the default numbers; CORVANE_DIFF_SEED picks
// the seed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/loader.h"
#include "hostapi/angles.h"
#include "meshgen/meshgen.h"
#include "meshio/meshio.h"
#include "tests/files.h"
#include "tests/meshsets.h"
#include "tests/reference/reference.h"
#include "tests/testcontext.h"
#include "vecmath/vecmath.h"

namespace {

// ---- the two modules ------------------------------------------------------

struct ModulePair {
    LoadedModule fast;
    LoadedModule literal;
    std::string error;
};

ModulePair *g_modules = nullptr;

class ModulesEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_modules = new ModulePair;
        std::string why;
        if (!LoadModule(CORVANE_FAST_MODULE, "MeshDataEdit", "QX_Corvane", &g_modules->fast, &why))
            g_modules->error += why + "\n";
        if (!LoadModule(CORVANE_LITERAL_MODULE, "MeshDataEdit", "QX_Corvane", &g_modules->literal, &why))
            g_modules->error += why + "\n";
    }
    void TearDown() override
    {
        if (g_modules->fast.handle)
            UnloadModule(&g_modules->fast);
        if (g_modules->literal.handle)
            UnloadModule(&g_modules->literal);
        delete g_modules;
        g_modules = nullptr;
    }
};

const ::testing::Environment *const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ModulesEnvironment);

// ---- one activation and what the host recorded -----------------------------

struct Case {
    std::string name;
    MeshData mesh;
    bool pairMode = false;  // the mesh in the foreground, two polygons selected
    MeshData foreground;    // object mode: what the foreground holds besides
    double bevel = 0.1;
    int angleMode = 0;
    double limitDeg = 90.0;
    int abortMonitor = -1;  // see EmuScript
    unsigned abortStep = 0;
    bool monitorCreateFails = false;
    std::vector<int> hidden;  // polygons of `mesh` the host gives no polyInfo for
};

std::string Bits(double v)
{
    uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(u));
    return buf;
}

uintptr_t Id(const void *id)
{
    return reinterpret_cast<uintptr_t>(id);
}

// Everything the host recorded and holds, one fact per line.
std::string Record(EmuHost *host, int rc)
{
    std::ostringstream out;
    const EmuLog &log = host->log;
    out << "result " << rc << "\n";
    out << "edits " << log.editsBegun << " begin-calls " << log.editBeginCalls << "\n";
    for (int code : log.doneCodes)
        out << "done " << code << "\n";
    for (const EmuMonitorLog &m : log.monitors) {
        out << "monitor |" << m.title << "|" << m.text << "| inits";
        for (unsigned t : m.inits)
            out << " " << t;
        out << " steps " << m.steps << " aborted " << m.aborted << " done " << m.done << " destroyed "
            << m.destroyed << "\n";
    }
    for (const EmuMessage &m : log.messages)
        out << "message " << m.error << " |" << m.line1 << "|"
            << (m.line2Null ? std::string("(null)") : m.line2) << "|\n";
    out << "added points";
    for (LWPntID id : log.addedPoints)
        out << " " << Id(id);
    out << "\nadded polys";
    for (LWPolID id : log.addedPolys)
        out << " " << Id(id);
    out << "\nremoved";
    for (LWPolID id : log.removedPolys)
        out << " " << Id(id);
    out << "\nrejected " << log.rejectedFaces << " after-done " << log.callsAfterDone << "\n";
    for (const std::string &s : log.servicesAsked)
        out << "service " << s << "\n";
    for (size_t k = 0; k < host->points.size(); ++k) {
        const EmuPoint &p = *host->points[k];
        out << "point " << Id(p.info.pnt) << " " << Bits(p.info.position[0]) << " "
            << Bits(p.info.position[1]) << " " << Bits(p.info.position[2]) << " layer " << p.layer
            << " alive " << p.alive << "\n";
    }
    for (size_t k = 0; k < host->polys.size(); ++k) {
        const EmuPoly &p = *host->polys[k];
        out << "poly " << Id(p.info.pol) << " |" << (p.hasSurface ? p.surface : std::string("(none)"))
            << "| layer " << p.layer << " alive " << p.alive << " flags " << p.info.flags << " :";
        for (LWPntID v : p.points)
            out << " " << Id(v);
        out << "\n";
    }
    return out.str();
}

std::string RunCase(const LoadedModule &module, const Case &c)
{
    std::unique_ptr<EmuHost> host = EmuHostCreate();
    host->script.noDirectoryService = true;  // no settings file: the script sets every option
    host->script.bevelSize = c.bevel;
    host->script.angleMode = c.angleMode;
    host->script.limitAngleRad = c.limitDeg * kRadiansPerDegree;
    host->script.abortMonitor = c.abortMonitor;
    host->script.abortStep = c.abortStep;
    host->script.monitorCreateFails = c.monitorCreateFails;
    std::vector<LWPolID> ids;
    if (c.pairMode) {
        ids = EmuHostAddMesh(host.get(), 1, c.mesh);
    } else {
        if (MeshPolyCount(c.foreground) != 0)
            EmuHostAddMesh(host.get(), 1, c.foreground);
        ids = EmuHostAddMesh(host.get(), 2, c.mesh);
    }
    for (int k : c.hidden)
        if (k >= 0 && static_cast<size_t>(k) < ids.size())
            host->script.hidePolys.push_back(ids[static_cast<size_t>(k)]);
    const int rc = EmuHostRun(host.get(), module.activate, module.serverData);
    return Record(host.get(), rc);
}

// The first line where two records differ, with its number.
std::string FirstDifference(const std::string &a, const std::string &b)
{
    std::istringstream sa(a), sb(b);
    std::string la, lb;
    for (int line = 1;; ++line) {
        const bool ha = static_cast<bool>(std::getline(sa, la));
        const bool hb = static_cast<bool>(std::getline(sb, lb));
        if (!ha && !hb)
            return "";
        if (!ha || !hb || la != lb)
            return "line " + std::to_string(line) + ":\n  fast:    " + (ha ? la : "(end)") +
                   "\n  literal: " + (hb ? lb : "(end)");
    }
}

// Runs the case on both modules; empty when the records agree.
std::string Compare(const Case &c)
{
    const std::string fast = RunCase(g_modules->fast, c);
    const std::string literal = RunCase(g_modules->literal, c);
    if (fast == literal)
        return "";
    return c.name + " differs at " + FirstDifference(fast, literal);
}

#define ASSERT_MODULES_LOADED() ASSERT_TRUE(g_modules && g_modules->error.empty()) << g_modules->error

// ---- meshes -----------------------------------------------------------------

// Index of a polygon other than `poly` holding the edge from vertex k of
// `poly` to the next one in the opposite direction, or -1.
int NeighbourAcross(const MeshData &mesh, int poly, size_t k)
{
    const MeshPointSpan pts = MeshPolyPoints(mesh, static_cast<size_t>(poly));
    if (pts.size() < 2)
        return -1;
    const int a = pts[k % pts.size()];
    const int b = pts[(k + 1) % pts.size()];
    for (size_t q = 0; q < MeshPolyCount(mesh); ++q) {
        if (static_cast<int>(q) == poly)
            continue;
        const MeshPointSpan o = MeshPolyPoints(mesh, q);
        for (size_t j = 0; j < o.size(); ++j)
            if (o[j] == b && o[(j + 1) % o.size()] == a)
                return static_cast<int>(q);
    }
    return -1;
}

MeshData Selected(MeshData mesh, int first, int second)
{
    mesh.polySelected.assign(MeshPolyCount(mesh), 0);
    if (first >= 0)
        mesh.polySelected[static_cast<size_t>(first)] = 1;
    if (second >= 0)
        mesh.polySelected[static_cast<size_t>(second)] = 1;
    return mesh;
}

// The weld tolerance the flush will use for an object-mode run of `mesh`:
// 2^-16 of the diagonal of the box over every polygon corner, as the survey
// adds them.
double WeldTolerance(const MeshData &mesh)
{
    bool first = true;
    Vec3 lo{0, 0, 0}, hi{0, 0, 0};
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(mesh); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, polyIndex);
        for (int v : poly) {
            const auto &p = mesh.points[static_cast<size_t>(v)];
            if (first) {
                lo = hi = Vec3{p[0], p[1], p[2]};
                first = false;
                continue;
            }
            lo.x = std::min(lo.x, p[0]);
            hi.x = std::max(hi.x, p[0]);
            lo.y = std::min(lo.y, p[1]);
            hi.y = std::max(hi.y, p[1]);
            lo.z = std::min(lo.z, p[2]);
            hi.z = std::max(hi.z, p[2]);
        }
    }
    return VecLength(VecSub(lo, hi)) * (1.0 / 65536);
}

// Meshes the other tests build their cases on.
std::vector<std::pair<std::string, MeshData>> FixtureMeshes()
{
    std::vector<std::pair<std::string, MeshData>> out;
    out.push_back({"cube", MakeCube()});
    out.push_back({"cube-offset", MakeCube(-2.5, 0.75)});
    out.push_back({"box", MakeBox(2.0, 1.0, 0.5, 2)});
    out.push_back({"grid-1x1", MakeQuadGrid(1, 1)});
    out.push_back({"grid-4x3", MakeQuadGrid(4, 3)});
    out.push_back({"tube-6x3", MakeQuadTube(6, 3)});
    out.push_back({"tube-4x1", MakeQuadTube(4, 1)});
    out.push_back({"sphere-2", MakeQuadSphere(2)});
    out.push_back({"sphere-4", MakeQuadSphere(4)});
    out.push_back({"torus-8x4", MakeTorus(8, 4)});
    out.push_back({"cylinder-6x2", MakeCylinder(6, 2)});
    out.push_back({"fan-5", MakeFan(5)});
    out.push_back({"fan-3", MakeFan(3)});
    return out;
}

std::vector<std::pair<std::string, MeshData>> ExampleMeshes(std::string *error)
{
    std::vector<std::pair<std::string, MeshData>> out;
    for (const char *name : {"cube", "cylinder", "lgrid", "torus"}) {
        MeshData mesh;
        MeshReadInfo info;
        const std::string path = std::string(CORVANE_SOURCE_DIR) + "/examples/" + name + ".obj";
        if (!MeshReadObj(path, &mesh, &info, error))
            return {};
        out.push_back({std::string("example-") + name, mesh});
    }
    return out;
}

// Object-mode cases over one mesh: plain, both angle modes at limits on
// either side of a right angle, and everything turned down (a copy that is
// only welded).
std::vector<Case> ObjectCases(const std::string &name, const MeshData &mesh)
{
    std::vector<Case> out;
    const struct {
        int mode;
        double limit;
        double bevel;
    } settings[] = {{0, 90.0, 0.1},   {0, 90.0, 0.3}, {1, 100.0, 0.1}, {1, 90.0, 0.1},
                    {1, 170.0, 0.05}, {2, 90.0, 0.1}, {2, 100.0, 0.2}, {1, 0.0, 0.1}};
    for (const auto &s : settings) {
        Case c;
        c.name = name + " object mode " + std::to_string(s.mode) + " limit " + std::to_string(s.limit) +
                 " bevel " + std::to_string(s.bevel);
        c.mesh = mesh;
        c.bevel = s.bevel;
        c.angleMode = s.mode;
        c.limitDeg = s.limit;
        out.push_back(c);
    }
    return out;
}

// Two-polygon cases: up to `pairs` selected pairs that share an edge, and
// one pair that shares none.
std::vector<Case> PairCases(const std::string &name, const MeshData &mesh, int pairs)
{
    std::vector<Case> out;
    int made = 0;
    for (size_t p = 0; p < MeshPolyCount(mesh) && made < pairs; p += 1 + MeshPolyCount(mesh) / 5) {
        for (size_t k = 0; k < MeshPolyPoints(mesh, p).size() && made < pairs; ++k) {
            const int q = NeighbourAcross(mesh, static_cast<int>(p), k);
            if (q < 0)
                continue;
            Case c;
            c.name = name + " pair " + std::to_string(p) + "/" + std::to_string(q);
            c.mesh = Selected(mesh, static_cast<int>(p), q);
            c.pairMode = true;
            c.bevel = 0.1;
            out.push_back(c);
            ++made;
            break;
        }
    }
    if (MeshPolyCount(mesh) >= 3) {
        Case c;
        c.name = name + " pair without a shared edge";
        c.mesh = Selected(mesh, 0, static_cast<int>(MeshPolyCount(mesh)) - 1);
        c.pairMode = true;
        out.push_back(c);
    }
    return out;
}

// ---- random meshes ----------------------------------------------------------

struct Random {
    std::mt19937_64 rng;
    explicit Random(uint64_t seed) : rng(seed) {}
    int Int(int lo, int hi)  // lo .. hi inclusive
    {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    }
    double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    bool Chance(double p) { return Real(0.0, 1.0) < p; }
    template <class T> const T &Pick(const std::vector<T> &v)
    {
        return v[static_cast<size_t>(Int(0, static_cast<int>(v.size()) - 1))];
    }
};

MeshData RandomBase(Random &r)
{
    switch (r.Int(0, 8)) {
    case 0: return MakeCube(r.Real(-2, 0), r.Real(0.5, 3));
    case 1: return MakeBox(r.Real(0.5, 3), r.Real(0.5, 3), r.Real(0.5, 3), r.Int(1, 3));
    case 2: return MakeQuadGrid(r.Int(1, 6), r.Int(1, 6));
    case 3: return MakeQuadTube(r.Int(3, 9), r.Int(1, 4));
    case 4: return MakeQuadSphere(r.Int(1, 4));
    case 5: return MakeTorus(r.Int(3, 8), r.Int(3, 6));
    case 6: return MakeCylinder(r.Int(3, 8), r.Int(1, 3));
    case 7: return MakeFan(r.Int(3, 9));
    default: {
        // Two meshes side by side, sharing nothing.
        MeshData a = MakeQuadGrid(r.Int(1, 4), r.Int(1, 4));
        MeshData b = MakeCube(r.Real(-1, 0), r.Real(1, 2));
        const int base = static_cast<int>(a.points.size());
        for (auto p : b.points)
            a.points.push_back(p);
        for (MeshFace p : MeshFacesOf(b)) {
            for (int &v : p.points)
                v += base;
            MeshPutFace(&a, p);
        }
        return a;
    }
    }
}

int AddPoint(MeshData &mesh, std::array<double, 3> p)
{
    mesh.points.push_back(p);
    return static_cast<int>(mesh.points.size()) - 1;
}

// One random change of many kinds the passes must survive: orientation,
// shape, sharing, seams, degenerate and short polygons, coincident and
// nearly coincident points, and coordinates that are not numbers.
void MutateFaces(Random &r, MeshData &mesh, std::vector<MeshFace> &polys)
{
    if (polys.empty())
        return;
    const size_t pi = static_cast<size_t>(r.Int(0, static_cast<int>(polys.size()) - 1));
    MeshFace &poly = polys[pi];
    const int n = static_cast<int>(poly.points.size());
    switch (r.Int(0, 15)) {
    case 0:  // inconsistent orientation
        std::reverse(poly.points.begin(), poly.points.end());
        break;
    case 1:  // a quad split into two triangles
        if (n == 4) {
            MeshFace second = poly;
            second.points = {poly.points[0], poly.points[2], poly.points[3]};
            poly.points = {poly.points[0], poly.points[1], poly.points[2]};
            polys.push_back(second);
        }
        break;
    case 2: {  // a third polygon on an edge: non-manifold
        if (n < 2)
            break;
        const int k = r.Int(0, n - 1);
        const int a = poly.points[static_cast<size_t>(k)];
        const int b = poly.points[static_cast<size_t>((k + 1) % n)];
        auto pa = mesh.points[static_cast<size_t>(a)];
        auto pb = mesh.points[static_cast<size_t>(b)];
        const int c = AddPoint(mesh, {(pa[0] + pb[0]) / 2 + 0.5, (pa[1] + pb[1]) / 2 - 0.25,
                                      (pa[2] + pb[2]) / 2 + 0.75});
        MeshFace fin = poly;
        fin.points = r.Chance(0.5) ? std::vector<int>{b, a, c} : std::vector<int>{a, b, c};
        polys.push_back(fin);
        break;
    }
    case 3:  // the same polygon twice, same or opposite sense
        polys.push_back(poly);
        if (r.Chance(0.5))
            std::reverse(polys.back().points.begin(), polys.back().points.end());
        break;
    case 4: {  // a slit: the polygon runs out to a new point and back (a seam)
        if (n < 3)
            break;
        const size_t k = static_cast<size_t>(r.Int(0, n - 1));
        const int a = poly.points[k];
        auto pa = mesh.points[static_cast<size_t>(a)];
        const int x = AddPoint(mesh, {pa[0] * 0.9 + 0.05, pa[1] * 0.9 + 0.05, pa[2] * 0.9});
        std::vector<int> pts(poly.points.begin(), poly.points.begin() + static_cast<long>(k) + 1);
        pts.push_back(x);
        pts.insert(pts.end(), poly.points.begin() + static_cast<long>(k), poly.points.end());
        poly.points = pts;
        break;
    }
    case 5:  // degenerate: a repeated corner
        if (n >= 1)
            poly.points.insert(poly.points.begin() + r.Int(0, n - 1),
                               poly.points[static_cast<size_t>(r.Int(0, n - 1))]);
        break;
    case 6:  // a 2-point or 1-point polygon
        if (n >= 2) {
            MeshFace shortPoly = poly;
            shortPoly.points.resize(static_cast<size_t>(r.Int(1, 2)));
            polys.push_back(shortPoly);
        }
        break;
    case 7: {  // collinear triangle
        if (n < 2)
            break;
        const int a = poly.points[0];
        const int b = poly.points[1];
        auto pa = mesh.points[static_cast<size_t>(a)];
        auto pb = mesh.points[static_cast<size_t>(b)];
        const int c = AddPoint(mesh, {2 * pb[0] - pa[0], 2 * pb[1] - pa[1], 2 * pb[2] - pa[2]});
        MeshFace tri = poly;
        tri.points = {b, a, c};
        polys.push_back(tri);
        break;
    }
    case 8: {  // a coincident point: one corner takes a copy of its point
        if (n < 1)
            break;
        const size_t k = static_cast<size_t>(r.Int(0, n - 1));
        poly.points[k] = AddPoint(mesh, mesh.points[static_cast<size_t>(poly.points[k])]);
        break;
    }
    case 9:
    case 10: {  // a corner moved to about the weld tolerance from where it was
        if (n < 1)
            break;
        const double tol = WeldTolerance(mesh);
        static const double factors[] = {0.5,      1.0 - 1e-9, 1.0, 1.0 + 1e-9, 1.0 + 1e-6,
                                         0.999999, 1.5,        2.0, 0.25};
        const double f = factors[r.Int(0, 8)];
        const size_t k = static_cast<size_t>(r.Int(0, n - 1));
        auto p = mesh.points[static_cast<size_t>(poly.points[k])];
        const int axis = r.Int(0, 3);
        if (axis < 3) {
            p[static_cast<size_t>(axis)] += tol * f;
        } else {
            p[0] += tol * f * 0.6;
            p[1] -= tol * f * 0.8;
        }
        poly.points[k] = AddPoint(mesh, p);
        break;
    }
    case 11: {  // a chain of points each within the tolerance of the last
        if (n < 1)
            break;
        const double tol = WeldTolerance(mesh);
        const size_t k = static_cast<size_t>(r.Int(0, n - 1));
        auto p = mesh.points[static_cast<size_t>(poly.points[k])];
        const MeshFace original = poly;  // the pushes below move `poly`
        for (int step = 0; step < 3; ++step) {
            p[0] += tol * 0.75;
            MeshFace tri = original;
            const int id = AddPoint(mesh, p);
            tri.points = {original.points[k], id, original.points[(k + 1) % static_cast<size_t>(n)]};
            polys.push_back(tri);
        }
        break;
    }
    case 12: {  // a coordinate that is not a number, or infinite
        const size_t v = static_cast<size_t>(r.Int(0, static_cast<int>(mesh.points.size()) - 1));
        const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity()};
        mesh.points[v][static_cast<size_t>(r.Int(0, 2))] = bad[r.Int(0, r.Chance(0.7) ? 0 : 2)];
        break;
    }
    case 13:  // surface names
        if (r.Chance(0.2)) {
            poly.hasSurface = false;
        } else {
            static const std::vector<std::string> names = {"Default", "Red", "Blue"};
            poly.surface = r.Pick(names);
        }
        break;
    case 14: {  // an n-gon over a polygon and its neighbour's far corner
        if (n < 3)
            break;
        MeshFace big = poly;
        const auto &c = mesh.points[static_cast<size_t>(poly.points[0])];
        big.points.insert(big.points.begin() + 1, AddPoint(mesh, {c[0] - 0.3, c[1] + 0.2, c[2] + 0.1}));
        poly = big;
        break;
    }
    default: {  // two points merged into one (shared points, possibly folded polygons)
        const int a = r.Int(0, static_cast<int>(mesh.points.size()) - 1);
        const int b = r.Int(0, static_cast<int>(mesh.points.size()) - 1);
        for (MeshFace &p : polys)
            for (int &v : p.points)
                if (v == b && r.Chance(0.7))
                    v = a;
        break;
    }
    }
}

void Mutate(Random &r, MeshData &mesh)
{
    std::vector<MeshFace> polys = MeshFacesOf(mesh);
    MutateFaces(r, mesh, polys);
    MeshSetFaces(&mesh, polys);
}

MeshData RandomMesh(Random &r)
{
    MeshData mesh = RandomBase(r);
    const int changes = r.Chance(0.2) ? 0 : r.Int(1, 6);
    for (int k = 0; k < changes; ++k)
        Mutate(r, mesh);
    if (r.Chance(0.3)) {
        std::vector<MeshFace> polys = MeshFacesOf(mesh);
        std::shuffle(polys.begin(), polys.end(), r.rng);
        MeshSetFaces(&mesh, polys);
    }
    return mesh;
}

Case RandomCase(Random &r, int index)
{
    Case c;
    c.name = "random case " + std::to_string(index);
    c.mesh = RandomMesh(r);
    static const std::vector<double> bevels = {0.05, 0.1, 0.25, 0.4, 1.0, 1e-7};
    c.bevel = r.Chance(0.7) ? r.Pick(bevels) : r.Real(0.001, 0.6);
    c.angleMode = r.Int(0, 2);
    static const std::vector<double> limits = {0.0, 45.0, 89.9999999999999, 90.0, 100.0, 135.0, 179.0, 180.0};
    c.limitDeg = r.Chance(0.7) ? r.Pick(limits) : r.Real(0.0, 180.0);
    c.pairMode = r.Chance(0.4);
    if (c.pairMode && MeshPolyCount(c.mesh) != 0) {
        const int p = r.Int(0, static_cast<int>(MeshPolyCount(c.mesh)) - 1);
        const size_t corners = MeshPolyPoints(c.mesh, static_cast<size_t>(p)).size();
        int q = corners ? NeighbourAcross(c.mesh, p, static_cast<size_t>(r.Int(0, 7)) % corners) : -1;
        if (q < 0 || r.Chance(0.05))
            q = r.Int(0, static_cast<int>(MeshPolyCount(c.mesh)) - 1);
        c.mesh = r.Chance(0.5) ? Selected(c.mesh, p, q) : Selected(c.mesh, q, p);
    } else if (r.Chance(0.2)) {
        c.foreground = MakeQuadGrid(1, 1);
    }
    if (r.Chance(0.25)) {
        c.abortMonitor = r.Int(0, 5);
        c.abortStep = static_cast<unsigned>(r.Int(1, static_cast<int>(MeshPolyCount(c.mesh)) * 4 + 2));
    }
    c.monitorCreateFails = r.Chance(0.02);
    if (r.Chance(0.1) && MeshPolyCount(c.mesh) != 0)
        c.hidden.push_back(r.Int(0, static_cast<int>(MeshPolyCount(c.mesh)) - 1));
    return c;
}

int EnvInt(const char *name, int fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// ---- the tests --------------------------------------------------------------

TEST(Differential, ModulesLoadAndDiffer)
{
    ASSERT_MODULES_LOADED();
    // Two distinct libraries, each with its own state.
    EXPECT_NE(g_modules->fast.handle, g_modules->literal.handle);
    EXPECT_NE(reinterpret_cast<void *>(g_modules->fast.activate),
              reinterpret_cast<void *>(g_modules->literal.activate));
}

TEST(Differential, ExampleMeshesInBothModes)
{
    ASSERT_MODULES_LOADED();
    std::string error;
    auto examples = ExampleMeshes(&error);
    ASSERT_FALSE(examples.empty()) << error;
    for (const auto &e : examples) {
        for (const Case &c : ObjectCases(e.first, e.second))
            EXPECT_EQ(Compare(c), "");
        for (const Case &c : PairCases(e.first, e.second, 3))
            EXPECT_EQ(Compare(c), "");
    }
}

TEST(Differential, FixtureMeshesInBothModes)
{
    ASSERT_MODULES_LOADED();
    for (const auto &f : FixtureMeshes()) {
        for (const Case &c : ObjectCases(f.first, f.second))
            EXPECT_EQ(Compare(c), "");
        for (const Case &c : PairCases(f.first, f.second, 3))
            EXPECT_EQ(Compare(c), "");
    }
}

// The generated meshes of the validity sweeps, in the angle modes near the
// safe size: corners whose patch is split into lobes or whose flat hole is
// closed without a patch.
TEST(Differential, ValiditySetNearTheSafeSize)
{
    ASSERT_MODULES_LOADED();
    const struct {
        int mode;
        double limit;
    } settings[] = {{1, 179.0}, {1, 135.0}, {2, 90.0}, {2, 170.0}};
    for (const NamedMesh &m : ValiditySet()) {
        for (const auto &s : settings) {
            for (double fraction : {0.5, 0.9}) {
                Case c;
                c.name = m.name + " mode " + std::to_string(s.mode) + " limit " + std::to_string(s.limit) +
                         " at " + std::to_string(fraction) + " x safe";
                c.mesh = m.mesh;
                c.bevel = fraction * MeshSafeBevelSize(m.mesh);
                c.angleMode = s.mode;
                c.limitDeg = s.limit;
                EXPECT_EQ(Compare(c), "");
            }
        }
    }
}

// One polygon that walks a few points of a square back and forth under a
// pyramid's four triangles: every edge is a seam many times over, so each
// record is joined with hundreds of others and most joins rewrite records
// to what they already hold. Also turns on the spot (1 2 1 2), a point
// repeated in place (1 1 2) and a walk out and back (1 2 3 4 3 2).
TEST(Differential, SlitPolygonsWalkingBackAndForth)
{
    ASSERT_MODULES_LOADED();
    const std::vector<std::vector<int>> walks = {{0, 1, 2, 3, 0, 3, 2, 1},
                                                 {0, 1},
                                                 {0, 1, 2, 3, 2, 1},
                                                 {0, 0, 1, 2, 3, 0, 3, 2, 1, 1}};
    for (size_t w = 0; w < walks.size(); ++w) {
        MeshData mesh;
        mesh.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 1}};
        for (int k = 0; k < 4; ++k)
            MeshPutFace(&mesh, {{k, (k + 1) % 4, 4}, "Default", true, false});
        MeshFace walk;
        walk.surface = "Default";
        while (walk.points.size() < 320)
            walk.points.insert(walk.points.end(), walks[w].begin(), walks[w].end());
        MeshPutFace(&mesh, walk);
        for (int mode = 0; mode < 3; ++mode) {
            Case c;
            c.name = "walk " + std::to_string(w) + " angle mode " + std::to_string(mode);
            c.mesh = mesh;
            c.bevel = 0.01;
            c.angleMode = mode;
            EXPECT_EQ(Compare(c), "");
        }
    }
}

// A ring of pairs around a tube, and a strip across a grid ending at the
// border: the walks' long paths.
TEST(Differential, LongEdgeLoops)
{
    ASSERT_MODULES_LOADED();
    MeshData tube = MakeQuadTube(40, 3);
    Case ring;
    ring.name = "tube ring";
    ring.mesh = Selected(tube, 40, 80);  // rows 1 and 2 share the ring at z = 2
    ring.pairMode = true;
    EXPECT_EQ(Compare(ring), "");

    MeshData grid = MakeQuadGrid(30, 5);
    Case strip;
    strip.name = "grid strip";
    strip.mesh = Selected(grid, 30 * 2 + 7, 30 * 2 + 8);
    strip.pairMode = true;
    EXPECT_EQ(Compare(strip), "");
}

// The weld on its own: with every pair turned down by the angle test
// (" LT " with limit 0), object mode commits the survey's copies, welded.
Case WeldOnly(const std::string &name, const MeshData &mesh)
{
    Case c;
    c.name = name;
    c.mesh = mesh;
    c.angleMode = 1;
    c.limitDeg = 0.0;
    return c;
}

MeshData Triangles(const std::vector<std::array<double, 3>> &points)
{
    MeshData mesh;
    mesh.points = points;
    for (size_t k = 0; k + 2 < points.size(); k += 3)
        MeshPutFace(&mesh, MeshFace{{static_cast<int>(k), static_cast<int>(k + 1), static_cast<int>(k + 2)},
                                    "Default",
                                    true,
                                    false});
    return mesh;
}

TEST(Differential, WeldAtAndAroundTheTolerance)
{
    ASSERT_MODULES_LOADED();
    // A unit box of corners sets the tolerance; triangles with corners at
    // distances of the tolerance times factors just below, at and above one,
    // along axes and diagonals, and chains that merge only pairwise.
    MeshData base = MakeCube();
    const double tol = WeldTolerance(base);
    const double factors[] = {0.0, 0.5, 1.0 - 1e-12, 1.0, 1.0 + 1e-12, 1.0 + 1e-15, 1.0 + 1e-6, 1.5, 2.0};
    for (double f : factors) {
        MeshData mesh = base;
        std::vector<std::array<double, 3>> extra;
        for (int axis = 0; axis < 4; ++axis) {
            std::array<double, 3> p = {0.25, 0.5, 0.75};
            std::array<double, 3> q = p;
            if (axis < 3) {
                q[static_cast<size_t>(axis)] += tol * f;
            } else {
                q[0] += tol * f * 0.6;
                q[2] -= tol * f * 0.8;
            }
            std::array<double, 3> s = q;
            s[1] += tol * f;  // a chain p - q - s
            extra.insert(extra.end(), {p, {0.5, 0.5, 0.5}, q, q, s, {0.3, 0.9, 0.1}, s, p, {0.1, 0.1, 0.9}});
        }
        const int baseN = static_cast<int>(mesh.points.size());
        for (size_t k = 0; k + 2 < extra.size(); k += 3) {
            for (size_t j = 0; j < 3; ++j)
                mesh.points.push_back(extra[k + j]);
            MeshPutFace(&mesh, MeshFace{{baseN + static_cast<int>(k), baseN + static_cast<int>(k + 1),
                                         baseN + static_cast<int>(k + 2)},
                                        "Default",
                                        true,
                                        false});
        }
        EXPECT_EQ(Compare(WeldOnly("weld factor " + std::to_string(f), mesh)), "");
        Case chamfered = WeldOnly("weld factor chamfered " + std::to_string(f), mesh);
        chamfered.angleMode = 0;
        EXPECT_EQ(Compare(chamfered), "");
    }
}

TEST(Differential, WeldOfDegenerateBoxesAndCoordinates)
{
    ASSERT_MODULES_LOADED();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // Every point at one place: the tolerance is 0 and equal points merge.
    EXPECT_EQ(Compare(
                  WeldOnly("zero tolerance",
                           Triangles({{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}}))),
              "");
    // NaN and infinite coordinates, before and after the finite ones (the
    // first point added sets the box).
    EXPECT_EQ(Compare(WeldOnly("nan first",
                               Triangles(
                                   {{nan, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 1, 0}, {nan, 0, 0}}))),
              "");
    EXPECT_EQ(Compare(
                  WeldOnly("nan later",
                           Triangles({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, nan, 0}, {0, 0, 0}}))),
              "");
    EXPECT_EQ(Compare(WeldOnly("infinities", Triangles({{0, 0, 0},
                                                        {1, 0, 0},
                                                        {0, 1, 0},
                                                        {inf, 0, 0},
                                                        {inf, 0, 0},
                                                        {0, -inf, 0},
                                                        {0, 0, 0},
                                                        {1, 0, 0},
                                                        {0, 1, 0}}))),
              "");
    // A box so large that its diagonal overflows: an infinite tolerance,
    // under which every pair whose distance is a number merges.
    EXPECT_EQ(Compare(WeldOnly("infinite tolerance", Triangles({{-1e200, 0, 0},
                                                                {1e200, 1e200, 0},
                                                                {0, 0, 1e200},
                                                                {5, 5, 5},
                                                                {1e200, 1e200, 0},
                                                                {-1e200, 0, 0},
                                                                {0, nan, 0},
                                                                {1e154, 0, 0},
                                                                {2e154, 0, 0}}))),
              "");
    // Points far outside the box that gave the tolerance (a huge bevel
    // moves them) and a box of tiny extent.
    Case far = WeldOnly("far points", MakeQuadGrid(3, 3));
    far.angleMode = 0;
    far.bevel = 1e9;
    EXPECT_EQ(Compare(far), "");
    EXPECT_EQ(Compare(WeldOnly("tiny box", Triangles({{0, 0, 0},
                                                      {1e-300, 0, 0},
                                                      {0, 1e-300, 0},
                                                      {1e-300, 0, 0},
                                                      {0, 0, 0},
                                                      {0, 0, 1e-300},
                                                      {0, 0, 5e-324},
                                                      {0, 0, 0},
                                                      {5e-324, 0, 0}}))),
              "");
}

TEST(Differential, AbortsAtEveryStepOfASmallRun)
{
    ASSERT_MODULES_LOADED();
    // Every monitor of an object-mode run of a cube, aborted at each of its
    // first steps, and a two-polygon run's flush.
    for (int monitor = 0; monitor < 7; ++monitor) {
        for (unsigned step = 1; step <= 30; ++step) {
            Case c;
            c.name = "abort " + std::to_string(monitor) + "/" + std::to_string(step);
            c.mesh = MakeBox(1, 1, 1, 2);
            c.angleMode = static_cast<int>(step % 3);
            c.limitDeg = 100.0;
            c.abortMonitor = monitor;
            c.abortStep = step;
            EXPECT_EQ(Compare(c), "");
        }
    }
    for (unsigned step = 1; step <= 12; ++step) {
        Case c;
        c.name = "pair abort " + std::to_string(step);
        c.mesh = Selected(MakeQuadTube(6, 3), 6, 12);
        c.pairMode = true;
        c.abortMonitor = 0;
        c.abortStep = step;
        EXPECT_EQ(Compare(c), "");
    }
}

TEST(Differential, PolygonsWithoutInformation)
{
    ASSERT_MODULES_LOADED();
    // The host gives no polyInfo for one polygon: the literal searches stop
    // there, and so must the indexed ones.
    MeshData tube = MakeQuadTube(8, 3);
    for (int hidden : {0, 3, 9, 16, 20, 23}) {
        Case c;
        c.name = "hidden " + std::to_string(hidden);
        c.mesh = Selected(tube, 8, 16);
        c.pairMode = true;
        c.hidden = {hidden};
        EXPECT_EQ(Compare(c), "");
        Case o = c;
        o.pairMode = false;
        o.name += " object";
        EXPECT_EQ(Compare(o), "");
    }
}

TEST(Differential, RandomMeshesSettingsSelectionsAndAborts)
{
    ASSERT_MODULES_LOADED();
    const int runs = EnvInt("CORVANE_DIFF_RUNS", 250);
    const uint64_t seed = static_cast<uint64_t>(EnvInt("CORVANE_DIFF_SEED", 20261207));
    Random r(seed);
    int failures = 0;
    for (int k = 0; k < runs && failures < 5; ++k) {
        const Case c = RandomCase(r, k);
        const std::string d = Compare(c);
        if (!d.empty()) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << ": " << d;
        }
    }
}

// ---- single passes ------------------------------------------------------------

// Two output models built alike, one for each form of a pass. The weld needs
// no host; the handles only have to be there.
struct TwinModels {
    HostMeshEditOp edit{};
    HostMonitorService monitors{};
    HostMessageService messages{};
    BufModel *fast = static_cast<BufModel *>(calloc(1, sizeof(BufModel)));
    BufModel *literal = static_cast<BufModel *>(calloc(1, sizeof(BufModel)));
    EditContext fastCtx{};
    EditContext literalCtx{};

    TwinModels()
    {
        InitTestContext(&fastCtx, fast, &edit, &monitors, &messages);
        InitTestContext(&literalCtx, literal, &edit, &monitors, &messages);
    }
    ~TwinModels()
    {
        BufModelRelease(fast);
        BufModelRelease(literal);
        free(fast);
        free(literal);
    }
    TwinModels(const TwinModels &) = delete;
    TwinModels &operator=(const TwinModels &) = delete;

    void AddPoint(const Vec3 &p)
    {
        BufModelAddPoint(fast, &p);
        BufModelAddPoint(literal, &p);
    }
    void AddPoly(const std::vector<int32_t> &points)
    {
        BufModelAddPoly(fast, nullptr, static_cast<int>(points.size()), points.data());
        BufModelAddPoly(literal, nullptr, static_cast<int>(points.size()), points.data());
    }
    // Moves a point in place after the box was gathered, as the passes do.
    void Move(int k, const Vec3 &p)
    {
        fast->pointTable[k]->position = p;
        literal->pointTable[k]->position = p;
    }
    // Welds both; empty when every vertex ends on the same point.
    std::string Weld()
    {
        BufModelWeld(fast);
        RefBufModelWeld(literal);
        for (int p = 0; p < fast->polyCount; ++p) {
            const BufPoly *a = fast->polyTable[p];
            const BufPoly *b = literal->polyTable[p];
            for (int v = 0; v < a->count; ++v)
                if (a->points[v] != b->points[v])
                    return "polygon " + std::to_string(p) + " vertex " + std::to_string(v) + ": " +
                           std::to_string(a->points[v]) + " and " + std::to_string(b->points[v]);
        }
        return "";
    }
};

Vec3 RandomDirection(Random &r)
{
    switch (r.Int(0, 4)) {
    case 0: return Vec3{1, 0, 0};
    case 1: return Vec3{0, -1, 0};
    case 2: return Vec3{0.6, 0, 0.8};
    default: {
        Vec3 d{r.Real(-1, 1), r.Real(-1, 1), r.Real(-1, 1)};
        const double l = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        return l > 0.1 ? Vec3{d.x / l, d.y / l, d.z / l} : Vec3{0, 0, 1};
    }
    }
}

// A cloud inside a box set by its first two points, most points placed at
// chosen multiples of the tolerance from an earlier one (on both sides of
// it, and in chains), with exact duplicates, points moved after the box was
// gathered, and coordinates that are not numbers or infinite.
void RandomCloud(Random &r, TwinModels &twins)
{
    static const double scales[] = {1.0, 1e-3, 1e6, 3.0e-140, 1e150};
    const double scale = scales[r.Int(0, 4)];
    const Vec3 hi{1.0 * scale, 0.75 * scale, 0.5 * scale};
    const Vec3 lo{0.0, 0.0, 0.0};
    const double tol = VecLength(VecSub(lo, hi)) * (1.0 / 65536);
    std::vector<Vec3> points = {lo, hi};
    twins.AddPoint(lo);
    twins.AddPoint(hi);
    const int n = r.Int(2, 900);
    static const double factors[] = {0.0,          0.5,    0.9999999999, 1.0 - 1e-15, 1.0,       1.0 + 1e-15,
                                     1.0000000001, 1.0001, 1.2,          1.5,         1.7320508, 2.0};
    while (static_cast<int>(points.size()) < n) {
        Vec3 p;
        const int kind = r.Int(0, 9);
        const Vec3 &base = points[static_cast<size_t>(r.Int(0, static_cast<int>(points.size()) - 1))];
        if (kind < 3) {
            p = Vec3{r.Real(0.1, 0.9) * hi.x, r.Real(0.1, 0.9) * hi.y, r.Real(0.1, 0.9) * hi.z};
        } else if (kind < 8) {
            const Vec3 from = kind == 7 ? points.back() : base;
            const double f = r.Chance(0.8) ? factors[r.Int(0, 11)] : r.Real(0.8, 1.2);
            const Vec3 d = RandomDirection(r);
            p = Vec3{from.x + d.x * tol * f, from.y + d.y * tol * f, from.z + d.z * tol * f};
            if (!(p.x > lo.x && p.x < hi.x && p.y > lo.y && p.y < hi.y && p.z > lo.z && p.z < hi.z))
                continue;  // keep the box, and with it the tolerance
        } else if (kind == 8) {
            p = base;
        } else {
            p = Vec3{std::numeric_limits<double>::quiet_NaN(), base.y, base.z};
        }
        points.push_back(p);
        twins.AddPoint(p);
    }
    // Every point on some polygon, in a shuffled order, and a few more
    // polygons over any points.
    std::vector<int32_t> order(points.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = static_cast<int32_t>(k);
    std::shuffle(order.begin(), order.end(), r.rng);
    for (size_t k = 0; k + 2 < order.size(); k += 3)
        twins.AddPoly({order[k], order[k + 1], order[k + 2]});
    for (int extra = r.Int(0, 10); extra > 0; --extra) {
        std::vector<int32_t> poly;
        for (int c = r.Int(3, 6); c > 0; --c)
            poly.push_back(r.Int(0, static_cast<int>(points.size()) - 1));
        twins.AddPoly(poly);
    }
    // Moves after the box was gathered: far out, onto others, not numbers.
    for (int moves = r.Chance(0.3) ? r.Int(1, 8) : 0; moves > 0; --moves) {
        const int k = r.Int(0, static_cast<int>(points.size()) - 1);
        const Vec3 &other = points[static_cast<size_t>(r.Int(0, static_cast<int>(points.size()) - 1))];
        const double inf = std::numeric_limits<double>::infinity();
        const Vec3 to[] = {{-5.0 * scale, 7.0 * scale, 0.0},
                           other,
                           {other.x + tol, other.y, other.z},
                           {inf, 0.0, 0.0},
                           {-inf, -inf, 1.0},
                           {1e300, 0.0, 0.0}};
        twins.Move(k, to[r.Int(0, 5)]);
    }
}

TEST(DifferentialPasses, WeldOfRandomPointClouds)
{
    const int runs = EnvInt("CORVANE_DIFF_RUNS", 150);
    const uint64_t seed = static_cast<uint64_t>(EnvInt("CORVANE_DIFF_SEED", 20261207));
    int failures = 0;
    for (int k = 0; k < runs && failures < 5; ++k) {
        Random r(seed * 7919 + static_cast<uint64_t>(k));
        TwinModels twins;
        RandomCloud(r, twins);
        const std::string d = twins.Weld();
        if (!d.empty()) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << " cloud " << k << ": " << d;
        }
    }
}

// Clouds whose box makes the tolerance 0, infinite or NaN.
TEST(DifferentialPasses, WeldOfDegenerateTolerances)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::vector<Vec3>> clouds = {
        // every point at one place, then some moved by the smallest steps
        {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}},
        // a diagonal that overflows: an infinite tolerance
        {{-1e200, 0, 0},
         {1e200, 1e200, 1e200},
         {0, 0, 0},
         {1, 1, 1},
         {1e200, 0, 0},
         {1e154, 1e154, 0},
         {-1e154, 0, 0}},
        // the first point not a number: so is the box, and the tolerance
        {{nan, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 1, 0}},
        // infinite corners of the box
        {{-inf, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 0, 0}, {inf, 0, 0}, {inf, 0, 0}},
        // a box of subnormal size
        {{0, 0, 0}, {5e-324, 0, 0}, {0, 1e-320, 0}, {0, 0, 0}, {5e-324, 5e-324, 0}, {1e-310, 0, 0}},
    };
    for (size_t c = 0; c < clouds.size(); ++c) {
        TwinModels twins;
        for (const Vec3 &p : clouds[c])
            twins.AddPoint(p);
        if (c == 0) {
            twins.Move(3, Vec3{1, 2, std::nextafter(3.0, 4.0)});
            twins.Move(4, Vec3{1, 2, 3.0000000000000001e-300});
        }
        const int n = static_cast<int>(clouds[c].size());
        for (int k = 0; k + 2 < n; ++k)
            twins.AddPoly({k, k + 1, k + 2});
        EXPECT_EQ(twins.Weld(), "") << "cloud " << c;
    }
}

// One pass run on a host of its own, with `mesh` (if any) in the background
// layer, an edit and an output model; the pass's monitor aborts at
// `abortStep` (0: never).
struct PassRun : EditSession {
    PassRun(const MeshData *mesh, unsigned abortStep)
    {
        if (abortStep) {
            host->script.abortMonitor = 0;
            host->script.abortStep = abortStep;
        }
        EXPECT_TRUE(Begin(mesh ? *mesh : MeshData{}, 2));
    }
    // Releases the model, ends the edit and gives what the host recorded.
    std::string Finish()
    {
        BufModelRelease(model);
        free(model);
        model = nullptr;
        edit->done(edit->state, 0, 0);
        edit = nullptr;
        return Record(host.get(), 0);
    }
};

// The LineInfo pass on arbitrary records: several polygons under one index,
// repeated vertices, links already set, and aborts at every step.
TEST(DifferentialPasses, LineInfoPassOnArbitraryRecords)
{
    const int runs = EnvInt("CORVANE_DIFF_RUNS", 400);
    const uint64_t seed = static_cast<uint64_t>(EnvInt("CORVANE_DIFF_SEED", 20261207));
    for (int k = 0; k < runs; ++k) {
        Random r(seed * 104729 + static_cast<uint64_t>(k));
        const int m = r.Int(0, 40);
        std::vector<LineInfo> records(static_cast<size_t>(m));
        if (!records.empty())  // data() may be null for an empty vector
            std::memset(records.data(), 0, records.size() * sizeof(LineInfo));
        for (LineInfo &e : records) {
            e.polyIndex = r.Int(-1, 3);
            e.vertexA = r.Int(0, 5);
            e.vertexB = r.Chance(0.6) ? (e.vertexA + 1) % 6 : r.Int(0, 5);
            e.prevVertex = r.Chance(0.8) ? -1 : r.Int(0, 5);
            e.nextVertex = r.Chance(0.8) ? -1 : r.Int(0, 5);
            e.hostA = reinterpret_cast<LWPntID>(static_cast<uintptr_t>(r.Int(1, 9)));
            e.hostB = reinterpret_cast<LWPntID>(static_cast<uintptr_t>(r.Int(1, 9)));
        }
        const unsigned abortStep = r.Chance(0.3) ? static_cast<unsigned>(r.Int(1, m + 1)) : 0;
        std::string logs[2];
        std::vector<LineInfo> results[2];
        for (int form = 0; form < 2; ++form) {
            PassRun run(nullptr, abortStep);
            results[form] = records;
            if (form == 0)
                LineInfoPass(&run.ctx, m, results[form].data());
            else
                RefLineInfoPass(&run.ctx, m, results[form].data());
            logs[form] = run.Finish();
        }
        ASSERT_EQ(logs[0], logs[1]) << "records " << k;
        for (int e = 0; e < m; ++e)
            ASSERT_EQ(std::memcmp(&results[0][static_cast<size_t>(e)], &results[1][static_cast<size_t>(e)],
                                  sizeof(LineInfo)),
                      0)
                << "records " << k << ", record " << e;
    }
}

// The strips on records no survey makes: host points and polygons of a
// small mesh, buffered ends that each record has to itself or shares with
// others (or that coincide), seams, unlinked records, aborts. The buffered points, the polygons, the records
// and the host's log must come out bit for bit the same.
TEST(DifferentialPasses, StripsOnArbitraryRecords)
{
    const int runs = EnvInt("CORVANE_DIFF_RUNS", 400);
    const uint64_t seed = static_cast<uint64_t>(EnvInt("CORVANE_DIFF_SEED", 20261207));
    const MeshData mesh = MakeCube(-1.0, 2.0);
    auto pointId = [](int k) { return reinterpret_cast<LWPntID>(static_cast<uintptr_t>(k + 1)); };
    for (int k = 0; k < runs; ++k) {
        Random r(seed * 7919 + static_cast<uint64_t>(k));
        // Every fourth run: one or two long polygons on a few host points, whose
        // seams are joined by classes of records rather than record by record.
        const bool few = k % 4 == 3;
        const int m = few ? r.Int(32, 120) : r.Int(0, 40);
        const int points = r.Int(3, 2 * m + 3);
        const bool ownEnds = r.Chance(0.6);
        std::vector<int> order(static_cast<size_t>(points));
        for (int q = 0; q < points; ++q)
            order[static_cast<size_t>(q)] = q;
        std::shuffle(order.begin(), order.end(), r.rng);
        std::vector<Vec3> positions;
        for (int q = 0; q < points; ++q)
            positions.push_back(Vec3{r.Real(-2, 2), r.Real(-2, 2), r.Chance(0.2) ? 0.0 : r.Real(-2, 2)});
        std::vector<LineInfo> records(static_cast<size_t>(m));
        if (!records.empty())
            std::memset(records.data(), 0, records.size() * sizeof(LineInfo));
        const int hostPoints = few ? r.Int(1, 4) : r.Int(2, 8);
        const int linkPoints = few ? hostPoints : 8;
        for (int e = 0; e < m; ++e) {
            LineInfo &rec = records[static_cast<size_t>(e)];
            rec.hostA = pointId(r.Int(0, hostPoints - 1));
            rec.hostB = pointId(r.Int(0, hostPoints - 1));
            rec.hostPrev = pointId(r.Int(0, linkPoints - 1));
            rec.hostNext = pointId(r.Int(0, linkPoints - 1));
            rec.hostPoly = nullptr;  // filled from the host below
            rec.surface = r.Chance(0.8) ? "S" : nullptr;
            if (ownEnds) {
                // Ends of its own: a from the shuffled order, b the next a.
                rec.pointA = order[static_cast<size_t>(e % points)];
                rec.pointB = order[static_cast<size_t>((e + 1) % points)];
            } else {
                rec.pointA = r.Int(0, points - 1);
                rec.pointB = r.Chance(0.1) ? rec.pointA : r.Int(0, points - 1);
            }
            rec.prevVertex = r.Chance(0.9) ? r.Int(0, 3) : -1;
            rec.nextVertex = r.Chance(0.9) ? r.Int(0, 3) : -1;
            rec.polyIndex = r.Int(-1, 1);
            rec.vertexA = r.Int(0, 3);
            rec.vertexB = r.Int(0, 3);
        }
        std::vector<int> polyOf;
        for (int e = 0; e < m; ++e)
            polyOf.push_back(r.Int(0, few ? 1 : 5));
        const double size = r.Chance(0.5) ? 0.1 : r.Real(0.0, 0.5);
        const unsigned abortStep = r.Chance(0.3) ? static_cast<unsigned>(r.Int(1, 2 * m + 1)) : 0;

        std::string logs[2];
        std::vector<LineInfo> results[2];
        std::vector<std::string> models[2];
        for (int form = 0; form < 2; ++form) {
            PassRun run(&mesh, abortStep);
            BufModel *model = run.model;
            for (const Vec3 &p : positions)
                BufModelAddPoint(model, &p);
            const int32_t tri[2][3] = {{0, 1, 2}, {2, 1, 0}};
            BufModelAddPoly(model, "S", 3, tri[0]);
            BufModelAddPoly(model, nullptr, 3, tri[1]);
            results[form] = records;
            for (int e = 0; e < m; ++e)
                results[form][static_cast<size_t>(e)].hostPoly =
                    run.ids[static_cast<size_t>(polyOf[static_cast<size_t>(e)])];
            if (form == 0)
                MakeLineCorvanePoly(&run.ctx, nullptr, m, results[form].data(), size);
            else
                RefMakeLineCorvanePoly(&run.ctx, nullptr, m, results[form].data(), size);
            for (int q = 0; q < model->pointCount; ++q) {
                const BufPoint *p = model->pointTable[q];
                char line[128];
                std::snprintf(line, sizeof line, "point %d %a %a %a %s", q, p->position.x, p->position.y,
                              p->position.z, p->hostId ? "host" : "new");
                models[form].push_back(line);
            }
            for (int q = 0; q < model->polyCount; ++q) {
                const BufPoly *p = model->polyTable[q];
                std::string line = "poly " + std::to_string(q) + (p->surface ? p->surface : "-");
                for (int v = 0; v < p->count; ++v)
                    line += " " + std::to_string(p->points[v]);
                models[form].push_back(line);
            }
            logs[form] = run.Finish();
        }
        ASSERT_EQ(models[0].size(), models[1].size()) << "records " << k;
        for (size_t line = 0; line < models[0].size(); ++line)
            ASSERT_EQ(models[0][line], models[1][line]) << "records " << k;
        ASSERT_EQ(logs[0], logs[1]) << "records " << k;
        for (int e = 0; e < m; ++e)
            ASSERT_EQ(std::memcmp(&results[0][static_cast<size_t>(e)], &results[1][static_cast<size_t>(e)],
                                  sizeof(LineInfo)),
                      0)
                << "records " << k << ", record " << e;
    }
}

// ---- resources ----------------------------------------------------------------

// Resident set size in bytes, from /proc.
long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// Under valgrind the resident set is valgrind's own, like the sanitizers'.
bool UnderValgrind()
{
    const char *preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

// Activations release everything they allocate: 200 of them in one process
// leave the resident set where the first few left it. (The sanitizer build
// runs the same activations under LeakSanitizer, which fails the run on any
// block left unreleased; so does valgrind --leak-check=full. Their own
// bookkeeping makes the resident set meaningless there.)
TEST(Resources, TwoHundredActivationsLeaveTheResidentSetFlat)
{
    ASSERT_MODULES_LOADED();
    Case object;
    object.mesh = MakeQuadSphere(10);
    object.bevel = 0.02;
    Case limited = object;
    limited.angleMode = 2;
    limited.limitDeg = 100.0;
    Case pair;
    pair.mesh = Selected(MakeQuadTube(60, 3), 60, 120);
    pair.pairMode = true;
    const Case *cases[] = {&object, &limited, &pair};
    long settled = 0;
    for (int k = 0; k < 200; ++k) {
        RunCase(g_modules->fast, *cases[k % 3]);
        if (k == 19)
            settled = ResidentBytes();
    }
    const long grown = ResidentBytes() - settled;
    std::printf("resident set after 20 activations %.2f MB, after 200 %.2f MB\n", settled / 1048576.0,
                (settled + grown) / 1048576.0);
    if (!kSanitized && !UnderValgrind()) {
        EXPECT_LT(grown, 4L << 20) << "resident set grew by " << grown << " bytes over 180 runs";
    }
}

}  // namespace
