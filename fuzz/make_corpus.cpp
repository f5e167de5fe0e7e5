// Writes the seed corpora of the fuzz targets: corvane_fuzz_corpus DIR fills
// DIR/activate, DIR/objread, DIR/settings and one folder per mesh reader
// (DIR/plyread, ...). The seeds are small meshes of
// every kind the tool meets (closed, open, rings, caps, n-gons, folds),
// each with the options and host behaviours worth starting from; the fuzzer
// mutates from there.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "fuzz/activate_input.h"
#include "meshgen/meshgen.h"
#include "meshio/meshio.h"

namespace {

std::string g_root;
int g_written = 0;

void Put(const std::string &target, const std::string &name, const std::vector<uint8_t> &bytes)
{
    std::string dir = g_root + "/" + target;
    mkdir(dir.c_str(), 0777);
    std::string path = dir + "/" + name;
    FILE *file = fopen(path.c_str(), "wb");
    if (!file) {
        perror(path.c_str());
        return;
    }
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    g_written++;
}

void PutText(const std::string &target, const std::string &name, const std::string &text)
{
    Put(target, name, std::vector<uint8_t>(text.begin(), text.end()));
}

MeshData Selected(MeshData mesh, int a, int b)
{
    mesh.polySelected[(size_t)a] = 1;
    mesh.polySelected[(size_t)b] = 1;
    return mesh;
}

// Two polygons that share the edge 0-1: the smallest pair-mode input.
MeshData TwoTriangles()
{
    MeshData m;
    m.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, -1, 0}};
    MeshFace a, b;
    a.points = {0, 1, 2};
    b.points = {1, 0, 3};
    MeshSetFaces(&m, {a, b});
    return m;
}

// Three polygons on one edge, one more the other way round.
MeshData Crowded()
{
    MeshData m;
    m.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    MeshFace a, b, c, d;
    a.points = {0, 1, 2};
    b.points = {1, 0, 3};
    c.points = {1, 0, 4};
    d.points = {0, 1, 5};
    MeshSetFaces(&m, {a, b, c, d});
    return m;
}

// A 300-point polygon with a fan of triangles on its rim (points repeat).
MeshData BigPolygon()
{
    MeshData m;
    for (int k = 0; k < 150; k++)
        m.points.push_back({(double)(k % 20), (double)(k / 20), 0.0});
    MeshFace big;
    for (int k = 0; k < 300; k++)
        big.points.push_back(k % 150);
    MeshPutFace(&m, big);
    MeshFace t;
    t.points = {1, 0, 149};
    MeshPutFace(&m, t);
    return m;
}

// Repeated points, a two-point and an empty polygon, a slit.
MeshData Degenerate()
{
    MeshData m;
    m.points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.5, 0}};
    MeshFace a, b, c, d, e;
    a.points = {0, 1, 1, 2, 3};
    b.points = {0, 1};
    c.points = {};
    d.points = {0, 4, 2, 4, 0, 3};
    e.points = {2, 2, 2};
    MeshSetFaces(&m, {a, b, c, d, e});
    return m;
}

// The cube with coordinates the geometry cannot take.
MeshData OddCube(double value)
{
    MeshData m = MakeCube();
    m.points[7] = {value, 1.0, value};
    return m;
}

std::string SettingsBytes(int32_t tag, double bevel, double limit, int32_t mode, size_t size = 32)
{
    std::string bytes(32, '\0');
    memcpy(&bytes[0], &tag, 4);
    memcpy(&bytes[8], &bevel, 8);
    memcpy(&bytes[16], &limit, 8);
    memcpy(&bytes[24], &mode, 4);
    return bytes.substr(0, size);
}

