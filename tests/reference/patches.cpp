// Reference: objectmode/patches.cpp in its literal form, where every step of a
// corner walk scans the records from the first one.
// Built only into the test module CorvaneLiteral.p, against which the indexed
// passes are compared bit for bit and timed (tests/reference/CMakeLists.txt).
// Keep it as it is: it is the definition the fast passes must match.
//
// Corner patches: after the strips, the copies of a source point P in the
// polygons about it have moved apart and a hole is left between the strips.
// The hole is closed by walking about P from polygon to polygon through the
// edge records and collecting each polygon's copy of P; the copies, in
// reverse order of the walk, become the patch.
//
//              \   polygon J  /
//     record s  \  (copy cJ) /
//     (B -> P)   \          /
//   --------------P--------------    M leaves P in polygon I (P -> B); its
//   polygon I    / \   polygon K     reverse s arrives at P in J, so the walk
//   (copy cI)   /   \  (copy cK)     steps from cI to cJ.
//
// The walk crosses each polygon's record leaving P, so on a consistently
// wound mesh the reversed ring is wound like the polygons about it.
//
// The literal, quadratic form: every step of a walk scans the records from
// the first one.
#include <stdlib.h>
#include <string.h>

#include "objectmode/objectmode.h"
#include "context/context.h"

namespace {

struct PatchPass {
    EditContext *ctx;
    BufModel *model;
    int m;
    const LineInfo *edges;
    int32_t *ring;
    int room;        // entries the ring can hold
    int p;           // the ring is full at p entries
    int errorShown;  // the error is shown once per pass
    // Per polygon of the model as the pass began, the number of the last
    // walk that cut it (walks are numbered from 1); null without memory.
    int32_t *cutBy;
    int32_t polys;   // entries of cutBy
    int32_t walk;    // the current walk's number
    // The fan of the point being walked (see CollectFan), room for m steps;
    // null without memory.
    FanStep *fan;
    // The records about the point being walked (see GatherAbout), room for
    // m each; null without memory.
    int32_t *leaving;
    int32_t *arriving;
    int nl, na;
};

}  // namespace

static int IsLinked(const LineInfo *edge)
{
    return edge->prevVertex != -1 && edge->nextVertex != -1;
}

static int SameSurface(const char *a, const char *b)
{
    return a && b && strcmp(a, b) == 0;
}

static Vec3 PositionOf(BufModel *model, int index)
{
    const BufPoint *point = BufModelGetPoint(model, index);
    if (!point)
        return Vec3{0.0, 0.0, 0.0};
    return point->position;
}

static int IsReverse(const LineInfo *s, const LineInfo *r)
{
    return s->hostA == r->hostB && s->hostB == r->hostA;
}

const LineInfo *FindDoneReverse(const LineInfo *edges, int m, const LineInfo *r)
{
    for (int i = 0; i < m; i++) {
        if (IsReverse(&edges[i], r) && edges[i].done)
            return &edges[i];
    }
    return nullptr;
}

// The point b test passes over a seam traversal that the strips made share
// r's points: it is no step to another polygon.
const LineInfo *FindReverse(const LineInfo *edges, int m, const LineInfo *r)
{
    for (int i = 0; i < m; i++) {
        if (IsReverse(&edges[i], r) && edges[i].pointB != r->pointA)
            return &edges[i];
    }
    return nullptr;
}

static const LineInfo *FirstLeavingDone(const PatchPass *pass, LWPntID point)
{
    for (int i = 0; i < pass->m; i++) {
        if (pass->edges[i].hostA == point && pass->edges[i].done)
            return &pass->edges[i];
    }
    return nullptr;
}

// The record by which the polygon holding `copy` runs away from P.
static const LineInfo *FirstLeavingAt(const PatchPass *pass, LWPntID point, int32_t copy)
{
    for (int i = 0; i < pass->m; i++) {
        if (pass->edges[i].hostA == point && pass->edges[i].pointA == copy)
            return &pass->edges[i];
    }
    return nullptr;
}

