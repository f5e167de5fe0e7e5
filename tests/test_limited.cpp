// The angle-limited object mode on closed meshes: whatever the limit leaves
// chamfered, a closed, consistently wound mesh comes out closed and wound
// the same way. The meshes are made so that the limit splits their edges:
// polyhedra with two or three dihedral angles, a split box, prisms, a
// geodesic sphere, a torus and a UV sphere (smoothly varying angles) and
// meshes of triangles and quads.
#include <gtest/gtest.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/meshgen.h"
#include "options/options.h"
#include "plugin/activate.h"

namespace {

using Point = std::array<double, 3>;

const double kPi = 3.14159265358979323846;

Point Sub(const Point &a, const Point &b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

Point Cross(const Point &a, const Point &b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double Dot(const Point &a, const Point &b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The convex hull of points that lie on it (no point inside): each
// supporting plane through three of them is a face, wound counter-clockwise
// seen from outside.
MeshData Hull(const std::vector<Point> &points)
{
    MeshData mesh;
    mesh.points = points;
    const size_t n = points.size();
    std::map<std::vector<int>, bool> seen;
    for (size_t a = 0; a < n; ++a) {
        for (size_t b = a + 1; b < n; ++b) {
            for (size_t c = b + 1; c < n; ++c) {
                Point normal = Cross(Sub(points[b], points[a]), Sub(points[c], points[a]));
                double len = sqrt(Dot(normal, normal));
                if (len < 1e-9)
                    continue;
                int above = 0, below = 0;
                std::vector<int> on;
                for (size_t k = 0; k < n && !(above && below); ++k) {
                    double d = Dot(normal, Sub(points[k], points[a])) / len;
                    if (d > 1e-9)
                        ++above;
                    else if (d < -1e-9)
                        ++below;
                    else
                        on.push_back((int)k);
                }
                if (above && below)
                    continue;
                if (above)
                    normal = {-normal[0], -normal[1], -normal[2]};
                if (seen.count(on))
                    continue;
                seen[on] = true;
                Point centre = {0, 0, 0};
                for (int k : on) {
                    for (int i = 0; i < 3; ++i)
                        centre[i] += points[k][i] / on.size();
                }
                Point u = Sub(points[on[0]], centre);
                Point v = Cross(normal, u);
                std::vector<int> ring = on;
                std::sort(ring.begin(), ring.end(), [&](int p, int q) {
                    Point dp = Sub(points[p], centre), dq = Sub(points[q], centre);
                    return atan2(Dot(dp, v), Dot(dp, u)) < atan2(Dot(dq, v), Dot(dq, u));
                });
                mesh.polys.push_back(MeshFace(ring));
            }
        }
    }
    return mesh;
}

// Every even permutation of (x, y, z) with every choice of signs.
void EvenPermutations(double x, double y, double z, std::vector<Point> *out)
{
    const double c[3] = {x, y, z};
    const int perms[3][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}};
    for (const auto &p : perms) {
        for (int s = 0; s < 8; ++s) {
            Point q = {c[p[0]] * ((s & 1) ? -1 : 1), c[p[1]] * ((s & 2) ? -1 : 1),
                       c[p[2]] * ((s & 4) ? -1 : 1)};
            if (std::find(out->begin(), out->end(), q) == out->end())
                out->push_back(q);
        }
    }
}

void AllPermutations(double x, double y, double z, std::vector<Point> *out)
{
    EvenPermutations(x, y, z, out);
    EvenPermutations(y, x, z, out);
}

// Squares and hexagons (angles 125.3 and 109.5).
MeshData TruncatedOctahedron()
{
    std::vector<Point> p;
    AllPermutations(0, 1, 2, &p);
    return Hull(p);
}

// Triangles and squares (angles 144.7 and 135).
MeshData Rhombicuboctahedron()
{
    std::vector<Point> p;
    AllPermutations(1, 1, 1 + sqrt(2.0), &p);
    return Hull(p);
}

// Squares, hexagons and decagons (angles 159.1, 148.3 and 142.6).
MeshData GreatRhombicosidodecahedron()
{
    const double f = (1 + sqrt(5.0)) / 2;
    std::vector<Point> p;
    EvenPermutations(1 / f, 1 / f, 3 + f, &p);
    EvenPermutations(2 / f, f, 1 + 2 * f, &p);
    EvenPermutations(1 / f, f * f, -1 + 3 * f, &p);
    EvenPermutations(2 * f - 1, 2, 2 + f, &p);
    EvenPermutations(f, 3, 2 * f, &p);
    return Hull(p);
}

// An icosahedron with each triangle split in four, pushed onto the sphere.
MeshData Geodesic()
{
    const double f = (1 + sqrt(5.0)) / 2;
    std::vector<Point> ico;
    EvenPermutations(0, 1, f, &ico);
    MeshData base = Hull(ico);
    MeshData mesh;
    mesh.points = base.points;
    std::map<std::pair<int, int>, int> middle;
    auto mid = [&](int a, int b) {
        auto key = std::make_pair(std::min(a, b), std::max(a, b));
        auto it = middle.find(key);
        if (it != middle.end())
            return it->second;
        Point m = {0, 0, 0};
        for (int i = 0; i < 3; ++i)
            m[i] = (mesh.points[a][i] + mesh.points[b][i]) / 2;
        mesh.points.push_back(m);
        return middle[key] = (int)mesh.points.size() - 1;
    };
    for (const MeshPoly &t : base.polys) {
        int a = t.points[0], b = t.points[1], c = t.points[2];
        int ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
        mesh.polys.push_back(MeshFace({a, ab, ca}));
        mesh.polys.push_back(MeshFace({ab, b, bc}));
        mesh.polys.push_back(MeshFace({ca, bc, c}));
        mesh.polys.push_back(MeshFace({ab, bc, ca}));
    }
    for (Point &q : mesh.points) {
        double len = sqrt(Dot(q, q));
        for (double &c : q)
            c = c / len * 2.0;
    }
    return mesh;
}

// Latitude-longitude sphere of radius 2: triangle fans at the poles, quads
// between.
MeshData UVSphere(int around, int rows)
{
    MeshData mesh;
    mesh.points.push_back({0, 0, -2});
    for (int r = 1; r < rows; ++r) {
        double phi = kPi * r / rows - kPi / 2;
        for (int k = 0; k < around; ++k) {
            double theta = 2 * kPi * k / around;
            mesh.points.push_back({2 * cos(phi) * cos(theta), 2 * cos(phi) * sin(theta), 2 * sin(phi)});
        }
    }
    mesh.points.push_back({0, 0, 2});
    const int top = (int)mesh.points.size() - 1;
    auto at = [&](int r, int k) { return 1 + (r - 1) * around + (k % around); };
    for (int k = 0; k < around; ++k)
        mesh.polys.push_back(MeshFace({0, at(1, k + 1), at(1, k)}));
    for (int r = 1; r + 1 < rows; ++r) {
        for (int k = 0; k < around; ++k)
            mesh.polys.push_back(MeshFace({at(r, k), at(r, k + 1), at(r + 1, k + 1), at(r + 1, k)}));
    }
    for (int k = 0; k < around; ++k)
        mesh.polys.push_back(MeshFace({top, at(rows - 1, k), at(rows - 1, k + 1)}));
    return mesh;
}

// Every `every`-th quad split into two triangles along its first diagonal.
MeshData Triangulated(MeshData mesh, int every)
{
    std::vector<MeshPoly> polys;
    for (size_t k = 0; k < mesh.polys.size(); ++k) {
        const MeshPoly &p = mesh.polys[k];
        if (p.points.size() == 4 && k % every == 0) {
            polys.push_back(MeshFace({p.points[0], p.points[1], p.points[2]}));
            polys.push_back(MeshFace({p.points[0], p.points[2], p.points[3]}));
        } else {
            polys.push_back(p);
        }
    }
    mesh.polys = polys;
    return mesh;
}

// A cube whose faces are fanned from one corner each.
MeshData FannedCube(double lo, double hi)
{
    return Triangulated(MakeCube(lo, hi), 1);
}

MeshData FannedCube1(double lo)
{
    return FannedCube(lo, lo + 1);
}

// Each point pushed in or out along its direction from the centre by up to
// `amount` of its distance, by a fixed sequence: angles of every kind.
MeshData Jittered(MeshData mesh, double amount)
{
    uint32_t state = 12345;
    for (Point &q : mesh.points) {
        state = state * 1664525u + 1013904223u;
        double f = 1.0 + amount * ((state >> 8) / 8388608.0 - 1.0);
        for (double &c : q)
            c *= f;
    }
    return mesh;
}

double Diagonal(const MeshData &mesh)
{
    Point lo = mesh.points[0], hi = mesh.points[0];
    for (const Point &q : mesh.points) {
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], q[i]);
            hi[i] = std::max(hi[i], q[i]);
        }
    }
    Point d = Sub(hi, lo);
    return sqrt(Dot(d, d));
}

