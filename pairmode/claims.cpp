// The list of host polygons the two-polygon mode has taken over; see claims.h.
// Kept in claim order and indexed by id: the walk asks for two polygons at
// every step, and a ring of thousands of pairs must not search the whole
// list each time.
#include "pairmode/claims.h"

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>

#include "index/keyindex.h"

struct PairClaims {
    int count;
    int capacity;
    LWPolID *ids;  // in claim order
    // Per claim: the output model's copy, -1 for none, and its kind
    // (PAIR_COPY_..., 0 for none).
    int32_t *copies;
    unsigned char *kinds;
    KeyIndex byId;  // (id, 0) -> claim
};

PairClaims *PairClaimsBegin(int capacity)
{
    PairClaims *claims = (PairClaims *)calloc(1, sizeof(PairClaims));
    if (!claims || capacity <= 0)
        return claims;
    claims->ids = (LWPolID *)malloc((size_t)capacity * sizeof(LWPolID));
    claims->copies = (int32_t *)malloc((size_t)capacity * sizeof(int32_t));
    claims->kinds = (unsigned char *)calloc((size_t)capacity, 1);
    if (!claims->ids || !claims->copies || !claims->kinds) {
        PairClaimsEnd(claims);
        return nullptr;
    }
    claims->capacity = capacity;
    KeyIndexOpen(&claims->byId, capacity);
    return claims;
}

void PairClaimsEnd(PairClaims *claims)
{
    if (!claims)
        return;
    if (claims->capacity > 0)
        KeyIndexClose(&claims->byId);
    free(claims->ids);
    free(claims->copies);
    free(claims->kinds);
    free(claims);
}

// The claim number of `id`, or -1.
static int ClaimOf(const PairClaims *claims, LWPolID id)
{
    if (!claims || claims->count == 0)
        return -1;
    for (int c = KeyIndexFirst(&claims->byId, KeyOf(id), 0); c >= 0 && c < claims->count;
         c = KeyIndexNext(&claims->byId, c)) {
        if (claims->ids[c] == id)
            return c;
    }
    return -1;
}

int PairClaimed(const PairClaims *claims, LWPolID id)
{
    return ClaimOf(claims, id) >= 0;
}

int PairClaim(PairClaims *claims, LWPolID id)
{
    if (!claims)
        return 1;
    if (PairClaimed(claims, id) || claims->count >= claims->capacity)
        return 0;
    claims->ids[claims->count] = id;
    KeyIndexAdd(&claims->byId, claims->count, KeyOf(id), 0);
    claims->count++;
    return 1;
}

int PairClaimsRoom(const PairClaims *claims)
{
    return claims ? claims->capacity - claims->count : INT_MAX;
}

void PairClaimSetCopy(PairClaims *claims, LWPolID id, int poly, int kind)
{
    int c = ClaimOf(claims, id);
    if (c >= 0) {
        claims->copies[c] = poly;
        // A copy the model refused is no copy.
        claims->kinds[c] = (unsigned char)(poly < 0                ? 0
                                           : kind == PAIR_COPY_CAP ? PAIR_COPY_CAP
                                                                   : PAIR_COPY_STRIP);
    }
}

int PairClaimCopy(const PairClaims *claims, LWPolID id, int *kind)
{
    *kind = 0;
    int c = ClaimOf(claims, id);
    if (c < 0 || claims->kinds[c] == 0)
        return -1;
    *kind = claims->kinds[c];
    return claims->copies[c];
}
