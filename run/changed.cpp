// Which output polygons a run created or re-shaped. A run rebuilds or
// re-indexes points freely, so polygons are compared by the cycle of their
// point positions, written from the rotation that is smallest byte for byte
// so that the start point does not matter.
#include "run/run.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace {

// The polygon as one string of 24-byte position records, starting at its
// smallest rotation. Adding 0.0 turns -0.0 into 0.0 so both compare equal.
std::string CycleKey(const MeshData &mesh, const MeshPoly &poly)
{
    const size_t n = poly.points.size();
    std::string tokens(n * 24, '\0');
    for (size_t k = 0; k < n; k++) {
        const int index = poly.points[k];
        double xyz[3] = {0.0, 0.0, 0.0};
        if (index >= 0 && static_cast<size_t>(index) < mesh.points.size())
            for (int c = 0; c < 3; c++)
                xyz[c] = mesh.points[index][c] + 0.0;
        std::memcpy(&tokens[k * 24], xyz, 24);
    }
    size_t best = 0;
    for (size_t start = 1; start < n; start++) {
        for (size_t step = 0; step < n; step++) {
            const int order = std::memcmp(&tokens[((start + step) % n) * 24],
                                          &tokens[((best + step) % n) * 24], 24);
            if (order != 0) {
                if (order < 0)
                    best = start;
                break;
            }
        }
    }
    std::string key;
    key.reserve(tokens.size());
    key.append(tokens, best * 24, std::string::npos);
    key.append(tokens, 0, best * 24);
    return key;
}

}  // namespace

std::vector<bool> ChangedPolygons(const MeshData &input, const MeshData &output)
{
    std::unordered_set<std::string> kept;
    kept.reserve(input.polys.size());
    for (const MeshPoly &poly : input.polys)
        kept.insert(CycleKey(input, poly));
    std::vector<bool> changed(output.polys.size());
    for (size_t i = 0; i < output.polys.size(); i++)
        changed[i] = kept.count(CycleKey(output, output.polys[i])) == 0;
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
std::string PlaneKey(const Plane &p, double scale)
{
    long long q[4];
    for (int i = 0; i < 3; i++)
        q[i] = std::llround(p.n[i] * 1e6);
    q[3] = std::llround(p.d / scale * 1e6);
    return std::string(reinterpret_cast<const char *>(q), sizeof q);
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
    std::unordered_map<std::string, int> planes;
    for (const MeshPoly &poly : input.polys) {
        Plane p = PolyPlane(input, poly);
        if (p.valid)
            planes.emplace(PlaneKey(p, scale), 1);
    }
    std::vector<bool> inside(output.polys.size(), false);
    for (size_t i = 0; i < output.polys.size(); i++) {
        Plane p = PolyPlane(output, output.polys[i]);
        inside[i] = p.valid && planes.count(PlaneKey(p, scale)) > 0;
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