void ActivateSeeds()
{
    using namespace fuzzin;
    const MeshData none;
    EncodeOptions plain;
    int n = 0;
    auto put = [&](const EncodeOptions &o, const MeshData &bg, const MeshData &fg) {
        char name[32];
        snprintf(name, sizeof name, "seed-%03d", n++);
        Put("activate", name, Encode(o, bg, fg));
    };

    // Object mode over the generated meshes, plain and angle-limited.
    const MeshData objects[] = {MakeCube(),         MakeBox(2, 1, 1, 2), MakeQuadGrid(4, 3),
                                MakeQuadTube(6, 2), MakeQuadSphere(2),   MakeTorus(6, 4),
                                MakeCylinder(6, 2), MakeFan(6),          Crowded(),
                                BigPolygon(),       Degenerate(),        TwoTriangles()};
    for (const MeshData &mesh : objects)
        put(plain, mesh, none);
    EncodeOptions limited = plain;
    limited.flags1 |= kTypeAngleMode | kTypeLimit;
    for (int mode = 1; mode <= 2; mode++) {
        limited.angleMode = mode;
        limited.limitDeg = 120.0;
        put(limited, MakeCylinder(6, 2), none);
        put(limited, MakeBox(2, 1, 1, 2), none);
        put(limited, MakeQuadSphere(2), none);
    }

    // Two-polygon mode: a lone edge, a grid strip, rings, caps.
    put(plain, none, Selected(MakeCube(), 0, 2));
    put(plain, none, Selected(MakeQuadGrid(4, 3), 5, 6));
    put(plain, none, Selected(MakeQuadTube(6, 3), 6, 7));
    put(plain, none, Selected(MakeTorus(6, 4), 0, 1));
    put(plain, none, Selected(MakeQuadSphere(2), 0, 1));
    put(plain, none, Selected(MakeCylinder(6, 2), 0, 1));
    put(plain, none, Selected(MakeFan(5), 0, 1));
    put(plain, none, Selected(TwoTriangles(), 0, 1));
    put(plain, none, Selected(Crowded(), 0, 1));
    put(plain, none, Selected(MakeCube(), 0, 1));  // no shared edge
    put(plain, MakeCube(), Selected(MakeQuadGrid(3, 3), 4, 5));

    // Panel values: zero, negative, tiny, huge, not finite; cancel.
    for (double size : {0.0, -0.25, 1e-300, 1e300, 1e308, (double)NAN, (double)INFINITY, 7.5}) {
        EncodeOptions o = plain;
        o.bevel = size;
        put(o, MakeCube(), none);
        put(o, none, Selected(MakeQuadTube(6, 3), 6, 7));
    }
    EncodeOptions cancel = plain;
    cancel.flags1 |= kPanelCancel;
    put(cancel, MakeCube(), none);

    // Coordinates: NaN, infinite, huge, coincident.
    for (double value : {(double)NAN, (double)INFINITY, 1e300, 1e-300, 0.0}) {
        put(plain, OddCube(value), none);
        put(plain, none, Selected(OddCube(value), 0, 2));
    }

    // Settings files: valid, a NaN bevel size in a valid file, too short.
    EncodeOptions fromFile = plain;
    fromFile.flags1 &= ~kTypeBevel;
    fromFile.settingsFile = SettingsBytes(210, 0.25, 45.0, 2);
    put(fromFile, MakeBox(2, 1, 1, 2), none);
    fromFile.settingsFile = SettingsBytes(210, NAN, 45.0, 0);
    put(fromFile, MakeCube(), none);
    fromFile.settingsFile = SettingsBytes(210, 0.25, 45.0, 1, 27);
    put(fromFile, MakeCube(), none);

    // Aborts in each monitor, and host trouble.
    for (int monitor = 0; monitor < 6; monitor++) {
        EncodeOptions o = plain;
        o.abortMonitor = monitor;
        o.abortStep = 3;
        put(o, MakeQuadSphere(2), none);
    }
    EncodeOptions trouble = plain;
    trouble.flags1 |= kMonitorCreateFails;
    put(trouble, MakeCube(), none);
    trouble = plain;
    trouble.flags2 = kPointScanFails;
    put(trouble, MakeCube(), none);
    trouble.flags2 = kPolyScanFails;
    put(trouble, none, Selected(MakeCube(), 0, 2));
    trouble.flags2 = kHidePoly;
    trouble.hidePoly = 3;
    put(trouble, none, Selected(MakeQuadTube(6, 3), 6, 7));
    trouble.flags2 = kNoPanelService;
    put(trouble, MakeCube(), none);
}

