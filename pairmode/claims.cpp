// The list of host polygons the two-polygon mode has taken over; see claims.h.
// A plain array searched from the start: the walk already scans the whole
// polygon list at every step, so this is never the cost that matters.
#include "pairmode/claims.h"

#include <stdlib.h>

static LWPolID *gClaims = nullptr;
static int gCount = 0;
static int gCapacity = 0;
static int gOpen = 0;

int PairClaimsBegin(int capacity)
{
    PairClaimsEnd();
    gOpen = 1;
    if (capacity <= 0)
        return 1;
    gClaims = (LWPolID *)malloc(sizeof(LWPolID) * capacity);
    if (!gClaims)
        return 0;
    gCapacity = capacity;
    return 1;
}

void PairClaimsEnd(void)
{
    free(gClaims);
    gClaims = nullptr;
    gCount = 0;
    gCapacity = 0;
    gOpen = 0;
}

int PairClaimed(LWPolID id)
{
    for (int k = 0; k < gCount; k++) {
        if (gClaims[k] == id)
            return 1;
    }
    return 0;
}

int PairClaim(LWPolID id)
{
    if (!gOpen)
        return 1;
    if (PairClaimed(id) || gCount >= gCapacity)
        return 0;
    gClaims[gCount++] = id;
    return 1;
}
