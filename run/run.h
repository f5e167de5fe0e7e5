// One activation of the Corvane module, as a host runs it, for the programs
// built around it (the command line, the viewer, the Python module): the
// input put into the emulated host's layers, the options typed into the
// module's panel over what it loads from the settings file, the activation,
// and what it made and said. Nothing here prints, and nothing is kept between
// runs: a loaded module may be run again and again, each run on a host of
// its own.
#ifndef CORVANE_RUN_H
#define CORVANE_RUN_H

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/loader.h"

// Loads the module at `path` the way a host does and finds its edit tool.
// false with a message naming the file in *error (nothing to unload then);
// otherwise release it with UnloadModule.
bool RunLoadModule(const std::string &path, LoadedModule *module, std::string *error);

// The folder of the settings file a host offers when the user names none:
// $XDG_CONFIG_HOME/corvane, else ~/.config/corvane. It may not exist yet.
// Empty when the user has no home folder (no HOME and no passwd entry):
// a shared fallback such as /tmp would let other users plant the file.
std::string RunDefaultSettingsDir();

struct RunInputIndex;

struct RunOptions {
    // Typed into the options panel over what it loaded; none keeps the
    // settings file's value (or the module's default without one).
    std::optional<double> bevelSize;      // model units
    std::optional<int> angleMode;         // 0 disable, 1 lt, 2 gt
    std::optional<double> limitAngleDeg;  // degrees
    // Two-polygon mode: the two polygons (1-based, in input order, different,
    // within the input). {0, 0}: object mode.
    int select[2] = {0, 0};
    // The folder the host names as its plug-ins folder, where the module
    // keeps its settings file. Required: without it the module would open
    // a settings file at the filesystem root, so an empty one is refused
    // (RunResult::activation HOST_ACTIVATE_BADSERVICE, the module not run).
    std::string settingsDir;
    // Optional. Shows the panel to the user: 1 confirms, 0 cancels. Without
    // it the panel is confirmed with the typed values. Its time is not part
    // of the activation time.
    std::function<int(EmuPanel &)> panel;
    // Optional. Called with the host just before the activation, to attach
    // the monitor and message hooks (the panel hook is the run's own).
    std::function<void(EmuHost *)> prepare;
    // Whether to fill RunResult::created and reshaped. Comparing the output
    // with the input takes about a third of an activation's time on large
    // meshes; a caller that shows no tint skips it.
    bool markPolygons = true;
    // Optional. The largest bevel size the run may use: a larger confirmed
    // size is lowered to it before the module reads the panel. Callers pass
    // the input's safe size (MeshSafeBevelSize), computed once per input.
    std::optional<double> clampSize;
    // Optional, with markPolygons: RunIndexInput(input), for a caller that
    // runs one input many times; built for the run when absent.
    std::shared_ptr<const RunInputIndex> inputIndex;
    // Optional. Told, in words for the user, when the run moves on to work
    // of its own after the activation, which no monitor of the module
    // covers ("reading the result", "finding what the run changed"): on a
    // large mesh it takes seconds.
    std::function<void(const char *)> phase;
};

// A message the module gave: its first line, and its second after a line
// break when it has one.
struct RunMessage {
    bool error = false;  // false: info (the edit ended without change); true: error
    std::string text;
};

// What a run came to, so that the program, the viewer and the Python module
// all read a run the same way.
enum class RunVerdict {
    kFailed,         // nothing to use: not activated, the panel cancelled, the
                     // options refused, or the module refused (its message says why)
    kInternalFault,  // the module met a state it cannot work from: nothing to use
    kUnchanged,      // the edit ended without change and without a word (a
                     // bevel size of 0): nothing to write
    kFinished,       // `output` holds the result; with `partial` it is incomplete
};

struct RunResult {
    RunVerdict verdict = RunVerdict::kFailed;
    // With kFailed or kInternalFault: what went wrong, in words for the user
    // ("the module reported a failure", "the bevel size must not be negative, ...").
    std::string failure;
    bool refused = false;  // kFailed: the options were refused, the module not run
    // kFinished, but a phase was aborted or the module reported an error from
    // a pass that went on: the result may have holes.
    bool partial = false;
    // kFinished in object mode with every output polygon one of the input's:
    // no edge was chamfered (why: RunNothingChamferedText).
    bool chamferedNothing = false;
    int activation = HOST_ACTIVATE_OK;  // the activation's result; the rest is empty unless OK
    bool cancelled = false;             // the panel was cancelled
    bool aborted = false;               // a monitor reported an abort
    bool unchanged = true;              // no edit was ended keeping its changes
    std::vector<RunMessage> messages;   // in the order given
    // The options as the panel confirmed them (the settings file's where
    // none was typed); -1 / empty when no panel was opened.
    double bevelSize = -1.0;
    int angleMode = -1;
    double limitAngleDeg = -1.0;
    std::string mode;  // the panel's mode text: "Object" or "Line"
    // The foreground layer after the run: the rebuilt object in object mode,
    // the edited input in two-polygon mode; only the points its polygons use
    // (RunDropLoosePoints).
    MeshData output;
    // Per output point: its number in the layer as the module left it, loose
    // points included (in two-polygon mode, the input's number for a point
    // the run kept), for callers who index by the host's numbers.
    std::vector<int> pointMap;
    // Per output polygon: a strip, patch or cap the run made (the polygons
    // the preview picture tints orange), as RunCreatedPolygons gives it;
    // empty without RunOptions::markPolygons.
    std::vector<bool> created;
    // Per output polygon: an input face the run cut back or re-shaped within
    // its own plane (the preview's light tint).
    std::vector<bool> reshaped;
    double activationMs = 0.0;  // wall time of the activation, panel excluded
    // With RunOptions::clampSize: the size confirmed before it was lowered,
    // when it was; bevelSize holds the size the run used.
    std::optional<double> clampedFrom;
};

