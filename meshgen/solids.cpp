// Generated closed solids and curved surfaces for the tests of the chamfer's
// closed-in, closed-out promise: polyhedra whose edges meet at two or three
// dihedral angles, spheres and tori whose angles vary smoothly, surfaces of
// revolution with triangle-fan poles, and meshes of triangles and quads.
#include "meshgen/meshgen.h"

#include <math.h>
#include <stdint.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

namespace {

using Point = std::array<double, 3>;

const double kPi = 3.14159265358979323846;
const double kTau = 6.28318530717958647692;

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

}  // namespace

// The convex hull of points that lie on it (no point inside): each
// supporting plane through three of them is a face, wound counter-clockwise
// seen from outside.
MeshData MakeConvexHull(const std::vector<std::array<double, 3>> &points)
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
                MeshAddFace(&mesh, ring);
            }
        }
    }
    return mesh;
}

// Squares and hexagons (angles 125.3 and 109.5).
MeshData MakeTruncatedOctahedron()
{
    std::vector<Point> p;
    AllPermutations(0, 1, 2, &p);
    return MakeConvexHull(p);
}

// Triangles and squares (angles 144.7 and 135).
MeshData MakeRhombicuboctahedron()
{
    std::vector<Point> p;
    AllPermutations(1, 1, 1 + sqrt(2.0), &p);
    return MakeConvexHull(p);
}

// Squares, hexagons and decagons (angles 159.1, 148.3 and 142.6).
MeshData MakeGreatRhombicosidodecahedron()
{
    const double f = (1 + sqrt(5.0)) / 2;
    std::vector<Point> p;
    EvenPermutations(1 / f, 1 / f, 3 + f, &p);
    EvenPermutations(2 / f, f, 1 + 2 * f, &p);
    EvenPermutations(1 / f, f * f, -1 + 3 * f, &p);
    EvenPermutations(2 * f - 1, 2, 2 + f, &p);
    EvenPermutations(f, 3, 2 * f, &p);
    return MakeConvexHull(p);
}

// An icosahedron with each triangle split in four, pushed onto the sphere.
MeshData MakeGeodesicSphere()
{
    const double f = (1 + sqrt(5.0)) / 2;
    std::vector<Point> ico;
    EvenPermutations(0, 1, f, &ico);
    MeshData base = MakeConvexHull(ico);
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
    for (size_t ti = 0; ti < MeshPolyCount(base); ti++) {
        const MeshPointSpan t = MeshPolyPoints(base, ti);
        int a = t[0], b = t[1], c = t[2];
        int ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
        MeshAddFace(&mesh, {a, ab, ca});
        MeshAddFace(&mesh, {ab, b, bc});
        MeshAddFace(&mesh, {ca, bc, c});
        MeshAddFace(&mesh, {ab, bc, ca});
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
MeshData MakeRoundUvSphere(int around, int rows)
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
        MeshAddFace(&mesh, {0, at(1, k + 1), at(1, k)});
    for (int r = 1; r + 1 < rows; ++r) {
        for (int k = 0; k < around; ++k)
            MeshAddFace(&mesh, {at(r, k), at(r, k + 1), at(r + 1, k + 1), at(r + 1, k)});
    }
    for (int k = 0; k < around; ++k)
        MeshAddFace(&mesh, {top, at(rows - 1, k), at(rows - 1, k + 1)});
    return mesh;
}

// Every `every`-th quad split into two triangles along its first diagonal.
MeshData MakeTriangulated(MeshData mesh, int every)
{
    MeshData out;
    out.points = std::move(mesh.points);
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k) {
        const MeshPointSpan p = MeshPolyPoints(mesh, k);
        if (p.size() == 4 && k % every == 0) {
            MeshAddFace(&out, {p[0], p[1], p[2]});
            MeshAddFace(&out, {p[0], p[2], p[3]});
        } else {
            MeshAddPolyFrom(&out, mesh, k);
        }
    }
    return out;
}

// Each point pushed in or out along its direction from the centre by up to
// `amount` of its distance, by a fixed sequence: angles of every kind.
MeshData MakeJittered(MeshData mesh, double amount)
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

