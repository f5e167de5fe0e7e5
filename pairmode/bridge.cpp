// Bridge construction: the edge two selected polygons share is chamfered, and
// the chamfer is carried along the edge loop through it, in both directions,
// through every point where four polygon corners meet.
//
// One pair of the strip, A and B sharing the edge from the loop point V to
// the other end W (A holds it as i -> i+1, B as j -> j+1):
//
//        e    |     d            e, d: the next pair, beyond V
//     --------V--------
//        A    |     B            quad: B[j+1] B[j] A[i+1] A[i]
//             |                  (0 and 3 at V, 1 and 2 at W)
//     --------W--------
//
// Both polygons are cut back from V-W, a bridge quad fills the gap, and at V
// the next pair's cut points are joined to this pair's, so neighbouring quads
// share an edge. Every polygon re-shaped is removed from the host and replaced
// by its copy in the output model.
#include <stdlib.h>
#include <string.h>

#include "pairmode/claims.h"
#include "pairmode/pairindex.h"
#include "pairmode/pairmode.h"

// Host point k of a record, the index taken modulo its vertex count.
static LWPntID HostAt(const PolyInfo *x, int k)
{
    return x->hostPoints[(x->count + k) % x->count];
}

// The point index array of a record's copy in the output model.
static int32_t *CopyPoints(BufModel *model, const PolyInfo *x)
{
    return BufModelGetPoly(model, x->polyIndex)->points;
}

static int Wrap(const PolyInfo *x, int k)
{
    return (x->count + k) % x->count;
}

static void RemoveHostPoly(EditContext *ctx, LWPolID id)
{
    ctx->services.edit->remPoly(ctx->services.edit->state, id);
}

// Whether the host describes both polygons (three corners or more) and they
// hold a common edge in opposite directions: tested before anything is built
// for a pair, so that a pair without one leaves no trace.
static int HostPairShares(EditContext *ctx, LWPolID ida, LWPolID idb)
{
    const HostPolygonInfo *info = ctx->services.edit->polyInfo(ctx->services.edit->state, ida);
    if (!info || info->numPnts < 3)
        return 0;
    int n = (int)info->numPnts;
    // The host may answer the next polyInfo in the same record.
    LWPntID *a = (LWPntID *)malloc(sizeof(LWPntID) * n);
    if (!a)
        return 0;
    memcpy(a, info->points, sizeof(LWPntID) * n);
    int found = 0;
    info = ctx->services.edit->polyInfo(ctx->services.edit->state, idb);
    if (info && info->numPnts >= 3) {
        int m = (int)info->numPnts;
        const LWPntID *b = info->points;
        for (int ii = 0; ii < n && !found; ii++) {
            for (int jj = 0; jj < m && !found; jj++)
                found = a[ii] == b[(jj + 1) % m] && a[(ii + 1) % n] == b[jj];
        }
    }
    free(a);
    return found;
}

// Adds the bridge quad of the pair: B[j+1], B[j], A[i+1], A[i] of the copies.
// It takes the pair's surface name when both copies carry the same one.
static int AddBridgeQuad(BufModel *model, const PolyInfo *a, const PolyInfo *b, int i, int j)
{
    const BufPoly *pa = BufModelGetPoly(model, a->polyIndex);
    const BufPoly *pb = BufModelGetPoly(model, b->polyIndex);
    int32_t quad[4] = {pb->points[Wrap(b, j + 1)], pb->points[Wrap(b, j)], pa->points[Wrap(a, i + 1)],
                       pa->points[Wrap(a, i)]};
    const char *name = nullptr;
    if (pa->surface && pb->surface && strcmp(pa->surface, pb->surface) == 0)
        name = pa->surface;
    return BufModelAddPoly(model, name, 4, quad);
}

// From now on the edge's two vertices take the points DetachEdge made, and
// the flush creates those.
static void ReleaseEdgeHostPoints(BufModel *model, const PolyInfo *x, int k)
{
    BufPoly *copy = BufModelGetPoly(model, x->polyIndex);
    copy->hostPoints[Wrap(x, k)] = nullptr;
    copy->hostPoints[Wrap(x, k + 1)] = nullptr;
}

// A full model or a fault stops the bridge; the activation discards the edit.
static int Stopped(const EditContext *ctx)
{
    return ctx->model->refusedAdds > 0 || ctx->fault != EDIT_FAULT_NONE;
}

static int BuildBridgeBody(EditContext *ctx, PairWork *work, int count, LWPolID *list, PolyInfo *records,
                           double size);

