// The wuffs GIF decoder behind a small C interface, so that the benchmark
// can time it beside ours. Built only when the wuffs release is present.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Called for every decoded frame: its rectangle on the logical screen and
// its top-left pixel inside a canvas of `stride` bytes per row.
typedef void (*WuffsFrameSink)(void* context, int left, int top, int width, int height,
                               const uint8_t* pixels, size_t stride);

// Decodes every frame of the GIF in `data` into one 8-bit indexed canvas.
// Returns the number of frames, or -1 when wuffs refuses the stream.
// `sink` may be null.
int WuffsDecodeGif(const uint8_t* data, size_t size, WuffsFrameSink sink, void* context);

#ifdef __cplusplus
}
#endif
