// The mesh formats besides OBJ: round trips, the weld of split corners, the
// chamfer of a cube read from each, the errors bad files get, and the
// program converting between them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include <tiny_gltf.h>

#include "meshgen/meshgen.h"
#include "meshio/formats.h"  // the writers' own cut into triangles
#include "tests/files.h"
#include "tests/fixtures.h"
#include "tests/meshsets.h"
#include "tests/runprogram.h"

namespace {

const MeshFormat kAll[] = {MeshFormat::Obj, MeshFormat::Ply,  MeshFormat::Off,
                           MeshFormat::Stl, MeshFormat::Gltf, MeshFormat::Glb};

bool KeepsPolygons(MeshFormat f)
{
    return f == MeshFormat::Obj || f == MeshFormat::Ply || f == MeshFormat::Off;
}

std::string Bytes(const MeshData &mesh, MeshFormat format)
{
    std::string out, error;
    EXPECT_TRUE(MeshFileBytes(mesh, format, "out", &out, &error)) << error;
    return out;
}

MeshData Read(const std::string &bytes, MeshFormat format, MeshReadInfo *info = nullptr)
{
    MeshData mesh;
    std::string error;
    EXPECT_TRUE(MeshReadBytes(bytes, "in", format, &mesh, info, &error))
        << MeshFormatLabel(format) << ": " << error;
    return mesh;
}

// What a float32 triangle format holds of `mesh`: the triangles its polygons
// are cut into, the points rounded to float32. STL: in polygon order, every
// point numbered at its first use, the surfaces lost. glTF: grouped by
// surface in the order surfaces first appear, every point in its place.
MeshData AsFloatTriangles(const MeshData &mesh, MeshFormat format)
{
    const bool gltf = format != MeshFormat::Stl;
    MeshData out;
    std::map<std::array<double, 3>, int> seen;
    auto point = [&](int index) {
        std::array<double, 3> q;
        for (size_t k = 0; k < 3; k++)
            q[k] = RoundToFloat(mesh.points[(size_t)index][k]);
        auto it = seen.emplace(q, (int)out.points.size());
        if (it.second)
            out.points.push_back(q);
        return it.first->second;
    };
    if (gltf)
        for (size_t k = 0; k < mesh.points.size(); k++)
            point((int)k);
    std::vector<std::string> order;
    for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++)
        if (std::find(order.begin(), order.end(), MeshPolySurface(mesh, pi)) == order.end())
            order.push_back(MeshPolySurface(mesh, pi));
    for (size_t s = 0; s < (gltf ? order.size() : 1); s++) {
        for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++) {
            if (gltf && MeshPolySurface(mesh, pi) != order[s])
                continue;
            std::vector<int> tris;
            MeshTriangulate(mesh, MeshPolyPoints(mesh, pi), &tris);
            for (size_t t = 0; t < tris.size(); t += 3) {
                MeshFace tri;
                tri.surface = gltf ? MeshPolySurface(mesh, pi) : "Default";
                for (size_t c = 0; c < 3; c++)
                    tri.points.push_back(point(tris[t + c]));
                MeshPutFace(&out, tri);
            }
        }
    }
    return out;
}

MeshData WithSurfaces(MeshData mesh, const char *a, const char *b)
{
    for (size_t k = 0; k < MeshPolyCount(mesh); k++)
        mesh.polySurface[k] = MeshInternSurface(&mesh, k % 3 == 0 ? a : b);
    return mesh;
}

// A cube whose corners are not exact in float32, with its faces as two
// surfaces in runs.
MeshData OffGridCube()
{
    MeshData cube = MakeCube(-0.1, 0.7);
    for (size_t k = 0; k < MeshPolyCount(cube); k++)
        cube.polySurface[k] = MeshInternSurface(&cube, k < 3 ? "Front" : "Back");
    return cube;
}

}  // namespace

