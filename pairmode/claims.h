// Host polygons the two-polygon mode has taken over during one BuildBridge:
// the selected pair, every pair a walk stepped into and every polygon a cap
// re-shaped. Each of them is copied into the output model and removed from
// the host once; the walks and the caps consult this list so that none of
// them is copied or removed a second time when the loop's two walks, or a
// walk and a cap, reach the same polygon.
//
// The list belongs to the bridge (PairWork, pairmode.h).
#ifndef CORVANE_PAIRMODE_CLAIMS_H
#define CORVANE_PAIRMODE_CLAIMS_H

#include "hostapi/hostapi.h"

struct PairClaims;
// An empty list with room for `capacity` polygons; null without memory.
PairClaims *PairClaimsBegin(int capacity);
// Releases the list; nothing for null. With a null list nothing counts as
// claimed and every claim succeeds (a cap run on its own in a test).
void PairClaimsEnd(PairClaims *claims);
// 1 when `id` is on the list.
int PairClaimed(const PairClaims *claims, LWPolID id);
// Puts `id` on the list: 0 (nothing recorded) when it is already there or the
// list is full, else 1.
int PairClaim(PairClaims *claims, LWPolID id);
// How many more polygons the list takes (INT_MAX for a null list), so that
// a cap can learn before claiming any whether its fan fits.
int PairClaimsRoom(const PairClaims *claims);
// The output model's copy of a claimed polygon: the strip's copy of a pair a
// walk stepped into, or a cap's re-shaped copy, so that a cap at another of
// its points can find it. -1 when none was recorded.
enum { PAIR_COPY_STRIP = 1, PAIR_COPY_CAP = 2 };
void PairClaimSetCopy(PairClaims *claims, LWPolID id, int poly, int kind);
int PairClaimCopy(const PairClaims *claims, LWPolID id, int *kind);

#endif
