// Fuzz target: the reader of one mesh format (FUZZ_FORMAT, set per target by
// the build) on arbitrary bytes. A read either fails with an empty mesh and
// a message naming the file, or gives polygons of 3 or more points that
// name points that exist, with finite coordinates (and, from the triangle
// formats, triangles of three distinct points). Written out in the same
// format and read again, PLY, OFF and STL give the same mesh bit for bit;
// glTF, whose positions may have been moved by a transform, gives the same
// bytes from the second writing on.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <cmath>
#include <string>

#define FUZZ_TARGET_NAME "fuzz_meshread"
#include "fuzz/check.h"
#include "meshio/meshio.h"

namespace {

// A folder that does not exist: a glTF's external buffers are never found.
const char kName[] = "/nonexistent-corvane-fuzz/in";

// A million corners: what the reader may make stays well within the
// fuzzer's memory limits, so that reaching one means a reader held far more
// than the mesh it was allowed to make.
const MeshBudget kBudget = MeshBudgetForCorners(1 << 20);

bool SameMesh(const MeshData &a, const MeshData &b)
{
    if (a.points != b.points || MeshPolyCount(a) != MeshPolyCount(b))
        return false;
    for (size_t k = 0; k < MeshPolyCount(a); k++)
        if (MeshPolyPoints(a, k) != MeshPolyPoints(b, k))
            return false;
    return true;
}

MeshData ReadBack(const std::string &bytes, MeshFormat format)
{
    MeshData mesh;
    std::string error;
    if (!MeshReadBytes(bytes, kName, format, &mesh, nullptr, &error, &kBudget)) {
        fprintf(stderr, "%s\n", error.c_str());
        Fail("what was written does not read back");
    }
    return mesh;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const MeshFormat format = FUZZ_FORMAT;
    const bool triangles = format == MeshFormat::Stl || format == MeshFormat::Gltf ||
                           format == MeshFormat::Glb;
    std::string bytes(reinterpret_cast<const char *>(data), size);
    MeshData mesh;
    MeshReadInfo info;
    std::string error;
    if (!MeshReadBytes(bytes, kName, format, &mesh, &info, &error, &kBudget)) {
        CHECK(mesh.points.empty() && MeshPolyCount(mesh) == 0);
        CHECK(error.rfind(kName, 0) == 0 && error.size() > sizeof kName + 1);
        return 0;
    }
    for (const auto &p : mesh.points)
        CHECK(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]));
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(mesh); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, polyIndex);
        CHECK(poly.size() >= 3 && !MeshPolySurface(mesh, polyIndex).empty());
        CHECK(!triangles || poly.size() == 3);
        for (int v : poly)
            CHECK(v >= 0 && (size_t)v < mesh.points.size());
        if (triangles)
            CHECK(poly[0] != poly[1] && poly[1] != poly[2] && poly[2] != poly[0]);
    }
    CHECK(info.welded >= 0 && info.collapsed >= 0);

    std::string first, again, third;
    CHECK(MeshFileBytes(mesh, format, kName, &first, &error));
    const MeshData back = ReadBack(first, format);
    if (format == MeshFormat::Ply || format == MeshFormat::Off || format == MeshFormat::Stl)
        CHECK(SameMesh(mesh, back));
    CHECK(MeshFileBytes(back, format, kName, &again, &error));
    CHECK(MeshFileBytes(ReadBack(again, format), format, kName, &third, &error));
    CHECK(again == third);
    return 0;
}
