#include "platform/fixed_block.h"

#include "platform/win32.h"

void* AllocateFixedBlock(uint64_t bytes)
{
    if (bytes > 0x7FFFFFFF)
        return nullptr;
    HGLOBAL handle = GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(bytes));
    return handle ? GlobalLock(handle) : nullptr;
}

void FreeFixedBlock(void* block)
{
    if (!block)
        return;
    HGLOBAL handle = GlobalHandle(block);
    GlobalUnlock(handle);
    GlobalFree(handle);
}
