// The list of host polygons the two-polygon mode has taken over; see claims.h.
// A hash set: the walk asks for two polygons at every step, and a ring of
// thousands of pairs must not search the whole list each time.
#include "pairmode/claims.h"

#include <stdint.h>
#include <stdlib.h>

#include "index/keyindex.h"

static LWPolID *gClaims = nullptr;  // open addressing; null marks a free slot
// Per slot: the copy's index + 1 for a cap's copy, -(index + 1) for a
// strip's, 0 for none.
static int32_t *gCopy = nullptr;
static int gMask = 0;
static int gCount = 0;
static int gCapacity = 0;
static int gOpen = 0;
static int gNullClaimed = 0;  // the set's free slots are null: a null id is kept here


// The slot holding `id`, or the free slot where it would go.
static LWPolID *SlotOf(LWPolID id)
{
    uint64_t s = KeyScramble((uint64_t)(uintptr_t)id);
    for (;;) {
        LWPolID *slot = &gClaims[s & (uint64_t)gMask];
        if (!*slot || *slot == id)
            return slot;
        s++;
    }
}

int PairClaimsBegin(int capacity)
{
    PairClaimsEnd();
    gOpen = 1;
    if (capacity <= 0)
        return 1;
    // At most half the slots in use keeps the probes short.
    size_t slots = 16;
    while (slots < 2 * (size_t)capacity)
        slots *= 2;
    gClaims = (LWPolID *)calloc(slots, sizeof(LWPolID));
    gCopy = (int32_t *)calloc(slots, sizeof(int32_t));
    if (!gClaims || !gCopy) {
        free(gClaims);
        free(gCopy);
        gClaims = nullptr;
        gCopy = nullptr;
        return 0;
    }
    gMask = (int)(slots - 1);
    gCapacity = capacity;
    return 1;
}

void PairClaimsEnd(void)
{
    free(gClaims);
    free(gCopy);
    gClaims = nullptr;
    gCopy = nullptr;
    gMask = 0;
    gCount = 0;
    gCapacity = 0;
    gOpen = 0;
    gNullClaimed = 0;
}

int PairClaimed(LWPolID id)
{
    if (!id)
        return gNullClaimed;
    if (!gClaims)
        return 0;
    return *SlotOf(id) == id;
}

int PairClaim(LWPolID id)
{
    if (!gOpen)
        return 1;
    if (PairClaimed(id) || gCount >= gCapacity)
        return 0;
    if (id)
        *SlotOf(id) = id;
    else
        gNullClaimed = 1;
    gCount++;
    return 1;
}

void PairClaimSetCopy(LWPolID id, int poly, int kind)
{
    if (!id || !gClaims)
        return;
    LWPolID *slot = SlotOf(id);
    if (*slot == id)
        gCopy[slot - gClaims] = kind == PAIR_COPY_CAP ? poly + 1 : -(poly + 1);
}

int PairClaimCopy(LWPolID id, int *kind)
{
    *kind = 0;
    if (!id || !gClaims)
        return -1;
    LWPolID *slot = SlotOf(id);
    int32_t c = *slot == id ? gCopy[slot - gClaims] : 0;
    if (c == 0)
        return -1;
    *kind = c > 0 ? PAIR_COPY_CAP : PAIR_COPY_STRIP;
    return (c > 0 ? c : -c) - 1;
}
