// Golden runs: the loaded module on a fixed set of meshes, settings and
// modes, with everything it committed printed exactly. The same program is
// built for Linux and for Windows; the test run compares the two outputs
// byte for byte, so any difference in the module's arithmetic between the
// targets shows up as a differing line.
//
//   corvane_golden MODULE OUTPUT [--x87 24|53|64] [EXAMPLE.obj ...]
//
// MODULE is the Corvane.p to load, OUTPUT the text file to write (binary,
// so that line ends are the same on every target). --x87 sets the x87
// precision word before anything runs, as a host process may have set it;
// it is accepted and ignored where there is no x87 unit in use.
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/loader.h"
#include "hostapi/angles.h"
#include "meshgen/meshgen.h"
#include "vecmath/vecmath.h"

namespace {

std::string Num(double v)
{
    // The shortest text that reads back to the same double: exact, and the
    // same on every target (no C library printf involved).
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, result.ptr);
}

uintptr_t IdNumber(const void *id)
{
    return reinterpret_cast<uintptr_t>(id);
}

// Rounds every coordinate to a multiple of 2^-20. The mesh generators place
// circle points with the C library's cosine and sine, whose last bits differ
// between the targets' libraries; rounding to a coarse grid (with additions
// only: adding 1.5 * 2^52 leaves the nearest integer) gives both targets the
// same input, so the comparison sees only the module.
MeshData OnGrid(MeshData mesh)
{
    const double kScale = 1048576.0;
    const double kRound = 6755399441055744.0;
    for (auto &p : mesh.points)
        for (double &c : p)
            c = ((c * kScale + kRound) - kRound) / kScale;
    return mesh;
}

// Index of the first polygon other than `poly` that holds the edge from
// vertex `k` of `poly` to the next one, or -1.
int NeighbourAcross(const MeshData &mesh, int poly, int k)
{
    const MeshPointSpan pts = MeshPolyPoints(mesh, poly);
    const int a = pts[k];
    const int b = pts[(k + 1) % pts.size()];
    for (size_t q = 0; q < MeshPolyCount(mesh); ++q) {
        if ((int)q == poly)
            continue;
        const MeshPointSpan o = MeshPolyPoints(mesh, q);
        for (size_t j = 0; j < o.size(); ++j) {
            const int c = o[j];
            const int d = o[(j + 1) % o.size()];
            if ((c == a && d == b) || (c == b && d == a))
                return (int)q;
        }
    }
    return -1;
}

struct GoldenCase {
    std::string name;
    MeshData mesh;
    bool lineMode = false;  // the mesh goes to the foreground with two polygons selected
    int first = 0, second = 0;
    double bevel = 0.1;
    int angleMode = 0;
    double limitDeg = 90.0;
};

void Print(FILE *out, const std::string &line)
{
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
}

// Runs one case on a fresh host and prints what the module did to it.
void RunCase(FILE *out, HostActivateFunc *activate, void *serverData, GoldenCase c)
{
    std::string head = "case " + c.name + (c.lineMode ? " line" : " object") + " bevel " + Num(c.bevel) +
                       " angle-mode " + std::to_string(c.angleMode) + " limit " + Num(c.limitDeg);
    if (c.lineMode)
        head += " pair " + std::to_string(c.first) + " " + std::to_string(c.second);
    Print(out, head);

    std::unique_ptr<EmuHost> host = EmuHostCreate();
    host->script.noDirectoryService = true;  // no settings file: the script sets every option
    host->script.bevelSize = c.bevel;
    host->script.angleMode = c.angleMode;
    host->script.limitAngleRad = c.limitDeg * kRadiansPerDegree;
    if (c.lineMode) {
        c.mesh.polySelected.assign(MeshPolyCount(c.mesh), 0);
        c.mesh.polySelected[c.first] = 1;
        c.mesh.polySelected[c.second] = 1;
        EmuHostAddMesh(host.get(), 1, c.mesh);
    } else {
        EmuHostAddMesh(host.get(), 2, c.mesh);
    }
    const size_t hostPoints = host->points.size();

    const int rc = EmuHostRun(host.get(), activate, serverData);
    std::string line = "result " + std::to_string(rc) + " done";
    for (int code : host->log.doneCodes)
        line += " " + std::to_string(code);
    Print(out, line);
    for (const EmuMessage &m : host->log.messages)
        Print(out, std::string(m.error ? "error " : "info ") + m.line1);
    for (const EmuMonitorLog &m : host->log.monitors)
        Print(out, "monitor " + m.title + " |" + m.text + "| steps " + std::to_string(m.steps));

    // Points the module created, in call order, with their positions.
    Print(out, "points " + std::to_string(host->log.addedPoints.size()));
    for (LWPntID id : host->log.addedPoints) {
        const EmuPoint *p = EmuHostPoint(host.get(), id);
        if (p == nullptr) {
            Print(out, "p " + std::to_string(IdNumber(id)) + " missing");
            continue;
        }
        const double *pos = p->info.position;
        Print(out, "p " + std::to_string(IdNumber(id)) + " " + Num(pos[0]) + " " + Num(pos[1]) + " " +
                       Num(pos[2]));
    }
    // Polygons, in call order: surface and point ids (ids up to hostPoints
    // are the host's own points, later ones the created points above).
    Print(out, "polygons " + std::to_string(host->log.addedPolys.size()) + " host points " +
                   std::to_string(hostPoints));
    for (LWPolID id : host->log.addedPolys) {
        const EmuPoly *p = EmuHostPoly(host.get(), id);
        if (p == nullptr) {
            Print(out, "f " + std::to_string(IdNumber(id)) + " missing");
            continue;
        }
        std::string f = "f " + std::to_string(IdNumber(id)) + " " +
                        (p->hasSurface ? std::string(p->surface) : std::string("(none)"));
        for (LWPntID v : p->points)
            f += " " + std::to_string(IdNumber(v));
        Print(out, f);
    }
    std::string removed = "removed";
    for (LWPolID id : host->log.removedPolys)
        removed += " " + std::to_string(IdNumber(id));
    Print(out, removed);
}

