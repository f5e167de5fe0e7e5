// Oracle for the corner patches (objectmode/patches.cpp), from what the pass
// must leave, each question answered by a scan of all m records.
//
// After the strips, the copies of a source point P in the polygons about it
// have moved apart. A walk about P goes from each polygon to the next across
// the polygon's record leaving P (to that record's reverse, which arrives at
// P in the next polygon) and gathers each polygon's copy of P; the copies,
// in the opposite order, make the patch, so that on a consistently wound
// mesh it is wound as its neighbours are.
//
//              \   polygon J  /
//     reverse    \  (copy cJ) /
//     (B -> P)    \          /
//   ---------------P--------------    `out` leaves P in polygon I (P -> B);
//   polygon I     / \   polygon K     its reverse arrives at P in J: the
//   (copy cI)    /   \  (copy cK)     walk goes from cI to cJ.
//
// Plain corners (no angle test) get a patch only where the walk met
// chamfered records all round; with the angle test the walk also crosses
// unchamfered edges and trims the polygons that still have their corner at
// P with the patch's plane. The module departs from that walk in these
// places, and so does the oracle (each is named where it applies):
// - unlinked records: a record an aborted link pass left without neighbours
//   ends the walk without a patch;
// - circling: a walk that takes more idle steps in a row than there are
//   records, or (with the angle test) comes back to a copy it stood at while
//   idle, ends without a patch;
// - full ring: a ring that reaches the point count shows the error once
//   per pass and is patched without a surface name;
// - near copies: before the plane exists, an unchamfered edge is crossed
//   only where the next copy lies within the weld's reach of the last one;
// - one cut per walk: a polygon is trimmed by a walk's plane once;
// - tangled corners: where an edge at P is crowded, or the walk closes
//   before it met every polygon about P, P is closed fan by fan
//   (CloseTangledPoint);
// - border fans: fans that run from one border edge to another, covering
//   every polygon about P, are closed whole (CloseBorderFan);
// - mixed corners: with the angle test, an inner point with chamfered and
//   unchamfered edges is closed from its whole fan (CloseMixedCorner);
// - lobes: a ring that comes back to a point the weld makes one is added as
//   one polygon per lobe (AddPatchPolygons).
#include <stdlib.h>
#include <string.h>

#include "context/context.h"
#include "objectmode/objectmode.h"
#include "tests/reference/reference.h"

namespace {

struct Oracle {
    EditContext *ctx;
    int m;
    const LineInfo *edges;
    int points;      // p: a ring of p entries is full
    int32_t *ring;   // room for max(p, 3) entries
    int32_t *patch;  // the ring reversed, as much room
    int room;
    int warned;  // the full-ring error was shown
    int32_t polysAtStart;
    int32_t *cutThisWalk;  // the polygons the current walk trimmed
    int cuts;
    FanStep *fan;  // room for m steps
    int32_t *out;  // the records leaving P, array order
    int nOut;
    int32_t *in;  // the records arriving at P from P's neighbours
    int nIn;
};

}  // namespace

static int Linked(const LineInfo *r)
{
    return r->prevVertex != -1 && r->nextVertex != -1;
}

static int SameName(const char *a, const char *b)
{
    return a != nullptr && b != nullptr && strcmp(a, b) == 0;
}

// s runs the way back along r's edge.
static int Opposes(const LineInfo *s, const LineInfo *r)
{
    return s->hostB == r->hostA && s->hostA == r->hostB;
}

const LineInfo *FindDoneReverse(const LineInfo *edges, int m, const LineInfo *r)
{
    int i = 0;
    while (i < m && !(edges[i].done && Opposes(&edges[i], r)))
        i++;
    return i < m ? &edges[i] : nullptr;
}

// A reverse that ends on r's own copy is the other side of a slit the
// strips stitched shut, not a step into another polygon: passed over.
const LineInfo *FindReverse(const LineInfo *edges, int m, const LineInfo *r)
{
    int i = 0;
    while (i < m && !(Opposes(&edges[i], r) && edges[i].pointB != r->pointA))
        i++;
    return i < m ? &edges[i] : nullptr;
}

static const LineInfo *Reverse(const Oracle *o, const LineInfo *r)
{
    return FindReverse(o->edges, o->m, r);
}

// The record leaving P from the copy `copy`: the polygon holding that copy
// runs away from P along it.
static const LineInfo *OutOf(const Oracle *o, LWPntID p, int32_t copy)
{
    int i = 0;
    while (i < o->m && !(o->edges[i].hostA == p && o->edges[i].pointA == copy))
        i++;
    return i < o->m ? &o->edges[i] : nullptr;
}

