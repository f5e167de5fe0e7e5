// Reference: objectmode/strips.cpp in its literal form, where the seam and
// pairing sweeps compare each record with every later one.
// Built only into the test module CorvaneLiteral.p, against which the indexed
// passes are compared bit for bit and timed (tests/reference/CMakeLists.txt).
// Keep it as it is: it is the definition the fast passes must match.
//
// Chamfer strips: every edge that two polygons share (running along it in
// opposite directions) is cut away. Both polygons' copies are moved back
// from it by the bevel size, and a four-sided strip spans the gap between
// them. Seams, where one polygon runs along an edge twice, are joined first.
//
// The literal, quadratic form: every record is compared with every later one.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "objectmode/objectmode.h"
#include "context/context.h"

// Records that an aborted LineInfo pass left without both neighbours have no
// host previous/next point to slide along, so they are never chamfered.
static int IsLinked(const LineInfo *edge)
{
    return edge->prevVertex != -1 && edge->nextVertex != -1;
}

// Two names match only when both exist and agree byte for byte.
static int SameSurface(const char *a, const char *b)
{
    return a && b && strcmp(a, b) == 0;
}

// The angle between the two polygons, 180 for coplanar ones, smaller the
// sharper the fold. The dot product of two nearly parallel unit normals can
// land just outside [-1, 1] by rounding; clamping keeps such a pair at 180
// (or 0) instead of turning its angle into NaN.
static int PassesAngleTest(const Settings *settings, const LineInfo *a, const LineInfo *b)
{
    double d = VecDot(a->normal, b->normal);
    if (d > 1.0)
        d = 1.0;
    else if (d < -1.0)
        d = -1.0;
    // VecAcos, not the C library's acos: the result decides which edges are
    // chamfered, so it must be the same bits on every target.
    double angle = 180.0 - VecAcos(d) * 57.29577951308239;
    if (settings->angleMode == ANGLE_MODE_LT)
        return !(angle >= settings->limitAngle);
    if (settings->angleMode == ANGLE_MODE_GT)
        return angle > settings->limitAngle;
    return 1;
}

// A slit polygon runs along the seam A-B twice, as i (A to B) and j (B to A):
//
//        kin_i       i: A --> B      kout_i
//     ---------> A ==============> B --------->
//     <--------- A <============== B <---------
//        kout_j      j: B --> A      kin_j
//
// Afterwards both traversals use i's buffered points, and the records next to
// the seam are linked across it as if the seam were absent: the record that
// leads into j continues where i continues, the one that leaves j takes over
// what precedes i, and the records at i take j's neighbours.
void JoinSeamEdge(BufModel *model, int m, LineInfo *edges, int i, int j)
{
    LineInfo *ei = &edges[i];
    LineInfo *ej = &edges[j];
    for (int k = 0; k < m; k++) {
        LineInfo *ek = &edges[k];
        if (k == i || k == j || ek->hostPoly != ei->hostPoly)
            continue;
        if (ek->hostB == ej->hostA && ek->hostNext == ej->hostB) {
            // k leads into j
            ek->hostNext = ei->hostNext;
            ek->nextVertex = ei->nextVertex;
            ek->pointB = ei->pointB;
            ek->vertexB = ei->vertexB;
        } else if (ek->hostPrev == ej->hostA && ek->hostA == ej->hostB) {
            // k leaves j
            ek->hostPrev = ei->hostPrev;
            ek->prevVertex = ei->prevVertex;
            ek->pointA = ei->pointA;
            ek->vertexA = ei->vertexA;
        }
        if (ek->hostB == ei->hostA && ek->hostNext == ei->hostB) {
            // k leads into i
            ek->hostNext = ej->hostNext;
            ek->nextVertex = ej->nextVertex;
        } else if (ek->hostPrev == ei->hostA && ek->hostA == ei->hostB) {
            // k leaves i
            ek->hostPrev = ej->hostPrev;
            ek->prevVertex = ej->prevVertex;
        }
    }

    // The polygon's copy takes i's points at j's two vertices.
    BufPoly *poly = ei->polyIndex >= 0 ? BufModelGetPoly(model, ei->polyIndex) : nullptr;
    // Every vertex index is checked: a record whose polygon index names
    // another polygon than its vertices belong to must not reach past it.
    if (poly && ej->vertexA >= 0 && ej->vertexA < poly->count && ej->vertexB >= 0 &&
        ej->vertexB < poly->count && ei->vertexA >= 0 && ei->vertexA < poly->count &&
        ei->vertexB >= 0 && ei->vertexB < poly->count) {
        poly->points[ej->vertexA] = poly->points[ei->vertexB];
        poly->points[ej->vertexB] = poly->points[ei->vertexA];
    }

    // j now runs B to A over i's points; its host points and links stay.
    ej->pointA = ei->pointB;
    ej->pointB = ei->pointA;
    ej->vertexA = ei->vertexB;
    ej->vertexB = ei->vertexA;
}

