// Loop end caps: where a walk along the edge loop ends at a point E with three,
// or five and more, polygon corners, the polygons about E that are not on the
// strip are cut by the plane of the last bridge quad L, and a cap closes what
// is left open.
//
//              W
//         B    |    m1          B holds P -> E -> W; the fan polygons
//    P ======= E -------        m1, m2 ... run about E from B's side to
//         A    |    m2          A's side, each across the previous one's
//              |                edge from E to its next point
//
// In each fan polygon E is replaced by two points on the plane: `in` on the
// edge that comes into E, `out` on the edge that leaves it. The cap runs
// through the first `in` and every `out`, in reverse, so that it shares its
// edge from `in` to the last `out` with L.
//
// The first `in` lies on B's edge W-E and the last `out` on A's edge E-X,
// where the strip's own points at E already are. On a curved mesh L is not
// planar and the cut misses the strip's point by a little (far less than the
// weld joins when only the touched region is buffered), so those two are the
// strip's points themselves, not cuts.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "pairmode/capwork.h"
#include "pairmode/claims.h"

static void KeepCapPoly(CapWork *cw, int poly)
{
    for (int k = 0; k < cw->capPolyCount; k++) {
        if (cw->capPolys[k] == poly)
            return;
    }
    if (poly >= 0 && cw->capPolyCount < SETTLE_POLYS)
        cw->capPolys[cw->capPolyCount++] = poly;
    else if (poly >= 0)
        cw->settleOverflow = 1;
}

// Whether three buffered points lie on one line, up to rounding: the area
// they span is a vanishing part of the square of their longest side.
static int OnOneLine(BufModel *model, int32_t a, int32_t b, int32_t c)
{
    const BufPoint *pa = BufModelGetPoint(model, a);
    const BufPoint *pb = BufModelGetPoint(model, b);
    const BufPoint *pc = BufModelGetPoint(model, c);
    if (!pa || !pb || !pc)
        return 0;
    double u[3] = {pb->position.x - pa->position.x, pb->position.y - pa->position.y,
                   pb->position.z - pa->position.z};
    double v[3] = {pc->position.x - pa->position.x, pc->position.y - pa->position.y,
                   pc->position.z - pa->position.z};
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    double uu = u[0] * u[0] + u[1] * u[1] + u[2] * u[2];
    double vv = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    double side = uu > vv ? uu : vv;
    return sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]) <= 1e-9 * side;
}

// Where the cap list passes the end point's copy more than once, the cut
// points between its first and last pass are given up: each fan polygon that
// holds one takes the end point there instead (once), and the cap list drops
// them. Left as it is when a point between is not a cut of this cap.
static int SamePlace(const BufPoint *a, const BufPoint *b)
{
    return a->position.x == b->position.x && a->position.y == b->position.y && a->position.z == b->position.z;
}

static void UncutBetweenEnds(CapWork *cw, BufModel *model, int *capCount)
{
    int first = -1, last = -1;
    for (int k = 0; k < *capCount; k++) {
        if (cw->capPoints[k] == cw->endCopy) {
            if (first < 0)
                first = k;
            last = k;
        }
    }
    if (cw->endCopy < 0 || first < 0 || last - first < 2)
        return;
    for (int f = 0; f < cw->fanCount; f++) {
        BufPoly *poly = BufModelGetPoly(model, cw->fanPolys[f]);
        if (!poly)
            return;
    }
    for (int k = first + 1; k < last; k++) {
        const BufPoint *p = BufModelGetPoint(model, cw->capPoints[k]);
        if (!p || (p->hostId && cw->capPoints[k] != cw->endCopy))
            return;
    }
    for (int f = 0; f < cw->fanCount; f++) {
        const BufPoly *poly = BufModelGetPoly(model, cw->fanPolys[f]);
        int32_t pts[CAP_LIST_SIZE];
        int n = 0, changed = 0;
        for (int v = 0; v < poly->count && v < CAP_LIST_SIZE; v++) {
            int32_t q = poly->points[v];
            const BufPoint *at = BufModelGetPoint(model, q);
            for (int k = first + 1; k < last && q != cw->endCopy; k++) {
                // The neighbour's cut on the same edge is a point of its own
                // at the same place, which the weld joins.
                const BufPoint *cut = BufModelGetPoint(model, cw->capPoints[k]);
                if (q == cw->capPoints[k] || (at && cut && !at->hostId && SamePlace(at, cut))) {
                    q = cw->endCopy;
                    changed = 1;
                }
            }
            if (n == 0 || pts[n - 1] != q)
                pts[n++] = q;
        }
        while (n > 1 && pts[n - 1] == pts[0])
            n--;
        if (changed && n >= 3)
            BufModelSetPoly(model, nullptr, n, pts, cw->fanPolys[f]);
    }
    int w = first + 1;
    for (int k = last + 1; k < *capCount; k++)
        cw->capPoints[w++] = cw->capPoints[k];
    *capCount = w;
}

