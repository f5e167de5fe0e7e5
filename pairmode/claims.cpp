// The list of host polygons the two-polygon mode has taken over; see claims.h.
// Kept in claim order and indexed by id: the walk asks for two polygons at
// every step, and a ring of thousands of pairs must not search the whole
// list each time.
#include "pairmode/claims.h"

#include <stdlib.h>

#include "index/keyindex.h"

struct PairClaims {
    int count;
    int capacity;
    LWPolID *ids;    // in claim order
    KeyIndex byId;   // (id, 0) -> claim
};

int PairClaimsBegin(EditContext *ctx, int capacity)
{
    PairClaimsEnd(ctx);
    PairClaims *claims = (PairClaims *)calloc(1, sizeof(PairClaims));
    if (!claims)
        return 0;
    ctx->claims = claims;
    if (capacity <= 0)
        return 1;
    claims->ids = (LWPolID *)malloc((size_t)capacity * sizeof(LWPolID));
    if (!claims->ids)
        return 0;
    claims->capacity = capacity;
    KeyIndexOpen(&claims->byId, capacity);
    return 1;
}

void PairClaimsEnd(EditContext *ctx)
{
    PairClaims *claims = ctx->claims;
    if (!claims)
        return;
    if (claims->capacity > 0)
        KeyIndexClose(&claims->byId);
    free(claims->ids);
    free(claims);
    ctx->claims = nullptr;
}

int PairClaimed(const EditContext *ctx, LWPolID id)
{
    const PairClaims *claims = ctx->claims;
    if (!claims || claims->count == 0)
        return 0;
    for (int c = KeyIndexFirst(&claims->byId, KeyOf(id), 0); c >= 0 && c < claims->count;
         c = KeyIndexNext(&claims->byId, c)) {
        if (claims->ids[c] == id)
            return 1;
    }
    return 0;
}

int PairClaim(EditContext *ctx, LWPolID id)
{
    PairClaims *claims = ctx->claims;
    if (!claims)
        return 1;
    if (PairClaimed(ctx, id) || claims->count >= claims->capacity)
        return 0;
    claims->ids[claims->count] = id;
    KeyIndexAdd(&claims->byId, claims->count, KeyOf(id), 0);
    claims->count++;
    return 1;
}
