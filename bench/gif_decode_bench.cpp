// Decoding speed of our GIF decoder beside giflib and wuffs, file by file.
//
// Usage: gif_decode_bench [--repetitions=N] [--min-time=SECONDS]
//                         [--filter=TEXT] [--clock=cpu|wall] DIRECTORY
// DIRECTORY (or $GIF_BENCHSET_DIR) holds the .gif files. Each file is held in
// memory and decoded whole, every frame: ours as the player does it
// (MemoryBuffer, GifAnimation::Parse, Release), giflib through DGifSlurp
// from memory (host build only), wuffs into one indexed canvas (when built
// with it), and wuffs-kept, wuffs with every frame copied into a block of its
// own as the player keeps them. Every decoder reads the file from memory
// filled before timing. Before anything is timed, every decoder's frames must hold the
// same indices as ours; a difference aborts the run, so a speed-up that
// changes the output cannot go unnoticed. Every repetition times each file
// with every decoder in turn, so that a busy machine slows them alike; the
// table gives the median rate (pixels per second of the thread's CPU time)
// over the repetitions and the ratios of the medians. Pin the process to one
// CPU (taskset) for steadier figures.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "gif/gif_animation.h"
#include "payload/memory_buffer.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#endif
#if BENCH_WITH_GIFLIB
#include <gif_lib.h>
#endif
#if BENCH_WITH_WUFFS
#include "wuffs_gif.h"
#endif

namespace {

// The file's bytes are held as the player holds its payload, filled once:
// every decoder reads its input from memory that is already there.
struct BenchFile {
    std::string name;
    std::shared_ptr<MemoryBuffer> buffer;
    int64_t pixels;  // all frames, as decoded