static const LineInfo *FirstArrivingFrom(const PatchPass *pass, LWPntID point, LWPntID from)
{
    for (int i = 0; i < pass->m; i++) {
        if (pass->edges[i].hostB == point && pass->edges[i].hostA == from)
            return &pass->edges[i];
    }
    return nullptr;
}

// The records leaving P, and those arriving at P from the points before and
// after P in the polygons that leave it, in array order.
static void GatherAbout(PatchPass *pass, LWPntID point)
{
    pass->nl = pass->na = 0;
    if (!pass->leaving)
        return;
    for (int i = 0; i < pass->m; i++)
        if (pass->edges[i].hostA == point)
            pass->leaving[pass->nl++] = i;
    for (int i = 0; i < pass->m; i++) {
        const LineInfo *r = &pass->edges[i];
        if (r->hostB != point)
            continue;
        for (int l = 0; l < pass->nl; l++) {
            const LineInfo *leave = &pass->edges[pass->leaving[l]];
            if (r->hostA == leave->hostB || r->hostA == leave->hostPrev) {
                pass->arriving[pass->na++] = i;
                break;
            }
        }
    }
}

// Whether three or more of the records about P run between P and one other
// point.
static int TouchesCrowded(const PatchPass *pass, LWPntID point)
{
    for (int l = 0; l < pass->nl; l++) {
        const LineInfo *leave = &pass->edges[pass->leaving[l]];
        LWPntID near[2] = {leave->hostB, leave->hostPrev};
        for (int k = 0; k < 2; k++) {
            int count = 0;
            for (int i = 0; i < pass->nl; i++)
                count += pass->edges[pass->leaving[i]].hostB == near[k];
            for (int i = 0; i < pass->na; i++)
                count += pass->edges[pass->arriving[i]].hostA == near[k] && near[k] != point;
            if (count >= 3)
                return 1;
        }
    }
    return 0;
}

static int TryTangled(PatchPass *pass, LWPntID point)
{
    if (!pass->leaving)
        return 0;
    return CloseTangledPoint(pass->ctx, point, pass->edges, pass->leaving, pass->nl,
                             pass->arriving, pass->na);
}

static void ShowRingError(PatchPass *pass)
{
    if (pass->errorShown)
        return;
    MessageError(pass->ctx, " Edge 'Corvane' Error!!!", nullptr);
    pass->errorShown = 1;
}

// Appends one copy; 0 when the ring is now full (the error is shown and the
// walk must end). The room is never exceeded, even for a point list too
// short to hold the entries a walk starts with.
static int RingAppend(PatchPass *pass, int *k, int32_t copy)
{
    if (*k >= pass->room) {
        ShowRingError(pass);
        return 0;
    }
    pass->ring[(*k)++] = copy;
    if (*k >= pass->p) {
        ShowRingError(pass);
        return 0;
    }
    return 1;
}

// The patch is wound against the order of the walk. A full ring gets no
// name. A ring that comes back to a point gives one polygon per lobe.
static void AddPatch(PatchPass *pass, int k, int same, const char *surface)
{
    for (int a = 0, b = k - 1; a < b; a++, b--) {
        int32_t t = pass->ring[a];
        pass->ring[a] = pass->ring[b];
        pass->ring[b] = t;
    }
    const char *name = (same && k < pass->p) ? surface : nullptr;
    AddPatchPolygons(pass->model, name, k, pass->ring);
}

// Whether the edge from host point `from` to `to` is a border: one record
// runs it and none runs it back.
static int IsBorderEdge(const PatchPass *pass, LWPntID from, LWPntID to)
{
    int along = 0;
    for (int i = 0; i < pass->m; i++) {
        const LineInfo *r = &pass->edges[i];
        if (r->hostA == to && r->hostB == from)
            return 0;
        along += r->hostA == from && r->hostB == to;
    }
    return along == 1;
}