// The walks and caps ask for the polygons about points over and over; they
// get their answers from an index of the list built once (pairmode/pairindex.h).
int BuildBridge(EditContext *ctx, PairWork *work, int count, LWPolID *list, PolyInfo *records, double size)
{
    PairWorkEnd(work);
    work->index = PairIndexOpen(ctx, count, list);
    work->caps = CapsBegin(work);
    CapWork *caps = work->caps;
    int result = caps ? BuildBridgeBody(ctx, work, count, list, records, size) : 0;
    if (!caps)
        ctx->fault = EDIT_FAULT_NO_MEMORY;
    if (result == BRIDGE_FAULT) {
        ctx->fault = EDIT_FAULT_INTERNAL;
        result = 0;
    }
    if (result == 0 && ctx->model->refusedAdds == 0 && ctx->fault == EDIT_FAULT_NONE)
        CapsSettle(caps, ctx);
    PairWorkEnd(work);
    return result;
}

void PairWorkEnd(PairWork *work)
{
    PairClaimsEnd(work->claims);
    CapsEnd(work->caps);
    PairIndexClose(work->index);
    work->claims = nullptr;
    work->caps = nullptr;
    work->index = nullptr;
}

static int BuildBridgeBody(EditContext *ctx, PairWork *work, int count, LWPolID *list, PolyInfo *records,
                           double size)
{
    BufModel *model = ctx->model;
    // A pair that shares no edge held in opposite directions is refused
    // before anything is built or removed.
    if (count < 2 || list[0] == list[1] || !HostPairShares(ctx, list[0], list[1]))
        return BRIDGE_NO_SHARED_EDGE;
    work->claims = PairClaimsBegin(count);
    if (!work->claims) {
        ctx->fault = EDIT_FAULT_NO_MEMORY;
        return 0;
    }
    PairClaim(work->claims, list[0]);
    PairClaim(work->claims, list[1]);

    // A full model stops everything; the activation discards the edit.
    PolyInfo *r0 = &records[0];
    PolyInfo *r1 = &records[1];
    int made0 = MakePairPolyInfo(ctx, list[0], r0);
    int made1 = made0 > 0 ? MakePairPolyInfo(ctx, list[1], r1) : 0;
    if (made0 < 0 || made1 < 0)
        return BRIDGE_FAULT;
    if (made0 == 0 || made1 == 0)
        return 0;
    PairClaimSetCopy(work->claims, list[0], r0->polyIndex, PAIR_COPY_STRIP);
    PairClaimSetCopy(work->claims, list[1], r1->polyIndex, PAIR_COPY_STRIP);
    // The host's lists were checked above, but the copies are what the
    // walk reads: a host that answered differently the second time is a
    // fault, not a pair to build on.
    int i = -1, j = -1;
    FindSharedEdge(model, r0, r1, &i, &j);
    if (i < 0 || j < 0)
        return BRIDGE_FAULT;
    // Cut both polygons back from the shared edge and bridge the gap.
    DetachEdge(ctx, r0, i, size);
    DetachEdge(ctx, r1, j, size);
    int firstQuad = Stopped(ctx) ? -1 : AddBridgeQuad(model, r0, r1, i, j);
    if (firstQuad < 0)
        return 0;
    // The shared edge's vertices now take the points DetachEdge made.
    ReleaseEdgeHostPoints(model, r0, i);
    ReleaseEdgeHostPoints(model, r1, j);
    WalkPair pair = {r0, r1, i, j, 0, 1, 0, nullptr, 0, {}, work};

    // The walk from the loop point A[i].
    FindSharedEdge(model, r0, r1, &pair.i, &pair.j);
    int walked = WalkEdgeLoop(ctx, count, list, records, size, &pair, firstQuad);
    if (walked != 0 || Stopped(ctx))
        return walked == BRIDGE_FAULT ? BRIDGE_FAULT : 0;
    // With the roles swapped the loop point is the other end of the
    // selected edge; the slot counters go on after the first walk's.
    pair.a = r1;
    pair.b = r0;
    pair.secondWalk = 1;
    FindSharedEdge(model, r1, r0, &pair.i, &pair.j);
    walked = WalkEdgeLoop(ctx, count, list, records, size, &pair, firstQuad);
    if (walked != 0)
        return walked == BRIDGE_FAULT ? BRIDGE_FAULT : 0;
    // Nothing reads the selected pair's copies by vertex any more: the
    // first walk's end that comes back to them is capped now.
    if (pair.deferred && !Stopped(ctx)) {
        pair.deferredEnd.mayCutStrips = 1;
        CapLoopEnd(work, ctx, count, list, &pair.deferredEnd);
    }
    // The selected pair is replaced by its copies.
    RemoveHostPoly(ctx, list[0]);
    RemoveHostPoly(ctx, list[1]);
    return 0;
}

