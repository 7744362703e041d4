// Test helpers that build GIF byte streams: LZW codes packed by hand, image
// data made of literal codes only, and whole streams written block by block.
// They follow the GIF format, not the decoder under test.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "payload/memory_buffer.h"

typedef std::vector<uint8_t> Bytes;

// A MemoryBuffer holding exactly `bytes`, so that a read past the end is an
// out-of-bounds read that the address sanitizer reports.
struct LoadedBuffer {
    MemoryBuffer buffer;

    explicit LoadedBuffer(const Bytes& bytes, size_t length = SIZE_MAX)
        : buffer(static_cast<int32_t>(length < bytes.size() ? length : bytes.size()))
    {
        if (buffer.size > 0)
            std::memcpy(buffer.data, bytes.data(), buffer.size);
    }
};

// Packs codes least significant bit first, each at its own width.
class CodePacker {
public:
    void Put(uint32_t code, int width)
    {
        for (int bit = 0; bit < width; ++bit) {
            if (bitCount_ % 8 == 0)
                bytes_.push_back(0);
            if (code & (1u << bit))
                bytes_.back() |= static_cast<uint8_t>(1u << (bitCount_ % 8));
            ++bitCount_;
        }
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
    int bitCount_ = 0;
};

// Data sub-blocks of at most `blockSize` bytes, then the zero terminator.
inline Bytes SubBlocks(const Bytes& data, size_t blockSize = 255)
{
    Bytes out;
    for (size_t at = 0; at < data.size(); at += blockSize) {
        size_t count = data.size() - at < blockSize ? data.size() - at : blockSize;
        out.push_back(static_cast<uint8_t>(count));
        out.insert(out.end(), data.begin() + at, data.begin() + at + count);
    }
    out.push_back(0);
    return out;
}

// LZW codes for `pixels` using literal codes only. A decoder still adds a
// string for every code after the first behind a clear code, so the code
// width grows as it would; a clear code is sent when the 4096 slots are full
// only if `clearWhenFull`, otherwise the stream goes on at 12 bits.
inline Bytes LiteralCodes(int minCodeSize, const Bytes& pixels, bool clearWhenFull = true,
                          bool endCode = true)
{
    const uint32_t clear = 1u << minCodeSize;
    CodePacker packer;
    int width = minCodeSize + 1;
    uint32_t nextFree = clear + 2;
    bool first = true;
    packer.Put(clear, width);
    for (uint8_t pixel : pixels) {
        if (clearWhenFull && nextFree == 4096) {
            packer.Put(clear, width);
            width = minCodeSize + 1;
            nextFree = clear + 2;
            first = true;
        }
        packer.Put(pixel, width);
        if (first) {
            first = false;
        } else if (nextFree < 4096) {
            ++nextFree;
            if (nextFree == (1u << width) && width < 12)
                ++width;
        }
    }
    if (endCode)
        packer.Put(clear + 1, width);
    return packer.bytes();
}

// Minimum code size byte, then the literal codes in sub-blocks.
inline Bytes LiteralImageData(int minCodeSize, const Bytes& pixels)
{
    Bytes out{static_cast<uint8_t>(minCodeSize)};
    Bytes blocks = SubBlocks(LiteralCodes(minCodeSize, pixels));
    out.insert(out.end(), blocks.begin(), blocks.end());
    return out;
}

// The image rows in the order an interlaced stream stores them.
inline std::vector<int> InterlacedStreamOrder(int height)
{
    const int offsets[4] = {0, 4, 2, 1};
    const int steps[4] = {8, 8, 4, 2};
    std::vector<int> order;
    for (int pass = 0; pass < 4; ++pass)
        for (int r = offsets[pass]; r < height; r += steps[pass])
            order.push_back(r);
    return order;
}

// Writes a GIF stream block by block; every block returns the writer, so a
// stream can be written as one expression.
class GifWriter {
public:
    GifWriter() = default;
    explicit GifWriter(const Bytes& start) : bytes(start) {}