static int CountRunning(const Oracle *o, LWPntID from, LWPntID to)
{
    int n = 0;
    for (int i = 0; i < o->m; i++)
        n += o->edges[i].hostA == from && o->edges[i].hostB == to;
    return n;
}

// One record runs from `from` to `to` and none runs back: an open border.
static int Border(const Oracle *o, LWPntID from, LWPntID to)
{
    return CountRunning(o, to, from) == 0 && CountRunning(o, from, to) == 1;
}

static int LeaveAndBackAgree(const LineInfo *leave, const LineInfo *back)
{
    return back != nullptr && Linked(back) && (leave->done != 0) == (back->done != 0);
}

// ---- what lies about P ----------------------------------------------------

// The records leaving P, and, in array order, the records arriving at P
// from a point that comes after or before P in one of those polygons.
static void Survey(Oracle *o, LWPntID p)
{
    o->nOut = 0;
    o->nIn = 0;
    for (int i = 0; i < o->m; i++) {
        if (o->edges[i].hostA == p)
            o->out[o->nOut++] = i;
    }
    for (int i = 0; i < o->m; i++) {
        const LineInfo *r = &o->edges[i];
        int near = 0;
        for (int l = 0; r->hostB == p && !near && l < o->nOut; l++) {
            const LineInfo *leave = &o->edges[o->out[l]];
            near = r->hostA == leave->hostB || r->hostA == leave->hostPrev;
        }
        if (near)
            o->in[o->nIn++] = i;
    }
}

// Tangled corners: some edge between P and a point next to it in one of its
// polygons has three or more records, either way.
static int CrowdedAt(const Oracle *o, LWPntID p)
{
    for (int l = 0; l < o->nOut; l++) {
        const LineInfo *leave = &o->edges[o->out[l]];
        LWPntID sides[2] = {leave->hostB, leave->hostPrev};
        for (int s = 0; s < 2; s++) {
            LWPntID q = sides[s];
            int both = CountRunning(o, p, q) + (q == p ? 0 : CountRunning(o, q, p));
            if (both >= 3)
                return 1;
        }
    }
    return 0;
}

static int CloseTangled(Oracle *o, LWPntID p)
{
    return CloseTangledPoint(o->ctx, p, o->edges, o->out, o->nOut, o->in, o->nIn);
}

// ---- the ring -------------------------------------------------------------

static void Warn(Oracle *o)
{
    if (!o->warned)
        MessageError(o->ctx, " Edge 'Corvane' Error!!!", nullptr);
    o->warned = 1;
}

// Full ring: returns 0 when the walk must stop, having shown the error,
// either because the ring had no room (a point list shorter than a walk's
// first entries) or because it now holds p entries.
static int Push(Oracle *o, int *k, int32_t copy)
{
    int ok = *k < o->room;
    if (ok)
        o->ring[(*k)++] = copy;
    ok = ok && *k < o->points;
    if (!ok)
        Warn(o);
    return ok;
}

// The patch runs against the walk; a full ring has no surface name. Lobes:
// AddPatchPolygons cuts a ring that returns to a point into its lobes.
static void Emit(Oracle *o, int k, int same, const char *surface)
{
    int keep = RefMutant("patches-winding");
    for (int e = 0; e < k; e++)
        o->patch[e] = keep ? o->ring[e] : o->ring[k - 1 - e];
    AddPatchPolygons(o->ctx->model, same && k < o->points ? surface : nullptr, k, o->patch);
}

// ---- border fans ------------------------------------------------------------

// The fan from `first` (its polygon arrives at P along a border edge) to
// the polygon that leaves P along one, stored at fan[at...]; its length, or
// 0 when it does not end so within `limit` steps.
static int BorderFanFrom(Oracle *o, LWPntID p, const LineInfo *first, int limit, int at)
{
    const LineInfo *leave = first;
    for (int n = 0; n < limit && Linked(leave); n++) {
        const LineInfo *back = Reverse(o, leave);
        o->fan[at + n].leave = leave;
        o->fan[at + n].back = back;
        if (back == nullptr)
            return Border(o, p, leave->hostB) ? n + 1 : 0;
        if (!LeaveAndBackAgree(leave, back))
            return 0;
        leave = OutOf(o, p, back->pointB);
        if (leave == nullptr)
            return 0;
    }
    return 0;
}

