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

#include "pairmode/claims.h"
#include "pairmode/pairmode.h"
#include "context/context.h"

enum { CAP_LIST_SIZE = 255, CAP_NAME_SIZE = 256 };
// Over one bridge: every cut the caps made, with its edge, and every polygon
// they made or re-shaped, so that the cuts can be judged again against the
// weld the flush will use (see CapsSettle).
enum { SETTLE_CUTS = 4 * CAP_LIST_SIZE, SETTLE_POLYS = 2 * CAP_LIST_SIZE };
struct MadeCut {
    int32_t point;
    LWPntID end;
    LWPntID other;
    Vec3 stripIn;  // the strip's points at the end of the cap that made it
    Vec3 stripOut;
};

// A point of a fan polygon's planned list: a point the output model holds
// already, or one still to add there, the copy of a host point or the cut
// on the fan edge from the end point to a host point.
enum { FAN_POINT_HOST = -1, FAN_POINT_CUT = -2 };
struct FanPoint {
    LWPntID host;
    int32_t model;  // the model's point, or FAN_POINT_HOST / FAN_POINT_CUT
};

// One step of a cap's fan about the end point, planned before anything is
// built: a host polygon re-shaped into a copy of its own (claimed, removed
// from the host), a copy cut again, a polygon that keeps the end point, or
// another strip arm that ends there (its two polygons stepped over).
enum { STEP_RESHAPE, STEP_RECUT, STEP_KEEP, STEP_ARM };
struct FanStep {
    int kind;
    LWPolID poly;
    const char *surface;
    int recut;         // STEP_RECUT: the copy cut again
    int32_t arm[2];    // STEP_ARM: the arm's points at the end point, B's side first
    int first;         // STEP_RESHAPE, STEP_RECUT: the list in planPoints
    int length;
    int inSlot;
    int outSlot;
    int reachesA;      // the fan is back at A after this step
};

// The caps' working storage, made by CapsBegin for one bridge: fixed lists,
// not allocated per cap. A fan polygon or a fan that does not fit ends the
// cap before anything is built for it.
struct CapWork {
    const PairWork *work;  // the bridge's index and claims
    int32_t fanPoints[CAP_LIST_SIZE];
    int32_t capPoints[CAP_LIST_SIZE];
    char capName[CAP_NAME_SIZE];
    // The fan's plan: its steps, and their point lists one after another.
    FanStep steps[CAP_LIST_SIZE];
    FanPoint planPoints[CAP_LIST_SIZE * CAP_LIST_SIZE];
    // The one copy of the end point a cap uses where a fan edge is not cut,
    // or -1 until one is needed.
    int32_t endCopy;
    LWPntID end;
    // The output model's box as the cap began: the cuts of one cap are all
    // judged against it, so that the points the cap adds change no decision.
    Vec3 boxMin;
    Vec3 boxMax;
    // Where the strip's two points at the end point lie.
    Vec3 stripIn;
    Vec3 stripOut;
    // The fan edges judged so far in this cap, by their point other than the
    // end point, with the answer and the cut: each edge is judged once.
    LWPntID judged[CAP_LIST_SIZE];
    uint8_t judgedUsable[CAP_LIST_SIZE];
    Vec3 judgedCut[CAP_LIST_SIZE];
    int judgedCount;
    // The fan polygons this cap re-shaped, by their index in the output model.
    int32_t fanPolys[CAP_LIST_SIZE];
    int fanCount;
    // Over the bridge: what the caps made.
    MadeCut madeCuts[SETTLE_CUTS];
    int madeCutCount;
    int32_t capPolys[SETTLE_POLYS];
    int capPolyCount;
    int settleOverflow;
};

static const char kDefaultSurface[] = "Default";

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

struct CapPlane {
    Vec3 point;
    Vec3 normal;
};


// The cap's name starts as L's. A name the buffer cannot hold is treated like
// a differing one: the cap is then named "Default".
static void StartCapName(CapWork *cw, const char *name)
{
    if (name && memchr(name, '\0', CAP_NAME_SIZE))
        strcpy(cw->capName, name);
    else
        strcpy(cw->capName, kDefaultSurface);
}