// What keeps a mesh from being closed and consistently wound: directed edges
// without a reverse (border), edges run more than once either way
// (non-manifold or wound against a neighbour), polygons that repeat a point.
struct Faults {
    int border = 0;
    int crowded = 0;
    int repeats = 0;
    bool Closed() const { return border == 0 && crowded == 0 && repeats == 0; }
};

Faults FaultsOf(const MeshData &mesh)
{
    Faults f;
    std::map<std::pair<int, int>, int> runs;
    for (const MeshPoly &p : mesh.polys) {
        const size_t n = p.points.size();
        std::vector<int> sorted = p.points;
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            ++f.repeats;
        for (size_t k = 0; k < n; ++k)
            runs[{p.points[k], p.points[(k + 1) % n]}]++;
    }
    for (const auto &r : runs) {
        auto back = runs.find({r.first.second, r.first.first});
        if (back == runs.end())
            ++f.border;
        else if (r.second != 1 || back->second != 1)
            ++f.crowded;
    }
    return f;
}

double SignedVolume(const MeshData &mesh)
{
    double sum = 0.0;
    for (const MeshPoly &poly : mesh.polys) {
        const Point &o = mesh.points[poly.points[0]];
        for (size_t v = 1; v + 1 < poly.points.size(); ++v)
            sum += Dot(o, Cross(mesh.points[poly.points[v]], mesh.points[poly.points[v + 1]]));
    }
    return sum / 6.0;
}