// A closed surface of revolution about z: `rows` + 1 rings of `around` points
// at radius r(t) and height z(t) for t = 0 .. 1, a triangle-fan pole above the
// top ring and an n-gon under the bottom one. The profile is a stalk that
// widens into a cap, so no quad is planar once `twist` turns each ring.
MeshData MakeMushroom(int around, int rows, double twist)
{
    MeshData m;
    for (int r = 0; r <= rows; ++r) {
        const double t = static_cast<double>(r) / rows;
        const double radius = 0.4 + 1.2 * std::sin(0.5 * kTau * t * 0.9) * t;
        const double z = 2.0 * t + 0.3 * t * t;
        for (int k = 0; k < around; ++k) {
            const double a = kTau * k / around + twist * r;
            m.points.push_back({radius * std::cos(a), radius * std::sin(a), z});
        }
    }
    const int pole = static_cast<int>(m.points.size());
    m.points.push_back({0.0, 0.0, 2.6});
    for (int r = 0; r < rows; ++r)
        for (int k = 0; k < around; ++k) {
            const int a = r * around + k, b = r * around + (k + 1) % around;
            MeshAddFace(&m, {a, b, b + around, a + around});
        }
    const int top = rows * around;
    for (int k = 0; k < around; ++k)
        MeshAddFace(&m, {top + k, top + (k + 1) % around, pole});
    std::vector<int> bottom;
    for (int k = around - 1; k >= 0; --k)
        bottom.push_back(k);
    MeshAddFace(&m, bottom);
    return m;
}

// A UV sphere squashed into an ellipsoid: triangle fans at both poles.
MeshData MakeSquashedUvSphere(int around, int rows)
{
    MeshData m;
    m.points.push_back({0.0, 0.0, -1.5});
    for (int r = 1; r < rows; ++r) {
        const double phi = 0.5 * kTau * r / rows;
        for (int k = 0; k < around; ++k) {
            const double a = kTau * k / around;
            m.points.push_back(
                {std::sin(phi) * std::cos(a), 0.7 * std::sin(phi) * std::sin(a), -1.5 * std::cos(phi)});
        }
    }
    const int north = static_cast<int>(m.points.size());
    m.points.push_back({0.0, 0.0, 1.5});
    auto at = [&](int r, int k) { return 1 + (r - 1) * around + (k % around); };
    for (int k = 0; k < around; ++k)
        MeshAddFace(&m, {0, at(1, k + 1), at(1, k)});
    for (int r = 1; r + 1 < rows; ++r)
        for (int k = 0; k < around; ++k)
            MeshAddFace(&m, {at(r, k), at(r, k + 1), at(r + 1, k + 1), at(r + 1, k)});
    for (int k = 0; k < around; ++k)
        MeshAddFace(&m, {at(rows - 1, k), at(rows - 1, k + 1), north});
    return m;
}

// A torus whose rows sit at uneven angles and whose tube swells and shrinks
// along the ring, so its quads are not planar.
MeshData MakeUnevenTorus(int around, int tube)
{
    MeshData m;
    for (int i = 0; i < around; ++i) {
        const double u = kTau * i / around;
        const double minor = 1.0 + 0.3 * std::sin(3.0 * u);
        for (int j = 0; j < tube; ++j) {
            const double f = static_cast<double>(j) / tube;
            const double v = kTau * (f + 0.04 * std::sin(kTau * f * 2.0 + u));
            const double rad = 3.0 + minor * std::cos(v);
            m.points.push_back({rad * std::cos(u), rad * std::sin(u), minor * std::sin(v)});
        }
    }
    for (int i = 0; i < around; ++i)
        for (int j = 0; j < tube; ++j) {
            const int i1 = (i + 1) % around, j1 = (j + 1) % tube;
            MeshAddFace(&m, {i * tube + j, i1 * tube + j, i1 * tube + j1, i * tube + j1});
        }
    return m;
}

// The quad sphere stretched into an ellipsoid, every third quad split into
// two triangles along alternating diagonals.
MeshData MakeMixedSphere(int n)
{
    MeshData s = MakeQuadSphere(n);
    MeshData m;
    for (const auto &p : s.points)
        m.points.push_back({1.3 * p[0], p[1], 0.8 * p[2]});
    for (size_t k = 0; k < MeshPolyCount(s); ++k) {
        const MeshPointSpan q = MeshPolyPoints(s, k);
        if (k % 3 != 1) {
            MeshAddFace(&m, q);
        } else if (k % 2 == 0) {
            MeshAddFace(&m, {q[0], q[1], q[2]});
            MeshAddFace(&m, {q[0], q[2], q[3]});
        } else {
            MeshAddFace(&m, {q[0], q[1], q[3]});
            MeshAddFace(&m, {q[1], q[2], q[3]});
        }
    }
    return m;
}