// "bevel size 0.22 clamped to the safe size 0.0656" when the run lowered
// the size, else empty: the words the program, the viewer and the Python
// module all use.
std::string RunClampNote(const RunResult &result);

// Runs `module` once on `input` (object mode: in the background layer;
// two-polygon mode: in the foreground layer with the two polygons selected,
// any other selection of the input cleared). Fills *result. Options the
// panel confirms that RunCheckOptions refuses (from the settings file, or
// typed into the panel) cancel the panel: kFailed with `refused` set.
void RunActivate(const LoadedModule &module, const MeshData &input, const RunOptions &options,
                 RunResult *result);

// Drops the points no polygon of *mesh uses and renumbers the polygons'
// points, keeping the order of the rest; *kept gets, per point left, its
// number before.
void RunDropLoosePoints(MeshData *mesh, std::vector<int> *kept);

// ---- the guards the program, the viewer and the Python module share ------
// The module in a host takes any size and limit angle; the programs around
// it refuse what can only give a broken result.

// Empty when a size and limit angle (degrees) may be run; otherwise the
// error to show: a size that is not a finite number, a negative size (it
// turns the mesh inside out), a limit angle outside 0 to 180 degrees.
// Either may be absent.
std::string RunCheckOptions(std::optional<double> bevelSize, std::optional<double> limitAngleDeg);
// The angle mode named `name` in any case ("disable", "lt", "gt", "LT"):
// 0, 1 or 2; -1 for any other name.
int RunAngleModeNumber(const std::string &name);
// "disable", "lt" or "gt", as the command line spells them.
std::string RunAngleModeName(int angleMode);
// The warning for a size at or above the input's safe size, naming it and
// `remedy` (e.g. "--clamp keeps to it"); empty below it or when `safe` is
// infinite.
std::string RunSizeWarning(double bevelSize, double safe, const std::string &remedy);
// Why a run chamfered nothing (RunResult::chamferedNothing): "no two polygons
// of the input share an edge" or "no edge passed the angle test (lt 120
// degrees)"; empty when it did chamfer.
std::string RunNothingChamferedText(const MeshData &input, const RunResult &result);
// A number as the messages show it: three significant digits ("0.0656").
std::string RunShortNumber(double value);
// A safe size as every message shows it: four significant digits, rounded
// down so that the size shown is itself safe ("0.06561").
std::string RunSafeSizeText(double safe);
// A message of the module on one line: its title line ("ERROR:") dropped
// and the lines it was wrapped into for a host's message box joined.
std::string RunMessageLine(const std::string &text);
// The mode as users read it: "object" or "two-polygon" (the module's panel
// calls the second "Line"); empty when no panel was opened.
std::string RunModeName(const RunResult &result);
// An angle in degrees as the messages show it: "120", not the
// 120.00000000000001 a trip through radians leaves.
std::string RunAngleText(double degrees);

// ---- what a run changed --------------------------------------------------

// What the comparisons below need of an input, built once per input (the
// viewer runs one input again and again): its polygons' position cycles and
// its planes, each in an open-addressing table (a slot holds a polygon
// number + 1, 0 when empty; the table's size is a power of two).
using RunPlaneKey = std::array<long long, 4>;
struct RunInputIndex {
    std::vector<std::array<double, 3>> positions;  // polygon k's at offsets[k] .. offsets[k + 1]
    std::vector<uint32_t> offsets;
    std::vector<uint64_t> cycleHash;  // per polygon
    std::vector<uint32_t> cycleSlots;
    std::vector<RunPlaneKey> planes;  // per polygon; valid only where hasPlane
    std::vector<bool> hasPlane;
    std::vector<uint32_t> planeSlots;
    double scale = 0.0;  // largest coordinate's size
};
RunInputIndex RunIndexInput(const MeshData &input);

// Per output polygon: true when its cycle of point positions (same start
// point or any rotation of it, same direction) is not the cycle of some input
// polygon, i.e. the run created it or re-shaped it. Point indices do not
// matter, only exact positions (-0.0 equals 0.0).
std::vector<bool> ChangedPolygons(const MeshData &input, const MeshData &output);
std::vector<bool> ChangedPolygons(const RunInputIndex &input, const MeshData &output);

// Per output polygon: true when it lies in the plane of some input polygon
// (unit Newell normals agree and its centroid is on the plane, both within
// a small tolerance scaled by the meshes' size).
std::vector<bool> InInputPlanes(const MeshData &input, const MeshData &output);
std::vector<bool> InInputPlanes(const RunInputIndex &input, const MeshData &output);

// Per output polygon: changed and not in an input plane, i.e. a strip,
// patch or cap rather than an input face cut back; with `reshaped`, also
// changed and in an input plane.
std::vector<bool> RunCreatedPolygons(const MeshData &input, const MeshData &output,
                                     std::vector<bool> *reshaped = nullptr);
std::vector<bool> RunCreatedPolygons(const RunInputIndex &input, const MeshData &output,
                                     std::vector<bool> *reshaped = nullptr);

#endif
