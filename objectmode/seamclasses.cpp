// The classes' storage and bookkeeping: numbering a polygon's host points,
// tuples and pairs, the nodes records hang under, and reading a record's
// values back through them.
#include "objectmode/seamclasses.h"

#include <stdlib.h>
#include <string.h>

void *SeamEnlarged(void *array, int32_t count, int32_t *cap, size_t size)
{
    if (count < *cap)
        return array;
    int32_t more = *cap > 0 ? 2 * *cap : 16;
    void *grown = realloc(array, (size_t)more * size);
    if (grown)
        *cap = more;
    return grown;
}

static uint64_t PackHosts(const SeamHosts &x)
{
    return (uint64_t)x.prev << 48 | (uint64_t)x.a << 32 | (uint64_t)x.b << 16 | (uint64_t)x.next;
}

SeamHosts SeamHostsOf(const SeamClasses *c, int32_t t)
{
    uint64_t k = c->tuples[t].key;
    SeamHosts x = {(int32_t)(k >> 48), (int32_t)(k >> 32 & 0xFFFF), (int32_t)(k >> 16 & 0xFFFF),
                   (int32_t)(k & 0xFFFF)};
    return x;
}

// The pair of (p, q) in a list; -1 when absent and not to be made, or
// without memory.
static int32_t PairOf(SeamClasses *c, int list, int32_t p, int32_t q, int make)
{
    uint64_t key = (uint64_t)list << 32 | (uint64_t)p << 16 | (uint64_t)q;
    int32_t id = KeyNumbersFind(&c->pairIds, key);
    if (id >= 0 || !make)
        return id;
    void *head = SeamEnlarged(c->head, c->pairIds.count, &c->pairCap, sizeof(int32_t));
    if (!head)
        return -1;
    c->head = (int32_t *)head;
    id = KeyNumbersAdd(&c->pairIds, key);
    if (id >= 0)
        c->head[id] = -1;
    return id;
}

