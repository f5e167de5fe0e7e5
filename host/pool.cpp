// Record memory of the emulated host. An edit adds a point or polygon record
// per call, up to tens of thousands of them per activation; taking each from
// a free list instead of the general allocator keeps the host's share of an
// activation small. Memory taken for records is reused by later records and
// never handed back, which keeps a long session's footprint flat. The host
// runs on one thread, as a host runs its tools on one.
#include "host/pool.h"

#include <cassert>
#include <cstdlib>
#include <new>

struct EmuPoolRecord {
    EmuPoolRecord *next;
};

// Never destroyed: records may still be given back while the program ends
// (a host held in a static), and every chunk stays reachable from here, so
// leak checkers see memory in use rather than memory lost.
EmuPool &EmuPointPool()
{
    static EmuPool *pool = new EmuPool;
    return *pool;
}

EmuPool &EmuPolyPool()
{
    static EmuPool *pool = new EmuPool;
    return *pool;
}

// Under AddressSanitizer every record is its own allocation, so that a
// stale record pointer is still caught.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_POOL_OFF 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(CORVANE_POOL_OFF)
void *EmuPoolTake(EmuPool & /*pool*/, size_t size)
{
    return ::operator new(size);
}

void EmuPoolGive(EmuPool & /*pool*/, void *record, size_t /*size*/)
{
    ::operator delete(record);
}
#else
namespace {

const size_t kRecordsPerChunk = 512;

void Refill(EmuPool &pool)
{
    const size_t align = alignof(std::max_align_t);
    const size_t stride = (pool.size + align - 1) & ~(align - 1);
    char *chunk = static_cast<char *>(::operator new(stride *kRecordsPerChunk));
    pool.chunks.push_back(chunk);
    for (size_t k = kRecordsPerChunk; k-- > 0;) {
        EmuPoolRecord *r = reinterpret_cast<EmuPoolRecord *>(chunk + k * stride);
        r->next = pool.free;
        pool.free = r;
    }
}

}  // namespace

void *EmuPoolTake(EmuPool &pool, size_t size)
{
    if (size < sizeof(EmuPoolRecord))
        size = sizeof(EmuPoolRecord);
    if (pool.size == 0)
        pool.size = size;
    assert(size == pool.size);
    if (pool.free == nullptr)
        Refill(pool);
    EmuPoolRecord *r = pool.free;
    pool.free = r->next;
    return r;
}

void EmuPoolGive(EmuPool &pool, void *record, size_t /*size*/)
{
    if (record == nullptr)
        return;
    EmuPoolRecord *r = static_cast<EmuPoolRecord *>(record);
    r->next = pool.free;
    pool.free = r;
}
#endif
