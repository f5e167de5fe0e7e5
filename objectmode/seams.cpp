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

namespace {

// A record's two ends: its buffered points and their vertices in the
// polygon's copy.
struct Ends {
    int32_t pointA, vertexA, pointB, vertexB;
};

}  // namespace

// The seam's two traversals take i's points, in the polygon's copy (i's
// polygon index) and in j.
static void JoinSeamEnds(BufModel *model, int32_t polyIndex, const Ends &i, Ends *j)
{
    // The polygon's copy takes i's points at j's two vertices.
    BufPoly *poly = polyIndex >= 0 ? BufModelGetPoly(model, polyIndex) : nullptr;
    // Every vertex index is checked: a record whose polygon index names
    // another polygon than its vertices belong to must not reach past it.
    if (poly && j->vertexA >= 0 && j->vertexA < poly->count && j->vertexB >= 0 &&
        j->vertexB < poly->count && i.vertexA >= 0 && i.vertexA < poly->count &&
        i.vertexB >= 0 && i.vertexB < poly->count) {
        poly->points[j->vertexA] = poly->points[i.vertexB];
        poly->points[j->vertexB] = poly->points[i.vertexA];
    }

    // j now runs B to A over i's points; its host points and links stay.
    j->pointA = i.pointB;
    j->pointB = i.pointA;
    j->vertexA = i.vertexB;
    j->vertexB = i.vertexA;
}

static void JoinSeamPoints(BufModel *model, const LineInfo *ei, LineInfo *ej)
{
    const Ends i = {ei->pointA, ei->vertexA, ei->pointB, ei->vertexB};
    Ends j = {ej->pointA, ej->vertexA, ej->pointB, ej->vertexB};
    JoinSeamEnds(model, ei->polyIndex, i, &j);
    ej->pointA = j.pointA;
    ej->vertexA = j.vertexA;
    ej->pointB = j.pointB;
    ej->vertexB = j.vertexB;
}

// ---- classes --------------------------------------------------------------
//
// Which of the four rewrites a record takes in a join depends only on its
// four host points (previous, a, b, next) and on i's and j's, and what the
// rewrites write comes from i and j alone. So the records of a polygon with
// the same host points, a class, take the same rewrites: a join rewrites
// each class it reaches once, whatever its number of records. A class holds,
// per group of values (previous link, end a, next link, end b), the last
// value written to all of it and when. A class whose host points a join
// changes moves to its new tuple; if another class is there, one of the two
// is hung under the other, and writes to the upper one made before that do
// not reach the lower one's records. A record's value of a group is the
// latest write that reaches it: its own (the values it was entered with, or
// written to i or j alone) or one on its way up.
//
// Host points are numbered within the polygon, and each tuple is listed
// under its b and next (the records that lead into an edge, list 0) and
// under its previous and a (those that leave one, list 1): a join reaches
// the classes of four lists.

enum { GROUP_PREV_LINK = 0, GROUP_END_A = 1, GROUP_NEXT_LINK = 2, GROUP_END_B = 3 };

// Below this many records visiting every record of the polygon is as cheap.
const int kClassRecords = 32;
// Host points are numbered in 16 bits within a tuple's key.
const int kClassPoints = 65535;

namespace {

// Keys to dense numbers, open addressing; a value of -1 marks a free slot.
struct IdMap {
    uint64_t *keys;
    int32_t *values;
    int32_t mask;
    int32_t used;
};

struct Hosts {
    int32_t prev, a, b, next;
};

struct Values {
    int32_t v[4][2];
    int32_t tuple;
};

}  // namespace

struct SeamNode {
    int32_t parent;     // -1 at the top
    int32_t size;       // records below, for keeping the hanging shallow
    int32_t tuple;      // at the top: the class's host points
    int64_t hung;       // when it was hung under its parent
    int64_t stamp[4];   // per group: when value was written, -1 never
    int32_t value[4][2];
};

struct SeamTuple {
    uint64_t key;       // the four host point numbers, 16 bits each
    int32_t top;        // its class's top node, -1
    int32_t link[4];    // next and previous in its two lists
    int32_t pairOf[2];  // its pair in list 0 and in list 1
    int32_t mark;       // reached by the join under way
};

struct SeamClasses {
    IdMap pointIds;     // host point -> number
    LWPntID *ids;       // number -> host point
    int32_t h, idCap;
    IdMap tupleIds;     // packed host point numbers -> tuple
    IdMap pairIds;      // list and two host point numbers -> pair
    SeamTuple *tuples;
    int32_t tupleCount, tupleCap;
    int32_t *head;      // per pair: first tuple, -1
    int32_t pairCount, pairCap;
};

