// glTF 2.0 reading and writing (.gltf with its buffers, and .glb), through
// the system's glTF library for the JSON and the buffers. Read: the default
// scene's nodes (every root node when the file has no scene), each mesh
// primitive's triangles (lists, strips and fans; points and lines are
// skipped), positions moved by the node's world transform and welded at
// equal positions, the material's name as the surface name and the material
// itself kept by that name. Written: one mesh of one primitive per surface,
// triangulated, float32 positions shared by all primitives, each surface's
// material the one kept by its name, or a bare one.
#include "meshio/formats.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string_view>

#include <nlohmann/json.hpp>
#include <tiny_gltf.h>

namespace {

using Json = nlohmann::json;

// The strings of a file's JSON may hold this much at most, counted as
// base64 decodes it: they are held several times over while the library
// decodes its data URIs (the text, its parsed copy, the bytes decoded).
const size_t kMaxDataUriBytes = size_t(64) << 20;
// The library parses JSON values by recursion, one call per level of
// nesting: a few kilobytes of brackets would exhaust the stack. Real files
// nest a dozen levels at most.
const int kMaxJsonDepth = 64;
// Each JSON object can become one of the library's records (a material
// takes about 2 KB): a file of a few hundred kilobytes of "{}," could ask
// for gigabytes. A model of a few thousand meshes uses a few tens of
// thousands of objects.
const long long kMaxJsonObjects = 1 << 17;

namespace fs = std::filesystem;

// What the file callbacks know: the folder the file's buffers must lie in,
// and the first URI found outside it.
struct Folder {
    std::string base;            // the folder as named ("" for the current one)
    fs::path canonical;          // the same, links resolved
    std::string outside;         // the first path refused, empty while none
    uintmax_t maxFileBytes = 0;  // the largest buffer file read
    std::string tooLarge;        // the first buffer file refused for its size
};

// Whether `path` lies inside the folder, links followed: "../x.bin", an
// absolute path or a link out of the folder are refused.
bool Inside(Folder *folder, const std::string &path)
{
    // The library joins the folder and a URI with a slash unless the folder
    // ends in one already (the root folder, "/").
    const std::string prefix = folder->base.empty() || folder->base.back() == '/' ? folder->base
                                                                                  : folder->base + "/";
    if (path.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::error_code ec;
    fs::path real = fs::weakly_canonical(fs::path(path), ec);
    if (ec)
        return false;
    auto rel = real.lexically_relative(folder->canonical);
    return !rel.empty() && *rel.begin() != ".." && rel.is_relative();
}

bool FileExistsInFolder(const std::string &path, void *user)
{
    Folder *folder = static_cast<Folder *>(user);
    if (!Inside(folder, path)) {
        if (folder->outside.empty())
            folder->outside = path;
        return false;
    }
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string SamePath(const std::string &path, void *)
{
    return path;
}

bool ReadInFolder(std::vector<unsigned char> *out, std::string *err, const std::string &path, void *user)
{
    Folder *folder = static_cast<Folder *>(user);
    if (!Inside(folder, path)) {
        if (folder->outside.empty())
            folder->outside = path;
        return false;
    }
    // The library reads a buffer file whole before it compares its size with
    // the buffer's length: a file past what the budget's points and corners
    // could ever use is refused unread.
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > folder->maxFileBytes) {
        if (folder->tooLarge.empty())
            folder->tooLarge = path + " (" + std::to_string(size) + " bytes)";
        return false;
    }
    return tinygltf::ReadWholeFile(out, err, path, nullptr);
}

bool NoWrite(std::string *, const std::string &, const std::vector<unsigned char> &, void *)
{
    return false;
}

// Images are never decoded: nothing of them reaches the mesh.
bool SkipImage(tinygltf::Image *, const int, std::string *, std::string *, int, int, const unsigned char *,
               int, void *)
{
    return true;
}

// Checks the JSON text `json`, which starts at byte `offset` of the file,
// before the library parses it: its nesting, its number of objects and the
// bytes in its strings (a data URI's header up to its comma not counted,
// and however its characters are escaped). false with *why, which names the
// byte, when one is past its limit; malformed JSON is left to the parser.
bool CheckJsonShape(std::string_view json, size_t offset, std::string *why)
{
    int depth = 0;
    long long objects = 0;
    size_t stringBytes = 0;
    for (size_t i = 0; i < json.size(); i++) {
        const char c = json[i];
        if (c == '"') {
            size_t end = i + 1;
            while (end < json.size() && json[end] != '"')
                end += json[end] == '\\' ? 2 : 1;
            end = std::min(end, json.size());
            const std::string_view text = json.substr(i + 1, end - i - 1);
            const size_t comma = text.substr(0, 256).find(',');
            stringBytes += text.size() - (comma == std::string_view::npos ? 0 : comma + 1);
            if (stringBytes / 4 * 3 > kMaxDataUriBytes) {
                *why = "byte " + std::to_string(offset + i) + ": the JSON's strings hold " +
                       std::to_string(stringBytes) + " bytes or more, more than the " +
                       std::to_string(kMaxDataUriBytes >> 20) + " MiB (decoded) read from data URIs";
                return false;
            }
            i = end;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxJsonDepth) {
                *why = "byte " + std::to_string(offset + i) + ": the JSON nests deeper than " +
                       std::to_string(kMaxJsonDepth) + " levels";
                return false;
            }
            if (c == '{' && ++objects > kMaxJsonObjects) {
                *why = "byte " + std::to_string(offset + i) + ": the JSON holds more than " +
                       std::to_string(kMaxJsonObjects) + " objects";
                return false;
            }
        } else if (c == '}' || c == ']') {
            depth--;
        }
    }
    return true;
}

// ---- transforms -------------------------------------------------------------------

// Column-major 4x4, as glTF stores it.
struct Matrix {
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

Matrix Multiply(const Matrix &a, const Matrix &b)
{
    Matrix r;
    for (int c = 0; c < 4; c++)
        for (int row = 0; row < 4; row++) {
            double s = 0;
            for (int k = 0; k < 4; k++)
                s += a.m[k * 4 + row] * b.m[c * 4 + k];
            r.m[c * 4 + row] = s;
        }
    return r;
}

// The node's own transform: its matrix, or translation * rotation * scale.
Matrix LocalMatrix(const tinygltf::Node &node)
{
    Matrix r;
    if (node.matrix.size() == 16) {
        for (int k = 0; k < 16; k++)
            r.m[k] = node.matrix[(size_t)k];
        return r;
    }
    if (node.rotation.size() == 4) {
        const double x = node.rotation[0], y = node.rotation[1], z = node.rotation[2], w = node.rotation[3];
        r.m[0] = 1 - 2 * (y * y + z * z);
        r.m[1] = 2 * (x * y + z * w);
        r.m[2] = 2 * (x * z - y * w);
        r.m[4] = 2 * (x * y - z * w);
        r.m[5] = 1 - 2 * (x * x + z * z);
        r.m[6] = 2 * (y * z + x * w);
        r.m[8] = 2 * (x * z + y * w);
        r.m[9] = 2 * (y * z - x * w);
        r.m[10] = 1 - 2 * (x * x + y * y);
    }
    if (node.scale.size() == 3)
        for (int c = 0; c < 3; c++)
            for (int row = 0; row < 3; row++)
                r.m[c * 4 + row] *= node.scale[(size_t)c];
    if (node.translation.size() == 3)
        for (int k = 0; k < 3; k++)
            r.m[12 + k] = node.translation[(size_t)k];
    return r;
}

double Determinant3(const Matrix &a)
{
    const double *m = a.m;
    return m[0] * (m[5] * m[10] - m[9] * m[6]) - m[4] * (m[1] * m[10] - m[9] * m[2]) +
           m[8] * (m[1] * m[6] - m[5] * m[2]);
}

// ---- accessors -------------------------------------------------------------------

// An accessor's elements in its buffer, bounds checked.
struct Span {
    const unsigned char *base = nullptr;
    size_t stride = 0;
    size_t count = 0;
};

bool AccessorSpan(const tinygltf::Model &model, int index, int type, size_t elementSize, Span *span,
                  std::string *why)
{
    if (index < 0 || (size_t)index >= model.accessors.size()) {
        *why = "accessor " + std::to_string(index) + " does not exist";
        return false;
    }
    const tinygltf::Accessor &a = model.accessors[(size_t)index];
    const std::string which = "accessor " + std::to_string(index);
    if (a.sparse.isSparse) {
        *why = which + " is sparse, which is not read";
        return false;
    }
    if (a.type != type) {
        *why = which + " has the wrong type";
        return false;
    }
    if (a.bufferView < 0 || (size_t)a.bufferView >= model.bufferViews.size()) {
        *why = which + " has no buffer view";
        return false;
    }
    const tinygltf::BufferView &view = model.bufferViews[(size_t)a.bufferView];
    if (view.buffer < 0 || (size_t)view.buffer >= model.buffers.size()) {
        *why = "buffer view " + std::to_string(a.bufferView) + " names no buffer";
        return false;
    }
    const std::vector<unsigned char> &data = model.buffers[(size_t)view.buffer].data;
    if (view.byteOffset > data.size() || view.byteLength > data.size() - view.byteOffset) {
        *why = "buffer view " + std::to_string(a.bufferView) + " reaches past the end of its buffer";
        return false;
    }
    const size_t stride = view.byteStride ? view.byteStride : elementSize;
    if (stride < elementSize) {
        *why = "buffer view " + std::to_string(a.bufferView) + " has a stride shorter than an element";
        return false;
    }
    if (a.count > 0 && (a.byteOffset > view.byteLength || elementSize > view.byteLength - a.byteOffset ||
                        (a.count - 1) > (view.byteLength - a.byteOffset - elementSize) / stride)) {
        *why = which + " reaches past the end of its buffer view";
        return false;
    }
    span->base = data.data() + view.byteOffset + a.byteOffset;
    span->stride = stride;
    span->count = a.count;
    return true;
}

struct Loader {
    const tinygltf::Model &model;
    const std::string &name;
    MeshData *mesh;
    MeshReadInfo *info;
    std::string *error;
    PointWeld weld;
    // (position accessor, node) -> the points of its elements
    std::map<std::pair<int, int>, std::vector<int>> points;
    std::vector<bool> visited;