TEST(Formats, NamesAndExtensions)
{
    EXPECT_EQ(MeshFormatFromPath("a/b.PLY"), MeshFormat::Ply);
    EXPECT_EQ(MeshFormatFromPath("x.glb"), MeshFormat::Glb);
    EXPECT_EQ(MeshFormatFromPath("dir.v2/mesh"), MeshFormat::Obj);  // no extension: as before
    EXPECT_EQ(MeshFormatFromPath("mesh.fbx"), MeshFormat::Unknown);
    MeshFormat f;
    std::string error;
    EXPECT_TRUE(MeshChooseFormat("mesh.fbx", "stl", &f, &error));
    EXPECT_EQ(f, MeshFormat::Stl);
    EXPECT_FALSE(MeshChooseFormat("mesh.fbx", "", &f, &error));
    EXPECT_EQ(error.rfind("mesh.fbx: unknown mesh format", 0), 0u) << error;
}

// Written then read: the same mesh, exactly where the format keeps doubles
// and polygons; else the float32 triangles, and written again the same
// bytes.
TEST(Formats, RoundTrips)
{
    const MeshData meshes[] = {WithSurfaces(MakeCylinder(12, 2), "Side", "Cap"), MakeTorus(8, 5), MakeFan(7),
                               MakeJittered(MakeQuadSphere(3), 0.01), MakeBox(1.5, 0.25, 3, 2)};
    for (const MeshData &mesh : meshes) {
        for (MeshFormat format : kAll) {
            SCOPED_TRACE(MeshFormatLabel(format));
            const std::string bytes = Bytes(mesh, format);
            MeshData back = Read(bytes, format);
            if (KeepsPolygons(format)) {
                MeshData expected = mesh;
                if (format != MeshFormat::Obj)
                    for (size_t pi = 0; pi < MeshPolyCount(expected); pi++)
                        expected.polySurface[pi] = MeshInternSurface(&expected, "Default");
                EXPECT_EQ(MeshDifference(back, expected), "");
                continue;
            }
            EXPECT_EQ(MeshDifference(back, AsFloatTriangles(mesh, format)), "");
            EXPECT_TRUE(Bytes(back, format) == bytes);
        }
    }
}

