// Counts over a mesh, and edge lookups by point numbers.
#include "meshio/meshio.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

// Polygons are short: a quadratic scan beats building a set for each.
bool HasRepeatedPoint(MeshPointSpan points)
{
    for (size_t i = 0; i < points.size(); i++)
        for (size_t j = i + 1; j < points.size(); j++)
            if (points[i] == points[j])
                return true;
    return false;
}

// Exactly zero, not small: the question is whether every tool downstream can
// find a plane for the polygon at all. Points out of range count as no area.
bool ZeroArea(const MeshData &mesh, MeshPointSpan points)
{
    const size_t n = points.size(), count = mesh.points.size();
    double x = 0.0, y = 0.0, z = 0.0;
    for (size_t k = 0; k < n; k++) {
        const size_t a = (size_t)points[k], b = (size_t)points[(k + 1) % n];
        if (a >= count || b >= count)
            return true;
        const auto &p = mesh.points[a], &q = mesh.points[b];
        x += (p[1] - q[1]) * (p[2] + q[2]);
        y += (p[2] - q[2]) * (p[0] + q[0]);
        z += (p[0] - q[0]) * (p[1] + q[1]);
    }
    return x == 0.0 && y == 0.0 && z == 0.0;
}

}  // namespace

MeshStats MeshComputePolygonStats(const MeshData &mesh)
{
    MeshStats s;
    s.points = (int)mesh.points.size();
    s.polygons = (int)MeshPolyCount(mesh);
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, i);
        const size_t n = poly.size();
        if (n < 3)
            s.degenerate++;
        else if (n == 3)
            s.triangles++;
        else if (n == 4)
            s.quads++;
        else
            s.ngons++;
        if (HasRepeatedPoint(poly))
            s.repeatedPointPolys++;
        if (n >= 3 && ZeroArea(mesh, poly))
            s.zeroAreaPolys++;
    }
    return s;
}

MeshStats MeshComputeStats(const MeshData &mesh)
{
    MeshStats s = MeshComputePolygonStats(mesh);
    // Per polygon edge one 64-bit key: its two points, smaller first, and
    // in the lowest bit whether the polygon runs from the larger to the
    // smaller. The viewer counts every result it shows, so the keys are
    // grouped by their smaller point first (a counting pass) and only each
    // point's few edges are sorted: about twice as fast as one sort of all.
    std::vector<uint64_t> edges;
    uint64_t maxLo = 0;
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, i);
        const size_t n = poly.size();
        // A polygon of one point has no edge; one of two points has one.
        size_t count = n < 2 ? 0 : (n == 2 ? 1 : n);
        for (size_t k = 0; k < count; k++) {
            int a = poly[k];
            int b = poly[(k + 1) % n];
            if (a == b)
                continue;
            const uint64_t lo = (uint32_t)std::min(a, b), hi = (uint32_t)std::max(a, b);
            edges.push_back(lo << 33 | hi << 1 | (a > b ? 1u : 0u));
            maxLo = std::max(maxLo, lo);
        }
    }
    // Point numbers far out of range (a broken mesh) share one group.
    const uint64_t groups = maxLo < mesh.points.size() + edges.size() ? maxLo + 1 : 1;
    auto groupOf = [groups](uint64_t key) { return groups == 1 ? 0 : (size_t)(key >> 33); };
    std::vector<uint32_t> start((size_t)groups + 1, 0);
    for (uint64_t key : edges)
        start[groupOf(key) + 1]++;
    for (size_t g = 0; g < groups; g++)
        start[g + 1] += start[g];
    std::vector<uint64_t> grouped(edges.size());
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (uint64_t key : edges)
        grouped[fill[groupOf(key)]++] = key;
    for (size_t g = 0; g < groups; g++)
        std::sort(grouped.begin() + start[g], grouped.begin() + start[g + 1]);
    edges.swap(grouped);
    for (size_t i = 0; i < edges.size();) {
        size_t j = i;
        while (j < edges.size() && edges[j] >> 1 == edges[i] >> 1)
            j++;
        s.edges++;
        if (j - i == 1)
            s.borderEdges++;
        else if (j - i > 2 && s.crowdedEdges++ < 3)
            s.firstCrowded.push_back({(int)(edges[i] >> 33), (int)(edges[i] >> 1 & 0xFFFFFFFFu)});
        else if ((edges[i] & 1) == (edges[i + 1] & 1))
            s.oppositeWindingEdges++;
        i = j;
    }
    return s;
}

std::string MeshInvalidPolygonsText(const MeshStats &stats)
{
    std::string text;
    if (stats.repeatedPointPolys > 0)
        text += std::to_string(stats.repeatedPointPolys) +
                (stats.repeatedPointPolys == 1 ? " polygon passes" : " polygons pass") +
                " through one point twice";
    if (stats.zeroAreaPolys > 0)
        text += (text.empty() ? "" : ", ") + std::to_string(stats.zeroAreaPolys) +
                (stats.zeroAreaPolys == 1 ? " polygon has" : " polygons have") + " zero area";
    return text;
}

