// Small generated meshes for tests, benchmarks and the command-line program.
// Every polygon winds counter-clockwise seen from outside (so Newell normals
// point outwards; open meshes face the side named below) and carries the
// surface "Default". Points shared by polygons are welded (one index).
#ifndef CORVANE_MESHGEN_H
#define CORVANE_MESHGEN_H

#include "meshdata/meshdata.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Appends a polygon over the given point indices, of the surface "Default".
void MeshAddFace(MeshData *mesh, MeshPointSpan points);
inline void MeshAddFace(MeshData *mesh, std::initializer_list<int> points)
{
    MeshAddFace(mesh, MeshPointSpan(points.begin(), points.size()));
}

// A polygon as a test, a fuzz target or a benchmark builds or edits it,
// one record each: for small meshes only. A caller that reshapes polygons
// takes them out with MeshFacesOf and lays them out flat with MeshSetFaces.
struct MeshFace {
    std::vector<int> points;
    std::string surface;     // may be empty: a name the host reports as ""
    bool hasSurface = true;  // false: the host reports no surface name
    bool selected = false;
};
// Appends `face` to `mesh`.
void MeshPutFace(MeshData *mesh, const MeshFace &face);
// The polygons of `mesh` as records.
std::vector<MeshFace> MeshFacesOf(const MeshData &mesh);
// Replaces the polygons of `mesh` with `faces`; its points stay.
void MeshSetFaces(MeshData *mesh, const std::vector<MeshFace> &faces);
// Gives polygon `poly` of `mesh` the point list `points`, its surface and
// selection kept (every later polygon's points move).
void MeshSetFacePoints(MeshData *mesh, size_t poly, const std::vector<int> &points);

// Cube [lo, hi]^3: 8 points, point k at (bit 0, bit 1, bit 2 of k ? hi : lo),
// 6 quads in the order -z, +z, -y, +y, -x, +x.
MeshData MakeCube(double lo = 0.0, double hi = 1.0);
// Closed box [0, sx] x [0, sy] x [0, sz], each face split into splits x splits
// coplanar quads (6 splits^2 quads, 6 splits^2 + 2 points).
MeshData MakeBox(double sx, double sy, double sz, int splits);
// Open flat grid in z = 0 facing +z: point (i, j) at (i, j, 0) with index
// j (w + 1) + i; quad (i, j) with index j w + i, first vertex at (i, j).
MeshData MakeQuadGrid(int w, int h);
// Open tube of radius 1 around the z axis: `around` points per ring, ring r
// at z = r (r = 0..rows), point index r around + k at angle 2 pi k / around.
MeshData MakeQuadTube(int around, int rows);
// Closed unit sphere: a cube split n x n per face, points pushed onto radius 1
// (6 n^2 quads).
MeshData MakeQuadSphere(int n);
// Closed torus about the z axis, major radius 3, minor radius 1: around x tube
// quads; point index i tube + j (i along the ring, j around the tube).
MeshData MakeTorus(int around, int tube);
// Closed cylinder of radius 1 from z = 0 to z = rows: sides x rows quads
// (points as in MakeQuadTube(sides, rows)), then the bottom and top n-gons.
MeshData MakeCylinder(int sides, int rows);
// Open fan facing +z: centre point 0 at the origin, rim point k (1..n) on the
// unit circle at angle 2 pi (k - 1) / n, triangle k - 1 = (0, k, k % n + 1).
MeshData MakeFan(int n);

// ---- closed solids and curved surfaces ----------------------------------
// For the tests of the closed-in, closed-out promise (meshgen/solids.cpp).

