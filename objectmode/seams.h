// Joining a slit polygon's seams for the chamfer strips: where one polygon
// runs along the same two host points twice, in opposite directions, both
// traversals take one pair of buffered points and the records next to the
// seam are linked across it (the drawing is in seams.cpp).
//
// A join rewrites the polygon's records that lead into or leave either
// traversal, found by their host points: the point they end at and the one
// after it, or the one before them and the point they start at. A polygon
// that walks a few points back and forth has hundreds of such records per
// join and as many joins per record, and nearly every rewrite writes what
// the record already holds. So the records are indexed by those two host
// points, with a count per index entry of the records that already hold
// each value a rewrite may write: a join that would change nothing is known
// to in a few lookups, and only a join that changes something visits the
// records it may change. Where the joins keep changing most of a polygon's
// records anyway (a polygon that stays on one point, or walks one edge back
// and forth), keeping the table costs more than it saves: it is given up and
// each join visits every record of the polygon. Either way the result is
// the same, bit for bit, as visiting every record of the polygon in each
// join.
#ifndef CORVANE_OBJECTMODE_SEAMS_H
#define CORVANE_OBJECTMODE_SEAMS_H

#include <stdint.h>

#include "bufmodel/bufmodel.h"
#include "index/keyindex.h"
#include "records/records.h"

struct SeamSlot;

struct SeamJoin {
    BufModel *model;
    LineInfo *edges;
    int32_t m;
    // The records of each host polygon, built at the first join.
    KeyIndex byPoly;
    int byPolyOpen;
    // The table of the records by their host points (see seams.cpp), its
    // polygons entered at their first join; null until then. Without memory
    // for it, or once given up (failed), the joins visit the polygon's
    // records through byPoly.
    SeamSlot *slots;
    int32_t slotMask;
    int32_t slotsUsed;
    int32_t *link;            // per record: next and previous in its two lists
    unsigned char *entered;   // per record: listed in the table
    unsigned char *taken;     // per record: among the records of this join
    int32_t *visit;           // the records this join may change
    int32_t turns;            // records listed that turn back (see seams.cpp)
    int32_t *polyRecords;     // per entered record: its polygon's record count
    // What the joins cost through the table and would have cost by visiting
    // every record of the polygon (see SeamJoinEdges).
    int64_t visited;
    int64_t scanned;
    int failed;
};

// Prepares the joins over the m records; nothing is allocated until the
// first join. Never fails.
void SeamJoinOpen(SeamJoin *join, BufModel *model, LineInfo *edges, int m);
// Joins the seam of records i (A to B) and j (B to A) of one host polygon:
// the polygon's other records, j and the polygon's copy in the model are
// rewritten.
void SeamJoinEdges(SeamJoin *join, int i, int j);
// Releases what the joins allocated.
void SeamJoinClose(SeamJoin *join);

#endif