// `mesh` with the quads `which` split into two triangles along the diagonal
// from their vertex 0: each split gives two points a fifth corner.
MeshData MakeSplitQuads(const MeshData &mesh, const std::vector<int> &which)
{
    MeshData m;
    m.points = mesh.points;
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k) {
        const MeshPointSpan q = MeshPolyPoints(mesh, k);
        if (std::find(which.begin(), which.end(), static_cast<int>(k)) == which.end()) {
            MeshAddFace(&m, q);
            continue;
        }
        MeshAddFace(&m, {q[0], q[1], q[2]});
        MeshAddFace(&m, {q[0], q[2], q[3]});
    }
    return m;
}

// A bipyramid whose ring of `around` points rises into a roof: point k at
// angle 2 pi k / around and height (1 - |sin|) / 2, so the ring meets the top
// apex's height at the ridge ends. The top apex is point 0, the ring points
// 1 .. around, the bottom apex last; top and bottom triangles alternate.
MeshData MakeRoofBipyramid(int around)
{
    MeshData m;
    m.points.push_back({0.0, 0.0, 0.5});
    for (int k = 0; k < around; ++k) {
        const double a = kTau * k / around;
        m.points.push_back({std::cos(a), std::sin(a), 0.5 * (1.0 - std::fabs(std::sin(a)))});
    }
    const int bottom = static_cast<int>(m.points.size());
    m.points.push_back({0.0, 0.0, -1.0});
    for (int k = 0; k < around; ++k) {
        const int a = 1 + k, b = 1 + (k + 1) % around;
        MeshAddFace(&m, {0, a, b});
        MeshAddFace(&m, {bottom, b, a});
    }
    return m;
}

// Each polygon numbered in `which` (every polygon when empty) replaced by a
// fan of triangles about a new point at its centroid, added after the others
// in polygon order: the centre gets as many corners as the polygon had.
MeshData MakeFanned(const MeshData &mesh, const std::vector<int> &which)
{
    MeshData m;
    m.points = mesh.points;
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k) {
        const MeshPointSpan p = MeshPolyPoints(mesh, k);
        if (!which.empty() && std::find(which.begin(), which.end(), static_cast<int>(k)) == which.end()) {
            MeshAddFace(&m, p);
            continue;
        }
        Point c = {0.0, 0.0, 0.0};
        for (int v : p)
            for (int a = 0; a < 3; ++a)
                c[a] += mesh.points[static_cast<size_t>(v)][a];
        for (double &x : c)
            x /= static_cast<double>(p.size());
        const int centre = static_cast<int>(m.points.size());
        m.points.push_back(c);
        for (size_t i = 0; i < p.size(); ++i)
            MeshAddFace(&m, {centre, p[i], p[(i + 1) % p.size()]});
    }
    return m;
}

// Every quad split into two triangles along one of its two diagonals, chosen
// by a fixed sequence from `seed`: flat faces cut as exporters cut them.
MeshData MakeRandomDiagonals(const MeshData &mesh, uint32_t seed)
{
    MeshData m;
    m.points = mesh.points;
    uint32_t state = seed;
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(mesh); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, polyIndex);
        const MeshPointSpan q = poly;
        if (q.size() != 4) {
            MeshAddFace(&m, q);
            continue;
        }
        state = state * 1664525u + 1013904223u;
        if ((state >> 16) & 1) {
            MeshAddFace(&m, {q[0], q[1], q[2]});
            MeshAddFace(&m, {q[0], q[2], q[3]});
        } else {
            MeshAddFace(&m, {q[0], q[1], q[3]});
            MeshAddFace(&m, {q[1], q[2], q[3]});
        }
    }
    return m;
}

