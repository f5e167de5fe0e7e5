// Which output polygons a run created or re-shaped. A run rebuilds or
// re-indexes points freely, so polygons are compared by the cycle of their
// point positions, written from the rotation that is smallest byte for byte
// so that the start point does not matter.
#include "cli/preview/preview.h"

#include <cstring>
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