static int IdMapOpen(IdMap *map, int32_t slots)
{
    map->keys = (uint64_t *)malloc((size_t)slots * sizeof(uint64_t));
    map->values = (int32_t *)malloc((size_t)slots * sizeof(int32_t));
    map->mask = slots - 1;
    map->used = 0;
    if (!map->keys || !map->values)
        return 0;
    memset(map->values, 0xFF, (size_t)slots * sizeof(int32_t));
    return 1;
}

static void IdMapClose(IdMap *map)
{
    free(map->keys);
    free(map->values);
    map->keys = nullptr;
    map->values = nullptr;
}

static int32_t *IdMapSlot(const IdMap *map, uint64_t key)
{
    for (uint64_t at = KeyScramble(key);; at++) {
        uint64_t s = at & (uint64_t)map->mask;
        if (map->values[s] < 0 || map->keys[s] == key)
            return &map->values[s];
    }
}

static int32_t IdMapFind(const IdMap *map, uint64_t key)
{
    return *IdMapSlot(map, key);
}

// Adds a key not yet in the map; 0 without memory.
static int IdMapAdd(IdMap *map, uint64_t key, int32_t value)
{
    if (2 * ((int64_t)map->used + 1) > (int64_t)map->mask + 1) {
        IdMap bigger = {nullptr, nullptr, 0, 0};
        if ((int64_t)map->mask + 1 > ((int64_t)1 << 28) || !IdMapOpen(&bigger, 2 * (map->mask + 1))) {
            IdMapClose(&bigger);
            return 0;
        }
        for (int32_t s = 0; s <= map->mask; s++) {
            if (map->values[s] >= 0)
                IdMapAdd(&bigger, map->keys[s], map->values[s]);
        }
        IdMapClose(map);
        *map = bigger;
    }
    int32_t *slot = IdMapSlot(map, key);
    map->keys[slot - map->values] = key;
    *slot = value;
    map->used++;
    return 1;
}

// The array of `count` entries of `size` bytes with room for one more:
// itself, or a larger copy; null without memory (the array stays).
static void *Enlarged(void *array, int32_t count, int32_t *cap, size_t size)
{
    if (count < *cap)
        return array;
    int32_t more = *cap > 0 ? 2 * *cap : 16;
    void *grown = realloc(array, (size_t)more * size);
    if (grown)
        *cap = more;
    return grown;
}

static uint64_t PackHosts(const Hosts &x)
{
    return (uint64_t)x.prev << 48 | (uint64_t)x.a << 32 | (uint64_t)x.b << 16 | (uint64_t)x.next;
}

static Hosts HostsOf(const SeamClasses *c, int32_t t)
{
    uint64_t k = c->tuples[t].key;
    Hosts x = {(int32_t)(k >> 48), (int32_t)(k >> 32 & 0xFFFF), (int32_t)(k >> 16 & 0xFFFF),
               (int32_t)(k & 0xFFFF)};
    return x;
}

// The pair of (p, q) in a list; -1 when absent and not to be made, or
// without memory.
static int32_t PairOf(SeamClasses *c, int list, int32_t p, int32_t q, int make)
{
    uint64_t key = (uint64_t)list << 32 | (uint64_t)p << 16 | (uint64_t)q;
    int32_t id = IdMapFind(&c->pairIds, key);
    if (id >= 0 || !make)
        return id;
    void *head = Enlarged(c->head, c->pairCount, &c->pairCap, sizeof(int32_t));
    if (!head)
        return -1;
    c->head = (int32_t *)head;
    if (!IdMapAdd(&c->pairIds, key, c->pairCount))
        return -1;
    c->head[c->pairCount] = -1;
    return c->pairCount++;
}

// The tuple of the host points, made when absent; -1 without memory.
static int32_t TupleOf(SeamClasses *c, const Hosts &x)
{
    uint64_t key = PackHosts(x);
    int32_t t = IdMapFind(&c->tupleIds, key);
    if (t >= 0)
        return t;
    int32_t leading = PairOf(c, 0, x.b, x.next, 1);
    int32_t leaving = PairOf(c, 1, x.prev, x.a, 1);
    if (leading < 0 || leaving < 0)
        return -1;
    void *tuples = Enlarged(c->tuples, c->tupleCount, &c->tupleCap, sizeof(SeamTuple));
    if (!tuples)
        return -1;
    c->tuples = (SeamTuple *)tuples;
    if (!IdMapAdd(&c->tupleIds, key, c->tupleCount))
        return -1;
    t = c->tupleCount++;
    SeamTuple *tuple = &c->tuples[t];
    tuple->key = key;
    tuple->top = -1;
    tuple->pairOf[0] = leading;
    tuple->pairOf[1] = leaving;
    tuple->mark = 0;
    return t;
}

