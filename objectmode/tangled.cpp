// Tangled corners: a source point P whose polygons do not lie in one fan.
// Two kinds are closed here, fan by fan, instead of by the one walk about P:
//
// - P is an end of a crowded edge, one that three or more records run along
//   (a fin, a sheet standing on a solid's edge). The strips leave such an
//   edge unchamfered and pin the copies on it at its ends, so each fan
//   about P starts and ends at a crowded edge with a copy still at P:
//
//            fin K (copy at P)
//                 |
//      polygon I  |  polygon J      the crowded edge P-X runs between I,
//       (at P)    P   (at P)        J and K; the fan I, ..., J between its
//      ----------/ \----------      sides is closed like a border fan, its
//        strips  ...  strips        two ends at P one point for the weld.
//
// - P is a bow-tie: its polygons form two or more fans (no crowded edge),
//   one of them closing on itself, and two of them have chamfered edges;
//   one walk would patch one of them and leave the others open.
//
// Each fan that closes on itself gets the patch of its copies (or the mixed
// corner's closing where some of its edges are unchamfered); each fan that
// ends at a border or crowded edge is closed as a border fan.
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "context/context.h"
#include "objectmode/objectmode.h"

namespace {

// The records about P and what the fans make of them; indices into the
// leaving and arriving lists, -1 for none.
struct TangledPoint {
    const LineInfo *edges;
    LWPntID point;
    const int32_t *leaving;
    int nl;
    const int32_t *arriving;
    int na;
    int *back;     // per leaving record: the arriving record of the next polygon
    int *next;     // per leaving record: the leaving record of that polygon
    int *entered;  // per leaving record: how many steps lead to it
    int *seen;
};

}  // namespace

static int IsLinked(const LineInfo *edge)
{
    return edge->prevVertex != -1 && edge->nextVertex != -1;
}

static const LineInfo *Leaving(const TangledPoint *t, int i)
{
    return &t->edges[t->leaving[i]];
}

static const LineInfo *Arriving(const TangledPoint *t, int i)
{
    return &t->edges[t->arriving[i]];
}

// The records between P and x, either way.
static int RecordsTo(const TangledPoint *t, LWPntID x)
{
    int count = 0;
    for (int i = 0; i < t->nl; i++)
        count += Leaving(t, i)->hostB == x;
    // A record from P to P is among the leaving ones already.
    for (int i = 0; i < t->na; i++)
        count += Arriving(t, i)->hostA == x && x != t->point;
    return count;
}

// The first arriving record that runs back along leaving record i, passing
// over one that shares its points (a seam's other traversal), as the walks'
// reverse does; -1 along a crowded edge, which joins no two polygons.
static int BackOf(const TangledPoint *t, int i)
{
    const LineInfo *leave = Leaving(t, i);
    if (RecordsTo(t, leave->hostB) >= 3)
        return -1;
    for (int a = 0; a < t->na; a++) {
        const LineInfo *s = Arriving(t, a);
        if (s->hostA == leave->hostB && s->pointB != leave->pointA)
            return a;
    }
    return -1;
}

// The fans about P as steps: for every leaving record the polygon that
// comes next, which must be one polygon leaving P once, entered from one
// side. 0 when P is not so (a polygon through P twice, an unlinked record).
static int LinkFans(TangledPoint *t, int *crowded)
{
    *crowded = 0;
    for (int i = 0; i < t->nl; i++) {
        const LineInfo *leave = Leaving(t, i);
        if (!IsLinked(leave))
            return 0;
        for (int j = 0; j < i; j++)
            if (Leaving(t, j)->hostPoly == leave->hostPoly)
                return 0;
        if (RecordsTo(t, leave->hostB) >= 3 || RecordsTo(t, leave->hostPrev) >= 3)
            *crowded = 1;
        t->entered[i] = 0;
        t->seen[i] = 0;
    }
    for (int i = 0; i < t->nl; i++) {
        t->back[i] = BackOf(t, i);
        t->next[i] = -1;
        if (t->back[i] < 0)
            continue;
        const LineInfo *back = Arriving(t, t->back[i]);
        if (!IsLinked(back))
            return 0;
        for (int j = 0; j < t->nl && t->next[i] < 0; j++)
            if (Leaving(t, j)->pointA == back->pointB)
                t->next[i] = j;
        if (t->next[i] < 0 || ++t->entered[t->next[i]] > 1)
            return 0;
    }
    return 1;
}

// Writes the fan from leaving record `from` into `fan`: up to its border
// (a chain), or round to `from` again (a cycle). Its step count, or 0 when
// it runs into a fan already written.
static int WriteFan(TangledPoint *t, int from, FanStep *fan, int *cycle)
{
    int n = 0;
    int i = from;
    *cycle = 0;
    for (;;) {
        if (t->seen[i])
            return 0;
        t->seen[i] = 1;
        fan[n].leave = Leaving(t, i);
        fan[n].back = t->back[i] >= 0 ? Arriving(t, t->back[i]) : nullptr;
        n++;
        if (t->back[i] < 0)
            return n;
        i = t->next[i];
        if (i == from) {
            *cycle = 1;
            return n;
        }
    }
}

