#include "host_win32.h"

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <unordered_map>

#include <sys/mman.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOST_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(HOST_ADDRESS_SANITIZER)
#define HOST_ADDRESS_SANITIZER 1
#endif

#ifdef HOST_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

namespace {

// A 32-bit process has 2 GiB of address space for everything it allocates.
const SIZE_T largestBlock = 0x7FFFFFFF;
const SIZE_T addressSpace = 0x7FFFFFFF;

#ifdef HOST_ADDRESS_SANITIZER
// The address sanitizer writes an eighth of a malloc block's size into its
// shadow memory when the block is allocated and again when it is freed, which
// makes a declared 2 GiB frame cost half a second even when the stream holds
// three rows of it. Blocks from this size on are mapped directly instead:
// untouched pages cost nothing, and the sanitizer still sees the block's
// exact bounds through guard regions poisoned around it.
const SIZE_T mappedFrom = SIZE_T{1} << 20;
const SIZE_T mappedAlignment = 16;
// Freed mappings stay reserved and inaccessible for a while, so a use after
// free faults instead of landing in a newer block at the same address.
const SIZE_T quarantineBytes = SIZE_T{64} << 30;
const size_t quarantineMappings = 256;
#endif

struct Block {
    SIZE_T bytes;
    char* mapping;         // start of the mapping holding the block; null for malloc
    SIZE_T mappingBytes;
};

long allocationsLeft = -1;
long liveBlocks = 0;
SIZE_T liveBytes = 0;
std::unordered_map<void*, Block> blocks;

#ifdef HOST_ADDRESS_SANITIZER

struct Reservation {
    char* mapping;
    SIZE_T bytes;
};

std::deque<Reservation> quarantine;
SIZE_T quarantinedBytes = 0;

SIZE_T PageSize()
{
    return static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
}

SIZE_T RoundUp(SIZE_T value, SIZE_T step)
{
    return (value + step - 1) / step * step;
}

// Memory whose shadow fills one page: mappings start and end on multiples of
// it, so that their shadow pages are theirs alone and can be dropped whole.
SIZE_T ShadowSpan()
{
    size_t scale = 0, offset = 0;
    __asan_get_shadow_mapping(&scale, &offset);
    return PageSize() << scale;
}

// Layout: an inaccessible guard page, the block's pages, then inaccessible
// pages to the end of the mapping. The block sits at the end of its pages,
// aligned as malloc would align it, so at most alignment - 1 bytes lie
// between its end and the guard; those and the slack before the block are
// poisoned, which makes the first byte past either end a reported error.
void* MapBlock(SIZE_T bytes, Block& block)
{
    SIZE_T page = PageSize();
    SIZE_T span = ShadowSpan();
    SIZE_T dataBytes = RoundUp(bytes, page);
    SIZE_T mappingBytes = RoundUp(dataBytes + 2 * page, span);
    // Mapped a span larger, then cut down to an aligned start.
    void* mapped = mmap(nullptr, mappingBytes + span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    char* raw = static_cast<char*>(mapped);
    char* mapping = reinterpret_cast<char*>(RoundUp(reinterpret_cast<uintptr_t>(raw), span));
    if (mapping > raw)
        munmap(raw, static_cast<size_t>(mapping - raw));
    munmap(mapping + mappingBytes, static_cast<size_t>(raw + span - mapping));
    if (mprotect(mapping + page, dataBytes, PROT_READ | PROT_WRITE) != 0) {
        munmap(mapping, mappingBytes);
        return nullptr;
    }
    char* start = mapping + page + (dataBytes - bytes) / mappedAlignment * mappedAlignment;
    char* end = start + bytes;
    ASAN_POISON_MEMORY_REGION(mapping, static_cast<size_t>(start - mapping));
    ASAN_POISON_MEMORY_REGION(end, static_cast<size_t>(mapping + mappingBytes - end));
    block.mapping = mapping;
    block.mappingBytes = mappingBytes;
    return start;
}

// Gives the pages of a mapping's shadow back, clear: poisoning the guards
// wrote to them, and mappings come and go at ever new addresses, so kept
// shadow pages would add up to gigabytes over a long fuzzing run.
void ReleaseShadow(const Block& block)
{
    size_t scale = 0, offset = 0;
    __asan_get_shadow_mapping(&scale, &offset);
    uintptr_t shadow = (reinterpret_cast<uintptr_t>(block.mapping) >> scale) + offset;
    madvise(reinterpret_cast<void*>(shadow), block.mappingBytes >> scale, MADV_DONTNEED);
}

// Drops the pages but keeps the addresses reserved and inaccessible; the
// oldest reservations are given back once the quarantine is full.
void UnmapBlock(void* pointer, const Block& block)
{
    char* start = static_cast<char*>(pointer);
    char* end = start + block.bytes;
    char* mappingEnd = block.mapping + block.mappingBytes;
    ASAN_UNPOISON_MEMORY_REGION(block.mapping, static_cast<size_t>(start - block.mapping));
    ASAN_UNPOISON_MEMORY_REGION(end, static_cast<size_t>(mappingEnd - end));
    ReleaseShadow(block);
    void* reserved = mmap(block.mapping, block.mappingBytes, PROT_NONE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    if (reserved == MAP_FAILED) {
        munmap(block.mapping, block.mappingBytes);
        return;
    }
    quarantine.push_back({block.mapping, block.mappingBytes});
    quarantinedBytes += block.mappingBytes;
    while (quarantinedBytes > quarantineBytes || quarantine.size() > quarantineMappings) {
        munmap(quarantine.front().mapping, quarantine.front().bytes);
        quarantinedBytes -= quarantine.front().bytes;
        quarantine.pop_front();
    }
}

bool Mapped(SIZE_T bytes)
{
    return bytes >= mappedFrom;
}

#else

// Without the sanitizer, malloc already maps large blocks lazily.
void* MapBlock(SIZE_T, Block&) { return nullptr; }
void UnmapBlock(void*, const Block&) {}
bool Mapped(SIZE_T) { return false; }

#endif

}  // namespace

HGLOBAL GlobalAlloc(UINT, SIZE_T bytes)
{
    if (allocationsLeft == 0 || bytes > largestBlock || bytes > addressSpace - liveBytes)
        return nullptr;
    if (allocationsLeft > 0)
        --allocationsLeft;
    Block block = {bytes, nullptr, 0};
    // malloc(0) may return null; a zero-byte block is still a block.
    void* pointer = Mapped(bytes) ? MapBlock(bytes, block) : std::malloc(bytes ? bytes : 1);
    if (pointer) {
        ++liveBlocks;
        liveBytes += bytes;
        blocks[pointer] = block;
    }
    return pointer;
}

// Fixed blocks: the handle is the pointer, as with GMEM_FIXED on Windows.
LPVOID GlobalLock(HGLOBAL block) { return block; }
HGLOBAL GlobalHandle(LPCVOID pointer) { return const_cast<void*>(pointer); }
BOOL GlobalUnlock(HGLOBAL) { return 0; }

HGLOBAL GlobalFree(HGLOBAL pointer)
{
    if (!pointer)
        return nullptr;
    auto found = blocks.find(pointer);
    if (found == blocks.end()) {
        // Not one of ours: free reports it as a bad free.
        std::free(pointer);
        return nullptr;
    }
    Block block = found->second;
    blocks.erase(found);
    liveBytes -= block.bytes;
    --liveBlocks;
    if (block.mapping)
        UnmapBlock(pointer, block);
    else
        std::free(pointer);
    return nullptr;
}

int StretchDIBits(HDC, int, int, int, int, int, int, int, int srcHeight,
                  const void* bits, const BITMAPINFO*, UINT, DWORD)
{
    return bits ? srcHeight : 0;
}

void HostFailAllocationsAfter(long count) { allocationsLeft = count; }
long HostLiveBlocks() { return liveBlocks; }