    const uint8_t* Data() const { return buffer->data; }
    size_t Size() const { return static_cast<size_t>(buffer->size); }
};

struct Decoder {
    const char* name;
    void (*decode)(const BenchFile& file);
};

void ParseWithOurs(const BenchFile& file)
{
    file.buffer->pos = 0;
    animation.Parse(*file.buffer);
}

void DecodeWithOurs(const BenchFile& file)
{
    ParseWithOurs(file);
    animation.Release();
}

[[noreturn]] void Fail(const std::string& file, const char* decoder, const char* what)
{
    std::fprintf(stderr, "\nDECODERS DISAGREE on %s: %s %s\n", file.c_str(), decoder, what);
    std::abort();
}

// Compares one frame of another decoder, given as rows of `stride` bytes
// from its top-left pixel, with frame `index` of ours.
void CheckFrame(const BenchFile& file, const char* decoder, int index, int left, int top,
                int width, int height, const uint8_t* pixels, size_t stride)
{
    if (index >= animation.frameCount)
        Fail(file.name, decoder, "has more frames");
    const GifFrame& ours = *animation.frames[index];
    if (ours.left != left || ours.top != top || ours.width != width || ours.height != height ||
        !ours.bitmap.pixels)
        Fail(file.name, decoder, "has another frame rectangle");
    for (int y = 0; y < height; ++y) {
        // Our bitmaps are bottom-up: image row y is memory line height - 1 - y.
        const uint8_t* ourRow = PixelPointer(ours.bitmap, 0, height - 1 - y);
        if (std::memcmp(ourRow, pixels + y * stride, static_cast<size_t>(width)) != 0) {
            std::fprintf(stderr, "frame %d, row %d\n", index, y);
            Fail(file.name, decoder, "has other pixel indices");
        }
    }
}

#if BENCH_WITH_GIFLIB
struct MemoryReader {
    const BenchFile* file;
    size_t pos;
};

int ReadFromMemory(GifFileType* gif, GifByteType* into, int count)
{
    MemoryReader& reader = *static_cast<MemoryReader*>(gif->UserData);
    size_t available = reader.file->Size() - reader.pos;
    size_t taken = std::min(static_cast<size_t>(count), available);
    std::memcpy(into, reader.file->Data() + reader.pos, taken);
    reader.pos += taken;
    return static_cast<int>(taken);
}

// Opens and slurps the file with giflib; null when giflib refuses it.
GifFileType* SlurpWithGiflib(const BenchFile& file, MemoryReader& reader)
{
    reader = {&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
    if (!gif)
        return nullptr;
    if (DGifSlurp(gif) != GIF_OK) {
        DGifCloseFile(gif, &error);
        return nullptr;
    }
    return gif;
}

void DecodeWithGiflib(const BenchFile& file)
{
    MemoryReader reader;
    GifFileType* gif = SlurpWithGiflib(file, reader);
    int error = 0;
    if (gif)
        DGifCloseFile(gif, &error);
}

void CheckGiflib(const BenchFile& file)
{
    MemoryReader reader;
    GifFileType* gif = SlurpWithGiflib(file, reader);
    if (!gif)
        Fail(file.name, "giflib", "cannot decode it");
    if (gif->ImageCount != animation.frameCount)
        Fail(file.name, "giflib", "has another frame count");
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        const GifImageDesc& d = image.ImageDesc;
        CheckFrame(file, "giflib", i, d.Left, d.Top, d.Width, d.Height, image.RasterBits,
                   static_cast<size_t>(d.Width));
    }
    int error = 0;
    DGifCloseFile(gif, &error);
}
#endif

#if BENCH_WITH_WUFFS
void DecodeWithWuffs(const BenchFile& file)
{
    WuffsDecodeGif(file.Data(), file.Size(), nullptr, nullptr);
}

// The player keeps every frame in a block of its own, where wuffs leaves each
// frame in one canvas that the next overwrites. This variant does the
// player's whole job with wuffs: each frame is copied out of the canvas into
// a new block, all kept until the animation is released. On fresh pages the
// difference is large: a first touch of a 4 KiB page costs about as much as
// decoding a few hundred pixels.
struct KeptFrames {
    std::vector<uint8_t*> blocks;
};

void KeepWuffsFrame(void* context, int, int, int width, int height, const uint8_t* pixels,
                    size_t stride)
{
    size_t rowBytes = (static_cast<size_t>(width) + 3) & ~size_t{3};
    uint8_t* block = static_cast<uint8_t*>(std::malloc(rowBytes * static_cast<size_t>(height)));
    if (!block)
        return;
    for (int y = 0; y < height; ++y)
        std::memcpy(block + rowBytes * static_cast<size_t>(height - 1 - y),
                    pixels + stride * static_cast<size_t>(y), static_cast<size_t>(width));
    static_cast<KeptFrames*>(context)->blocks.push_back(block);
}

void DecodeWithWuffsKeepingFrames(const BenchFile& file)
{
    KeptFrames kept;
    WuffsDecodeGif(file.Data(), file.Size(), KeepWuffsFrame, &kept);
    for (uint8_t* block : kept.blocks)
        std::free(block);
}

struct WuffsCheck {
    const BenchFile* file;
    int frames;
};

void CheckWuffsFrame(void* context, int left, int top, int width, int height,
                     const uint8_t* pixels, size_t stride)
{
    WuffsCheck& check = *static_cast<WuffsCheck*>(context);
    CheckFrame(*check.file, "wuffs", check.frames++, left, top, width, height, pixels, stride);
}

void CheckWuffs(const BenchFile& file)
{
    WuffsCheck check = {&file, 0};
    int frames = WuffsDecodeGif(file.Data(), file.Size(), CheckWuffsFrame, &check);
    if (frames < 0)
        Fail(file.name, "wuffs", "cannot decode it");
    if (frames != animation.frameCount)
        Fail(file.name, "wuffs", "has another frame count");
}
#endif

const Decoder decoders[] = {
    {"ours", DecodeWithOurs},
#if BENCH_WITH_GIFLIB
    {"giflib", DecodeWithGiflib},
#endif
#if BENCH_WITH_WUFFS
    {"wuffs", DecodeWithWuffs},
    {"wuffs-kept", DecodeWithWuffsKeepingFrames},
#endif
};
const int decoderCount = static_cast<int>(sizeof decoders / sizeof decoders[0]);

// Decodes with ours, checks every other decoder against it and returns the
// pixels of all frames.
int64_t CheckSameIndices(const BenchFile& file)
{
    ParseWithOurs(file);
    int64_t pixels = 0;
    for (int i = 0; i < animation.frameCount; ++i)
        pixels += static_cast<int64_t>(animation.frames[i]->width) * animation.frames[i]->height;
#if BENCH_WITH_GIFLIB
    CheckGiflib(file);
#endif
#if BENCH_WITH_WUFFS
    CheckWuffs(file);
#endif
    animation.Release();
    return pixels;
}

// Wall time instead of CPU time (--clock=wall), to set decoding beside a
// start-up that is timed by the wall clock.
bool wallClock = false;

double WallSeconds()
{
#ifdef _WIN32
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
#else
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
#endif
}

// CPU time of this thread: on a machine shared with other work, the time a
// decoder actually ran. Under Wine its resolution is a clock tick (10 ms),
// so each measurement should last some tenths of a second.
double Seconds()
{
    if (wallClock)
        return WallSeconds();
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-7;
#else
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
#endif
}

// Megapixels per second of `decoder` on `file`, decoding it again and again
// for at least `minTime` seconds.
double MeasureRate(const Decoder& decoder, const BenchFile& file, double minTime)
{
    decoder.decode(file);  // warm the caches
    int64_t runs = 0;
    double start = Seconds();
    double elapsed = 0;
    do {
        decoder.decode(file);
        ++runs;
        elapsed = Seconds() - start;
    } while (elapsed < minTime);
    return static_cast<double>(file.pixels) * runs / elapsed / 1e6;
}

std::vector<BenchFile> LoadSet(const std::string& directory, const std::string& filter)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gif") == 0 &&
                name.find(filter) != std::string::npos)
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());

    std::vector<BenchFile> files;
    for (const std::string& name : names) {
        std::ifstream in(directory + "/" + name, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        auto buffer = std::make_shared<MemoryBuffer>(static_cast<int32_t>(bytes.size()));
        std::memcpy(buffer->data, bytes.data(), bytes.size());
        files.push_back({name, buffer, 0});
    }
    return files;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// rates[file][decoder] holds one rate per repetition.
typedef std::vector<std::vector<std::vector<double>>> Rates;

void PrintTable(const std::vector<BenchFile>& files, const Rates& rates, int repetitions)
{
    std::printf("\nDecoded megapixels per %s second, median of %d interleaved repetition(s)\n\n",
                wallClock ? "wall-clock" : "CPU", repetitions);
    std::printf("| file | Mpx |");
    for (const Decoder& decoder : decoders)
        std::printf(" %s Mpx/s |", decoder.name);
    for (int d = 1; d < decoderCount; ++d)
        std::printf(" ours / %s |", decoders[d].name);
    std::printf("\n|---|---:|");
    for (int d = 0; d < 2 * decoderCount - 1; ++d)
        std::printf("---:|");
    std::printf("\n");

    std::vector<double> logSums(decoderCount, 0.0);
    std::vector<double> worst(decoderCount, 1e300);
    for (size_t f = 0; f < files.size(); ++f) {
        std::printf("| %s | %.2f |", files[f].name.c_str(), files[f].pixels / 1e6);
        for (int d = 0; d < decoderCount; ++d)
            std::printf(" %.1f |", Median(rates[f][d]));
        for (int d = 1; d < decoderCount; ++d) {
            double ratio = Median(rates[f][0]) / Median(rates[f][d]);
            std::printf(" %.2f |", ratio);
            logSums[d] += std::log(ratio);
            worst[d] = std::min(worst[d], ratio);
        }
        std::printf("\n");
    }
    std::printf("| geometric mean | |");
    for (int d = 0; d < decoderCount; ++d)
        std::printf(" |");
    for (int d = 1; d < decoderCount; ++d)
        std::printf(" %.2f |", std::exp(logSums[d] / static_cast<double>(files.size())));
    std::printf("\n| lowest | |");
    for (int d = 0; d < decoderCount; ++d)
        std::printf(" |");
    for (int d = 1; d < decoderCount; ++d)
        std::printf(" %.2f |", worst[d]);
    std::printf("\n");
}

bool TakeOption(const char* argument, const char* name, std::string& value)
{
    size_t length = std::strlen(name);
    if (std::strncmp(argument, name, length) != 0)
        return false;
    value = argument + length;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef __GLIBC__
    // glibc hands big blocks back to the system, or keeps them, by thresholds
    // that move with what was freed before: the same decoder on the same file
    // then runs on fresh pages or on warm ones depending on which files were
    // decoded first. Keeping every freed block makes every measurement after
    // the warm-up run decode into memory that is already there.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the most glibc takes
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    int repetitions = 5;
    double minTime = 0.2;
    std::string filter;
    const char* fromEnvironment = std::getenv("GIF_BENCHSET_DIR");
    std::string directory = fromEnvironment ? fromEnvironment : "";
    for (int i = 1; i < argc; ++i) {
        std::string value;
        if (TakeOption(argv[i], "--repetitions=", value))
            repetitions = std::max(1, std::atoi(value.c_str()));
        else if (TakeOption(argv[i], "--min-time=", value))
            minTime = std::atof(value.c_str());
        else if (TakeOption(argv[i], "--filter=", value))
            filter = value;
        else if (TakeOption(argv[i], "--clock=", value))
            wallClock = value == "wall";
        else
            directory = argv[i];
    }
    if (directory.empty()) {
        std::fprintf(stderr,
                     "usage: %s [--repetitions=N] [--min-time=SECONDS] [--filter=TEXT] "
                     "[--clock=cpu|wall] DIRECTORY (or GIF_BENCHSET_DIR)\n",
                     argv[0]);
        return 2;
    }
    std::vector<BenchFile> files = LoadSet(directory, filter);
    if (files.empty()) {
        std::fprintf(stderr, "no .gif file in %s\n", directory.c_str());
        return 2;
    }

    std::printf("Checking that every decoder gives the same indices...\n");
    for (BenchFile& file : files)
        file.pixels = CheckSameIndices(file);
    std::printf("all %zu files agree\n", files.size());

    Rates rates(files.size(), std::vector<std::vector<double>>(decoderCount));
    for (int r = 0; r < repetitions; ++r) {
        std::printf("repetition %d of %d\n", r + 1, repetitions);
        std::fflush(stdout);
        for (size_t f = 0; f < files.size(); ++f)
            for (int d = 0; d < decoderCount; ++d)
                rates[f][d].push_back(MeasureRate(decoders[d], files[f], minTime));
    }
    PrintTable(files, rates, repetitions);
    return 0;
}
