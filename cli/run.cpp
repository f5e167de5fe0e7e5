// One run: read the input, put it into the host's layers, load the module the
// way a host does, activate it, and write what the edit layer holds.
#include "cli/cli.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
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

// Without --keep-partial nothing of an interrupted run is written, so the
// first Ctrl-C need not wait for the module's next monitor step: the program
// ends shortly after it with the words the run would have ended with.
void EndsRunWith(const CliArgs &args, const std::string &what)
{
    if (!args.keepPartial)
        InterruptEndsRun(("corvane: " + what).c_str());
}

std::string AbortedText(const CliArgs &args)
{
    return "aborted; " + args.output + " not written (--keep-partial writes it)";
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
        Note(args,
             "the settings folder path " + dir + " is too long for the module; options will not be kept");
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
        Note(args, MeshReadNote(args.input, info) + (info.welded > 0 ? " (--no-weld keeps them apart)" : ""));
    if (info.texcoords > 0 && info.normals > 0)
        Note(args, args.input + " has texture coordinates and normals; they are not carried over");
    else if (info.texcoords > 0)
        Note(args, args.input + " has texture coordinates; they are not carried over");
    else if (info.normals > 0)
        Note(args, args.input + " has normals; they are not carried over");
    if (info.ignoredElements > 0)
        Note(args, args.input + ": " + std::to_string(info.ignoredElements) +
                       " point, line or free-form element(s) skipped");
    if (info.groupings > 0)
        Note(args,
             args.input + " has object, group or smoothing statements (o, g, s); they are not carried over");
}

// Polygons of 1 or 2 points have no edge to chamfer: the object mode copies
// none of them into its result, which the user should hear about.
void DegenerateNote(const CliArgs &args, const MeshData &mesh)
{
    int few = 0;
    for (size_t i = 0; i < MeshPolyCount(mesh); i++)
        few += MeshPolyPoints(mesh, i).size() < 3 ? 1 : 0;
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

// The chamfer works on consistently wound polygons; polygons of opposite
// winding give an open result, and edges on three or more polygons are left
// as they are. The user hears about either once, before the run, with the
// first few crowded edges by their points. The run goes on all the same.
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
    if (s.crowdedEdges > 0) {
        std::string which;
        for (const auto &e : s.firstCrowded)
            which += (which.empty() ? "" : ", ") + std::to_string(e.first + 1) + "-" +
                     std::to_string(e.second + 1);
        if (s.crowdedEdges > (int)s.firstCrowded.size())
            which += ", ...";
        std::fprintf(stderr,
                     "corvane: warning: %s %s shared by 3 or more polygons (points %s); the chamfer leaves "
                     "%s as %s, as it leaves an open border\n",
                     Grouped(s.crowdedEdges).c_str(), s.crowdedEdges == 1 ? "edge is" : "edges are",
                     which.c_str(), s.crowdedEdges == 1 ? "it" : "them",
                     s.crowdedEdges == 1 ? "it is" : "they are");
    }
}

// Two-polygon mode: the 0-based numbers of the two polygons the arguments
// name. false with a message when they do not name two polygons of the mesh.
bool SelectPolygons(const CliArgs &args, const MeshData &mesh, int selected[2])
{
    int count = (int)MeshPolyCount(mesh);
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
              (polys.empty()
                   ? std::string("no polygon of ") + args.input + " has this edge"
                   : "the edge is shared by " + std::to_string(polys.size()) + " polygon(s), not 2"));
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
        std::printf("safe bevel size: %s\n", RunSafeSizeText(safe).c_str());
    else
        std::printf("safe bevel size: any (no edge is chamfered)\n");
    std::fflush(stdout);
}