void ObjSeeds()
{
    PutText("objread", "cube.obj",
            "v -1 -1 -1\nv 1 -1 -1\nv -1 1 -1\nv 1 1 -1\nv -1 -1 1\nv 1 -1 1\nv -1 1 1\nv 1 1 1\n"
            "usemtl Side\nf 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n");
    PutText("objread", "indices.obj",
            "# every face vertex form\nv 0 0 0\nv 1 0 0 1\nv 0 1 0 0.5 0.5 0.5\nvt 0 0\nvt 1 0 0\n"
            "vn 0 0 1\nf 1/1/1 2/2/1 3/1/1\nf -1 -2 -3\nf 1//1 3//1 2//1\nf 3/2 2/1 1/2\n");
    PutText("objread", "statements.obj",
            "mtllib a.mtl\no thing\ng group\ns 1\nv 1e10 -2.5e-3 +3\nv .5 -.5 0\nv 1 1 1\n"
            "usemtl  Name \nf 1 2 3\nl 1 2\np 3\ncurv 0 1 1 2\r\nf 3 2 1\r\n");
    PutText("objread", "bad.obj", "v 0 0 0\nv 1 0 0\nf 1 2 3\nv nan inf 1\nf 0 1 2\nf 1/2/3/4\n");
    PutText("objread", "forward.obj", "f 1 2 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n");
    PutText("objread", "short.obj", "f 1 2\nf 1\nv 0 0 0\nf\n");
}

