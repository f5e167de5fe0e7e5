// Meshes whose edges or points are not shared the way a closed surface
// shares them: edges on three or more polygons, points where fans touch.
#include "meshgen/meshgen.h"

#include <cmath>
#include <map>
#include <utility>

namespace {

using Vec = std::array<double, 3>;

Vec Sub(const Vec &a, const Vec &b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

// Newell normal of polygon k, not normalised.
Vec PolyNormal(const MeshData &mesh, size_t k)
{
    const MeshPointSpan v = MeshPolyPoints(mesh, k);
    Vec n = {0.0, 0.0, 0.0};
    for (size_t i = 0; i < v.size(); ++i) {
        const Vec &p = mesh.points[static_cast<size_t>(v[i])];
        const Vec &q = mesh.points[static_cast<size_t>(v[(i + 1) % v.size()])];
        n[0] += (p[1] - q[1]) * (p[2] + q[2]);
        n[1] += (p[2] - q[2]) * (p[0] + q[0]);
        n[2] += (p[0] - q[0]) * (p[1] + q[1]);
    }
    return n;
}

double Length(const Vec &v)
{
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

}  // namespace

MeshData MakeFin()
{
    MeshData m;
    m.points = {{0, 0, 0}, {0, 1, 0}, {-1, 1, 0}, {-1, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 1}, {0, 1, 1}};
    MeshAddFace(&m, {0, 1, 2, 3});
    MeshAddFace(&m, {1, 0, 4, 5});
    MeshAddFace(&m, {0, 6, 7, 1});
    return m;
}

MeshData MakeWithFin(const MeshData &mesh, int a, int b)
{
    MeshData m = mesh;
    // The fin stands out along the sum of the normals of the polygons on the
    // edge, half the edge's length high.
    Vec up = {0.0, 0.0, 0.0};
    for (size_t k = 0; k < MeshPolyCount(mesh); ++k) {
        const MeshPointSpan v = MeshPolyPoints(mesh, k);
        for (size_t i = 0; i < v.size(); ++i) {
            const int p = v[i], q = v[(i + 1) % v.size()];
            if ((p == a && q == b) || (p == b && q == a)) {
                const Vec n = PolyNormal(mesh, k);
                const double l = Length(n);
                for (int c = 0; c < 3; ++c)
                    up[(size_t)c] += n[(size_t)c] / l;
            }
        }
    }
    const Vec &pa = mesh.points[static_cast<size_t>(a)];
    const Vec &pb = mesh.points[static_cast<size_t>(b)];
    const double scale = 0.5 * Length(Sub(pb, pa)) / Length(up);
    const int top = static_cast<int>(m.points.size());
    m.points.push_back({pa[0] + up[0] * scale, pa[1] + up[1] * scale, pa[2] + up[2] * scale});
    m.points.push_back({pb[0] + up[0] * scale, pb[1] + up[1] * scale, pb[2] + up[2] * scale});
    MeshAddFace(&m, {a, b, top + 1, top});
    return m;
}

MeshData MakeWithFinOnFirstSharedEdge(const MeshData &mesh)
{
    std::map<std::pair<int, int>, int> edges;
    for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++) {
        const MeshPointSpan p = MeshPolyPoints(mesh, pi);
        for (size_t i = 0; i < p.size(); ++i)
            edges[{p[i], p[(i + 1) % p.size()]}]++;
    }
    for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++) {
        const MeshPointSpan p = MeshPolyPoints(mesh, pi);
        for (size_t i = 0; i < p.size(); ++i) {
            const int a = p[i], b = p[(i + 1) % p.size()];
            if (edges.count({b, a}))
                return MakeWithFin(mesh, a, b);
        }
    }
    return mesh;
}

MeshData MakeFoldedCorner()
{
    MeshData m = MakeCube();
    // The top face (4, 5, 7, 6) and a flap over its corner at 5 that runs
    // back along its edges 4-5 and 5-7, lifted at its free point.
    m.points.push_back({0.25, 0.75, 1.5});
    MeshAddFace(&m, {7, 5, 4, 8});
    return m;
}

MeshData MakeBowTie()
{
    MeshData m = MakeCube();
    const MeshData second = MakeCube(1.0, 2.0);
    // The second cube's point 0 is the first's point 7, (1, 1, 1).
    std::vector<int> index(8);
    index[0] = 7;
    for (int k = 1; k < 8; ++k) {
        index[(size_t)k] = static_cast<int>(m.points.size());
        m.points.push_back(second.points[(size_t)k]);
    }
    for (size_t pi = 0; pi < MeshPolyCount(second); pi++) {
        const MeshPointSpan p = MeshPolyPoints(second, pi);
        std::vector<int> v;
        for (int q : p)
            v.push_back(index[(size_t)q]);
        MeshAddFace(&m, v);
    }
    return m;
}