// The convex hull of points that all lie on it: one face per supporting
// plane, wound counter-clockwise from outside.
MeshData MakeConvexHull(const std::vector<std::array<double, 3>> &points);
// Polyhedra whose edges meet at two or three dihedral angles.
MeshData MakeTruncatedOctahedron();
MeshData MakeRhombicuboctahedron();
MeshData MakeGreatRhombicosidodecahedron();
// An icosahedron with each triangle split in four, pushed onto radius 2.
MeshData MakeGeodesicSphere();
// Latitude-longitude sphere of radius 2 with triangle-fan poles.
MeshData MakeRoundUvSphere(int around, int rows);
// The same kind of sphere squashed into an ellipsoid (x 1, y 0.7, z 1.5).
MeshData MakeSquashedUvSphere(int around, int rows);
// A surface of revolution: a stalk widening into a cap, a triangle-fan pole
// on top, an n-gon underneath; `twist` turns each ring so no quad is planar.
MeshData MakeMushroom(int around, int rows, double twist);
// A torus with uneven rows and a tube that swells and shrinks.
MeshData MakeUnevenTorus(int around, int tube);
// The quad sphere stretched, every third quad split along alternating
// diagonals.
MeshData MakeMixedSphere(int n);
// Every `every`-th quad split in two along its first diagonal.
MeshData MakeTriangulated(MeshData mesh, int every);
// The quads numbered in `which` split in two along the diagonal from vertex 0.
MeshData MakeSplitQuads(const MeshData &mesh, const std::vector<int> &which);
// Each point moved along its direction from the origin by up to `amount` of
// its distance, by a fixed sequence.
MeshData MakeJittered(MeshData mesh, double amount);
// A bipyramid over a ring of `around` points that rises into a roof-like
// ridge: top apex 0, ring 1 .. around, bottom apex around + 1.
MeshData MakeRoofBipyramid(int around);
// The polygons `which` (all when empty) each fanned from a new centre point.
MeshData MakeFanned(const MeshData &mesh, const std::vector<int> &which);
// Every quad split along one of its diagonals, chosen by a fixed sequence.
MeshData MakeRandomDiagonals(const MeshData &mesh, uint32_t seed);
// Polygons a and b, sharing one edge, merged into one polygon at a's place.
MeshData MakeMerged(const MeshData &mesh, int a, int b);

// ---- open meshes ---------------------------------------------------------
// Meshes with borders where chamfered edges meet (meshgen/solids.cpp).

// Three unit quads in an L in z = 0 facing +z, points (0,0) (1,0) (2,0)
// (0,1) (1,1) (2,1) (0,2) (1,2): its inner corner (1,1) is a border point
// with three quads about it.
MeshData MakeLShape();
// `mesh` without the polygons numbered in `which`; every point stays, also
// those no polygon uses any more.
MeshData MakeWithout(const MeshData &mesh, const std::vector<int> &which);
// MakeQuadGrid(w, h) without the quads (i, j) at i = x0 .. x1, j = y0 .. y1.
MeshData MakeGridWithHole(int w, int h, int x0, int y0, int x1, int y1);
// MakeBox(sx, sy, sz, splits) without its top (the quads in z = sz), open
// upwards.
MeshData MakeOpenBox(double sx, double sy, double sz, int splits);
// A bowl facing inwards: the lower half of a sphere of radius 2 with a
// triangle-fan pole, `rows` rings of `around` points up to the open rim at
// z = 0; `twist` turns each ring so that no quad is planar.
MeshData MakeBowl(int around, int rows, double twist);
// The square [0, 4]^2 in z = 0 facing +z with the hole [1, 3]^2, one
// polygon joined to the hole by a slit: (0,0) (4,0) (4,4) (0,4) (0,0)
// (1,1) (3,1) (3,3) (1,3) (1,1), points 0 and 4 each twice.
MeshData MakeSlitSquare();
// A helicoid of `turns` turns, `rows` x `around` quads between radius 0.5
// and 1.5, rising 1 per turn.
MeshData MakeHelicoid(int around, int rows, double turns);

// ---- non-manifold meshes --------------------------------------------------
// Edges on three or more polygons, points where fans touch
// (meshgen/nonmanifold.cpp).

// A fin: three unit quads on the edge (0,0,0)-(0,1,0), two flat in z = 0
// facing +z and one standing up in x = 0.
MeshData MakeFin();
// `mesh` with a quad fin standing out of its edge a-b (two new points, half
// the edge's length out along the sum of the normals of the polygons on it),
// so that the edge is on one polygon more.
MeshData MakeWithFin(const MeshData &mesh, int a, int b);
// MakeWithFin on the first edge of the first polygon (in order) that another
// polygon runs back along; `mesh` itself when there is none.
MeshData MakeWithFinOnFirstSharedEdge(const MeshData &mesh);
// MakeCube() with a quad (7, 5, 4, 8) folded back over the top face: it
// shares three points with the top face, which puts its edges 4-5 and 5-7
// on three polygons each; its free point 8 is lifted to (0.25, 0.75, 1.5).
MeshData MakeFoldedCorner();
// MakeCube() and MakeCube(1, 2) touching at one point, (1, 1, 1): two fans
// of three quads about it (15 points).
MeshData MakeBowTie();

#endif
