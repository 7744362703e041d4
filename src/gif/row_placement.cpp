// Puts decoded lines into the frame bitmap, in plain or interlaced row order.
#include "gif/row_placement.h"

#include <cstring>

#include "gif/lzw_decoder.h"

IndexedBitmap* target = nullptr;
int32_t row = 0;
int32_t interlaced = 0;

int32_t PlaceLine(const uint8_t* line, int32_t length)
{
    if (!target)
        return 0;
    int32_t width = target->width;
    int32_t height = target->height;
    if (row < 0 || row >= height)
        return 0;

    int32_t count = length < width ? length : width;
    // A bitmap whose block could not be had still counts its rows, so the
    // image's data is consumed as usual; it just receives nothing.
    // The line and the bitmap never overlap, so the C library's copy, the
    // fastest there is for long lines, may do it.
    if (count > 0 && target->pixels)
        std::memcpy(PixelPointer(*target, 0, height - 1 - row), line, static_cast<size_t>(count));

    row = NextRow(row, height);
    if (row >= height)
        source = nullptr;
    return 0;
}

// Interlaced passes: rows 0, 8, 16...; then 4, 12, 20...; then 2, 6, 10...;
// then every odd row. When a pass runs out, the next pass's first row always
// exists, since some row of the ending pass lay beyond it.
int32_t NextRow(int32_t row, int32_t height)
{
    if (!interlaced)
        return row + 1;
    if (row == 0) {
        if (height > 8)
            return 8;
        if (height > 4)
            return 4;
        return height > 2 ? 2 : 1;
    }
    if (row % 2 == 1)
        return row + 2;
    if (row % 4 == 2)
        return row + 4 < height ? row + 4 : 1;
    if (row % 8 == 4)
        return row + 8 < height ? row + 8 : 2;
    return row + 8 < height ? row + 8 : 4;
}

// A word at a time, front to back, so that a copy to a lower address of an
// overlapping range (the line buffer moving its rest to the front) is safe.
void CopyBytes(void* destination, const void* from, int32_t count)
{
    uint8_t* to = static_cast<uint8_t*>(destination);
    const uint8_t* bytes = static_cast<const uint8_t*>(from);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        uint32_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        std::memcpy(to + i, &word, sizeof word);
    }
    for (; i < count; ++i)
        to[i] = bytes[i];
}
