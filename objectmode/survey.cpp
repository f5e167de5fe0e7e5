// The polygon survey: every background polygon is copied into the output
// model with points of its own, and its PolyInfo record filled for the later
// passes. The copies are unshared so each can be shrunk away from its edges
// on its own; the flush welds whatever still coincides.
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "objectmode/objectmode.h"

void ClearPolyInfo(int count, PolyInfo *records)
{
    for (int k = 0; k < count; ++k) {
        PolyInfo *r = &records[k];
        r->polyIndex = 0;
        r->hostPoly = nullptr;
        r->count = 0;
        r->points = nullptr;
        r->hostPoints = nullptr;
        r->positions = nullptr;
        r->surveyed = 0;
        r->ownsArrays = 1;
    }
}

void FreePolyInfo(int count, PolyInfo *records)
{
    for (int k = 0; k < count; ++k) {
        if (records[k].ownsArrays) {
            free(records[k].points);
            free(records[k].hostPoints);
            free(records[k].positions);
        }
        records[k].ownsArrays = 1;
        records[k].points = nullptr;
        records[k].hostPoints = nullptr;
        records[k].positions = nullptr;
    }
}

// Ids, counts, names and arrays sized for each record. The arrays of all
// records are carved from three blocks, one per kind, which the first
// record owns: three allocations per polygon were most of the survey's cost
// on a large mesh.
static void AllocateRecords(EditContext *ctx, int count, LWPolID *ids, PolyInfo *records)
{
    HostMeshEditOp *edit = ctx->services.edit;
    size_t total = 0;
    for (int k = 0; k < count; ++k) {
        PolyInfo *r = &records[k];
        const HostPolygonInfo *info = edit->polyInfo(edit->state, ids[k]);
        r->hostPoly = ids[k];
        // A polygon the host cannot describe is kept as an empty record.
        int n = info && info->numPnts > 0 ? (int)info->numPnts : 0;
        r->count = n;
        r->surface = info ? info->surface : nullptr;
        total += n > 0 ? (size_t)n : 1;
    }
    if (count <= 0)
        return;
    int32_t *points = (int32_t *)malloc(total * sizeof(int32_t));
    LWPntID *hostPoints = (LWPntID *)malloc(total * sizeof(LWPntID));
    Vec3 *positions = (Vec3 *)malloc(total * sizeof(Vec3));
    if (!points || !hostPoints || !positions) {
        free(points);
        free(hostPoints);
        free(positions);
        for (int k = 0; k < count; ++k)
            records[k].count = 0;
        ctx->fault = EDIT_FAULT_NO_MEMORY;
        return;
    }
    size_t at = 0;
    for (int k = 0; k < count; ++k) {
        PolyInfo *r = &records[k];
        r->points = points + at;
        r->hostPoints = hostPoints + at;
        r->positions = positions + at;
        r->ownsArrays = k == 0;
        at += r->count > 0 ? (size_t)r->count : 1;
    }
}

// One polygon's points, centroid, normal and copy. `name` is the
// name the last polygon was given.
static void SurveyPolygon(EditContext *ctx, LWPolID id, PolyInfo *r, const char **name)
{
    BufModel *model = ctx->model;
    HostMeshEditOp *edit = ctx->services.edit;
    const HostPolygonInfo *info = edit->polyInfo(edit->state, id);
    // The second answer decides, as the first only sized the arrays; it may
    // not hold more vertices than they have room for.
    int n = info ? (int)info->numPnts : 0;
    if (n < 0 || n > r->count)
        n = 0;
    r->count = n;
    Vec3 sum = VecCopyOrZero(nullptr);
    bool refused = false;
    for (int v = 0; v < n; ++v) {
        LWPntID pnt = info->points[v];
        r->hostPoints[v] = pnt;
        const HostPointInfo *pi = edit->pointInfo(edit->state, pnt);
        Vec3 p = {0.0, 0.0, 0.0};
        if (pi)
            p = Vec3{pi->position[0], pi->position[1], pi->position[2]};
        r->points[v] = BufModelAddPoint(model, &p);
        if (r->points[v] < 0)
            refused = true;
        r->positions[v] = p;
        sum = VecAdd(sum, p);
    }
    // A polygon without vertices has no centroid; keep it finite.
    r->centroid = n > 0 ? VecDiv(sum, (double)n) : Vec3{0.0, 0.0, 0.0};
    double normal[3];
    if (edit->polyNormal(edit->state, id, normal))
        r->normal = Vec3{normal[0], normal[1], normal[2]};
    else
        r->normal = Vec3{0.0, 0.0, 1.0};
    r->surface = info ? info->surface : nullptr;
    // Polygons of one surface usually come one after another, each with its
    // own copy of the name: they share the first copy instead, so that the
    // passes, which compare the names of neighbouring polygons, mostly find
    // the same pointer.
    if (r->surface && *name && (r->surface == *name || strcmp(r->surface, *name) == 0))
        r->surface = *name;
    else if (r->surface)
        *name = r->surface;
    // A refused point index must never reach a polygon: the copy is dropped
    // and the activation, seeing the refused add, commits nothing.
    r->polyIndex = refused ? -1 : BufModelAddPoly(model, r->surface, n, r->points);
    r->surveyed = 1;
}

void GetPolyInfo(EditContext *ctx, int count, LWPolID *ids, PolyInfo *records)
{
    MonitorOpen(ctx, "Corvane mode:Object Phase-00", "Phase: GetPolyInfo");
    AllocateRecords(ctx, count, ids, records);
    MonitorInit(ctx, count);
    const char *name = nullptr;
    for (int k = 0; k < count; ++k) {
        if (MonitorStep(ctx, 1))
            break;
        SurveyPolygon(ctx, ids[k], &records[k], &name);
    }
    MonitorClose(ctx);
}
