// One run: read the input, put it into the host's layers, load the module the
// way a host does, activate it, and write what the edit layer holds.
#include "cli/cli.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "cli/preview/preview.h"
#include "meshio/meshio.h"
#include "run/run.h"

namespace fs = std::filesystem;

namespace {

// The module keeps its settings file name after the folder in a path of at
// most this many bytes, the NUL included.
const size_t kModulePathLimit = 256;
const char kSettingsFileName[] = "/Corvane.cfg";

void Error(const std::string &what)
{
    std::fprintf(stderr, "corvane: %s\n", what.c_str());
}

void Note(const CliArgs &args, const std::string &what)
{
    if (!args.quiet)
        std::fprintf(stderr, "corvane: note: %s\n", what.c_str());
}

// The settings folder, created on first use. Without it the module still
// runs; its options then are not kept.
void PrepareSettingsDir(const CliArgs &args, const std::string &dir)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        Note(args, "cannot create the settings folder " + dir + " (" + ec.message() +
                       "); options will not be kept");
    else if (dir.size() + sizeof kSettingsFileName > kModulePathLimit)
        Note(args, "the settings folder path " + dir + " is too long for the module; options will not be kept");
}

MeshFormat FormatOf(const std::string &path, const std::string &given)
{
    MeshFormat format = MeshFormat::Unknown;
    MeshChooseFormat(path, given, &format, nullptr);
    return format;
}

void InputNotes(const CliArgs &args, const MeshReadInfo &info)
{
    if (!MeshReadNote(args.input, info).empty())
        Note(args, MeshReadNote(args.input, info));
    if (info.texcoords > 0 && info.normals > 0)
        Note(args, args.input + " has texture coordinates and normals; they are not carried over");
    else if (info.texcoords > 0)
        Note(args, args.input + " has texture coordinates; they are not carried over");
    else if (info.normals > 0)
        Note(args, args.input + " has normals; they are not carried over");
    if (info.ignoredElements > 0)
        Note(args, args.input + ": " + std::to_string(info.ignoredElements) +
                       " point, line or free-form element(s) skipped");
}

// Polygons of 1 or 2 points have no edge to chamfer: the object mode copies
// none of them into its result, which the user should hear about.
void DegenerateNote(const CliArgs &args, const MeshData &mesh)
{
    int few = 0;
    for (const MeshPoly &p : mesh.polys)
        few += p.points.size() < 3 ? 1 : 0;
    if (few > 0)
        Note(args, args.input + ": " + std::to_string(few) +
                       " polygon(s) of fewer than 3 points are left out of the output");
}

// A count with thousands separated by commas: 1,536.
std::string Grouped(long long n)
{
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (int k = (int)digits.size() - 3; k > 0; k -= 3)
        digits.insert((size_t)k, ",");
    return n < 0 ? "-" + digits : digits;
}

// The chamfer works on consistently wound polygons where every edge joins
// at most two of them; anything else gives an open or tangled result, so the
// user hears about it once, before the run. The run goes on all the same.
void WindingWarning(const CliArgs &args, const MeshData &mesh)
{
    if (args.quiet)
        return;
    MeshStats s = MeshComputeStats(mesh);
    if (s.oppositeWindingEdges > 0)
        std::fprintf(stderr,
                     "corvane: warning: %s %s polygons of opposite winding; the chamfer needs consistently "
                     "wound polygons (the result will have holes)\n",
                     Grouped(s.oppositeWindingEdges).c_str(),
                     s.oppositeWindingEdges == 1 ? "edge joins" : "edges join");
    if (s.crowdedEdges > 0)
        std::fprintf(stderr,
                     "corvane: warning: %s %s shared by 3 or more polygons; the chamfer needs every edge "
                     "shared by at most two (the result will be tangled there)\n",
                     Grouped(s.crowdedEdges).c_str(), s.crowdedEdges == 1 ? "edge is" : "edges are");
}

// A result other tools may refuse is worth a word even when the run went
// well: the user hears it once, after the run, with the way out.
void InvalidResultWarning(const CliArgs &args, const MeshData &input, const MeshData &output)
{
    if (args.quiet)
        return;
    std::string what = MeshInvalidPolygonsText(MeshComputePolygonStats(output));
    if (what.empty())
        return;
    std::fprintf(stderr, "corvane: warning: in the result %s; other tools may refuse it", what.c_str());
    const double safe = MeshSafeBevelSize(input);
    if (std::isfinite(safe))
        std::fprintf(stderr, " (the safe bevel size is %s; --clamp keeps to it)", MeshFormatDouble(safe).c_str());
    std::fprintf(stderr, "\n");
}