struct Generated {
    const char *name;
    MeshData mesh;
};

std::vector<Generated> GeneratedSet()
{
    return {
        {"SplitBox", MakeBox(2, 1, 1.5, 2)},
        {"SplitCube3", MakeBox(1, 1, 1, 3)},
        {"Prism3", MakeCylinder(3, 1)},
        {"Prism5x2", MakeCylinder(5, 2)},
        {"Prism8", MakeCylinder(8, 1)},
        {"TruncatedOctahedron", TruncatedOctahedron()},
        {"Rhombicuboctahedron", Rhombicuboctahedron()},
        {"GreatRhombicosidodecahedron", GreatRhombicosidodecahedron()},
        {"Geodesic", Geodesic()},
        {"Torus", MakeTorus(12, 8)},
        {"UVSphere", UVSphere(12, 8)},
        {"FannedCube", FannedCube(1, 2)},
        {"MixedQuadSphere", Triangulated(MakeQuadSphere(3), 3)},
        {"MixedTorus", Triangulated(MakeTorus(10, 6), 2)},
        {"JitteredSphere", Jittered(Triangulated(MakeQuadSphere(4), 2), 0.1)},
        {"JitteredGeodesic", Jittered(Geodesic(), 0.15)},
    };
}

// A limit typed in radians that the panel turns into exactly `degrees`.
double RadiansFor(double degrees)
{
    double r = degrees / 57.29577951308239;
    for (int i = 0; i < 64 && r * 57.29577951308239 != degrees; ++i)
        r = nextafter(r, r * 57.29577951308239 < degrees ? INFINITY : -INFINITY);
    return r;
}

std::string MakeTempDir()
{
    char tmpl[] = "/tmp/corvane-limited-XXXXXX";
    const char *dir = mkdtemp(tmpl);
    return dir ? dir : "/tmp";
}

struct LimitedRun : ::testing::Test {
    std::string dir = MakeTempDir();

