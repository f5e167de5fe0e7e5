#include "objectmode/seams.h"

#include <stdlib.h>
#include <string.h>

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
//
// One record k of i's polygon, as the seam joining rewrites it.
static void JoinSeamNeighbour(LineInfo *ek, const LineInfo *ei, const LineInfo *ej)
{
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

// The seam's two traversals take i's points, in the polygon's copy and in j.
static void JoinSeamPoints(BufModel *model, const LineInfo *ei, LineInfo *ej)
{
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

// ---- the table ----------------------------------------------------------
//
// Each record is listed on two sides. Its next side is keyed by (polygon,
// host point b, host point next): the records that lead into an edge from
// b to next. Its prev side by (polygon, host point prev, host point a): the
// records that leave an edge from prev to a. A join rewrites, on one side,
// either the link alone (the host point and vertex beyond) or the link with
// the record's end (its buffered point and vertex), so each side counts, per
// key, how many records hold each link and each link with its end.
//
// One table holds all of it, under a kind: the list of a side's key, and
// the two counts. Entries are never removed (a count may fall to 0): their
// number is bounded by the records entered and the rewrites made.

enum {
    KIND_LIST = 0,   // + side: the key's records (count, head of the list)
    KIND_LINK = 2,   // + side: records of the key holding the link v1
    KIND_END = 4,    // + side: records of the key holding the link v1, end v2, v3
    // The records that turn back, whose previous host point is their point b
    // and whose point a is their next (b -> a -> b -> a), counted under
    // their prev side's key: a join rewrites their next side first and then
    // leaves their prev side as it is.
    KIND_TURN = 6,
    KIND_TURN_LINK = 7,
    KIND_TURN_END = 8,
    KIND_FREE = -1
};

struct SeamSlot {
    uint64_t poly, p, q;
    int32_t kind, v1, v2, v3;
    int32_t count;
    int32_t head;    // KIND_LIST: first record of the list, -1
};

namespace {

struct SeamKey {
    uint64_t poly, p, q;
    int32_t kind, v1, v2, v3;
};

// What a record holds on one side: the key's two host points, the link's
// host point and vertex, and the end's buffered point and vertex.
struct SideValue {
    uint64_t p, q;
    int32_t vertex, point, end;
};

}  // namespace

static inline SideValue ValueOf(const LineInfo *e, int side)
{
    SideValue v;
    if (side == 0) {
        v.p = KeyOf(e->hostB);
        v.q = KeyOf(e->hostNext);
        v.vertex = e->nextVertex;
        v.point = e->pointB;
        v.end = e->vertexB;
    } else {
        v.p = KeyOf(e->hostPrev);
        v.q = KeyOf(e->hostA);
        v.vertex = e->prevVertex;
        v.point = e->pointA;
        v.end = e->vertexA;
    }
    return v;
}

static inline SeamKey KeyFor(uint64_t poly, int kind, const SideValue &v)
{
    SeamKey key = {poly, v.p, v.q, kind, 0, 0, 0};
    int end = kind == KIND_END || kind == KIND_END + 1 || kind == KIND_TURN_END;
    if (end || kind == KIND_LINK || kind == KIND_LINK + 1 || kind == KIND_TURN_LINK)
        key.v1 = v.vertex;
    if (end) {
        key.v2 = v.point;
        key.v3 = v.end;
    }
    return key;
}

// One scramble of the key's words, each taken times its own odd constant
// first, so that swapping two of them gives another slot.
static inline uint64_t HashOf(const SeamKey &k)
{
    uint64_t small = ((uint64_t)(uint32_t)k.v1 << 32 | (uint32_t)k.v2) ^
                     ((uint64_t)(uint32_t)k.v3 << 8) ^ (uint64_t)(uint32_t)k.kind;
    return KeyScramble(k.poly * 0x9E3779B97F4A7C15ull + k.p * 0xC2B2AE3D27D4EB4Full +
                       k.q * 0x165667B19E3779F9ull + small * 0xD6E8FEB86659FD93ull);
}

static inline int SameKey(const SeamSlot *s, const SeamKey &k)
{
    return s->kind == k.kind && s->poly == k.poly && s->p == k.p && s->q == k.q &&
           s->v1 == k.v1 && s->v2 == k.v2 && s->v3 == k.v3;
}

static inline SeamSlot *FindSlot(SeamSlot *slots, int32_t mask, const SeamKey &k)
{
    for (uint64_t at = HashOf(k);; at++) {
        SeamSlot *s = &slots[at & (uint64_t)mask];
        if (s->kind == KIND_FREE || SameKey(s, k))
            return s;
    }
}

static SeamSlot *NewSlots(size_t count)
{
    SeamSlot *slots = (SeamSlot *)malloc(count * sizeof(SeamSlot));
    for (size_t s = 0; slots && s < count; s++)
        slots[s].kind = KIND_FREE;
    return slots;
}

// Doubles the table; 0 without memory.
static int Grow(SeamJoin *join)
{
    size_t count = ((size_t)join->slotMask + 1) * 2;
    if (count > ((size_t)1 << 30))
        return 0;
    SeamSlot *slots = NewSlots(count);
    if (!slots)
        return 0;
    for (int32_t s = 0; s <= join->slotMask; s++) {
        const SeamSlot *old = &join->slots[s];
        if (old->kind == KIND_FREE)
            continue;
        SeamKey k = {old->poly, old->p, old->q, old->kind, old->v1, old->v2, old->v3};
        *FindSlot(slots, (int32_t)(count - 1), k) = *old;
    }
    free(join->slots);
    join->slots = slots;
    join->slotMask = (int32_t)(count - 1);
    return 1;
}

// The entry of the key, made (with count 0) when `make` is set; null when
// it is absent, or when there was no memory to make it (then the table has
// failed).
static SeamSlot *Entry(SeamJoin *join, const SeamKey &k, int make)
{
    SeamSlot *s = FindSlot(join->slots, join->slotMask, k);
    if (s->kind != KIND_FREE || !make)
        return s->kind == KIND_FREE ? nullptr : s;
    // Kept at most half full, so that every probe ends soon.
    if (2 * ((int64_t)join->slotsUsed + 1) > (int64_t)join->slotMask + 1) {
        if (!Grow(join)) {
            join->failed = 1;
            return nullptr;
        }
        s = FindSlot(join->slots, join->slotMask, k);
    }
    join->slotsUsed++;
    s->poly = k.poly;
    s->p = k.p;
    s->q = k.q;
    s->kind = k.kind;
    s->v1 = k.v1;
    s->v2 = k.v2;
    s->v3 = k.v3;
    s->count = 0;
    s->head = -1;
    return s;
}

static int Count(SeamJoin *join, const SeamKey &k)
{
    const SeamSlot *s = Entry(join, k, 0);
    return s ? s->count : 0;
}

static int IsTurn(const LineInfo *e)
{
    return e->hostPrev == e->hostB && e->hostA == e->hostNext;
}

// The list links of record r on a side: next, then previous.
static int32_t *LinkOf(SeamJoin *join, int r, int side)
{
    return &join->link[4 * (size_t)r + 2 * (size_t)side];
}

// Makes room for the entries one record may make, so that no entry found
// while it is listed moves; 0 when the table failed.
static int Reserve(SeamJoin *join)
{
    // Three per side and three for a record that turns back.
    const int most = 9;
    while (!join->failed && 2 * ((int64_t)join->slotsUsed + most) > (int64_t)join->slotMask + 1) {
        if (!Grow(join))
            join->failed = 1;
    }
    return !join->failed;
}

// Adds `by` to the counts under what record e holds on the side: of its
// link, and with `end` of its link with its end (the entries are made where
// missing: Reserve made room).
static void CountSide(SeamJoin *join, const LineInfo *e, int side, int link, int by)
{
    SideValue v = ValueOf(e, side);
    uint64_t poly = KeyOf(e->hostPoly);
    int turn = side == 1 && IsTurn(e);
    if (link) {
        Entry(join, KeyFor(poly, KIND_LINK + side, v), 1)->count += by;
        if (turn)
            Entry(join, KeyFor(poly, KIND_TURN_LINK, v), 1)->count += by;
    }
    Entry(join, KeyFor(poly, KIND_END + side, v), 1)->count += by;
    if (turn)
        Entry(join, KeyFor(poly, KIND_TURN_END, v), 1)->count += by;
}

// Lists record r on both sides, under what it holds now.
static void Enter(SeamJoin *join, int r)
{
    const LineInfo *e = &join->edges[r];
    uint64_t poly = KeyOf(e->hostPoly);
    if (!Reserve(join))
        return;
    for (int side = 0; side < 2; side++) {
        CountSide(join, e, side, 1, 1);
        SeamSlot *list = Entry(join, KeyFor(poly, KIND_LIST + side, ValueOf(e, side)), 1);
        int32_t *links = LinkOf(join, r, side);
        links[0] = list->head;
        links[1] = -1;
        if (list->head >= 0)
            LinkOf(join, list->head, side)[1] = r;
        list->head = r;
        list->count++;
    }
    if (IsTurn(e)) {
        Entry(join, KeyFor(poly, KIND_TURN, ValueOf(e, 1)), 1)->count++;
        join->turns++;
    }
}

// Takes record r off both sides, before it is rewritten.
static void Leave(SeamJoin *join, int r)
{
    const LineInfo *e = &join->edges[r];
    uint64_t poly = KeyOf(e->hostPoly);
    for (int side = 0; side < 2; side++) {
        CountSide(join, e, side, 1, -1);
        SeamSlot *list = Entry(join, KeyFor(poly, KIND_LIST + side, ValueOf(e, side)), 0);
        int32_t *links = LinkOf(join, r, side);
        if (links[1] >= 0)
            LinkOf(join, links[1], side)[0] = links[0];
        else
            list->head = links[0];
        if (links[0] >= 0)
            LinkOf(join, links[0], side)[1] = links[1];
        list->count--;
    }
    if (IsTurn(e)) {
        Entry(join, KeyFor(poly, KIND_TURN, ValueOf(e, 1)), 0)->count--;
        join->turns--;
    }
}

// The first join of a polygon lists its records; 0 when the table failed.
static int EnterPolygon(SeamJoin *join, int i)
{
    if (join->entered[i])
        return 1;
    LWPolID poly = join->edges[i].hostPoly;
    int n = 0;
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0 && !join->failed;
         k = KeyIndexNext(&join->byPoly, k)) {
        if (join->edges[k].hostPoly != poly)
            continue;
        Enter(join, k);
        join->entered[k] = 1;
        n++;
    }
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0;
         k = KeyIndexNext(&join->byPoly, k)) {
        if (join->edges[k].hostPoly == poly)
            join->polyRecords[k] = n;
    }
    return !join->failed;
}

