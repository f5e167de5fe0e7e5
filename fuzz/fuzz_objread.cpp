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
    if (a.points != b.points || a.polys.size() != b.polys.size())
        return false;
    for (size_t k = 0; k < a.polys.size(); k++) {
        if (a.polys[k].points != b.polys[k].points || a.polys[k].surface != b.polys[k].surface)
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
        CHECK(mesh.points.empty() && mesh.polys.empty());
        CHECK(error.rfind("in.obj:", 0) == 0);
        CHECK(error.size() > 8);
        return 0;
    }
    for (const auto &p : mesh.points)
        CHECK(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]));
    for (const MeshPoly &poly : mesh.polys) {
        CHECK(!poly.surface.empty());
        for (int v : poly.points)
            CHECK(v >= 0 && (size_t)v < mesh.points.size());
    }
    // What the program writes reads back as the same mesh. A surface name
    // with blanks inside or a '#' is the one thing that does not survive
    // the text form; such meshes are not compared.
    for (const MeshPoly &poly : mesh.polys) {
        if (poly.surface.find_first_of(" \t#") != std::string::npos)
            return 0;
    }
    MeshData again;
    std::string error2;
    CHECK(MeshReadObjText(MeshObjText(mesh), "out.obj", &again, nullptr, &error2));
    CHECK(SameMesh(mesh, again));
    return 0;
}