// Joins every seam: two linked records of one host polygon that run along
// the same two host points in opposite directions. Returns non-zero on abort.
static int JoinSeams(EditContext *ctx, int m, LineInfo *edges)
{
    BufModel *model = ctx->model;
    for (int i = 0; i < m; i++) {
        if (MonitorStep(ctx, 1))
            return 1;
        if (!IsLinked(&edges[i]))
            continue;
        for (int j = i + 1; j < m; j++) {
            if (edges[i].hostA == edges[j].hostB && edges[i].hostB == edges[j].hostA &&
                edges[i].hostPoly == edges[j].hostPoly && IsLinked(&edges[j]))
                JoinSeamEdge(model, m, edges, i, j);
        }
    }
    return 0;
}

// Whether three or more records run between host points u and v, either
// way: a crowded edge, which gets no strip and keeps its points.
static int IsCrowded(int m, const LineInfo *edges, LWPntID u, LWPntID v)
{
    int count = 0;
    for (int k = 0; k < m; k++)
        count += (edges[k].hostA == u && edges[k].hostB == v) ||
                 (edges[k].hostA == v && edges[k].hostB == u);
    return count >= 3;
}

// Strip for the pair i (A to B in polygon I), j (B to A in polygon J):
// J's copy of A, J's copy of B, I's copy of B, I's copy of A. It runs along
// the edge against each neighbour, which keeps its winding consistent with
// both. Then both copies are moved back from the edge, but for the ends at which
// a polygon runs on along a crowded edge, which stay.
static void BuildStrip(EditContext *ctx, int m, LineInfo *edges, LineInfo *ei, LineInfo *ej,
                       double size)
{
    BufModel *model = ctx->model;
    int32_t quad[4] = {ej->pointB, ej->pointA, ei->pointB, ei->pointA};
    const char *name = SameSurface(ei->surface, ej->surface) ? ei->surface : nullptr;
    BufModelAddPoly(model, name, 4, quad);
    OffsetEdgePointsPinned(ctx, ei, size, IsCrowded(m, edges, ei->hostPrev, ei->hostA),
                           IsCrowded(m, edges, ei->hostB, ei->hostNext));
    OffsetEdgePointsPinned(ctx, ej, size, IsCrowded(m, edges, ej->hostPrev, ej->hostA),
                           IsCrowded(m, edges, ej->hostB, ej->hostNext));
}

// Pairs each still available record with the first later one that runs
// along its edge the other way in another polygon. Records on a crowded edge
// are never available. `settings` null means
// every pair is chamfered; otherwise the pair must pass the angle test, and
// a pair that fails is out for good while i goes on looking.
static void PairEdges(EditContext *ctx, int m, LineInfo *edges, unsigned char *available,
                      double size, const Settings *settings)
{
    for (int i = 0; i < m; i++) {
        if (MonitorStep(ctx, 1))
            return;
        if (!available[i])
            continue;
        LineInfo *ei = &edges[i];
        for (int j = i + 1; j < m; j++) {
            LineInfo *ej = &edges[j];
            if (!available[j])
                continue;
            if (ei->hostA != ej->hostB || ei->hostB != ej->hostA || ei->hostPoly == ej->hostPoly)
                continue;
            if (settings && !PassesAngleTest(settings, ei, ej)) {
                available[i] = 0;
                available[j] = 0;
                continue;
            }
            BuildStrip(ctx, m, edges, ei, ej, size);
            available[i] = 0;
            available[j] = 0;
            ei->done = 1;
            ej->done = 1;
            break;
        }
    }
}

static void ChamferEdges(EditContext *ctx, int m, LineInfo *edges, double size,
                         const Settings *settings)
{
    MonitorOpen(ctx, "Corvane mode:Object", " Phase: MakeLineCorvanePoly");
    MonitorInit(ctx, m);
    unsigned char *available = (unsigned char *)malloc(m > 0 ? (size_t)m : 1);
    if (!available) {
        MonitorClose(ctx);
        return;
    }
    // An abort here still lets the pairing begin on the same monitor.
    JoinSeams(ctx, m, edges);

    for (int i = 0; i < m; i++)
        available[i] = IsLinked(&edges[i]) && !IsCrowded(m, edges, edges[i].hostA, edges[i].hostB);
    MonitorInit(ctx, m);
    PairEdges(ctx, m, edges, available, size, settings);

    MonitorClose(ctx);
    free(available);
}

void MakeLineCorvanePoly(EditContext *ctx, SharedAdjacency *, int m, LineInfo *edges, double size)
{
    ChamferEdges(ctx, m, edges, size, nullptr);
}

void MakeLineCorvanePolyLimited(EditContext *ctx, SharedAdjacency *, int m, LineInfo *edges,
                                const Settings *settings)
{
    ChamferEdges(ctx, m, edges, settings->bevelSize, settings);
}
