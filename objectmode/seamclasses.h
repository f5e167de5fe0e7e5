// The seam join's classes: what seams.cpp joins through on a polygon of
// many records, and the bookkeeping that keeps them (seamclasses.cpp).
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
#ifndef CORVANE_OBJECTMODE_SEAMCLASSES_H
#define CORVANE_OBJECTMODE_SEAMCLASSES_H

#include <stddef.h>
#include <stdint.h>

#include "index/keyindex.h"
#include "objectmode/seams.h"

// A record's groups of values.
enum { SEAM_PREV_LINK = 0, SEAM_END_A = 1, SEAM_NEXT_LINK = 2, SEAM_END_B = 3 };

// Below this many records visiting every record of the polygon is as cheap.
const int kSeamClassRecords = 32;
// Host points are numbered in 16 bits within a tuple's key.
const int kSeamClassPoints = 65535;

// A class's host points, by their numbers within the polygon.
struct SeamHosts {
    int32_t prev, a, b, next;
};

// A record's values per group (a link holds one value, an end a point and
// its vertex) and the tuple of its class.
struct SeamValues {
    int32_t v[4][2];
    int32_t tuple;
};

// What the classes keep of one record.
struct SeamRecord {
    // Its polygon's entry in `classes`: -1 not yet decided, -2 joined by
    // visiting its records.
    int32_t classOf;
    int32_t nodeOf;    // the node it was entered in
    int32_t pairs[2];  // the lists of its host points a, b
    // The values it was last given alone, per group (previous link, end a,
    // next link, end b), and when; and when it was put under its node.
    int32_t ownValue[4][2];
    int64_t ownStamp[4];
    int64_t ownSince;
};

struct SeamNode {
    int32_t parent;    // -1 at the top
    int32_t size;      // records below, for keeping the hanging shallow
    int32_t tuple;     // at the top: the class's host points
    int64_t hung;      // when it was hung under its parent
    int64_t stamp[4];  // per group: when value was written, -1 never
    int32_t value[4][2];
};

struct SeamTuple {
    uint64_t key;       // the four host point numbers, 16 bits each
    int32_t top;        // its class's top node, -1
    int32_t link[4];    // next and previous in its two lists
    int32_t pairOf[2];  // its pair in list 0 and in list 1
    int32_t mark;       // reached by the join under way
};

// One polygon's classes. The numberings' counts are the numbers of host
// points, tuples and pairs.
struct SeamClasses {
    KeyNumbers pointIds;  // host point -> number
    LWPntID *ids;         // number -> host point
    int32_t idCap;
    KeyNumbers tupleIds;  // packed host point numbers -> tuple
    KeyNumbers pairIds;   // list and two host point numbers -> pair
    SeamTuple *tuples;
    int32_t tupleCap;
    int32_t *head;  // per pair: first tuple, -1
    int32_t pairCap;
};

// The array of `count` entries of `size` bytes with room for one more:
// itself, or a larger copy; null without memory (the array stays).
void *SeamEnlarged(void *array, int32_t count, int32_t *cap, size_t size);

// Allocates the per-record arrays at the first join; 0 without memory (then
// every polygon is joined by records).
int SeamBeginClasses(SeamJoin *join);
// Enters i's polygon into classes when it qualifies; 0 when it is joined by
// records from now on.
int SeamEnterClasses(SeamJoin *join, int i);
// Back to joining by records: every record of i's polygon settled.
void SeamLeaveClasses(SeamJoin *join, int i);
// Every record joined by classes settled, and the classes released.
void SeamEndClasses(SeamJoin *join);

// The host points of tuple t.
SeamHosts SeamHostsOf(const SeamClasses *c, int32_t t);
// The tuple of the host points, made when absent; -1 without memory.
int32_t SeamTupleOf(SeamClasses *c, const SeamHosts &x);
// Takes tuple t out of its two lists.
void SeamUnlistTuple(SeamClasses *c, int32_t t);
// A new top node for tuple t, with no writes; -1 without memory.
int32_t SeamNewNode(SeamJoin *join, int32_t t);
// Puts top node n at tuple `to`, hanging it under the class there or that
// class under it.
void SeamArrive(SeamJoin *join, SeamClasses *c, int32_t n, int32_t to);

// Record r's values and class, as the writes so far left them.
SeamValues SeamCurrent(const SeamJoin *join, int r);
// Gives record r values of its own, written at `stamp`.
void SeamSetOwn(SeamJoin *join, int r, const SeamValues &v, int64_t stamp);

#endif
