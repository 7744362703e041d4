// Fixed blocks of the system's global memory: every dynamic block of the
// program (payload buffers, frame array, frame records, pixel blocks) is one.
#pragma once

#include <cstdint>

// One block of `bytes` bytes, GMEM_FIXED and locked for its whole life, not
// cleared. Returns null when it cannot be had, and for more than 2^31 - 1
// bytes: every offset into a block (MemoryBuffer's pos and size, a bitmap's
// line offsets) must stay below 2^31, wherever the block lies.
void* AllocateFixedBlock(uint64_t bytes);

// Unlocks and frees a block through the handle found from its pointer.
// A null pointer frees nothing.
void FreeFixedBlock(void* block);