    bool Fail(const std::string &what)
    {
        if (error)
            *error = name + ": " + what;
        return false;
    }
};

bool ReadPositions(Loader *ld, int accessor, int node, const Matrix &world, const std::string &where,
                   const std::vector<int> **out)
{
    auto key = std::make_pair(accessor, node);
    auto found = ld->points.find(key);
    if (found != ld->points.end()) {
        *out = &found->second;
        return true;
    }
    Span span;
    std::string why;
    if (!AccessorSpan(ld->model, accessor, TINYGLTF_TYPE_VEC3, 12, &span, &why))
        return ld->Fail(where + ": POSITION " + why);
    if (ld->model.accessors[(size_t)accessor].componentType != TINYGLTF_COMPONENT_TYPE_FLOAT)
        return ld->Fail(where + ": POSITION accessor " + std::to_string(accessor) + " is not float");
    std::vector<int> &indices = ld->points[key];
    indices.reserve(span.count);
    const double *m = world.m;
    for (size_t i = 0; i < span.count; i++) {
        float f[3];
        std::memcpy(f, span.base + i * span.stride, sizeof f);
        const double x = f[0], y = f[1], z = f[2];
        const double p[3] = {m[0] * x + m[4] * y + m[8] * z + m[12], m[1] * x + m[5] * y + m[9] * z + m[13],
                             m[2] * x + m[6] * y + m[10] * z + m[14]};
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
            return ld->Fail(
                where + ": position " + std::to_string(i + 1) + " is not finite" +
                (std::isfinite(x) && std::isfinite(y) && std::isfinite(z) ? " once transformed" : ""));
        if (!FitsFloat32(p[0]) || !FitsFloat32(p[1]) || !FitsFloat32(p[2]))
            return ld->Fail(where + ": position " + std::to_string(i + 1) +
                            " is too large for float32 once transformed");
        indices.push_back(PointWeldAdd(&ld->weld, p[0], p[1], p[2]));
    }
    *out = &indices;
    return true;
}

// The primitive's vertex numbers, in order: its indices, or 0..n-1.
bool ReadIndices(Loader *ld, const tinygltf::Primitive &prim, size_t vertices, const std::string &where,
                 std::vector<uint32_t> *out)
{
    if (prim.indices < 0) {
        out->resize(vertices);
        for (size_t i = 0; i < vertices; i++)
            (*out)[i] = (uint32_t)i;
        return true;
    }
    if ((size_t)prim.indices >= ld->model.accessors.size())
        return ld->Fail(where + ": indices accessor " + std::to_string(prim.indices) + " does not exist");
    const int component = ld->model.accessors[(size_t)prim.indices].componentType;
    size_t size = 0;
    if (component == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE)
        size = 1;
    else if (component == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT)
        size = 2;
    else if (component == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)
        size = 4;
    else
        return ld->Fail(where + ": indices are not unsigned integers");
    Span span;
    std::string why;
    if (!AccessorSpan(ld->model, prim.indices, TINYGLTF_TYPE_SCALAR, size, &span, &why))
        return ld->Fail(where + ": indices " + why);
    out->resize(span.count);
    for (size_t i = 0; i < span.count; i++) {
        const unsigned char *at = span.base + i * span.stride;
        uint32_t v = 0;
        if (size == 1) {
            v = at[0];
        } else if (size == 2) {
            uint16_t s;
            std::memcpy(&s, at, 2);
            v = s;
        } else {
            std::memcpy(&v, at, 4);
        }
        if (v >= vertices)
            return ld->Fail(where + ": index " + std::to_string(i + 1) + " is " + std::to_string(v) +
                            ", past the " + std::to_string(vertices) + " positions");
        (*out)[i] = v;
    }
    return true;
}

bool ReadPrimitive(Loader *ld, int meshIndex, int primIndex, int node, const Matrix &world)
{
    const tinygltf::Primitive &prim = ld->model.meshes[(size_t)meshIndex].primitives[(size_t)primIndex];
    const std::string where = "mesh " + std::to_string(meshIndex) + " primitive " + std::to_string(primIndex);
    const int mode = prim.mode;
    if (mode != TINYGLTF_MODE_TRIANGLES && mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
        mode != TINYGLTF_MODE_TRIANGLE_FAN) {
        if (mode < 0 || mode > TINYGLTF_MODE_TRIANGLE_FAN)
            return ld->Fail(where + ": unknown mode " + std::to_string(mode));
        ld->info->ignoredElements++;
        return true;
    }
    auto position = prim.attributes.find("POSITION");
    if (position == prim.attributes.end())
        return ld->Fail(where + " has no POSITION attribute");
    const std::vector<int> *points = nullptr;
    if (!ReadPositions(ld, position->second, node, world, where, &points))
        return false;
    std::vector<uint32_t> order;
    if (!ReadIndices(ld, prim, points->size(), where, &order))
        return false;
    if (mode == TINYGLTF_MODE_TRIANGLES && order.size() % 3 != 0)
        return ld->Fail(where + ": " + std::to_string(order.size()) +
                        " vertices do not make whole triangles");
    std::string_view name = "Default";
    if (prim.material >= 0 && (size_t)prim.material < ld->model.materials.size() &&
        !ld->model.materials[(size_t)prim.material].name.empty())
        name = ld->model.materials[(size_t)prim.material].name;
    const int surface = MeshInternSurface(ld->mesh, name);
    // A mirroring transform turns the triangles over: wind them back.
    const bool mirrored = Determinant3(world) < 0;
    auto triangle = [&](uint32_t a, uint32_t b, uint32_t c) {
        int pa = (*points)[a], pb = (*points)[b], pc = (*points)[c];
        if (mirrored)
            std::swap(pb, pc);
        PointWeldTriangle(ld->mesh, pa, pb, pc, surface, ld->info);
    };
    const size_t n = order.size();
    if (mode == TINYGLTF_MODE_TRIANGLES) {
        for (size_t i = 0; i + 2 < n; i += 3)
            triangle(order[i], order[i + 1], order[i + 2]);
    } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
        // every other triangle of a strip is wound the other way round
        for (size_t i = 0; i + 2 < n; i++) {
            if (i % 2 == 0)
                triangle(order[i], order[i + 1], order[i + 2]);
            else
                triangle(order[i + 1], order[i], order[i + 2]);
        }
    } else {
        for (size_t i = 1; i + 1 < n; i++)
            triangle(order[0], order[i], order[i + 1]);
    }
    return true;
}

// The nodes below `root`, depth first with an explicit stack (a chain of
// nodes as deep as the file is long must not exhaust the call stack), each
// with its world transform. A node reached twice (a cycle, or two parents)
// is read the first time only.
bool ReadNodes(Loader *ld, int root)
{
    std::vector<std::pair<int, Matrix>> stack = {{root, Matrix()}};
    while (!stack.empty()) {
        const int index = stack.back().first;
        const Matrix parent = stack.back().second;
        stack.pop_back();
        if (index < 0 || (size_t)index >= ld->model.nodes.size())
            return ld->Fail("node " + std::to_string(index) + " does not exist");
        if (ld->visited[(size_t)index])
            continue;
        ld->visited[(size_t)index] = true;
        const tinygltf::Node &node = ld->model.nodes[(size_t)index];
        const Matrix world = Multiply(parent, LocalMatrix(node));
        if (node.mesh >= 0) {
            if ((size_t)node.mesh >= ld->model.meshes.size())
                return ld->Fail("node " + std::to_string(index) + " names mesh " + std::to_string(node.mesh) +
                                ", which does not exist");
            const size_t prims = ld->model.meshes[(size_t)node.mesh].primitives.size();
            for (size_t p = 0; p < prims; p++)
                if (!ReadPrimitive(ld, node.mesh, (int)p, index, world))
                    return false;
        }
        // pushed last to first, so that the first child is read first
        for (size_t k = node.children.size(); k-- > 0;)
            stack.emplace_back(node.children[k], world);
    }
    return true;
}

// ---- the JSON on its own -------------------------------------------------------
// The glTF library reports malformed JSON in its own words and without a
// place; the text is read once more here so that the user learns the byte.

const uint32_t kChunkJson = 0x4E4F534A;  // "JSON"

// The JSON text of a .gltf (all of it) or a .glb (its first chunk), parsed
// into *doc; false with the message for *error when the container or the
// JSON is malformed.
bool ParseJson(const std::string &data, bool binary, Json *doc, std::string *why)
{
    size_t start = 0, length = data.size();
    if (binary) {
        uint32_t word[5] = {0, 0, 0, 0, 0};
        std::memcpy(word, data.data(), std::min(data.size(), sizeof word));
        if (data.size() < 4 || std::memcmp(data.data(), "glTF", 4) != 0) {
            *why = "byte 0: not a GLB file: it does not start with 'glTF'";
            return false;
        }
        if (data.size() < 20) {
            *why = "byte " + std::to_string(data.size()) + ": the file ends inside the GLB header";
            return false;
        }
        if (word[1] != 2) {
            *why = "byte 4: GLB version " + std::to_string(word[1]) + ", not 2";
            return false;
        }
        if (word[4] != kChunkJson) {
            *why = "byte 16: the first chunk is not the JSON chunk";
            return false;
        }
        if (word[3] > data.size() - 20) {
            *why = "byte 12: the JSON chunk of " + std::to_string(word[3]) + " bytes runs past the file's " +
                   std::to_string(data.size());
            return false;
        }
        start = 20;
        length = word[3];
    }
    try {
        *doc = Json::parse(data.begin() + (long)start, data.begin() + (long)(start + length));
    } catch (const Json::parse_error &e) {
        // e.byte counts the characters read, the one it stopped at included.
        const size_t at = start + (e.byte > 0 ? e.byte - 1 : 0);
        *why =
            "byte " + std::to_string(at) +
            (at >= start + length ? ": the JSON text ends too early" : ": the JSON text is malformed here");
        return false;
    } catch (const Json::exception &) {
        // A number past what a double holds is the one other way the text
        // can fail, and the library gives no place for it.
        *why = "byte " + std::to_string(start) + ": the JSON text holds a number too large for a double";
        return false;
    }
    if (!doc->is_object()) {
        *why = "byte " + std::to_string(start) + ": the JSON text is not an object";
        return false;
    }
    return true;
}

// What reading the nodes below `roots` would make, added up before anything
// is built: a mesh is made again for every node that uses it, and a
// primitive for every time its mesh lists it, so that a file of a few
// hundred kilobytes can name billions of triangles. Walks the nodes as
// ReadNodes does; a broken reference is left for the read to report.
// false with *why when the total is past the budget.
bool CheckSceneBudget(const tinygltf::Model &model, const std::vector<int> &roots, const MeshBudget &budget,
                      std::string *why)
{
    long long corners = 0, points = 0, polygons = 0, nameBytes = 0;
    std::set<std::pair<int, int>> positions;  // (accessor, node) read once each
    std::set<int> named;                      // materials whose name is counted
    std::vector<bool> visited(model.nodes.size(), false);
    std::vector<int> stack(roots.rbegin(), roots.rend());
    auto count = [&](int accessor) {
        return accessor >= 0 && (size_t)accessor < model.accessors.size()
                   ? (long long)model.accessors[(size_t)accessor].count
                   : 0LL;
    };
    while (!stack.empty()) {
        const int index = stack.back();
        stack.pop_back();
        if (index < 0 || (size_t)index >= model.nodes.size() || visited[(size_t)index])
            continue;
        visited[(size_t)index] = true;
        const tinygltf::Node &node = model.nodes[(size_t)index];
        if (node.mesh >= 0 && (size_t)node.mesh < model.meshes.size()) {
            for (const tinygltf::Primitive &prim : model.meshes[(size_t)node.mesh].primitives) {
                const int mode = prim.mode;
                auto position = prim.attributes.find("POSITION");
                if ((mode != TINYGLTF_MODE_TRIANGLES && mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
                     mode != TINYGLTF_MODE_TRIANGLE_FAN) ||
                    position == prim.attributes.end())
                    continue;
                if (positions.emplace(position->second, index).second)
                    points += count(position->second);
                const long long n = prim.indices >= 0 ? count(prim.indices) : count(position->second);
                const long long triangles = mode == TINYGLTF_MODE_TRIANGLES ? n / 3 : std::max(0LL, n - 2);
                corners += 3 * triangles;
                polygons += triangles;
                if (prim.material >= 0 && (size_t)prim.material < model.materials.size()) {
                    const std::string &surface = model.materials[(size_t)prim.material].name;
                    *why = NameFault(budget, surface.size());
                    if (!why->empty())
                        return false;
                    // The mesh keeps each name once: a material's name counts once.
                    if (named.insert(prim.material).second)
                        nameBytes += (long long)surface.size();
                }
                *why = BudgetFault(budget, corners, points, polygons, nameBytes);
                if (!why->empty()) {
                    *why = "its nodes and meshes make " + *why;
                    return false;
                }
            }
        }
        for (size_t k = node.children.size(); k-- > 0;)
            stack.push_back(node.children[k]);
    }
    return true;
}

// Drops every texture reference (an object with an "index" under a key
// ending in "Texture"): the mesh keeps no texture coordinates for them.
void DropTextures(Json *value)
{
    if (!value->is_object())
        return;
    for (auto it = value->begin(); it != value->end();) {
        const std::string &key = it.key();
        const bool texture = key.size() >= 7 && key.compare(key.size() - 7, 7, "Texture") == 0 &&
                             it->is_object() && it->contains("index");
        if (texture) {
            it = value->erase(it);
        } else {
            DropTextures(&*it);
            ++it;
        }
    }
}

// Each named material of the file, whole but for its textures.
void KeepMaterials(const Json &doc, MeshData *mesh)
{
    auto materials = doc.find("materials");
    if (materials == doc.end() || !materials->is_array())
        return;
    for (const Json &m : *materials) {
        if (!m.is_object() || !m.contains("name") || !m["name"].is_string() ||
            m["name"].get<std::string>().empty())
            continue;
        Json whole = m;
        DropTextures(&whole);
        mesh->materials.push_back({m["name"].get<std::string>(), whole.dump()});
    }
}

// Puts the materials the mesh kept into the file the library wrote, in
// place of the bare ones it wrote by their names, with the extensions they
// use declared. The file stays as it was when no name matches.
bool PutMaterials(const MeshData &mesh, bool binary, std::string *out)
{
    std::map<std::string, const std::string *> kept;
    for (const MeshMaterial &m : mesh.materials)
        if (!m.gltf.empty())
            kept.emplace(m.name, &m.gltf);
    if (kept.empty())
        return true;
    Json doc;
    std::string why;
    if (!ParseJson(*out, binary, &doc, &why))
        return false;
    std::vector<std::string> extensions;
    bool changed = false;
    for (Json &m : doc["materials"]) {
        auto found = kept.find(m.value("name", std::string()));
        if (found == kept.end())
            continue;
        Json whole = Json::parse(*found->second, nullptr, false);
        if (!whole.is_object())
            continue;
        whole["name"] = found->first;
        if (whole == m)
            continue;
        if (whole.contains("extensions") && whole["extensions"].is_object())
            for (auto &e : whole["extensions"].items())
                extensions.push_back(e.key());
        m = std::move(whole);
        changed = true;
    }
    if (!changed)
        return true;
    for (const std::string &e : extensions) {
        Json &used = doc["extensionsUsed"];
        if (std::find(used.begin(), used.end(), e) == used.end())
            used.push_back(e);
    }
    std::string text = doc.dump(binary ? -1 : 2);
    if (!binary) {
        *out = text;
        return true;
    }
    // The JSON chunk is padded with spaces to a 4-byte boundary; the binary
    // chunk follows it unchanged.
    uint32_t oldLength = 0;
    std::memcpy(&oldLength, out->data() + 12, 4);
    const std::string rest = out->substr(20 + (size_t)oldLength);
    while (text.size() % 4 != 0)
        text += ' ';
    const uint32_t header[5] = {0x46546C67u, 2u, (uint32_t)(20 + text.size() + rest.size()),
                                (uint32_t)text.size(), kChunkJson};
    out->assign(reinterpret_cast<const char *>(header), sizeof header);
    *out += text;
    *out += rest;
    return true;
}

}  // namespace

