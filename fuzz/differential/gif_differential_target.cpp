// Differential fuzz target: every image of an arbitrary GIF stream is decoded
// twice from the same bytes, by the product decoder and by the reference
// decoder it replaced, and everything either can make observable is
// compared: the bytes of the frame's pixel block (filled with the same
// sentinel before), the result, the read position, the row reached and
// whether the source was detached. Any difference aborts, so libFuzzer keeps
// the input. Built for libFuzzer and, with replay_main.cpp, as a test.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gif/lzw_decoder.h"
#include "gif/oracle/reference_decoder.h"
#include "gif/row_placement.h"
#include "payload/memory_buffer.h"
#include "support/lzw_seam.h"

namespace {

// Larger frames are decoded without pixels, which still walks every row.
const int64_t largestComparedPixels = int64_t{1} << 16;
const uint8_t sentinel = 0x5A;

struct Outcome {
    int16_t result;
    int32_t pos;
    int32_t row;
    bool detached;
};

int32_t ReadByte(MemoryBuffer& buffer)
{
    return buffer.pos < buffer.size ? buffer.data[buffer.pos++] : -1;
}

int32_t ReadWord(MemoryBuffer& buffer)
{
    int32_t low = ReadByte(buffer);
    int32_t high = ReadByte(buffer);
    return (low < 0 ? 0 : low) | (high < 0 ? 0 : high << 8);
}

void Skip(MemoryBuffer& buffer, int32_t count)
{
    int32_t left = buffer.size - buffer.pos;
    buffer.pos += count < left ? count : left;
}

// Data sub-blocks up to the zero count; false when the buffer ends first.
bool SkipSubBlocks(MemoryBuffer& buffer)
{
    for (;;) {
        int32_t count = ReadByte(buffer);
        if (count <= 0)
            return count == 0;
        Skip(buffer, count);
    }
}

void PrepareBitmap(IndexedBitmap& bitmap, int32_t width, int32_t height)
{
    if (static_cast<int64_t>(width) * height > largestComparedPixels) {
        InitHeader(bitmap, width, height);
        return;
    }
    AllocatePixels(bitmap, width, height);
    if (bitmap.pixels)
        std::memset(bitmap.pixels, sentinel, static_cast<size_t>(bitmap.stride) * height);
}

[[noreturn]] void Disagree(const char* what, long ours, long theirs)
{
    std::fprintf(stderr, "decoders disagree on %s: product %ld, reference %ld\n", what, ours,
                 theirs);
    std::abort();
}

void Compare(const Outcome& ours, const Outcome& theirs)
{
    if (ours.result != theirs.result)
        Disagree("the result", ours.result, theirs.result);
    if (ours.pos != theirs.pos)
        Disagree("the read position", ours.pos, theirs.pos);
    if (ours.row != theirs.row)
        Disagree("the row reached", ours.row, theirs.row);
    if (ours.detached != theirs.detached)
        Disagree("the detaching of the source", ours.detached, theirs.detached);
}

void ComparePixels(const IndexedBitmap& ours, const IndexedBitmap& theirs)
{
    if (!ours.pixels || !theirs.pixels)
        return;
    size_t bytes = static_cast<size_t>(ours.stride) * ours.height;
    for (size_t i = 0; i < bytes; ++i) {
        if (ours.pixels[i] != theirs.pixels[i]) {
            std::fprintf(stderr, "pixel block offset %zu\n", i);
            Disagree("a pixel byte", ours.pixels[i], theirs.pixels[i]);
        }
    }
}

// Decodes the image data at buffer.pos with both decoders and compares them;
// leaves buffer.pos where both left it.
void DecodeBoth(MemoryBuffer& buffer, int32_t width, int32_t height, int32_t interlace)
{
    const int32_t start = buffer.pos;
    IndexedBitmap theirs = {};
    PrepareBitmap(theirs, width, height);
    AttachImage(buffer, theirs, interlace);
    Outcome expected;
    expected.result = reference::DecodeImage(width);
    expected.pos = buffer.pos;
    expected.detached = source == nullptr;
    expected.row = DetachImage();

    buffer.pos = start;
    IndexedBitmap ours = {};
    PrepareBitmap(ours, width, height);
    AttachImage(buffer, ours, interlace);
    Outcome actual;
    actual.result = DecodeImage(width);
    actual.pos = buffer.pos;
    actual.detached = source == nullptr;
    actual.row = DetachImage();

    Compare(actual, expected);
    ComparePixels(ours, theirs);
    ReleasePixels(ours);
    ReleasePixels(theirs);
}

// Header, logical screen descriptor and global colour table, then blocks as
// the parser reads them; each image's local colour table is passed over.
void DecodeEveryImage(MemoryBuffer& buffer)
{
    Skip(buffer, 10);
    int32_t packed = ReadByte(buffer);
    Skip(buffer, 2);
    if (packed > 0 && (packed & 0x80))
        Skip(buffer, 3 << ((packed & 7) + 1));
    for (;;) {
        int32_t introducer = ReadByte(buffer);
        if (introducer == 0x21) {
            Skip(buffer, 1);
            if (!SkipSubBlocks(buffer))
                return;
        } else if (introducer == 0x2C) {
            Skip(buffer, 4);
            int32_t width = ReadWord(buffer);
            int32_t height = ReadWord(buffer);
            int32_t flags = ReadByte(buffer);
            if (flags < 0)
                return;
            if (flags & 0x80)
                Skip(buffer, 3 << ((flags & 7) + 1));
            DecodeBoth(buffer, width, height, flags & 0x40);
            if (!SkipSubBlocks(buffer))
                return;
        } else {
            return;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0x7FFFFFFF)
        return 0;
    MemoryBuffer buffer(static_cast<int32_t>(size));
    if (!buffer.data)
        return 0;
    if (size > 0)
        std::memcpy(buffer.data, data, size);
    // A malformed stream can reach dictionary entries left by earlier
    // images; both decoders start every input from a fresh process's tables.
    ForgetDictionary();
    reference::ForgetDictionary();
    DecodeEveryImage(buffer);
    return 0;
}