// The arc cosine that decides the angle test, over the whole domain: the
// module's results can only agree if this does.
void PrintAcosTable(FILE *out)
{
    Print(out, "acos");
    const int n = 512;
    for (int i = 0; i <= n; ++i) {
        const double x = -1.0 + 2.0 * i / n;
        Print(out, Num(x) + " " + Num(VecAcos(x)));
    }
    double t = 0.5;
    for (int e = 1; e <= 40; ++e, t *= 0.5) {
        Print(out, Num(1.0 - t) + " " + Num(VecAcos(1.0 - t)));
        Print(out, Num(-1.0 + t * 1.25) + " " + Num(VecAcos(-1.0 + t * 1.25)));
    }
}

// A small OBJ reader for the bundled examples: points, faces (the first
// number of each corner, negative ones counted from the end) and usemtl.
bool ReadObj(const std::string &path, MeshData *mesh)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string surface = "Default";
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string tag;
        words >> tag;
        if (tag == "v") {
            std::string t[3];
            words >> t[0] >> t[1] >> t[2];
            std::array<double, 3> p{};
            for (int k = 0; k < 3; ++k) {
                // from_chars reads correctly rounded on every target.
                const char *s = t[k].c_str();
                if (std::from_chars(s, s + t[k].size(), p[k]).ec != std::errc())
                    return false;
            }
            mesh->points.push_back(p);
        } else if (tag == "f") {
            MeshFace poly;
            poly.surface = surface;
            std::string corner;
            while (words >> corner) {
                long k = std::strtol(corner.c_str(), nullptr, 10);
                if (k < 0)
                    k += (long)mesh->points.size() + 1;
                if (k < 1 || k > (long)mesh->points.size())
                    return false;
                poly.points.push_back((int)k - 1);
            }
            MeshPutFace(mesh, poly);
        } else if (tag == "usemtl") {
            words >> surface;
        }
    }
    return true;
}

std::vector<GoldenCase> GeneratedCases()
{
    std::vector<GoldenCase> cases;
    auto object = [&](const std::string &name, const MeshData &mesh, double bevel, int mode = 0,
                      double limit = 90.0) {
        GoldenCase c;
        c.name = name;
        c.mesh = OnGrid(mesh);
        c.bevel = bevel;
        c.angleMode = mode;
        c.limitDeg = limit;
        cases.push_back(c);
    };
    auto line = [&](const std::string &name, const MeshData &mesh, int first, int second, double bevel) {
        GoldenCase c;
        c.name = name;
        c.mesh = OnGrid(mesh);
        c.lineMode = true;
        c.first = first;
        c.second = second;
        c.bevel = bevel;
        cases.push_back(c);
    };

    // Object mode, every edge: a few bevel sizes on closed and open meshes,
    // n-gon caps, curved surfaces and flat regions.
    for (double bevel : {0.1, 0.25, 0.5})
        object("cube", MakeCube(), bevel);
    object("box", MakeBox(2.0, 1.0, 1.5, 2), 0.2);
    object("cylinder-8x2", MakeCylinder(8, 2), 0.1);
    object("cylinder-8x2", MakeCylinder(8, 2), 0.3);
    object("cylinder-5x1", MakeCylinder(5, 1), 0.15);
    object("torus-12x8", MakeTorus(12, 8), 0.05);
    object("sphere-3", MakeQuadSphere(3), 0.05);
    object("grid-4x3", MakeQuadGrid(4, 3), 0.2);
    object("tube-6x2", MakeQuadTube(6, 2), 0.1);
    object("fan-7", MakeFan(7), 0.1);

    // Object mode with the angle modes (0 is above), limits below, at and
    // above the angles these meshes have. Mode 3 is never offered by the
    // panel but a settings file may hold it.
    const double limits[] = {30.0, 90.0, 120.0, 135.0, 150.0, 170.0, 179.9};
    for (int mode : {1, 2, 3}) {
        for (double limit : limits) {
            object("cylinder-8x2", MakeCylinder(8, 2), 0.1, mode, limit);
            object("torus-12x8", MakeTorus(12, 8), 0.05, mode, limit);
            object("box", MakeBox(2.0, 1.0, 1.5, 2), 0.2, mode, limit);
        }
        object("sphere-3", MakeQuadSphere(3), 0.05, mode, 160.0);
        object("cube", MakeCube(), 0.1, mode, 90.0);
    }

    // Two-polygon mode: loops that end at both sides, rings that close, and
    // flat pairs.
    for (double bevel : {0.1, 0.25}) {
        line("cube", MakeCube(), 0, 2, bevel);
        const MeshData cylinder = MakeCylinder(8, 3);
        line("cylinder-8x3-ring", cylinder, 1, 9, bevel);
        line("cylinder-8x3-column", cylinder, 8, 9, bevel);
        const MeshData torus = MakeTorus(12, 8);
        line("torus-12x8", torus, 0, NeighbourAcross(torus, 0, 0), bevel);
        line("torus-12x8-other", torus, 0, NeighbourAcross(torus, 0, 1), bevel);
        line("grid-4x3", MakeQuadGrid(4, 3), 5, 6, bevel);
        line("grid-4x3-across", MakeQuadGrid(4, 3), 5, 9, bevel);
        const MeshData sphere = MakeQuadSphere(3);
        line("sphere-3", sphere, 4, NeighbourAcross(sphere, 4, 0), bevel);
    }
    return cases;
}

