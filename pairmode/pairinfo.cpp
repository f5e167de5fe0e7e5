// Pair analysis for the two-polygon mode: copying a polygon so that its copy
// still stands on the host's points, finding the edge two polygons share,
// and cutting a copy back from one edge.
//
// Everything here reads the host mesh as it was when the edit began: the host
// keeps answering polyInfo for polygons the bridge has already removed. The
// searches of the polygon list are in pairsearch.cpp.
#include "context/context.h"
#include "objectmode/objectmode.h"
#include "pairmode/pairmode.h"

#include <stdlib.h>

int MakePairPolyInfo(EditContext *ctx, LWPolID id, PolyInfo *record)
{
    BufModel *model = ctx->model;
    // A record filled before would lose its arrays: the caller's slots
    // went wrong, and nothing may be built on them.
    if (record->points || record->hostPoints || record->positions)
        return -1;
    // A polygon the host cannot describe, or one that is no polygon at
    // all (fewer than three corners), is not used: the record stays empty.
    const HostPolygonInfo *info = HostPolyInfo(ctx, id);
    if (!info || info->numPnts < 3)
        return 0;
    int n = (int)info->numPnts;

    // The host point list gets a closing entry (n + 1), so that entries k
    // and k + 1 are the ends of edge k for every k without a modulo.
    int32_t *points = (int32_t *)malloc(sizeof(int32_t) * n);
    LWPntID *hostPoints = (LWPntID *)malloc(sizeof(LWPntID) * (n + 1));
    Vec3 *positions = (Vec3 *)malloc(sizeof(Vec3) * n);
    if (!points || !hostPoints || !positions) {
        free(points);
        free(hostPoints);
        free(positions);
        ctx->fault = EDIT_FAULT_NO_MEMORY;
        return 0;
    }

    // Until the copy is complete the record names no polygon.
    record->polyIndex = -1;
    record->hostPoly = id;
    record->count = n;
    record->points = points;
    record->hostPoints = hostPoints;
    record->positions = positions;
    record->ownsArrays = 1;
    record->surface = info->surface;

    // One buffered point per vertex, standing for the host's point.
    Vec3 sum = VecCopyOrZero(nullptr);
    for (int k = 0; k < n; k++) {
        LWPntID p = info->points[k];
        hostPoints[k] = p;
        Vec3 position = HostPointOrZero(ctx, p);
        int b = BufModelAddPoint(model, &position);
        points[k] = b;
        if (b < 0)
            return 0;  // full model: stop; the activation discards the edit
        BufModelGetPoint(model, b)->hostId = p;
        positions[k] = position;
        sum = VecAdd(sum, position);
    }
    // Close the host point list and take the centroid.
    hostPoints[n] = info->points[0];
    record->centroid = VecDiv(sum, (double)n);

    // The copy keeps the host's points per vertex; only vertices whose
    // host id is later cleared take (and create) their buffered point.
    int poly = BufModelAddPoly(model, record->surface, n, points);
    if (poly < 0)
        return 0;
    record->polyIndex = poly;
    BufPoly *copy = BufModelGetPoly(model, poly);
    for (int k = 0; k < n; k++)
        copy->hostPoints[k] = hostPoints[k];
    record->surveyed = 1;
    return n;
}

void FindSharedEdge(BufModel *, const PolyInfo *a, const PolyInfo *b, int *i, int *j)
{
    // The closing entries (count + 1 host ids) let the last edge of each
    // polygon take part. Only opposite directions match:
    //   A: i -> i+1   ==   B: j+1 -> j
    for (int ii = 0; ii < a->count; ii++) {
        for (int jj = 0; jj < b->count; jj++) {
            if (a->hostPoints[ii] == b->hostPoints[jj + 1] && a->hostPoints[ii + 1] == b->hostPoints[jj]) {
                *i = ii;
                *j = jj;
                return;
            }
        }
    }
}

void FindSharedEdgeTo(BufModel *, const PolyInfo *a, const PolyInfo *b, LWPntID to, int *i, int *j)
{
    for (int ii = 0; ii < a->count; ii++) {
        if (a->hostPoints[ii + 1] != to)
            continue;
        for (int jj = 0; jj < b->count; jj++) {
            if (a->hostPoints[ii] == b->hostPoints[jj + 1] && to == b->hostPoints[jj]) {
                *i = ii;
                *j = jj;
                return;
            }
        }
    }
}

//   prev           next
//     |             |
//     ia ========== ib     edge a of X: new points at ia and ib, moved in
//                          by `size` along prev-ia and ib-next
void DetachEdge(EditContext *ctx, PolyInfo *x, int a, double size)
{
    BufModel *model = ctx->model;
    // A record whose copy was never made has nothing to cut back.
    if (x->polyIndex < 0 || !x->hostPoints || x->count < 3)
        return;
    // The edge's two vertices.
    int n = x->count;
    int ia = (n + a) % n;
    int ib = (n + a + 1) % n;

    // An edge record of its own with just what the offset reads.
    LineInfo edge = {};
    edge.polyIndex = x->polyIndex;
    edge.vertexA = ia;
    edge.vertexB = ib;
    edge.prevVertex = (n + a - 1) % n;
    edge.nextVertex = (n + a + 2) % n;
    edge.hostPoly = x->hostPoly;
    edge.hostA = x->hostPoints[ia];
    edge.hostB = x->hostPoints[ib];
    edge.hostPrev = x->hostPoints[edge.prevVertex];
    edge.hostNext = x->hostPoints[edge.nextVertex];
    edge.surface = x->surface;

    // The new points start at the host's positions.
    Vec3 pa = HostPointOrZero(ctx, edge.hostA);
    Vec3 pb = HostPointOrZero(ctx, edge.hostB);
    edge.pointA = BufModelAddPoint(model, &pa);
    edge.pointB = BufModelAddPoint(model, &pb);
    if (edge.pointA < 0 || edge.pointB < 0)
        return;  // full model: the copy keeps its points; the edit is discarded

    // The copy takes the new points at those vertices.
    BufPoly *copy = BufModelGetPoly(model, x->polyIndex);
    copy->points[ia] = edge.pointA;
    copy->points[ib] = edge.pointB;

    // The per-vertex host ids stay: the caller clears them.
    OffsetEdgePoints(ctx, &edge, size);
}
