// The records leaving each host point: a dense numbering of the host points
// (index/'s KeyNumbers), then the records counted and placed per point in one
// stable pass, so that each point's list keeps the array order.
#include "objectmode/adjacency.h"

#include <stdlib.h>

static void Release(EdgeAdjacency *adj)
{
    KeyNumbersClose(&adj->numbering);
    free(adj->from);
    free(adj->to);
    free(adj->start);
    free(adj->list);
    free(adj->listTo);
    free(adj->crowded);
    adj->crowded = nullptr;
    adj->from = adj->to = adj->start = adj->list = adj->listTo = nullptr;
}

static void Degrade(EdgeAdjacency *adj)
{
    Release(adj);
    adj->degraded = 1;
    adj->points = 1;
}

// The number of `id`, numbering it when new; -1 without memory.
static int32_t Number(EdgeAdjacency *adj, LWPntID id)
{
    return KeyNumbersAdd(&adj->numbering, KeyOf(id));
}

// Numbers host point a and b of every record. Within a polygon's run of
// records host point b is host point a of the next record, so that number
// is taken from the next record (after comparing the ids) instead of being
// looked up again.
static int NumberPoints(EdgeAdjacency *adj, const LineInfo *edges)
{
    for (int r = 0; r < adj->m; r++) {
        if (r > 0 && edges[r].hostA == edges[r - 1].hostB && adj->to[r - 1] >= 0)
            adj->from[r] = adj->to[r - 1];
        else if ((adj->from[r] = Number(adj, edges[r].hostA)) < 0)
            return 0;
        adj->to[r] = -1;
        if (r + 1 < adj->m && edges[r].hostB == edges[r + 1].hostA)
            continue;  // numbered with the next record, below
        if ((adj->to[r] = Number(adj, edges[r].hostB)) < 0)
            return 0;
    }
    // Fill in the deferred numbers from the end, each from its successor.
    for (int r = adj->m - 2; r >= 0; r--) {
        if (adj->to[r] < 0)
            adj->to[r] = adj->from[r + 1];
    }
    adj->points = adj->numbering.count;
    return 1;
}

static void Build(EdgeAdjacency *adj, const LineInfo *edges, int m);

// The records between two points, either way, counted up to three.
static int CountBetween(const EdgeAdjacency *adj, int p, int q)
{
    int count = 0;
    for (int32_t e = adj->start[p]; e < adj->start[p + 1] && count < 3; e++)
        count += adj->listTo[e] == q;
    // A record from a point to itself runs between them once.
    for (int32_t e = adj->start[q]; p != q && e < adj->start[q + 1] && count < 3; e++)
        count += adj->listTo[e] == p;
    return count;
}

// Marks both ends of every crowded edge. The numbering is exact (one number
// per host point), so the lists alone tell it, without reading a record.
// 0 without memory.
static int MarkCrowded(EdgeAdjacency *adj)
{
    adj->crowded = (unsigned char *)calloc(adj->points > 0 ? (size_t)adj->points : 1, 1);
    if (!adj->crowded)
        return 0;
    for (int p = 0; p < adj->points; p++) {
        for (int32_t e = adj->start[p]; e < adj->start[p + 1]; e++) {
            int q = adj->listTo[e];
            if (CountBetween(adj, p, q) >= 3) {
                adj->crowded[p] = 1;
                adj->crowded[q] = 1;
            }
        }
    }
    return 1;
}

// The index the object mode's passes share, built by the first Open over
// the shared array.
struct SharedAdjacency {
    const LineInfo *edges;
    int m;
    int built;
    EdgeAdjacency index;
};

SharedAdjacency *EdgeAdjacencyShare(const LineInfo *edges, int m)
{
    SharedAdjacency *shared = (SharedAdjacency *)calloc(1, sizeof(SharedAdjacency));
    if (!shared)
        return nullptr;
    shared->edges = edges;
    shared->m = m;
    return shared;
}

void EdgeAdjacencyUnshare(SharedAdjacency *shared)
{
    if (!shared)
        return;
    if (shared->built)
        Release(&shared->index);
    free(shared);
}

void EdgeAdjacencyOpen(SharedAdjacency *shared, EdgeAdjacency *adj, const LineInfo *edges, int m)
{
    if (shared && edges && edges == shared->edges && m == shared->m) {
        if (!shared->built) {
            Build(&shared->index, edges, m);
            shared->built = 1;
        }
        *adj = shared->index;
        adj->shared = 1;
        return;
    }
    Build(adj, edges, m);
}