// A copy of host point p that stands for it: never created at the flush.
static int AddHostPoint(EditContext *ctx, LWPntID p)
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
static int CutUsable(CapWork *cw, EditContext *ctx, const CapPlane *plane, LWPntID other)
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
    return EdgeParameter(x, pe, po) < 0.0 &&
           (Distance(x, stripIn) <= weld || Distance(x, stripOut) <= weld);
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
static int EndCopy(CapWork *cw, EditContext *ctx)
{
    if (cw->endCopy < 0)
        cw->endCopy = AddHostPoint(ctx, cw->end);
    return cw->endCopy;
}

// A new point where the line through the host points c and e, one of them
// the end point, meets the plane; the end point's copy where that edge is not
// cut.
static int AddCutPoint(CapWork *cw, EditContext *ctx, const CapPlane *plane, LWPntID c, LWPntID e)
{
    BufModel *model = ctx->model;
    LWPntID other = c == cw->end ? e : c;
    if (!CutUsable(cw, ctx, plane, other))
        return EndCopy(cw, ctx);
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
    double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                   u[0] * v[1] - u[1] * v[0]};
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
    return a->position.x == b->position.x && a->position.y == b->position.y &&
           a->position.z == b->position.z;
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

// The points before and after `end` in pts[0..n-1]; 0 when end is not there.
static int EndNeighbours(const LWPntID *pts, int n, LWPntID end, LWPntID *before,
                         LWPntID *after)
{
    for (int k = 0; k < n; k++) {
        if (pts[k] == end) {
            *before = pts[(k + n - 1) % n];
            *after = pts[(k + 1) % n];
            return 1;
        }
    }
    return 0;
}


// Writes within the list's room; a list past it is only measured.
static void PutFanPoint(FanPoint *list, int at, LWPntID host, int32_t model)
{
    if (at < CAP_LIST_SIZE)
        list[at] = {host, model};
}

// The fan point list of a polygon with points pts[0..n-1]: its points with
// `end` replaced by in and out, at *inSlot and *outSlot (left as they were
// where end is not there). Returns the length. *next: the polygon's point
// after end.
static int FanList(const LWPntID *pts, int n, LWPntID end, FanPoint *list, int *inSlot,
                   int *outSlot, LWPntID *next)
{
    int length = 0;
    int k = 0;
    while (k < n) {
        LWPntID p = pts[k];
        LWPntID p1 = pts[(k + 1) % n];
        if (p == end) {
            // Only when end is point 0: its `in` comes with the last point.
            *outSlot = length;
            PutFanPoint(list, length++, p1, FAN_POINT_CUT);
            *next = p1;
            k += 1;
        } else if (p1 == end) {
            LWPntID p2 = pts[(k + 2) % n];
            PutFanPoint(list, length++, p, FAN_POINT_HOST);
            *inSlot = length;
            PutFanPoint(list, length++, p, FAN_POINT_CUT);
            if (end != pts[0]) {
                *outSlot = length;
                PutFanPoint(list, length++, p2, FAN_POINT_CUT);
            }
            *next = p2;
            k += 2;
        } else {
            PutFanPoint(list, length++, p, FAN_POINT_HOST);
            k += 1;
        }
    }
    return length;
}

// The fan point list of a polygon taken over already, from its copy (a cap's
// re-shaped one, or a strip's that still stands on the host's point at
// `end`; over host points pts[0..n-1]): the copy's list with the point
// standing for `end` replaced by in and out, cut on the host's edges at end.
// -1 when the copy holds no point for end.
static int RecutList(BufModel *model, const BufPoly *copy, const LWPntID *pts, int n, LWPntID end,
                     FanPoint *list, int *inSlot, int *outSlot, LWPntID *next)
{
    int k = 0;
    while (k < n && pts[k] != end)
        k++;
    if (k == n)
        return -1;
    LWPntID before = pts[(k + n - 1) % n];
    LWPntID after = pts[(k + 1) % n];
    *next = after;
    int length = 0;
    int found = 0;
    for (int v = 0; v < copy->count; v++) {
        int32_t q = copy->points[v];
        const BufPoint *point = BufModelGetPoint(model, q);
        if (!found && point && point->hostId == end) {
            found = 1;
            *inSlot = length;
            PutFanPoint(list, length++, before, FAN_POINT_CUT);
            *outSlot = length;
            PutFanPoint(list, length++, after, FAN_POINT_CUT);
        } else {
            PutFanPoint(list, length++, nullptr, q);
        }
    }
    return found ? length : -1;
}