static void ListTuple(SeamClasses *c, int32_t t)
{
    for (int list = 0; list < 2; list++) {
        int32_t *head = &c->head[c->tuples[t].pairOf[list]];
        int32_t *links = &c->tuples[t].link[2 * list];
        links[0] = *head;
        links[1] = -1;
        if (*head >= 0)
            c->tuples[*head].link[2 * list + 1] = t;
        *head = t;
    }
}

static void UnlistTuple(SeamClasses *c, int32_t t)
{
    for (int list = 0; list < 2; list++) {
        const int32_t *links = &c->tuples[t].link[2 * list];
        if (links[1] >= 0)
            c->tuples[links[1]].link[2 * list] = links[0];
        else
            c->head[c->tuples[t].pairOf[list]] = links[0];
        if (links[0] >= 0)
            c->tuples[links[0]].link[2 * list + 1] = links[1];
    }
}

// The number of a host point, made when absent; -1 past kClassPoints or
// without memory.
static int32_t LocalId(SeamClasses *c, LWPntID id)
{
    int32_t k = IdMapFind(&c->pointIds, KeyOf(id));
    if (k >= 0)
        return k;
    if (c->h == kClassPoints)
        return -1;
    void *ids = Enlarged(c->ids, c->h, &c->idCap, sizeof(LWPntID));
    if (!ids)
        return -1;
    c->ids = (LWPntID *)ids;
    if (!IdMapAdd(&c->pointIds, KeyOf(id), c->h))
        return -1;
    c->ids[c->h] = id;
    return c->h++;
}

static void ClassesClose(SeamClasses *c)
{
    IdMapClose(&c->pointIds);
    IdMapClose(&c->tupleIds);
    IdMapClose(&c->pairIds);
    free(c->ids);
    free(c->tuples);
    free(c->head);
    memset(c, 0, sizeof *c);
}

// A new top node for tuple t, with no writes; -1 without memory.
static int32_t NewNode(SeamJoin *join, int32_t t)
{
    void *nodes = Enlarged(join->nodes, join->nodeCount, &join->nodeCap, sizeof(SeamNode));
    if (!nodes)
        return -1;
    join->nodes = (SeamNode *)nodes;
    SeamNode *node = &join->nodes[join->nodeCount];
    node->parent = -1;
    node->size = 0;
    node->tuple = t;
    node->hung = 0;
    for (int g = 0; g < 4; g++) {
        node->stamp[g] = -1;
        node->value[g][0] = node->value[g][1] = 0;
    }
    return join->nodeCount++;
}

// Record r's values and class, as the writes so far left them.
static Values Current(const SeamJoin *join, int r)
{
    Values out;
    int64_t best[4];
    for (int g = 0; g < 4; g++) {
        out.v[g][0] = join->ownValue[8 * (size_t)r + 2 * g];
        out.v[g][1] = join->ownValue[8 * (size_t)r + 2 * g + 1];
        best[g] = join->ownStamp[4 * (size_t)r + g];
    }
    out.tuple = -1;
    // The record was put under its node before any write to it.
    int64_t since = join->ownSince[r];
    for (int32_t n = join->nodeOf[r]; n >= 0; n = join->nodes[n].parent) {
        const SeamNode *node = &join->nodes[n];
        for (int g = 0; g < 4; g++) {
            if (node->stamp[g] > since && node->stamp[g] > best[g]) {
                best[g] = node->stamp[g];
                out.v[g][0] = node->value[g][0];
                out.v[g][1] = node->value[g][1];
            }
        }
        if (node->hung > since)
            since = node->hung;
        out.tuple = node->tuple;
    }
    return out;
}

static void SetOwn(SeamJoin *join, int r, const Values &v, int64_t stamp)
{
    for (int g = 0; g < 4; g++) {
        join->ownValue[8 * (size_t)r + 2 * g] = v.v[g][0];
        join->ownValue[8 * (size_t)r + 2 * g + 1] = v.v[g][1];
        join->ownStamp[4 * (size_t)r + g] = stamp;
    }
}