// Every corner its own vertex (STL) or vertices split along the UV seams
// (glTF's one primitive per face): welded back into the cube's 8 points,
// closed, and chamfered closed.
TEST(Formats, SplitCornersWeldIntoAClosedCube)
{
    const MeshData cube = MakeCube();
    MeshReadInfo info;
    MeshData stl = Read(Bytes(cube, MeshFormat::Stl), MeshFormat::Stl, &info);
    EXPECT_EQ(stl.points.size(), 8u);
    EXPECT_EQ(MeshPolyCount(stl), 12u);
    EXPECT_EQ(info.welded, 36 - 8);
    EXPECT_EQ(MeshValidityFault(stl, true), "");
    EXPECT_EQ(MeshValidityFault(RunObjectMode(stl, 0, 0.0, 0.1), true), "");
    // a triangle that the weld closes to a sliver of two points is dropped,
    // and its corners make no point of their own
    std::string sliver = Bytes(cube, MeshFormat::Stl);
    const float corners[9] = {0, 0, 0, 5, 5, 5, 0, 0, 0};
    sliver.append(12, '\0').append((const char *)corners, sizeof corners).append(2, '\0');
    sliver[80] = 13;
    stl = Read(sliver, MeshFormat::Stl, &info);
    EXPECT_EQ(stl.points.size(), 8u);
    EXPECT_EQ(info.collapsed, 1);

    // glTF: every face four vertices of its own with their own UVs, moved by
    // a node's translation and scale, the last three faces mirrored by a
    // second node (which turns them back outward) onto the first three's
    // far side
    tinygltf::Model model;
    std::vector<float> positions, uvs;
    std::vector<uint16_t> indices;
    for (size_t faceIndex = 0; faceIndex < MeshPolyCount(cube); faceIndex++) {
        const MeshPointSpan face = MeshPolyPoints(cube, faceIndex);
        const uint16_t base = (uint16_t)(positions.size() / 3);
        for (size_t c = 0; c < 4; c++) {
            for (size_t k = 0; k < 3; k++)
                positions.push_back((float)cube.points[(size_t)face[c]][k]);
            uvs.push_back(c == 1 || c == 2 ? 1.0f : 0.0f);
            uvs.push_back(c >= 2 ? 1.0f : 0.0f);
        }
        for (uint16_t k : {0, 1, 2, 0, 2, 3})
            indices.push_back((uint16_t)(base + k));
    }
    tinygltf::Buffer buffer;
    auto append = [&](const void *data, size_t size) {
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = buffer.data.size();
        view.byteLength = size;
        buffer.data.insert(buffer.data.end(), (const unsigned char *)data,
                           (const unsigned char *)data + size);
        model.bufferViews.push_back(view);
        return (int)model.bufferViews.size() - 1;
    };
    auto accessor = [&](int view, int component, int type, size_t count) {
        tinygltf::Accessor a;
        a.bufferView = view;
        a.componentType = component;
        a.type = type;
        a.count = count;
        model.accessors.push_back(a);
        return (int)model.accessors.size() - 1;
    };
    const int pos = accessor(append(positions.data(), positions.size() * 4), TINYGLTF_COMPONENT_TYPE_FLOAT,
                             TINYGLTF_TYPE_VEC3, positions.size() / 3);
    const int uv = accessor(append(uvs.data(), uvs.size() * 4), TINYGLTF_COMPONENT_TYPE_FLOAT,
                            TINYGLTF_TYPE_VEC2, uvs.size() / 2);
    const int idx = accessor(append(indices.data(), indices.size() * 2),
                             TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_SCALAR, indices.size());
    model.buffers.push_back(buffer);
    tinygltf::Primitive prim;
    prim.attributes = {{"POSITION", pos}, {"TEXCOORD_0", uv}};
    prim.indices = idx;
    prim.material = 0;
    prim.mode = TINYGLTF_MODE_TRIANGLES;
    model.materials.resize(1);
    model.materials[0].name = "Painted";
    model.meshes.resize(1);
    model.meshes[0].primitives.push_back(prim);
    tinygltf::Node node;
    node.mesh = 0;
    node.translation = {1, 2, 3};
    node.scale = {2, 2, 2};
    model.nodes.push_back(node);
    model.scenes.resize(1);
    model.scenes[0].nodes = {0};
    std::ostringstream glb;
    ASSERT_TRUE(tinygltf::TinyGLTF().WriteGltfSceneToStream(&model, glb, false, true));

    MeshData seams = Read(glb.str(), MeshFormat::Glb, &info);
    EXPECT_EQ(seams.points.size(), 8u);
    EXPECT_EQ(MeshPolyCount(seams), 12u);
    EXPECT_EQ(info.welded, 24 - 8);
    EXPECT_EQ(MeshValidityFault(seams, true), "");
    EXPECT_GT(SignedVolume(seams), 0.0);
    EXPECT_EQ(seams.points[0], (std::array<double, 3>{1 + 2 * cube.points[0][0], 2 + 2 * cube.points[0][1],
                                                      3 + 2 * cube.points[0][2]}));
    EXPECT_EQ(MeshPolySurface(seams, 0), "Painted");

    // mirrored: the winding is turned back, so the solid still faces out
    model.nodes[0].scale = {-2, 2, 2};
    std::ostringstream mirrored;
    ASSERT_TRUE(tinygltf::TinyGLTF().WriteGltfSceneToStream(&model, mirrored, false, true));
    MeshData flipped = Read(mirrored.str(), MeshFormat::Glb);
    EXPECT_EQ(MeshValidityFault(flipped, true), "");
    EXPECT_GT(SignedVolume(flipped), 0.0);
}

