// Two-polygon mode: the edge two selected polygons share is chamfered and the
// chamfer is carried along the edge loop through it, in both directions,
// through every point where four polygons meet.
#ifndef CORVANE_PAIRMODE_H
#define CORVANE_PAIRMODE_H

#include <stdint.h>

#include "bufmodel/bufmodel.h"
#include "edit/services.h"
#include "records/records.h"
#include "hostapi/hostapi.h"

// ---- pair analysis ------------------------------------------------------

// Fills `record` for host polygon `id` and copies the polygon into the model
// standing on its own host points. Returns the vertex count.
int MakePairPolyInfo(EditContext *ctx, LWPolID id, PolyInfo *record);
// First i (then j) with A's edge i -> i+1 equal to B's edge j+1 -> j. Leaves
// i and j unchanged when there is none.
void FindSharedEdge(BufModel *model, const PolyInfo *a, const PolyInfo *b, int *i, int *j);
// First polygon of `list` (in order) holding the directed edge key -> key2.
LWPolID FindPolyByEdge(EditContext *ctx, LWPolID *list, int count, LWPntID key, LWPntID key2);
// Number of polygon corners at `key` over the polygons of `list`.
int PointValence(EditContext *ctx, int count, LWPolID *list, LWPntID key);
// Gives X's edge `a` two new buffered points and moves them in by `size`.
void DetachEdge(EditContext *ctx, PolyInfo *x, int a, double size);

// ---- bridge and caps ----------------------------------------------------

// Chamfers the loop through the selected pair (list[0], list[1]); `records`
// holds count + 1 cleared records. Returns 0, or BRIDGE_NO_SHARED_EDGE (and
// builds and removes nothing) when the two polygons share no edge held in
// opposite directions.
enum { BRIDGE_NO_SHARED_EDGE = 1 };
int BuildBridge(EditContext *ctx, int count, LWPolID *list, PolyInfo *records, double size);
int WalkEdgeLoop(EditContext *ctx, int count, LWPolID *list, PolyInfo *records, double size,
                 PolyInfo *a, PolyInfo *b, int *i, int *j, int *aSlot, int *bSlot, int firstQuad);
void CapLoopEnd(EditContext *ctx, int count, LWPolID *list, int lastQuad, LWPntID prev, LWPntID end);

#endif
