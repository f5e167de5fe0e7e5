#include "plugin/activate.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "bufmodel/bufmodel.h"
#include "context/context.h"
#include "objectmode/adjacency.h"
#include "objectmode/objectmode.h"
#include "options/options.h"
#include "pairmode/pairmode.h"

const char *const kMsgSelectOrBackground = "ERROR:\nPlease select 2 polygons\nor\nset polygons to BG layer.";
const char *const kMsgPolyScan = "Error:\nCan't 'polyScan'";
const char *const kMsgPointScan = "Error:\nCan't 'pointScan'";
const char *const kMsgNoSharedEdge =
    "ERROR:\nThe two selected polygons must share an edge.\nNothing was changed.";
const char *const kMsgBevelNotFinite =
    "ERROR:\nThe bevel size must be a finite number.\nNothing was changed.";
const char *const kMsgInternalFault =
    "ERROR:\nThe tool met a state it cannot work from\n(an internal fault). Nothing was changed.";
const char *const kMsgOutOfMemory = "ERROR:\nThe tool ran out of memory.\nNothing was changed.";
const char *const kMsgNotFinite =
    "ERROR:\nThe coordinates are too large or not finite\nnumbers: the tool cannot work with them.\n"
    "Nothing was changed.";

// ---- id lists and scan callbacks ----------------------------------------

static bool IdListMake(IdList *list, int capacity, int count)
{
    list->count = count;
    list->capacity = capacity > 0 ? capacity : 0;
    // calloc: the two-polygon mode relies on slots 0 and 1 starting empty.
    list->items = (void **)calloc((size_t)list->capacity + 1, sizeof(void *));
    return list->items != nullptr;
}

static void IdListFree(IdList *list)
{
    free(list->items);
    list->items = nullptr;
    list->count = list->capacity = 0;
}

// The host told us its count before the scan; a scan that reports more items
// than that is dropped past the capacity rather than written out of bounds.
static void IdListAppend(IdList *list, void *id)
{
    if (list->count >= 0 && list->count < list->capacity)
        list->items[list->count++] = id;
}

int CollectPolygon(void *data, const HostPolygonInfo *info)
{
    IdListAppend((IdList *)data, info->pol);
    return 0;
}

int CollectPolygonSelectedFirst(void *data, const HostPolygonInfo *info)
{
    IdList *list = (IdList *)data;
    if (info->flags & HOST_POLY_SELECTED) {
        if (list->capacity < 2)
            return 0;
        if (list->items[0] == nullptr)
            list->items[0] = info->pol;
        else
            list->items[1] = info->pol;
        return 0;
    }
    IdListAppend(list, info->pol);
    return 0;
}

int CollectPoint(void *data, const HostPointInfo *info)
{
    IdListAppend((IdList *)data, info->pnt);
    return 0;
}

// The object mode's list scan: CollectPolygon, also counting the corners of
// the polygons listed, to learn before anything is added whether the object
// fits the output model.
struct PolygonScan {
    IdList *list;
    long long corners;
};

static int CollectPolygonCountingCorners(void *data, const HostPolygonInfo *info)
{
    PolygonScan *scan = (PolygonScan *)data;
    int listed = scan->list->count;
    CollectPolygon(scan->list, info);
    if (scan->list->count != listed && info->numPnts > 0)
        scan->corners += info->numPnts;
    return 0;
}

// ---- the activation -----------------------------------------------------

