// The LZW decoder as it was before the speed rewrite, kept as the oracle of
// the differential tests and fuzzer: the product decoder must place the same
// bytes, consume the same bytes and return the same results on every stream,
// well-formed or not. It takes its image through the product's AttachImage
// and places lines with the product's row placement; its code state and
// dictionary are its own, inside namespace reference.
#pragma once

#include <cstdint>

#include "imaging/indexed_bitmap.h"
#include "payload/memory_buffer.h"

namespace reference {

const int32_t maxLineWidth = 65535;
const int32_t dictionarySize = 4096;

extern int16_t prefix[dictionarySize];
extern uint8_t suffix[dictionarySize];

int16_t DecodeImage(int32_t lineWidth);
void ResetCodes(int16_t minCodeSize);
int16_t NextCode();

// Puts the dictionary back to the state of a fresh process, so that the
// stale entries a malformed stream reaches are the same in every run.
void ForgetDictionary();

}  // namespace reference
