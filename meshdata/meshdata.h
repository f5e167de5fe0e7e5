// Plain mesh data: what mesh files and the generators produce, and what the
// emulated host loads into its layers. Below both the host and the file
// readers, so that neither needs the other.
//
// Flat arrays, not a record per polygon: a mesh of millions of polygons is
// a handful of allocations, its arrays go to the writers and to numpy as
// they are, and a surface name is stored once however many polygons use it.
#ifndef CORVANE_MESHDATA_H
#define CORVANE_MESHDATA_H

#include <array>
#include <cassert>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The surface index of a polygon the host reports no surface name for.
constexpr int kMeshNoSurface = -1;

// A material a file defines, kept whole so that a writer of the same format
// can give it back: its name (a surface name of the mesh) and, for glTF, its
// JSON object as the file held it, texture references left out.
struct MeshMaterial {
    std::string name;
    std::string gltf;
};

// One polygon's point indices as a read-only view: into a MeshData's
// arrays (valid until the next polygon is added), or of a vector a caller
// holds while it adds a polygon.
struct MeshPointSpan {
    const int *first = nullptr;
    size_t count = 0;

    MeshPointSpan() = default;
    explicit MeshPointSpan(const int *p, size_t n) : first(p), count(n) {}
    MeshPointSpan(const std::vector<int> &v) : first(v.data()), count(v.size()) {}
    // Assigned only as a variable: a view returned by MeshPolyPoints is
    // read-only, and assigning a list to it would change nothing.
    MeshPointSpan(const MeshPointSpan &) = default;
    MeshPointSpan &operator=(const MeshPointSpan &) & = default;
    const int *begin() const { return first; }
    const int *end() const { return first + count; }
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    int operator[](size_t k) const { return first[k]; }
    int front() const { return first[0]; }
    int back() const { return first[count - 1]; }
    std::vector<int> ToVector() const { return std::vector<int>(begin(), end()); }
};

// Whether two point lists are the same, point for point.
inline bool operator==(MeshPointSpan a, MeshPointSpan b)
{
    if (a.size() != b.size())
        return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (a[k] != b[k])
            return false;
    return true;
}
inline bool operator!=(MeshPointSpan a, MeshPointSpan b)
{
    return !(a == b);
}

struct MeshData {
    std::vector<std::array<double, 3>> points;
    // Polygon i's points (0-based into `points`) are
    // polyPoints[polyStart[i] .. polyStart[i + 1]); polyStart always holds
    // one entry more than there are polygons, the first 0.
    std::vector<int> polyPoints;
    std::vector<size_t> polyStart{0};
    // Per polygon: its name's index in `surfaces` (or kMeshNoSurface), and
    // 1 where the polygon is selected.
    std::vector<int> polySurface;
    std::vector<unsigned char> polySelected;
    // Each distinct surface name once, in order of first use. Only ever
    // appended to: the indices polygons hold stay valid.
    std::vector<std::string> surfaces;
    // The names' hashes, for MeshInternSurface: a hash to its index in
    // `surfaces`, the name itself not stored again.
    std::unordered_multimap<size_t, int> surfaceLookup;
    // The `mtllib` statements of the file it was read from, as written: the
    // libraries its surface names come from, written back with it.
    std::vector<std::string> materialLibraries;
    // The materials of the file it was read from, by name.
    std::vector<MeshMaterial> materials;
};

// The number of polygons.
inline size_t MeshPolyCount(const MeshData &mesh)
{
    return mesh.polySurface.size();
}

// Polygon `poly`'s point indices.
inline MeshPointSpan MeshPolyPoints(const MeshData &mesh, size_t poly)
{
    const size_t a = mesh.polyStart[poly], b = mesh.polyStart[poly + 1];
    return MeshPointSpan(mesh.polyPoints.data() + a, b - a);
}

// Whether the host reports a surface name for polygon `poly`.
inline bool MeshPolyHasSurface(const MeshData &mesh, size_t poly)
{
    return mesh.polySurface[poly] != kMeshNoSurface;
}

// Polygon `poly`'s surface name; empty where it has none.
inline const std::string &MeshPolySurface(const MeshData &mesh, size_t poly)
{
    static const std::string none;
    const int s = mesh.polySurface[poly];
    return s == kMeshNoSurface ? none : mesh.surfaces[static_cast<size_t>(s)];
}

// Whether polygon `poly` is selected.
inline bool MeshPolySelected(const MeshData &mesh, size_t poly)
{
    return mesh.polySelected[poly] != 0;
}

// The index of `name` in `mesh->surfaces`, appended there if it is new: a
// reader calls it for each name it meets and gives its polygons the index.
inline int MeshInternSurface(MeshData *mesh, std::string_view name)
{
    // Names appended to the table directly are hashed on the first call
    // after them.
    for (size_t k = mesh->surfaceLookup.size(); k < mesh->surfaces.size(); ++k)
        mesh->surfaceLookup.emplace(std::hash<std::string_view>()(mesh->surfaces[k]), static_cast<int>(k));
    const size_t h = std::hash<std::string_view>()(name);
    auto range = mesh->surfaceLookup.equal_range(h);
    for (auto it = range.first; it != range.second; ++it)
        if (mesh->surfaces[static_cast<size_t>(it->second)] == name)
            return it->second;
    const int index = static_cast<int>(mesh->surfaces.size());
    mesh->surfaces.emplace_back(name);
    mesh->surfaceLookup.emplace(h, index);
    return index;
}

// Appends a polygon of `points` with surface index `surface` (from
// MeshInternSurface, or kMeshNoSurface).
inline void MeshAddPoly(MeshData *mesh, MeshPointSpan points, int surface, bool selected = false)
{
    assert(surface == kMeshNoSurface ||
           (surface >= 0 && static_cast<size_t>(surface) < mesh->surfaces.size()));
    mesh->polyPoints.insert(mesh->polyPoints.end(), points.begin(), points.end());
    mesh->polyStart.push_back(mesh->polyPoints.size());
    mesh->polySurface.push_back(surface);
    mesh->polySelected.push_back(selected ? 1 : 0);
}

// Appends a copy of `from`'s polygon `poly`: its points, its surface name
// (found in, or added to, `mesh`'s table) and its selection.
inline void MeshAddPolyFrom(MeshData *mesh, const MeshData &from, size_t poly)
{
    const int s = from.polySurface[poly];
    const int surface = s == kMeshNoSurface ? kMeshNoSurface
                                            : MeshInternSurface(mesh, from.surfaces[static_cast<size_t>(s)]);
    MeshAddPoly(mesh, MeshPolyPoints(from, poly), surface, MeshPolySelected(from, poly));
}

inline void MeshAddPoly(MeshData *mesh, std::initializer_list<int> points, int surface, bool selected = false)
{
    MeshAddPoly(mesh, MeshPointSpan(points.begin(), points.size()), surface, selected);
}

// Room for `polys` more polygons of `corners` points in all.
inline void MeshReservePolys(MeshData *mesh, size_t polys, size_t corners)
{
    mesh->polyPoints.reserve(mesh->polyPoints.size() + corners);
    mesh->polyStart.reserve(mesh->polyStart.size() + polys);
    mesh->polySurface.reserve(mesh->polySurface.size() + polys);
    mesh->polySelected.reserve(mesh->polySelected.size() + polys);
}

// Removes every polygon; the points and the name table stay.
inline void MeshClearPolys(MeshData *mesh)
{
    mesh->polyPoints.clear();
    mesh->polyStart.assign(1, 0);
    mesh->polySurface.clear();
    mesh->polySelected.clear();
}

#endif