namespace {

struct Activation {
    HostMeshEditOp *edit = nullptr;
    HostGlobalFunc *global = nullptr;
    BufModel *model = nullptr;
    HostMessageService *messages = nullptr;
    EditContext ctx{};                     // what the passes are handed
    PairWork pair{};                       // the two-polygon mode's index, claims and caps
    SharedAdjacency *edgeIndex = nullptr;  // the object mode's, over `edges`
    IdList polys{0, 0, nullptr};
    IdList points{0, 0, nullptr};
    PolyInfo *records = nullptr;
    int recordCount = 0;
    LineInfo *edges = nullptr;
    bool modelLive = false;  // the model holds records not yet flushed
    bool editEnded = false;  // done was called (even if it then threw)
};

void EndEdit(Activation *a, int code)
{
    a->editEnded = true;
    a->edit->done(a->edit->state, code, 0);
}

void Info(Activation *a, const char *text)
{
    a->messages->info(text, nullptr);
}

// Releases what the passes worked from: everything the activation owns but
// the output model.
void ReleaseWork(Activation *a)
{
    if (a->records) {
        FreePolyInfo(a->recordCount, a->records);
        free(a->records);
        a->records = nullptr;
    }
    // The passes close their indices themselves; an exception from the host
    // in the middle of one leaves them open, and they go here.
    EdgeAdjacencyUnshare(a->edgeIndex);
    a->edgeIndex = nullptr;
    PairWorkEnd(&a->pair);
    free(a->edges);
    a->edges = nullptr;
    IdListFree(&a->points);
    IdListFree(&a->polys);
}

// Releases what the activation owns. A model that was not flushed is
// released without committing anything.
void Release(Activation *a)
{
    if (a->model && a->modelLive)
        BufModelRelease(a->model);
    a->modelLive = false;
    ReleaseWork(a);
    free(a->model);
    a->model = nullptr;
}

bool MakeRecords(Activation *a, int count)
{
    a->recordCount = count + 1;
    a->records = (PolyInfo *)calloc((size_t)a->recordCount, sizeof(PolyInfo));
    if (!a->records)
        return false;
    ClearPolyInfo(a->recordCount, a->records);
    return true;
}

// Releases everything, ends the edit with `code` (anything but
// HOST_EDIT_KEEP leaves the mesh as it was) and, when there is one, tells the
// user why.
void EndWithoutChange(Activation *a, int code, const char *text)
{
    Release(a);
    EndEdit(a, code);
    if (text)
        Info(a, text);
}

// Whether every buffered point is a finite position and the weld's tolerance
// (from the diagonal of their box) is finite too. A NaN or an infinity in a
// source position, a bevel size large enough to overflow, or coordinates
// whose differences overflow would otherwise reach the host as points
// nothing can draw, or make the weld merge every point into one.
bool ModelIsFinite(const BufModel *model)
{
    for (int i = 0; i < model->pointCount; i++) {
        const Vec3 &p = model->pointTable[i]->position;
        if (!isfinite(p.x) || !isfinite(p.y) || !isfinite(p.z))
            return false;
    }
    if (model->pointCount == 0)
        return true;
    return isfinite(VecLength(VecSub(model->boxMin, model->boxMax)));
}

// The passes never test their adds; a refused add means the result is
// incomplete, so nothing of it may reach the host. Neither may a result with
// coordinates that are not finite numbers. True when the edit was ended.
bool RefusedResult(Activation *a)
{
    if (a->ctx.fault != EDIT_FAULT_NONE) {
        EndWithoutChange(a, HOST_EDIT_DISCARD,
                         a->ctx.fault == EDIT_FAULT_NO_MEMORY ? kMsgOutOfMemory : kMsgInternalFault);
        return true;
    }
    if (a->model->refusedAdds != 0) {
        EndWithoutChange(a, HOST_EDIT_DISCARD,
                         a->model->refusedForMemory != 0 ? kMsgOutOfMemory : kMsgModelFull);
        return true;
    }
    if (!ModelIsFinite(a->model)) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgNotFinite);
        return true;
    }
    return false;
}

// The size the panel confirmed: 0.0 (cancelled, or a size of 0) ends the
// edit without a word; a size that is not a finite number is refused with a
// message, since every position the passes compute would follow it.
bool SizeRefused(Activation *a, double size)
{
    if (size == 0.0) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, nullptr);
        return true;
    }
    if (!isfinite(size)) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgBevelNotFinite);
        return true;
    }
    return false;
}