// The cube read from each format chamfers as the OBJ cube holding the same
// polygons does: exactly where the format keeps doubles, and within float32
// rounding of the corners for the triangle formats (compared with the OBJ
// of their triangles).
TEST(Formats, CubeChamfersAsFromObj)
{
    const MeshData cube = OffGridCube();
    const double tolerance = 1e-6 * Diagonal(cube);  // float32 rounding of corners about 1
    for (MeshFormat format : kAll) {
        SCOPED_TRACE(MeshFormatLabel(format));
        const MeshData read = Read(Bytes(cube, format), format);
        MeshData reference = KeepsPolygons(format) ? cube : AsFloatTriangles(cube, format);
        const MeshData fromObj = RunObjectMode(Read(MeshObjText(reference), MeshFormat::Obj), 0, 0.0, 0.1);
        const MeshData chamfered = RunObjectMode(read, 0, 0.0, 0.1);
        EXPECT_EQ(MeshValidityFault(chamfered, true), "");
        ASSERT_EQ(chamfered.points.size(), fromObj.points.size());
        ASSERT_EQ(MeshPolyCount(chamfered), MeshPolyCount(fromObj));
        for (size_t k = 0; k < MeshPolyCount(chamfered); k++)
            EXPECT_EQ(MeshPolyPoints(chamfered, k), MeshPolyPoints(fromObj, k)) << "polygon " << k;
        for (size_t k = 0; k < chamfered.points.size(); k++)
            for (size_t c = 0; c < 3; c++)
                ASSERT_NEAR(chamfered.points[k][c], fromObj.points[k][c],
                            KeepsPolygons(format) ? 0.0 : tolerance)
                    << "point " << k;
    }
}

// Bad files: refused with the file's name and, where it has one, the line
// or byte; the mesh left empty.
TEST(Formats, TrianglesOfAPolygonWithAreaHaveArea)
{
    // Past the safe size the chamfered polygons fold over themselves, and
    // points come to lie on (or, once rounded to float32, at) the line
    // between two others: the cut into triangles for STL and glTF must still
    // give each triangle as written some area where its polygon has some.
    int polygons = 0;
    std::vector<NamedMesh> set = ValiditySet();
    for (size_t k = 0, plain = set.size(); k < plain; ++k)
        set.push_back({set[k].name + " with a fin", MakeWithFinOnFirstSharedEdge(set[k].mesh), false});
    for (const NamedMesh &m : set) {
        // The meshes are about a unit across: these sizes are past their
        // safe sizes, and the first at or below the largest.
        for (double size : {0.3, 0.6, 1.0, 1.5}) {
            const MeshData out = RunObjectMode(m.mesh, 0, 0.0, size);
            for (size_t k = 0; k < MeshPolyCount(out); ++k) {
                const std::array<double, 3> n = MeshPolyNewell(out, k);
                if (MeshPolyPoints(out, k).size() < 4 || (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0))
                    continue;
                polygons++;
                std::vector<int> tris;
                MeshTriangulate(out, MeshPolyPoints(out, k), &tris);
                ASSERT_EQ(tris.size(), 3 * (MeshPolyPoints(out, k).size() - 2)) << m.name;
                // As written: float32 corners.
                MeshData one;
                one.points = out.points;
                for (auto &q : one.points)
                    for (double &c : q)
                        c = RoundToFloat(c);
                for (size_t t = 0; t < tris.size(); t += 3)
                    MeshAddFace(&one, {tris[t], tris[t + 1], tris[t + 2]});
                for (size_t t = 0; t < MeshPolyCount(one); ++t) {
                    const std::array<double, 3> a = MeshPolyNewell(one, t);
                    EXPECT_FALSE(a[0] == 0.0 && a[1] == 0.0 && a[2] == 0.0)
                        << m.name << " at size " << size << ": polygon " << k << ", triangle " << t;
                }
            }
        }
    }
    EXPECT_GT(polygons, 1000);
    // A quad folded back along its own edge: its first ear left three points
    // on one line.
    MeshData folded;
    folded.points = {{0, 2, 0}, {2.4142135623730949, 2, 0}, {0, 1, 0}, {0, 0, 0}};
    MeshAddFace(&folded, {0, 1, 2, 3});
    std::vector<int> tris;
    MeshTriangulate(folded, MeshPolyPoints(folded, 0), &tris);
    EXPECT_EQ(tris, (std::vector<int>{3, 0, 1, 2, 3, 1}));
}