// The fan about P from `first` (leaving P, its polygon arriving along a
// border edge) to the polygon that leaves P along a border edge, written
// into the fan array from entry `at`; 0 when it does not end so within
// `leaving` steps.
static int CollectBorderFan(PatchPass *pass, LWPntID point, const LineInfo *first, int leaving,
                            int at)
{
    int n = 0;
    const LineInfo *leave = first;
    for (;;) {
        if (n >= leaving || !IsLinked(leave))
            return 0;
        const LineInfo *back = FindReverse(pass->edges, pass->m, leave);
        pass->fan[at + n].leave = leave;
        pass->fan[at + n].back = back;
        n++;
        if (!back)
            return IsBorderEdge(pass, point, leave->hostB) ? n : 0;
        if (!IsLinked(back) || (back->done != 0) != (leave->done != 0))
            return 0;
        leave = FirstLeavingAt(pass, point, back->pointB);
        if (!leave)
            return 0;
    }
}

// Closes the fans about P that run from one border edge to another, where
// chamfered edges meet: left open, their copies would leave a notch, two new
// borders running in from the old one. Only where every polygon about P
// lies in such a fan; returns the number of fans closed. *uncovered tells
// when such fans were found but leave polygons about P out.
static int CloseBorderFans(PatchPass *pass, LWPntID point, int *uncovered)
{
    *uncovered = 0;
    if (!pass->fan)
        return 0;
    int leaving = 0;
    for (int i = 0; i < pass->m; i++)
        leaving += pass->edges[i].hostA == point;
    int used = 0, fans = 0;
    for (int i = 0; i < pass->m; i++) {
        const LineInfo *first = &pass->edges[i];
        if (first->hostA != point || !IsLinked(first) || !IsBorderEdge(pass, first->hostPrev, point))
            continue;
        int n = CollectBorderFan(pass, point, first, leaving - used, used);
        if (n == 0)
            return 0;
        used += n;
    }
    *uncovered = used > 0 && used != leaving;
    if (used == 0 || used != leaving)
        return 0;
    // The fans lie one after another in the fan array, each ending at the
    // step whose back is null.
    for (int at = 0, i = 0; i < used; i++) {
        if (pass->fan[i].back)
            continue;
        fans += CloseBorderFan(pass->ctx, pass->fan + at, i + 1 - at, point);
        at = i + 1;
    }
    return fans;
}

// Plain variant: a patch only where every record met about P, and every
// reverse found, received a strip.
//
// Records that an aborted LineInfo pass left unlinked are never walked
// through: meeting one ends the walk without a patch. Steps that add nothing
// to the ring are counted; more of them in a row than there are records
// means the walk circles without coming back (a non-manifold fan), and it
// ends without a patch.
static void PatchPlain(PatchPass *pass, LWPntID point)
{
    GatherAbout(pass, point);
    if (TouchesCrowded(pass, point) && TryTangled(pass, point))
        return;
    const LineInfo *start = FirstLeavingDone(pass, point);
    if (!start)
        return;
    int32_t *ring = pass->ring;
    ring[0] = start->pointA;
    int k = 1;
    int closed = 1;
    int same = 1;
    int32_t copy = start->pointB;
    const LineInfo *s = FirstArrivingFrom(pass, point, start->hostB);
    if (s)
        copy = s->pointB;

    int idle = 0;
    for (;;) {
        const LineInfo *leave = FirstLeavingAt(pass, point, copy);
        if (!leave)
            break;
        if (!IsLinked(leave)) {
            closed = 0;
            break;
        }
        if (leave->done) {
            if (!RingAppend(pass, &k, leave->pointA))
                break;
            idle = 0;
        } else {
            closed = 0;
            if (++idle > pass->m)
                break;
        }
        copy = leave->pointB;
        s = FindReverse(pass->edges, pass->m, leave);
        if (s) {
            if (!IsLinked(s)) {
                closed = 0;
                break;
            }
            copy = s->pointB;
            if (!s->done)
                closed = 0;
        }
        if (!SameSurface(leave->surface, start->surface))
            same = 0;
        if (copy == ring[0])
            break;
    }
    int uncovered = 0;
    if (k >= 2 && closed) {
        // A ring that closed before it met every polygon about P: other fans
        // meet at P too.
        if (k < pass->nl && TryTangled(pass, point))
            return;
        AddPatch(pass, k, same, start->surface);
    } else if (!CloseBorderFans(pass, point, &uncovered)) {
        TryTangled(pass, point);
    }
}

