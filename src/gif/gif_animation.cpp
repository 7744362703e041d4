#include "gif/gif_animation.h"

#include <new>

#include "gif/lzw_decoder.h"
#include "gif/row_placement.h"
#include "platform/fixed_block.h"

GifAnimation animation;

namespace {

const int32_t extensionIntroducer = 0x21;
const int32_t imageSeparator = 0x2C;
const int32_t graphicControlLabel = 0xF9;
const int32_t framesPerStep = 100;

struct PendingDelay {
    bool set;
    uint32_t hundredths;
};

bool AtEnd(const MemoryBuffer& buffer)
{
    return !buffer.data || buffer.pos < 0 || buffer.pos >= buffer.size;
}

int32_t Remaining(const MemoryBuffer& buffer)
{
    return AtEnd(buffer) ? 0 : buffer.size - buffer.pos;
}

// The next byte, or -1 at the end of the buffer.
int32_t ReadByte(MemoryBuffer& buffer)
{
    return AtEnd(buffer) ? -1 : buffer.data[buffer.pos++];
}

// A 16-bit little-endian number; a byte the buffer does not hold counts as 0.
int32_t ReadWord(MemoryBuffer& buffer)
{
    int32_t low = ReadByte(buffer);
    int32_t high = ReadByte(buffer);
    return (low < 0 ? 0 : low) | (high < 0 ? 0 : high << 8);
}

// Moves the read position on by `count` bytes, but never past the end.
void SkipBytes(MemoryBuffer& buffer, int32_t count)
{
    int32_t remaining = Remaining(buffer);
    buffer.pos += count < remaining ? count : remaining;
}

// Graphic control extension, behind 0x21 0xF9:
//   0  1  block size, always 4
//   1  1  packed: disposal method, user input, transparency (not used)
//   2  2  delay time, hundredths of a second
//   4  1  transparent colour index (not used)
//   5  1  block terminator, always 0
// False when the block is malformed or cut short, which ends parsing.
bool ReadGraphicControl(MemoryBuffer& buffer, PendingDelay& pending)
{
    if (ReadByte(buffer) != 4 || Remaining(buffer) < 5)
        return false;
    SkipBytes(buffer, 1);
    pending.set = true;
    pending.hundredths = static_cast<uint32_t>(ReadWord(buffer));
    SkipBytes(buffer, 1);
    return ReadByte(buffer) == 0;
}

// Any other extension: data sub-blocks (count byte, then that many bytes) up
// to a zero count. False when the buffer ends inside them.
bool SkipExtensionData(MemoryBuffer& buffer)
{
    if (AtEnd(buffer))
        return false;
    for (;;) {
        int32_t count = ReadByte(buffer);
        if (count == 0)
            return true;
        if (count < 0)
            return false;
        SkipBytes(buffer, count);
        if (AtEnd(buffer))
            return false;
    }
}

// Extension, behind its 0x21 introducer: a label byte, then the block.
bool ReadExtension(MemoryBuffer& buffer, PendingDelay& pending)
{
    if (ReadByte(buffer) == graphicControlLabel)
        return ReadGraphicControl(buffer, pending);
    return SkipExtensionData(buffer);
}

// What the decoder left of the image data: the rest of its sub-blocks up to
// the zero count, normally just that terminator.
void SkipImageData(MemoryBuffer& buffer)
{
    int32_t count = ReadByte(buffer);
    while (count > 0 && !AtEnd(buffer)) {
        SkipBytes(buffer, count);
        count = ReadByte(buffer);
    }
}

int32_t Square(int32_t value)
{
    return value * value;
}

int32_t ColourDistance(uint32_t a, uint32_t b)
{
    int32_t red = static_cast<int32_t>(a & 0xFF) - static_cast<int32_t>(b & 0xFF);
    int32_t green = static_cast<int32_t>((a >> 8) & 0xFF) - static_cast<int32_t>((b >> 8) & 0xFF);
    int32_t blue = static_cast<int32_t>((a >> 16) & 0xFF) - static_cast<int32_t>((b >> 16) & 0xFF);
    return Square(red) + Square(green) + Square(blue);
}

// The entry of `table` nearest to `colour`; the lowest index on a tie.
uint8_t NearestEntry(const ColourTable& table, uint32_t colour)
{
    int32_t best = 0;
    int32_t bestDistance = ColourDistance(table.entries[0], colour);
    for (int32_t i = 1; i < table.count; ++i) {
        int32_t distance = ColourDistance(table.entries[i], colour);
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<uint8_t>(best);
}

// Frames are shown through one palette built from the global table, so the
// indices of a frame with its own table are turned into the nearest global
// colours. Indices the local table does not define stay as they are.
// Only the rows the decoder placed hold indices: walking the placement order
// up to `reached`, the row it would have placed next, keeps the work to
// what was decoded, which matters for a short stream that declares a huge
// image.
void RemapToGlobal(IndexedBitmap& bitmap, const ColourTable& local, const ColourTable& global,
                   int32_t reached)
{
    if (!bitmap.pixels || global.count == 0)
        return;
    uint8_t lookup[256];
    for (int32_t i = 0; i < 256; ++i)
        lookup[i] = i < local.count ? NearestEntry(global, local.entries[i]) : static_cast<uint8_t>(i);
    for (int32_t placed = 0; placed < bitmap.height && placed != reached;
         placed = NextRow(placed, bitmap.height)) {
        uint8_t* pixel = PixelPointer(bitmap, 0, bitmap.height - 1 - placed);
        for (int32_t x = 0; x < bitmap.width; ++x)
            pixel[x] = lookup[pixel[x]];
    }
}

void FreeFrame(GifFrame* frame)
{
    ReleasePixels(frame->bitmap);
    FreeFixedBlock(frame);
}

// Replaces the frame array by one with 100 more slots, keeping the pointers
// in order. False, with the old array kept, when the block cannot be had.
bool GrowFrames(GifAnimation& gif)
{
    int32_t capacity = gif.frameCapacity + framesPerStep;
    void* block = AllocateFixedBlock(static_cast<uint64_t>(capacity) * sizeof(GifFrame*));
    if (!block)
        return false;
    GifFrame** grown = static_cast<GifFrame**>(block);
    CopyBytes(grown, gif.frames, gif.frameCapacity * static_cast<int32_t>(sizeof(GifFrame*)));
    FreeFixedBlock(gif.frames);
    gif.frames = grown;
    gif.frameCapacity = capacity;
    return true;
}

// An image, behind its 0x2C separator: read, decoded and appended. The delay
// of a preceding graphic control extension goes to this frame only.
bool AppendFrame(GifAnimation& gif, MemoryBuffer& buffer, PendingDelay& pending)
{
    void* block = AllocateFixedBlock(sizeof(GifFrame));
    if (!block)
        return false;
    GifFrame* frame = new (block) GifFrame;
    frame->Read(buffer, gif.colourTable);
    if (gif.frameCount == gif.frameCapacity && !GrowFrames(gif)) {
        FreeFrame(frame);
        return false;
    }
    gif.frames[gif.frameCount++] = frame;
    if (pending.set) {
        frame->delay = pending.hundredths;
        pending.set = false;
    }
    return true;
}

void ParseBlocks(GifAnimation& gif, MemoryBuffer& buffer)
{
    PendingDelay pending = {false, 0};
    for (;;) {
        int32_t introducer = ReadByte(buffer);
        if (introducer == extensionIntroducer) {
            if (!ReadExtension(buffer, pending))
                return;
        } else if (introducer == imageSeparator) {
            if (!AppendFrame(gif, buffer, pending))
                return;
        } else {
            // The trailer, an unknown block or the end of the buffer.
            return;
        }
    }
}

}  // namespace

void ColourTable::Read(int32_t sizeBits, MemoryBuffer& buffer)
{
    count = 1 << ((sizeBits & 7) + 1);
    for (int32_t i = 0; i < count; ++i) {
        if (Remaining(buffer) < 3) {
            // The buffer ends inside the table: what is left of it is used up
            // too, so the caller sees the end and stops.
            SkipBytes(buffer, Remaining(buffer));
            return;
        }
        uint32_t red = buffer.data[buffer.pos];
        uint32_t green = buffer.data[buffer.pos + 1];
        uint32_t blue = buffer.data[buffer.pos + 2];
        entries[i] = red | green << 8 | blue << 16;
        buffer.pos += 3;
    }
}

// Image descriptor, behind the 0x2C separator, 9 bytes:
//   0  2  left
//   2  2  top
//   4  2  width
//   6  2  height
//   8  1  packed: bit 7 local colour table, bit 6 interlaced, bits 0-2 table size
// then the local colour table if any, the LZW minimum code size and the
// image data sub-blocks.
void GifFrame::Read(MemoryBuffer& buffer, const ColourTable& global)
{
    delay = 0;
    InitHeader(bitmap, 0, 0);
    left = ReadWord(buffer);
    top = ReadWord(buffer);
    width = ReadWord(buffer);
    height = ReadWord(buffer);
    int32_t packed = ReadByte(buffer);
    if (packed < 0)
        packed = 0;
    interlaced = packed & 0x40;

    ColourTable local;
    local.count = 0;
    if (packed & 0x80)
        local.Read(packed & 7, buffer);
    if (AtEnd(buffer))
        return;

    AllocatePixels(bitmap, width, height);
    AttachImage(buffer, bitmap, interlaced);
    DecodeImage(width);
    const int32_t rowsReached = DetachImage();

    if (local.count > 0)
        RemapToGlobal(bitmap, local, global, rowsReached);
    SkipImageData(buffer);
}

IndexedBitmap* GifFrame::Bounds(RECT& rect)
{
    if (!bitmap.pixels)
        return nullptr;
    rect.left = left;
    rect.top = top;
    rect.right = left + width;
    rect.bottom = top + height;
    return &bitmap;
}

// Header and logical screen descriptor, 13 bytes:
//    0  6  signature and version (not checked)
//    6  2  logical screen width
//    8  2  logical screen height
//   10  1  packed: bit 7 global colour table, bits 0-2 its size
//   11  1  background colour index (not used)
//   12  1  pixel aspect ratio (not used)
// then the global colour table if any, and the blocks.
void GifAnimation::Parse(MemoryBuffer& buffer)
{
    width = 0;
    height = 0;
    colourTable.count = 0;
    frames = nullptr;
    frameCount = 0;
    frameCapacity = 0;
    if (!GrowFrames(*this))
        return;

    SkipBytes(buffer, 6);
    width = ReadWord(buffer);
    height = ReadWord(buffer);
    int32_t packed = ReadByte(buffer);
    SkipBytes(buffer, 2);
    // Not at the end, so the packed byte was there.
    if (AtEnd(buffer))
        return;
    if (packed & 0x80) {
        colourTable.Read(packed & 7, buffer);
        if (AtEnd(buffer))
            return;
    }
    ParseBlocks(*this, buffer);
}

void GifAnimation::Release()
{
    if (!frames)
        return;
    for (int32_t i = 0; i < frameCount; ++i)
        FreeFrame(frames[i]);
    FreeFixedBlock(frames);
    frames = nullptr;
    frameCount = 0;
    frameCapacity = 0;
}