TEST(Formats, BadFilesAreRefusedWithTheirPlace)
{
    const MeshData cube = MakeCube();
    const std::string ply = Bytes(cube, MeshFormat::Ply);
    const std::string stl = Bytes(cube, MeshFormat::Stl);
    const std::string glb = Bytes(cube, MeshFormat::Glb);
    const std::string plyHead =
        "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
        "property float z\nelement face 1\n";
    const std::string tri = "0 0 0\n1 0 0\n0 1 0\n";
    const struct {
        MeshFormat format;
        std::string bytes;
        const char *says;
    } cases[] = {
        {MeshFormat::Ply, ply.substr(0, ply.size() - 7), "in: byte 485: the file ends in face 6"},
        {MeshFormat::Ply,
         "ply\nformat binary_little_endian 1.0\nelement vertex 100000\nproperty double x\n"
         "property double y\nproperty double z\nend_header\n" +
             std::string(240, '\0'),
         "in:3: element 'vertex' declares 100000 items, more than the rest"},
        {MeshFormat::Ply,
         plyHead + "property list uchar int vertex_indices\nend_header\n" + tri + "3 0 1 3\n",
         "in:13: face 1 names vertex index 3 (the file has 3 vertices, indexed from 0)"},
        {MeshFormat::Ply,
         plyHead + "property list uchar int vertex_indices\nend_header\n0 0 nan\n1 0 0\n0 1 0\n3 0 1 2\n",
         "in:10: not a number for vertex 1: 'nan'"},
        {MeshFormat::Ply, plyHead + "property list uchar int vertex_indices\nend_header\n" + tri + "0\n",
         "in:13: face 1 has a list count of 0"},
        {MeshFormat::Ply,
         plyHead + "property list ushort int vertex_indices\nend_header\n" + tri + "300 0 1 2\n",
         "face 1 has a list count of 300 (1 to 255 allowed)"},
        {MeshFormat::Ply, plyHead + "property list uchar int vertex_indices\nend_header\n" + tri + "2 0 1\n",
         "in:13: face 1 has 2 points"},
        {MeshFormat::Ply, "ply\nformat binary_middle_endian 1.0\nend_header\n", "in:2: unknown PLY format"},
        {MeshFormat::Off, "OFF\n3 1 0\n" + tri + "2 0 1\n", "in:6: face 1 has 2 points"},
        {MeshFormat::Off, "OFF\n3 1 0\n" + tri + "3 0 1 7\n",
         "in:6: face 1: vertex index '7' is out of range (the file has 3 vertices, indexed from 0)"},
        {MeshFormat::Off, "OFF\n3 1 0\n0 0 0\ninf 0 0\n0 1 0\n3 0 1 2\n", "in:4: not a finite number: 'inf'"},
        {MeshFormat::Off, "OFF\n3000 1 0\n" + tri, "in:2: the counts 3000 vertices"},
        {MeshFormat::Stl, stl.substr(0, stl.size() - 1),
         "in: byte 80: the binary STL header says 12 triangles"},
        {MeshFormat::Stl,
         "solid a\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 nan\n",
         "in:6: not a finite float32 number: 'nan'"},
        {MeshFormat::Stl,
         "solid a\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
         "endfacet\n",
         "in:7: expected 'endloop', found 'endfacet'"},
        {MeshFormat::Glb, glb.substr(0, glb.size() - 4), "in: "},
        {MeshFormat::Gltf,
         R"({"asset":{"version":"2.0"},"buffers":[{"uri":"../outside.bin","byteLength":4}]})",
         "outside the file's folder"},
        {MeshFormat::Gltf,
         R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":4,"uri":"data:application/)"
         R"(octet-stream;base64,)" +
             std::string(90u << 20, 'A') + "\"}]}",
         "more than the 64 MiB"},
        // the cap counts every string, however its characters are escaped,
        // and all of them together
        {MeshFormat::Gltf,
         R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":4,"uri":"\u0064ata:application/)"
         R"(octet-stream;base64,)" +
             std::string(90u << 20, 'A') + "\"}]}",
         "more than the 64 MiB"},
        {MeshFormat::Gltf,
         R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":4,"uri":"data:,)" +
             std::string(48u << 20, 'A') + R"("},{"byteLength":4,"uri":"data:,)" +
             std::string(48u << 20, 'A') + "\"}]}",
         "more than the 64 MiB"},
        {MeshFormat::Unknown, "v 0 0 0\n", "in: unknown mesh format"},
    };
    for (const auto &c : cases) {
        MeshData mesh = cube;
        std::string error;
        EXPECT_FALSE(MeshReadBytes(c.bytes, "in", c.format, &mesh, nullptr, &error)) << c.says;
        EXPECT_TRUE(mesh.points.empty() && MeshPolyCount(mesh) == 0) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(error.rfind("in", 0), 0u) << error;
    }

    // indices past the positions, in a glTF written fine and then broken
    MeshData tooFar = cube;
    std::string gltf = Bytes(cube, MeshFormat::Gltf);
    const size_t count = gltf.find("\"count\": 8");
    ASSERT_NE(count, std::string::npos);
    gltf.replace(count, 10, "\"count\": 4");
    std::string error;
    EXPECT_FALSE(MeshReadBytes(gltf, "in", MeshFormat::Gltf, &tooFar, nullptr, &error));
    EXPECT_NE(error.find("mesh 0 primitive 0: index 7 is 6, past the 4 positions"), std::string::npos)
        << error;

    // a node scaled past float32's range, and a mesh of such coordinates to
    // write: either would hold an infinity that reads back as an error
    std::string scaled = Bytes(cube, MeshFormat::Gltf);
    const size_t node = scaled.find("\"nodes\"");
    ASSERT_NE(node, std::string::npos);
    const size_t open = scaled.find('{', node);
    scaled.insert(open + 1, "\"scale\": [1e39, 1e39, 1e39], ");
    EXPECT_FALSE(MeshReadBytes(scaled, "in", MeshFormat::Gltf, &tooFar, nullptr, &error));
    EXPECT_NE(error.find("is too large for float32 once transformed"), std::string::npos) << error;
    // a binary chunk whose data runs past the container's end by less than
    // its own header
    std::string longBin = glb;
    uint32_t jsonLength, binLength;
    std::memcpy(&jsonLength, &longBin[12], 4);
    std::memcpy(&binLength, &longBin[20 + jsonLength], 4);
    binLength += 4;
    std::memcpy(&longBin[20 + jsonLength], &binLength, 4);
    EXPECT_FALSE(MeshReadBytes(longBin, "in", MeshFormat::Glb, &tooFar, nullptr, &error));
    EXPECT_NE(error.find("the binary chunk of"), std::string::npos) << error;
    MeshData huge = cube;
    huge.points[3][1] = 1e39;
    for (MeshFormat format : {MeshFormat::Stl, MeshFormat::Gltf, MeshFormat::Glb}) {
        std::string bytes;
        EXPECT_FALSE(MeshFileBytes(huge, format, "out", &bytes, &error));
        EXPECT_NE(error.find("out: point 4 has a coordinate that"), std::string::npos) << error;
    }
}

