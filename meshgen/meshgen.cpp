// Generated test meshes. Orientation is built in: every quad is laid out as
// (a, a + u, a + u + v, a + v) with u x v pointing out of the solid.
#include "meshgen/meshgen.h"

#include <cmath>
#include <vector>

void MeshAddFace(MeshData *mesh, MeshPointSpan points)
{
    MeshAddPoly(mesh, points, MeshInternSurface(mesh, "Default"));
}

void MeshPutFace(MeshData *mesh, const MeshFace &face)
{
    MeshAddPoly(mesh, face.points, face.hasSurface ? MeshInternSurface(mesh, face.surface) : kMeshNoSurface,
                face.selected);
}

std::vector<MeshFace> MeshFacesOf(const MeshData &mesh)
{
    std::vector<MeshFace> out(MeshPolyCount(mesh));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = {MeshPolyPoints(mesh, i).ToVector(), MeshPolySurface(mesh, i), MeshPolyHasSurface(mesh, i),
                  MeshPolySelected(mesh, i)};
    return out;
}

void MeshSetFacePoints(MeshData *mesh, size_t poly, const std::vector<int> &points)
{
    std::vector<MeshFace> faces = MeshFacesOf(*mesh);
    faces[poly].points = points;
    MeshSetFaces(mesh, faces);
}

void MeshSetFaces(MeshData *mesh, const std::vector<MeshFace> &faces)
{
    MeshClearPolys(mesh);
    for (const MeshFace &face : faces)
        MeshPutFace(mesh, face);
}

namespace {

const double kPi = 3.14159265358979323846;

// Point k of n on the unit circle. Quarter turns are exact, so a square
// section (n = 4) has integer coordinates.
void CirclePoint(int k, int n, double *x, double *y)
{
    if ((4 * k) % n == 0) {
        static const double c[4] = {1.0, 0.0, -1.0, 0.0};
        static const double s[4] = {0.0, 1.0, 0.0, -1.0};
        const int q = ((4 * k) / n) % 4;
        *x = c[q];
        *y = s[q];
        return;
    }
    const double a = 2.0 * kPi * k / n;
    *x = std::cos(a);
    *y = std::sin(a);
}

// The surface of the lattice cube [0, n]^3, split n x n per face, points
// welded. Points come out as lattice coordinates; callers place them.
//
//   a + v ---- a + u + v      u x v = outward normal of the face
//     |            |
//     a -------- a + u
struct Lattice {
    std::vector<std::array<int, 3>> coords;
    MeshData faces;  // its polygons only
};

Lattice CubeLattice(int n)
{
    Lattice lat;
    const int side = n + 1;
    std::vector<int> index(static_cast<size_t>(side) * side * side, -1);
    auto pointAt = [&](int x, int y, int z) {
        int &slot = index[(static_cast<size_t>(z) * side + y) * side + x];
        if (slot < 0) {
            slot = static_cast<int>(lat.coords.size());
            lat.coords.push_back({x, y, z});
        }
        return slot;
    };
    // Per face: the fixed axis and its value, then the u and v axes.
    struct FaceAxes {
        int fixed, value, u, v;
    };
    const FaceAxes faces[6] = {
        {2, 0, 1, 0},  // -z: y x x = -z
        {2, n, 0, 1},  // +z: x x y = +z
        {1, 0, 0, 2},  // -y: x x z = -y
        {1, n, 2, 0},  // +y: z x x = +y
        {0, 0, 2, 1},  // -x: z x y = -x
        {0, n, 1, 2},  // +x: y x z = +x
    };
    for (const FaceAxes &f : faces) {
        for (int q = 0; q < n; ++q) {
            for (int p = 0; p < n; ++p) {
                int corner[4];
                const int du[4] = {0, 1, 1, 0};
                const int dv[4] = {0, 0, 1, 1};
                for (int c = 0; c < 4; ++c) {
                    int xyz[3];
                    xyz[f.fixed] = f.value;
                    xyz[f.u] = p + du[c];
                    xyz[f.v] = q + dv[c];
                    corner[c] = pointAt(xyz[0], xyz[1], xyz[2]);
                }
                MeshAddFace(&lat.faces, {corner[0], corner[1], corner[2], corner[3]});
            }
        }
    }
    return lat;
}

// Rings of `around` points at z = 0..rows joined by quads facing out.
void AddTubeQuads(MeshData *mesh, int around, int rows)
{
    for (int r = 0; r <= rows; ++r) {
        for (int k = 0; k < around; ++k) {
            double x, y;
            CirclePoint(k, around, &x, &y);
            mesh->points.push_back({x, y, static_cast<double>(r)});
        }
    }
    for (int r = 0; r < rows; ++r) {
        for (int k = 0; k < around; ++k) {
            const int k1 = (k + 1) % around;
            MeshAddFace(mesh, {r * around + k, r * around + k1, (r + 1) * around + k1, (r + 1) * around + k});
        }
    }
}

}  // namespace

