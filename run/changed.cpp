// Which output polygons a run created or re-shaped. A run rebuilds or
// re-indexes points freely, so polygons are compared by the cycle of their
// point positions, from any start point.
#include "run/run.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

using Position = std::array<double, 3>;

// A position as compared: adding 0.0 turns -0.0 into 0.0 so both compare
// equal; an index outside the mesh reads as the origin.
Position At(const MeshData &mesh, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= mesh.points.size())
        return {0.0, 0.0, 0.0};
    const auto &p = mesh.points[static_cast<size_t>(index)];
    return {p[0] + 0.0, p[1] + 0.0, p[2] + 0.0};
}

uint64_t Mix(uint64_t hash, const Position &p)
{
    for (double v : p) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        hash = (hash ^ bits) * 0xff51afd7ed558ccdull;
        hash ^= hash >> 32;
    }
    return hash;
}

// The polygon's positions in *cycle, and a hash that does not depend on the
// start point but does on the direction: the sum of its directed edges'
// hashes. No rotation is sought unless two hashes agree.
uint64_t CycleOf(const MeshData &mesh, const MeshPoly &poly, std::vector<Position> *cycle)
{
    const size_t n = poly.points.size();
    cycle->resize(n);
    for (size_t k = 0; k < n; k++)
        (*cycle)[k] = At(mesh, poly.points[k]);
    uint64_t hash = 0x9e3779b97f4a7c15ull ^ n;
    for (size_t k = 0; k < n; k++)
        hash += Mix(Mix(0x2545f4914f6cdd1dull, (*cycle)[k]), (*cycle)[(k + 1) % n]);
    return hash;
}

// Whether `b` is `a` started at another point.
bool SameCycle(const Position *a, const Position *b, size_t n)
{
    for (size_t start = 0; start < n; start++) {
        size_t step = 0;
        while (step < n && std::memcmp(&a[step], &b[(start + step) % n], sizeof(Position)) == 0)
            step++;
        if (step == n)
            return true;
    }
    return n == 0;
}

}  // namespace

namespace {

struct Plane {
    double n[3];  // unit normal
    double d;     // n . point
    bool valid;
};

Plane PolyPlane(const MeshData &mesh, const MeshPoly &poly)
{
    Plane plane{{0.0, 0.0, 0.0}, 0.0, false};
    const size_t count = poly.points.size();
    double c[3] = {0.0, 0.0, 0.0};
    for (size_t k = 0; k < count; k++) {
        int ia = poly.points[k], ib = poly.points[(k + 1) % count];
        if (ia < 0 || ib < 0 || (size_t)ia >= mesh.points.size() || (size_t)ib >= mesh.points.size())
            return plane;
        const auto &a = mesh.points[ia];
        const auto &b = mesh.points[ib];
        plane.n[0] += (a[1] - b[1]) * (a[2] + b[2]);
        plane.n[1] += (a[2] - b[2]) * (a[0] + b[0]);
        plane.n[2] += (a[0] - b[0]) * (a[1] + b[1]);
        for (int i = 0; i < 3; i++)
            c[i] += a[i];
    }
    double len = std::sqrt(plane.n[0] * plane.n[0] + plane.n[1] * plane.n[1] + plane.n[2] * plane.n[2]);
    if (count < 3 || !(len > 0.0) || !std::isfinite(len))
        return plane;
    for (int i = 0; i < 3; i++)
        plane.n[i] /= len;
    plane.d = (plane.n[0] * c[0] + plane.n[1] * c[1] + plane.n[2] * c[2]) / (double)count;
    plane.valid = std::isfinite(plane.d);
    return plane;
}

// Planes are bucketed by their rounded coefficients; a plane near a bucket
// border can miss its twin, which only costs it the lighter tint.
RunPlaneKey KeyOf(const Plane &p, double scale)
{
    RunPlaneKey q;
    for (int i = 0; i < 3; i++)
        q[i] = std::llround(p.n[i] * 1e6);
    q[3] = std::llround(p.d / scale * 1e6);
    return q;
}

}  // namespace

RunInputIndex RunIndexInput(const MeshData &input)
{
    RunInputIndex index;
    std::vector<Position> cycle;
    index.offsets.push_back(0);
    for (size_t i = 0; i < input.polys.size(); i++) {
        index.cycles.push_back({CycleOf(input, input.polys[i], &cycle), (uint32_t)i});
        index.positions.insert(index.positions.end(), cycle.begin(), cycle.end());
        index.offsets.push_back((uint32_t)index.positions.size());
    }
    std::sort(index.cycles.begin(), index.cycles.end());

    for (const auto &p : input.points)
        for (double v : p)
            if (std::isfinite(v))
                index.scale = std::max(index.scale, std::fabs(v));
    if (!(index.scale > 0.0))
        index.scale = 1.0;
    for (const MeshPoly &poly : input.polys) {
        Plane p = PolyPlane(input, poly);
        if (p.valid)
            index.planes.push_back(KeyOf(p, index.scale));
    }
    std::sort(index.planes.begin(), index.planes.end());
    return index;
}

std::vector<bool> ChangedPolygons(const RunInputIndex &index, const MeshData &output)
{
    // A hash match is compared exactly, so a collision costs time, never a
    // wrong answer.
    std::vector<bool> changed(output.polys.size(), true);
    std::vector<Position> cycle;
    for (size_t i = 0; i < output.polys.size(); i++) {
        const uint64_t hash = CycleOf(output, output.polys[i], &cycle);
        auto it = std::lower_bound(index.cycles.begin(), index.cycles.end(), std::make_pair(hash, (uint32_t)0));
        for (; it != index.cycles.end() && it->first == hash; ++it) {
            const uint32_t from = index.offsets[it->second], to = index.offsets[it->second + 1];
            if (to - from == cycle.size() && SameCycle(cycle.data(), &index.positions[from], cycle.size())) {
                changed[i] = false;
                break;
            }
        }
    }
    return changed;
}

std::vector<bool> ChangedPolygons(const MeshData &input, const MeshData &output)
{
    return ChangedPolygons(RunIndexInput(input), output);
}

std::vector<bool> InInputPlanes(const RunInputIndex &index, const MeshData &output)
{
    std::vector<bool> inside(output.polys.size(), false);
    for (size_t i = 0; i < output.polys.size(); i++) {
        Plane p = PolyPlane(output, output.polys[i]);
        inside[i] = p.valid && std::binary_search(index.planes.begin(), index.planes.end(), KeyOf(p, index.scale));
    }
    return inside;
}

std::vector<bool> InInputPlanes(const MeshData &input, const MeshData &output)
{
    return InInputPlanes(RunIndexInput(input), output);
}

std::vector<bool> RunCreatedPolygons(const RunInputIndex &index, const MeshData &output,
                                     std::vector<bool> *reshaped)
{
    const std::vector<bool> changed = ChangedPolygons(index, output);
    const std::vector<bool> inside = InInputPlanes(index, output);
    std::vector<bool> created(changed.size());
    if (reshaped)
        reshaped->assign(changed.size(), false);
    for (size_t i = 0; i < changed.size(); i++) {
        created[i] = changed[i] && !inside[i];
        if (reshaped)
            (*reshaped)[i] = changed[i] && inside[i];
    }
    return created;
}

std::vector<bool> RunCreatedPolygons(const MeshData &input, const MeshData &output,
                                     std::vector<bool> *reshaped)
{
    return RunCreatedPolygons(RunIndexInput(input), output, reshaped);
}