// The program between formats: notes for the weld and the cut into
// triangles, and nothing written when the input or the output's format is
// bad.
TEST(Formats, ProgramConvertsAndWritesNothingOnFailure)
{
    const std::string dir = MakeTempDir("formats");
    const std::string cfg = dir + "/cfg";
    std::ofstream(dir + "/cube.obj") << MeshObjText(MakeCube());
    Result toStl =
        RunProgram({dir + "/cube.obj", "-o", dir + "/c.stl", "--size", "0.1", "--plugins-dir", cfg});
    EXPECT_EQ(toStl.status, 0) << toStl.err;
    EXPECT_NE(toStl.err.find("c.stl: 18 polygons of 4 or more points written as 36 triangles"),
              std::string::npos)
        << toStl.err;
    Result fromStl =
        RunProgram({dir + "/c.stl", "-o", dir + "/c.ply", "--size", "0.01", "--stats", "--plugins-dir", cfg});
    EXPECT_EQ(fromStl.status, 0) << fromStl.err;
    EXPECT_NE(fromStl.err.find("c.stl: 108 corners at the position of an earlier one welded"),
              std::string::npos)
        << fromStl.err;
    MeshData ply;
    std::string error;
    ASSERT_TRUE(MeshReadFile(dir + "/c.ply", MeshFormat::Ply, &ply, nullptr, &error)) << error;
    EXPECT_EQ(MeshValidityFault(ply, true), "");

    std::ofstream(dir + "/bad.stl") << "solid x\nfacet normal 0 0 1\n";
    Result bad =
        RunProgram({dir + "/bad.stl", "-o", dir + "/bad.obj", "--size", "0.1", "--plugins-dir", cfg});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("bad.stl:3: the file ends where 'outer' was expected"), std::string::npos)
        << bad.err;
    Result unknown =
        RunProgram({dir + "/cube.obj", "-o", dir + "/c.fbx", "--size", "0.1", "--plugins-dir", cfg});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("c.fbx: unknown mesh format"), std::string::npos) << unknown.err;
    Result named = RunProgram({dir + "/c.stl", "--input-format", "STL", "-o", dir + "/c.fbx",
                               "--output-format", "off", "--size", "0.1", "-q", "--plugins-dir", cfg});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(Slurp(dir + "/c.fbx").rfind("OFF\n", 0), 0u);
    for (const std::string &name : ListDir(dir))
        EXPECT_TRUE(name == "cube.obj" || name == "c.stl" || name == "c.ply" || name == "bad.stl" ||
                    name == "c.fbx" || name == "cfg")
            << name;
    std::system(("rm -rf '" + dir + "'").c_str());
}

