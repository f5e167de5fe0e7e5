// Which output polygons a run created or re-shaped. A run rebuilds or
// re-indexes points freely, so polygons are compared by the cycle of their
// point positions, written from the rotation that is smallest byte for byte
// so that the start point does not matter.
#include "run/run.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace {

using Position = std::array<double, 3>;

// The polygon's point positions in *cycle, rotated to start at the smallest
// 24-byte record; returns a hash of them. Adding 0.0 turns -0.0 into 0.0 so
// both compare equal.
uint64_t CanonicalCycle(const MeshData &mesh, const MeshPoly &poly, std::vector<Position> *cycle)
{
    const size_t n = poly.points.size();
    cycle->assign(n, Position{0.0, 0.0, 0.0});
    for (size_t k = 0; k < n; k++) {
        const int index = poly.points[k];
        if (index >= 0 && static_cast<size_t>(index) < mesh.points.size())
            for (int c = 0; c < 3; c++)
                (*cycle)[k][c] = mesh.points[index][c] + 0.0;
    }
    size_t best = 0;
    for (size_t start = 1; start < n; start++) {
        for (size_t step = 0; step < n; step++) {
            const int order = std::memcmp(&(*cycle)[(start + step) % n], &(*cycle)[(best + step) % n], 24);
            if (order != 0) {
                if (order < 0)
                    best = start;
                break;
            }
        }
    }
    std::rotate(cycle->begin(), cycle->begin() + best, cycle->end());
    uint64_t hash = 0x9e3779b97f4a7c15ull ^ n;
    for (const Position &p : *cycle)
        for (double v : p) {
            uint64_t bits;
            std::memcpy(&bits, &v, 8);
            hash = (hash ^ bits) * 0xff51afd7ed558ccdull;
            hash ^= hash >> 32;
        }
    return hash;
}

}  // namespace

std::vector<bool> ChangedPolygons(const MeshData &input, const MeshData &output)
{
    // The input's cycles by hash, sorted; a hash match is then compared
    // exactly, so a collision costs time, never a wrong answer.
    std::vector<std::pair<uint64_t, uint32_t>> kept;
    kept.reserve(input.polys.size());
    std::vector<Position> cycle, other;
    for (size_t i = 0; i < input.polys.size(); i++)
        kept.push_back({CanonicalCycle(input, input.polys[i], &cycle), (uint32_t)i});
    std::sort(kept.begin(), kept.end());
    std::vector<bool> changed(output.polys.size(), true);
    for (size_t i = 0; i < output.polys.size(); i++) {
        const uint64_t hash = CanonicalCycle(output, output.polys[i], &cycle);
        auto it = std::lower_bound(kept.begin(), kept.end(), std::make_pair(hash, (uint32_t)0));
        for (; it != kept.end() && it->first == hash; ++it) {
            CanonicalCycle(input, input.polys[it->second], &other);
            if (other.size() == cycle.size() &&
                (cycle.empty() || std::memcmp(other.data(), cycle.data(), cycle.size() * 24) == 0)) {
                changed[i] = false;
                break;
            }
        }
    }
    return changed;
}

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
using PlaneKey = std::array<long long, 4>;

PlaneKey KeyOf(const Plane &p, double scale)
{
    PlaneKey q;
    for (int i = 0; i < 3; i++)
        q[i] = std::llround(p.n[i] * 1e6);
    q[3] = std::llround(p.d / scale * 1e6);
    return q;
}

}  // namespace

std::vector<bool> InInputPlanes(const MeshData &input, const MeshData &output)
{
    double scale = 0.0;
    for (const auto &p : input.points)
        for (double v : p)
            if (std::isfinite(v))
                scale = std::max(scale, std::fabs(v));
    if (!(scale > 0.0))
        scale = 1.0;
    std::vector<PlaneKey> planes;
    planes.reserve(input.polys.size());
    for (const MeshPoly &poly : input.polys) {
        Plane p = PolyPlane(input, poly);
        if (p.valid)
            planes.push_back(KeyOf(p, scale));
    }
    std::sort(planes.begin(), planes.end());
    std::vector<bool> inside(output.polys.size(), false);
    for (size_t i = 0; i < output.polys.size(); i++) {
        Plane p = PolyPlane(output, output.polys[i]);
        inside[i] = p.valid && std::binary_search(planes.begin(), planes.end(), KeyOf(p, scale));
    }
    return inside;
}

std::vector<bool> RunCreatedPolygons(const MeshData &input, const MeshData &output,
                                     std::vector<bool> *reshaped)
{
    const std::vector<bool> changed = ChangedPolygons(input, output);
    const std::vector<bool> inside = InInputPlanes(input, output);
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