// The other formats: small meshes as their writers make them, and the
// variants only other programs write (ASCII and big-endian PLY, extra
// properties and elements, OFF with colours, ASCII STL of two solids, a glTF
// with nodes, strips and a mirrored transform).
void MeshFileSeeds()
{
    MeshData cylinder = MakeCylinder(6, 1);
    for (size_t k = 0; k < MeshPolyCount(cylinder); k++)
        cylinder.polySurface[k] = MeshInternSurface(&cylinder, k % 2 ? "Side" : "Cap");
    const MeshData meshes[] = {MakeCube(), cylinder, MakeFan(5), MakeTorus(4, 3)};
    const struct {
        MeshFormat format;
        const char *target;
    } formats[] = {{MeshFormat::Ply, "plyread"},
                   {MeshFormat::Off, "offread"},
                   {MeshFormat::Stl, "stlread"},
                   {MeshFormat::Gltf, "gltfread"},
                   {MeshFormat::Glb, "glbread"}};
    for (const auto &f : formats) {
        int n = 0;
        for (const MeshData &mesh : meshes) {
            std::string bytes, error;
            if (MeshFileBytes(mesh, f.format, "seed", &bytes, &error))
                PutText(f.target, "mesh" + std::to_string(n++), bytes);
        }
    }
    const std::string plyHead = "ply\nformat ascii 1.0\ncomment by hand\nelement vertex 4\nproperty float x\n"
                                "property float y\nproperty float z\nproperty uchar red\nelement face 2\n"
                                "property list uchar int vertex_indices\nproperty float quality\n"
                                "element edge 1\nproperty int vertex1\nproperty int vertex2\nend_header\n";
    PutText("plyread", "ascii",
            plyHead + "0 0 0 255\n1 0 0 0\n0 1 0 7\n1 1 0 9\n3 0 1 2 0.5\n3 2 1 3 1\n0 3\n");
    std::string be =
        "ply\nformat binary_big_endian 1.0\nelement vertex 3\nproperty double x\nproperty double y\n"
        "property double z\nelement face 1\nproperty list ushort uint vertex_index\nend_header\n";
    const double coords[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    for (double c : coords) {
        unsigned char b[8];
        memcpy(b, &c, 8);
        for (int k = 7; k >= 0; k--)
            be += (char)b[k];
    }
    be += std::string("\0\3\0\0\0\0\0\0\0\1\0\0\0\2", 14);
    PutText("plyread", "bigendian", be);
    PutText("offread", "colours",
            "COFF\n# a comment\n4 2 5\n0 0 0 1 0 0 1\n1 0 0 0 1 0 1\n0 1 0 0 0 1 1\n1 1 0 1 1 1 1\n"
            "3 0 1 2 255 0 0\n3 2 1 3\n");
    PutText("offread", "sameline", "OFF 3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n");
    PutText("stlread", "ascii",
            "solid one\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\n"
            "endfacet\nendsolid one\nsolid two\n  facet normal 0 0 -1\n    outer loop\n      vertex 0 0 0\n"
            "      vertex 0 1 0\n      vertex -1e-3 +2.5E2 -0\n    endloop\n  endfacet\nendsolid\n");
    // Nesting that once overflowed the stack of the library's parser.
    const std::string deep(16000, '[');
    PutText("gltfread", "deep",
            R"({"asset":{"version":"2.0","extras":)" + deep + std::string(deep.size(), ']') + "}}");
    // Nodes and primitives that reuse one mesh and one accessor: the
    // triangles they name multiply.
    PutText(
        "gltfread", "instanced",
        R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1,2]}],)"
        R"("nodes":[{"mesh":0},{"mesh":0,"translation":[0,0,1]},{"mesh":0,"children":[0,1],"translation":[0,0,2]}],)"
        R"("meshes":[{"primitives":[{"attributes":{"POSITION":0},"mode":5},{"attributes":{"POSITION":0},"mode":5},)"
        R"({"attributes":{"POSITION":0},"indices":1,"mode":6}]}],)"
        R"("accessors":[{"bufferView":0,"componentType":5126,"type":"VEC3","count":4},)"
        R"({"bufferView":1,"componentType":5121,"type":"SCALAR","count":6}],)"
        R"("bufferViews":[{"buffer":0,"byteLength":48},{"buffer":0,"byteOffset":48,"byteLength":6}],)"
        R"("buffers":[{"byteLength":54,"uri":"data:application/octet-stream;base64,)"
        R"(AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAAAACAPwAAgD8AAAAAAAECAgED"}]})");
    PutText(
        "gltfread", "nodes",
        R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],)"
        R"("nodes":[{"children":[1,2],"translation":[1,2,3]},{"mesh":0,"rotation":[0,0,0.7071068,0.7071068]},)"
        R"({"mesh":0,"scale":[-1,1,1],"matrix":[1,0,0,0,0,1,0,0,0,0,1,0,5,0,0,1]}],)"
        R"("meshes":[{"primitives":[{"attributes":{"POSITION":0},"mode":5,"material":0},)"
        R"({"attributes":{"POSITION":0},"indices":1,"mode":4}]}],"materials":[{"name":"Red"}],)"
        R"("accessors":[{"bufferView":0,"componentType":5126,"type":"VEC3","count":4},)"
        R"({"bufferView":1,"componentType":5121,"type":"SCALAR","count":6}],)"
        R"("bufferViews":[{"buffer":0,"byteLength":48},{"buffer":0,"byteOffset":48,"byteLength":6}],)"
        R"("buffers":[{"byteLength":54,"uri":"data:application/octet-stream;base64,)"
        R"(AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAAAACAPwAAgD8AAAAAAAECAgED"}]})");
}

void SettingsSeeds()
{
    std::string valid = SettingsBytes(210, 2.5, 45.0, 2);
    PutText("settings", "valid", std::string(1, '\0') + valid);
    PutText("settings", "limit180", std::string(1, '\0') + SettingsBytes(210, 0.0, 180.0, 3));
    PutText("settings", "short28", std::string(1, '\0') + valid.substr(0, 28));
    PutText("settings", "badtag", std::string(1, '\0') + SettingsBytes(211, 2.5, 45.0, 2));
    PutText("settings", "nanlimit", std::string(1, '\0') + SettingsBytes(210, 2.5, NAN, 2));
    PutText("settings", "long", std::string(1, '\0') + valid + "trailing bytes");
    PutText("settings", "path", std::string(1, (char)(0x80 + 20)) + "/some/plugins/folder");
    PutText("settings", "pathlong", std::string(1, (char)0xff) + std::string(500, 'd'));
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: corvane_fuzz_corpus DIR\n");
        return 2;
    }
    g_root = argv[1];
    mkdir(g_root.c_str(), 0777);
    ActivateSeeds();
    ObjSeeds();
    MeshFileSeeds();
    SettingsSeeds();
    printf("%d seeds written under %s\n", g_written, g_root.c_str());
    return 0;
}
