// Fuzz target: the OBJ reader on arbitrary text. A read either fails with an
// empty mesh and a message naming the file (and, past the first line read,
// the line), or gives a mesh whose every polygon names points that exist and
// whose coordinates are finite; such a mesh written out and read again is
// the same mesh, bit for bit.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <cmath>
#include <string>

#define FUZZ_TARGET_NAME "fuzz_objread"
#include "fuzz/check.h"
#include "meshio/meshio.h"

namespace {

bool SameMesh(const MeshData &a, const MeshData &b)
{
    if (a.points != b.points || MeshPolyCount(a) != MeshPolyCount(b))
        return false;
    for (size_t k = 0; k < MeshPolyCount(a); k++) {
        if (MeshPolyPoints(a, k) != MeshPolyPoints(b, k) || MeshPolySurface(a, k) != MeshPolySurface(b, k))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    MeshData mesh;
    MeshReadInfo info;
    std::string error;
    // A million corners at most, as the other readers' targets allow.
    const MeshBudget budget = MeshBudgetForCorners(1 << 20);
    bool ok = MeshReadObjText(text, "in.obj", &mesh, &info, &error, &budget);
    if (!ok) {
        CHECK(mesh.points.empty() && MeshPolyCount(mesh) == 0);
        CHECK(error.rfind("in.obj:", 0) == 0);
        CHECK(error.size() > 8);
        return 0;
    }
    for (const auto &p : mesh.points)
        CHECK(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]));
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(mesh); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, polyIndex);
        CHECK(!MeshPolySurface(mesh, polyIndex).empty());
        for (int v : poly)
            CHECK(v >= 0 && (size_t)v < mesh.points.size());
    }
    // What the program writes reads back as the same mesh. A surface name
    // with blanks inside or a '#' is the one thing that does not survive
    // the text form; such meshes are not compared.
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(mesh); polyIndex++) {
        if (MeshPolySurface(mesh, polyIndex).find_first_of(" \t#") != std::string::npos)
            return 0;
    }
    MeshData again;
    std::string error2;
    CHECK(MeshReadObjText(MeshObjText(mesh), "out.obj", &again, nullptr, &error2));
    CHECK(SameMesh(mesh, again));
    return 0;
}
