// Fuzz target: arbitrary bytes as a GIF stream, parsed into the process-wide
// animation and released again. Built for libFuzzer, and with replay_main.cpp
// as an ordinary test that runs every kept input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gif/gif_animation.h"
#include "gif/lzw_decoder.h"
#include "payload/memory_buffer.h"
#include "platform/win32.h"
#include "support/lzw_seam.h"

namespace {

// Touches the last byte of each frame's block, so a block smaller than its
// bitmap's size shows up as an out-of-bounds read.
void TouchFrames(const GifAnimation& gif)
{
    for (int32_t i = 0; i < gif.frameCount; ++i) {
        const IndexedBitmap& bitmap = gif.frames[i]->bitmap;
        if (bitmap.pixels && bitmap.width > 0 && bitmap.height > 0) {
            volatile uint8_t last = *PixelPointer(bitmap, bitmap.width - 1, bitmap.height - 1);
            (void)last;
        }
    }
}

void ParseAndRelease(const uint8_t* data, size_t size)
{
    // Exactly the input's size, so any read past the end is reported.
    MemoryBuffer buffer(static_cast<int32_t>(size));
    if (!buffer.data)
        return;
    if (size > 0)
        std::memcpy(buffer.data, data, size);

    // Each input starts from the decoder state of a fresh process, so that a
    // find replays alone exactly as it ran: a malformed stream's strings can
    // run through dictionary entries that earlier images left behind.
    animation = GifAnimation();
    ForgetDictionary();

    animation.Parse(buffer);
    TouchFrames(animation);
    animation.Release();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x7FFFFFFF)
        return 0;
    // Large pixel blocks are mapped where the leak sanitizer does not look,
    // so every block still live after the release counts as a leak here.
    long liveBefore = HostLiveBlocks();
    ParseAndRelease(data, size);
    long leaked = HostLiveBlocks() - liveBefore;
    if (leaked != 0) {
        std::fprintf(stderr, "%ld blocks still allocated after Release\n", leaked);
        std::abort();
    }
    return 0;
}
