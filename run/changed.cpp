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

uint64_t PositionHash(const Position &p)
{
    uint64_t hash = 0x2545f4914f6cdd1dull;
    for (double v : p) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        hash = (hash ^ bits) * 0xff51afd7ed558ccdull;
        hash ^= hash >> 32;
    }
    return hash;
}

// Each point's position hash, once per mesh rather than twice per corner.
std::vector<uint64_t> PointHashes(const MeshData &mesh)
{
    std::vector<uint64_t> hashes(mesh.points.size());
    for (size_t k = 0; k < mesh.points.size(); k++)
        hashes[k] = PositionHash(At(mesh, (int)k));
    return hashes;
}

// A hash of the polygon's cycle of positions that does not depend on the
// start point but does on the direction: the sum of its directed edges'
// hashes. No rotation is sought unless two hashes agree.
uint64_t CycleHash(MeshPointSpan poly, const std::vector<uint64_t> &points)
{
    static const uint64_t kOutside = PositionHash({0.0, 0.0, 0.0});
    auto at = [&](int index) {
        return index >= 0 && (size_t)index < points.size() ? points[(size_t)index] : kOutside;
    };
    const size_t n = poly.size();
    uint64_t hash = 0x9e3779b97f4a7c15ull ^ n;
    for (size_t k = 0; k < n; k++) {
        const uint64_t edge = at(poly[k]) * 0x9e3779b97f4a7c15ull + at(poly[(k + 1) % n]);
        hash += (edge ^ (edge >> 29)) * 0xbf58476d1ce4e5b9ull;
    }
    return hash;
}

// A table of at least twice as many slots as entries: probes stay short.
std::vector<uint32_t> EmptyTable(size_t entries)
{
    size_t size = 16;
    while (size < 2 * entries)
        size *= 2;
    return std::vector<uint32_t>(size, 0);
}

void Insert(std::vector<uint32_t> *table, uint64_t hash, uint32_t polygon)
{
    const size_t mask = table->size() - 1;
    size_t slot = (size_t)(hash ^ (hash >> 31)) & mask;
    while ((*table)[slot] != 0)
        slot = (slot + 1) & mask;
    (*table)[slot] = polygon + 1;
}

uint64_t KeyHash(const RunPlaneKey &key)
{
    uint64_t hash = 0x9e3779b97f4a7c15ull;
    for (long long v : key)
        hash = (hash ^ (uint64_t)v) * 0xff51afd7ed558ccdull;
    return hash ^ (hash >> 32);
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

Plane PolyPlane(const MeshData &mesh, MeshPointSpan poly)
{
    Plane plane{{0.0, 0.0, 0.0}, 0.0, false};
    const size_t count = poly.size();
    double c[3] = {0.0, 0.0, 0.0};
    for (size_t k = 0; k < count; k++) {
        int ia = poly[k], ib = poly[(k + 1) % count];
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
    const std::vector<uint64_t> points = PointHashes(input);
    const size_t count = MeshPolyCount(input);
    index.offsets.push_back(0);
    index.cycleSlots = EmptyTable(count);
    for (size_t i = 0; i < count; i++) {
        const MeshPointSpan poly = MeshPolyPoints(input, i);
        for (int k : poly)
            index.positions.push_back(At(input, k));
        index.offsets.push_back((uint32_t)index.positions.size());
        index.cycleHash.push_back(CycleHash(poly, points));
        Insert(&index.cycleSlots, index.cycleHash.back(), (uint32_t)i);
    }

    for (const auto &p : input.points)
        for (double v : p)
            if (std::isfinite(v))
                index.scale = std::max(index.scale, std::fabs(v));
    if (!(index.scale > 0.0))
        index.scale = 1.0;
    index.planeSlots = EmptyTable(count);
    index.planes.resize(count);
    index.hasPlane.assign(count, false);
    for (size_t i = 0; i < count; i++) {
        const Plane p = PolyPlane(input, MeshPolyPoints(input, i));
        if (!p.valid)
            continue;
        index.planes[i] = KeyOf(p, index.scale);
        index.hasPlane[i] = true;
        Insert(&index.planeSlots, KeyHash(index.planes[i]), (uint32_t)i);
    }
    return index;
}

std::vector<bool> ChangedPolygons(const RunInputIndex &index, const MeshData &output)
{
    // A hash match is compared exactly, so a collision costs time, never a
    // wrong answer.
    const std::vector<uint64_t> points = PointHashes(output);
    const size_t mask = index.cycleSlots.size() - 1;
    std::vector<bool> changed(MeshPolyCount(output), true);
    std::vector<Position> cycle;
    for (size_t i = 0; i < MeshPolyCount(output); i++) {
        const MeshPointSpan poly = MeshPolyPoints(output, i);
        const uint64_t hash = CycleHash(poly, points);
        for (size_t slot = (size_t)(hash ^ (hash >> 31)) & mask; index.cycleSlots[slot] != 0;
             slot = (slot + 1) & mask) {
            const uint32_t k = index.cycleSlots[slot] - 1;
            const uint32_t from = index.offsets[k], to = index.offsets[k + 1];
            if (index.cycleHash[k] != hash || to - from != poly.size())
                continue;
            cycle.resize(poly.size());
            for (size_t c = 0; c < cycle.size(); c++)
                cycle[c] = At(output, poly[c]);
            if (SameCycle(cycle.data(), &index.positions[from], cycle.size())) {
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
    const size_t mask = index.planeSlots.size() - 1;
    std::vector<bool> inside(MeshPolyCount(output), false);
    for (size_t i = 0; i < MeshPolyCount(output); i++) {
        const Plane p = PolyPlane(output, MeshPolyPoints(output, i));
        if (!p.valid)
            continue;
        const RunPlaneKey key = KeyOf(p, index.scale);
        const uint64_t hash = KeyHash(key);
        for (size_t slot = (size_t)(hash ^ (hash >> 31)) & mask; index.planeSlots[slot] != 0 && !inside[i];
             slot = (slot + 1) & mask)
            inside[i] = index.planes[index.planeSlots[slot] - 1] == key;
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
