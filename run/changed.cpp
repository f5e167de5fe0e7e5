// Which output polygons a run created or re-shaped. A run rebuilds or
// re-indexes points freely, so polygons are compared by the cycle of their
// point positions, whatever point the cycle starts at. A rebuilt object
// holds tens of thousands of polygons: each cycle gets a hash that does not
// depend on its start point, and only cycles of equal hash are compared.
#include "run/run.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// A point's position as the three bit patterns compared; adding 0.0 turns
// -0.0 into 0.0 so both compare equal. An index outside the mesh reads as
// the origin.
struct PositionBits {
    uint64_t w[3];
};

uint64_t Mix(uint64_t x)
{
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

std::vector<PositionBits> PointBits(const MeshData &mesh)
{
    std::vector<PositionBits> bits(mesh.points.size());
    for (size_t i = 0; i < mesh.points.size(); i++)
        for (int c = 0; c < 3; c++) {
            const double v = mesh.points[i][c] + 0.0;
            std::memcpy(&bits[i].w[c], &v, sizeof v);
        }
    return bits;
}

PositionBits VertexBits(const std::vector<PositionBits> &bits, int index)
{
    if (index >= 0 && static_cast<size_t>(index) < bits.size())
        return bits[static_cast<size_t>(index)];
    return PositionBits{{0, 0, 0}};
}

uint64_t PositionHash(const PositionBits &p)
{
    return Mix(p.w[0] ^ Mix(p.w[1] ^ Mix(p.w[2])));
}

// The sum over the cycle's consecutive pairs: the same from any start
// point, different (almost always) for the reversed cycle.
uint64_t CycleHash(const std::vector<PositionBits> &bits, const MeshPoly &poly)
{
    const size_t n = poly.points.size();
    if (n == 0)
        return 0;
    uint64_t sum = 0;
    const uint64_t first = PositionHash(VertexBits(bits, poly.points[0]));
    uint64_t here = first;
    for (size_t k = 0; k < n; k++) {
        const uint64_t next = k + 1 < n ? PositionHash(VertexBits(bits, poly.points[k + 1])) : first;
        sum += Mix(here * 0x9e3779b97f4a7c15ULL + next);
        here = next;
    }
    return sum + n;
}

// An open-addressing table from 64-bit hashes to item numbers; several
// items may share a hash. Lookups touch one or two cache lines where a
// sorted array's binary search touches a dozen.
struct HashSlots {
    std::vector<uint64_t> hash;
    std::vector<size_t> item;  // item + 1; 0: empty
    size_t mask = 0;
};

void HashSlotsInit(HashSlots *slots, size_t count)
{
    size_t size = 16;
    while (size < 2 * count)
        size *= 2;
    slots->hash.assign(size, 0);
    slots->item.assign(size, 0);
    slots->mask = size - 1;
}

void HashSlotsAdd(HashSlots *slots, uint64_t hash, size_t item)
{
    size_t s = Mix(hash) & slots->mask;
    while (slots->item[s] != 0)
        s = (s + 1) & slots->mask;
    slots->hash[s] = hash;
    slots->item[s] = item + 1;
}

// Calls visit(item) for the items added with `hash` until it returns true;
// true when one did.
template <typename Visit>
bool HashSlotsFind(const HashSlots &slots, uint64_t hash, Visit visit)
{
    for (size_t s = Mix(hash) & slots.mask; slots.item[s] != 0; s = (s + 1) & slots.mask)
        if (slots.hash[s] == hash && visit(slots.item[s] - 1))
            return true;
    return false;
}

bool SameBits(const PositionBits &a, const PositionBits &b)
{
    return a.w[0] == b.w[0] && a.w[1] == b.w[1] && a.w[2] == b.w[2];
}

// Whether b's cycle is a's cycle started at some point.
bool SameCycle(const std::vector<PositionBits> &abits, const MeshPoly &a,
               const std::vector<PositionBits> &bbits, const MeshPoly &b)
{
    const size_t n = a.points.size();
    if (b.points.size() != n)
        return false;
    if (n == 0)
        return true;
    for (size_t start = 0; start < n; start++) {
        size_t k = 0;
        while (k < n && SameBits(VertexBits(abits, a.points[k]), VertexBits(bbits, b.points[(start + k) % n])))
            k++;
        if (k == n)
            return true;
    }
    return false;
}

}  // namespace

std::vector<bool> ChangedPolygons(const MeshData &input, const MeshData &output)
{
    const std::vector<PositionBits> inBits = PointBits(input);
    const std::vector<PositionBits> outBits = PointBits(output);
    HashSlots kept;
    HashSlotsInit(&kept, input.polys.size());
    // Equal cycles are kept once: a probe never walks past copies.
    for (size_t i = 0; i < input.polys.size(); i++) {
        const uint64_t hash = CycleHash(inBits, input.polys[i]);
        if (!HashSlotsFind(kept, hash, [&](size_t k) {
                return SameCycle(inBits, input.polys[k], inBits, input.polys[i]);
            }))
            HashSlotsAdd(&kept, hash, i);
    }
    std::vector<bool> changed(output.polys.size());
    for (size_t i = 0; i < output.polys.size(); i++) {
        const MeshPoly &poly = output.polys[i];
        changed[i] = !HashSlotsFind(kept, CycleHash(outBits, poly), [&](size_t k) {
            return SameCycle(inBits, input.polys[k], outBits, poly);
        });
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
struct PlaneKey {
    long long q[4];
};

uint64_t PlaneHash(const PlaneKey &key)
{
    uint64_t h = 0;
    for (long long q : key.q)
        h = Mix(h ^ (uint64_t)q);
    return h;
}

bool SamePlaneKey(const PlaneKey &a, const PlaneKey &b)
{
    return a.q[0] == b.q[0] && a.q[1] == b.q[1] && a.q[2] == b.q[2] && a.q[3] == b.q[3];
}

PlaneKey MakePlaneKey(const Plane &p, double scale)
{
    PlaneKey key;
    for (int i = 0; i < 3; i++)
        key.q[i] = std::llround(p.n[i] * 1e6);
    key.q[3] = std::llround(p.d / scale * 1e6);
    return key;
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
            planes.push_back(MakePlaneKey(p, scale));
    }
    HashSlots slots;
    HashSlotsInit(&slots, planes.size());
    // A flat mesh has one plane for all its polygons: each is kept once,
    // so that a probe never walks past thousands of copies.
    for (size_t k = 0; k < planes.size(); k++) {
        const uint64_t hash = PlaneHash(planes[k]);
        if (!HashSlotsFind(slots, hash, [&](size_t j) { return SamePlaneKey(planes[j], planes[k]); }))
            HashSlotsAdd(&slots, hash, k);
    }
    std::vector<bool> inside(output.polys.size(), false);
    for (size_t i = 0; i < output.polys.size(); i++) {
        Plane p = PolyPlane(output, output.polys[i]);
        if (!p.valid)
            continue;
        const PlaneKey key = MakePlaneKey(p, scale);
        inside[i] = HashSlotsFind(slots, PlaneHash(key), [&](size_t k) { return SamePlaneKey(planes[k], key); });
    }
    return inside;
}

std::vector<bool> RunCreatedPolygons(const MeshData &input, const MeshData &output)
{
    std::vector<bool> created = ChangedPolygons(input, output);
    const std::vector<bool> inside = InInputPlanes(input, output);
    for (size_t i = 0; i < created.size(); i++)
        created[i] = created[i] && !inside[i];
    return created;
}
