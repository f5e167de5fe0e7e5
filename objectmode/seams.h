// Joining a slit polygon's seams for the chamfer strips: where one polygon
// runs along the same two host points twice, in opposite directions, both
// traversals take one pair of buffered points and the records next to the
// seam are linked across it (the drawing is in seams.cpp).
//
// A join rewrites the polygon's records that lead into or leave either
// traversal, found by their host points: the point they end at and the one
// after it, or the one before them and the point they start at. A polygon
// that walks a few points back and forth has hundreds of such records per
// join and as many joins per record. So a polygon of many records is joined
// by classes: its records with the same four host points take the same
// rewrites, so a join rewrites each class once, lazily, whatever its number
// of records (see seamclasses.h). Where a polygon stays on one point or
// walks a few edges back and forth, nearly all its records fall in a few
// classes.
// A polygon of fewer records than the classes pay for, or one without
// memory for them, is joined by visiting every record of the polygon in
// each join, which is the result the classes give, bit for bit.
//
// A record i is joined with each of its partners j in turn, and after the
// first of them the classes mostly stand as the same join would leave them
// again. Then a join differs from the last one only at its j: the last j
// is rewritten alone, the few classes that take j's links take the new j's
// where they differ, and the new j takes i's points, without a visit of the
// classes.
#ifndef CORVANE_OBJECTMODE_SEAMS_H
#define CORVANE_OBJECTMODE_SEAMS_H

#include <stdint.h>

#include "bufmodel/bufmodel.h"
#include "index/keyindex.h"
#include "records/records.h"

struct SeamRecord;
struct SeamNode;
struct SeamClasses;
struct SeamOutcome;

enum { SEAM_QUIET_CLASSES = 8 };

struct SeamJoin {
    BufModel *model;
    LineInfo *edges;
    int32_t m;
    // The records of each host polygon, built at the first join.
    KeyIndex byPoly;
    int byPolyOpen;
    // The polygons joined by classes: per record, its polygon's entry in
    // `classes`, its node and the values it was last given alone.
    SeamRecord *records;
    SeamNode *nodes;
    int32_t nodeCount, nodeCap;
    SeamClasses *classes;
    int32_t classCount;
    SeamOutcome *scratch;  // the classes one join reaches, and what it does to them
    int32_t scratchCap;
    int64_t clock;
    // Record i whose last join left every class of its polygon as that join
    // would leave it again (-1 none; see NoteQuiet): that join's j with its
    // values after the join, and the classes (tuples) to which the join,
    // done again, would write j's next link and j's previous link: counts
    // past SEAM_QUIET_CLASSES mean too many to note.
    int32_t quietRecord;
    int32_t quietJ;
    int32_t quietValues[9];
    int32_t quietCount[2];
    int32_t quietClasses[2][SEAM_QUIET_CLASSES];
};

// Prepares the joins over the m records; nothing is allocated until the
// first join. Never fails.
void SeamJoinOpen(SeamJoin *join, BufModel *model, LineInfo *edges, int m);
// Joins the seam of records i (A to B) and j (B to A) of one host polygon:
// the polygon's other records, j and the polygon's copy in the model are
// rewritten.
void SeamJoinEdges(SeamJoin *join, int i, int j);
// Whether record r is linked (both neighbours known), as the joins so far
// left it.
int SeamJoinLinked(SeamJoin *join, int r);
// Writes every record's values back and releases what the joins allocated.
void SeamJoinClose(SeamJoin *join);

#endif