    void TearDown() override
    {
        unlink((dir + "/Corvane.cfg").c_str());
        rmdir(dir.c_str());
    }
    MeshData Run(const MeshData &mesh, int mode, double degrees, double size)
    {
        std::unique_ptr<EmuHost> host = EmuHostCreate();
        host->script.pluginsDir = dir;
        host->script.bevelSize = size;
        host->script.angleMode = mode;
        host->script.limitAngleRad = RadiansFor(degrees);
        EmuHostAddMesh(host.get(), 2, mesh);
        EXPECT_EQ(EmuHostRun(host.get(), Activate), HOST_ACTIVATE_OK);
        return EmuHostLayerMesh(host.get(), 1);
    }
};

TEST_F(LimitedRun, ClosedMeshesStayClosedAtEveryLimit)
{
    const double limits[] = {100, 120, 135, 150, 160, 170};
    const double sizes[] = {0.002, 0.02, 0.06};
    int runs = 0, open = 0;
    for (const Generated &g : GeneratedSet()) {
        Faults in = FaultsOf(g.mesh);
        ASSERT_TRUE(in.Closed()) << g.name;
        ASSERT_GT(SignedVolume(g.mesh), 0.0) << g.name;
        for (int mode : {ANGLE_MODE_LT, ANGLE_MODE_GT}) {
            for (double limit : limits) {
                for (double size : sizes) {
                    MeshData out = Run(g.mesh, mode, limit, size * Diagonal(g.mesh));
                    Faults f = FaultsOf(out);
                    ++runs;
                    if (!f.Closed())
                        ++open;
                    EXPECT_TRUE(f.Closed())
                        << g.name << (mode == ANGLE_MODE_LT ? " LT " : " GT ") << limit
                        << " size " << size << ": border " << f.border << ", crowded "
                        << f.crowded << ", repeats " << f.repeats;
                    if (f.Closed()) {
                        EXPECT_GT(SignedVolume(out), 0.0) << g.name << " " << limit;
                    }
                }
            }
        }
    }
    printf("limited runs: %d, open: %d\n", runs, open);
}

}  // namespace

// The great rhombicosidodecahedron, size 0.05: each point joins a square, a
// hexagon and a decagon (square-hexagon 159.1, square-decagon 148.3,
// hexagon-decagon 142.6 degrees).
size_t CountSides(const MeshData &mesh, size_t faces, size_t sides, size_t want)
{
    size_t n = 0;
    for (size_t f = 0; f < faces; ++f)
        n += mesh.polys[f].points.size() == sides;
    EXPECT_EQ(n, want) << sides << "-gons";
    return n;
}

TEST_F(LimitedRun, OneChamferedEdgeAtAPointCutsTheThirdPolygonsCorner)
{
    // " GT " 150: only the square-hexagon edges. At each point the strip's
    // end runs between the square's and the hexagon's copies, slid along
    // the decagon's two edges: the decagon gives its corner up to them.
    const MeshData in = GreatRhombicosidodecahedron();
    ASSERT_EQ(in.polys.size(), 62u);
    MeshData out = Run(in, ANGLE_MODE_GT, 150.0, 0.05);
    Faults f = FaultsOf(out);
    EXPECT_TRUE(f.Closed()) << f.border << " " << f.crowded << " " << f.repeats;
    EXPECT_EQ(out.polys.size(), 62u + 60) << "faces and strips, no patch";
    CountSides(out, 62, 4, 30);
    CountSides(out, 62, 6, 20);
    CountSides(out, 62, 20, 12);
    // Each point of the input is now two: the square's and the hexagon's
    // copies.
    EXPECT_EQ(out.points.size(), 2 * in.points.size());
}

