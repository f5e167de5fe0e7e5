// Record memory of the emulated host. An edit adds a point or polygon record
// per call, up to tens of thousands of them per activation; taking each from
// a free list instead of the general allocator keeps the host's share of an
// activation small. Records of one size share a list; memory taken for them
// is reused by later records and never handed back, which keeps a long
// session's footprint flat. The host runs on one thread, as a host runs its
// tools on one.
#include "host/pool.h"

#include <cstdlib>
#include <new>
#include <vector>

namespace {

struct FreeRecord {
    FreeRecord *next;
};

struct Pool {
    size_t size = 0;
    FreeRecord *free = nullptr;
    std::vector<void *> chunks;   // every chunk, so that all of it stays reachable
};

const size_t kRecordsPerChunk = 512;

Pool &PoolFor(size_t size)
{
    // Two record types use the pools; a few lists cover any later ones.
    static Pool pools[4];
    for (Pool &p : pools) {
        if (p.size == size)
            return p;
        if (p.size == 0) {
            p.size = size;
            return p;
        }
    }
    throw std::bad_alloc();
}

} // namespace

// Under AddressSanitizer every record is its own allocation, so that a
// stale record pointer is still caught.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_POOL_OFF 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(CORVANE_POOL_OFF)
void *EmuPoolTake(size_t size)
{
    return ::operator new(size);
}

void EmuPoolGive(void *record, size_t /*size*/)
{
    ::operator delete(record);
}
#else
void *EmuPoolTake(size_t size)
{
    if (size < sizeof(FreeRecord))
        size = sizeof(FreeRecord);
    Pool &pool = PoolFor(size);
    if (pool.free == nullptr) {
        const size_t stride = (size + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
        char *chunk = static_cast<char *>(::operator new(stride * kRecordsPerChunk));
        pool.chunks.push_back(chunk);
        for (size_t k = kRecordsPerChunk; k-- > 0;) {
            FreeRecord *r = reinterpret_cast<FreeRecord *>(chunk + k * stride);
            r->next = pool.free;
            pool.free = r;
        }
    }
    FreeRecord *r = pool.free;
    pool.free = r->next;
    return r;
}

void EmuPoolGive(void *record, size_t size)
{
    if (record == nullptr)
        return;
    if (size < sizeof(FreeRecord))
        size = sizeof(FreeRecord);
    Pool &pool = PoolFor(size);
    FreeRecord *r = static_cast<FreeRecord *>(record);
    r->next = pool.free;
    pool.free = r;
}
#endif
