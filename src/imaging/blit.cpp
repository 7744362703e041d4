#include "imaging/blit.h"

#include <algorithm>
#include <cstring>

namespace {

// The clamping works in 64 bits so that no sum or difference of two 32-bit
// values can wrap; only the rectangle written back is 32-bit again.
struct Clip {
    int64_t left;
    int64_t top;
    int64_t right;
    int64_t bottom;
    int64_t sourceX;
    int64_t sourceY;
};

// Only rectangles that nothing could be copied from hold values beyond
// 32 bits, so saturating them keeps them empty.
LONG Saturate(int64_t value)
{
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<LONG>(value);
}

void WriteBack(const Clip& clip, RECT& rect)
{
    rect.left = Saturate(clip.left);
    rect.top = Saturate(clip.top);
    rect.right = Saturate(clip.right);
    rect.bottom = Saturate(clip.bottom);
}

// Raises `edge` to 0 when it lies below, moving `partner` by as much.
void RaiseToZero(int64_t& edge, int64_t& partner)
{
    if (edge < 0) {
        partner -= edge;
        edge = 0;
    }
}

// Runs the clamps in their fixed order, each one seeing what the earlier ones
// left.
void ClampToBitmaps(Clip& clip, const IndexedBitmap& destination, const IndexedBitmap& source)
{
    // A rectangle reaching left of or above the destination skips as much of
    // the source as was cut off.
    RaiseToZero(clip.left, clip.sourceX);
    RaiseToZero(clip.top, clip.sourceY);
    // Nothing lands right of or below the destination.
    clip.right = std::min<int64_t>(clip.right, destination.width);
    clip.bottom = std::min<int64_t>(clip.bottom, destination.height);
    // An origin left of or above the source moves the rectangle's edge by as
    // much, so that the first pixel copied is the source's first.
    RaiseToZero(clip.sourceX, clip.left);
    RaiseToZero(clip.sourceY, clip.top);
    // Nothing is read beyond the source's right or bottom edge.
    clip.right = std::min(clip.right, clip.left + source.width - clip.sourceX);
    clip.bottom = std::min(clip.bottom, clip.top + source.height - clip.sourceY);
}

void CopyRunOpaque(uint8_t* to, const uint8_t* from, int32_t width)
{
    std::memcpy(to, from, static_cast<size_t>(width));
}

void CopyRunSkipping(uint8_t* to, const uint8_t* from, int32_t width, uint8_t transparent)
{
    for (int32_t x = 0; x < width; ++x) {
        if (from[x] != transparent)
            to[x] = from[x];
    }
}

}  // namespace

void Blit(IndexedBitmap& destination, const IndexedBitmap& source, RECT& rect,
          int32_t sourceX, int32_t sourceY, int32_t transparentIndex)
{
    Clip clip = {rect.left, rect.top, rect.right, rect.bottom, sourceX, sourceY};
    ClampToBitmaps(clip, destination, source);
    // The caller sees the clamped rectangle, even when nothing is copied.
    WriteBack(clip, rect);
    if (clip.right <= clip.left || clip.bottom <= clip.top)
        return;
    if (!destination.pixels || !source.pixels)
        return;

    // After the clamps every value below lies inside both bitmaps.
    const int32_t left = static_cast<int32_t>(clip.left);
    const int32_t top = static_cast<int32_t>(clip.top);
    const int32_t width = static_cast<int32_t>(clip.right - clip.left);
    const int32_t rows = static_cast<int32_t>(clip.bottom - clip.top);
    const int32_t fromX = static_cast<int32_t>(clip.sourceX);
    const int32_t fromY = static_cast<int32_t>(clip.sourceY);
    // No byte equals an index beyond 255, so such an index copies opaquely too.
    const bool opaque = transparentIndex < 0 || transparentIndex > 255;

    for (int32_t i = 0; i < rows; ++i) {
        uint8_t* to = PixelPointer(destination, left, destination.height - 1 - (top + i));
        const uint8_t* from = PixelPointer(source, fromX, source.height - 1 - (fromY + i));
        if (opaque)
            CopyRunOpaque(to, from, width);
        else
            CopyRunSkipping(to, from, width, static_cast<uint8_t>(transparentIndex));
    }
}
