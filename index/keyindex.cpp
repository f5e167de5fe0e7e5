// Open addressing over the distinct keys, with a chain through the records
// of each key in the order they were added; and the growable numbering of
// keys on the same probing.
#include "index/keyindex.h"

#include <stdlib.h>

uint64_t KeyScramble(uint64_t x)
{
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ull;
    x ^= x >> 33;
    return x;
}

static uint64_t Mix(uint64_t k1, uint64_t k2)
{
    return KeyScramble(k1 ^ KeyScramble(k2 + 0x9E3779B97F4A7C15ull));
}

static void Degrade(KeyIndex *index)
{
    free(index->slots);
    free(index->next);
    index->slots = nullptr;
    index->next = nullptr;
    index->slotMask = -1;
}

void KeyIndexOpen(KeyIndex *index, int count)
{
    KeyIndexOpenLocal(index, count, 0);
}

void KeyIndexOpenLocal(KeyIndex *index, int count, int localBits)
{
    index->count = count > 0 ? count : 0;
    index->localBits = localBits;
    // At most half the slots in use keeps the probes short.
    size_t slots = 16;
    while (slots < 2 * (size_t)index->count)
        slots *= 2;
    index->slotMask = (int32_t)(slots - 1);
    index->slots = (KeySlot *)malloc(slots * sizeof(KeySlot));
    index->next = (int32_t *)malloc((index->count > 0 ? (size_t)index->count : 1) * sizeof(int32_t));
    if (!index->slots || !index->next) {
        Degrade(index);
        return;
    }
    for (size_t s = 0; s < slots; s++)
        index->slots[s].first = -1;
}

// Where the probe for (k1, k2) starts.
static uint64_t Home(const KeyIndex *index, uint64_t k1, uint64_t k2)
{
    if (index->localBits > 0) {
        uint64_t low = k1 & ((1ull << index->localBits) - 1);
        return (Mix(k1 >> index->localBits, k2) << index->localBits) | low;
    }
    return Mix(k1, k2);
}

// The slot holding (k1, k2), or the free slot where it would go.
static KeySlot *FindSlot(const KeyIndex *index, uint64_t k1, uint64_t k2)
{
    uint64_t s = Home(index, k1, k2);
    for (;;) {
        KeySlot *slot = &index->slots[s & (uint64_t)index->slotMask];
        if (slot->first < 0 || (slot->key1 == k1 && slot->key2 == k2))
            return slot;
        s++;
    }
}

int KeyIndexAddFirst(KeyIndex *index, int record, uint64_t k1, uint64_t k2)
{
    if (index->slotMask < 0 || record < 0 || record >= index->count)
        return index->count > 0 ? 0 : -1;
    KeySlot *slot = FindSlot(index, k1, k2);
    int first = slot->first;
    index->next[record] = -1;
    if (first < 0) {
        slot->key1 = k1;
        slot->key2 = k2;
        slot->first = record;
    } else {
        index->next[slot->last] = record;
    }
    slot->last = record;
    return first;
}

void KeyIndexAdd(KeyIndex *index, int record, uint64_t k1, uint64_t k2)
{
    KeyIndexAddFirst(index, record, k1, k2);
}

void KeyIndexPrefetch(const KeyIndex *index, uint64_t k1, uint64_t k2)
{
    if (index->slotMask >= 0)
        __builtin_prefetch(&index->slots[Home(index, k1, k2) & (uint64_t)index->slotMask]);
}

int KeyIndexFirst(const KeyIndex *index, uint64_t k1, uint64_t k2)
{
    if (index->slotMask < 0)
        return index->count > 0 ? 0 : -1;
    return FindSlot(index, k1, k2)->first;
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

// Past this many slots (4 GiB of them) a numbering refuses to grow.
static const int32_t kMaxNumberSlots = 1 << 28;

static KeyNumberSlot *NumberSlot(const KeyNumberSlot *slots, int32_t mask, uint64_t key)
{
    for (uint64_t s = KeyScramble(key);; s++) {
        const KeyNumberSlot *slot = &slots[s & (uint64_t)mask];
        if (slot->number < 0 || slot->key == key)
            return (KeyNumberSlot *)slot;
    }
}

static KeyNumberSlot *FreeSlots(size_t count)
{
    KeyNumberSlot *slots = (KeyNumberSlot *)malloc(count * sizeof(KeyNumberSlot));
    for (size_t s = 0; slots && s < count; s++)
        slots[s].number = -1;
    return slots;
}

int KeyNumbersOpen(KeyNumbers *numbers, int expected)
{
    size_t slots = 64;
    while (slots < 2 * (size_t)(expected > 0 ? expected : 0) && slots < (size_t)kMaxNumberSlots)
        slots *= 2;
    numbers->count = 0;
    numbers->slots = FreeSlots(slots);
    numbers->slotMask = numbers->slots ? (int32_t)(slots - 1) : -1;
    return numbers->slots != nullptr;
}

// Doubles the table; 0 without memory.
static int GrowNumbers(KeyNumbers *numbers)
{
    if (numbers->slotMask + 1 >= kMaxNumberSlots)
        return 0;
    int32_t mask = 2 * numbers->slotMask + 1;
    KeyNumberSlot *slots = FreeSlots((size_t)mask + 1);
    if (!slots)
        return 0;
    for (int32_t s = 0; s <= numbers->slotMask; s++) {
        if (numbers->slots[s].number >= 0)
            *NumberSlot(slots, mask, numbers->slots[s].key) = numbers->slots[s];
    }
    free(numbers->slots);
    numbers->slots = slots;
    numbers->slotMask = mask;
    return 1;
}

int KeyNumbersFind(const KeyNumbers *numbers, uint64_t key)
{
    if (numbers->slotMask < 0)
        return -1;
    return NumberSlot(numbers->slots, numbers->slotMask, key)->number;
}

int KeyNumbersAdd(KeyNumbers *numbers, uint64_t key)
{
    if (numbers->slotMask < 0)
        return -1;
    KeyNumberSlot *slot = NumberSlot(numbers->slots, numbers->slotMask, key);
    if (slot->number >= 0)
        return slot->number;
    // At most half the slots in use keeps the probes short.
    if (2 * ((int64_t)numbers->count + 1) > (int64_t)numbers->slotMask + 1) {
        if (!GrowNumbers(numbers))
            return -1;
        slot = NumberSlot(numbers->slots, numbers->slotMask, key);
    }
    slot->key = key;
    slot->number = numbers->count++;
    return slot->number;
}

void KeyNumbersPrefetch(const KeyNumbers *numbers, uint64_t key)
{
    if (numbers->slotMask >= 0)
        __builtin_prefetch(&numbers->slots[KeyScramble(key) & (uint64_t)numbers->slotMask]);
}

void KeyNumbersClose(KeyNumbers *numbers)
{
    free(numbers->slots);
    numbers->slots = nullptr;
    numbers->slotMask = -1;
    numbers->count = 0;
}