MeshData MakeCube(double lo, double hi)
{
    MeshData mesh;
    for (int k = 0; k < 8; ++k)
        mesh.points.push_back({(k & 1) ? hi : lo, (k & 2) ? hi : lo, (k & 4) ? hi : lo});
    MeshAddFace(&mesh, {0, 2, 3, 1});  // -z
    MeshAddFace(&mesh, {4, 5, 7, 6});  // +z
    MeshAddFace(&mesh, {0, 1, 5, 4});  // -y
    MeshAddFace(&mesh, {2, 6, 7, 3});  // +y
    MeshAddFace(&mesh, {0, 4, 6, 2});  // -x
    MeshAddFace(&mesh, {1, 3, 7, 5});  // +x
    return mesh;
}

MeshData MakeBox(double sx, double sy, double sz, int splits)
{
    const Lattice lat = CubeLattice(splits);
    MeshData mesh = lat.faces;
    const double size[3] = {sx, sy, sz};
    for (const auto &c : lat.coords) {
        std::array<double, 3> p;
        for (int a = 0; a < 3; ++a)
            p[a] = c[a] == splits ? size[a] : size[a] * c[a] / splits;
        mesh.points.push_back(p);
    }
    return mesh;
}

MeshData MakeQuadGrid(int w, int h)
{
    MeshData mesh;
    for (int j = 0; j <= h; ++j)
        for (int i = 0; i <= w; ++i)
            mesh.points.push_back({static_cast<double>(i), static_cast<double>(j), 0.0});
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const int a = j * (w + 1) + i;
            MeshAddFace(&mesh, {a, a + 1, a + w + 2, a + w + 1});
        }
    }
    return mesh;
}

MeshData MakeQuadTube(int around, int rows)
{
    MeshData mesh;
    AddTubeQuads(&mesh, around, rows);
    return mesh;
}

MeshData MakeQuadSphere(int n)
{
    const Lattice lat = CubeLattice(n);
    MeshData mesh = lat.faces;
    for (const auto &c : lat.coords) {
        double p[3];
        for (int a = 0; a < 3; ++a)
            p[a] = 2.0 * c[a] / n - 1.0;
        const double len = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        mesh.points.push_back({p[0] / len, p[1] / len, p[2] / len});
    }
    return mesh;
}

MeshData MakeTorus(int around, int tube)
{
    const double major = 3.0, minor = 1.0;
    MeshData mesh;
    for (int i = 0; i < around; ++i) {
        double ci, si;
        CirclePoint(i, around, &ci, &si);
        for (int j = 0; j < tube; ++j) {
            double cj, sj;
            CirclePoint(j, tube, &cj, &sj);
            const double r = major + minor * cj;
            mesh.points.push_back({r * ci, r * si, minor * sj});
        }
    }
    // Along the ring first, then around the tube: at the outer equator that
    // is (+tangent) x (+z), which points away from the axis.
    for (int i = 0; i < around; ++i) {
        const int i1 = (i + 1) % around;
        for (int j = 0; j < tube; ++j) {
            const int j1 = (j + 1) % tube;
            MeshAddFace(&mesh, {i * tube + j, i1 * tube + j, i1 * tube + j1, i * tube + j1});
        }
    }
    return mesh;
}

MeshData MakeCylinder(int sides, int rows)
{
    MeshData mesh;
    AddTubeQuads(&mesh, sides, rows);
    std::vector<int> bottom, top;
    for (int k = 0; k < sides; ++k) {
        bottom.push_back(sides - 1 - k);  // clockwise seen from +z: faces -z
        top.push_back(rows * sides + k);
    }
    MeshAddFace(&mesh, bottom);
    MeshAddFace(&mesh, top);
    return mesh;
}

MeshData MakeFan(int n)
{
    MeshData mesh;
    mesh.points.push_back({0.0, 0.0, 0.0});
    for (int k = 0; k < n; ++k) {
        double x, y;
        CirclePoint(k, n, &x, &y);
        mesh.points.push_back({x, y, 0.0});
    }
    for (int k = 1; k <= n; ++k)
        MeshAddFace(&mesh, {0, k, k % n + 1});
    return mesh;
}