// Two-polygon mode: the 0-based numbers of the two polygons the arguments
// name. false with a message when they do not name two polygons of the mesh.
bool SelectPolygons(const CliArgs &args, const MeshData &mesh, int selected[2])
{
    int count = (int)mesh.polys.size();
    if (args.select[0] > 0) {
        for (int k = 0; k < 2; k++)
            if (args.select[k] > count) {
                Error("--select " + std::to_string(args.select[0]) + "," + std::to_string(args.select[1]) +
                      ": " + args.input + " has " + std::to_string(count) + " polygon(s)");
                return false;
            }
        selected[0] = args.select[0] - 1;
        selected[1] = args.select[1] - 1;
        return true;
    }
    std::string name = std::to_string(args.edge[0]) + "," + std::to_string(args.edge[1]);
    int points = (int)mesh.points.size();
    if (args.edge[0] > points || args.edge[1] > points) {
        Error("--edge " + name + ": " + args.input + " has " + std::to_string(points) + " point(s)");
        return false;
    }
    std::vector<int> polys = MeshPolysWithEdge(mesh, args.edge[0] - 1, args.edge[1] - 1);
    if (polys.size() != 2) {
        Error("--edge " + name + ": " +
              (polys.empty() ? std::string("no polygon of ") + args.input + " has this edge"
                             : "the edge is shared by " + std::to_string(polys.size()) +
                                   " polygon(s), not 2"));
        return false;
    }
    selected[0] = polys[0];
    selected[1] = polys[1];
    return true;
}

void PrintStats(const MeshData &input, const MeshData *output, double activationMs)
{
    MeshStats a = MeshComputeStats(input);
    MeshStats b = output ? MeshComputeStats(*output) : MeshStats();
    auto row = [&](const char *label, int x, int y) {
        if (output)
            std::printf("%-28s %10d %10d\n", label, x, y);
        else
            std::printf("%-28s %10d %10s\n", label, x, "-");
    };
    std::printf("%-28s %10s %10s\n", "", "input", "output");
    row("points", a.points, b.points);
    row("polygons", a.polygons, b.polygons);
    row("  triangles", a.triangles, b.triangles);
    row("  quads", a.quads, b.quads);
    row("  n-gons", a.ngons, b.ngons);
    if (a.degenerate || b.degenerate)
        row("  fewer than 3 points", a.degenerate, b.degenerate);
    row("border edges", a.borderEdges, b.borderEdges);
    row("edges on 3 or more polygons", a.crowdedEdges, b.crowdedEdges);
    row("polygons with a point twice", a.repeatedPointPolys, b.repeatedPointPolys);
    row("polygons of zero area", a.zeroAreaPolys, b.zeroAreaPolys);
    std::printf("activation time: %.3f ms\n", activationMs);
    // The input's figure: the size past which strips start to cross.
    double safe = MeshSafeBevelSize(input);
    if (std::isfinite(safe))
        std::printf("safe bevel size: %s\n", MeshFormatDouble(safe).c_str());
    else
        std::printf("safe bevel size: any (no edge is chamfered)\n");
    std::fflush(stdout);
}

// Writes the output atomically; a Ctrl-C while it is written discards it
// unless partial results are wanted.
int WriteOutput(const CliArgs &args, const MeshData &mesh)
{
    std::string error, bytes, note;
    if (!MeshFileBytes(mesh, FormatOf(args.output, args.outputFormat), args.output, &bytes, &error, &note)) {
        Error(error);
        return kExitBadInput;
    }
    if (!note.empty())
        Note(args, args.output + ": " + note);
    AtomicFile file;
    if (!AtomicFileOpen(args.output, &file, &error)) {
        Error(error);
        return kExitBadInput;
    }
    InterruptSetTempFile(file.tempPath.c_str());
    bool ok = AtomicFileWrite(&file, bytes, &error);
    if (ok && InterruptRequested() && !args.keepPartial) {
        AtomicFileDiscard(&file);
        InterruptSetTempFile(nullptr);
        Error("interrupted; " + args.output + " not written");
        return kExitAborted;
    }
    if (ok)
        ok = AtomicFileCommit(&file, &error);
    InterruptSetTempFile(nullptr);
    if (!ok) {
        Error(error);
        return kExitBadInput;
    }
    return kExitDone;
}

struct ModuleGuard {
    LoadedModule module;
    bool loaded = false;
    ~ModuleGuard()
    {
        if (loaded)
            UnloadModule(&module);
    }
};

}  // namespace

