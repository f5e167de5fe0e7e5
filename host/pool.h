// Fixed-size record memory for the emulated host's point and polygon
// records (see pool.cpp).
#ifndef CORVANE_HOST_POOL_H
#define CORVANE_HOST_POOL_H

#include <cstddef>

// A record of `size` bytes, aligned for any type; throws std::bad_alloc
// when there is no memory.
void *EmuPoolTake(size_t size);
// Gives a record taken with the same size back for reuse.
void EmuPoolGive(void *record, size_t size);

#endif
