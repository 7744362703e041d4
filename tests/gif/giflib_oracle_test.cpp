// Our parser and decoder against giflib, an independent decoder: every GIF
// of the corpus that giflib reads without error and that has a global colour
// table must give the same frames, field by field and pixel by pixel.
// Usage: giflib_oracle_test CORPUS_DIR
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "gif/gif_animation.h"
#include "gif/gif_bytes.h"

namespace {

std::string corpusDir;

std::string ErrorText(int code)
{
    const char* text = GifErrorString(code);
    return text ? text : "error " + std::to_string(code);
}

struct ByteSource {
    const Bytes* bytes;
    size_t pos;
};

int ReadFromMemory(GifFileType* file, GifByteType* out, int wanted)
{
    ByteSource* from = static_cast<ByteSource*>(file->UserData);
    int given = 0;
    while (given < wanted && from->pos < from->bytes->size())
        out[given++] = (*from->bytes)[from->pos++];
    return given;
}

// giflib's whole-file decode; null with `error` set when it fails.
struct GiflibFile {
    GifFileType* file = nullptr;
    std::string error;

    explicit GiflibFile(const Bytes& bytes) : source{&bytes, 0}
    {
        int code = 0;
        file = DGifOpen(&source, ReadFromMemory, &code);
        if (!file) {
            error = ErrorText(code);
            return;
        }
        if (DGifSlurp(file) != GIF_OK) {
            error = ErrorText(file->Error);
            Close();
        }
    }
    ~GiflibFile() { Close(); }

    void Close()
    {
        int code = 0;
        if (file)
            DGifCloseFile(file, &code);
        file = nullptr;
    }

    ByteSource source;
};

uint32_t Packed(const GifColorType& colour)
{
    return colour.Red | colour.Green << 8 | colour.Blue << 16;
}

int DistanceSquared(uint32_t a, uint32_t b)
{
    int total = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        total += d * d;
    }
    return total;
}

// giflib's indices of one image as our frames hold them: an image with its
// own colour table is mapped to the nearest global colour (lowest index on a
// tie); indices beyond the local table stay.
Bytes ExpectedPixels(const GifFileType* file, const SavedImage& image)
{
    size_t count = static_cast<size_t>(image.ImageDesc.Width) * image.ImageDesc.Height;
    Bytes pixels(image.RasterBits, image.RasterBits + count);
    const ColorMapObject* local = image.ImageDesc.ColorMap;
    if (!local)
        return pixels;
    const ColorMapObject* global = file->SColorMap;
    uint8_t map[256];
    for (int i = 0; i < 256; ++i) {
        map[i] = static_cast<uint8_t>(i);
        if (i >= local->ColorCount)
            continue;
        int best = 0;
        for (int g = 1; g < global->ColorCount; ++g)
            if (DistanceSquared(Packed(global->Colors[g]), Packed(local->Colors[i])) <
                DistanceSquared(Packed(global->Colors[best]), Packed(local->Colors[i])))
                best = g;
        map[i] = static_cast<uint8_t>(best);
    }
    for (uint8_t& pixel : pixels)
        pixel = map[pixel];
    return pixels;
}

// The delay of the last graphic control before the image: of two controls
// the later one applies (giflib's own helper would take the first).
uint32_t GiflibDelay(const SavedImage& image)
{
    uint32_t delay = 0;
    for (int i = 0; i < image.ExtensionBlockCount; ++i) {
        const ExtensionBlock& block = image.ExtensionBlocks[i];
        GraphicsControlBlock control;
        if (block.Function == GRAPHICS_EXT_FUNC_CODE &&
            DGifExtensionToGCB(block.ByteCount, block.Bytes, &control) == GIF_OK)
            delay = static_cast<uint32_t>(control.DelayTime);
    }
    return delay;
}

// Differences between our parse and giflib's, one line each; empty when equal.
std::string Compare(GifFileType* file, const GifAnimation& gif)
{
    std::ostringstream out;
    if (gif.width != file->SWidth || gif.height != file->SHeight)
        out << "screen " << gif.width << "x" << gif.height << " against " << file->SWidth << "x"
            << file->SHeight << "\n";
    if (gif.colourTable.count != file->SColorMap->ColorCount)
        out << "global colours " << gif.colourTable.count << " against "
            << file->SColorMap->ColorCount << "\n";
    for (int i = 0; i < gif.colourTable.count && i < file->SColorMap->ColorCount; ++i)
        if (gif.colourTable.entries[i] != Packed(file->SColorMap->Colors[i]))
            out << "global colour " << i << " differs\n";
    if (gif.frameCount != file->ImageCount) {
        out << "frames " << gif.frameCount << " against " << file->ImageCount << "\n";
        return out.str();
    }
    for (int i = 0; i < gif.frameCount; ++i) {
        const GifFrame& frame = *gif.frames[i];
        const GifImageDesc& desc = file->SavedImages[i].ImageDesc;
        if (frame.left != desc.Left || frame.top != desc.Top || frame.width != desc.Width ||
            frame.height != desc.Height)
            out << "frame " << i << ": rectangle " << frame.left << "," << frame.top << " "
                << frame.width << "x" << frame.height << " against " << desc.Left << ","
                << desc.Top << " " << desc.Width << "x" << desc.Height << "\n";
        if ((frame.interlaced != 0) != desc.Interlace)
            out << "frame " << i << ": interlace " << frame.interlaced << " against "
                << desc.Interlace << "\n";
        uint32_t delay = GiflibDelay(file->SavedImages[i]);
        if (frame.delay != delay)
            out << "frame " << i << ": delay " << frame.delay << " against " << delay << "\n";
        if (!frame.bitmap.pixels) {
            out << "frame " << i << ": no pixels\n";
            continue;
        }
        Bytes expected = ExpectedPixels(file, file->SavedImages[i]);
        Bytes actual = ImagePixels(frame.bitmap);
        if (actual.size() != expected.size()) {
            out << "frame " << i << ": " << actual.size() << " pixels against " << expected.size() << "\n";
            continue;
        }
        auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin());
        if (mismatch.first != actual.end()) {
            size_t at = mismatch.first - actual.begin();
            out << "frame " << i << ": pixel (" << at % frame.width << ", " << at / frame.width
                << ") is " << int(*mismatch.first) << ", giflib has " << int(*mismatch.second)
                << "\n";
        }
    }
    return out.str();
}

