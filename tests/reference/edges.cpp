// Oracle for the edge records (objectmode/edges.cpp), written from what the
// two passes must leave rather than from how the module gets there:
//
// - listing: polygon by polygon in record order, each polygon the survey
//   wrote and the output model accepted gives one record per corner, corner
//   t running from vertex t to vertex t + 1 and the last one back to 0;
// - linking: record i takes as its neighbours the records of its polygon
//   that end where it starts (before it) or start where it ends (after it),
//   tried in array order until it has both, and each such record takes i
//   as its neighbour in turn.
//
// Both are plain scans over the whole array, quadratic in the link.
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "objectmode/objectmode.h"
#include "tests/reference/reference.h"

// Whether the survey left `info` with data for every corner: a copy the
// output model refused has the polygon index -1, and, as every refused copy
// shares that index, linking by polygon would join their edges.
static int Listable(const PolyInfo *info)
{
    int ok = info->count > 2 && info->surveyed && info->polyIndex >= 0 && info->points && info->hostPoints &&
             info->positions;
    for (int corner = 0; ok && corner < info->count; corner++)
        ok = info->points[corner] >= 0;
    return ok;
}

// One record, from corner `from` to corner `to`. The record starts zeroed:
// its host neighbours are then null ids, which equal no real host point, so
// that a record an abort left unlinked is never matched through them.
static LineInfo Corner(const PolyInfo *info, int from, int to)
{
    LineInfo record;
    memset(&record, 0, sizeof record);
    record.hostPoly = info->hostPoly;
    record.polyIndex = info->polyIndex;
    record.surface = info->surface;
    record.normal = info->normal;
    record.hostA = info->hostPoints[from];
    record.pointA = info->points[from];
    record.vertexA = from;
    record.hostB = info->hostPoints[to];
    record.pointB = info->points[to];
    record.vertexB = to;
    Vec3 half = VecDiv(VecSub(info->positions[to], info->positions[from]), 2.0);
    record.midpoint = VecAdd(info->positions[from], half);
    record.prevVertex = -1;
    record.nextVertex = -1;
    return record;
}

void LineList(const PolyInfo *info, LineInfo *out)
{
    int corners = info->count;
    for (int t = 0; t < corners; t++)
        out[t] = Corner(info, t, t + 1 == corners ? 0 : t + 1);
}

int LineListPass(EditContext *ctx, int count, PolyInfo *records, LineInfo **edges)
{
    // Room for every corner, also of the polygons that give no records.
    size_t room = 1;
    for (int k = 0; k < count; k++)
        room += records[k].count > 0 ? (size_t)records[k].count : 0;
    *edges = (LineInfo *)malloc(room * sizeof(LineInfo));
    if (*edges == nullptr) {
        ctx->fault = EDIT_FAULT_NO_MEMORY;
        return 0;
    }
    MonitorOpen(ctx, "Corvane mode:Obj", "Phase: LineList");
    MonitorInit(ctx, count);
    int written = 0;
    int k = 0;
    while (k < count && !MonitorStep(ctx, 1)) {
        if (Listable(&records[k])) {
            LineList(&records[k], *edges + written);
            written += records[k].count;
        }
        k++;
    }
    MonitorClose(ctx);
    return written;
}

// `second` follows `first` in their polygon: each learns the other's far
// vertex.
static void Follows(LineInfo *first, LineInfo *second)
{
    first->nextVertex = second->vertexB;
    first->hostNext = second->hostB;
    second->prevVertex = first->vertexA;
    second->hostPrev = first->hostA;
}

static int HasBothLinks(const LineInfo *record)
{
    return record->prevVertex != -1 && record->nextVertex != -1;
}

void LineInfoPass(EditContext *ctx, int m, LineInfo *edges)
{
    MonitorOpen(ctx, "Corvane mode:Obj", "Phase: LineInfo");
    MonitorInit(ctx, m);
    int mutant = RefMutant("edges-first-unlinked");
    for (int i = 0; i < m && !MonitorStep(ctx, 1); i++) {
        LineInfo *self = &edges[i];
        int j = 0;
        while (j < m && !HasBothLinks(self)) {
            LineInfo *other = &edges[j++];
            if (other->polyIndex != self->polyIndex)
                continue;
            if (other->vertexB == self->vertexA)
                Follows(other, self);
            if (self->vertexB == other->vertexA)
                Follows(self, other);
        }
    }
    // The deliberate fault: a polygon's first record loses the link before it.
    for (int i = 0; mutant && i < m; i++) {
        if (edges[i].vertexA == 0)
            edges[i].prevVertex = -1;
    }
    MonitorClose(ctx);
}

// The runs' hint only saves work; the oracle does the whole scan always.
int LineListPassRuns(EditContext *ctx, int count, PolyInfo *records, LineInfo **edges, int *runs)
{
    if (runs)
        *runs = EDGE_RUNS_UNKNOWN;
    return LineListPass(ctx, count, records, edges);
}

void LineInfoPassRuns(EditContext *ctx, int m, LineInfo *edges, int /*runs*/)
{
    LineInfoPass(ctx, m, edges);
}