// `mesh` as an ASCII PLY whose every corner is a vertex of its own, as
// exporters split points at seams; with `uv` the vertices carry texture
// coordinates that say why.
static std::string PerCornerPly(const MeshData &mesh, bool uv)
{
    std::string vertices, faces;
    int corner = 0;
    for (size_t pi = 0; pi < MeshPolyCount(mesh); pi++) {
        const MeshPointSpan p = MeshPolyPoints(mesh, pi);
        faces += std::to_string(p.size());
        for (int k : p) {
            const auto &q = mesh.points[(size_t)k];
            vertices += MeshFormatDouble(q[0]) + " " + MeshFormatDouble(q[1]) + " " + MeshFormatDouble(q[2]) +
                        (uv ? " " + std::to_string(corner % 7) + " 0\n" : "\n");
            faces += " " + std::to_string(corner++);
        }
        faces += "\n";
    }
    return "ply\nformat ascii 1.0\nelement vertex " + std::to_string(corner) +
           "\nproperty float x\nproperty float y\nproperty float z\n" +
           (uv ? "property float s\nproperty float t\n" : "") + "element face " +
           std::to_string(MeshPolyCount(mesh)) + "\nproperty list uchar int vertex_indices\nend_header\n" +
           vertices + faces;
}

// A PLY split at its seams reads closed, so that every edge is chamfered;
// --no-weld keeps the points the file gives, and a PLY without per-corner
// properties is taken as it is.
TEST(Formats, PlySplitAtItsSeamsIsWeldedUnlessAsked)
{
    const std::string dir = MakeTempDir("formats");
    const MeshData torus = MakeTorus(8, 5);  // 40 points, 160 corners
    std::ofstream(dir + "/seams.ply") << PerCornerPly(torus, true);
    std::ofstream(dir + "/plain.ply") << PerCornerPly(torus, false);
    auto run = [&](const char *file, std::vector<std::string> extra) {
        extra.insert(extra.begin(), {dir + "/" + file, "-o", dir + "/out.obj", "--size", "0.05", "--stats",
                                     "--plugins-dir", dir + "/cfg"});
        return RunProgram(extra);
    };
    const Result welded = run("seams.ply", {});
    EXPECT_NE(welded.err.find("seams.ply: 120 corners at the position of an earlier one welded to it "
                              "(--no-weld keeps them apart)"),
              std::string::npos)
        << welded.err;
    EXPECT_NE(welded.out.find("\npoints                               40        160\n"), std::string::npos)
        << welded.out;
    EXPECT_NE(welded.out.find("\nborder edges                          0          0\n"), std::string::npos)
        << welded.out;
    // An edge the export split is one edge of two polygons again.
    EXPECT_EQ(run("seams.ply", {"--edge", "1,2"}).status, 0);
    const Result apart = run("seams.ply", {"--no-weld"});
    EXPECT_NE(apart.out.find("\nborder edges                        160 "), std::string::npos) << apart.out;
    EXPECT_NE(run("plain.ply", {}).out.find("\npoints                              160 "), std::string::npos)
        << "no property says the points were split";
    std::system(("rm -rf '" + dir + "'").c_str());
}

