// Decoding speed of our GIF decoder against giflib, file by file.
//
// Usage: gif_decode_bench [benchmark flags] [DIRECTORY]
// DIRECTORY (or $GIF_BENCHSET_DIR) holds the .gif files. Each file is held in
// memory and decoded whole, every frame, by both decoders in the same run:
// ours as the player does it (MemoryBuffer, GifAnimation::Parse, Release),
// giflib through DGifOpen with a memory reader, DGifSlurp and DGifCloseFile.
// Before anything is timed, every file's frames must decode to the same
// indices in both; a difference aborts the run, so a speed-up that changes
// the output cannot go unnoticed. The closing table gives decoded megapixels
// per second (CPU time, median over repetitions) and our speed over giflib's.

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "gif/gif_animation.h"
#include "payload/memory_buffer.h"

namespace {

const char* const rateCounter = "Mpx/s";

struct BenchFile {
    std::string name;
    std::vector<uint8_t> bytes;
    int64_t pixels;  // all frames, as decoded
};

struct MemoryReader {
    const std::vector<uint8_t>* bytes;
    size_t pos;
};

int ReadFromMemory(GifFileType* gif, GifByteType* into, int count)
{
    MemoryReader& reader = *static_cast<MemoryReader*>(gif->UserData);
    size_t available = reader.bytes->size() - reader.pos;
    size_t taken = std::min(static_cast<size_t>(count), available);
    std::memcpy(into, reader.bytes->data() + reader.pos, taken);
    reader.pos += taken;
    return static_cast<int>(taken);
}

// Opens and slurps the file with giflib; null when giflib refuses it.
GifFileType* SlurpWithGiflib(MemoryReader& reader)
{
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

void ParseWithOurs(const std::vector<uint8_t>& bytes)
{
    MemoryBuffer buffer(static_cast<int32_t>(bytes.size()));
    std::memcpy(buffer.data, bytes.data(), bytes.size());
    animation.Parse(buffer);
}

[[noreturn]] void Fail(const std::string& file, const char* what)
{
    std::fprintf(stderr, "\nDECODERS DISAGREE on %s: %s\n", file.c_str(), what);
    std::abort();
}

// Our frames against giflib's, index by index; aborts at the first
// difference. Returns the number of pixels decoded.
int64_t CheckSameIndices(const BenchFile& file)
{
    MemoryReader reader = {&file.bytes, 0};
    GifFileType* gif = SlurpWithGiflib(reader);
    if (!gif)
        Fail(file.name, "giflib cannot decode it");
    ParseWithOurs(file.bytes);

    if (animation.frameCount != gif->ImageCount) {
        std::fprintf(stderr, "frames: ours %d, giflib %d\n", animation.frameCount, gif->ImageCount);
        Fail(file.name, "frame counts differ");
    }
    int64_t pixels = 0;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& theirs = gif->SavedImages[i];
        const GifFrame& ours = *animation.frames[i];
        int width = theirs.ImageDesc.Width;
        int height = theirs.ImageDesc.Height;
        if (ours.width != width || ours.height != height || !ours.bitmap.pixels)
            Fail(file.name, "frame sizes differ");
        for (int y = 0; y < height; ++y) {
            // Our bitmaps are bottom-up: image row y is memory line height - 1 - y.
            const uint8_t* ourRow = PixelPointer(ours.bitmap, 0, height - 1 - y);
            const uint8_t* theirRow = theirs.RasterBits + static_cast<size_t>(y) * width;
            for (int x = 0; x < width; ++x) {
                if (ourRow[x] != theirRow[x]) {
                    std::fprintf(stderr, "frame %d, row %d, column %d: ours %d, giflib %d\n", i,
                                 y, x, ourRow[x], theirRow[x]);
                    Fail(file.name, "pixel indices differ");
                }
            }
        }
        pixels += static_cast<int64_t>(width) * height;
    }
    animation.Release();
    int error = 0;
    DGifCloseFile(gif, &error);
    return pixels;
}

void SetRate(benchmark::State& state, const BenchFile& file)
{
    state.counters[rateCounter] = benchmark::Counter(static_cast<double>(file.pixels) / 1e6,
                                                     benchmark::Counter::kIsIterationInvariantRate);
}

void DecodeWithOurs(benchmark::State& state, const BenchFile* file)
{
    for (auto _ : state) {
        ParseWithOurs(file->bytes);
        animation.Release();
    }
    SetRate(state, *file);
}

void DecodeWithGiflib(benchmark::State& state, const BenchFile* file)
{
    for (auto _ : state) {
        MemoryReader reader = {&file->bytes, 0};
        GifFileType* gif = SlurpWithGiflib(reader);
        if (!gif) {
            state.SkipWithError("giflib failed");
            break;
        }
        int error = 0;
        DGifCloseFile(gif, &error);
    }
    SetRate(state, *file);
}

std::vector<BenchFile> LoadSet(const std::string& directory)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gif") == 0)
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());

    std::vector<BenchFile> files;
    for (const std::string& name : names) {
        std::ifstream in(directory + "/" + name, std::ios::binary);
        BenchFile file = {name, {std::istreambuf_iterator<char>(in), {}}, 0};
        files.push_back(std::move(file));
    }
    return files;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Keeps every repetition's rate by name for the closing table, and shows
