// The decoded animation: logical screen size, global colour table and the
// list of frames, each decoded at load time into an IndexedBitmap. Every
// frame's pixels are indices into the global colour table.
#pragma once

#include <cstdint>

#include "imaging/indexed_bitmap.h"
#include "payload/memory_buffer.h"
#include "platform/win32.h"

struct ColourTable {
    int32_t count;         // 2..256, or 0 when the stream has none
    uint32_t entries[256]; // red | green << 8 | blue << 16

    // Sets count to 2^(sizeBits + 1) and reads that many RGB triples. Stops
    // at the end of the buffer; entries the buffer does not supply whole are
    // left as they were.
    void Read(int32_t sizeBits, MemoryBuffer& buffer);
};

struct GifFrame {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    int32_t interlaced;    // 0 or 0x40
    IndexedBitmap bitmap;  // no pixels when the stream ended at or inside the descriptor
    uint32_t delay;        // hundredths of a second; 0 without a graphic control extension

    // Reads one image positioned just behind its 0x2C separator: descriptor,
    // a local colour table if any, and the image data, decoded into bitmap.
    // Pixels of an image with a local table are remapped to the nearest
    // colours of `global` (unchanged when `global` is empty). Every field is
    // set, whatever the stream holds.
    void Read(MemoryBuffer& buffer, const ColourTable& global);

    // The frame's bitmap and its rectangle (right and bottom exclusive), or
    // null, with `rect` untouched, when the bitmap has no pixels.
    IndexedBitmap* Bounds(RECT& rect);
};

struct GifAnimation {
    int32_t width;         // logical screen
    int32_t height;
    ColourTable colourTable;
    GifFrame** frames;     // stream order; null before parsing and after release
    int32_t frameCount;
    int32_t frameCapacity; // 100, 200, 300, ...

    // Parses the stream from buffer.pos on, decoding every image. Reports
    // nothing: a problem (malformed block, end of the buffer, failed
    // allocation) ends parsing and keeps the frames built so far. Never reads
    // at or past buffer.size.
    void Parse(MemoryBuffer& buffer);

    // Frees every frame, its pixels and the frame array; does nothing when
    // there is no frame array.
    void Release();
};

extern GifAnimation animation;