// The bundled examples, in both modes. The bevel size is 2% of the
// bounding box's diagonal, so that it suits every example's scale.
void AddExampleCases(const std::string &path, const MeshData &mesh, std::vector<GoldenCase> *cases)
{
    if (mesh.points.empty() || MeshPolyCount(mesh) == 0)
        return;
    std::array<double, 3> lo = mesh.points[0], hi = mesh.points[0];
    for (const auto &p : mesh.points)
        for (int k = 0; k < 3; ++k) {
            lo[k] = p[k] < lo[k] ? p[k] : lo[k];
            hi[k] = p[k] > hi[k] ? p[k] : hi[k];
        }
    double d2 = 0.0;
    for (int k = 0; k < 3; ++k)
        d2 += (hi[k] - lo[k]) * (hi[k] - lo[k]);
    const double bevel = 0.02 * std::sqrt(d2);
    std::string name = path.substr(path.find_last_of("/\\") + 1);

    GoldenCase c;
    c.name = "example-" + name;
    c.mesh = mesh;
    c.bevel = bevel;
    cases->push_back(c);
    for (int mode : {1, 2}) {
        c.angleMode = mode;
        c.limitDeg = 150.0;
        cases->push_back(c);
    }
    const int partner = MeshPolyPoints(mesh, 0).size() >= 2 ? NeighbourAcross(mesh, 0, 0) : -1;
    if (partner >= 0) {
        GoldenCase l;
        l.name = "example-" + name;
        l.mesh = mesh;
        l.lineMode = true;
        l.first = 0;
        l.second = partner;
        l.bevel = bevel;
        cases->push_back(l);
    }
}

bool SetX87Precision(int bits)
{
#if defined(_WIN32) && !defined(_WIN64)
    unsigned pc = bits == 24 ? _PC_24 : bits == 53 ? _PC_53 : _PC_64;
    _controlfp(pc, _MCW_PC);
    return true;
#else
    (void)bits;
    return true;
#endif
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s MODULE OUTPUT [--x87 24|53|64] [EXAMPLE.obj ...]\n", argv[0]);
        return 2;
    }
    const std::string modulePath = argv[1];
    const std::string outputPath = argv[2];
    std::vector<std::string> examples;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--x87") == 0 && i + 1 < argc) {
            const int bits = std::atoi(argv[++i]);
            if (bits != 24 && bits != 53 && bits != 64) {
                std::fprintf(stderr, "golden: --x87 takes 24, 53 or 64\n");
                return 2;
            }
            SetX87Precision(bits);
        } else {
            examples.push_back(argv[i]);
        }
    }

    LoadedModule module;
    std::string error;
    if (!LoadModule(modulePath, "MeshDataEdit", "QX_Corvane", &module, &error)) {
        std::fprintf(stderr, "golden: %s\n", error.c_str());
        return 1;
    }
    std::vector<GoldenCase> cases = GeneratedCases();
    for (const std::string &path : examples) {
        MeshData mesh;
        if (!ReadObj(path, &mesh)) {
            std::fprintf(stderr, "golden: cannot read %s\n", path.c_str());
            UnloadModule(&module);
            return 1;
        }
        AddExampleCases(path, mesh, &cases);
    }

    FILE *out = std::fopen(outputPath.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "golden: cannot write %s\n", outputPath.c_str());
        UnloadModule(&module);
        return 1;
    }
    PrintAcosTable(out);
    for (const GoldenCase &c : cases)
        RunCase(out, module.activate, module.serverData, c);
    const bool written = std::fclose(out) == 0;
    UnloadModule(&module);
    std::fprintf(stderr, "golden: %zu cases written to %s\n", cases.size(), outputPath.c_str());
    return written ? 0 : 1;
}
