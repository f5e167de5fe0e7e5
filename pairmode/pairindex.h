// The index of the foreground polygons through which FindPolyByEdge and
// PointValence answer during one BuildBridge, instead of asking the host for
// every listed polygon on each call.
//
// It is built once, when BuildBridge begins, from the host's point lists.
// That is valid because the host answers polyInfo with the mesh as it was
// when the edit began, however many polygons the bridge removes meanwhile.
// Like the scans it replaces, it stops at the first listed polygon the host
// gives no information for: the polygons after it are never looked at.
//
// The index belongs to the bridge (PairWork, pairmode.h). Without one, or
// for another list, the two operations scan as before.
#ifndef CORVANE_PAIRMODE_PAIRINDEX_H
#define CORVANE_PAIRMODE_PAIRINDEX_H

#include "context/context.h"
#include "hostapi/hostapi.h"

// Builds the index of list[0 .. count - 1], read through the context's
// edit operation. Null without memory, and the scans answer.
struct PairIndex;
PairIndex *PairIndexOpen(EditContext *ctx, int count, LWPolID *list);
// Releases it; nothing for null.
void PairIndexClose(PairIndex *index);

// 1 when `index` is one of exactly this list; then *found is the first
// listed polygon holding the directed edge key -> key2, or none.
int PairIndexFindEdge(const PairIndex *index, LWPolID *list, int count, LWPntID key, LWPntID key2,
                      LWPolID *found);
// 1 when `index` is one of exactly this list; then *corners is the number
// of polygon corners at `key`.
int PairIndexValence(const PairIndex *index, LWPolID *list, int count, LWPntID key, int *corners);

#endif
