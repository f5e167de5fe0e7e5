// Two-polygon mode: the edge two selected polygons share is chamfered and the
// chamfer is carried along the edge loop through it, in both directions,
// through every point where four polygons meet.
#ifndef CORVANE_PAIRMODE_H
#define CORVANE_PAIRMODE_H

#include <stdint.h>

#include "bufmodel/bufmodel.h"
#include "context/context.h"
#include "hostapi/hostapi.h"
#include "records/records.h"

// ---- pair analysis ------------------------------------------------------

// Reads host polygon `id` and its points; fills `record` and adds a copy
// standing on the host's points (n points, one polygon). Returns n; 0 when
// the host cannot describe it or the model is full (what was added stays);
// -1, with nothing done, when the record is not empty.
int MakePairPolyInfo(EditContext *ctx, LWPolID id, PolyInfo *record);
// Reads the two records' host point lists only: the first i (then j) with
// A's edge i -> i+1 equal to B's edge j+1 -> j. Leaves i and j unchanged when
// there is none.
void FindSharedEdge(BufModel *model, const PolyInfo *a, const PolyInfo *b, int *i, int *j);
// FindSharedEdge for the edge that ends at host point `to` in A: where a
// merged polygon shares two edges with its neighbour, the one a walk came
// along.
void FindSharedEdgeTo(BufModel *model, const PolyInfo *a, const PolyInfo *b, LWPntID to, int *i, int *j);
// Reads the host mesh as the edit began (through `index`, when it is one of
// this list; it may be null): the first polygon of `list` holding the
// directed edge key -> key2, or none.
struct PairIndex;
LWPolID FindPolyByEdge(EditContext *ctx, const PairIndex *index, LWPolID *list, int count, LWPntID key,
                       LWPntID key2);
// Reads like FindPolyByEdge: the number of polygon corners at `key` over the
// polygons of `list`, up to the first the host cannot describe.
int PointValence(EditContext *ctx, const PairIndex *index, int count, LWPolID *list, LWPntID key);
// Reads X's host points and normal; adds two points for X's edge `a`, moved
// in by `size`, and points X's copy at them. A full model leaves the copy as
// it was.
void DetachEdge(EditContext *ctx, PolyInfo *x, int a, double size);

// ---- bridge and caps ----------------------------------------------------

// Chamfers the loop through the selected pair (list[0], list[1]); `records`
// holds count + 1 cleared records. Reads the host mesh as it was when the
// edit began; adds the strip, the re-shaped polygons and the caps, and
// removes from the host every polygon it re-shaped. Returns 0;
// BRIDGE_NO_SHARED_EDGE (nothing built or removed) when the two polygons
// share no edge held in opposite directions. A walk that met a state it
// cannot go on from, or ran out of memory, sets the context's fault (the
// caller discards the edit). BRIDGE_FAULT is the walks' own code for the
// first.
enum { BRIDGE_NO_SHARED_EDGE = 1, BRIDGE_FAULT = 2 };
struct PairWork;
int BuildBridge(EditContext *ctx, PairWork *work, int count, LWPolID *list, PolyInfo *records, double size);

// The mode's working state over one bridge: the index of the listed
// polygons by edge (pairindex.h), the polygons taken over (claims.h) and
// the caps' storage. BuildBridge makes each and releases it; PairWorkEnd
// releases what is left, as after a host's exception in the middle of a
// bridge, and leaves the record empty.
struct PairClaims;
struct CapWork;
struct PairWork {
    PairIndex *index;
    PairClaims *claims;
    CapWork *caps;
};
void PairWorkEnd(PairWork *work);

// Where a walk ended: the last quad, the last shared edge from `prev` to
// `end`, and the strip's own points at `end` on B's side and on A's side.

struct LoopEnd {
    int lastQuad;
    LWPntID prev;
    LWPntID end;
    int32_t stripIn;   // B's copy point at end: where the fan begins
    int32_t stripOut;  // A's copy point at end: where the fan ends
    int mayCutStrips;  // strip copies no walk reads again may be cut too
};

// The pair a walk stands on: the records at the A and B slots, and where
// they share their edge (A holds it as i -> i+1, B as j -> j+1).
struct WalkPair {
    PolyInfo *a;
    PolyInfo *b;
    int i;
    int j;
    int aSlot;
    int bSlot;
    int secondWalk;     // 1 in the walk from the selected edge's other end
    LWPntID cappedEnd;  // the end point a walk has capped, or none
    // The first walk's end, when its cap must wait for the second walk.
    int deferred;
    LoopEnd deferredEnd;
    PairWork *work;
};

// Carries the strip from the loop point A[i] of `pair` as far as four
// corners meet, then closes the ring or caps the open end. Reads and claims
// the pairs it steps into, adds their copies and quads, removes them from
// the host; leaves `pair` at the last pair. Returns 1 when the ring closed,
// 0 at an open end, BRIDGE_FAULT when it stopped on a broken state (what
// was built stays in the model; the caller discards the edit).
int WalkEdgeLoop(EditContext *ctx, int count, LWPolID *list, PolyInfo *records, double size, WalkPair *pair,
                 int firstQuad);

// Cuts the polygons about `end` that are not on the strip by the last
// quad's plane and caps the gap; where another strip arm ends at `end` the
// cap takes that arm's points. Reads the host mesh; adds the re-shaped fan
// polygons and the cap, claims and removes the fan polygons. The whole fan
// is planned before any of it is built: a fan it cannot finish (a polygon or
// a fan its lists cannot hold, a fan that comes round to its own polygons)
// changes nothing and sets the context's internal fault.
void CapLoopEnd(PairWork *work, EditContext *ctx, int count, LWPolID *list, const LoopEnd *end);
// 1 when the cap at `end` would come, going about the end point, to a
// selected polygon whose copy still stands on the host's end point: the
// first walk may not cut that copy, since the second walk joins to it by
// vertex.
int CapMeetsSelectedCopy(const PairWork *work, EditContext *ctx, int count, LWPolID *list,
                         const LoopEnd *end);
// The caps' working storage for one bridge (caps.cpp), made by CapsBegin
// (null without memory) and released by CapsEnd; the caps read the bridge's
// index and claims through `work`. What the caps of the
// bridge made is recorded in it; CapsSettle, once nothing more is added,
// judges their cuts again against the weld the final box gives.
CapWork *CapsBegin(const PairWork *work);
void CapsSettle(CapWork *caps, EditContext *ctx);
void CapsEnd(CapWork *caps);

#endif