static int BeginTable(SeamJoin *join)
{
    size_t records = join->m > 0 ? (size_t)join->m : 1;
    join->slotMask = 1023;
    join->slotsUsed = 0;
    join->slots = NewSlots(1024);
    join->link = (int32_t *)malloc(records * 4 * sizeof(int32_t));
    join->entered = (unsigned char *)calloc(records, 1);
    join->taken = (unsigned char *)calloc(records, 1);
    join->visit = (int32_t *)malloc(records * sizeof(int32_t));
    join->polyRecords = (int32_t *)malloc(records * sizeof(int32_t));
    if (!join->slots || !join->link || !join->entered || !join->taken || !join->visit ||
        !join->polyRecords)
        join->failed = 1;
    return !join->failed;
}

// ---- one join -----------------------------------------------------------

namespace {

// One of the four rewrites of a join: the records listed under (p, q) on
// `side` take `to`'s link (host point and vertex), and with `withEnd` its
// end too.
struct Rewrite {
    int side;
    uint64_t p, q;
    const LineInfo *to;
    int withEnd;
};

}  // namespace

// Whether record r other than the rewritten ones is listed under the
// rewrite's key, and whether it holds what the rewrite writes.
static void Holds(const SeamJoin *join, const Rewrite &w, const SideValue &t, uint64_t poly, int r,
                  int *listed, int *same)
{
    const LineInfo *e = &join->edges[r];
    SideValue v = ValueOf(e, w.side);
    *listed = join->entered[r] && KeyOf(e->hostPoly) == poly && v.p == w.p && v.q == w.q &&
              !(w.side == 1 && IsTurn(e));
    *same = *listed && v.vertex == t.vertex &&
            (!w.withEnd || (v.point == t.point && v.end == t.end));
}