// Materials reach the output: the OBJ's libraries named from the output's
// folder (or a note why they cannot be), a glTF's materials whole.
TEST(Formats, MaterialsGoWithTheOutput)
{
    const std::string dir = MakeTempDir("formats");
    const std::string cfg = dir + "/cfg";
    mkdir((dir + "/a").c_str(), 0755);
    mkdir((dir + "/b").c_str(), 0755);
    std::ofstream(dir + "/a/m.mtl") << "newmtl Default\n";
    std::ofstream(dir + "/a/in.obj") << "mtllib m.mtl gone.mtl\n" + MeshObjText(MakeCube());
    Result moved =
        RunProgram({dir + "/a/in.obj", "-o", dir + "/b/out.obj", "--size", "0.1", "--plugins-dir", cfg});
    EXPECT_EQ(Slurp(dir + "/b/out.obj").rfind("mtllib ../a/m.mtl gone.mtl\n", 0), 0u);
    EXPECT_NE(moved.err.find("library gone.mtl as " + dir + "/a/in.obj does, but it is not found beside"),
              std::string::npos)
        << moved.err;

    // A glTF material with a colour, two sides, a texture and an extension.
    std::string gltf = Bytes(WithSurfaces(MakeCylinder(12, 2), "Side", "Cap"), MeshFormat::Gltf);
    gltf.insert(
        gltf.find("\"name\": \"Side\""),
        "\"doubleSided\": true, \"pbrMetallicRoughness\": {\"baseColorFactor\": [0.5, 0.25, 1.0, 1.0], "
        "\"baseColorTexture\": {\"index\": 0}}, \"extensions\": {\"KHR_materials_emissive_strength\": "
        "{\"emissiveStrength\": 2.0}}, ");
    std::ofstream(dir + "/in.gltf") << gltf;
    for (const std::string name : {"/out.glb", "/out.gltf"}) {
        const Result r =
            RunProgram({dir + "/in.gltf", "-o", dir + name, "--size", "0.05", "-q", "--plugins-dir", cfg});
        ASSERT_EQ(r.status, 0) << r.err;
        tinygltf::TinyGLTF loader;
        tinygltf::Model model;
        std::string err, warn;
        ASSERT_TRUE(name == "/out.glb" ? loader.LoadBinaryFromFile(&model, &err, &warn, dir + name)
                                       : loader.LoadASCIIFromFile(&model, &err, &warn, dir + name))
            << err;
        auto m = std::find_if(model.materials.begin(), model.materials.end(),
                              [](const tinygltf::Material &x) { return x.name == "Side"; });
        ASSERT_NE(m, model.materials.end()) << name;
        EXPECT_TRUE(m->doubleSided) << name;
        EXPECT_EQ(m->pbrMetallicRoughness.baseColorFactor, (std::vector<double>{0.5, 0.25, 1.0, 1.0}))
            << name;
        EXPECT_EQ(m->pbrMetallicRoughness.baseColorTexture.index, -1)
            << name << ": no texture coordinates for it";
        EXPECT_EQ(model.extensionsUsed, std::vector<std::string>{"KHR_materials_emissive_strength"}) << name;
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}
