// Which edge records leave each host point: the index through which the
// chamfer strips and the corner patches find the records that share host
// points with a record, instead of scanning the whole array.
//
// The host points that the records carry (host point a and b) are numbered
// once, densely, in a hash table; then the records leaving each point are
// listed in array order, each entry with the number of the point its record
// arrives at. "The first record in array order with host points (a, b)" is
// then the first entry of a's list whose arrival is b: the same record a
// scan from record 0 finds.
//
// The index reads host point a and b of each record when it is built; the
// passes that use it never change them. Without memory it degrades to the
// plain scan: every list holds every record. Callers therefore always test a
// candidate's full condition on the record itself.
#ifndef CORVANE_OBJECTMODE_ADJACENCY_H
#define CORVANE_OBJECTMODE_ADJACENCY_H

#include <stdint.h>

#include "context/context.h"
#include "index/keyindex.h"
#include "objectmode/objectmode.h"

struct EdgeAdjacency {
    int32_t m;               // records
    int32_t points;          // distinct host points numbered
    KeyNumbers numbering;    // host point -> its number
    int32_t *from;           // per record: number of host point a
    int32_t *to;             // per record: number of host point b
    int32_t *start;          // per point number, and one more: its first list entry
    int32_t *list;           // records grouped by the point they leave, in array order
    int32_t *listTo;         // per entry: number of the point its record arrives at
    unsigned char *crowded;  // per point number: 1 when an edge at the point is crowded
    int degraded;            // no memory: every list is the whole array
    int shared;              // the index kept by EdgeAdjacencyShare: Close keeps it
};

// Records leaving one point, optionally only those arriving at another.
struct EdgeCursor {
    const EdgeAdjacency *adj;
    int32_t at;
    int32_t end;
    int32_t arrival;  // point number the records must arrive at, -1 for any
};

// Builds the index over records 0 .. m - 1 (or takes `shared`, see below,
// when it is one of this array; it may be null). Close releases what Open
// built.
void EdgeAdjacencyOpen(SharedAdjacency *shared, EdgeAdjacency *adj, const LineInfo *edges, int m);
void EdgeAdjacencyClose(EdgeAdjacency *adj);

// Lets the object mode's passes that open an index over exactly this array
// of m records share one: the first Open given it builds it, later ones get
// it as it is, Close leaves it, and Unshare releases it. Null without
// memory (each pass then builds its own). The caller guarantees that no
// record's host points a and b change until Unshare. Unshare of null does
// nothing.
SharedAdjacency *EdgeAdjacencyShare(const LineInfo *edges, int m);
void EdgeAdjacencyUnshare(SharedAdjacency *shared);

// The number of a host point, or -1 when no record carries it (always 0 when
// degraded).
int EdgePointNumber(const EdgeAdjacency *adj, LWPntID id);
// Fetches the numbering's slot of `id` ahead of EdgePointNumber.
void EdgePointPrefetch(const EdgeAdjacency *adj, LWPntID id);

// Numbers of host point a and b of record r (0 when degraded).
inline int EdgeFrom(const EdgeAdjacency *adj, int r)
{
    return adj->degraded ? 0 : adj->from[r];
}
inline int EdgeTo(const EdgeAdjacency *adj, int r)
{
    return adj->degraded ? 0 : adj->to[r];
}

// The records leaving point number `from` that may arrive at point number
// `arrival` (-1: any), in array order. A `from` of -1 gives none.
inline EdgeCursor EdgesLeaving(const EdgeAdjacency *adj, int from, int arrival)
{
    EdgeCursor c;
    c.adj = adj;
    c.arrival = adj->degraded ? -1 : arrival;
    if (adj->degraded) {
        c.at = 0;
        c.end = adj->m;
    } else if (from < 0 || from >= adj->points) {
        c.at = c.end = 0;
    } else {
        c.at = adj->start[from];
        c.end = adj->start[from + 1];
    }
    return c;
}

// Whether the point numbered `number` has a crowded edge: three or more
// records run between it and one other point, either way. Always 1 when
// degraded, where the caller must ask EdgeIsCrowded of each edge.
inline int EdgePointCrowded(const EdgeAdjacency *adj, int number)
{
    return adj->degraded || (number >= 0 && number < adj->points && adj->crowded[number]);
}

// Whether three or more records run between host points u and v, either way.
int EdgeIsCrowded(const EdgeAdjacency *adj, const LineInfo *edges, LWPntID u, LWPntID v);

// EdgesLeaving without the records up to `after`, which are passed over
// without being read: where many records leave one point, a caller that
// wants only the later ones would otherwise step over all the earlier.
EdgeCursor EdgesLeavingAfter(const EdgeAdjacency *adj, int from, int arrival, int after);

// The next record of the cursor, or -1.
inline int EdgeCursorNext(EdgeCursor *c)
{
    const EdgeAdjacency *adj = c->adj;
    if (adj->degraded)
        return c->at < c->end ? c->at++ : -1;
    while (c->at < c->end) {
        int32_t e = c->at++;
        if (c->arrival < 0 || adj->listTo[e] == c->arrival)
            return adj->list[e];
    }
    return -1;
}

#endif
