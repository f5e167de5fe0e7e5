// Reference: objectmode/edges.cpp in its literal form, where the LineInfo pass
// scans every record for each record.
// Built only into the test module CorvaneLiteral.p, against which the indexed
// passes are compared bit for bit and timed (tests/reference/CMakeLists.txt).
// Keep it as it is: it is the definition the fast passes must match.
//
// Edge records: one LineInfo per polygon edge (LineList), then each record is
// linked to the vertex before its first point and after its second point
// within its own polygon (LineInfoPass). Which edges of different polygons
// coincide is found later, by the strips, from the host point ids.
#include <stdlib.h>

#include "objectmode/objectmode.h"
#include "context/context.h"

// Fills one record for the edge from vertex a to vertex b of `info`.
static void FillEdge(const PolyInfo *info, int a, int b, LineInfo *edge)
{
    edge->polyIndex = info->polyIndex;
    edge->vertexA = a;
    edge->vertexB = b;
    edge->pointA = info->points[a];
    edge->pointB = info->points[b];
    edge->hostPoly = info->hostPoly;
    edge->hostA = info->hostPoints[a];
    edge->hostB = info->hostPoints[b];
    edge->normal = info->normal;
    edge->surface = info->surface;
    edge->midpoint = VecAdd(info->positions[a],
                            VecDiv(VecSub(info->positions[b], info->positions[a]), 2.0));
    edge->prevVertex = -1;
    edge->nextVertex = -1;
    // The neighbour host points are only meaningful once linked; null ids
    // never equal a real host point, so a record left unlinked by an abort
    // can never be matched through them (the seam joining compares them).
    edge->hostPrev = 0;
    edge->hostNext = 0;
    edge->done = 0;
}

void LineList(const PolyInfo *info, LineInfo *out)
{
    int c = info->count;
    for (int k = 0; k < c - 1; k++)
        FillEdge(info, k, k + 1, &out[k]);
    // The closing edge comes last.
    FillEdge(info, c - 1, 0, &out[c - 1]);
}

// A record can be turned into edges only when the survey wrote its vertex
// data and the output model accepted its copy. Refused copies all carry the
// polygon index -1, and LineInfoPass links by polygon index, so they must
// stay out or their edges would be linked across polygons.
static int HasEdges(const PolyInfo *info)
{
    if (info->count <= 2 || !info->surveyed || info->polyIndex < 0)
        return 0;
    if (!info->points || !info->hostPoints || !info->positions)
        return 0;
    for (int v = 0; v < info->count; v++) {
        if (info->points[v] < 0)
            return 0;
    }
    return 1;
}

int LineListPass(EditContext *ctx, int count, PolyInfo *records, LineInfo **edges)
{
    // One record per corner of every polygon, also those that make no edges.
    size_t total = 0;
    for (int k = 0; k < count; k++) {
        if (records[k].count > 0)
            total += (size_t)records[k].count;
    }
    if (total < 1)
        total = 1;
    *edges = (LineInfo *)malloc(total * sizeof(LineInfo));
    if (!*edges)
        return 0;

    MonitorOpen(ctx, "Corvane mode:Obj", "Phase: LineList");
    MonitorInit(ctx, count);
    int m = 0;
    for (int k = 0; k < count; k++) {
        if (MonitorStep(ctx, 1))
            break;
        if (!HasEdges(&records[k]))
            continue;
        LineList(&records[k], *edges + m);
        m += records[k].count;
    }
    MonitorClose(ctx);
    return m;
}

void LineInfoPass(EditContext *ctx, int m, LineInfo *edges)
{
    MonitorOpen(ctx, "Corvane mode:Obj", "Phase: LineInfo");
    MonitorInit(ctx, m);
    for (int i = 0; i < m; i++) {
        if (MonitorStep(ctx, 1))
            break;
        LineInfo *ei = &edges[i];
        for (int j = 0; j < m; j++) {
            LineInfo *ej = &edges[j];
            if (ej->polyIndex != ei->polyIndex)
                continue;
            if (ei->prevVertex != -1 && ei->nextVertex != -1)
                continue;
            // j ends where i starts: j's first vertex precedes i.
            if (ei->vertexA == ej->vertexB) {
                ei->prevVertex = ej->vertexA;
                ei->hostPrev = ej->hostA;
                ej->nextVertex = ei->vertexB;
                ej->hostNext = ei->hostB;
            }
            // j starts where i ends: j's second vertex follows i.
            if (ei->vertexB == ej->vertexA) {
                ei->nextVertex = ej->vertexB;
                ei->hostNext = ej->hostB;
                ej->prevVertex = ei->vertexA;
                ej->hostPrev = ei->hostA;
            }
            if (ei->prevVertex != -1 && ei->nextVertex != -1)
                break;
        }
    }
    MonitorClose(ctx);
}

// The literal passes check nothing about the runs: these take what the
// activation calls and leave the hint unused.
int LineListPassRuns(EditContext *ctx, int count, PolyInfo *records, LineInfo **edges,
                     int *runs)
{
    if (runs)
        *runs = EDGE_RUNS_UNKNOWN;
    return LineListPass(ctx, count, records, edges);
}

void LineInfoPassRuns(EditContext *ctx, int m, LineInfo *edges, int /*runs*/)
{
    LineInfoPass(ctx, m, edges);
}
