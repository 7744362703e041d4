// The LZW decoder and row placement as they were before the speed rewrite,
// kept as the oracle of the differential tests and fuzzer: the product
// decoder must place the same bytes, consume the same bytes and return the
// same results on every stream, well-formed or not. Same interface and
// process-wide state as the product's, inside namespace reference.
#pragma once

#include <cstdint>

#include "imaging/indexed_bitmap.h"
#include "payload/memory_buffer.h"

namespace reference {

const int32_t maxLineWidth = 65535;
const int32_t dictionarySize = 4096;

extern MemoryBuffer* source;
extern IndexedBitmap* target;
extern int32_t row;
extern int32_t interlaced;

extern int16_t prefix[dictionarySize];
extern uint8_t suffix[dictionarySize];

int16_t DecodeImage(int32_t lineWidth);
void ResetCodes(int16_t minCodeSize);
int16_t NextCode();
int32_t NextByte();
int32_t PlaceLine(const uint8_t* line, int32_t length);
int32_t NextRow(int32_t row, int32_t height);
void CopyBytes(void* destination, const void* from, int32_t count);

// Puts the dictionary back to the state of a fresh process, so that the
// stale entries a malformed stream reaches are the same in every run.
void ForgetDictionary();

}  // namespace reference
