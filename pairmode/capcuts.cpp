// The cuts of a loop end cap: where the plane of the last bridge quad meets
// each fan edge about the end point, whether such a cut can stand as a point
// of its own, and, once the bridge is built, the cuts given up again because
// the weld would join them to an end of their edge.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "pairmode/capwork.h"
#include "pairmode/claims.h"

// A copy of host point p that stands for it: never created at the flush.
int CapAddHostPoint(EditContext *ctx, LWPntID p)
{
    BufModel *model = ctx->model;
    Vec3 position = HostPointOrZero(ctx, p);
    int b = BufModelAddPoint(model, &position);
    if (b >= 0)
        BufModelGetPoint(model, b)->hostId = p;
    return b;
}

static double Distance(const Vec3 &a, const Vec3 &b)
{
    double d[3] = {a.x - b.x, a.y - b.y, a.z - b.z};
    return sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

static int JudgeCut(CapWork *cw, EditContext *ctx, const CapPlane *plane, LWPntID other, Vec3 *cut);

// Whether the fan edge from the end point to `other` is cut by the plane, or
// keeps the end point. Each edge is judged once per cap, so the two fan
// polygons about it agree.
int CapCutUsable(CapWork *cw, EditContext *ctx, const CapPlane *plane, LWPntID other)
{
    for (int k = 0; k < cw->judgedCount; k++) {
        if (cw->judged[k] == other)
            return cw->judgedUsable[k];
    }
    Vec3 cut;
    int usable = JudgeCut(cw, ctx, plane, other, &cut);
    if (cw->judgedCount < CAP_LIST_SIZE) {
        cw->judged[cw->judgedCount] = other;
        cw->judgedUsable[cw->judgedCount] = (uint8_t)usable;
        cw->judgedCut[cw->judgedCount] = cut;
        cw->judgedCount++;
    }
    return usable;
}

// Where x lies along the edge from pe to po: 0 at pe, 1 at po.
static double EdgeParameter(const Vec3 &x, const Vec3 &pe, const Vec3 &po)
{
    double d[3] = {po.x - pe.x, po.y - pe.y, po.z - pe.z};
    double u[3] = {x.x - pe.x, x.y - pe.y, x.z - pe.z};
    double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    return (u[0] * d[0] + u[1] * d[1] + u[2] * d[2]) / dd;
}

// Whether a cut at x, on the line from the end point pe through po, falls
// within the weld's reach of a point that is there already: an end of its
// edge, or, behind the end point, one of the strip's own points (a
// straight ridge through the end point).
static int LandsOnPoint(const Vec3 &x, const Vec3 &pe, const Vec3 &po, const Vec3 &stripIn,
                        const Vec3 &stripOut, double weld)
{
    if (!(Distance(x, pe) > weld && Distance(x, po) > weld))
        return 1;
    return EdgeParameter(x, pe, po) < 0.0 && (Distance(x, stripIn) <= weld || Distance(x, stripOut) <= weld);
}

// A cut is not made where it cannot land as a point of its own: where the
// plane holds the end point (two coplanar polygons chamfered on a flat face)
// or the edge, a cut would fall on one of the edge's ends and be welded into
// it, leaving a polygon through one point twice; where the plane runs almost
// along the edge, the cut lands so far off that the weld, which grows with
// the box of all points, would join every new point. Off its edge a cut may
// also fall on the strip's own points or on another edge's cut, where two
// fan edges lie on one line through the end point. A cut a little off its
// edge (a curved surface) is made as it always was.
static int JudgeCut(CapWork *cw, EditContext *ctx, const CapPlane *plane, LWPntID other, Vec3 *cut)
{
    Vec3 pe = HostPointOrZero(ctx, cw->end);
    Vec3 po = HostPointOrZero(ctx, other);
    Vec3 x = LinePlaneIntersect(plane->point, plane->normal, pe, po);
    *cut = x;
    double t = EdgeParameter(x, pe, po);
    double weld = BufModelWeldReach(cw->boxMin, cw->boxMax);
    if (LandsOnPoint(x, pe, po, cw->stripIn, cw->stripOut, weld))
        return 0;
    // Off its edge, the cut may fall where another fan edge's line was cut
    // already (two edges on one line through the end point).
    if (!(t > 0.0 && t < 1.0)) {
        for (int k = 0; k < cw->judgedCount; k++) {
            if (cw->judgedUsable[k] && Distance(x, cw->judgedCut[k]) <= weld)
                return 0;
        }
    }
    // 4096 edge lengths off: the weld would reach a sixteenth of the edge.
    return t > -4096.0 && t < 4096.0;
}

// The copy of the end point that stands where a fan edge is not cut.
int CapEndCopy(CapWork *cw, EditContext *ctx)
{
    if (cw->endCopy < 0)
        cw->endCopy = CapAddHostPoint(ctx, cw->end);
    return cw->endCopy;
}

// A new point where the line through the host points c and e, one of them
// the end point, meets the plane; the end point's copy where that edge is not
// cut.
int CapAddCutPoint(CapWork *cw, EditContext *ctx, const CapPlane *plane, LWPntID c, LWPntID e)
{
    BufModel *model = ctx->model;
    LWPntID other = c == cw->end ? e : c;
    if (!CapCutUsable(cw, ctx, plane, other))
        return CapEndCopy(cw, ctx);
    Vec3 pc = HostPointOrZero(ctx, cw->end);
    Vec3 pe = HostPointOrZero(ctx, other);
    Vec3 x = LinePlaneIntersect(plane->point, plane->normal, pc, pe);
    int b = BufModelAddPoint(model, &x);
    if (b >= 0 && cw->madeCutCount < SETTLE_CUTS)
        cw->madeCuts[cw->madeCutCount++] = {b, cw->end, other, cw->stripIn, cw->stripOut};
    else if (b >= 0)
        cw->settleOverflow = 1;
    return b;
}

// The caps judged their cuts against the weld the box gave as each began;
// the points added after them (the other walk, the other cap, a cap's own
// cuts) can only widen the box, and the flush welds with that wider reach.
// A cut it would join to an end of its edge lands on that point after all
// and leaves a polygon through one point twice: such a cut is given up now,
// as it would have been had the cap seen the final box, and the polygons
// holding it take the end point there (once) instead. Where no cut is
// reached, nothing changes.
void CapsSettle(CapWork *cw, EditContext *ctx)
{
    BufModel *model = ctx->model;
    if (cw->settleOverflow || cw->madeCutCount == 0)
        return;
    double weld = BufModelWeldReach(model->boxMin, model->boxMax);
    for (int c = 0; c < cw->madeCutCount; c++) {
        const MadeCut &cut = cw->madeCuts[c];
        const BufPoint *p = BufModelGetPoint(model, cut.point);
        if (!p || !LandsOnPoint(p->position, HostPointOrZero(ctx, cut.end), HostPointOrZero(ctx, cut.other),
                                cut.stripIn, cut.stripOut, weld))
            continue;
        cw->end = cut.end;
        cw->endCopy = -1;
        for (int k = 0; k < cw->capPolyCount; k++) {
            const BufPoly *poly = BufModelGetPoly(model, cw->capPolys[k]);
            if (!poly || poly->count > CAP_LIST_SIZE)
                continue;
            int held = 0;
            for (int v = 0; v < poly->count; v++)
                held |= poly->points[v] == cut.point;
            if (!held)
                continue;
            int e = CapEndCopy(cw, ctx);
            if (e < 0)
                return;
            // The end point where the cut was, once where it comes twice in
            // a row: a point standing for the end point counts as it.
            int32_t pts[CAP_LIST_SIZE];
            int n = 0;
            for (int v = 0; v < poly->count; v++) {
                int32_t q = poly->points[v] == cut.point ? e : poly->points[v];
                const BufPoint *at = BufModelGetPoint(model, q);
                if (at && at->hostId == cut.end)
                    q = e;
                if (n == 0 || pts[n - 1] != q)
                    pts[n++] = q;
            }
            while (n > 1 && pts[n - 1] == pts[0])
                n--;
            if (n >= 3)
                BufModelSetPoly(model, nullptr, n, pts, cw->capPolys[k]);
        }
    }
}