// Whether the rewrite would leave every record listed under its key (i and
// j apart, which a join never rewrites) as it is.
static int ChangesNothing(SeamJoin *join, const Rewrite &w, uint64_t poly, int i, int j)
{
    SideValue t = ValueOf(w.to, w.side);
    SideValue at = {w.p, w.q, 0, 0, 0};
    const SeamSlot *list = Entry(join, KeyFor(poly, KIND_LIST + w.side, at), 0);
    int listed = list ? list->count : 0;
    if (w.side == 1 && join->turns > 0)
        listed -= Count(join, KeyFor(poly, KIND_TURN, at));
    if (listed == 0)
        return 1;
    int listedI, sameI, listedJ, sameJ;
    Holds(join, w, t, poly, i, &listedI, &sameI);
    Holds(join, w, t, poly, j, &listedJ, &sameJ);
    listed -= listedI + listedJ;
    if (listed == 0)
        return 1;
    // The link's host point is part of the key: a rewrite that moves it
    // changes every record it reaches.
    uint64_t linkPoint = w.side == 0 ? t.q : t.p;
    if (linkPoint != (w.side == 0 ? w.q : w.p))
        return 0;
    SideValue written = {w.p, w.q, t.vertex, t.point, t.end};
    int holding = Count(join, KeyFor(poly, (w.withEnd ? KIND_END : KIND_LINK) + w.side, written));
    if (w.side == 1 && join->turns > 0)
        holding -= Count(join, KeyFor(poly, w.withEnd ? KIND_TURN_END : KIND_TURN_LINK, written));
    holding -= sameI + sameJ;
    return holding == listed;
}