// The plane of the patch through its first three entries, not normalised.
static RingPlane MakeRingPlane(BufModel *model, const int32_t *ring)
{
    Vec3 q0 = PositionOf(model, ring[0]);
    Vec3 q1 = PositionOf(model, ring[1]);
    Vec3 q2 = PositionOf(model, ring[2]);
    Vec3 a = VecSub(q1, q0);
    Vec3 b = VecSub(q2, q1);
    RingPlane plane;
    plane.anchor = ring[0];
    plane.normal = VecCross(a, b);
    return plane;
}

// Whether this walk has not cut polygon `poly` yet (and marks it cut). A
// polygon is trimmed by the walk's one plane once: its corner then lies on
// the plane, and a second cut by the same plane (a walk that comes round
// again) would only split the points it made, which lie about where P does.
static int FirstCutInWalk(PatchPass *pass, int poly)
{
    if (poly < 0 || !pass->cutBy || poly >= pass->polys)
        return 1;
    if (pass->cutBy[poly] == pass->walk)
        return 0;
    pass->cutBy[poly] = pass->walk;
    return 1;
}

// One walk of the limited variant from the start record `start` and its done
// reverse `back`; fills the ring and returns its entry count, or 0 when the
// walk was abandoned (an unlinked record met, or circling without end).
static int WalkLimited(PatchPass *pass, LWPntID point, const LineInfo *start,
                       const LineInfo *back, int *same)
{
    BufModel *model = pass->model;
    int32_t *ring = pass->ring;
    ring[0] = start->pointA;
    ring[1] = back->pointB;
    int k = 2;
    *same = SameSurface(start->surface, back->surface);
    int32_t copy = back->pointB;
    Vec3 last = PositionOf(model, copy);
    RingPlane plane = {0, {0.0, 0.0, 0.0}};
    pass->walk++;

    int idle = 0;
    // A copy the walk stood at while idle (see the cutting branch below);
    // checkpoints at idle steps 1, 2, 4, 8 ...
    int32_t mark = -1;
    int markAt = 1;
    for (;;) {
        const LineInfo *leave = FirstLeavingAt(pass, point, copy);
        if (!leave)
            break;
        if (!IsLinked(leave))
            return 0;
        if (leave->done) {
            const LineInfo *s = FindReverse(pass->edges, pass->m, leave);
            if (!s)
                break;
            if (!IsLinked(s))
                return 0;
            copy = s->pointB;
            last = PositionOf(model, copy);
            if (copy == ring[0])
                break;
            int room = RingAppend(pass, &k, copy);
            idle = 0;
            mark = -1;
            markAt = 1;
            if (!SameSurface(leave->surface, start->surface))
                *same = 0;
            if (!room)
                break;
            if (k == 3)
                plane = MakeRingPlane(model, ring);
        } else if (k <= 2) {
            // Across an unchamfered edge before the plane exists: go on only
            // where the next polygon's copy lies where the last one does.
            const LineInfo *s = FindReverse(pass->edges, pass->m, leave);
            if (!s)
                break;
            if (!IsLinked(s))
                return 0;
            if (!(VecLength(VecSub(last, PositionOf(model, s->pointB))) <=
                  CornerTolerance(model)))
                break;
            copy = s->pointB;
            if (++idle > pass->m)
                return 0;
        } else {
            // Across an unchamfered edge: the polygon still has its corner at
            // P, so it is trimmed by the patch's plane.
            Vec3 corner;
            if (FirstCutInWalk(pass, leave->polyIndex) && HostPointPosition(pass->ctx, point, &corner))
                CutPolyCorner(model, &plane, leave->polyIndex, corner);
            const LineInfo *s = FindReverse(pass->edges, pass->m, leave);
            if (!s)
                break;
            if (!IsLinked(s))
                return 0;
            copy = s->pointB;
            if (copy == ring[0])
                break;
            if (!SameSurface(leave->surface, start->surface))
                *same = 0;
            if (++idle > pass->m)
                return 0;
            // Each step here depends on the copy alone, so an idle walk that
            // stands at a copy again goes round the same cycle for ever,
            // cutting the same polygons again each round (and a cut point
            // that lies about where P does is cut again, two more points
            // each time). The walk is abandoned as soon as it is seen to
            // have come round, within about two rounds.
            if (copy == mark)
                return 0;
            if (idle == markAt) {
                mark = copy;
                markAt *= 2;
            }
        }
        if (copy == ring[0] || copy == ring[1])
            break;
    }
    return k;
}

