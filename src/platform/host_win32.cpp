#include "platform/host_win32.h"

#include <cstdlib>
#include <unordered_map>

namespace {

// A 32-bit process has 2 GiB of address space for everything it allocates.
const SIZE_T largestBlock = 0x7FFFFFFF;
const SIZE_T addressSpace = 0x7FFFFFFF;
long allocationsLeft = -1;
long liveBlocks = 0;
SIZE_T liveBytes = 0;
std::unordered_map<void*, SIZE_T> blockSizes;

}  // namespace

HGLOBAL GlobalAlloc(UINT, SIZE_T bytes)
{
    if (allocationsLeft == 0 || bytes > largestBlock || bytes > addressSpace - liveBytes)
        return nullptr;
    if (allocationsLeft > 0)
        --allocationsLeft;
    // malloc(0) may return null; a zero-byte block is still a block.
    void* block = std::malloc(bytes ? bytes : 1);
    if (block) {
        ++liveBlocks;
        liveBytes += bytes;
        blockSizes[block] = bytes;
    }
    return block;
}

// Fixed blocks: the handle is the pointer, as with GMEM_FIXED on Windows.
LPVOID GlobalLock(HGLOBAL block) { return block; }
HGLOBAL GlobalHandle(LPCVOID pointer) { return const_cast<void*>(pointer); }
BOOL GlobalUnlock(HGLOBAL) { return 0; }

HGLOBAL GlobalFree(HGLOBAL block)
{
    if (block) {
        auto found = blockSizes.find(block);
        if (found != blockSizes.end()) {
            liveBytes -= found->second;
            blockSizes.erase(found);
        }
        std::free(block);
        --liveBlocks;
    }
    return nullptr;
}

int StretchDIBits(HDC, int, int, int, int, int, int, int, int srcHeight,
                  const void* bits, const BITMAPINFO*, UINT, DWORD)
{
    return bits ? srcHeight : 0;
}

void HostFailAllocationsAfter(long count) { allocationsLeft = count; }
long HostLiveBlocks() { return liveBlocks; }