// one console line per benchmark: the median when there are repetitions.
class RateCollector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::vector<double>> rates;

    RateCollector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median")
                    shown.push_back(run);
                continue;
            }
            auto counter = run.counters.find(rateCounter);
            if (!run.error_occurred && counter != run.counters.end())
                rates[run.run_name.function_name].push_back(counter->second.value);
            if (run.repetitions <= 1)
                shown.push_back(run);
        }
        if (!shown.empty())
            ConsoleReporter::ReportRuns(shown);
    }
};

void PrintSummary(const std::vector<BenchFile>& files, const RateCollector& collector)
{
    size_t repetitions = 0;
    for (const auto& entry : collector.rates)
        repetitions = std::max(repetitions, entry.second.size());
    std::printf("\nDecoded megapixels per second (CPU time), median of %zu repetition(s), "
                "range in brackets\n\n",
                repetitions);
    std::printf("| file | Mpx | ours MP/s | giflib MP/s | ours / giflib |\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    double logSum = 0;
    int counted = 0;
    for (const BenchFile& file : files) {
        auto ours = collector.rates.find("ours/" + file.name);
        auto theirs = collector.rates.find("giflib/" + file.name);
        if (ours == collector.rates.end() || theirs == collector.rates.end())
            continue;
        const std::vector<double>& a = ours->second;
        const std::vector<double>& b = theirs->second;
        double ratio = Median(a) / Median(b);
        std::printf("| %s | %.2f | %.0f [%.0f-%.0f] | %.0f [%.0f-%.0f] | %.2f |\n",
                    file.name.c_str(), file.pixels / 1e6, Median(a),
                    *std::min_element(a.begin(), a.end()), *std::max_element(a.begin(), a.end()),
                    Median(b), *std::min_element(b.begin(), b.end()),
                    *std::max_element(b.begin(), b.end()), ratio);
        logSum += std::log(ratio);
        ++counted;
    }
    if (counted > 0)
        std::printf("| geometric mean of ratios | | | | %.2f |\n", std::exp(logSum / counted));
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const char* fromEnvironment = std::getenv("GIF_BENCHSET_DIR");
    std::string directory = argc > 1 ? argv[1] : fromEnvironment ? fromEnvironment : "";
    if (directory.empty()) {
        std::fprintf(stderr, "usage: %s [benchmark flags] DIRECTORY (or GIF_BENCHSET_DIR)\n",
                     argv[0]);
        return 2;
    }
    std::vector<BenchFile> files = LoadSet(directory);
    if (files.empty()) {
        std::fprintf(stderr, "no .gif file in %s\n", directory.c_str());
        return 2;
    }

    std::printf("Checking that both decoders give the same indices...\n");
    for (BenchFile& file : files)
        file.pixels = CheckSameIndices(file);
    std::printf("all %zu files agree\n", files.size());

    for (const BenchFile& file : files) {
        benchmark::RegisterBenchmark(("ours/" + file.name).c_str(), DecodeWithOurs, &file)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("giflib/" + file.name).c_str(), DecodeWithGiflib, &file)
            ->Unit(benchmark::kMillisecond);
    }
    RateCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    PrintSummary(files, collector);
    benchmark::Shutdown();
    return 0;
}
