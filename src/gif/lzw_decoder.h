// LZW decoder for GIF image data: variable-width codes read from data
// sub-blocks, expanded through a 4096-entry dictionary into lines that the
// row placement puts into the frame's bitmap. Fixed process-wide tables, no
// allocation, one image at a time.
#pragma once

#include <cstdint>

#include "imaging/indexed_bitmap.h"
#include "payload/memory_buffer.h"

// Widest line a GIF image can have (its width is a 16-bit field).
const int32_t maxLineWidth = 65535;
// Dictionary slots; codes are at most 12 bits wide.
const int32_t dictionarySize = 4096;

// Where image bytes come from; cleared by the row placement once the last
// row has been placed, which ends decoding at the next sub-block.
extern MemoryBuffer* source;

// Code state, set by ResetCodes and left by DecodeImage as decoding ended.
extern int16_t codeSize;    // width of the next code in bits, up to 12
extern int16_t clearCode;   // 2^minimum code size
extern int16_t endCode;     // clearCode + 1
extern int16_t firstFree;   // clearCode + 2: first slot of a multi-character string
extern int16_t nextFree;    // slot the next new string goes to, up to dictionarySize
extern int16_t widthLimit;  // 2^codeSize: codeSize grows when nextFree reaches it

// What DecodeImage returns.
const int16_t decodingEnded = 0;         // however it ended, see below
const int16_t codeSizeMissing = -1;      // no minimum code size byte
const int16_t codeSizeOutOfRange = -20;  // a minimum code size outside 2..9

// Hands one image to the decoder: its bytes come from `buffer`, from the
// minimum code size byte on, and its lines go to `bitmap` from the top row,
// in interlaced order when `interlacedRows` is nonzero.
void AttachImage(MemoryBuffer& buffer, IndexedBitmap& bitmap, int32_t interlacedRows);

// Ends the hand-over, so that nothing of the image can be reached through
// the decoder afterwards. Returns the image row the decoder would have
// placed next: every row before it in placement order holds indices.
int32_t DetachImage();

// Decodes one image from `source` (minimum code size byte, then data
// sub-blocks) into lines of `lineWidth` bytes, handed to PlaceLine.
// Returns decodingEnded when decoding ended: end code, data ran out, a
// zero-length sub-block (left unread for the caller), source detached, or a
// malformed string too long for the output stack; codeSizeMissing or
// codeSizeOutOfRange when the minimum code size byte is missing or wrong.
// A width outside 1..maxLineWidth reads the minimum code size byte and
// decodes nothing. The dictionary is never cleared, so a malformed stream's
// strings may run through entries that earlier images left.
int16_t DecodeImage(int32_t lineWidth);

// Sets the code state for a new image with minimum code size `minCodeSize`
// (2..9): the next code is read from a fresh sub-block.
void ResetCodes(int16_t minCodeSize);

// The byte at source->pos, advancing pos; -1 without a source or at its end.
int32_t NextByte();