TEST_F(LimitedRun, CopiesSlidApartAlongAnUnchamferedEdgeAreBothOnIt)
{
    // " LT " 150: all but the square-hexagon edges. The square and the
    // hexagon slide their copies along the edge they share, by the size
    // over the sine of their own corner (90 and 120 degrees), so the
    // hexagon's copy lies farther out: the square's edge takes it in.
    const MeshData in = GreatRhombicosidodecahedron();
    MeshData out = Run(in, ANGLE_MODE_LT, 150.0, 0.05);
    Faults f = FaultsOf(out);
    EXPECT_TRUE(f.Closed()) << f.border << " " << f.crowded << " " << f.repeats;
    EXPECT_EQ(out.polys.size(), 62u + 120 + 120) << "faces, strips, one patch a point";
    CountSides(out, 62, 8, 30);
    CountSides(out, 62, 6, 20);
    CountSides(out, 62, 10, 12);
    for (size_t k = 62 + 120; k < out.polys.size(); ++k)
        EXPECT_EQ(out.polys[k].points.size(), 3u) << "patch " << k;
    EXPECT_EQ(out.points.size(), 3 * in.points.size());
    // A square's inserted point lies on the line of the square's own edge,
    // between its copy and the far end of the edge: the square stays flat.
    for (size_t s = 0; s < 62; ++s) {
        const std::vector<int> &v = out.polys[s].points;
        if (v.size() != 8)
            continue;
        // Newell's normal: three of the points may be on one line.
        Point n = {0, 0, 0};
        for (size_t i = 0; i < v.size(); ++i) {
            const Point &a = out.points[v[i]], &b = out.points[v[(i + 1) % v.size()]];
            n[0] += (a[1] - b[1]) * (a[2] + b[2]);
            n[1] += (a[2] - b[2]) * (a[0] + b[0]);
            n[2] += (a[0] - b[0]) * (a[1] + b[1]);
        }
        for (int p : v)
            EXPECT_NEAR(Dot(n, Sub(out.points[p], out.points[v[0]])) / sqrt(Dot(n, n)), 0.0,
                        4.0 / 1048576.0)
                << "the snapping difference rounds to 2^-20 of coordinates about 4";
    }
}

// A cube [lo, lo + 1]^3 whose -z face is a fan of three triangles from its
// corner P = (lo, lo, lo) (point 8 splits the edge from (lo + 1, lo, lo) to
// (lo + 1, lo + 1, lo)), and a triangle hanging from P by that point alone:
// the polygons about P do not close into one fan, so the walk goes round
// and the patch's plane cuts the middle triangle's corner.
MeshData HangingFanCube(double lo)
{
    MeshData mesh = MakeCube(lo, lo + 1);
    mesh.points.push_back({lo + 1, lo + 0.5, lo});
    for (MeshPoly &p : mesh.polys) {
        size_t n = p.points.size();
        for (size_t v = 0; v < n; ++v) {
            int a = p.points[v], b = p.points[(v + 1) % n];
            if ((a == 1 && b == 3) || (a == 3 && b == 1)) {
                p.points.insert(p.points.begin() + (long)v + 1, 8);
                break;
            }
        }
    }
    mesh.polys[0].points = {0, 2, 3};
    mesh.polys.push_back(MeshFace({0, 3, 8}));
    mesh.polys.push_back(MeshFace({0, 8, 1}));
    mesh.points.push_back({lo - 1, lo - 1, lo - 1});
    mesh.points.push_back({lo - 1, lo - 0.5, lo - 1});
    mesh.polys.push_back(MeshFace({0, 9, 10}));
    return mesh;
}

TEST_F(LimitedRun, CornerTestsDecideTheSameWhereverTheMeshSits)
{
    // The same mesh with P at the origin, at (1, 1, 1) and at 100,000: the
    // same polygons of the same points, each point moved with the mesh.
    for (MeshData (*make)(double) : {HangingFanCube, FannedCube1}) {
        std::vector<MeshData> outs;
        const double places[] = {0.0, 1.0, 100000.0};
        for (double lo : places)
            outs.push_back(Run(make(lo), ANGLE_MODE_LT, 135.0, 0.1));
        const MeshData &at = outs[0];
        EXPECT_GT(at.polys.size(), make(0.0).polys.size()) << "the fold is chamfered";
        for (size_t k = 1; k < outs.size(); ++k) {
            const MeshData &moved = outs[k];
            ASSERT_EQ(moved.points.size(), at.points.size()) << places[k];
            ASSERT_EQ(moved.polys.size(), at.polys.size()) << places[k];
            for (size_t f = 0; f < at.polys.size(); ++f)
                EXPECT_EQ(moved.polys[f].points, at.polys[f].points) << places[k] << " polygon " << f;
            for (size_t p = 0; p < at.points.size(); ++p) {
                for (int i = 0; i < 3; ++i)
                    EXPECT_NEAR(moved.points[p][i] - places[k], at.points[p][i], 1e-9)
                        << places[k] << " point " << p;
            }
        }
    }
}