// The whole fan about P from `start`, a chamfered record leaving P: the
// polygons about P in the order of the walk, each with its record leaving P
// and that record's reverse. Its step count when P is an inner point where
// each polygon about it leaves P once and every edge at P is run both ways,
// with chamfered and unchamfered edges; otherwise 0.
//
// Written from that contract rather than from the indexed pass, so that the
// two can disagree: first every record leaving P is checked on its own, then
// the walk from `start` must come back to it after exactly one step per
// record leaving P, never sooner.
static int CollectFan(PatchPass *pass, LWPntID point, const LineInfo *start)
{
    if (!pass->fan)
        return 0;
    // Each edge at P is run both ways, the two records alike chamfered or
    // not, and none is left unlinked by an aborted edge pass.
    int leaving = 0, chamfered = 0;
    for (int i = 0; i < pass->m; i++) {
        const LineInfo *leave = &pass->edges[i];
        if (leave->hostA != point)
            continue;
        const LineInfo *back = FindReverse(pass->edges, pass->m, leave);
        if (!IsLinked(leave) || !back || !IsLinked(back) || !leave->done != !back->done)
            return 0;
        leaving++;
        chamfered += leave->done != 0;
    }
    // A corner chamfered all round is the plain walk's.
    if (chamfered == leaving)
        return 0;
    // One ring through every polygon about P: a walk that closes early
    // leaves polygons out (two fans meeting at P), one that does not close
    // is at a border.
    const LineInfo *leave = start;
    for (int n = 0; n < leaving; n++) {
        const LineInfo *back = FindReverse(pass->edges, pass->m, leave);
        pass->fan[n].leave = leave;
        pass->fan[n].back = back;
        leave = FirstLeavingAt(pass, point, back->pointB);
        if (!leave || (leave == start) != (n == leaving - 1))
            return 0;
    }
    return leaving;
}

// Whether the walk from `start` through each record's reverse (linked, done
// alike) comes round to it before it met every polygon about P: other fans
// meet at P too.
static int FanClosesEarly(PatchPass *pass, LWPntID point, const LineInfo *start)
{
    const LineInfo *leave = start;
    for (int n = 0; n < pass->nl; n++) {
        if (!IsLinked(leave))
            return 0;
        const LineInfo *back = FindReverse(pass->edges, pass->m, leave);
        if (!back || !IsLinked(back) || !back->done != !leave->done)
            return 0;
        leave = FirstLeavingAt(pass, point, back->pointB);
        if (!leave)
            return 0;
        if (leave == start)
            return n + 1 < pass->nl;
    }
    return 0;
}