namespace {

using Edge = std::pair<int, int>;

Edge EdgeOf(int a, int b)
{
    return {std::min(a, b), std::max(a, b)};
}

// How far, per unit of bevel size, the inset copy of the edge from `at` to
// `v` is shortened at its end `at`, where the polygon's other edge runs from
// `at` to `u`:
//   - the other edge chamfered and this one not: the point slides along this
//     edge by 1 / sin a;
//   - both chamfered: the corner is where the two inset lines cross, s / tan
//     (a / 2) along this edge;
//   - only this one chamfered: its end slides along the other edge, s / tan
//     a along this one (shortening it only at an acute corner).
// An angle mode may leave any shared edge unchamfered, so an end whose other
// edge is shared takes the larger of the first two. A reflex corner is taken
// as its convex twin, which only errs towards a smaller size.
double EndShortening(const MeshData &mesh, int at, int u, int v, bool otherShared, bool thisShared)
{
    const auto &o = mesh.points[at];
    double a[3], b[3];
    for (int c = 0; c < 3; c++) {
        a[c] = mesh.points[u][c] - o[c];
        b[c] = mesh.points[v][c] - o[c];
    }
    const double x = a[1] * b[2] - a[2] * b[1];
    const double y = a[2] * b[0] - a[0] * b[2];
    const double z = a[0] * b[1] - a[1] * b[0];
    const double la = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    const double lb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
    const double sine = std::sqrt(x * x + y * y + z * z) / (la * lb);
    const double cosine = (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) / (la * lb);
    // A corner within about half a degree of straight, or degenerate: the
    // offset leaves such a point where it is.
    if (!std::isfinite(sine) || !std::isfinite(cosine) || !(sine > 0.01))
        return 0.0;
    const double acute = std::max(0.0, cosine);
    if (otherShared)
        return (thisShared ? 1.0 + acute : 1.0) / sine;
    return thisShared ? acute / sine : 0.0;
}

}  // namespace

double MeshSafeBevelSize(const MeshData &mesh)
{
    const int count = (int)mesh.points.size();
    auto valid = [count](MeshPointSpan poly) {
        if (poly.size() < 3)
            return false;
        for (int p : poly)
            if (p < 0 || p >= count)
                return false;
        return true;
    };
    // Whether each polygon edge is shared (the chamfered ones are): every
    // edge's key in polygon order, its index put in the bucket of its lower
    // point (a counting sort, linear in the corners), and each bucket, a
    // handful of edges about one point, sorted to find the keys in it twice.
    std::vector<uint64_t> keys;
    std::vector<uint32_t> start((size_t)count + 2, 0);
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, i);
        if (!valid(poly))
            continue;
        const size_t n = poly.size();
        for (size_t k = 0; k < n; k++) {
            const Edge e = EdgeOf(poly[k], poly[(k + 1) % n]);
            keys.push_back((uint64_t)(uint32_t)e.first << 32 | (uint32_t)e.second);
            start[(size_t)e.first + 2]++;
        }
    }
    for (size_t p = 2; p < start.size(); p++)
        start[p] += start[p - 1];
    std::vector<uint32_t> order(keys.size());
    for (size_t i = 0; i < keys.size(); i++)
        order[start[(keys[i] >> 32) + 1]++] = (uint32_t)i;
    std::vector<char> shared(keys.size(), 0);
    for (size_t p = 0; p + 1 < start.size(); p++) {
        const auto first = order.begin() + start[p], last = order.begin() + start[p + 1];
        std::sort(first, last, [&keys](uint32_t i, uint32_t j) { return keys[i] < keys[j]; });
        for (auto at = first; at < last;) {
            auto run = at + 1;
            while (run < last && keys[*run] == keys[*at])
                run++;
            for (auto e = at; run - at > 1 && e < run; e++)
                shared[*e] = 1;
            at = run;
        }
    }
    double meet = std::numeric_limits<double>::infinity();
    size_t edge = 0;  // index of the polygon's first edge in `keys`
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan pts = MeshPolyPoints(mesh, i);
        if (!valid(pts))
            continue;
        const size_t n = pts.size();
        for (size_t k = 0; k < n; k++) {
            //   prev ---- a ======= b ---- next
            const int prev = pts[(k + n - 1) % n], a = pts[k], b = pts[(k + 1) % n], next = pts[(k + 2) % n];
            if (a == b)
                continue;
            const bool thisShared = shared[edge + k];
            const double shortening =
                EndShortening(mesh, a, prev, b, prev != a && shared[edge + (k + n - 1) % n], thisShared) +
                EndShortening(mesh, b, next, a, next != b && shared[edge + (k + 1) % n], thisShared);
            if (!(shortening > 0.0))
                continue;
            const auto &pa = mesh.points[a], &pb = mesh.points[b];
            const double dx = pb[0] - pa[0], dy = pb[1] - pa[1], dz = pb[2] - pa[2];
            const double bound = std::sqrt(dx * dx + dy * dy + dz * dz) / shortening;
            if (std::isfinite(bound))
                meet = std::min(meet, bound);
        }
        edge += n;
    }
    // At `meet` itself two points of one polygon meet and the weld makes them
    // one; a tenth of the shortest inset edge is kept as a margin.
    return meet * 0.9;
}

std::vector<int> MeshPolysWithEdge(const MeshData &mesh, int a, int b)
{
    std::vector<int> out;
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan pts = MeshPolyPoints(mesh, i);
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
