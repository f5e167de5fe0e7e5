// An index of the records of one array by a key of two words: for each key,
// the records that hold it, in array order. The weld's grid of cells, the
// links within a polygon (for records not laid out as LineListPass lays
// them), the seam joining's records of one polygon and the polygon search
// of the two-polygon mode look their candidates up here instead of scanning
// the whole array; since a key's records come in array order, every "first
// record in array order" rule of a scan gives the same record.
//
// Use:
//     KeyIndex index;
//     KeyIndexOpen(&index, m);
//     for (int r = 0; r < m; r++) KeyIndexAdd(&index, r, key1 of r, key2 of r);
//     for (int r = KeyIndexFirst(&index, a, b); r >= 0; r = KeyIndexNext(&index, r))
//         ... test the record's full condition ...
//     KeyIndexClose(&index);
//
// When the index cannot be allocated it degrades to the plain scan: First
// gives record 0 and Next every following record. Callers therefore always
// test a candidate's full condition, and get the scan's result either way.
#ifndef CORVANE_INDEX_KEYINDEX_H
#define CORVANE_INDEX_KEYINDEX_H

#include <stdint.h>

// One slot of the open-addressing table: a key and its chain of records.
struct KeySlot {
    uint64_t key1;
    uint64_t key2;
    int32_t first;  // first record with the key, -1 for a free slot
    int32_t last;   // last record added with the key
};

struct KeyIndex {
    int32_t count;      // records the index covers
    int32_t slotMask;   // slot count - 1 (a power of two); -1 when degraded
    int32_t localBits;  // low bits of key1 kept as they are in the slot (see below)
    KeySlot *slots;
    int32_t *next;  // per record: next record with the same key, -1
};

// Prepares an empty index for records 0 .. count - 1. Never fails: without
// memory the index is degraded (see above).
void KeyIndexOpen(KeyIndex *index, int count);
// The same for keys whose lowest `localBits` bits of key1 tell neighbours
// apart (the weld's cells of one block): keys that differ only there get
// neighbouring slots, so that a caller going from a key to its neighbours
// stays within a few cache lines.
void KeyIndexOpenLocal(KeyIndex *index, int count, int localBits);
// Adds `record` under the key (k1, k2). Records must be added in increasing
// order, each at most once.
void KeyIndexAdd(KeyIndex *index, int record, uint64_t k1, uint64_t k2);
// KeyIndexAdd that also gives the first record the key held before, or -1:
// one lookup for a caller that reads the key's records and then joins them.
int KeyIndexAddFirst(KeyIndex *index, int record, uint64_t k1, uint64_t k2);
// Asks the processor to fetch the slot of (k1, k2) ahead of its use: a
// caller that knows its next keys hides the table's cache misses.
void KeyIndexPrefetch(const KeyIndex *index, uint64_t k1, uint64_t k2);
// The first record holding (k1, k2), or -1.
int KeyIndexFirst(const KeyIndex *index, uint64_t k1, uint64_t k2);
// The record after `record` with the same key, or -1.
int KeyIndexNext(const KeyIndex *index, int record);
// Releases the index.
void KeyIndexClose(KeyIndex *index);

// A numbering of keys of one word: each distinct key gets the next number,
// 0, 1, 2, ... in the order it is first added, in a table that grows as it
// fills. The adjacency's host points and the seam classes' host points,
// tuples and pairs are numbered here. Its probing is KeyIndex's: linear from
// the scrambled key.
struct KeyNumberSlot {
    uint64_t key;
    int32_t number;  // -1 for a free slot
};

struct KeyNumbers {
    int32_t count;     // keys numbered so far: the next number
    int32_t slotMask;  // slot count - 1 (a power of two); -1 without memory
    KeyNumberSlot *slots;
};

// Prepares an empty numbering with room for `expected` keys before it
// grows. 0 without memory: then Find gives -1 and Add fails.
int KeyNumbersOpen(KeyNumbers *numbers, int expected);
// The number of `key`, or -1 when it has none.
int KeyNumbersFind(const KeyNumbers *numbers, uint64_t key);
// The number of `key`, numbering it when new; -1 without memory (the
// numbering stays as it was).
int KeyNumbersAdd(KeyNumbers *numbers, uint64_t key);
// Asks the processor to fetch the slot of `key` ahead of a Find.
void KeyNumbersPrefetch(const KeyNumbers *numbers, uint64_t key);
// Releases the numbering; closing one never opened but zeroed is harmless.
void KeyNumbersClose(KeyNumbers *numbers);

// Key words for host ids and small integers.
inline uint64_t KeyOf(const void *id)
{
    return (uint64_t)(uintptr_t)id;
}
inline uint64_t KeyOf(int32_t value)
{
    return (uint64_t)(uint32_t)value;
}

// The finaliser of a well-known 64-bit hash: every input bit reaches every
// output bit, so host ids (small integers or pointers at a fixed stride) and
// packed grid cells spread evenly over a table's slots. Shared by every
// hashed table of the module.
uint64_t KeyScramble(uint64_t x);

#endif