// Writes record r's values back into it.
static void Settle(SeamJoin *join, int r)
{
    SeamClasses *c = &join->classes[join->classOf[r]];
    Values v = Current(join, r);
    Hosts x = HostsOf(c, v.tuple);
    LineInfo *e = &join->edges[r];
    e->hostPrev = c->ids[x.prev];
    e->hostNext = c->ids[x.next];
    e->prevVertex = v.v[GROUP_PREV_LINK][0];
    e->pointA = v.v[GROUP_END_A][0];
    e->vertexA = v.v[GROUP_END_A][1];
    e->nextVertex = v.v[GROUP_NEXT_LINK][0];
    e->pointB = v.v[GROUP_END_B][0];
    e->vertexB = v.v[GROUP_END_B][1];
}

// Back to joining by records: every record of the polygon settled.
static void LeaveClasses(SeamJoin *join, int i)
{
    LWPolID poly = join->edges[i].hostPoly;
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0;
         k = KeyIndexNext(&join->byPoly, k)) {
        if (join->edges[k].hostPoly != poly || join->classOf[k] < 0)
            continue;
        Settle(join, k);
        join->classOf[k] = -2;
    }
}

static void MarkByRecords(SeamJoin *join, LWPolID poly)
{
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0;
         k = KeyIndexNext(&join->byPoly, k)) {
        if (join->edges[k].hostPoly == poly)
            join->classOf[k] = -2;
    }
}

static int BeginClasses(SeamJoin *join)
{
    size_t records = join->m > 0 ? (size_t)join->m : 1;
    join->classOf = (int32_t *)malloc(records * sizeof(int32_t));
    join->nodeOf = (int32_t *)malloc(records * sizeof(int32_t));
    join->ownValue = (int32_t *)malloc(records * 8 * sizeof(int32_t));
    join->ownStamp = (int64_t *)malloc(records * 4 * sizeof(int64_t));
    join->ownSince = (int64_t *)malloc(records * sizeof(int64_t));
    join->pairs = (int32_t *)malloc(records * 2 * sizeof(int32_t));
    join->linkedOnce = (unsigned char *)calloc(records, 1);
    join->classes = (SeamClasses *)calloc(records, sizeof(SeamClasses));
    if (!join->classOf || !join->nodeOf || !join->ownValue || !join->ownStamp || !join->ownSince ||
        !join->pairs || !join->linkedOnce || !join->classes) {
        free(join->classOf);
        join->classOf = nullptr;
        return 0;
    }
    for (size_t r = 0; r < records; r++)
        join->classOf[r] = -1;
    return 1;
}

// Enters i's polygon into classes when it qualifies; 0 when it is joined by
// records from now on.
static int EnterClasses(SeamJoin *join, int i)
{
    LWPolID poly = join->edges[i].hostPoly;
    int n = 0;
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0;
         k = KeyIndexNext(&join->byPoly, k))
        n += join->edges[k].hostPoly == poly;
    if (n < kClassRecords) {
        MarkByRecords(join, poly);
        return 0;
    }
    SeamClasses *c = &join->classes[join->classCount];
    memset(c, 0, sizeof *c);
    int32_t slots = 64;
    while (slots < 8 * n)
        slots *= 2;
    int ok = IdMapOpen(&c->pointIds, slots) &&
             IdMapOpen(&c->tupleIds, slots) && IdMapOpen(&c->pairIds, slots);
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); ok && k >= 0;
         k = KeyIndexNext(&join->byPoly, k)) {
        const LineInfo *e = &join->edges[k];
        if (e->hostPoly != poly)
            continue;
        Hosts x = {LocalId(c, e->hostPrev), LocalId(c, e->hostA), LocalId(c, e->hostB),
                   LocalId(c, e->hostNext)};
        int32_t t = x.prev < 0 || x.a < 0 || x.b < 0 || x.next < 0 ? -1 : TupleOf(c, x);
        if (t >= 0 && c->tuples[t].top < 0) {
            c->tuples[t].top = NewNode(join, t);
            if (c->tuples[t].top >= 0)
                ListTuple(c, t);
        }
        if (t < 0 || c->tuples[t].top < 0) {
            ok = 0;
            break;
        }
        join->pairs[2 * (size_t)k] = PairOf(c, 0, x.a, x.b, 1);
        join->pairs[2 * (size_t)k + 1] = PairOf(c, 1, x.a, x.b, 1);
        if (join->pairs[2 * (size_t)k] < 0 || join->pairs[2 * (size_t)k + 1] < 0) {
            ok = 0;
            break;
        }
        join->nodes[c->tuples[t].top].size++;
        join->nodeOf[k] = c->tuples[t].top;
        join->ownSince[k] = 0;
        Values v;
        v.v[GROUP_PREV_LINK][0] = e->prevVertex;
        v.v[GROUP_PREV_LINK][1] = 0;
        v.v[GROUP_END_A][0] = e->pointA;
        v.v[GROUP_END_A][1] = e->vertexA;
        v.v[GROUP_NEXT_LINK][0] = e->nextVertex;
        v.v[GROUP_NEXT_LINK][1] = 0;
        v.v[GROUP_END_B][0] = e->pointB;
        v.v[GROUP_END_B][1] = e->vertexB;
        SetOwn(join, k, v, 0);
    }
    // The records are untouched so far: those entered are simply dropped.
    if (!ok) {
        ClassesClose(c);
        MarkByRecords(join, poly);
        return 0;
    }
    int32_t index = join->classCount++;
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0;
         k = KeyIndexNext(&join->byPoly, k)) {
        if (join->edges[k].hostPoly == poly)
            join->classOf[k] = index;
    }
    return 1;
}