void FlushAndEnd(Activation *a)
{
    // The flush reads the model alone: the records and indices the passes
    // built from the host's mesh, as large as the model on a large mesh, go
    // before the host is asked to hold the result beside it.
    ReleaseWork(a);
    BufModelFlush(a->ctx.model, &a->ctx.services);
    a->modelLive = false;
    Release(a);
    EndEdit(a, HOST_EDIT_KEEP);
}

void RunPairMode(Activation *a)
{
    // Options, mode text "Line".
    double size = OptionsPanel(a->edit, a->global, 1);
    if (SizeRefused(a, size))
        return;
    // The foreground polygons, the two selected ones in slots 0 and 1.
    int n = a->edit->polyCount(a->edit->state, HOST_LAYER_FOREGROUND, HOST_MODE_ALL);
    if (!IdListMake(&a->polys, n < 2 ? 2 : n, 2)) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgOutOfMemory);
        return;
    }
    int code =
        a->edit->polyScan(a->edit->state, CollectPolygonSelectedFirst, &a->polys, HOST_LAYER_FOREGROUND);
    if (code != 0) {
        EndWithoutChange(a, code, kMsgPolyScan);
        return;
    }
    // One record per listed polygon plus a spare.
    int c = a->polys.count;
    if (!MakeRecords(a, c)) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgOutOfMemory);
        return;
    }
    // The bridge. A selection the scan could not place counts as a pair
    // without a shared edge.
    LWPolID *list = (LWPolID *)a->polys.items;
    int result = BRIDGE_NO_SHARED_EDGE;
    if (list[0] && list[1]) {
        a->modelLive = true;
        result = BuildBridge(&a->ctx, &a->pair, c, list, a->records, size);
    }
    if (result == BRIDGE_NO_SHARED_EDGE) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgNoSharedEdge);
        return;
    }
    if (RefusedResult(a))
        return;
    // Commit, release, end.
    FlushAndEnd(a);
}

void RunObjectMode(Activation *a)
{
    // The background layer must hold polygons.
    int b = a->edit->polyCount(a->edit->state, HOST_LAYER_BACKGROUND, HOST_MODE_ALL);
    if (b <= 0) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgSelectOrBackground);
        return;
    }
    // Options, mode text "Object".
    double size = OptionsPanel(a->edit, a->global, 0);
    if (SizeRefused(a, size))
        return;
    // The background polygons.
    if (!IdListMake(&a->polys, b, 0)) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgOutOfMemory);
        return;
    }
    PolygonScan scan = {&a->polys, 0};
    int code = a->edit->polyScan(a->edit->state, CollectPolygonCountingCorners, &scan, HOST_LAYER_BACKGROUND);
    if (code != 0) {
        EndWithoutChange(a, code, kMsgPolyScan);
        return;
    }
    // Every corner becomes a point of its own in the output model; an object
    // with more corners than it holds is refused before anything is added.
    // The settings the user confirmed are kept all the same.
    if (scan.corners > kRecordLimit) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgTooManyCorners);
        return;
    }
    // Survey.
    int c = a->polys.count;
    if (!MakeRecords(a, c)) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgOutOfMemory);
        return;
    }
    a->modelLive = true;
    GetPolyInfo(&a->ctx, c, (LWPolID *)a->polys.items, a->records);
    // Edge records and their links within each polygon.
    int runs = 0;
    int m = LineListPassRuns(&a->ctx, c, a->records, &a->edges, &runs);
    LineInfoPassRuns(&a->ctx, m, a->edges, runs);
    // The strips and the patches look records up by their host points, which
    // neither changes: they may share one index of them.
    a->edgeIndex = EdgeAdjacencyShare(a->edges, m);
    // Chamfer strips.
    bool limited = g_settings.angleMode != ANGLE_MODE_DISABLE;
    if (limited)
        MakeLineCorvanePolyLimited(&a->ctx, a->edgeIndex, m, a->edges, &g_settings);
    else
        MakeLineCorvanePoly(&a->ctx, a->edgeIndex, m, a->edges, size);
    // The background points, one corner patch at most each.
    int p = a->edit->pointCount(a->edit->state, HOST_LAYER_BACKGROUND, HOST_MODE_ALL);
    if (!IdListMake(&a->points, p, 0)) {
        EndWithoutChange(a, HOST_EDIT_DISCARD, kMsgOutOfMemory);
        return;
    }
    code = a->edit->pointScan(a->edit->state, CollectPoint, &a->points, HOST_LAYER_BACKGROUND);
    if (code != 0) {
        EndWithoutChange(a, code, kMsgPointScan);
        return;
    }
    // Corner patches.
    if (limited)
        PointCorvaneLimited(&a->ctx, a->edgeIndex, &a->points, m, a->edges);
    else
        PointCorvane(&a->ctx, a->edgeIndex, &a->points, m, a->edges);
    if (RefusedResult(a))
        return;
    // Commit, release, end.
    FlushAndEnd(a);
}