// Two strip points on one edge line, each the end of its own strip there,
// become one: the second is moved onto the first and the weld joins them.
static void JoinPoints(BufModel *model, int32_t keep, int32_t moved)
{
    BufPoint *k = BufModelGetPoint(model, keep);
    BufPoint *m = BufModelGetPoint(model, moved);
    if (k && m && keep != moved)
        m->position = k->position;
}

// Closes the cap once its fan is re-shaped: the list of its points made
// simple, then added against the fan's sense (or, for a cap that would have
// no area, the end point put into the last quad).
static void CloseCap(CapWork *cw, BufModel *model, const LoopEnd *loopEnd, int capCount)
{
    // Cut edges between two that were not would send the cap out and back
    // to the end point: those are not cut either.
    UncutBetweenEnds(cw, model, &capCount);
    // Where edges were not cut the cap passes through the end point's one
    // copy, once.
    int kept = 0;
    for (int k = 0; k < capCount; k++) {
        if (kept == 0 || cw->capPoints[k] != cw->capPoints[kept - 1])
            cw->capPoints[kept++] = cw->capPoints[k];
    }
    while (kept > 1 && cw->capPoints[kept - 1] == cw->capPoints[0])
        kept--;
    capCount = kept;
    // A cap of the end point and the strip's two points on a straight line
    // (the end point on a straight border of a flat face, or a cylinder's
    // seam along the strip) would have no area: the last quad takes the end
    // point between those two instead. A strip of one pair has one quad for
    // both its ends, which the first end's cap has made five points long by
    // then: the second end's point goes into it all the same.
    if (capCount == 3 && cw->capPoints[1] == cw->endCopy && cw->endCopy >= 0 &&
        OnOneLine(model, cw->capPoints[0], cw->capPoints[1], cw->capPoints[2])) {
        const BufPoly *quad = BufModelGetPoly(model, loopEnd->lastQuad);
        if (!quad || quad->count < 4 || quad->count > 5)
            return;
        // The quad holds the edge from the last out point to the first in
        // point; the end point goes between them.
        int n = quad->count;
        for (int k = 0; k < n; k++) {
            if (quad->points[k] == cw->capPoints[2] && quad->points[(k + 1) % n] == cw->capPoints[0]) {
                int32_t more[6];
                for (int v = 0, w = 0; v < n; v++) {
                    more[w++] = quad->points[v];
                    if (v == k)
                        more[w++] = cw->endCopy;
                }
                BufModelSetPoly(model, nullptr, n + 1, more, loopEnd->lastQuad);
                break;
            }
        }
        return;
    }
    // The cap runs against the fan's sense.
    if (capCount > 2) {
        BufModelReverseRing(cw->capPoints, capCount);
        KeepCapPoly(cw, BufModelAddPoly(model, cw->capName, capCount, cw->capPoints));
    }
}

// The cap keeps L's name only while every fan polygon has the same.
static void KeepCapName(CapWork *cw, const char *surface)
{
    if (!surface || strcmp(cw->capName, surface) != 0)
        strcpy(cw->capName, kDefaultSurface);
}

// What the commit has built so far of the cap list and the fan.
struct FanBuilt {
    int capCount;
    int lastFan;        // the last re-shaped polygon, -1 after a kept one
    int lastOutSlot;    // where its out point is
    int32_t pendingIn;  // the in point of the next fan polygon, when known
};

// Another strip arm's points at the end point take the place of the fan's
// cuts there.
static void CommitArm(CapWork *cw, BufModel *model, const LoopEnd *loopEnd, const CapStep *step,
                      FanBuilt *built)
{
    int32_t p1 = step->arm[0];
    int32_t p2 = step->arm[1];
    if (built->capCount == 0) {
        JoinPoints(model, loopEnd->stripIn, p1);
        cw->capPoints[built->capCount++] = loopEnd->stripIn;
    } else if (built->pendingIn >= 0) {
        // Two arms side by side: their points on the edge line between
        // them become one.
        JoinPoints(model, built->pendingIn, p1);
    } else {
        cw->capPoints[built->capCount - 1] = p1;
        BufModelGetPoly(model, built->lastFan)->points[built->lastOutSlot] = p1;
    }
    cw->capPoints[built->capCount++] = p2;
    built->pendingIn = p2;
    if (step->reachesA) {
        JoinPoints(model, loopEnd->stripOut, p2);
        cw->capPoints[built->capCount - 1] = loopEnd->stripOut;
    }
}