// What a join does to one class: its new host points and, per group, the
// value written last, if any.
struct SeamOutcome {
    int32_t tuple, to;
    Hosts hosts;
    int written[4];
    int32_t value[4][2];
    int intoI, leavesI;   // the class takes j's next link, or j's previous one
};

// JoinSeamNeighbour on a class's host points, with i's and j's values.
static void Simulate(SeamOutcome *out, Hosts k, const Hosts &i, const Values &vi, const Hosts &j,
                     const Values &vj)
{
    SeamOutcome &o = *out;
    for (int g = 0; g < 4; g++)
        o.written[g] = 0;
    o.intoI = o.leavesI = 0;
    auto write = [&](int g, int32_t v0, int32_t v1) {
        o.written[g] = 1;
        o.value[g][0] = v0;
        o.value[g][1] = v1;
    };
    if (k.b == j.a && k.next == j.b) {
        k.next = i.next;
        write(GROUP_NEXT_LINK, vi.v[GROUP_NEXT_LINK][0], 0);
        write(GROUP_END_B, vi.v[GROUP_END_B][0], vi.v[GROUP_END_B][1]);
    } else if (k.prev == j.a && k.a == j.b) {
        k.prev = i.prev;
        write(GROUP_PREV_LINK, vi.v[GROUP_PREV_LINK][0], 0);
        write(GROUP_END_A, vi.v[GROUP_END_A][0], vi.v[GROUP_END_A][1]);
    }
    if (k.b == i.a && k.next == i.b) {
        k.next = j.next;
        write(GROUP_NEXT_LINK, vj.v[GROUP_NEXT_LINK][0], 0);
        o.intoI = 1;
    } else if (k.prev == i.a && k.a == i.b) {
        k.prev = j.prev;
        write(GROUP_PREV_LINK, vj.v[GROUP_PREV_LINK][0], 0);
        o.leavesI = 1;
    }
    o.hosts = k;
}

// Puts top node n at tuple `to`, hanging it under the class there or that
// class under it.
static void Arrive(SeamJoin *join, SeamClasses *c, int32_t n, int32_t to)
{
    int32_t there = c->tuples[to].top;
    if (there < 0) {
        join->nodes[n].tuple = to;
        c->tuples[to].top = n;
        ListTuple(c, to);
        return;
    }
    int64_t now = ++join->clock;
    SeamNode *a = &join->nodes[n];
    SeamNode *b = &join->nodes[there];
    if (a->size > b->size) {
        b->parent = n;
        b->hung = now;
        a->size += b->size;
        a->tuple = to;
        c->tuples[to].top = n;
    } else {
        a->parent = there;
        a->hung = now;
        b->size += a->size;
    }
}

// j takes i's points (as JoinSeamPoints, on the two records' current
// values), and keeps its values from now on as its own; they are
// returned.
static Values JoinPointsOfClasses(SeamJoin *join, int i, int j, const Values &vi, Values vj,
                                  int64_t now)
{
    const Ends ei = {vi.v[GROUP_END_A][0], vi.v[GROUP_END_A][1], vi.v[GROUP_END_B][0],
                     vi.v[GROUP_END_B][1]};
    Ends ej = {vj.v[GROUP_END_A][0], vj.v[GROUP_END_A][1], vj.v[GROUP_END_B][0],
               vj.v[GROUP_END_B][1]};
    JoinSeamEnds(join->model, join->edges[i].polyIndex, ei, &ej);
    vj.v[GROUP_END_A][0] = ej.pointA;
    vj.v[GROUP_END_A][1] = ej.vertexA;
    vj.v[GROUP_END_B][0] = ej.pointB;
    vj.v[GROUP_END_B][1] = ej.vertexB;
    SetOwn(join, j, vj, now);
    return vj;
}