bool ReadGltf(const std::string &data, const std::string &name, bool binary, bool weld, MeshData *mesh,
              MeshReadInfo *info, std::string *error, const MeshBudget &budget)
{
    auto fail = [&](const std::string &what) {
        if (error)
            *error = name + ": " + what;
        return false;
    };
    if (data.size() > 0x7fffffffu)
        return fail("too large for a glTF file");
    // A binary file's JSON is its first chunk; the loader refuses a chunk
    // that does not fit, so a wrong length here only shortens the check.
    std::string_view json(data);
    size_t jsonAt = 0;
    if (binary) {
        uint32_t jsonLength = 0;
        if (data.size() >= 20)
            std::memcpy(&jsonLength, data.data() + 12, 4);
        jsonAt = std::min<size_t>(20, data.size());
        json = json.substr(jsonAt, jsonLength);
    }
    std::string why;
    if (!CheckJsonShape(json, jsonAt, &why))
        return fail(why);

    // The loader lets a binary chunk's data run up to its 8-byte header past
    // the container's end; what lies there is not the file's.
    if (binary && data.size() >= 28) {
        uint32_t length, jsonLength, binLength;
        std::memcpy(&length, data.data() + 8, 4);
        std::memcpy(&jsonLength, data.data() + 12, 4);
        const uint64_t bin = 20ull + jsonLength;
        if (length <= data.size() && bin + 8 <= length) {
            std::memcpy(&binLength, data.data() + bin, 4);
            if (bin + 8 + binLength > length)
                return fail("byte " + std::to_string(bin) + ": the binary chunk of " +
                            std::to_string(binLength) + " bytes runs past the container's " +
                            std::to_string(length));
        }
    }

    Json doc;
    if (!ParseJson(data, binary, &doc, &why))
        return fail(why);

    Folder folder;
    const size_t slash = name.find_last_of('/');
    folder.base = slash == std::string::npos ? std::string() : name.substr(0, slash == 0 ? 1 : slash);
    std::error_code ec;
    folder.canonical = fs::weakly_canonical(folder.base.empty() ? fs::path(".") : fs::path(folder.base), ec);
    // 12 bytes a position, 4 an index, and room for what else a buffer holds.
    folder.maxFileBytes = (uintmax_t)std::max(0LL, budget.points) * 12 +
                          (uintmax_t)std::max(0LL, budget.corners) * 4 + (uintmax_t(64) << 20);
    tinygltf::TinyGLTF loader;
    tinygltf::FsCallbacks callbacks{FileExistsInFolder, SamePath, ReadInFolder, NoWrite, &folder};
    loader.SetFsCallbacks(callbacks);
    loader.SetImageLoader(SkipImage, nullptr);
    tinygltf::Model model;
    std::string err, warn;
    bool ok = false;
    try {
        if (binary)
            ok = loader.LoadBinaryFromMemory(&model, &err, &warn,
                                             reinterpret_cast<const unsigned char *>(data.data()),
                                             (unsigned)data.size(), folder.base);
        else
            ok = loader.LoadASCIIFromString(&model, &err, &warn, data.data(), (unsigned)data.size(),
                                            folder.base);
    } catch (const std::exception &e) {
        ok = false;
        err = e.what();
    }
    if (!folder.outside.empty() && !ok)
        return fail("refusing the external URI " + folder.outside + ": it lies outside the file's folder");
    if (!folder.tooLarge.empty() && !ok)
        return fail("the buffer file " + folder.tooLarge +
                    " is larger than the points and corners a file may make "
                    "can use (--max-corners sets the limit)");
    if (!ok) {
        while (!err.empty() && (err.back() == '\n' || err.back() == ' '))
            err.pop_back();
        for (char &c : err)
            if (c == '\n')
                c = ';';
        return fail(err.empty() ? std::string("cannot be read as glTF")
                                : "not a glTF file that can be read: " + err);
    }
    KeepMaterials(doc, mesh);

    Loader ld{model, name, mesh, info, error, {}, {}, {}};
    ld.weld.mesh = mesh;
    ld.weld.weld = weld;
    ld.visited.assign(model.nodes.size(), false);
    std::vector<int> roots;
    int scene = model.defaultScene;
    if (scene < 0 || (size_t)scene >= model.scenes.size())
        scene = model.scenes.empty() ? -1 : 0;
    if (scene >= 0) {
        roots = model.scenes[(size_t)scene].nodes;
    } else {
        std::vector<bool> child(model.nodes.size(), false);
        for (const tinygltf::Node &n : model.nodes)
            for (int c : n.children)
                if (c >= 0 && (size_t)c < child.size())
                    child[(size_t)c] = true;
        for (size_t k = 0; k < model.nodes.size(); k++)
            if (!child[k])
                roots.push_back((int)k);
    }
    if (!CheckSceneBudget(model, roots, budget, &why))
        return fail(why);
    for (int root : roots)
        if (!ReadNodes(&ld, root))
            return false;
    info->welded = (int)(ld.weld.corners - (long long)mesh->points.size());
    return true;
}