    // Header, logical screen descriptor and, when `tableBits` >= 0, a global
    // table of 2^(tableBits + 1) colours (entry i = i, 2i, 3i, each mod 256).
    GifWriter& Screen(int width, int height, int tableBits)
    {
        const char* signature = "GIF89a";
        bytes.insert(bytes.end(), signature, signature + 6);
        Word(width);
        Word(height);
        bytes.push_back(tableBits >= 0 ? static_cast<uint8_t>(0x80 | tableBits) : 0);
        bytes.push_back(0);  // background colour index
        bytes.push_back(0);  // pixel aspect ratio
        if (tableBits >= 0)
            for (int i = 0; i < (1 << (tableBits + 1)); ++i)
                Colour(i, 2 * i, 3 * i);
        return *this;
    }

    GifWriter& Colour(int red, int green, int blue)
    {
        return Append({static_cast<uint8_t>(red), static_cast<uint8_t>(green),
                       static_cast<uint8_t>(blue)});
    }

    GifWriter& GraphicControl(int delay)
    {
        bytes.insert(bytes.end(), {0x21, 0xF9, 4, 0});
        Word(delay);
        return Append({0, 0});
    }

    GifWriter& Comment(const char* text)
    {
        bytes.insert(bytes.end(), {0x21, 0xFE});
        return Append(SubBlocks(Bytes(text, text + std::strlen(text)), 5));
    }

    GifWriter& LoopingExtension()
    {
        bytes.insert(bytes.end(), {0x21, 0xFF, 11});
        const char* id = "NETSCAPE2.0";
        bytes.insert(bytes.end(), id, id + 11);
        return Append({3, 1, 0, 0, 0});
    }

    // Descriptor (no local table unless `localBits` >= 0, then the caller
    // adds the colours) without the image data.
    GifWriter& Descriptor(int left, int top, int width, int height, bool interlace = false,
                          int localBits = -1)
    {
        bytes.push_back(0x2C);
        Word(left);
        Word(top);
        Word(width);
        Word(height);
        uint8_t packed = interlace ? 0x40 : 0;
        if (localBits >= 0)
            packed |= static_cast<uint8_t>(0x80 | localBits);
        return Append({packed});
    }

    // A whole image; `pixels` are given top row first and reordered when
    // the image is interlaced.
    GifWriter& Image(int left, int top, int width, int height, const Bytes& pixels,
                     bool interlace = false, int minCodeSize = 8)
    {
        Descriptor(left, top, width, height, interlace);
        return Data(minCodeSize, StreamOrder(width, height, pixels, interlace));
    }

    GifWriter& Data(int minCodeSize, const Bytes& pixels)
    {
        return Append(LiteralImageData(minCodeSize, pixels));
    }

    // Image data of codes packed by the caller: minimum code size, then the
    // codes in sub-blocks.
    GifWriter& Codes(int minCodeSize, const Bytes& codes)
    {
        bytes.push_back(static_cast<uint8_t>(minCodeSize));
        return Append(SubBlocks(codes));
    }

    GifWriter& Append(const Bytes& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }

    GifWriter& Trailer() { return Append({0x3B}); }

    static Bytes StreamOrder(int width, int height, const Bytes& pixels, bool interlace)
    {
        if (!interlace)
            return pixels;
        Bytes out;
        for (int r : InterlacedStreamOrder(height))
            out.insert(out.end(), pixels.begin() + r * width, pixels.begin() + (r + 1) * width);
        return out;
    }

    void Word(int value)
    {
        bytes.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    }

    Bytes bytes;
};

// Pixels of a width x height image whose value at (x, y) is
// (x * 7 + y * 13 + seed) mod `colours`.
inline Bytes PatternPixels(int width, int height, int colours, int seed = 0)
{
    Bytes pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] =
                static_cast<uint8_t>((x * 7 + y * 13 + seed) % colours);
    return pixels;
}

#include "imaging/indexed_bitmap.h"

// The bitmap's pixels top row first, `width` bytes a row (padding left out).
inline Bytes ImagePixels(const IndexedBitmap& bitmap)
{
    Bytes out;
    for (int y = 0; y < bitmap.height; ++y) {
        const uint8_t* line = PixelPointer(bitmap, 0, bitmap.height - 1 - y);
        out.insert(out.end(), line, line + bitmap.width);
    }
    return out;
}
