// The emulated host: a layered mesh and the mesh-edit services a plug-in
// module calls. It is the command-line program's host and the tests' fixture.
//
// Only one host is current at a time: the services the module reaches through
// the global function are plain C functions without a context argument, so
// they act on the host made current by EmuHostRun (or EmuHostMakeCurrent).
#ifndef CORVANE_HOST_H
#define CORVANE_HOST_H

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "host/pool.h"
#include "hostapi/hostapi.h"
#include "meshdata/meshdata.h"

// ---- the host's own records --------------------------------------------

struct EmuPoint {
    HostPointInfo info;  // what pointInfo returns; info.pnt is the id
    int layer = 0;
    bool selected = false;
    bool alive = true;

    static void *operator new(size_t size) { return EmuPoolTake(EmuPointPool(), size); }
    static void operator delete(void *p, size_t size) { EmuPoolGive(EmuPointPool(), p, size); }
};

// A polygon's point ids: a view of the host's corner store, where they stay
// put for the host's life (polyInfo hands the module a pointer to them).
struct EmuPointList {
    const LWPntID *items = nullptr;
    size_t count = 0;

    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    const LWPntID *data() const { return items; }
    const LWPntID *begin() const { return items; }
    const LWPntID *end() const { return items + count; }
    LWPntID operator[](size_t k) const { return items[k]; }
    LWPntID front() const { return items[0]; }
    LWPntID back() const { return items[count - 1]; }
    operator std::vector<LWPntID>() const { return std::vector<LWPntID>(begin(), end()); }
};

struct EmuPoly {
    HostPolygonInfo info;  // what polyInfo returns; points/surface point below
    EmuPointList points;
    std::string_view surface;  // in the host's name table; empty when none
    bool hasSurface = true;
    int layer = 0;
    bool alive = true;
    int removalEdit = 0;  // EmuHost::editSerial of the edit that removes it

    static void *operator new(size_t size) { return EmuPoolTake(EmuPolyPool(), size); }
    static void operator delete(void *p, size_t size) { EmuPoolGive(EmuPolyPool(), p, size); }
};

// ---- what the host records, for tests and the CLI -----------------------

struct EmuMonitorLog {
    std::string title, text;
    std::vector<unsigned> inits;  // every total given to init
    unsigned steps = 0;           // steps taken (including the aborting one)
    bool aborted = false;         // a step reported an abort
    bool done = false;
    bool destroyed = false;
};

struct EmuMessage {
    bool error = false;  // false: info, true: error
    std::string line1;
    std::string line2;
    bool line2Null = true;
};

struct EmuPanelControl {
    std::string typeName;
    std::string label;
    HostControlDesc desc{};         // copy of the descriptor as it was at addControl
    std::vector<std::string> list;  // the descriptor's text or item list
    int intValue = 0;
    double floatValue = 0.0;
    int activated = 0;  // times tag 21 was set
    HostControl record{};
};

struct EmuPanel {
    std::string title;
    std::vector<std::unique_ptr<EmuPanelControl>> controls;
    const void *userData = nullptr;
    HostPanelHook *hook = nullptr;
    int width = 0;
    bool opened = false;
    bool destroyed = false;
    int openFlags = 0;  // the flags of the last open()
};

struct EmuLog {
    int editsBegun = 0;
    std::vector<int> doneCodes;           // one per done call
    std::vector<EmuMonitorLog> monitors;  // in creation order
    std::vector<EmuMessage> messages;
    std::vector<LWPntID> addedPoints;  // in call order
    std::vector<LWPolID> addedPolys;
    std::vector<LWPolID> removedPolys;
    std::vector<std::string> servicesAsked;
    std::vector<std::unique_ptr<EmuPanel>> panels;
    int pointInfoCalls = 0;
    int polyInfoCalls = 0;
    int editBeginCalls = 0;  // calls of local(), refused ones too
    int callsAfterDone = 0;  // edit operations called after done
    int rejectedFaces = 0;   // addFace calls given no polygon
};

// ---- scripting: how the "user" and the host behave ----------------------

struct EmuScript {
    // services withheld from the global function
    bool noMonitorService = false;
    bool noMessageService = false;
    bool noPanelService = false;
    bool noDirectoryService = false;
    bool refuseEdit = false;          // local() gives no edit operation
    bool monitorCreateFails = false;  // create() gives no monitor
    // abort: step `abortStep` (1-based) of monitor `abortMonitor` (0-based in
    // creation order) reports an abort; -1 for never
    int abortMonitor = -1;
    unsigned abortStep = 0;
    // the options panel
    bool panelCreateFails = false;
    bool panelCancel = false;
    std::optional<double> bevelSize;      // typed into the bevel size control
    std::optional<int> angleMode;         // chosen item
    std::optional<double> limitAngleRad;  // typed into the angle control
    // "Directory Info": the "Plugins" directory, or none
    std::optional<std::string> pluginsDir;
    // scans fail with this code when non-zero
    int polyScanError = 0;
    int pointScanError = 0;
    // host gives no polyInfo for these polygon ids (tests of missing answers)
    std::vector<LWPolID> hidePolys;
};

// Hooks for an interactive host (the CLI). Each is optional.
struct EmuHooks {
    // Called when open() is called, after the script's values were typed in.
    // Return 1 to confirm, 0 to cancel. Without it the script decides.
    std::function<int(EmuPanel &)> panelOpen;
    // Called on every monitor step; non-zero reports an abort.
    std::function<int(const EmuMonitorLog &)> monitorStep;
    std::function<void(const EmuMonitorLog &)> monitorOpen;
    std::function<void(const EmuMonitorLog &)> monitorClose;
    std::function<void(const EmuMessage &)> message;
};

