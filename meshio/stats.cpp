// Counts over a mesh, and edge lookups by point numbers.
#include "meshio/meshio.h"

#include <algorithm>
#include <tuple>
#include <utility>

MeshStats MeshComputeStats(const MeshData &mesh)
{
    MeshStats s;
    s.points = (int)mesh.points.size();
    s.polygons = (int)mesh.polys.size();
    // Per polygon edge: its two points, smaller first, and whether the
    // polygon runs from the larger to the smaller.
    std::vector<std::tuple<int, int, int>> edges;
    for (const MeshPoly &poly : mesh.polys) {
        size_t n = poly.points.size();
        if (n < 3)
            s.degenerate++;
        else if (n == 3)
            s.triangles++;
        else if (n == 4)
            s.quads++;
        else
            s.ngons++;
        // A polygon of one point has no edge; one of two points has one.
        size_t count = n < 2 ? 0 : (n == 2 ? 1 : n);
        for (size_t k = 0; k < count; k++) {
            int a = poly.points[k];
            int b = poly.points[(k + 1) % n];
            if (a == b)
                continue;
            edges.push_back({std::min(a, b), std::max(a, b), a > b ? 1 : 0});
        }
    }
    std::sort(edges.begin(), edges.end());
    for (size_t i = 0; i < edges.size();) {
        size_t j = i;
        while (j < edges.size() && std::get<0>(edges[j]) == std::get<0>(edges[i]) &&
               std::get<1>(edges[j]) == std::get<1>(edges[i]))
            j++;
        s.edges++;
        if (j - i == 1)
            s.borderEdges++;
        else if (j - i > 2)
            s.crowdedEdges++;
        else if (std::get<2>(edges[i]) == std::get<2>(edges[i + 1]))
            s.sameWayEdges++;
        i = j;
    }
    return s;
}

std::vector<int> MeshPolysWithEdge(const MeshData &mesh, int a, int b)
{
    std::vector<int> out;
    for (size_t i = 0; i < mesh.polys.size(); i++) {
        const std::vector<int> &pts = mesh.polys[i].points;
        size_t n = pts.size();
        if (n < 2)
            continue;
        for (size_t k = 0; k < n; k++) {
            int p = pts[k], q = pts[(k + 1) % n];
            if ((p == a && q == b) || (p == b && q == a)) {
                out.push_back((int)i);
                break;
            }
        }
    }
    return out;
}