// Notes whether the join just decided, done once more with the same i and
// j, would leave every class as it leaves them: each class it reached, at
// its new host points, takes the same branches and is written what it
// already holds. Then after the join only i and j may hold what it would
// rewrite (their own values, which it does not reach), and i's next join,
// with a j' whose host points the rewrites tell from j's by nothing they
// write, rewrites j alone and, where j' holds other links than j, the
// classes that take them (JoinQuietly).
static void NoteQuiet(SeamJoin *join, int count, const Hosts &hi, const Values &vi, const Hosts &hj,
                      const Values &vj, int i)
{
    join->quietRecord = -1;
    join->quietCount[0] = join->quietCount[1] = 0;
    for (int n = 0; n < count; n++) {
        const SeamOutcome *o = &join->scratch[n];
        SeamOutcome again;
        Simulate(&again, o->hosts, hi, vi, hj, vj);
        if (again.hosts.prev != o->hosts.prev || again.hosts.next != o->hosts.next)
            return;
        for (int g = 0; g < 4; g++) {
            if (again.written[g] && (!o->written[g] || again.value[g][0] != o->value[g][0] ||
                                     again.value[g][1] != o->value[g][1]))
                return;
        }
        for (int x = 0; x < 2; x++) {
            int32_t *noted = &join->quietCount[x];
            if (!(x == 0 ? again.intoI : again.leavesI))
                continue;
            if (*noted < SEAM_QUIET_CLASSES)
                join->quietClasses[x][*noted] = o->to;
            if (*noted <= SEAM_QUIET_CLASSES)
                ++*noted;
        }
    }
    join->quietRecord = i;
}

// The join of i and j after a quiet one of i and q (NoteQuiet): q is
// rewritten as a record of its class would be, and j takes i's points.
// 0 when j differs from q in what the rewrites write.
static int JoinQuietly(SeamJoin *join, SeamClasses *c, int i, int j, const Values &vi,
                       const Values &vj)
{
    Values vq;
    static_assert(sizeof vq == sizeof join->quietValues, "q's values are kept as they are");
    memcpy(&vq, join->quietValues, sizeof vq);
    Hosts hj = HostsOf(c, vj.tuple);
    Hosts hq = HostsOf(c, vq.tuple);
    // The classes that take q's links must take the same host points from
    // j; where j's vertices there differ, those classes take j's.
    const int groups[2] = {GROUP_NEXT_LINK, GROUP_PREV_LINK};
    int rewrite[2];
    for (int x = 0; x < 2; x++) {
        int count = join->quietCount[x];
        if (count > 0 && (x == 0 ? hj.next != hq.next : hj.prev != hq.prev))
            return 0;
        rewrite[x] = count > 0 && vj.v[groups[x]][0] != vq.v[groups[x]][0];
        if (rewrite[x] && count > SEAM_QUIET_CLASSES)
            return 0;
    }
    SeamOutcome o;
    Simulate(&o, hq, HostsOf(c, vi.tuple), vi, hj, vj);
    if (o.hosts.prev != hq.prev || o.hosts.next != hq.next)
        return 0;
    int64_t now = ++join->clock;
    int reachesI = 0;
    for (int x = 0; x < 2; x++) {
        for (int n = 0; rewrite[x] && n < join->quietCount[x]; n++) {
            int32_t t = join->quietClasses[x][n];
            SeamNode *node = &join->nodes[c->tuples[t].top];
            node->value[groups[x]][0] = vj.v[groups[x]][0];
            node->value[groups[x]][1] = 0;
            node->stamp[groups[x]] = now;
            reachesI = reachesI || t == vi.tuple;
        }
    }
    // i keeps its values, as in every join.
    now = ++join->clock;
    if (reachesI)
        SetOwn(join, i, vi, now);
    int changed = 0;
    for (int g = 0; g < 4; g++) {
        if (o.written[g] && (vq.v[g][0] != o.value[g][0] || vq.v[g][1] != o.value[g][1])) {
            vq.v[g][0] = o.value[g][0];
            vq.v[g][1] = o.value[g][1];
            changed = 1;
        }
    }
    if (changed)
        SetOwn(join, join->quietJ, vq, now);
    join->quietJ = j;
    // Where j already runs over i's points the other way round, the
    // polygon's copy already holds them there too, and with nothing else
    // rewritten the join changes nothing (as most joins of a polygon that
    // stays on one point or walks a few edges).
    if (!changed && !rewrite[0] && !rewrite[1] &&
        vj.v[GROUP_END_A][0] == vi.v[GROUP_END_B][0] &&
        vj.v[GROUP_END_A][1] == vi.v[GROUP_END_B][1] &&
        vj.v[GROUP_END_B][0] == vi.v[GROUP_END_A][0] &&
        vj.v[GROUP_END_B][1] == vi.v[GROUP_END_A][1]) {
        memcpy(join->quietValues, &vj, sizeof vj);
        return 1;
    }
    Values after = JoinPointsOfClasses(join, i, j, vi, vj, now);
    memcpy(join->quietValues, &after, sizeof after);
    return 1;
}

