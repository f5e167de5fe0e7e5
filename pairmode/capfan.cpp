// The plan of a loop end cap: the fan of polygons about the end point, from
// B's side round to A's, each step decided (re-shape, cut again, keep the
// end point, step over another arm) before anything is built, so that a fan
// that does not fit leaves the model as it was.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "pairmode/capwork.h"
#include "pairmode/claims.h"

// The cap's name starts as L's. A name the buffer cannot hold is treated like
// a differing one: the cap is then named "Default".
static void StartCapName(CapWork *cw, const char *name)
{
    if (name && memchr(name, '\0', CAP_NAME_SIZE))
        strcpy(cw->capName, name);
    else
        strcpy(cw->capName, kDefaultSurface);
}

// The points before and after `end` in pts[0..n-1]; 0 when end is not there.
static int EndNeighbours(const LWPntID *pts, int n, LWPntID end, LWPntID *before, LWPntID *after)
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
static int FanList(const LWPntID *pts, int n, LWPntID end, FanPoint *list, int *inSlot, int *outSlot,
                   LWPntID *next)
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
                CapCutUsable(cw, ctx, plane, others[k]);
        }
    }
}

// Sets up the cap at the walk's end: its plane (the last quad's, through
// its vertex 0), name, end point, box and the strip's points there; finds
// the fan's first polygon m (across B's edge from the end point to W) and
// the last pair's polygons, and judges the fan's edges. 0 when the end
// cannot be capped.
int CapBeginFan(CapWork *cw, EditContext *ctx, int count, LWPolID *list, const LoopEnd *loopEnd,
                CapPlane *plane, LWPolID *m, LWPolID *polyA, LWPolID *polyB)
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

// Where the plan stands as it goes about the end point: what the commit
// will have built by then, as far as the plan's choices depend on it.
struct FanCursor {
    int capCount;    // points of the cap list
    int pendingIn;   // an arm's point on the edge line ahead takes the next in
    int lastFan;     // the last step re-shaped or cut a polygon (not kept one)
    int claims;      // polygons the plan will claim
    int pointsUsed;  // of planPoints
    int steps;
};

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

// Plans another strip arm that ends at `end` (m, holding its point p1
// there, and the next polygon): its two polygons are stepped over and their
// points take the place of the fan's cuts. 0 when it cannot be planned.
static int PlanArm(CapWork *cw, EditContext *ctx, int count, LWPolID *list, FanCursor *at, LWPolID *m, int p1)
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
    CapStep *step = &cw->steps[at->steps++];
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
static int PlanCut(CapWork *cw, EditContext *ctx, const CapPlane *plane, FanCursor *at, LWPolID m, int recut,
                   const BufPoly *copy, const HostPolygonInfo *info, LWPntID *next)
{
    CapStep *step = &cw->steps[at->steps];
    FanPoint *points = &cw->planPoints[at->pointsUsed];
    int n = (int)info->numPnts;
    step->inSlot = -1;
    step->outSlot = -1;
    int length = copy ? RecutList(ctx->model, copy, info->points, n, cw->end, points, &step->inSlot,
                                  &step->outSlot, next)
                      : FanList(info->points, n, cw->end, points, &step->inSlot, &step->outSlot, next);
    int capLength = at->capCount + (at->capCount == 0 ? 2 : 1);
    if (n < 3 || length < 3 || length > CAP_LIST_SIZE || capLength > CAP_LIST_SIZE)
        return 0;
    if (!copy && at->claims >= PairClaimsRoom(cw->work->claims))
        return 0;
    if (step->inSlot < 0 || step->outSlot < 0)
        return 0;
    for (int k = 0; k < length; k++) {
        if (points[k].model == FAN_POINT_CUT)
            CapCutUsable(cw, ctx, plane, points[k].host);
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
int CapPlanFan(CapWork *cw, EditContext *ctx, int count, LWPolID *list, const LoopEnd *loopEnd,
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
            !CapCutUsable(cw, ctx, plane, before) && !CapCutUsable(cw, ctx, plane, after)) {
            LWPolID beyond = FindPolyByEdge(ctx, cw->work->index, list, count, after, end);
            if (beyond && beyond != polyA && beyond != polyB && !PairClaimed(claims, beyond)) {
                if (at.capCount + 1 > CAP_LIST_SIZE)
                    return -1;
                CapStep *step = &cw->steps[at.steps++];
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