// The point of a strip copy `poly` (of host polygon `id`) at `end`: its own
// buffered point there when the strip moved it, -2 when the copy still
// stands on the host's point, -1 when it cannot be told.
static int StripPointAt(EditContext *ctx, LWPolID id, int poly, LWPntID end)
{
    BufModel *model = ctx->model;
    const HostPolygonInfo *info = HostPolyInfo(ctx, id);
    const BufPoly *copy = BufModelGetPoly(model, poly);
    if (!info || !copy || copy->count != (int)info->numPnts)
        return -1;
    for (int k = 0; k < copy->count; k++) {
        if (info->points[k] != end)
            continue;
        const BufPoint *p = BufModelGetPoint(model, copy->points[k]);
        if (!p)
            return -1;
        return p->hostId == end ? -2 : copy->points[k];
    }
    return -1;
}

// The point that follows `end` in host polygon `id`, or none.
static LWPntID PointAfter(EditContext *ctx, LWPolID id, LWPntID end)
{
    const HostPolygonInfo *info = HostPolyInfo(ctx, id);
    if (!info)
        return nullptr;
    int n = (int)info->numPnts;
    for (int k = 0; k < n; k++) {
        if (info->points[k] == end)
            return info->points[(k + 1) % n];
    }
    return nullptr;
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

// W: the point that follows end in h, which holds prev -> end. 0 if none.
static LWPntID PointAfterEdge(const HostPolygonInfo *h, LWPntID prev, LWPntID end)
{
    int n = (int)h->numPnts;
    for (int k = 0; k < n; k++) {
        if (h->points[k] == prev && h->points[(k + 1) % n] == end)
            return h->points[(k + 2) % n];
    }
    return nullptr;
}

// Judges the fan's edges at the end point before any is cut: first those
// the plane crosses between their ends, then the others, so that a cut off
// its edge is tested against every cut on an edge of the same line. The
// walk goes about the end point as the cap does, from B's edge (W to the
// end point) on, and stops where the cap would or at a polygon taken over.
static void JudgeFanEdges(CapWork *cw, EditContext *ctx, int count, LWPolID *list, const CapPlane *plane,
                          LWPntID w, LWPolID m, LWPolID polyA, LWPolID polyB)
{
    LWPntID others[CAP_LIST_SIZE];
    int n = 0;
    others[n++] = w;
    const PairClaims *claims = cw->work->claims;
    while (m && m != polyA && m != polyB && !PairClaimed(claims, m) && n < CAP_LIST_SIZE) {
        LWPntID after = PointAfter(ctx, m, cw->end);
        if (!after)
            break;
        others[n++] = after;
        m = FindPolyByEdge(ctx, cw->work->index, list, count, after, cw->end);
    }
    if (n < 3)
        return;  // no edge off the strip's two
    Vec3 pe = HostPointOrZero(ctx, cw->end);
    for (int pass = 0; pass < 2; pass++) {
        for (int k = 0; k < n; k++) {
            Vec3 po = HostPointOrZero(ctx, others[k]);
            Vec3 x = LinePlaneIntersect(plane->point, plane->normal, pe, po);
            double d[3] = {po.x - pe.x, po.y - pe.y, po.z - pe.z};
            double t = ((x.x - pe.x) * d[0] + (x.y - pe.y) * d[1] + (x.z - pe.z) * d[2]) /
                       (d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            if ((t > 0.0 && t < 1.0) == (pass == 0))
                CutUsable(cw, ctx, plane, others[k]);
        }
    }
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

// Sets up the cap at the walk's end: its plane (the last quad's, through
// its vertex 0), name, end point, box and the strip's points there; finds
// the fan's first polygon m (across B's edge from the end point to W) and
// the last pair's polygons, and judges the fan's edges. 0 when the end
// cannot be capped.
static int BeginCap(CapWork *cw, EditContext *ctx, int count, LWPolID *list,
                    const LoopEnd *loopEnd, CapPlane *plane, LWPolID *m, LWPolID *polyA,
                    LWPolID *polyB)
{
    BufModel *model = ctx->model;
    LWPntID prev = loopEnd->prev;
    LWPntID end = loopEnd->end;
    const BufPoly *last = BufModelGetPoly(model, loopEnd->lastQuad);
    if (!last)
        return 0;
    plane->point = BufModelGetPoint(model, last->points[0])->position;
    plane->normal = last->normal;
    StartCapName(cw, last->surface);
    cw->end = end;
    cw->endCopy = -1;
    cw->judgedCount = 0;
    cw->fanCount = 0;
    cw->boxMin = model->boxMin;
    cw->boxMax = model->boxMax;
    const BufPoint *stripIn = BufModelGetPoint(model, loopEnd->stripIn);
    const BufPoint *stripOut = BufModelGetPoint(model, loopEnd->stripOut);
    if (!stripIn || !stripOut)
        return 0;
    cw->stripIn = stripIn->position;
    cw->stripOut = stripOut->position;

    // H is the B polygon of the last pair.
    LWPolID h = FindPolyByEdge(ctx, cw->work->index, list, count, prev, end);
    if (!h)
        return 0;
    const HostPolygonInfo *info = HostPolyInfo(ctx, h);
    if (!info)
        return 0;
    LWPntID w = PointAfterEdge(info, prev, end);
    if (!w)
        return 0;

    // The first fan polygon, across B's edge from end to W.
    *m = FindPolyByEdge(ctx, cw->work->index, list, count, w, end);
    if (!*m)
        return 0;
    *polyA = FindPolyByEdge(ctx, cw->work->index, list, count, end, prev);
    *polyB = h;
    JudgeFanEdges(cw, ctx, count, list, plane, w, *m, *polyA, *polyB);
    return 1;
}

// Whether the plan's first `steps` steps visit `m`: a fan that comes round
// to one of its own polygons again would cut it twice and never close.
static int Planned(const CapWork *cw, int steps, LWPolID m)
{
    for (int k = 0; k < steps; k++) {
        if (cw->steps[k].poly == m)
            return 1;
    }
    return 0;
}

// Where the plan stands as it goes about the end point: what the commit
// will have built by then, as far as the plan's choices depend on it.
struct FanCursor {
    int capCount;     // points of the cap list
    int pendingIn;    // an arm's point on the edge line ahead takes the next in
    int lastFan;      // the last step re-shaped or cut a polygon (not kept one)
    int claims;       // polygons the plan will claim
    int pointsUsed;   // of planPoints
    int steps;
};

// Plans another strip arm that ends at `end` (m, holding its point p1
// there, and the next polygon): its two polygons are stepped over and their
// points take the place of the fan's cuts. 0 when it cannot be planned.
static int PlanArm(CapWork *cw, EditContext *ctx, int count, LWPolID *list, FanCursor *at,
                   LWPolID *m, int p1)
{
    LWPntID end = cw->end;
    LWPntID z = PointAfter(ctx, *m, end);
    LWPolID s2 = z ? FindPolyByEdge(ctx, cw->work->index, list, count, z, end) : nullptr;
    const PairClaims *claims = cw->work->claims;
    int kind2 = 0;
    int copy2 = s2 && PairClaimed(claims, s2) ? PairClaimCopy(claims, s2, &kind2) : -1;
    int p2 = kind2 == PAIR_COPY_STRIP ? StripPointAt(ctx, s2, copy2, end) : -1;
    if (p2 < 0 || at->capCount + 3 > CAP_LIST_SIZE)
        return 0;
    if (at->capCount > 0 && !at->pendingIn && !at->lastFan)
        return 0;
    FanStep *step = &cw->steps[at->steps++];
    step->kind = STEP_ARM;
    step->poly = *m;
    step->arm[0] = p1;
    step->arm[1] = p2;
    at->capCount += at->capCount == 0 ? 2 : 1;
    at->pendingIn = 1;
    LWPntID after = PointAfter(ctx, s2, end);
    *m = after ? FindPolyByEdge(ctx, cw->work->index, list, count, after, end) : nullptr;
    return 1;
}

// Plans the re-shape (or, with `copy`, the cut again) of fan polygon m over
// host points pts[0..n-1]: its point list with the end point replaced, and
// the judgement of each of its cuts, in the order the commit adds them.
// 0 when it cannot be planned.
static int PlanCut(CapWork *cw, EditContext *ctx, const CapPlane *plane, FanCursor *at, LWPolID m,
                   int recut, const BufPoly *copy, const HostPolygonInfo *info, LWPntID *next)
{
    FanStep *step = &cw->steps[at->steps];
    FanPoint *points = &cw->planPoints[at->pointsUsed];
    int n = (int)info->numPnts;
    step->inSlot = -1;
    step->outSlot = -1;
    int length = copy ? RecutList(ctx->model, copy, info->points, n, cw->end, points, &step->inSlot,
                                  &step->outSlot, next)
                      : FanList(info->points, n, cw->end, points, &step->inSlot, &step->outSlot,
                                next);
    int capLength = at->capCount + (at->capCount == 0 ? 2 : 1);
    if (n < 3 || length < 3 || length > CAP_LIST_SIZE || capLength > CAP_LIST_SIZE)
        return 0;
    if (!copy && at->claims >= PairClaimsRoom(cw->work->claims))
        return 0;
    if (step->inSlot < 0 || step->outSlot < 0)
        return 0;
    for (int k = 0; k < length; k++) {
        if (points[k].model == FAN_POINT_CUT)
            CutUsable(cw, ctx, plane, points[k].host);
    }
    step->kind = copy ? STEP_RECUT : STEP_RESHAPE;
    step->poly = m;
    step->surface = info->surface;
    step->recut = recut;
    step->first = at->pointsUsed;
    step->length = length;
    at->pointsUsed += length;
    at->steps++;
    at->claims += copy ? 0 : 1;
    at->capCount = capLength;
    at->pendingIn = 0;
    at->lastFan = 1;
    return 1;
}

// Plans the fan from its first polygon m on, until it is back at the last
// pair (A or B) or at a border. Reads the host mesh and the copies; adds,
// claims and removes nothing. The number of steps, or -1 when the fan
// cannot be finished.
static int PlanFan(CapWork *cw, EditContext *ctx, int count, LWPolID *list, const LoopEnd *loopEnd,
                   const CapPlane *plane, LWPolID m, LWPolID polyA, LWPolID polyB)
{
    LWPntID end = loopEnd->end;
    const PairClaims *claims = cw->work->claims;
    FanCursor at = {0, 0, 0, 0, 0, 0};
    for (;;) {
        if (at.steps == CAP_LIST_SIZE || Planned(cw, at.steps, m))
            return -1;
        // A polygon taken over before: cut again in its copy when a cap made
        // it, or a strip whose copy no walk reads again; stepped over, with
        // its partner, where another strip arm ends at `end` too.
        int kind = 0;
        int recut = PairClaimed(claims, m) ? PairClaimCopy(claims, m, &kind) : -1;
        if (PairClaimed(claims, m) && recut < 0)
            return -1;
        if (kind == PAIR_COPY_STRIP) {
            int p1 = StripPointAt(ctx, m, recut, end);
            if ((p1 == -2 && !loopEnd->mayCutStrips) || p1 == -1)
                return -1;
            if (p1 >= 0) {
                if (!PlanArm(cw, ctx, count, list, &at, &m, p1))
                    return -1;
                cw->steps[at.steps - 1].reachesA = m == polyA;
                if (m == polyA || m == polyB || !m)
                    return at.steps;
                continue;
            }
        }
        const HostPolygonInfo *info = HostPolyInfo(ctx, m);
        if (!info)
            return -1;
        const BufPoly *copy = recut >= 0 ? BufModelGetPoly(ctx->model, recut) : nullptr;
        if (recut >= 0 && !copy)
            return -1;
        // A polygon inside the fan that the plane cuts on neither edge at the
        // end point keeps its point: it stays as it is, and the cap passes
        // through the end point there. The fan's first and last polygons
        // border the strip and are always re-shaped.
        LWPntID before = nullptr, after = nullptr;
        if (at.capCount > 0 && !at.pendingIn &&
            EndNeighbours(info->points, (int)info->numPnts, end, &before, &after) &&
            !CutUsable(cw, ctx, plane, before) && !CutUsable(cw, ctx, plane, after)) {
            LWPolID beyond = FindPolyByEdge(ctx, cw->work->index, list, count, after, end);
            if (beyond && beyond != polyA && beyond != polyB && !PairClaimed(claims, beyond)) {
                if (at.capCount + 1 > CAP_LIST_SIZE)
                    return -1;
                FanStep *step = &cw->steps[at.steps++];
                step->kind = STEP_KEEP;
                step->poly = m;
                step->surface = info->surface;
                step->reachesA = 0;
                at.capCount++;
                at.lastFan = 0;
                m = beyond;
                continue;
            }
        }
        LWPntID next = nullptr;
        if (!PlanCut(cw, ctx, plane, &at, m, recut, copy, info, &next))
            return -1;
        m = FindPolyByEdge(ctx, cw->work->index, list, count, next, end);
        cw->steps[at.steps - 1].reachesA = m == polyA;
        if (m == polyA || m == polyB || !m)
            return at.steps;
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
    int lastFan;      // the last re-shaped polygon, -1 after a kept one
    int lastOutSlot;  // where its out point is
    int32_t pendingIn;  // the in point of the next fan polygon, when known
};

// Another strip arm's points at the end point take the place of the fan's
// cuts there.
static void CommitArm(CapWork *cw, BufModel *model, const LoopEnd *loopEnd, const FanStep *step,
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
                     const FanStep *step, FanBuilt *built)
{
    BufModel *model = ctx->model;
    const bool reshape = step->kind == STEP_RESHAPE;
    if (reshape)
        PairClaim(cw->work->claims, step->poly);
    const FanPoint *points = &cw->planPoints[step->first];
    for (int k = 0; k < step->length; k++) {
        int32_t q = points[k].model;
        if (q == FAN_POINT_HOST)
            q = AddHostPoint(ctx, points[k].host);
        else if (q == FAN_POINT_CUT)
            q = AddCutPoint(cw, ctx, plane, cw->end, points[k].host);
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
static void CommitFan(CapWork *cw, EditContext *ctx, const LoopEnd *loopEnd, const CapPlane *plane,
                      int steps)
{
    FanBuilt built = {0, -1, -1, -1};
    for (int s = 0; s < steps; s++) {
        const FanStep *step = &cw->steps[s];
        if (step->kind == STEP_ARM) {
            CommitArm(cw, ctx->model, loopEnd, step, &built);
        } else if (step->kind == STEP_KEEP) {
            int e = EndCopy(cw, ctx);
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
    if (!BeginCap(cw, ctx, count, list, loopEnd, &plane, &m, &polyA, &polyB))
        return;
    // The whole fan is planned before anything is built: a fan that cannot
    // be finished leaves the mesh as it was, where cutting part of it would
    // leave a hole no cap closes.
    int steps = PlanFan(cw, ctx, count, list, loopEnd, &plane, m, polyA, polyB);
    if (steps < 0) {
        ctx->fault = EDIT_FAULT_INTERNAL;
        return;
    }
    CommitFan(cw, ctx, loopEnd, &plane, steps);
}

int CapMeetsSelectedCopy(const PairWork *work, EditContext *ctx, int count, LWPolID *list,
                         const LoopEnd *loopEnd)
{
    LWPolID h = FindPolyByEdge(ctx, work->index, list, count, loopEnd->prev, loopEnd->end);
    const HostPolygonInfo *info = h ? HostPolyInfo(ctx, h) : nullptr;
    LWPntID w = info ? PointAfterEdge(info, loopEnd->prev, loopEnd->end) : nullptr;
    if (!w)
        return 0;
    LWPolID polyA = FindPolyByEdge(ctx, work->index, list, count, loopEnd->end, loopEnd->prev);
    LWPolID m = FindPolyByEdge(ctx, work->index, list, count, w, loopEnd->end);
    // Bounded like the cap's own lists: a fan it could not hold is never cut.
    for (int k = 0; k < CAP_LIST_SIZE && m && m != polyA && m != h; k++) {
        if (m == list[0] || m == list[1]) {
            int kind = 0;
            int copy = PairClaimCopy(work->claims, m, &kind);
            return kind == PAIR_COPY_STRIP && StripPointAt(ctx, m, copy, loopEnd->end) == -2;
        }
        LWPntID after = PointAfter(ctx, m, loopEnd->end);
        m = after ? FindPolyByEdge(ctx, work->index, list, count, after, loopEnd->end) : nullptr;
    }
    return 0;
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
        if (!p || !LandsOnPoint(p->position, HostPointOrZero(ctx, cut.end),
                                HostPointOrZero(ctx, cut.other), cut.stripIn, cut.stripOut,
                                weld))
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
            int e = EndCopy(cw, ctx);
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
