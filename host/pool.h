// Fixed-size record memory for the emulated host's point and polygon
// records (see pool.cpp).
#ifndef CORVANE_HOST_POOL_H
#define CORVANE_HOST_POOL_H

#include <cstddef>
#include <vector>

struct EmuPoolRecord;

// The free records of one record type, and every chunk they were cut from
// (kept, so that all of it stays reachable until the process ends).
struct EmuPool {
    size_t size = 0;  // record size, set by the first take
    EmuPoolRecord *free = nullptr;
    std::vector<void *> chunks;
};

EmuPool &EmuPointPool();
EmuPool &EmuPolyPool();

// A record of `size` bytes (always the same for one pool), aligned for any
// type; throws std::bad_alloc when there is no memory.
void *EmuPoolTake(EmuPool &pool, size_t size);
// Gives a record taken from the pool back for reuse.
void EmuPoolGive(EmuPool &pool, void *record, size_t size);

#endif