bool GltfBytes(const MeshData &mesh, bool binary, const std::string &name, std::string *out,
               std::string *error, long long *cut, long long *triangles)
{
    // The surfaces in the order they first appear, each with its triangles.
    std::vector<std::string> surfaces;
    std::vector<std::vector<int>> tris;
    std::map<std::string, size_t> surfaceIndex;
    // The group of each entry of the mesh's name table (the last: no name),
    // found by name once: names that are empty or missing share "Default".
    std::vector<size_t> groupOf(mesh.surfaces.size() + 1, SIZE_MAX);
    for (size_t i = 0; i < MeshPolyCount(mesh); i++) {
        const MeshPointSpan poly = MeshPolyPoints(mesh, i);
        const int s = mesh.polySurface[i];
        size_t &group = groupOf[s == kMeshNoSurface ? mesh.surfaces.size() : (size_t)s];
        if (group == SIZE_MAX) {
            const std::string &given = MeshPolySurface(mesh, i);
            const std::string surface = given.empty() ? "Default" : given;
            auto it = surfaceIndex.emplace(surface, surfaces.size());
            if (it.second) {
                surfaces.push_back(surface);
                tris.emplace_back();
            }
            group = it.first->second;
        }
        std::vector<int> &list = tris[group];
        const size_t before = list.size();
        MeshTriangulate(mesh, poly, &list);
        if (poly.size() > 3) {
            (*cut)++;
            *triangles += (long long)(list.size() - before) / 3;
        }
    }

    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "corvane";
    size_t corners = 0;
    for (const auto &list : tris)
        corners += list.size();
    if (!mesh.points.empty() && corners > 0) {
        tinygltf::Buffer buffer;
        buffer.data.resize(mesh.points.size() * 12 + corners * 4);
        unsigned char *at = buffer.data.data();
        tinygltf::Accessor positions;
        positions.bufferView = 0;
        positions.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
        positions.type = TINYGLTF_TYPE_VEC3;
        positions.count = mesh.points.size();
        positions.minValues.assign(3, HUGE_VAL);
        positions.maxValues.assign(3, -HUGE_VAL);
        for (const auto &p : mesh.points) {
            for (size_t k = 0; k < 3; k++) {
                const double rounded = RoundToFloat(p[k]);
                const float f = (float)rounded;
                std::memcpy(at, &f, 4);
                at += 4;
                positions.minValues[k] = std::min(positions.minValues[k], rounded);
                positions.maxValues[k] = std::max(positions.maxValues[k], rounded);
            }
        }
        tinygltf::BufferView positionView;
        positionView.buffer = 0;
        positionView.byteLength = mesh.points.size() * 12;
        positionView.target = TINYGLTF_TARGET_ARRAY_BUFFER;
        model.bufferViews.push_back(positionView);
        model.accessors.push_back(positions);

        tinygltf::Mesh out3d;
        for (size_t s = 0; s < surfaces.size(); s++) {
            if (tris[s].empty())
                continue;
            tinygltf::BufferView view;
            view.buffer = 0;
            view.byteOffset = (size_t)(at - buffer.data.data());
            view.byteLength = tris[s].size() * 4;
            view.target = TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER;
            for (int v : tris[s]) {
                const uint32_t u = (uint32_t)v;
                std::memcpy(at, &u, 4);
                at += 4;
            }
            tinygltf::Accessor indices;
            indices.bufferView = (int)model.bufferViews.size();
            indices.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
            indices.type = TINYGLTF_TYPE_SCALAR;
            indices.count = tris[s].size();
            model.bufferViews.push_back(view);
            tinygltf::Material material;
            material.name = surfaces[s];
            tinygltf::Primitive prim;
            prim.attributes["POSITION"] = 0;
            prim.indices = (int)model.accessors.size();
            prim.material = (int)model.materials.size();
            prim.mode = TINYGLTF_MODE_TRIANGLES;
            model.accessors.push_back(indices);
            model.materials.push_back(material);
            out3d.primitives.push_back(prim);
        }
        model.buffers.push_back(std::move(buffer));
        model.meshes.push_back(out3d);
        tinygltf::Node node;
        node.mesh = 0;
        model.nodes.push_back(node);
        // A scene without nodes would be written as no object at all: a
        // mesh without triangles is a file without a scene.
        model.scenes.emplace_back();
        model.scenes[0].nodes.push_back(0);
        model.defaultScene = 0;
    }
    std::ostringstream stream;
    tinygltf::TinyGLTF writer;
    bool ok = false;
    try {
        ok = writer.WriteGltfSceneToStream(&model, stream, !binary, binary);
    } catch (const std::exception &) {
        ok = false;
    }
    if (!ok) {
        if (error)
            *error = name + ": the glTF data could not be made";
        return false;
    }
    *out = stream.str();
    if (!PutMaterials(mesh, binary, out)) {
        if (error)
            *error = name + ": the glTF data could not be made";
        return false;
    }
    return true;
}
