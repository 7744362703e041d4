// LZW decoder for GIF image data: variable-width codes read from data
// sub-blocks, expanded through a 4096-entry dictionary into lines that the
// row placement puts into the frame's bitmap. Fixed process-wide tables, no
// allocation, one image at a time.
#pragma once

#include <cstdint>

#include "payload/memory_buffer.h"

// Where image bytes come from; cleared by the row placement once the last
// row has been placed, which ends decoding at the next sub-block.
extern MemoryBuffer* source;

// Decodes one image from `source` (minimum code size byte, then data
// sub-blocks) into lines of `lineWidth` bytes, handed to PlaceLine. Returns
// 0 when decoding ended (end code, data ran out, source detached), -1 when
// the minimum code size byte is missing, -20 when it lies outside 2..9.
int16_t DecodeImage(int32_t lineWidth);

// Sets the code state for a new image with minimum code size `minCodeSize`.
void ResetCodes(int16_t minCodeSize);

// The next code, 0..4095, or -1 when a byte was needed and none was left.
int16_t NextCode();

// The byte at source->pos, advancing pos; -1 without a source or at its end.
int32_t NextByte();