// Polygons `a` and `b`, which share exactly one edge, merged into one polygon
// in a's place (b is dropped; the mesh as it was when they share none): a's points from the shared edge's end
// round to its start, then b's points between them.
MeshData MakeMerged(const MeshData &mesh, int a, int b)
{
    const MeshPointSpan pa = MeshPolyPoints(mesh, static_cast<size_t>(a));
    const MeshPointSpan pb = MeshPolyPoints(mesh, static_cast<size_t>(b));
    const size_t na = pa.size(), nb = pb.size();
    MeshData m;
    m.points = mesh.points;
    std::vector<int> merged;
    for (size_t i = 0; i < na && merged.empty(); ++i)
        for (size_t j = 0; j < nb; ++j) {
            // a runs p -> q where b runs q -> p.
            if (pa[i] != pb[(j + 1) % nb] || pa[(i + 1) % na] != pb[j])
                continue;
            for (size_t t = 0; t < na; ++t)
                merged.push_back(pa[(i + 1 + t) % na]);
            for (size_t t = 2; t < nb; ++t)
                merged.push_back(pb[(j + t) % nb]);
            break;
        }
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k) {
        if (static_cast<int>(k) == b && !merged.empty())
            continue;
        if (static_cast<int>(k) == a && !merged.empty())
            MeshAddFace(&m, merged);
        else
            MeshAddPolyFrom(&m, mesh, k);
    }
    return m;
}

// ---- open meshes -----------------------------------------------------------

MeshData MakeLShape()
{
    MeshData m;
    const double xy[8][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}};
    for (const auto &p : xy)
        m.points.push_back({p[0], p[1], 0.0});
    MeshAddFace(&m, {0, 1, 4, 3});
    MeshAddFace(&m, {1, 2, 5, 4});
    MeshAddFace(&m, {3, 4, 7, 6});
    return m;
}

MeshData MakeWithout(const MeshData &mesh, const std::vector<int> &which)
{
    MeshData m;
    m.points = mesh.points;
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k)
        if (std::find(which.begin(), which.end(), static_cast<int>(k)) == which.end())
            MeshAddPolyFrom(&m, mesh, k);
    return m;
}

MeshData MakeGridWithHole(int w, int h, int x0, int y0, int x1, int y1)
{
    std::vector<int> hole;
    for (int j = y0; j <= y1; ++j)
        for (int i = x0; i <= x1; ++i)
            hole.push_back(j * w + i);
    return MakeWithout(MakeQuadGrid(w, h), hole);
}

MeshData MakeOpenBox(double sx, double sy, double sz, int splits)
{
    MeshData box = MakeBox(sx, sy, sz, splits);
    std::vector<int> top;
    for (size_t k = 0; k < MeshPolyCount(box); ++k) {
        bool up = true;
        for (int v : MeshPolyPoints(box, k))
            up = up && box.points[static_cast<size_t>(v)][2] == sz;
        if (up)
            top.push_back(static_cast<int>(k));
    }
    return MakeWithout(box, top);
}

MeshData MakeBowl(int around, int rows, double twist)
{
    MeshData m;
    m.points.push_back({0.0, 0.0, -2.0});
    for (int r = 1; r <= rows; ++r) {
        const double polar = (kPi / 2) * r / rows;
        for (int k = 0; k < around; ++k) {
            const double a = kTau * k / around + twist * r;
            m.points.push_back({2.0 * std::sin(polar) * std::cos(a), 2.0 * std::sin(polar) * std::sin(a),
                                -2.0 * std::cos(polar)});
        }
    }
    // Seen from inside (from above), the rings run counter-clockwise.
    auto at = [around](int r, int k) { return 1 + (r - 1) * around + (k % around); };
    for (int k = 0; k < around; ++k)
        MeshAddFace(&m, {0, at(1, k), at(1, k + 1)});
    for (int r = 1; r < rows; ++r)
        for (int k = 0; k < around; ++k)
            MeshAddFace(&m, {at(r, k), at(r + 1, k), at(r + 1, k + 1), at(r, k + 1)});
    return m;
}

MeshData MakeSlitSquare()
{
    MeshData m;
    m.points = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}, {1, 1, 0}, {1, 3, 0}, {3, 3, 0}, {3, 1, 0}};
    MeshAddFace(&m, {0, 1, 2, 3, 0, 4, 7, 6, 5, 4});
    return m;
}

MeshData MakeHelicoid(int around, int rows, double turns)
{
    MeshData m;
    for (int k = 0; k <= around; ++k) {
        const double t = turns * kTau * k / around;
        for (int r = 0; r <= rows; ++r) {
            const double radius = 0.5 + static_cast<double>(r) / rows;
            m.points.push_back({radius * std::cos(t), radius * std::sin(t), t / kTau});
        }
    }
    for (int k = 0; k < around; ++k)
        for (int r = 0; r < rows; ++r) {
            const int a = k * (rows + 1) + r;
            MeshAddFace(&m, {a, a + 1, a + rows + 2, a + rows + 1});
        }
    return m;
}