// Re-shapes (or cuts again) one fan polygon: its points added in its
// list's order, the polygon, and its out point (the first one its in point
// too) on the cap list. 0 when the model refused an add.
static int CommitCut(CapWork *cw, EditContext *ctx, const LoopEnd *loopEnd, const CapPlane *plane,
                     const CapStep *step, FanBuilt *built)
{
    BufModel *model = ctx->model;
    const bool reshape = step->kind == STEP_RESHAPE;
    if (reshape)
        PairClaim(cw->work->claims, step->poly);
    const FanPoint *points = &cw->planPoints[step->first];
    for (int k = 0; k < step->length; k++) {
        int32_t q = points[k].model;
        if (q == FAN_POINT_HOST)
            q = CapAddHostPoint(ctx, points[k].host);
        else if (q == FAN_POINT_CUT)
            q = CapAddCutPoint(cw, ctx, plane, cw->end, points[k].host);
        if (q < 0)
            return 0;
        cw->fanPoints[k] = q;
    }
    int32_t in = cw->fanPoints[step->inSlot];
    int32_t out = cw->fanPoints[step->outSlot];
    // The fan begins at the strip's point on B's side; the cut made for it
    // stays unused.
    if (built->capCount == 0) {
        in = loopEnd->stripIn;
        cw->fanPoints[step->inSlot] = in;
    } else if (built->pendingIn >= 0) {
        cw->fanPoints[step->inSlot] = built->pendingIn;
        built->pendingIn = -1;
    }
    int poly = reshape ? BufModelAddPoly(model, step->surface, step->length, cw->fanPoints)
                       : BufModelSetPoly(model, nullptr, step->length, cw->fanPoints, step->recut);
    built->lastFan = poly;
    if (poly < 0)
        return 0;
    built->lastOutSlot = step->outSlot;
    if (reshape)
        PairClaimSetCopy(cw->work->claims, step->poly, poly, PAIR_COPY_CAP);
    cw->fanPolys[cw->fanCount++] = poly;
    KeepCapPoly(cw, poly);
    KeepCapName(cw, step->surface);
    if (built->capCount == 0)
        cw->capPoints[built->capCount++] = in;
    cw->capPoints[built->capCount++] = out;
    // A copy cut again was removed from the host with its first cut.
    if (reshape)
        ctx->services.edit->remPoly(ctx->services.edit->state, step->poly);
    if (step->reachesA) {
        // Back at A: the fan ends at the strip's point on A's side.
        cw->capPoints[built->capCount - 1] = loopEnd->stripOut;
        BufModelGetPoly(model, poly)->points[step->outSlot] = loopEnd->stripOut;
    }
    return 1;
}

// Builds the planned fan and closes its cap. The points and polygons come
// in the order the plan met them, so that their numbering is the plan's. A
// refused add stops it (the activation discards a full model).
static void CommitFan(CapWork *cw, EditContext *ctx, const LoopEnd *loopEnd, const CapPlane *plane, int steps)
{
    FanBuilt built = {0, -1, -1, -1};
    for (int s = 0; s < steps; s++) {
        const CapStep *step = &cw->steps[s];
        if (step->kind == STEP_ARM) {
            CommitArm(cw, ctx->model, loopEnd, step, &built);
        } else if (step->kind == STEP_KEEP) {
            int e = CapEndCopy(cw, ctx);
            if (e < 0)
                return;
            KeepCapName(cw, step->surface);
            cw->capPoints[built.capCount++] = e;
            built.lastFan = -1;
        } else if (!CommitCut(cw, ctx, loopEnd, plane, step, &built)) {
            return;
        }
    }
    CloseCap(cw, ctx->model, loopEnd, built.capCount);
}

void CapLoopEnd(PairWork *work, EditContext *ctx, int count, LWPolID *list, const LoopEnd *loopEnd)
{
    CapWork *cw = work->caps;
    CapPlane plane;
    LWPolID m = nullptr, polyA = nullptr, polyB = nullptr;
    if (!CapBeginFan(cw, ctx, count, list, loopEnd, &plane, &m, &polyA, &polyB))
        return;
    // The whole fan is planned before anything is built: a fan that cannot
    // be finished leaves the mesh as it was, where cutting part of it would
    // leave a hole no cap closes.
    int steps = CapPlanFan(cw, ctx, count, list, loopEnd, &plane, m, polyA, polyB);
    if (steps < 0) {
        ctx->fault = EDIT_FAULT_INTERNAL;
        return;
    }
    CommitFan(cw, ctx, loopEnd, &plane, steps);
}

CapWork *CapsBegin(const PairWork *work)
{
    CapWork *cw = (CapWork *)calloc(1, sizeof(CapWork));
    if (cw)
        cw->work = work;
    return cw;
}

void CapsEnd(CapWork *cw)
{
    free(cw);
}