// polyNormal's answer for one polygon, kept for the rest of the edit that
// asked first (nothing moves a point during an edit; tests may between
// edits). Beside the polygons, not in them: a module asks for the normals of
// the mesh it reads, never of the polygons it adds.
struct EmuNormalAnswer {
    int edit = 0;  // EmuHost::editSerial of that edit; 0: none kept
    bool ok = false;
    double normal[3] = {0.0, 0.0, 0.0};
};

// Where the polygons' point ids live: blocks that never move, carved in
// order, so that a mesh of millions of polygons costs a few allocations.
struct EmuCornerStore {
    std::vector<std::unique_ptr<LWPntID[]>> blocks;
    LWPntID *cursor = nullptr;
    size_t left = 0;
};

struct EmuHost {
    std::vector<std::unique_ptr<EmuPoint>> points;  // id k is points[k - 1]
    std::vector<std::unique_ptr<EmuPoly>> polys;
    EmuCornerStore corners;
    std::vector<EmuNormalAnswer> normals;  // by polygon id - 1, as asked
    // Every surface name once: polygons point into it (a node set, so a
    // name stays where it is as the set grows).
    std::unordered_set<std::string> names;
    std::vector<int> foreground{1};  // foreground layers
    int background = 2;
    EmuScript script;
    EmuHooks hooks;
    EmuLog log;
    struct EmuEdit *edit = nullptr;  // the open edit, if any
    int editSerial = 0;              // edits begun over the host's life
    // Every edit handed out, kept until the host goes so that a module calling
    // an ended edit touches valid memory (the call is counted, not obeyed).
    std::vector<std::shared_ptr<struct EmuEdit>> edits;
    // The records behind the monitors handed out (their data words point here).
    std::vector<std::shared_ptr<struct EmuMonitorRec>> monitorRecs;
    // The panel service record; the module writes its globalFun field.
    HostPanelService panelService{};

    EmuHost() = default;
    EmuHost(const EmuHost &) = delete;
    EmuHost &operator=(const EmuHost &) = delete;
    ~EmuHost();  // stops being current
};

// Creates an empty host: foreground layer 1, background layer 2.
std::unique_ptr<EmuHost> EmuHostCreate();
// Adds a mesh to `layer`; returns the ids of its polygons in order. Points
// are created in order too (the first point of the mesh gets the next id).
std::vector<LWPolID> EmuHostAddMesh(EmuHost *host, int layer, const MeshData &mesh);
// Makes `host` the one the C services act on (EmuHostRun does it too).
void EmuHostMakeCurrent(EmuHost *host);
// The current host, or null.
EmuHost *EmuHostCurrent();
// The host's global function (acts on the current host): the service record
// of that exact name, or null when unknown or withheld by the script. Every
// name asked is logged.
void *EmuGlobal(const char *serviceName, int useMode);
// The edit begin function: an edit of the current host, or null when the
// script refuses, an edit is still open or no host is current. The edit sees
// the mesh as it was at the begin: additions are held back (pointInfo and
// polyInfo answer for them, scans and counts do not see them) and removals
// wait; done(0) applies all of them, any other code drops all of them. New
// points and faces go into the first foreground layer. addFace with no points
// or an unknown point id gives null (counted in log.rejectedFaces); remPoly
// returns 0, or 1 for an id it cannot remove, and logs every call.
HostMeshEditOp *EmuEditBegin(int pointBuf, int polyBuf, int mode);
// Activates the module's server like a host: activate(3, EmuGlobal,
// EmuEditBegin, serverData). Returns the activation's result.
int EmuHostRun(EmuHost *host, HostActivateFunc *activate, void *serverData = nullptr);

// The record of an id, or null (ids are 1-based indices). Every service call
// goes through these.
inline EmuPoint *EmuHostPoint(EmuHost *host, LWPntID id)
{
    const uintptr_t k = reinterpret_cast<uintptr_t>(id);
    if (host == nullptr || k == 0 || k > host->points.size())
        return nullptr;
    return host->points[k - 1].get();
}

inline EmuPoly *EmuHostPoly(EmuHost *host, LWPolID id)
{
    const uintptr_t k = reinterpret_cast<uintptr_t>(id);
    if (host == nullptr || k == 0 || k > host->polys.size())
        return nullptr;
    return host->polys[k - 1].get();
}
// The alive polygons and points of `layer` as plain mesh data, points in id
// order, compacted (only points of the layer).
MeshData EmuHostLayerMesh(const EmuHost *host, int layer);
// Newell normal of a point list; false for fewer than 3 points or zero area.
bool EmuNewellNormal(const EmuHost *host, const LWPntID *points, size_t count, double out[3]);
inline bool EmuNewellNormal(const EmuHost *host, const std::vector<LWPntID> &points, double out[3])
{
    return EmuNewellNormal(host, points.data(), points.size(), out);
}
// Sets the polygon's point ids (a copy in the host's corner store) and its
// surface (a name of the host's table, or none for null), and the answer
// polyInfo gives for them. Throws std::bad_alloc without memory.
void EmuPolySetPoints(EmuHost *host, EmuPoly *poly, const LWPntID *points, size_t count);
void EmuPolySetSurface(EmuHost *host, EmuPoly *poly, const char *surface, size_t length);

#endif