// A fan that closes on itself, every edge chamfered: the patch of its
// copies, wound against the walk, named when all its polygons share one
// surface.
static void PatchCycle(BufModel *model, const FanStep *fan, int n, int32_t *ring)
{
    const char *name = fan[0].leave->surface;
    for (int i = 0; i < n; i++) {
        ring[i] = fan[i].leave->pointA;
        const char *other = fan[i].leave->surface;
        if (!name || !other || strcmp(name, other) != 0)
            name = nullptr;
    }
    BufModelReverseRing(ring, n);
    AddPatchPolygons(model, name, n, ring);
}

// Polygons holding point `from` take point `to` in its place.
static void ReplacePoint(BufModel *model, int32_t from, int32_t to)
{
    for (int k = 0; k < model->polyCount; k++) {
        BufPoly *poly = BufModelGetPoly(model, k);
        for (int v = 0; poly && v < poly->count; v++)
            if (poly->points[v] == from)
                poly->points[v] = to;
    }
}

// A fan between two crowded edges has both end copies pinned at P: one
// point for the weld, two for the closing, whose ring would run from one
// to the other. The last polygon's copy (and the strip's that shares it)
// becomes the first's, so that the ring comes back to its start and its
// lobe is closed on its own, zipped where it is flat. The records stay as
// they are; the fan's last step reads the shared copy through copies of
// its records.
static void ClosePinnedChain(EditContext *ctx, FanStep *fan, int n, LWPntID point)
{
    BufModel *model = ctx->model;
    int32_t first = fan[0].leave->pointA, last = fan[n - 1].leave->pointA;
    const BufPoint *a = BufModelGetPoint(model, first);
    const BufPoint *b = BufModelGetPoint(model, last);
    LineInfo leave = *fan[n - 1].leave, back = *fan[n - 2].back;
    if (a && b && first != last && a->position.x == b->position.x && a->position.y == b->position.y &&
        a->position.z == b->position.z) {
        ReplacePoint(model, last, first);
        leave.pointA = first;
        back.pointB = first;
        fan[n - 1].leave = &leave;
        fan[n - 2].back = &back;
    }
    CloseBorderFan(ctx, fan, n, point);
}

static void CloseOneFan(EditContext *ctx, FanStep *fan, int n, int cycle, LWPntID point, int32_t *ring)
{
    int chamfered = 0;
    for (int i = 0; i < n; i++)
        chamfered += fan[i].leave->done != 0;
    if (!cycle && n >= 3 && chamfered > 0)
        ClosePinnedChain(ctx, fan, n, point);
    else if (!cycle)
        CloseBorderFan(ctx, fan, n, point);
    else if (chamfered == n)
        PatchCycle(ctx->model, fan, n, ring);
    else if (chamfered > 0)
        CloseMixedCorner(ctx, fan, n, point);
}

int CloseTangledPoint(EditContext *ctx, LWPntID point, const LineInfo *edges, const int32_t *leaving, int nl,
                      const int32_t *arriving, int na)
{
    if (nl < 2)
        return 0;
    TangledPoint t;
    t.edges = edges;
    t.point = point;
    t.leaving = leaving;
    t.nl = nl;
    t.arriving = arriving;
    t.na = na;
    size_t count = (size_t)nl;
    int *work = (int *)malloc(4 * count * sizeof(int));
    FanStep *fan = (FanStep *)malloc(count * sizeof(FanStep));
    int32_t *ring = (int32_t *)malloc(count * sizeof(int32_t));
    int *starts = (int *)malloc(2 * count * sizeof(int));
    if (!work || !fan || !ring || !starts) {
        free(work);
        free(fan);
        free(ring);
        free(starts);
        return 0;
    }
    t.back = work;
    t.next = work + count;
    t.entered = work + 2 * count;
    t.seen = work + 3 * count;
    int crowded = 0;
    int ok = LinkFans(&t, &crowded);
    // The fans one after another in `fan`: first those that start at a
    // border or crowded edge (no step leads to them), then the cycles.
    int fans = 0, cycles = 0, used = 0, open = 0;
    for (int pass = 0; ok && pass < 2; pass++) {
        for (int i = 0; ok && i < nl; i++) {
            if (t.seen[i] || (pass == 0 && t.entered[i] > 0))
                continue;
            int cycle = 0;
            int n = WriteFan(&t, i, fan + used, &cycle);
            ok = n > 0;
            starts[2 * fans] = used;
            starts[2 * fans + 1] = cycle;
            int chamfered = 0;
            for (int k = used; k < used + n; k++)
                chamfered += fan[k].leave->done != 0;
            open += chamfered > 0;
            used += n;
            fans++;
            cycles += cycle;
        }
    }
    // A bow-tie needs closing fan by fan only where two of its fans have
    // chamfered edges: a fan of none leaves the one walk about the other
    // as it would be alone.
    int tangled = ok && used == nl && (crowded || (cycles >= 1 && open >= 2));
    for (int f = 0; tangled && f < fans; f++) {
        int at = starts[2 * f];
        int end = f + 1 < fans ? starts[2 * (f + 1)] : used;
        CloseOneFan(ctx, fan + at, end - at, starts[2 * f + 1], point, ring);
    }
    free(work);
    free(fan);
    free(ring);
    free(starts);
    return tangled;
}