Bytes ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Parsed {
    GifAnimation gif = {};
    LoadedBuffer input;
    explicit Parsed(const Bytes& bytes) : input(bytes) { gif.Parse(input.buffer); }
    ~Parsed() { gif.Release(); }
};

}  // namespace

// The comparison below relies on DGifSlurp putting interlaced rows in image
// order; check that on a stream whose rows are known.
TEST(Giflib, SlurpReturnsInterlacedRowsInImageOrder)
{
    Bytes rows = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    Bytes stream = GifWriter().Screen(1, 9, 7).Image(0, 0, 1, 9, rows, true).Trailer().bytes;
    GiflibFile giflib(stream);
    ASSERT_NE(giflib.file, nullptr) << giflib.error;
    ASSERT_EQ(giflib.file->ImageCount, 1);
    EXPECT_EQ(Bytes(giflib.file->SavedImages[0].RasterBits, giflib.file->SavedImages[0].RasterBits + 9), rows);
}

// A stream that does not begin with a clear code: 1 (no string), 2 (slot 6
// = "1 2"), 6, then the end code.
Bytes NoLeadingClearCode()
{
    CodePacker codes;
    codes.Put(1, 3);
    codes.Put(2, 3);
    codes.Put(6, 3);
    codes.Put(5, 4);
    return codes.bytes();
}

// Streams built for the unit tests, checked against giflib too, so that the
// test builders and the decoder's odd cases agree with an outside decoder.
TEST(Giflib, AgreesOnConstructedStreams)
{
    const Bytes wide = PatternPixels(5000, 2, 256);
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        // Literal codes through a full dictionary, on at 12 bits.
        {"full dictionary without clear",
         GifWriter().Screen(5000, 2, 7).Descriptor(0, 0, 5000, 2)
             .Codes(8, LiteralCodes(8, wide, false)).Trailer().bytes},
        {"full dictionary with clear",
         GifWriter().Screen(5000, 2, 7).Image(0, 0, 5000, 2, wide).Trailer().bytes},
        {"no leading clear code",
         GifWriter().Screen(4, 1, 1).Descriptor(0, 0, 4, 1)
             .Codes(2, NoLeadingClearCode()).Trailer().bytes},
        // Interlaced, a local table, delays, comments.
        {"mixed frames",
         GifWriter().Screen(7, 9, 2).LoopingExtension().GraphicControl(12)
             .Image(0, 0, 7, 9, PatternPixels(7, 9, 8), true, 3)
             .Comment("between").GraphicControl(34).Descriptor(1, 1, 3, 3, false, 1)
             .Colour(0, 255, 0).Colour(60, 195, 7).Colour(120, 135, 14).Colour(180, 75, 21)
             .Data(2, PatternPixels(3, 3, 4)).Trailer().bytes},
    };
    for (const auto& c : cases) {
        GiflibFile giflib(c.bytes);
        ASSERT_NE(giflib.file, nullptr) << c.name << ": " << giflib.error;
        Parsed ours(c.bytes);
        EXPECT_EQ(Compare(giflib.file, ours.gif), "") << c.name;
    }
}

TEST(Giflib, CorpusDecodesAlike)
{
    ASSERT_FALSE(corpusDir.empty()) << "usage: giflib_oracle_test CORPUS_DIR";
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpusDir))
        if (entry.is_regular_file() && entry.path().extension() == ".gif")
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    ASSERT_FALSE(paths.empty()) << "no GIF under " << corpusDir;

    int compared = 0;
    int skipped = 0;
    for (const auto& path : paths) {
        std::string name = std::filesystem::relative(path, corpusDir).string();
        Bytes bytes = ReadWholeFile(path);
        GiflibFile giflib(bytes);
        Parsed ours(bytes);  // every file goes through our parser, compared or not
        if (!giflib.file) {
            std::cout << "skipped   " << name << ": giflib fails (" << giflib.error << "); ours "
                      << ours.gif.frameCount << " frames\n";
            ++skipped;
            continue;
        }
        if (!giflib.file->SColorMap) {
            std::cout << "skipped   " << name << ": no global colour table\n";
            ++skipped;
            continue;
        }
        std::string differences = Compare(giflib.file, ours.gif);
        int local = 0;
        int interlace = 0;
        for (int i = 0; i < giflib.file->ImageCount; ++i) {
            local += giflib.file->SavedImages[i].ImageDesc.ColorMap ? 1 : 0;
            interlace += giflib.file->SavedImages[i].ImageDesc.Interlace ? 1 : 0;
        }
        std::cout << (differences.empty() ? "identical " : "DIFFERENT ") << name << ": "
                  << giflib.file->ImageCount << " frames, " << local << " with a local table, "
                  << interlace << " interlaced\n";
        EXPECT_EQ(differences, "") << name;
        ++compared;
    }
    std::cout << compared << " files compared, " << skipped << " skipped\n";
    EXPECT_GT(compared, 0);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1)
        corpusDir = argv[1];
    return RUN_ALL_TESTS();
}