static void Build(EdgeAdjacency *adj, const LineInfo *edges, int m)
{
    adj->shared = 0;
    adj->m = m > 0 ? m : 0;
    adj->points = 0;
    adj->degraded = 0;
    size_t records = adj->m > 0 ? (size_t)adj->m : 1;
    // A closed quad mesh has a quarter as many points as records.
    int numbered = KeyNumbersOpen(&adj->numbering, adj->m / 4);
    adj->from = (int32_t *)malloc(records * sizeof(int32_t));
    adj->to = (int32_t *)malloc(records * sizeof(int32_t));
    adj->list = (int32_t *)malloc(records * sizeof(int32_t));
    adj->listTo = (int32_t *)malloc(records * sizeof(int32_t));
    adj->start = nullptr;
    adj->crowded = nullptr;
    if (!numbered || !adj->from || !adj->to || !adj->list || !adj->listTo) {
        Degrade(adj);
        return;
    }
    if (!NumberPoints(adj, edges)) {
        Degrade(adj);
        return;
    }

    // Count the records leaving each point, then place them in array order.
    adj->start = (int32_t *)calloc((size_t)adj->points + 1, sizeof(int32_t));
    if (!adj->start) {
        Degrade(adj);
        return;
    }
    for (int r = 0; r < adj->m; r++)
        adj->start[adj->from[r] + 1]++;
    for (int p = 0; p < adj->points; p++)
        adj->start[p + 1] += adj->start[p];
    int32_t *fill = (int32_t *)malloc(((size_t)adj->points + 1) * sizeof(int32_t));
    if (!fill) {
        Degrade(adj);
        return;
    }
    for (int p = 0; p <= adj->points; p++)
        fill[p] = adj->start[p];
    for (int r = 0; r < adj->m; r++) {
        int32_t e = fill[adj->from[r]]++;
        adj->list[e] = r;
        adj->listTo[e] = adj->to[r];
    }
    free(fill);
    if (!MarkCrowded(adj))
        Degrade(adj);
}

void EdgeAdjacencyClose(EdgeAdjacency *adj)
{
    if (adj->shared) {
        adj->shared = 0;
        adj->m = 0;
        adj->points = 0;
        return;
    }
    Release(adj);
    adj->m = 0;
    adj->points = 0;
}

EdgeCursor EdgesLeavingAfter(const EdgeAdjacency *adj, int from, int arrival, int after)
{
    EdgeCursor c = EdgesLeaving(adj, from, arrival);
    if (adj->degraded) {
        if (after + 1 > c.at)
            c.at = after + 1 < c.end ? after + 1 : c.end;
        return c;
    }
    // A list holds its records in array order.
    int32_t low = c.at, high = c.end;
    while (low < high) {
        int32_t mid = low + (high - low) / 2;
        if (adj->list[mid] <= after)
            low = mid + 1;
        else
            high = mid;
    }
    c.at = low;
    return c;
}

int EdgeIsCrowded(const EdgeAdjacency *adj, const LineInfo *edges, LWPntID u, LWPntID v)
{
    int nu = EdgePointNumber(adj, u), nv = EdgePointNumber(adj, v);
    if (nu < 0 || nv < 0 || !EdgePointCrowded(adj, nu) || !EdgePointCrowded(adj, nv))
        return 0;
    int count = 0;
    EdgeCursor c = EdgesLeaving(adj, nu, nv);
    for (int r = EdgeCursorNext(&c); r >= 0 && count < 3; r = EdgeCursorNext(&c))
        count += edges[r].hostA == u && edges[r].hostB == v;
    c = EdgesLeaving(adj, nv, nu);
    for (int r = EdgeCursorNext(&c); u != v && r >= 0 && count < 3; r = EdgeCursorNext(&c))
        count += edges[r].hostA == v && edges[r].hostB == u;
    return count >= 3;
}

int EdgePointNumber(const EdgeAdjacency *adj, LWPntID id)
{
    if (adj->degraded)
        return 0;
    return KeyNumbersFind(&adj->numbering, KeyOf(id));
}

void EdgePointPrefetch(const EdgeAdjacency *adj, LWPntID id)
{
    if (!adj->degraded)
        KeyNumbersPrefetch(&adj->numbering, KeyOf(id));
}