// Border fans: left open, the copies of a fan that runs between two border
// edges would leave a notch. Closed only when the fans cover every polygon
// about P; returns how many were closed, and *partial when fans were found
// that leave polygons about P out.
static int CloseBorderFans(Oracle *o, LWPntID p, int *partial)
{
    int used = 0;
    *partial = 0;
    for (int l = 0; l < o->nOut; l++) {
        const LineInfo *first = &o->edges[o->out[l]];
        if (!Linked(first) || !Border(o, first->hostPrev, p))
            continue;
        int n = BorderFanFrom(o, p, first, o->nOut - used, used);
        if (n == 0)
            return 0;
        used += n;
    }
    if (used < o->nOut) {
        *partial = used > 0;
        return 0;
    }
    // The fans lie end to end, each ending at its step without a reverse.
    int closed = 0;
    for (int begin = 0; begin < used;) {
        int end = begin;
        while (o->fan[end].back != nullptr)
            end++;
        closed += CloseBorderFan(o->ctx, o->fan + begin, end + 1 - begin, p);
        begin = end + 1;
    }
    return closed;
}

// ---- without the angle test -------------------------------------------------

// The walk from the first chamfered record leaving P; its ring entry count
// in *k, and whether everything it met was chamfered.
static int WalkAllChamfered(Oracle *o, LWPntID p, const LineInfo *start, int *k, int *same)
{
    int closed = 1;
    *same = 1;
    *k = 0;
    o->ring[(*k)++] = start->pointA;
    // The first step comes in from the polygon that arrives at P from
    // start's far point, whatever it is.
    int32_t at = start->pointB;
    for (int i = 0; i < o->m; i++) {
        if (o->edges[i].hostB == p && o->edges[i].hostA == start->hostB) {
            at = o->edges[i].pointB;
            break;
        }
    }
    int idle = 0;
    for (;;) {
        const LineInfo *leave = OutOf(o, p, at);
        if (leave == nullptr)
            return closed;
        // Unlinked records.
        if (!Linked(leave))
            return 0;
        if (!leave->done) {
            closed = 0;
            // Circling.
            if (++idle > o->m)
                return closed;
        } else {
            idle = 0;
            if (!Push(o, k, leave->pointA))
                return closed;
        }
        at = leave->pointB;
        const LineInfo *back = Reverse(o, leave);
        if (back != nullptr) {
            if (!Linked(back))
                return 0;
            closed = closed && back->done;
            at = back->pointB;
        }
        *same = *same && SameName(leave->surface, start->surface);
        if (at == o->ring[0])
            return closed;
    }
}

static void CornerPlain(Oracle *o, LWPntID p)
{
    Survey(o, p);
    if (CrowdedAt(o, p) && CloseTangled(o, p))
        return;
    const LineInfo *start = nullptr;
    for (int i = 0; start == nullptr && i < o->m; i++) {
        if (o->edges[i].hostA == p && o->edges[i].done)
            start = &o->edges[i];
    }
    if (start == nullptr)
        return;
    int k = 0, same = 0;
    int closed = WalkAllChamfered(o, p, start, &k, &same);
    if (closed && k >= 2) {
        // Tangled corners: the ring closed before it met every polygon.
        if (k < o->nOut && CloseTangled(o, p))
            return;
        Emit(o, k, same, start->surface);
        return;
    }
    int partial = 0;
    if (CloseBorderFans(o, p, &partial) == 0)
        CloseTangled(o, p);
}

// ---- with the angle test ------------------------------------------------------

// One cut per walk: whether `poly` is still to be trimmed by this walk's
// plane (and notes it trimmed). A second cut by the same plane would only
// split the points the first one made, which lie about where P does.
static int FirstTrim(Oracle *o, int32_t poly)
{
    if (poly < 0 || poly >= o->polysAtStart)
        return 1;
    for (int c = 0; c < o->cuts; c++) {
        if (o->cutThisWalk[c] == poly)
            return 0;
    }
    o->cutThisWalk[o->cuts++] = poly;
    return 1;
}

// The patch's plane, through ring entries 0, 1 and 2, not normalised.
static RingPlane PlaneOfRing(Oracle *o)
{
    BufModel *model = o->ctx->model;
    Vec3 q[3];
    for (int e = 0; e < 3; e++)
        q[e] = BufModelPointPosition(model, o->ring[e]);
    RingPlane plane;
    plane.normal = VecCross(VecSub(q[1], q[0]), VecSub(q[2], q[1]));
    plane.anchor = o->ring[0];
    return plane;
}

// Where a walk with the angle test stands.
struct Walker {
    int k;
    int same;
    int32_t at;
    Vec3 last;        // where the latest ring entry lies
    RingPlane plane;  // once the ring has three entries
    int idle;
    int32_t seen;  // a copy stood at while idle, at idle steps 1, 2, 4 ...
    int seenAt;
};