// Whether the walk may step into (e, d): room for two more records, neither
// polygon taken over already (by this walk, the other one or a cap), and a
// common edge for the new pair. Claims both when it may.
static int MayStepInto(EditContext *ctx, PairClaims *claims, int count, LWPolID e, LWPolID d, int bSlot)
{
    if (bSlot + 2 > count)  // the array holds count + 1 records
        return 0;
    if (PairClaimed(claims, e) || PairClaimed(claims, d))
        return 0;
    if (!HostPairShares(ctx, e, d))
        return 0;
    return PairClaim(claims, e) && PairClaim(claims, d);
}

// Joins the last quad to the first where the walk came back to the selected
// pair (records 0 and 1); `pair` stands on the walk's last pair.
static void CloseRing(BufModel *model, PolyInfo *records, const WalkPair *pair, int firstQuad)
{
    PolyInfo *r0 = &records[0];
    PolyInfo *r1 = &records[1];
    PolyInfo *lastA = &records[pair->aSlot];
    PolyInfo *lastB = &records[pair->bSlot];
    // A pair that shares no edge with the selected one is left open.
    int i = -1, j = -1;
    FindSharedEdge(model, r0, lastA, &i, &j);
    if (i >= 0)
        CopyPoints(model, lastA)[Wrap(lastA, j + 1)] = CopyPoints(model, r0)[Wrap(r0, i)];
    i = -1;
    j = -1;
    FindSharedEdge(model, r1, lastB, &i, &j);
    if (i >= 0)
        CopyPoints(model, lastB)[Wrap(lastB, j)] = CopyPoints(model, r1)[Wrap(r1, i + 1)];
    // The last polygon added is the last quad.
    BufPoly *last = BufModelGetPoly(model, model->polyCount - 1);
    const BufPoly *first = BufModelGetPoly(model, firstQuad);
    last->points[0] = first->points[1];
    last->points[3] = first->points[2];
}

// How a walk's step went.
enum { STEP_DONE = 0, STEP_STOP = 1 };

// Steps the walk from its pair into (e, d), the pair beyond the loop point
// v: copies and claims them, removes them from the host, cuts both back from
// their shared edge and bridges it with a quad (*lastQuad). STEP_DONE, or
// STEP_STOP where the model is full (the activation discards the edit), or
// BRIDGE_FAULT.
static int StepInto(EditContext *ctx, PolyInfo *records, double size, WalkPair *pair, LWPolID e, LWPolID d,
                    LWPntID v, int *lastQuad)
{
    BufModel *model = ctx->model;
    pair->aSlot += 2;
    pair->bSlot += 2;
    PolyInfo *nextA = &records[pair->aSlot];
    PolyInfo *nextB = &records[pair->bSlot];
    int madeA = MakePairPolyInfo(ctx, e, nextA);
    int madeB = madeA > 0 ? MakePairPolyInfo(ctx, d, nextB) : 0;
    if (madeA < 0 || madeB < 0)
        return BRIDGE_FAULT;
    if (madeA == 0 || madeB == 0)
        return STEP_STOP;
    PairClaimSetCopy(pair->work->claims, e, nextA->polyIndex, PAIR_COPY_STRIP);
    PairClaimSetCopy(pair->work->claims, d, nextB->polyIndex, PAIR_COPY_STRIP);
    PolyInfo *oldA = pair->a;
    PolyInfo *oldB = pair->b;
    int oldI = pair->i;
    int oldJ = pair->j;
    // The new edge runs from A's vertex i (the next loop point) to
    // A's vertex i + 1, which is V: a pair may share another edge too.
    // MayStepInto saw it in the host's lists; copies that disagree are
    // a fault.
    PolyInfo *a = pair->a = nextA;
    PolyInfo *b = pair->b = nextB;
    pair->i = -1;
    pair->j = -1;
    FindSharedEdgeTo(model, a, b, v, &pair->i, &pair->j);
    if (pair->i < 0 || pair->j < 0)
        return BRIDGE_FAULT;
    // The next pair is replaced by its copies.
    RemoveHostPoly(ctx, e);
    RemoveHostPoly(ctx, d);
    // Cut both back from their shared edge.
    DetachEdge(ctx, a, pair->i, size);
    DetachEdge(ctx, b, pair->j, size);
    if (Stopped(ctx))
        return STEP_STOP;
    // Each side of the strip keeps one point at V, the previous
    // pair's; the points just made at V are left unused.
    CopyPoints(model, a)[Wrap(a, pair->i + 1)] = CopyPoints(model, oldA)[Wrap(oldA, oldI)];
    CopyPoints(model, b)[Wrap(b, pair->j)] = CopyPoints(model, oldB)[Wrap(oldB, oldJ + 1)];
    // Bridge them.
    *lastQuad = AddBridgeQuad(model, a, b, pair->i, pair->j);
    if (*lastQuad < 0)
        return STEP_STOP;
    // Their shared edge's vertices take the new points.
    ReleaseEdgeHostPoints(model, a, pair->i);
    ReleaseEdgeHostPoints(model, b, pair->j);
    return STEP_DONE;
}