// Back to joining i's polygon by records, for want of memory; 0.
static int GiveUpClasses(SeamJoin *join, int i)
{
    LeaveClasses(join, i);
    join->iRecord = -1;
    return 0;
}

// Lists in the scratch, once each, the classes a join of i and j reaches:
// those of j's pairs (B, A) and of i's (A, B). 0 without memory.
static int GatherClasses(SeamJoin *join, SeamClasses *c, int i, int j, int *count)
{
    const int32_t lists[4] = {join->pairs[2 * (size_t)j], join->pairs[2 * (size_t)j + 1],
                              join->pairs[2 * (size_t)i], join->pairs[2 * (size_t)i + 1]};
    *count = 0;
    for (int list = 0; list < 4; list++) {
        for (int32_t t = c->head[lists[list]]; t >= 0; t = c->tuples[t].link[2 * (list & 1)]) {
            if (c->tuples[t].mark)
                continue;
            void *scratch = Enlarged(join->scratch, *count, &join->scratchCap, sizeof(SeamOutcome));
            if (!scratch) {
                for (int n = 0; n < *count; n++)
                    c->tuples[join->scratch[n].tuple].mark = 0;
                return 0;
            }
            join->scratch = (SeamOutcome *)scratch;
            c->tuples[t].mark = 1;
            join->scratch[(*count)++].tuple = t;
        }
    }
    return 1;
}

// Decides what the join does to each class gathered, on the classes as
// they were before it. The tuples the classes move to, and nodes for i and
// j (`fresh`) where their class moves without them, are made before
// anything is written. 0 without memory.
static int DecideClasses(SeamJoin *join, SeamClasses *c, int count, const Hosts &hi, const Values &vi,
                         const Hosts &hj, const Values &vj, const int32_t tuples[2], int32_t fresh[2],
                         int *reachesI)
{
    int ok = 1;
    *reachesI = 0;
    for (int n = 0; n < count; n++) {
        SeamOutcome *o = &join->scratch[n];
        int32_t t = o->tuple;
        *reachesI = *reachesI || t == vi.tuple;
        c->tuples[t].mark = 0;
        Hosts was = HostsOf(c, t);
        Simulate(o, was, hi, vi, hj, vj);
        int32_t to = t;
        if (o->hosts.prev != was.prev || o->hosts.next != was.next)
            to = TupleOf(c, o->hosts);
        o->to = to;
        for (int x = 0; x < 2 && ok; x++) {
            if (to >= 0 && to != t && t == tuples[x]) {
                fresh[x] = NewNode(join, t);
                ok = fresh[x] >= 0;
            }
        }
        ok = ok && to >= 0;
    }
    return ok;
}

// Writes the decided values to the classes and moves those whose host
// points the join changed.
static void WriteClasses(SeamJoin *join, SeamClasses *c, int count)
{
    int64_t now = ++join->clock;
    for (int n = 0; n < count; n++) {
        const SeamOutcome *o = &join->scratch[n];
        SeamNode *node = &join->nodes[c->tuples[o->tuple].top];
        for (int g = 0; g < 4; g++) {
            if (!o->written[g])
                continue;
            node->value[g][0] = o->value[g][0];
            node->value[g][1] = o->value[g][1];
            node->stamp[g] = now;
        }
    }
    // Every moving class leaves its tuple before any arrives, so that a
    // class moving onto one that moves on is not carried along.
    int moving = 0;
    for (int n = 0; n < count; n++) {
        int32_t t = join->scratch[n].tuple;
        int32_t to = join->scratch[n].to;
        if (to == t)
            continue;
        UnlistTuple(c, t);
        join->scratch[moving].tuple = c->tuples[t].top;
        join->scratch[moving].to = to;
        moving++;
        c->tuples[t].top = -1;
    }
    for (int n = 0; n < moving; n++)
        Arrive(join, c, join->scratch[n].tuple, join->scratch[n].to);
}

