// Fuzz target: the glTF reader on files made from the input's bytes, valid
// in shape, whose parts refer to one another: nodes that name meshes and
// each other (cycles, shared children, several parents), meshes that list
// primitives, primitives that share accessors, accessors that share buffer
// views and claim counts far past their data. Byte-level mutation of JSON
// rarely keeps such a file readable; this target reaches the reader's
// reference checks and its scene budget on every run. Each input decodes
// into a GLB (the JSON and one binary chunk). What the reader takes must be
// a valid mesh within the budget it was given, as in fuzz_meshread.cpp.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <cmath>
#include <string>
#include <vector>

#define FUZZ_TARGET_NAME "fuzz_gltfgen"
#include "fuzz/check.h"
#include "meshio/meshio.h"

namespace {

const char kName[] = "/nonexistent-corvane-fuzz/in.glb";
const long long kCorners = 1 << 20;

// The input read a byte at a time; zeros past its end.
struct Bytes {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    unsigned Next() { return at < size ? data[at++] : 0; }
    // 0 to n-1
    unsigned Below(unsigned n) { return n ? Next() % n : 0; }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int k = 0; k < 4; k++)
            v = v << 8 | Next();
        return v;
    }
};

// A count: mostly small, sometimes near what the data holds, sometimes far
// past anything (the budget must refuse it before it is built).
uint32_t Count(Bytes *in, uint32_t holds)
{
    switch (in->Below(8)) {
    case 0: return in->U32();
    case 1: return holds + in->Below(3);
    case 2: return 1u << (16 + in->Below(14));
    default: return in->Below(holds + 1);
    }
}

std::string List(const std::vector<std::string> &items)
{
    std::string out = "[";
    for (size_t k = 0; k < items.size(); k++)
        out += (k ? "," : "") + items[k];
    return out + "]";
}

// A reference: mostly to an existing item, sometimes one past the end.
std::string Ref(Bytes *in, unsigned items)
{
    return std::to_string(in->Below(8) == 0 ? items + in->Below(2) : in->Below(items ? items : 1));
}

