// Edge records: one LineInfo per polygon edge (LineList), then each record is
// linked to the vertex before its first point and after its second point
// within its own polygon (LineInfoPass). Which edges of different polygons
// coincide is found later, by the strips, from the host point ids.
#include <stddef.h>
#include <stdlib.h>

#include "context/context.h"
#include "index/keyindex.h"
#include "objectmode/objectmode.h"

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
    edge->midpoint = VecAdd(info->positions[a], VecDiv(VecSub(info->positions[b], info->positions[a]), 2.0));
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

// LineList with the links LineInfoPass gives a polygon's run of c > 2
// records: record t links to vertex t - 1 before it and vertex t + 2 after
// it (modulo c), with their host points.
static void LineListLinked(const PolyInfo *info, LineInfo *out)
{
    LineList(info, out);
    int c = info->count;
    for (int t = 0; t < c; t++) {
        int before = t == 0 ? c - 1 : t - 1;
        int after = t + 2 < c ? t + 2 : t + 2 - c;
        out[t].prevVertex = before;
        out[t].hostPrev = info->hostPoints[before];
        out[t].nextVertex = after;
        out[t].hostNext = info->hostPoints[after];
    }
}

// Back to the links LineList leaves.
static void Unlink(int m, LineInfo *edges)
{
    for (int r = 0; r < m; r++) {
        edges[r].prevVertex = -1;
        edges[r].nextVertex = -1;
        edges[r].hostPrev = 0;
        edges[r].hostNext = 0;
    }
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

// The fields a sweep or a walk tests come first, in the record's first 64
// bytes (see objectmode.h).
static_assert(sizeof(void *) != 8 || (offsetof(LineInfo, hostPrev) == 64 && sizeof(LineInfo) == 128),
              "the tested fields of an edge record fill its first cache line");

// The records are released with free(). Where the C library can align a
// block that free() takes back, they start on a cache line, so that the
// fields a sweep or a walk tests on a record (the first 64 bytes of it)
// come in one line.
static LineInfo *AllocateEdges(size_t count)
{
#if defined(_WIN32)
    return (LineInfo *)malloc(count * sizeof(LineInfo));
#else
    void *block = nullptr;
    if (posix_memalign(&block, 64, count * sizeof(LineInfo)) != 0)
        return nullptr;
    return (LineInfo *)block;
#endif
}

int LineListPassRuns(EditContext *ctx, int count, PolyInfo *records, LineInfo **edges, int *runs)
{
    if (runs)
        *runs = EDGE_RUNS_UNKNOWN;
    // One record per corner of every polygon, also those that make no edges.
    size_t total = 0;
    for (int k = 0; k < count; k++) {
        if (records[k].count > 0)
            total += (size_t)records[k].count;
    }
    if (total < 1)
        total = 1;
    *edges = AllocateEdges(total);
    if (!*edges) {
        // Without its records no edge would be chamfered: not a result.
        ctx->fault = EDIT_FAULT_NO_MEMORY;
        return 0;
    }

    MonitorOpen(ctx, "Corvane mode:Obj", "Phase: LineList");
    MonitorInit(ctx, count);
    int m = 0;
    // Every polygon written makes a run of three or more records, from
    // vertex t to t + 1 (0 for the last); the runs are well formed (see
    // LinkRuns) when their polygon indices differ, which they do
    // when they rise. Then the links LineInfoPass would give each record
    // are known, and are written with it when the caller asks about the
    // runs; if the indices turn out not to rise, they are taken back.
    int32_t lastIndex = -1;
    int rising = 1;
    for (int k = 0; k < count; k++) {
        if (MonitorStep(ctx, 1))
            break;
        if (!HasEdges(&records[k]))
            continue;
        if (runs)
            LineListLinked(&records[k], *edges + m);
        else
            LineList(&records[k], *edges + m);
        m += records[k].count;
        rising = rising && records[k].polyIndex > lastIndex && records[k].polyIndex < ctx->model->recordLimit;
        lastIndex = records[k].polyIndex;
    }
    MonitorClose(ctx);
    if (runs) {
        if (rising)
            *runs = EDGE_RUNS_LINKED;
        else
            Unlink(m, *edges);
    }
    return m;
}

// The body of the scan for record i at candidate j, as one step of the
// literal scan over every record: returns 1 when i has both links and its
// scan ends.
static int LinkStep(LineInfo *ei, LineInfo *ej)
{
    if (ej->polyIndex != ei->polyIndex)
        return 0;
    if (ei->prevVertex != -1 && ei->nextVertex != -1)
        return 0;
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
    return ei->prevVertex != -1 && ei->nextVertex != -1;
}

// The pass over well-formed runs: record i's scan visits its run's records
// before and after it, in array order.
// Only the records below `limit` are scanned; without a context no monitor
// is stepped.
static void LinkRuns(EditContext *ctx, int m, LineInfo *edges, int limit)
{
    for (int s = 0; s < m && s < limit;) {
        int e = s;
        while (e < m && edges[e].polyIndex == edges[s].polyIndex)
            e++;
        int c = e - s;
        for (int i = s; i < e && i < limit; i++) {
            if (ctx && MonitorStep(ctx, 1))
                return;
            int t = i - s;
            int before = s + (t == 0 ? c - 1 : t - 1);
            int after = s + (t + 1 == c ? 0 : t + 1);
            int first = before < after ? before : after;
            int second = before < after ? after : before;
            if (!LinkStep(&edges[i], &edges[first]))
                LinkStep(&edges[i], &edges[second]);
        }
        s = e;
    }
}

// The pass over any records: the records that end at a vertex and those that
// start at one are indexed by (polygon, vertex), and record i's two lists
// are merged in array order.
static void LinkIndexed(EditContext *ctx, int m, LineInfo *edges)
{
    KeyIndex byEnd, byStart;
    KeyIndexOpen(&byEnd, m);
    KeyIndexOpen(&byStart, m);
    for (int r = 0; r < m; r++) {
        KeyIndexAdd(&byEnd, r, KeyOf(edges[r].polyIndex), KeyOf(edges[r].vertexB));
        KeyIndexAdd(&byStart, r, KeyOf(edges[r].polyIndex), KeyOf(edges[r].vertexA));
    }
    for (int i = 0; i < m; i++) {
        if (MonitorStep(ctx, 1))
            break;
        LineInfo *ei = &edges[i];
        int a = KeyIndexFirst(&byEnd, KeyOf(ei->polyIndex), KeyOf(ei->vertexA));
        int b = KeyIndexFirst(&byStart, KeyOf(ei->polyIndex), KeyOf(ei->vertexB));
        while (a >= 0 || b >= 0) {
            int j;
            if (b < 0 || (a >= 0 && a < b)) {
                j = a;
                a = KeyIndexNext(&byEnd, a);
            } else if (a < 0 || b < a) {
                j = b;
                b = KeyIndexNext(&byStart, b);
            } else {
                j = a;
                a = KeyIndexNext(&byEnd, a);
                b = KeyIndexNext(&byStart, b);
            }
            if (LinkStep(ei, &edges[j]))
                break;
        }
    }
    KeyIndexClose(&byEnd);
    KeyIndexClose(&byStart);
}

// Record i is linked by the records j of its polygon that end where it
// starts or start where it ends, visited in array order and stopping once
// both links are set. Every other j leaves everything as it is, so only
// these candidates are visited. The pass writes links only; the polygon and
// vertex fields that tell the candidates stay as they are.
void LineInfoPassRuns(EditContext *ctx, int m, LineInfo *edges, int runs)
{
    MonitorOpen(ctx, "Corvane mode:Obj", "Phase: LineInfo");
    MonitorInit(ctx, m);
    if (runs == EDGE_RUNS_LINKED) {
        // Every record already has the links its scan would give it; the
        // monitor takes its steps, and an abort before record i leaves what
        // the scans of the records before i leave.
        for (int i = 0; i < m; i++) {
            if (MonitorStep(ctx, 1)) {
                Unlink(m, edges);
                LinkRuns(nullptr, m, edges, i);
                break;
            }
        }
    } else if (runs == EDGE_RUNS_WELL_FORMED) {
        LinkRuns(ctx, m, edges, m);
    } else {
        LinkIndexed(ctx, m, edges);
    }
    MonitorClose(ctx);
}
