// Plain mesh data: what mesh files and the generators produce, and what the
// emulated host loads into its layers. Below both the host and the file
// readers, so that neither needs the other.
#ifndef CORVANE_MESHDATA_H
#define CORVANE_MESHDATA_H

#include <array>
#include <string>
#include <vector>

struct MeshPoly {
    std::vector<int> points;   // 0-based indices into MeshData::points
    std::string surface;
    bool hasSurface = true;    // false: the host reports no surface name
    bool selected = false;
};

// A material a file defines, kept whole so that a writer of the same format
// can give it back: its name (a surface name of the mesh) and, for glTF, its
// JSON object as the file held it, texture references left out.
struct MeshMaterial {
    std::string name;
    std::string gltf;
};

struct MeshData {
    std::vector<std::array<double, 3>> points;
    std::vector<MeshPoly> polys;
    // The `mtllib` statements of the file it was read from, as written: the
    // libraries its surface names come from, written back with it.
    std::vector<std::string> materialLibraries;
    // The materials of the file it was read from, by name.
    std::vector<MeshMaterial> materials;
};

#endif
