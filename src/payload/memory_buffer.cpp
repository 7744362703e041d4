#include "payload/memory_buffer.h"

#include "platform/fixed_block.h"

MemoryBuffer::MemoryBuffer(int32_t bytes)
    : data(static_cast<uint8_t*>(AllocateFixedBlock(bytes > 0 ? bytes : 0))), size(bytes), pos(0)
{
}

MemoryBuffer::~MemoryBuffer()
{
    FreeFixedBlock(data);
}