int ActivateUnguarded(Activation &a, int version, HostGlobalFunc *global, void *local)
{
    // Interface version.
    if (version != HOST_INTERFACE_VERSION)
        return HOST_ACTIVATE_BADVERSION;
    if (!global || !local)
        return HOST_ACTIVATE_BADSERVICE;
    // Begin the edit.
    a.global = global;
    a.edit = ((HostMeshEditBegin *)local)(0, 0, 1);
    if (!a.edit)
        return HOST_ACTIVATE_OK;
    // Services. The edit was begun, so it is ended (without change) here
    // too: a host left inside an open edit would be stuck.
    HostMonitorService *monitors = (HostMonitorService *)global(HOST_MONITOR_SERVICE, 0);
    a.messages = (HostMessageService *)global(HOST_MESSAGE_SERVICE, 0);
    if (!monitors || !a.messages) {
        EndEdit(&a, HOST_EDIT_DISCARD);
        return HOST_ACTIVATE_BADSERVICE;
    }
    // The output model, with this module's limit.
    a.model = (BufModel *)calloc(1, sizeof(BufModel));
    if (a.model)
        a.model->recordLimit = kRecordLimit;
    if (!a.model || BufModelInit(a.model) != 0 ||
        EditContextInit(&a.ctx, a.edit, monitors, a.messages, a.model) != 0) {
        Release(&a);
        EndEdit(&a, HOST_EDIT_DISCARD);
        return HOST_ACTIVATE_OK;
    }
    // Exactly two selected foreground polygons choose the two-polygon mode.
    if (a.edit->polyCount(a.edit->state, HOST_LAYER_FOREGROUND, HOST_MODE_SELECTED) == 2)
        RunPairMode(&a);
    else
        RunObjectMode(&a);
    return HOST_ACTIVATE_OK;
}

// After an exception: closes the monitor it may have left open, releases
// what the activation holds and ends the edit without change unless done was
// already called, so the host is never left waiting on an open edit. The
// host may throw again from these calls; each is tried on its own.
void Abandon(Activation &a)
{
    try {
        if (a.ctx.model)
            MonitorClose(&a.ctx);
    } catch (...) {
    }
    Release(&a);
    if (a.edit && !a.editEnded) {
        try {
            EndEdit(&a, HOST_EDIT_DISCARD);
        } catch (...) {
        }
    }
}

}  // namespace

extern "C" int Activate(int version, HostGlobalFunc *global, void *local, void *)
{
    // Nothing may escape into the host: an exception here would take the
    // host and the user's work down with it.
    Activation a;
    try {
        return ActivateUnguarded(a, version, global, local);
    } catch (...) {
        Abandon(a);
        return HOST_ACTIVATE_OK;
    }
}