int32_t SeamTupleOf(SeamClasses *c, const SeamHosts &x)
{
    uint64_t key = PackHosts(x);
    int32_t t = KeyNumbersFind(&c->tupleIds, key);
    if (t >= 0)
        return t;
    int32_t leading = PairOf(c, 0, x.b, x.next, 1);
    int32_t leaving = PairOf(c, 1, x.prev, x.a, 1);
    if (leading < 0 || leaving < 0)
        return -1;
    void *tuples = SeamEnlarged(c->tuples, c->tupleIds.count, &c->tupleCap, sizeof(SeamTuple));
    if (!tuples)
        return -1;
    c->tuples = (SeamTuple *)tuples;
    t = KeyNumbersAdd(&c->tupleIds, key);
    if (t < 0)
        return -1;
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

void SeamUnlistTuple(SeamClasses *c, int32_t t)
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

// The number of a host point, made when absent; -1 past kSeamClassPoints
// or without memory.
static int32_t LocalId(SeamClasses *c, LWPntID id)
{
    int32_t k = KeyNumbersFind(&c->pointIds, KeyOf(id));
    if (k >= 0)
        return k;
    if (c->pointIds.count == kSeamClassPoints)
        return -1;
    void *ids = SeamEnlarged(c->ids, c->pointIds.count, &c->idCap, sizeof(LWPntID));
    if (!ids)
        return -1;
    c->ids = (LWPntID *)ids;
    k = KeyNumbersAdd(&c->pointIds, KeyOf(id));
    if (k >= 0)
        c->ids[k] = id;
    return k;
}

static void ClassesClose(SeamClasses *c)
{
    KeyNumbersClose(&c->pointIds);
    KeyNumbersClose(&c->tupleIds);
    KeyNumbersClose(&c->pairIds);
    free(c->ids);
    free(c->tuples);
    free(c->head);
    memset(c, 0, sizeof *c);
}

int32_t SeamNewNode(SeamJoin *join, int32_t t)
{
    void *nodes = SeamEnlarged(join->nodes, join->nodeCount, &join->nodeCap, sizeof(SeamNode));
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

SeamValues SeamCurrent(const SeamJoin *join, int r)
{
    SeamValues out;
    int64_t best[4];
    for (int g = 0; g < 4; g++) {
        out.v[g][0] = join->records[r].ownValue[g][0];
        out.v[g][1] = join->records[r].ownValue[g][1];
        best[g] = join->records[r].ownStamp[g];
    }
    out.tuple = -1;
    // The record was put under its node before any write to it.
    int64_t since = join->records[r].ownSince;
    for (int32_t n = join->records[r].nodeOf; n >= 0; n = join->nodes[n].parent) {
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

void SeamSetOwn(SeamJoin *join, int r, const SeamValues &v, int64_t stamp)
{
    for (int g = 0; g < 4; g++) {
        join->records[r].ownValue[g][0] = v.v[g][0];
        join->records[r].ownValue[g][1] = v.v[g][1];
        join->records[r].ownStamp[g] = stamp;
    }
}

// Writes record r's values back into it.
static void Settle(SeamJoin *join, int r)
{
    SeamClasses *c = &join->classes[join->records[r].classOf];
    SeamValues v = SeamCurrent(join, r);
    SeamHosts x = SeamHostsOf(c, v.tuple);
    LineInfo *e = &join->edges[r];
    e->hostPrev = c->ids[x.prev];
    e->hostNext = c->ids[x.next];
    e->prevVertex = v.v[SEAM_PREV_LINK][0];
    e->pointA = v.v[SEAM_END_A][0];
    e->vertexA = v.v[SEAM_END_A][1];
    e->nextVertex = v.v[SEAM_NEXT_LINK][0];
    e->pointB = v.v[SEAM_END_B][0];
    e->vertexB = v.v[SEAM_END_B][1];
}

void SeamLeaveClasses(SeamJoin *join, int i)
{
    LWPolID poly = join->edges[i].hostPoly;
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0; k = KeyIndexNext(&join->byPoly, k)) {
        if (join->edges[k].hostPoly != poly || join->records[k].classOf < 0)
            continue;
        Settle(join, k);
        join->records[k].classOf = -2;
    }
}

static void MarkByRecords(SeamJoin *join, LWPolID poly)
{
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0; k = KeyIndexNext(&join->byPoly, k)) {
        if (join->edges[k].hostPoly == poly)
            join->records[k].classOf = -2;
    }
}

int SeamBeginClasses(SeamJoin *join)
{
    size_t records = join->m > 0 ? (size_t)join->m : 1;
    join->records = (SeamRecord *)malloc(records * sizeof(SeamRecord));
    join->classes = (SeamClasses *)calloc(records, sizeof(SeamClasses));
    if (!join->records || !join->classes) {
        free(join->records);
        join->records = nullptr;
        return 0;
    }
    for (size_t r = 0; r < records; r++)
        join->records[r].classOf = -1;
    return 1;
}

int SeamEnterClasses(SeamJoin *join, int i)
{
    LWPolID poly = join->edges[i].hostPoly;
    int n = 0;
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0; k = KeyIndexNext(&join->byPoly, k))
        n += join->edges[k].hostPoly == poly;
    if (n < kSeamClassRecords) {
        MarkByRecords(join, poly);
        return 0;
    }
    SeamClasses *c = &join->classes[join->classCount];
    memset(c, 0, sizeof *c);
    // Room for four keys a record in each numbering before any grows.
    int ok = KeyNumbersOpen(&c->pointIds, 4 * n) && KeyNumbersOpen(&c->tupleIds, 4 * n) &&
             KeyNumbersOpen(&c->pairIds, 4 * n);
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); ok && k >= 0;
         k = KeyIndexNext(&join->byPoly, k)) {
        const LineInfo *e = &join->edges[k];
        if (e->hostPoly != poly)
            continue;
        SeamHosts x = {LocalId(c, e->hostPrev), LocalId(c, e->hostA), LocalId(c, e->hostB),
                       LocalId(c, e->hostNext)};
        int32_t t = x.prev < 0 || x.a < 0 || x.b < 0 || x.next < 0 ? -1 : SeamTupleOf(c, x);
        if (t >= 0 && c->tuples[t].top < 0) {
            c->tuples[t].top = SeamNewNode(join, t);
            if (c->tuples[t].top >= 0)
                ListTuple(c, t);
        }
        if (t < 0 || c->tuples[t].top < 0) {
            ok = 0;
            break;
        }
        join->records[k].pairs[0] = PairOf(c, 0, x.a, x.b, 1);
        join->records[k].pairs[1] = PairOf(c, 1, x.a, x.b, 1);
        if (join->records[k].pairs[0] < 0 || join->records[k].pairs[1] < 0) {
            ok = 0;
            break;
        }
        join->nodes[c->tuples[t].top].size++;
        join->records[k].nodeOf = c->tuples[t].top;
        join->records[k].ownSince = 0;
        SeamValues v;
        v.v[SEAM_PREV_LINK][0] = e->prevVertex;
        v.v[SEAM_PREV_LINK][1] = 0;
        v.v[SEAM_END_A][0] = e->pointA;
        v.v[SEAM_END_A][1] = e->vertexA;
        v.v[SEAM_NEXT_LINK][0] = e->nextVertex;
        v.v[SEAM_NEXT_LINK][1] = 0;
        v.v[SEAM_END_B][0] = e->pointB;
        v.v[SEAM_END_B][1] = e->vertexB;
        SeamSetOwn(join, k, v, 0);
    }
    // The records are untouched so far: those entered are simply dropped.
    if (!ok) {
        ClassesClose(c);
        MarkByRecords(join, poly);
        return 0;
    }
    int32_t index = join->classCount++;
    for (int k = KeyIndexFirst(&join->byPoly, KeyOf(poly), 0); k >= 0; k = KeyIndexNext(&join->byPoly, k)) {
        if (join->edges[k].hostPoly == poly)
            join->records[k].classOf = index;
    }
    return 1;
}

void SeamArrive(SeamJoin *join, SeamClasses *c, int32_t n, int32_t to)
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

void SeamEndClasses(SeamJoin *join)
{
    if (join->records) {
        for (int r = 0; r < join->m; r++) {
            if (join->records[r].classOf >= 0)
                Settle(join, r);
        }
        for (int k = 0; k < join->classCount; k++)
            ClassesClose(&join->classes[k]);
    }
    free(join->records);
    free(join->nodes);
    free(join->classes);
}