// Open end: three corners, or five and more, are cut by the last quad's
// plane; at two or four nothing more is done. But a walk stopped at four
// corners by polygons already taken over (the loop's other end reached
// its end point first, and its cap took them), or by the selected pair
// where the loop comes back to it without closing a ring, would leave
// the strip's end open: that end is cut and capped like any other, the
// taken polygons cut again in their copies.
// An end the first walk capped already (the loop came back to it, and
// that cap joined both arms) is not capped twice.
static void CapWalkEnd(EditContext *ctx, int count, LWPolID *list, WalkPair *pair, int lastQuad, int taken)
{
    BufModel *model = ctx->model;
    PolyInfo *a = pair->a;
    PolyInfo *b = pair->b;
    int c = PointValence(ctx, pair->work->index, count, list, HostAt(a, pair->i));
    if (HostAt(a, pair->i) == pair->cappedEnd)
        return;
    if (!(c == 3 || c >= 5 || (c == 4 && taken)))
        return;
    LoopEnd end;
    end.lastQuad = lastQuad;
    end.prev = HostAt(a, pair->i + 1);
    end.end = HostAt(a, pair->i);
    end.stripIn = CopyPoints(model, b)[Wrap(b, pair->j + 1)];
    end.stripOut = CopyPoints(model, a)[Wrap(a, pair->i)];
    // The first walk's cap must leave the selected pair's copies as they
    // are: the second walk joins its first pair to them by vertex.
    end.mayCutStrips = pair->secondWalk;
    pair->cappedEnd = end.end;
    // A cap that must cut a selected polygon's copy waits until the
    // second walk has joined its first pair to that copy.
    if (!pair->secondWalk && CapMeetsSelectedCopy(pair->work, ctx, count, list, &end)) {
        pair->deferred = 1;
        pair->deferredEnd = end;
        return;
    }
    CapLoopEnd(pair->work, ctx, count, list, &end);
}

int WalkEdgeLoop(EditContext *ctx, int count, LWPolID *list, PolyInfo *records, double size, WalkPair *pair,
                 int firstQuad)
{
    BufModel *model = ctx->model;
    int lastQuad = firstQuad;
    int steps = 0;
    int taken = 0;  // the walk stopped at polygons a cap or a walk took over
    LWPolID e = nullptr, d = nullptr;
    for (;;) {
        PolyInfo *a = pair->a;
        PolyInfo *b = pair->b;
        // The polygons beyond the loop point V: across A's edge that ends
        // at V, and across B's edge that starts at V.
        LWPntID v = HostAt(a, pair->i);
        e = FindPolyByEdge(ctx, pair->work->index, list, count, v, HostAt(a, pair->i - 1));
        d = FindPolyByEdge(ctx, pair->work->index, list, count, HostAt(b, pair->j + 2),
                           HostAt(b, pair->j + 1));

        // Tests, in order. A neighbour that is A or B itself (a polygon
        // holding both directions of an edge) ends the walk.
        if (e == d)
            break;
        if (e == a->hostPoly || d == b->hostPoly)
            break;
        if (!e || !d)
            break;
        if (e == list[0] || d == list[1] || e == list[1] || d == list[0]) {
            // Short of a ring, the selected pair is taken over like any
            // other pair a walk or cap took.
            taken = 1;
            break;
        }
        if (PointValence(ctx, pair->work->index, count, list, v) != 4)
            break;
        if (PairClaimed(pair->work->claims, e) || PairClaimed(pair->work->claims, d)) {
            taken = 1;
            break;
        }
        if (!MayStepInto(ctx, pair->work->claims, count, e, d, pair->bSlot))
            break;
        int stepped = StepInto(ctx, records, size, pair, e, d, v, &lastQuad);
        if (stepped == BRIDGE_FAULT)
            return BRIDGE_FAULT;
        if (stepped == STEP_STOP)
            return 0;  // full model: the activation discards the edit
        steps++;
        // Ending here, the closing test below sees the pair just
        // stepped into (e, d).
        if (PointValence(ctx, pair->work->index, count, list, HostAt(pair->a, pair->i)) != 4)
            break;
    }

    // Ring: the walk came back to the selected pair. A walk that took no
    // step cannot have gone round. The last quad must be the model's last
    // polygon, which the joining rewrites.
    if (steps > 0 && e == list[0] && d == list[1]) {
        if (lastQuad != model->polyCount - 1)
            return BRIDGE_FAULT;
        CloseRing(model, records, pair, firstQuad);
        RemoveHostPoly(ctx, list[0]);
        RemoveHostPoly(ctx, list[1]);
        return 1;
    }
    CapWalkEnd(ctx, count, list, pair, lastQuad, taken);
    return 0;
}
