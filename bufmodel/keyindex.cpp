// Open addressing over the distinct keys, with a chain through the records
// of each key in the order they were added.
#include "bufmodel/keyindex.h"

#include <stdlib.h>

// Mixes both words so that host ids (pointers at a fixed stride) and small
// integers spread over the slots.
static uint64_t Mix(uint64_t k1, uint64_t k2)
{
    uint64_t h = k1 * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    h += k2 * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 32;
    h *= 0x165667B19E3779F9ull;
    h ^= h >> 29;
    return h;
}

static void Degrade(KeyIndex *index)
{
    free(index->key1);
    free(index->key2);
    free(index->first);
    free(index->last);
    free(index->next);
    index->key1 = index->key2 = nullptr;
    index->first = index->last = index->next = nullptr;
    index->slotMask = -1;
}

void KeyIndexOpen(KeyIndex *index, int count)
{
    index->count = count > 0 ? count : 0;
    index->key1 = index->key2 = nullptr;
    index->first = index->last = index->next = nullptr;
    // At most half the slots in use keeps the probes short.
    size_t slots = 16;
    while (slots < 2 * (size_t)index->count)
        slots *= 2;
    index->slotMask = (int32_t)(slots - 1);
    index->key1 = (uint64_t *)malloc(slots * sizeof(uint64_t));
    index->key2 = (uint64_t *)malloc(slots * sizeof(uint64_t));
    index->first = (int32_t *)malloc(slots * sizeof(int32_t));
    index->last = (int32_t *)malloc(slots * sizeof(int32_t));
    index->next = (int32_t *)malloc((index->count > 0 ? (size_t)index->count : 1) *
                                    sizeof(int32_t));
    if (!index->key1 || !index->key2 || !index->first || !index->last || !index->next) {
        Degrade(index);
        return;
    }
    for (size_t s = 0; s < slots; s++)
        index->first[s] = -1;
}

// The slot holding (k1, k2), or the free slot where it would go.
static int32_t FindSlot(const KeyIndex *index, uint64_t k1, uint64_t k2)
{
    int32_t s = (int32_t)(Mix(k1, k2) & (uint64_t)index->slotMask);
    while (index->first[s] >= 0 && (index->key1[s] != k1 || index->key2[s] != k2))
        s = (s + 1) & index->slotMask;
    return s;
}

void KeyIndexAdd(KeyIndex *index, int record, uint64_t k1, uint64_t k2)
{
    if (index->slotMask < 0 || record < 0 || record >= index->count)
        return;
    int32_t s = FindSlot(index, k1, k2);
    index->next[record] = -1;
    if (index->first[s] < 0) {
        index->key1[s] = k1;
        index->key2[s] = k2;
        index->first[s] = record;
    } else {
        index->next[index->last[s]] = record;
    }
    index->last[s] = record;
}

int KeyIndexFirst(const KeyIndex *index, uint64_t k1, uint64_t k2)
{
    if (index->slotMask < 0)
        return index->count > 0 ? 0 : -1;
    return index->first[FindSlot(index, k1, k2)];
}

int KeyIndexNext(const KeyIndex *index, int record)
{
    if (index->slotMask < 0)
        return record + 1 < index->count ? record + 1 : -1;
    return index->next[record];
}

void KeyIndexClose(KeyIndex *index)
{
    Degrade(index);
    index->count = 0;
}
