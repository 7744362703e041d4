// Row placement: puts each decoded line into the target bitmap at the memory
// line of the current image row, in plain or four-pass interlaced order, and
// detaches the decoder's source once the last row is placed.
#pragma once

#include <cstdint>

#include "imaging/indexed_bitmap.h"

extern IndexedBitmap* target;  // bitmap receiving lines, or null
extern int32_t row;            // image row of the next line, 0 = top
extern int32_t interlaced;     // nonzero: rows come in interlaced order

// Copies up to the target's width of `length` bytes into the current row's
// memory line and advances the row; drops the line without a target, past
// the last row, or when the target has no pixels. Always returns 0.
int32_t PlaceLine(const uint8_t* line, int32_t length);

// The image row after `row` in an image of `height` rows; reads `interlaced`.
// A result at or beyond `height` means every row has been visited.
int32_t NextRow(int32_t row, int32_t height);

// Copies `count` bytes front to back; a count of 0 or less copies nothing.
// The ranges may overlap when `destination` lies below `from`.
void CopyBytes(void* destination, const void* from, int32_t count);