// Limited variant: the walk steps over edges the angle test left without a
// strip, and trims the polygons whose corner still sits at P.
static void PatchLimited(PatchPass *pass, LWPntID point)
{
    GatherAbout(pass, point);
    if (TouchesCrowded(pass, point) && TryTangled(pass, point))
        return;
    // The walk from a start in the middle of a fan that ends at a border
    // patches only the part after the start; such fans are closed whole.
    int uncovered = 0;
    if (CloseBorderFans(pass, point, &uncovered))
        return;
    if (uncovered && TryTangled(pass, point))
        return;
    for (int i = 0; i < pass->m; i++) {
        const LineInfo *start = &pass->edges[i];
        if (start->hostA != point || !start->done)
            continue;
        const LineInfo *back = FindDoneReverse(pass->edges, pass->m, start);
        if (!back)
            return;
        // Where chamfered and unchamfered edges meet about an inner point,
        // the corner is closed from its whole fan; the walk below serves
        // the rest (every edge chamfered, borders, points where the fan
        // does not close).
        if (FanClosesEarly(pass, point, start) && TryTangled(pass, point))
            return;
        int n = CollectFan(pass, point, start);
        if (n > 0 && CloseMixedCorner(pass->ctx, pass->fan, n, point))
            return;
        int same = 0;
        int k = WalkLimited(pass, point, start, back, &same);
        // An abandoned walk (a record left unlinked, or circling without
        // end) ends P's turn without a patch: a walk from another start
        // would go round the same fan and cut its polygons again, and cut
        // points that lie about where P does would be cut once more.
        if (k == 0)
            return;
        if (k > 2) {
            AddPatch(pass, k, same, start->surface);
            return;
        }
    }
}

static void RunPatches(EditContext *ctx, const IdList *points, int m, LineInfo *edges,
                       void (*patch)(PatchPass *, LWPntID))
{
    BufModel *model = ctx->model;
    PatchPass pass;
    pass.ctx = ctx;
    pass.model = model;
    pass.m = m;
    pass.edges = edges;
    pass.p = points->count;
    // A walk starts with up to two entries before it tests for a full ring.
    pass.room = pass.p < 3 ? 3 : pass.p;
    pass.errorShown = 0;
    pass.ring = (int32_t *)malloc((size_t)pass.room * sizeof(int32_t));
    if (!pass.ring)
        return;
    pass.polys = model->polyCount;
    pass.walk = 0;
    pass.cutBy = (int32_t *)calloc(pass.polys > 0 ? (size_t)pass.polys : 1, sizeof(int32_t));
    pass.fan = (FanStep *)malloc((m > 0 ? (size_t)m : 1) * sizeof(FanStep));
    pass.leaving = (int32_t *)malloc((m > 0 ? (size_t)m : 1) * 2 * sizeof(int32_t));
    pass.arriving = pass.leaving ? pass.leaving + (m > 0 ? m : 1) : nullptr;

    MonitorOpen(ctx, "Corvane mode:Object", "Phase: PointCorvane");
    MonitorInit(ctx, pass.p);
    for (int i = 0; i < pass.p; i++) {
        if (MonitorStep(ctx, 1))
            break;
        patch(&pass, (LWPntID)points->items[i]);
    }
    free(pass.ring);
    free(pass.cutBy);
    free(pass.fan);
    free(pass.leaving);
    MonitorClose(ctx);
}

void PointCorvane(EditContext *ctx, SharedAdjacency *, const IdList *points, int m, LineInfo *edges)
{
    RunPatches(ctx, points, m, edges, PatchPlain);
}

void PointCorvaneLimited(EditContext *ctx, SharedAdjacency *, const IdList *points, int m,
                         LineInfo *edges)
{
    RunPatches(ctx, points, m, edges, PatchLimited);
}