enum { WALK_ON, WALK_END, WALK_ABANDON };

// A chamfered crossing: the next polygon's copy joins the ring.
static int TakeCopy(Oracle *o, Walker *w, const LineInfo *leave, const LineInfo *start, int32_t next)
{
    w->at = next;
    w->last = BufModelPointPosition(o->ctx->model, next);
    if (next == o->ring[0])
        return WALK_END;
    int more = Push(o, &w->k, next);
    w->same = w->same && SameName(leave->surface, start->surface);
    w->seen = -1;
    w->seenAt = 1;
    w->idle = 0;
    if (more && w->k == 3)
        w->plane = PlaneOfRing(o);
    return more ? WALK_ON : WALK_END;
}

// Near copies: an unchamfered crossing while the ring has two entries goes
// on only to a copy within the weld's reach of the last one, and collects
// nothing.
static int SkipNear(Oracle *o, Walker *w, int32_t next)
{
    BufModel *model = o->ctx->model;
    double reach = BufModelWeldReach(model->boxMin, model->boxMax);
    double gap = VecLength(VecSub(w->last, BufModelPointPosition(model, next)));
    if (!(gap <= reach))
        return WALK_END;
    w->at = next;
    return ++w->idle > o->m ? WALK_ABANDON : WALK_ON;
}

// An unchamfered crossing once the plane exists collects nothing; the
// polygon left behind was trimmed first (see WalkTrimming).
static int SkipTrimmed(Oracle *o, Walker *w, const LineInfo *leave, const LineInfo *start, int32_t next)
{
    w->at = next;
    if (next == o->ring[0])
        return WALK_END;
    if (!SameName(leave->surface, start->surface))
        w->same = 0;
    // Circling: each idle step depends on the copy alone, so a walk that
    // stands at a copy it stood at while idle would go round for ever,
    // trimming again each round.
    w->idle += 1;
    if (w->idle > o->m || next == w->seen)
        return WALK_ABANDON;
    if (w->idle == w->seenAt) {
        w->seenAt *= 2;
        w->seen = next;
    }
    return WALK_ON;
}

// The walk from `start` and its chamfered reverse `back`: the ring's entry
// count, or 0 when the walk was abandoned.
static int WalkTrimming(Oracle *o, LWPntID p, const LineInfo *start, const LineInfo *back, int *same)
{
    Walker w;
    memset(&w, 0, sizeof w);
    w.k = 2;
    o->ring[0] = start->pointA;
    o->ring[1] = back->pointB;
    w.same = SameName(start->surface, back->surface);
    w.at = back->pointB;
    w.last = BufModelPointPosition(o->ctx->model, w.at);
    w.seen = -1;
    w.seenAt = 1;
    o->cuts = 0;
    for (int state = WALK_ON; state == WALK_ON;) {
        const LineInfo *leave = OutOf(o, p, w.at);
        if (leave == nullptr)
            break;
        if (!Linked(leave))
            return 0;
        int trims = !leave->done && w.k > 2;
        // A polygon whose edge here has no strip still has its corner at
        // P: the patch's plane trims it, whatever lies beyond.
        Vec3 corner;
        if (trims && FirstTrim(o, leave->polyIndex) && !RefMutant("patches-no-trim") &&
            HostPointPosition(o->ctx, p, &corner))
            CutPolyCorner(o->ctx->model, &w.plane, leave->polyIndex, corner);
        const LineInfo *over = Reverse(o, leave);
        if (over == nullptr)
            break;
        if (!Linked(over))
            return 0;
        if (leave->done)
            state = TakeCopy(o, &w, leave, start, over->pointB);
        else if (trims)
            state = SkipTrimmed(o, &w, leave, start, over->pointB);
        else
            state = SkipNear(o, &w, over->pointB);
        if (state == WALK_ABANDON)
            return 0;
        if (w.at == o->ring[0] || w.at == o->ring[1])
            break;
    }
    *same = w.same;
    return w.k;
}

// Tangled corners: whether the walk through each record's reverse (linked,
// chamfered alike) comes back to `start` before it met every polygon
// leaving P.
static int ClosesShort(Oracle *o, LWPntID p, const LineInfo *start)
{
    const LineInfo *leave = start;
    for (int steps = 1; steps <= o->nOut; steps++) {
        if (!Linked(leave))
            return 0;
        const LineInfo *back = Reverse(o, leave);
        if (!LeaveAndBackAgree(leave, back))
            return 0;
        leave = OutOf(o, p, back->pointB);
        if (leave == nullptr)
            return 0;
        if (leave == start)
            return steps < o->nOut;
    }
    return 0;
}