// Writes the output atomically; a Ctrl-C while it is written discards it
// unless partial results are wanted.
int WriteOutput(const CliArgs &args, const MeshData &result)
{
    // The material libraries are named from the output's folder, where
    // other tools look for them.
    MeshData mesh = result;
    const std::string moved = MeshMoveMaterialLibraries(&mesh, args.input, args.output);
    if (!moved.empty())
        Note(args, moved);
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
    EndsRunWith(args, "interrupted; " + args.output + " not written");
    bool ok = AtomicFileWrite(&file, bytes, &error);
    if (ok && InterruptRequested() && !args.keepPartial) {
        AtomicFileDiscard(&file);
        InterruptSetTempFile(nullptr);
        Error("interrupted; " + args.output + " not written");
        return kExitAborted;
    }
    // From here on the output is in place or refused: a Ctrl-C no longer
    // changes what is written.
    InterruptEndsRun(nullptr);
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

// What one run carries from phase to phase.
struct Job {
    explicit Job(const CliArgs &a) : args(a) {}
    const CliArgs &args;
    bool pairMode = false;
    MeshData input;
    int selected[2] = {0, 0};  // two-polygon mode, 0-based
    std::string settingsFile;
    bool settingsFound = false;  // the settings file existed before the run
    bool panelShown = false;     // the user saw (and confirmed) the options
    double safe = 0.0;           // the input's safe size
    RunResult run;
    bool sizeWarned = false;
};

// Goes on to the next phase; anything else is the exit status.
const int kGoOn = -1;

// The input, read and checked before the module is loaded.
int ReadInput(Job *job)
{
    const CliArgs &args = job->args;
    MeshReadInfo info;
    std::string error;
    const MeshBudget budget = args.maxCorners > 0 ? MeshBudgetForCorners(args.maxCorners) : MeshBudget();
    if (!MeshReadFile(args.input, FormatOf(args.input, args.inputFormat), &job->input, &info, &error, &budget,
                      !args.noWeld)) {
        Error(error);
        return kExitBadInput;
    }
    InputNotes(args, info);
    // The module would answer with its own words for an empty background
    // layer, which name neither the file nor what is missing.
    if (MeshPolyCount(job->input) == 0) {
        Error(args.input + " has no polygons; there is nothing to chamfer");
        return kExitBadInput;
    }
    if (!job->pairMode)
        DegenerateNote(args, job->input);
    if (job->pairMode && !SelectPolygons(args, job->input, job->selected))
        return kExitUsage;
    WindingWarning(args, job->input);
    if (InterruptRequested()) {
        Error("interrupted");
        return kExitAborted;
    }
    return kGoOn;
}

// The module, loaded as a host loads it, and one activation: the input in
// the background layer for the object mode, in the foreground layer with two
// polygons selected for the two-polygon mode.
int RunModule(Job *job)
{
    const CliArgs &args = job->args;
    ModuleGuard guard;
    std::string error;
    if (!RunLoadModule(CliModulePath(args), &guard.module, &error)) {
        Error(error);
        return kExitUsage;
    }
    guard.loaded = true;

    std::string pluginsDir = args.pluginsDir.empty() ? RunDefaultSettingsDir() : args.pluginsDir;
    // Without a home folder the run keeps its options in a folder of its
    // own, made for it and removed after it.
    std::string scratch;
    if (pluginsDir.empty()) {
        std::error_code tempError;
        std::string pattern = (fs::temp_directory_path(tempError) / "corvane-XXXXXX").string();
        if (!tempError && mkdtemp(pattern.data()))
            scratch = pluginsDir = pattern;
        Note(args,
             "no home folder to keep the options in; they will not be kept (--plugins-dir names a folder)");
    }
    std::unique_ptr<std::string, void (*)(std::string *)> removeScratch(&scratch, [](std::string *dir) {
        std::error_code ignored;
        if (!dir->empty())
            fs::remove_all(*dir, ignored);
    });
    PrepareSettingsDir(args, pluginsDir);
    job->settingsFile = pluginsDir + kSettingsFileName;
    std::error_code ec;
    job->settingsFound = fs::exists(job->settingsFile, ec);
    job->safe = MeshSafeBevelSize(job->input);
    RunOptions options;
    options.settingsDir = pluginsDir;
    options.markPolygons = false;  // the picture marks its own
    // The command line types its values into the panel over what it loaded.
    options.bevelSize = args.size;
    options.angleMode = args.angleMode;
    options.limitAngleDeg = args.limitAngle;
    if (args.clamp && std::isfinite(job->safe))
        options.clampSize = job->safe;
    if (job->pairMode) {
        options.select[0] = job->selected[0] + 1;
        options.select[1] = job->selected[1] + 1;
    }
    std::unique_ptr<ProgressDisplay, void (*)(ProgressDisplay *)> display(ProgressCreate(args.quiet,
                                                                                         args.progress),
                                                                          ProgressDestroy);
    options.prepare = [&](EmuHost *host) { ProgressAttach(display.get(), host); };
    if (!args.size && isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
        // At a prompt Ctrl-C cancels the panel, which the panel says itself.
        options.panel = [&args](EmuPanel &panel) {
            InterruptEndsRun(nullptr);
            int confirmed = TerminalPanel(panel, STDIN_FILENO, STDERR_FILENO);
            if (confirmed != 0)
                EndsRunWith(args, AbortedText(args));
            return confirmed;
        };
        job->panelShown = true;
    }
    EndsRunWith(args, AbortedText(args));
    RunActivate(guard.module, job->input, options, &job->run);
    ProgressClear(display.get());
    return kGoOn;
}

// "size 0.1, angle mode lt, limit angle 120": the options the run used (the
// two-polygon mode takes no angle test).
std::string OptionsText(const Job &job, bool fromFileOnly)
{
    const CliArgs &args = job.args;
    const RunResult &run = job.run;
    std::vector<std::string> parts;
    if (!fromFileOnly || !args.size)
        parts.push_back("size " +
                        MeshFormatDouble(fromFileOnly && run.clampedFrom ? *run.clampedFrom : run.bevelSize));
    if (!job.pairMode && (!fromFileOnly || !args.angleMode))
        parts.push_back("angle mode " + RunAngleModeName(run.angleMode));
    if (!job.pairMode && run.angleMode != 0 && (!fromFileOnly || !args.limitAngle))
        parts.push_back("limit angle " + RunAngleText(run.limitAngleDeg));
    std::string text;
    for (const std::string &p : parts)
        text += (text.empty() ? "" : ", ") + p;
    return text;
}

// Whether the size came from neither the command line, the panel nor a
// settings file: the module's own default.
bool DefaultSize(const Job &job)
{
    return !job.args.size && !job.panelShown && !job.settingsFound;
}

// Options the command line did not give came from the settings file an
// earlier run saved: said once, so that a saved option never steers a run
// unseen. (Without the file they are the module's defaults, which the
// summary names and the size warning calls so.)
void OptionsOriginNote(const Job &job)
{
    if (job.panelShown || !job.settingsFound)
        return;
    const std::string taken = OptionsText(job, true);
    if (!taken.empty())
        Note(job.args, taken + " from the settings file " + job.settingsFile +
                           " (an earlier run's; give them on the command line to change them)");
}

// The way out of a size past the safe one. A size nobody chose (the
// module's default, with no --size and no settings file) is named as such.
std::string SizeRemedy(const Job &job)
{
    if (!DefaultSize(job))
        return "--clamp keeps to it";
    return "the size " + MeshFormatDouble(job.run.bevelSize) +
           " is the module's default, as no --size was given and no settings file was found: give --size, at "
           "most the safe size " +
           RunSafeSizeText(job.safe) + ", or --clamp";
}

// A result other tools may refuse is worth a word even when the run went
// well: the user hears it once, after the run, with the way out unless the
// size warning gave it already.
void InvalidResultWarning(const Job &job)
{
    if (job.args.quiet)
        return;
    std::string what = MeshInvalidPolygonsText(MeshComputePolygonStats(job.run.output));
    if (what.empty())
        return;
    std::string text = "corvane: warning: in the result " + what + "; other tools may refuse it";
    if (!job.sizeWarned && std::isfinite(job.safe))
        text += DefaultSize(job)
                    ? " (" + SizeRemedy(job) + ")"
                    : " (the safe bevel size is " + RunSafeSizeText(job.safe) + "; --clamp keeps to it)";
    std::fprintf(stderr, "%s\n", text.c_str());
}

// The module refuses an input of more polygon corners than it holds, in
// words that give no count: " (INPUT has N polygon corners, more than the
// 65,536 the module takes)", with the limit its message names (the host
// module's, or the larger one of the program's own), else empty.
std::string CornersPastLimit(const Job &job)
{
    long long limit = 0;
    const std::string says = "has more than ";
    for (const RunMessage &m : job.run.messages) {
        const size_t at = m.text.find(says);
        if (at != std::string::npos && m.text.find("polygon corners", at) != std::string::npos)
            limit = std::atoll(m.text.c_str() + at + says.size());
    }
    const long long corners = (long long)job.input.polyPoints.size();
    if (job.pairMode || limit <= 0 || corners <= limit)
        return "";
    return " (" + job.args.input + " has " + Grouped(corners) + " polygon corners, more than the " +
           Grouped(limit) + " the module takes)";
}

// What the run came to, told the user; *write says whether OUTPUT is to be
// written (a partial result only with --keep-partial).
int Report(Job *job, bool *write)
{
    const CliArgs &args = job->args;
    const RunResult &run = job->run;
    *write = false;
    // The options the run used, whatever it came to (a size of 0 or a refused
    // one from the settings file included).
    if (run.bevelSize != -1.0 && !(run.cancelled && !run.refused))
        OptionsOriginNote(*job);
    switch (run.verdict) {
    case RunVerdict::kFailed:
        if (run.activation != HOST_ACTIVATE_OK) {
            Error(run.failure);
            return kExitUsage;
        }
        if (run.refused) {
            Error(run.failure + "; " + args.output + " not written");
            return kExitBadInput;
        }
        if (run.cancelled) {
            Error("cancelled; " + args.output + " not written");
            return kExitAborted;
        }
        Error(run.failure + CornersPastLimit(*job) + "; " + args.output + " not written");
        if (args.stats)
            PrintStats(job->input, nullptr, run.activationMs);
        return kExitBadInput;
    case RunVerdict::kInternalFault:
        Error(run.failure + "; " + args.output + " not written");
        return kExitBadInput;
    case RunVerdict::kUnchanged:
        // Writing the (empty) edit layer would only replace an earlier
        // output with nothing.
        if (!args.quiet)
            std::printf("wrote nothing: a bevel size of 0 changes nothing; %s not written (%s mode, %s)\n",
                        args.output.c_str(), job->pairMode ? "two-polygon" : "object",
                        OptionsText(*job, false).c_str());
        return kExitDone;
    case RunVerdict::kFinished: break;
    }
    if (run.clampedFrom)
        Note(args, RunClampNote(run));
    // With --clamp the size is the safe size at most, which is valid.
    const std::string sizeWarning = args.clamp ? ""
                                               : RunSizeWarning(run.bevelSize, job->safe, SizeRemedy(*job));
    if (!sizeWarning.empty() && !args.quiet) {
        std::fprintf(stderr, "corvane: warning: %s\n", sizeWarning.c_str());
        job->sizeWarned = true;
    }
    InvalidResultWarning(*job);
    const std::string nothing = RunNothingChamferedText(job->input, run);
    if (!nothing.empty() && !args.quiet)
        std::fprintf(stderr, "corvane: warning: %s\n", nothing.c_str());
    const bool aborted = InterruptRequested() || run.aborted;
    if (aborted || run.partial) {
        const int status = aborted ? kExitAborted : kExitBadInput;
        if (!args.keepPartial) {
            Error(std::string(aborted ? "aborted" : "the module reported an error") + "; " + args.output +
                  " not written (--keep-partial writes it)");
            if (args.stats)
                PrintStats(job->input, &run.output, run.activationMs);
            return status;
        }
        *write = true;
        return status;
    }
    *write = true;
    return kExitDone;
}

// OUTPUT, the picture, and the line that says what was done.
int WriteResults(const Job &job, int status)
{
    const CliArgs &args = job.args;
    const MeshData &output = job.run.output;
    int written = WriteOutput(args, output);
    if (written != kExitDone)
        return written;
    if (!args.preview.empty()) {
        PreviewOptions picture;
        picture.azimuthDeg = args.viewAzimuth;
        picture.elevationDeg = args.viewElevation;
        picture.width = args.previewWidth;
        picture.height = args.previewHeight;
        picture.captionLeft = PreviewCaption("input", job.input, nullptr);
        PreviewRun previewRun;
        previewRun.mode = RunModeName(job.run);
        previewRun.bevelSize = job.run.bevelSize;
        if (job.run.angleMode >= 0) {
            previewRun.angleMode = job.run.angleMode;
            previewRun.limitAngleDeg = job.run.limitAngleDeg;
        }
        picture.captionRight = PreviewCaption("output", output, &previewRun);
        std::string error;
        if (!WritePreview(args.preview, job.input, output, picture, &error)) {
            Error(error);
            return kExitBadInput;
        }
    }
    // With --stats the table follows the line, which names the output.
    if (status == kExitDone && (!args.quiet || args.stats))
        std::printf("wrote %s: %s -> %s points, %s -> %s polygons (%s mode, %s)\n", args.output.c_str(),
                    Grouped((long long)job.input.points.size()).c_str(),
                    Grouped((long long)output.points.size()).c_str(),
                    Grouped((long long)MeshPolyCount(job.input)).c_str(),
                    Grouped((long long)MeshPolyCount(output)).c_str(),
                    job.pairMode ? "two-polygon" : "object", OptionsText(job, false).c_str());
    if (args.stats)
        PrintStats(job.input, &output, job.run.activationMs);
    return status;
}

}  // namespace

int CliRun(const CliArgs &args)
{
    if (!CliCheckOutput(args) || (!args.preview.empty() && !CliCheckWritable(args.preview, "the picture ")))
        return kExitUsage;
    Job job(args);
    job.pairMode = args.select[0] > 0 || args.edge[0] > 0;
    EndsRunWith(args, "interrupted");
    int status = ReadInput(&job);
    if (status == kGoOn)
        status = RunModule(&job);
    if (status != kGoOn)
        return status;
    bool write = false;
    status = Report(&job, &write);
    return write ? WriteResults(job, status) : status;
}