int CliRun(const CliArgs &args)
{
    const bool pairMode = args.select[0] > 0 || args.edge[0] > 0;
    if (!CliCheckOutput(args))
        return kExitUsage;

    // 1. The input.
    MeshData mesh;
    MeshReadInfo info;
    std::string error;
    if (!MeshReadFile(args.input, FormatOf(args.input, args.inputFormat), &mesh, &info, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitBadInput;
    }
    InputNotes(args, info);
    if (!pairMode)
        DegenerateNote(args, mesh);
    int selected[2] = {0, 0};
    if (pairMode && !SelectPolygons(args, mesh, selected))
        return kExitUsage;
    WindingWarning(args, mesh);
    if (InterruptRequested()) {
        Error("interrupted");
        return kExitAborted;
    }

    // 2. The module, loaded as a host loads it.
    ModuleGuard guard;
    if (!RunLoadModule(CliModulePath(args), &guard.module, &error)) {
        Error(error);
        return kExitUsage;
    }
    guard.loaded = true;

    // 3. The run: the input in the background layer for the object mode, in
    // the foreground layer with two polygons selected for the two-polygon mode.
    std::string pluginsDir = args.pluginsDir.empty() ? RunDefaultSettingsDir() : args.pluginsDir;
    PrepareSettingsDir(args, pluginsDir);
    RunOptions options;
    options.settingsDir = pluginsDir;
    options.markPolygons = false;   // the picture marks its own
    // The command line types its values into the panel over what it loaded.
    options.bevelSize = args.size;
    options.angleMode = args.angleMode;
    options.limitAngleDeg = args.limitAngle;
    if (args.clamp) {
        const double safe = MeshSafeBevelSize(mesh);
        if (std::isfinite(safe))
            options.clampSize = safe;
    }
    if (pairMode) {
        options.select[0] = selected[0] + 1;
        options.select[1] = selected[1] + 1;
    }

    std::unique_ptr<ProgressDisplay, void (*)(ProgressDisplay *)> display(ProgressCreate(args.quiet),
                                                                         ProgressDestroy);
    options.prepare = [&](EmuHost *host) { ProgressAttach(display.get(), host); };
    if (!args.size && isatty(STDIN_FILENO) && isatty(STDERR_FILENO))
        options.panel = [](EmuPanel &panel) { return TerminalPanel(panel, STDIN_FILENO, STDERR_FILENO); };

    // 4. The activation.
    RunResult run;
    RunActivate(guard.module, mesh, options, &run);
    const int result = run.activation;
    const double activationMs = run.activationMs;
    ProgressClear(display.get());

    if (result != HOST_ACTIVATE_OK) {
        Error("the module's activation failed with result " + std::to_string(result) +
              (result == HOST_ACTIVATE_BADVERSION   ? " (interface version refused)"
               : result == HOST_ACTIVATE_BADSERVICE ? " (a host service is missing)"
                                                    : ""));
        return kExitUsage;
    }
    if (run.cancelled) {
        Error("cancelled; " + args.output + " not written");
        return kExitAborted;
    }

    // 5. What the module said and did. An info message ends the edit without
    // change: the module refused or failed. An error message comes from a pass
    // that went on: the result has a fault.
    int infos = 0, errors = 0;
    for (const RunMessage &m : run.messages)
        (m.error ? errors : infos)++;
    bool aborted = InterruptRequested() || run.aborted;
    if (infos > 0) {
        Error("the module reported a failure; " + args.output + " not written");
        if (args.stats)
            PrintStats(mesh, nullptr, activationMs);
        return kExitBadInput;
    }
    if (run.bevelSize == 0.0) {
        // The module changed nothing; writing the (empty) edit layer would
        // only replace an earlier output with nothing.
        Note(args, "a bevel size of 0 changes nothing; " + args.output + " not written");
        return kExitDone;
    }

    const MeshData &output = run.output;
    if (run.clampedFrom)
        Note(args, RunClampNote(run));
    InvalidResultWarning(args, mesh, output);
    int status = kExitDone;
    if (aborted || errors > 0) {
        status = aborted ? kExitAborted : kExitBadInput;
        if (!args.keepPartial) {
            Error(std::string(aborted ? "aborted" : "the module reported an error") + "; " + args.output +
                  " not written (--keep-partial writes it)");
            if (args.stats)
                PrintStats(mesh, &output, activationMs);
            return status;
        }
    }
    int written = WriteOutput(args, output);
    if (written != kExitDone)
        return written;
    if (!args.preview.empty()) {
        PreviewOptions picture;
        picture.azimuthDeg = args.viewAzimuth;
        picture.elevationDeg = args.viewElevation;
        picture.width = args.previewWidth;
        picture.height = args.previewHeight;
        picture.captionLeft = PreviewCaption("input", mesh, nullptr);
        PreviewRun previewRun;
        previewRun.mode = run.mode;
        previewRun.bevelSize = run.bevelSize;
        if (run.angleMode >= 0) {
            previewRun.angleMode = run.angleMode;
            previewRun.limitAngleDeg = run.limitAngleDeg;
        }
        picture.captionRight = PreviewCaption("output", output, &previewRun);
        std::string error;
        if (!WritePreview(args.preview, mesh, output, picture, &error)) {
            Error(error);
            return kExitBadInput;
        }
    }
    if (args.stats)
        PrintStats(mesh, &output, activationMs);
    else if (status == kExitDone && !args.quiet)
        std::printf("wrote %s: %s -> %s points, %s -> %s polygons (%s mode, size %s)\n", args.output.c_str(),
                    Grouped((long long)mesh.points.size()).c_str(), Grouped((long long)output.points.size()).c_str(),
                    Grouped((long long)mesh.polys.size()).c_str(), Grouped((long long)output.polys.size()).c_str(),
                    pairMode ? "two-polygon" : "object", MeshFormatDouble(run.bevelSize).c_str());
    return status;
}