std::string Glb(Bytes *in)
{
    // The binary chunk: positions, then indices of every width.
    std::string bin;
    const unsigned positions = 1 + in->Below(48);
    static const float kSpecial[] = {0.0f, -0.0f, 1.0f, -1.0f, 1e-30f, 3e38f, -3e38f, 0.5f};
    for (unsigned k = 0; k < positions * 3; k++) {
        const unsigned pick = in->Next();
        const float f = pick < 32 ? kSpecial[pick % 8] : (float)(int)(pick % 17) - 8.0f;
        bin.append(reinterpret_cast<const char *>(&f), 4);
    }
    const size_t indexAt = bin.size();
    const unsigned indexBytes = in->Below(96);
    for (unsigned k = 0; k < indexBytes; k++)
        bin += (char)in->Below(positions + 2);
    while (bin.size() % 4)
        bin += '\0';

    std::vector<std::string> views = {"{\"buffer\":0,\"byteLength\":" + std::to_string(indexAt) + "}",
                                      "{\"buffer\":0,\"byteOffset\":" + std::to_string(indexAt) +
                                          ",\"byteLength\":" + std::to_string(bin.size() - indexAt) + "}",
                                      "{\"buffer\":0,\"byteLength\":" + std::to_string(bin.size()) +
                                          ",\"byteStride\":" + std::to_string(4 * (1 + in->Below(8))) + "}"};
    std::vector<std::string> accessors;
    const unsigned accessorCount = 1 + in->Below(6);
    static const int kComponents[] = {5126, 5121, 5123, 5125, 5122};
    for (unsigned a = 0; a < accessorCount; a++) {
        const bool vec3 = in->Below(2) == 0;
        const unsigned view = in->Below(4);  // 3: none
        accessors.push_back(
            "{" + (view < 3 ? "\"bufferView\":" + std::to_string(view) + "," : std::string()) +
            "\"componentType\":" + std::to_string(vec3 ? 5126 : kComponents[in->Below(5)]) + ",\"type\":\"" +
            (vec3 ? "VEC3" : "SCALAR") +
            "\",\"count\":" + std::to_string(Count(in, vec3 ? positions : indexBytes)) +
            (in->Below(4) == 0 ? ",\"byteOffset\":" + std::to_string(4 * in->Below(4)) : std::string()) +
            "}");
    }
    std::vector<std::string> materials = {"{\"name\":\"Red\"}", "{}",
                                          "{\"name\":\"" + std::string(1 + in->Below(64), 'm') + "\"}"};
    std::vector<std::string> meshes;
    const unsigned meshCount = 1 + in->Below(4);
    for (unsigned m = 0; m < meshCount; m++) {
        // a few primitives, listed once or many times over
        std::vector<std::string> kinds;
        for (unsigned p = 1 + in->Below(3); p > 0; p--)
            kinds.push_back("{\"attributes\":{\"POSITION\":" + Ref(in, accessorCount) + "}" +
                            (in->Below(2) ? ",\"indices\":" + Ref(in, accessorCount) : std::string()) +
                            ",\"mode\":" + std::to_string(in->Below(9)) +
                            (in->Below(2) ? ",\"material\":" + Ref(in, 3) : std::string()) + "}");
        const unsigned repeats = in->Below(4) == 0 ? 1 + in->Below(255) * 8 : 1;
        std::vector<std::string> prims;
        for (unsigned r = 0; r < repeats; r++)
            prims.insert(prims.end(), kinds.begin(), kinds.end());
        meshes.push_back("{\"primitives\":" + List(prims) + "}");
    }
    std::vector<std::string> nodes;
    const unsigned nodeCount = 1 + in->Below(in->Below(4) == 0 ? 200 : 12);
    for (unsigned n = 0; n < nodeCount; n++) {
        std::string node = "{";
        if (in->Below(4) != 0)
            node += "\"mesh\":" + Ref(in, meshCount) + ",";
        std::vector<std::string> children;
        for (unsigned c = in->Below(4); c > 0; c--)
            children.push_back(Ref(in, nodeCount));
        if (!children.empty())
            node += "\"children\":" + List(children) + ",";
        switch (in->Below(4)) {
        case 0: node += "\"translation\":[0,0," + std::to_string(n) + "],"; break;
        case 1: node += "\"scale\":[-1,1," + std::to_string(1 + in->Below(3)) + "],"; break;
        case 2: node += "\"rotation\":[0,0,0.7071068,0.7071068],"; break;
        default: break;
        }
        node += "\"name\":\"n\"}";
        nodes.push_back(node);
    }
    std::vector<std::string> roots;
    for (unsigned r = 1 + in->Below(nodeCount + 4); r > 0; r--)
        roots.push_back(Ref(in, nodeCount));
    std::string json =
        "{\"asset\":{\"version\":\"2.0\"},\"buffers\":[{\"byteLength\":" + std::to_string(bin.size()) +
        "}],\"bufferViews\":" + List(views) + ",\"accessors\":" + List(accessors) +
        ",\"materials\":" + List(materials) + ",\"meshes\":" + List(meshes) + ",\"nodes\":" + List(nodes) +
        ",\"scenes\":[{\"nodes\":" + List(roots) + "}],\"scene\":0}";
    while (json.size() % 4)
        json += ' ';

    std::string glb = "glTF";
    auto u32 = [&](uint32_t v) { glb.append(reinterpret_cast<const char *>(&v), 4); };
    u32(2);
    u32((uint32_t)(12 + 8 + json.size() + 8 + bin.size()));
    u32((uint32_t)json.size());
    u32(0x4E4F534A);  // JSON
    glb += json;
    u32((uint32_t)bin.size());
    u32(0x004E4942);  // BIN
    glb += bin;
    return glb;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes in{data, size};
    const std::string glb = Glb(&in);
    const MeshBudget budget = MeshBudgetForCorners(kCorners);
    MeshData mesh;
    MeshReadInfo info;
    std::string error;
    if (!MeshReadBytes(glb, kName, MeshFormat::Glb, &mesh, &info, &error, &budget)) {
        CHECK(mesh.points.empty() && MeshPolyCount(mesh) == 0);
        CHECK(error.rfind(kName, 0) == 0);
        return 0;
    }
    CHECK((long long)MeshPolyCount(mesh) * 3 <= kCorners && (long long)mesh.points.size() <= kCorners);
    for (const auto &p : mesh.points)
        CHECK(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]));
    for (size_t polyIndex = 0; polyIndex < MeshPolyCount(mesh); polyIndex++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, polyIndex);
        CHECK(poly.size() == 3 && !MeshPolySurface(mesh, polyIndex).empty());
        for (int v : poly)
            CHECK(v >= 0 && (size_t)v < mesh.points.size());
        CHECK(poly[0] != poly[1] && poly[1] != poly[2] && poly[2] != poly[0]);
    }
    return 0;
}
