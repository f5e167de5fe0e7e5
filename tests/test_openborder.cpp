// Open meshes: where chamfered edges meet at a border point, the polygons
// about it must close up, so that no new border runs into the surface.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/fixtures.h"

namespace {

using Edge = std::pair<int, int>;

std::map<Edge, int> DirectedEdges(const MeshData &mesh)
{
    std::map<Edge, int> count;
    for (const MeshPoly &p : mesh.polys)
        for (size_t k = 0; k < p.points.size(); ++k)
            count[{p.points[k], p.points[(k + 1) % p.points.size()]}]++;
    return count;
}

int BorderEdges(const MeshData &mesh)
{
    std::map<Edge, int> count = DirectedEdges(mesh);
    int border = 0;
    for (const auto &e : count)
        border += count.find({e.first.second, e.first.first}) == count.end();
    return border;
}

// The border a closed fan gives when every shared edge is chamfered: the
// input's border, and one edge more for each fan of two or more polygons
// between two border edges at a point (the border runs on straight from the
// first polygon's copy of the point to the last one's). Counted on the
// input's topology alone: each border edge P -> Y ends a fan at P, which is
// followed back polygon by polygon across the edges arriving at P.
int ClosedFanBorder(const MeshData &mesh)
{
    std::map<Edge, int> count = DirectedEdges(mesh);
    std::map<Edge, int> arrivingIn;  // (P, X): the polygon whose edge X -> P ends at P
    std::map<Edge, int> leavingIn;   // (P, Y): the polygon whose edge P -> Y leaves P
    for (size_t k = 0; k < mesh.polys.size(); ++k) {
        const std::vector<int> &v = mesh.polys[k].points;
        for (size_t i = 0; i < v.size(); ++i) {
            leavingIn[{v[i], v[(i + 1) % v.size()]}] = static_cast<int>(k);
            arrivingIn[{v[(i + 1) % v.size()], v[i]}] = static_cast<int>(k);
        }
    }
    int border = 0, fans = 0;
    for (const auto &e : count) {
        if (count.count({e.first.second, e.first.first}))
            continue;
        border++;
        const int p = e.first.first;
        int poly = leavingIn[e.first], polys = 1;
        for (;;) {
            // The edge by which `poly` arrives at P, and the polygon leaving
            // P along it the other way, if any.
            const std::vector<int> &v = mesh.polys[static_cast<size_t>(poly)].points;
            size_t at = 0;
            while (v[at] != p)
                at++;
            const int x = v[(at + v.size() - 1) % v.size()];
            auto next = leavingIn.find({p, x});
            if (next == leavingIn.end() || polys > 64)
                break;
            poly = next->second;
            polys++;
        }
        fans += polys >= 2;
    }
    return border + fans;
}

struct OpenSet {
    const char *name;
    MeshData mesh;
};

std::vector<OpenSet> OpenMeshes()
{
    std::vector<OpenSet> out;
    out.push_back({"L of three quads", MakeLShape()});
    out.push_back({"grid 6x6, 2x2 hole", MakeGridWithHole(6, 6, 2, 2, 3, 3)});
    out.push_back({"grid 5x4, 1x1 hole", MakeGridWithHole(5, 4, 1, 1, 1, 1)});
    out.push_back({"grid 7x5, 3x1 slot", MakeGridWithHole(7, 5, 2, 2, 4, 2)});
    out.push_back({"grid 6x6, hole at the rim", MakeGridWithHole(6, 6, 0, 2, 2, 3)});
    out.push_back({"grid 6x6, L-shaped hole", MakeWithout(MakeQuadGrid(6, 6), {7, 8, 9, 13, 19})});
    out.push_back({"grid 7x7, cross-shaped hole", MakeWithout(MakeQuadGrid(7, 7), {17, 23, 24, 25, 31})});
    out.push_back({"strip 6x1", MakeQuadGrid(6, 1)});
    out.push_back({"open box 2x3x1", MakeOpenBox(2, 3, 1, 2)});
    out.push_back({"bowl", MakeBowl(12, 4, 0.0)});
    out.push_back({"twisted bowl", MakeBowl(10, 5, 0.07)});
    out.push_back({"helicoid", MakeHelicoid(24, 3, 1.5)});
    out.push_back({"open tube", MakeQuadTube(8, 3)});
    const size_t plain = out.size();
    for (size_t k = 0; k < plain; ++k) {
        out.push_back({"  triangulated", MakeRandomDiagonals(out[k].mesh, 7u + static_cast<uint32_t>(k))});
        out.push_back({"  mixed", MakeTriangulated(out[k].mesh, 3)});
    }
    return out;
}

TEST(OpenBorder, Explore)
{
    std::vector<OpenSet> sets = OpenMeshes();
    for (size_t k = 0; k < sets.size(); ++k) {
        const MeshData &mesh = sets[k].mesh;
        const double size = 0.002 * Diagonal(mesh);
        MeshData plain = RunObjectMode(mesh, 0, 0.0, size);
        MeshData gt = RunObjectMode(mesh, 2, RadiansFor(1), size);
        MeshData lt = RunObjectMode(mesh, 1, RadiansFor(179), size);
        printf("%2zu %-28s in %3d want %3d plain %3d gt %3d lt %3d  %s | %s\n", k, sets[k].name, BorderEdges(mesh),
               ClosedFanBorder(mesh), BorderEdges(plain), BorderEdges(gt), BorderEdges(lt),
               MeshValidityFault(plain, false).c_str(), MeshValidityFault(gt, false).c_str());
    }
}

}  // namespace