// Adds the records listed under the rewrite's key to those to visit.
static void Gather(SeamJoin *join, const Rewrite &w, uint64_t poly, int i, int j, int *count)
{
    SideValue at = {w.p, w.q, 0, 0, 0};
    const SeamSlot *list = Entry(join, KeyFor(poly, KIND_LIST + w.side, at), 0);
    for (int k = list ? list->head : -1; k >= 0; k = LinkOf(join, k, w.side)[0]) {
        if (k == i || k == j || join->taken[k])
            continue;
        join->taken[k] = 1;
        join->visit[(*count)++] = k;
    }
}

// The join through the table. A record that no rewrite would change is left
// unvisited: each record's rewrite reads only the record and i and j, so
// visiting the others in any order gives what visiting all of them gives.
static void JoinThroughTable(SeamJoin *join, int i, int j)
{
    LineInfo *ei = &join->edges[i];
    LineInfo *ej = &join->edges[j];
    uint64_t poly = KeyOf(ei->hostPoly);
    // The four tests of JoinSeamNeighbour, as keys: leads into j, leaves j,
    // leads into i, leaves i.
    const Rewrite rewrites[4] = {
        {0, KeyOf(ej->hostA), KeyOf(ej->hostB), ei, 1},
        {1, KeyOf(ej->hostA), KeyOf(ej->hostB), ei, 1},
        {0, KeyOf(ei->hostA), KeyOf(ei->hostB), ej, 0},
        {1, KeyOf(ei->hostA), KeyOf(ei->hostB), ej, 0},
    };
    int count = 0;
    for (const Rewrite &w : rewrites) {
        if (!ChangesNothing(join, w, poly, i, j))
            Gather(join, w, poly, i, j, &count);
    }
    join->visited += count;
    join->scanned += join->polyRecords[i];
    for (int n = 0; n < count; n++) {
        int k = join->visit[n];
        join->taken[k] = 0;
        if (!join->failed)
            Leave(join, k);
        JoinSeamNeighbour(&join->edges[k], ei, ej);
        if (!join->failed)
            Enter(join, k);
    }
    // The seam's points change j's ends only: its lists and links stay.
    if (!join->failed) {
        CountSide(join, ej, 0, 0, -1);
        CountSide(join, ej, 1, 0, -1);
    }
    JoinSeamPoints(join->model, ei, ej);
    if (Reserve(join)) {
        CountSide(join, ej, 0, 0, 1);
        CountSide(join, ej, 1, 0, 1);
    }
}

void SeamJoinOpen(SeamJoin *join, BufModel *model, LineInfo *edges, int m)
{
    memset(join, 0, sizeof *join);
    join->model = model;
    join->edges = edges;
    join->m = m;
}

void SeamJoinEdges(SeamJoin *join, int i, int j)
{
    if (!join->byPolyOpen) {
        KeyIndexOpen(&join->byPoly, join->m);
        for (int r = 0; r < join->m; r++)
            KeyIndexAdd(&join->byPoly, r, KeyOf(join->edges[r].hostPoly), 0);
        join->byPolyOpen = 1;
        BeginTable(join);
    }
    // A record visited through the table costs some forty times what a
    // record of the plain visit costs. Where the joins keep changing most
    // of a polygon's records (a polygon that stays on one point, or walks
    // one edge back and forth) the table cannot win: it is given up, and
    // the joins from then on visit every record, as the table gives the
    // same result either way.
    if (join->visited * 32 > join->scanned + 32 * 4096)
        join->failed = 1;
    if (!join->failed && EnterPolygon(join, i)) {
        JoinThroughTable(join, i, j);
        return;
    }
    // Without the table: every record of the polygon.
    LineInfo *ei = &join->edges[i];
    LineInfo *ej = &join->edges[j];
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(ei->hostPoly), 0); k >= 0;
         k = KeyIndexNext(&join->byPoly, k)) {
        LineInfo *ek = &join->edges[k];
        if (k == i || k == j || ek->hostPoly != ei->hostPoly)
            continue;
        JoinSeamNeighbour(ek, ei, ej);
    }
    JoinSeamPoints(join->model, ei, ej);
}

void SeamJoinClose(SeamJoin *join)
{
    if (join->byPolyOpen)
        KeyIndexClose(&join->byPoly);
    free(join->slots);
    free(join->link);
    free(join->entered);
    free(join->taken);
    free(join->visit);
    free(join->polyRecords);
    memset(join, 0, sizeof *join);
}