// Mixed corners: the fan about an inner P from `start`, one step per
// polygon, when every edge at P is run both ways by linked records chamfered
// alike, some chamfered and some not, and the walk from `start` comes back
// to it after exactly one step per record leaving P. Its length, else 0.
static int MixedFan(Oracle *o, LWPntID p, const LineInfo *start)
{
    int chamfered = 0;
    for (int l = 0; l < o->nOut; l++) {
        const LineInfo *leave = &o->edges[o->out[l]];
        if (!Linked(leave) || !LeaveAndBackAgree(leave, Reverse(o, leave)))
            return 0;
        chamfered += leave->done != 0;
    }
    if (chamfered == o->nOut)
        return 0;
    const LineInfo *leave = start;
    for (int n = 0; n < o->nOut; n++) {
        const LineInfo *back = Reverse(o, leave);
        o->fan[n].leave = leave;
        o->fan[n].back = back;
        leave = OutOf(o, p, back->pointB);
        int last = n + 1 == o->nOut;
        if (leave == nullptr || (leave == start) != last)
            return 0;
    }
    return o->nOut;
}

// One candidate start of a corner with the angle test: 1 when P's turn is
// over (closed, patched, or nothing more to try), 0 to try the next start.
static int FromStart(Oracle *o, LWPntID p, const LineInfo *start)
{
    const LineInfo *back = FindDoneReverse(o->edges, o->m, start);
    if (back == nullptr)
        return 1;
    if (ClosesShort(o, p, start) && CloseTangled(o, p))
        return 1;
    int fan = MixedFan(o, p, start);
    if (fan > 0 && CloseMixedCorner(o->ctx, o->fan, fan, p))
        return 1;
    int same = 0;
    int k = WalkTrimming(o, p, start, back, &same);
    if (k > 2)
        Emit(o, k, same, start->surface);
    // An abandoned walk (k = 0) ends P's turn too: another start would go
    // round the same fan and trim its polygons again.
    return k != 2;
}

static void CornerTrimming(Oracle *o, LWPntID p)
{
    Survey(o, p);
    if (CrowdedAt(o, p) && CloseTangled(o, p))
        return;
    // Border fans first: a walk that starts inside one would patch only what
    // lies after its start.
    int partial = 0;
    if (CloseBorderFans(o, p, &partial) || (partial && CloseTangled(o, p)))
        return;
    int over = 0;
    for (int l = 0; !over && l < o->nOut; l++) {
        const LineInfo *start = &o->edges[o->out[l]];
        over = start->done && FromStart(o, p, start);
    }
}

// ---- the pass -------------------------------------------------------------

static void EveryPoint(EditContext *ctx, const IdList *points, int m, const LineInfo *edges,
                       void (*corner)(Oracle *, LWPntID))
{
    Oracle o;
    memset(&o, 0, sizeof o);
    o.ctx = ctx;
    o.m = m;
    o.edges = edges;
    o.points = points->count;
    // A walk starts with up to two entries before it asks whether the ring
    // is full.
    o.room = o.points > 3 ? o.points : 3;
    o.polysAtStart = ctx->model->polyCount;
    size_t records = m > 0 ? (size_t)m : 1;
    size_t polys = o.polysAtStart > 0 ? (size_t)o.polysAtStart : 1;
    size_t words = 2 * (size_t)o.room + 2 * records + polys;
    int32_t *block = (int32_t *)malloc(words * sizeof(int32_t));
    o.fan = (FanStep *)malloc(records * sizeof(FanStep));
    if (block && o.fan) {
        o.ring = block;
        o.patch = o.ring + o.room;
        o.out = o.patch + o.room;
        o.in = o.out + records;
        o.cutThisWalk = o.in + records;
        MonitorOpen(ctx, "Corvane mode:Object", "Phase: PointCorvane");
        MonitorInit(ctx, o.points);
        for (int i = 0; i < o.points && !MonitorStep(ctx, 1); i++)
            corner(&o, (LWPntID)points->items[i]);
        MonitorClose(ctx);
    }
    free(block);
    free(o.fan);
}

void PointCorvane(EditContext *ctx, SharedAdjacency *, const IdList *points, int m, LineInfo *edges)
{
    EveryPoint(ctx, points, m, edges, CornerPlain);
}

void PointCorvaneLimited(EditContext *ctx, SharedAdjacency *, const IdList *points, int m, LineInfo *edges)
{
    EveryPoint(ctx, points, m, edges, CornerTrimming);
}
