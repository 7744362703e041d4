// MemoryBuffer: an owned block of bytes read from a payload section, with a
// read position for the consumer that parses it.
#pragma once

#include <cstdint>

struct MemoryBuffer {
    uint8_t* data;  // null when the block could not be allocated
    int32_t size;   // bytes in the block
    int32_t pos;    // read position of the consumer, 0 at creation

    // Allocates one fixed block of `bytes` bytes; its contents are not cleared.
    explicit MemoryBuffer(int32_t bytes);
    // Releases the block, on every path out of the owner's scope.
    ~MemoryBuffer();

    MemoryBuffer(const MemoryBuffer&) = delete;
    MemoryBuffer& operator=(const MemoryBuffer&) = delete;
};