// The join of i and j through their polygon's classes; 0 when there was no
// memory for it: then the polygon is joined by records from now on.
static int JoinThroughClasses(SeamJoin *join, int i, int j)
{
    SeamClasses *c = &join->classes[join->classOf[i]];
    // A join leaves i as it was, so i's values serve all its joins.
    Values vi;
    static_assert(sizeof vi == sizeof join->iValues, "i's values are kept as they are");
    if (join->iRecord == i) {
        memcpy(&vi, join->iValues, sizeof vi);
    } else {
        vi = Current(join, i);
        memcpy(join->iValues, &vi, sizeof vi);
        join->iRecord = i;
    }
    Values vj = Current(join, j);
    // Where a polygon walks a few points back and forth, most joins of a
    // record i come after a quiet one (NoteQuiet) and need not visit the
    // classes at all.
    if (join->quietRecord == i && JoinQuietly(join, c, i, j, vi, vj))
        return 1;
    join->quietRecord = -1;
    Hosts hi = HostsOf(c, vi.tuple);
    Hosts hj = HostsOf(c, vj.tuple);
    int count;
    if (!GatherClasses(join, c, i, j, &count))
        return GiveUpClasses(join, i);
    const int records[2] = {i, j};
    const int32_t tuples[2] = {vi.tuple, vj.tuple};
    int32_t fresh[2] = {-1, -1};
    int reachesI;
    if (!DecideClasses(join, c, count, hi, vi, hj, vj, tuples, fresh, &reachesI))
        return GiveUpClasses(join, i);
    if (fresh[0] < 0 && fresh[1] < 0)
        NoteQuiet(join, count, hi, vi, hj, vj, i);
    WriteClasses(join, c, count);
    // A join never moves i or j: where their class moved, they stay behind
    // on nodes of their own.
    for (int x = 0; x < 2; x++) {
        if (fresh[x] < 0)
            continue;
        join->nodes[fresh[x]].size = 1;
        Arrive(join, c, fresh[x], tuples[x]);
        join->nodeOf[records[x]] = fresh[x];
        join->ownSince[records[x]] = ++join->clock;
    }

    // i keeps its values; only writes to i's class reach it.
    int64_t now = ++join->clock;
    if (reachesI)
        SetOwn(join, i, vi, now);
    Values after = JoinPointsOfClasses(join, i, j, vi, vj, now);
    if (join->quietRecord == i) {
        join->quietJ = j;
        memcpy(join->quietValues, &after, sizeof after);
    }
    return 1;
}

void SeamJoinOpen(SeamJoin *join, BufModel *model, LineInfo *edges, int m)
{
    memset(join, 0, sizeof *join);
    join->model = model;
    join->edges = edges;
    join->m = m;
    join->iRecord = -1;
    join->quietRecord = -1;
}

void SeamJoinEdges(SeamJoin *join, int i, int j)
{
    if (!join->byPolyOpen) {
        KeyIndexOpen(&join->byPoly, join->m);
        for (int r = 0; r < join->m; r++)
            KeyIndexAdd(&join->byPoly, r, KeyOf(join->edges[r].hostPoly), 0);
        join->byPolyOpen = 1;
        BeginClasses(join);
    }
    if (join->classOf) {
        if (join->classOf[i] == -1)
            EnterClasses(join, i);
        if (join->classOf[i] >= 0 && JoinThroughClasses(join, i, j))
            return;
    }
    join->quietRecord = -1;
    // Without classes: every record of the polygon.
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

int SeamJoinLinked(SeamJoin *join, int r)
{
    // A join writes only links that i and j hold, and both are linked: a
    // record once linked stays linked.
    if (join->classOf && join->classOf[r] >= 0) {
        if (join->linkedOnce[r])
            return 1;
        Values v = Current(join, r);
        join->linkedOnce[r] = v.v[GROUP_PREV_LINK][0] != -1 && v.v[GROUP_NEXT_LINK][0] != -1;
        return join->linkedOnce[r];
    }
    return join->edges[r].prevVertex != -1 && join->edges[r].nextVertex != -1;
}

void SeamJoinClose(SeamJoin *join)
{
    if (join->classOf) {
        for (int r = 0; r < join->m; r++) {
            if (join->classOf[r] >= 0)
                Settle(join, r);
        }
        for (int k = 0; k < join->classCount; k++)
            ClassesClose(&join->classes[k]);
    }
    free(join->classOf);
    free(join->nodeOf);
    free(join->ownValue);
    free(join->ownStamp);
    free(join->ownSince);
    free(join->pairs);
    free(join->linkedOnce);
    free(join->nodes);
    free(join->classes);
    free(join->scratch);
    if (join->byPolyOpen)
        KeyIndexClose(&join->byPoly);
    memset(join, 0, sizeof *join);
}
