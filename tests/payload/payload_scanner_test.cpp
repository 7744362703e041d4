// The scanner over real files written under Wine.
#include "payload/payload_scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "payload/scratch_files.h"

using scratch::Filler;
using scratch::Header;
using scratch::LengthField;
using scratch::Section;
using scratch::Tag;

namespace {

class PayloadScanner : public ::testing::Test {
protected:
    void TearDown() override { CloseSelfFile(); }

    // Writes `bytes` to a new file of the test's directory; returns its path.
    std::string FileOf(const std::string& bytes)
    {
        std::string path = directory_.File("case" + std::to_string(++files_) + ".bin");
        EXPECT_TRUE(scratch::WriteWholeFile(path, bytes)) << path;
        return path;
    }

    // The payload behind a search's positive result, read the way callers do.
    static std::string ReadFound(int32_t length)
    {
        MemoryBuffer buffer(length);
        if (!ReadPayload(buffer))
            return "<ReadPayload failed>";
        return std::string(reinterpret_cast<char*>(buffer.data), buffer.size);
    }

    static DWORD FilePosition() { return SetFilePointer(selfFile, 0, nullptr, FILE_CURRENT); }

    scratch::Directory directory_;
    int files_ = 0;
};

// One file, one search: its result, the payload ReadPayload then gives when
// the result is a length, and the file still held open whatever the result.
TEST_F(PayloadScanner, SearchGivesTheSectionsLengthAndLeavesTheFileAtItsPayload)
{
    const std::string midiPayload = "MThd" + Filler(300, 5);
    auto lengthCutTo = [](size_t kept) {
        return Filler(20) + "*" + Tag(waveMarker) + ":" + LengthField(0x01010101).substr(0, kept);
    };
    std::string markers;
    for (const char* marker : {gifMarker, waveMarker, midiMarker})
        markers.append(marker, std::strlen(marker) + 1);
    const struct {
        const char* name;
        std::string bytes;
        const char* marker;
        int32_t length;
        std::string payload;
    } cases[] = {
        {"FindsSectionAndLeavesFileAtItsPayload",
         Filler(100) + Section(gifMarker, "GIF89a-body") + Filler(50, 3), gifMarker, 11,
         "GIF89a-body"},
        {"StarDirectlyBeforeTheSectionsStarHidesIt",
         Filler(10) + "*" + Section(gifMarker, "abc"), gifMarker, 0, ""},
        // The usual way it happens: a payload that ends in '*' right before
        // the next section.
        {"StarDirectlyBeforeTheSectionsStarHidesIt_PayloadEndingInStar",
         Section(waveMarker, "data*") + Section(gifMarker, "abc"), gifMarker, 0, ""},
        {"StarDirectlyBeforeTheSectionsStarHidesIt_PayloadEndingInStarIsFound",
         Section(waveMarker, "data*") + Section(gifMarker, "abc"), waveMarker, 5, "data*"},
        // "*GIF" then '*' + tag + ':': the second '*' breaks the first match
        // and is consumed, so it cannot start the next one.
        {"ByteThatBreaksTheTagIsConsumed",
         "*GIF" + Section(gifMarker, "abc"), gifMarker, 0, ""},
        // Any other breaking byte: the search resumes right after it, at the '*'.
        {"ByteThatBreaksTheTagIsConsumed_SearchResumesAfterIt",
         "*GIFX" + Section(gifMarker, "abc"), gifMarker, 3, "abc"},
        {"ByteInPlaceOfTheColonIsConsumed",
         "*" + Tag(gifMarker) + Section(gifMarker, "abc"), gifMarker, 0, ""},
        {"ByteInPlaceOfTheColonIsConsumed_SearchResumesAfterIt",
         "*" + Tag(gifMarker) + ";" + Section(gifMarker, "abcd"), gifMarker, 4, "abcd"},
        {"ByteInPlaceOfTheColonIsConsumed_TagCutShortByColon",
         "*" + Tag(waveMarker).substr(0, 10) + ":" + LengthField(1) + "x", waveMarker, 0, ""},
        {"SectionEndingAtEndOfFileReadsCompletely",
         Filler(9) + Section(midiMarker, midiPayload), midiMarker,
         static_cast<int32_t>(midiPayload.size()), midiPayload},
        {"LengthZeroReadsAsAbsentWithTheFileStillOpen",
         Header(gifMarker, 0) + "GIF89a", gifMarker, 0, ""},
        {"LengthsOf2To31OrMoreAreNegative",
         Header(gifMarker, 0x80000000u) + "GIF89a", gifMarker, INT32_MIN, ""},
        {"LengthsOf2To31OrMoreAreNegative_NearTheTop",
         Header(gifMarker, 0xFFFFFFF0u) + "GIF89a", gifMarker, -16, ""},
        {"LengthFieldCutOffByEndOfFileGivesMinusOne_0Bytes", lengthCutTo(0), waveMarker, -1, ""},
        {"LengthFieldCutOffByEndOfFileGivesMinusOne_1Byte", lengthCutTo(1), waveMarker, -1, ""},
        {"LengthFieldCutOffByEndOfFileGivesMinusOne_2Bytes", lengthCutTo(2), waveMarker, -1, ""},
        {"LengthFieldCutOffByEndOfFileGivesMinusOne_3Bytes", lengthCutTo(3), waveMarker, -1, ""},
        {"FirstOccurrenceWins",
         Section(gifMarker, "first") + Section(gifMarker, "second!"), gifMarker, 5, "first"},
        {"MidiTagInsideGifPayloadIsTakenForTheMidiSection",
         Section(gifMarker, "GIF89a" + Section(midiMarker, "inner") + "rest") +
             Section(midiMarker, "outer"),
         midiMarker, 5, "inner"},
        // A byte of 0xFF must not be taken for the end of the file.
        {"BytesAbove127AreOrdinaryBytes",
         std::string(5000, '\xFF') + Section(gifMarker, "\xFF\x80"), gifMarker, 2, "\xFF\x80"},
        {"ProgramsOwnMarkerStringsNeverMatch_Gif", markers + markers, gifMarker, 0, ""},
        {"ProgramsOwnMarkerStringsNeverMatch_Wave", markers + markers, waveMarker, 0, ""},
        {"ProgramsOwnMarkerStringsNeverMatch_Midi", markers + markers, midiMarker, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = FileOf(c.bytes);
        EXPECT_EQ(FindPayloadSection(path.c_str(), c.marker), c.length);
        EXPECT_NE(selfFile, nullptr);
        if (c.length > 0) {
            EXPECT_EQ(ReadFound(c.length), c.payload);
        }
        CloseSelfFile();
    }
}

TEST_F(PayloadScanner, PayloadStarts21BytesAfterGifStarAnd22AfterSoundStars)
{
    const DWORD star = 37;
    std::string path = FileOf(Filler(star) + Section(gifMarker, "gif") +
                              Section(waveMarker, "wave") + Section(midiMarker, "midi"));
    ASSERT_EQ(FindPayloadSection(path.c_str(), gifMarker), 3);
    EXPECT_EQ(FilePosition(), star + 21);

    const DWORD waveStar = star + 21 + 3;
    ASSERT_EQ(FindPayloadSection(path.c_str(), waveMarker), 4);
    EXPECT_EQ(FilePosition(), waveStar + 22);

    const DWORD midiStar = waveStar + 22 + 4;
    ASSERT_EQ(FindPayloadSection(path.c_str(), midiMarker), 4);
    EXPECT_EQ(FilePosition(), midiStar + 22);
    EXPECT_EQ(ReadFound(4), "midi");
}

// Header, length field or payload split by a 4096-byte block boundary: the
// file must be re-positioned to the byte after ':' before the length is read.
TEST_F(PayloadScanner, SectionsAcrossBlockBoundariesAreReadFromTheRightOffset)
{
    const std::string payload = "RIFF-" + Filler(40, 11) + "-end";
    for (size_t star : {4070u, 4074u, 4075u, 4076u, 4078u, 4079u, 4080u, 4090u, 4095u, 4096u,
                        4097u, 8170u, 8191u, 8192u}) {
        SCOPED_TRACE("section at offset " + std::to_string(star));
        std::string path = FileOf(Filler(star) + Section(waveMarker, payload) + Filler(5000, 1));
        int32_t length = FindPayloadSection(path.c_str(), waveMarker);
        ASSERT_EQ(length, static_cast<int32_t>(payload.size()));
        EXPECT_EQ(ReadFound(length), payload);
        CloseSelfFile();
    }
}

// The search tests several bytes at a time for the next '*': the section's
// own '*', and decoys before it ('*' then a byte that breaks the tag), at
// every offset of such a step and around the end of the 4096-byte buffer;
// both with SSE2 (where the processor has it) and with 32-bit words.
TEST_F(PayloadScanner, StarsAtEveryOffsetAreEachLookedAt)
{
    std::vector<size_t> offsets;
    for (size_t star = 0; star < 40; ++star)
        offsets.push_back(star);
    for (size_t star = 4070; star < 4100; ++star)
        offsets.push_back(star);
    const bool processorHasSse2 = scanWithSse2;
    for (bool sse2 : {true, false}) {
        scanWithSse2 = sse2 && processorHasSse2;
        for (size_t star : offsets) {
            SCOPED_TRACE("section at offset " + std::to_string(star) +
                         (scanWithSse2 ? " with SSE2" : " by words"));
            std::string before = Filler(star, 5);
            for (size_t decoy = star % 3; decoy + 1 < star; decoy += 5)
                before[decoy] = '*';
            std::string path = FileOf(before + Section(waveMarker, "w") + Filler(20, 2));
            ASSERT_EQ(FindPayloadSection(path.c_str(), waveMarker), 1);
            EXPECT_EQ(FilePosition(), star + 22);
            CloseSelfFile();
        }
    }
    scanWithSse2 = processorHasSse2;
}

// The search as written down: bytes taken one at a time, the byte that
// breaks a match consumed. Returns the offset right after ':' of the section
// found, or npos.
size_t OffsetAfterColonTakingBytesOneByOne(const std::string& file, const std::string& tag)
{
    size_t at = 0;
    while (at < file.size()) {
        if (file[at++] != '*')
            continue;
        size_t matched = 0;
        while (matched < tag.size() && at < file.size() && file[at] == tag[matched]) {
            ++at;
            ++matched;
        }
        if (at >= file.size())
            break;
        const bool colon = matched == tag.size() && file[at] == ':';
        ++at;  // the breaking byte, or the ':'
        if (colon)
            return at;
    }
    return std::string::npos;
}

// Files thick with '*', tags cut short, ':' and whole headers, some of them
// where a match runs over the end of a 4096-byte block: the search must
// find what taking the bytes one by one finds, with SSE2 and by words.
TEST_F(PayloadScanner, FindsWhatTakingBytesOneByOneFinds)
{
    const std::string tag = Tag(waveMarker);
    const bool processorHasSse2 = scanWithSse2;
    uint32_t random = 12345;
    auto next = [&random](uint32_t below) {
        random = random * 1103515245u + 12345u;
        return (random >> 16) % below;
    };
    for (int trial = 0; trial < 60; ++trial) {
        // Near the block end in most files, so that the tag straddles it.
        std::string file = Filler(trial % 3 ? 4096 - 40 + next(40) : next(64), trial);
        while (file.size() < 4096 + 64 + next(64)) {
            switch (next(5)) {
            case 0: file += '*'; break;
            case 1: file += "*" + tag.substr(0, next(static_cast<uint32_t>(tag.size()) + 1)); break;
            case 2: file += ':'; break;
            case 3: file += Header(waveMarker, next(1000)); break;
            default: file += Filler(next(6), trial); break;
            }
        }
        const size_t expected = OffsetAfterColonTakingBytesOneByOne(file, tag);
        std::string path = FileOf(file);
        for (bool sse2 : {true, false}) {
            scanWithSse2 = sse2 && processorHasSse2;
            SCOPED_TRACE("trial " + std::to_string(trial) + (scanWithSse2 ? " with SSE2" : " by words"));
            int32_t length = FindPayloadSection(path.c_str(), waveMarker);
            if (expected == std::string::npos) {
                EXPECT_EQ(length, 0);
            } else if (expected + 4 > file.size()) {
                EXPECT_EQ(length, -1);
            } else {
                uint32_t field;
                std::memcpy(&field, file.data() + expected, 4);
                EXPECT_EQ(length, static_cast<int32_t>(field));
                EXPECT_EQ(FilePosition(), expected + 4);
            }
            CloseSelfFile();
        }
    }
    scanWithSse2 = processorHasSse2;
}

TEST_F(PayloadScanner, PayloadOneByteShortOfItsLengthIsNotRead)
{
    const std::string payload = "MThd" + Filler(300, 5);
    std::string path = FileOf(Header(midiMarker, static_cast<uint32_t>(payload.size())) +
                              payload.substr(0, payload.size() - 1));
    int32_t length = FindPayloadSection(path.c_str(), midiMarker);
    ASSERT_EQ(length, static_cast<int32_t>(payload.size()));
    MemoryBuffer buffer(length);
    EXPECT_FALSE(ReadPayload(buffer));
}

TEST_F(PayloadScanner, EachSearchStartsAtTheFileStartWhateverTheOrder)
{
    std::string path = FileOf(Section(midiMarker, "m") + Section(gifMarker, "gg") +
                              Section(waveMarker, "www"));
    EXPECT_EQ(FindPayloadSection(path.c_str(), waveMarker), 3);
    EXPECT_EQ(ReadFound(3), "www");
    EXPECT_EQ(FindPayloadSection(path.c_str(), gifMarker), 2);
    EXPECT_EQ(ReadFound(2), "gg");
    EXPECT_EQ(FindPayloadSection(path.c_str(), midiMarker), 1);
    EXPECT_EQ(ReadFound(1), "m");
}

// This executable holds the marker strings; with no section appended it
// yields 0 for all three searches. The name lies in the scan buffer itself.
TEST_F(PayloadScanner, OwnExecutableWithoutSectionsHasNone)
{
    for (const char* marker : {gifMarker, waveMarker, midiMarker}) {
        SCOPED_TRACE(marker);
        ASSERT_NE(GetModuleFileNameA(nullptr, modulePath, scanBufferSize), 0u);
        EXPECT_EQ(FindPayloadSection(modulePath, marker), 0);
        EXPECT_NE(selfFile, nullptr) << "the executable should have been opened";
        CloseSelfFile();
    }
}

TEST_F(PayloadScanner, FileNameMayLieInTheScanBuffer)
{
    std::string path = FileOf(Filler(9000) + Section(waveMarker, "late"));
    ASSERT_LT(path.size(), sizeof modulePath);
    std::memcpy(modulePath, path.c_str(), path.size() + 1);
    int32_t length = FindPayloadSection(modulePath, waveMarker);
    ASSERT_EQ(length, 4);
    EXPECT_EQ(ReadFound(length), "late");
}

TEST_F(PayloadScanner, FileThatCannotBeOpenedGivesZeroAndNoHandle)
{
    std::string path = directory_.File("absent.exe");
    EXPECT_EQ(FindPayloadSection(path.c_str(), gifMarker), 0);
    EXPECT_EQ(selfFile, nullptr);
}

// After every kind of result the file is held until CloseSelfFile, and then
// no handle on it is left.
TEST_F(PayloadScanner, CloseSelfFileReleasesTheFileAfterEveryResult)
{
    struct Case {
        const char* name;
        std::string bytes;
        int32_t expected;
    } cases[] = {
        {"found", Section(gifMarker, "abc"), 3},
        {"absent", Filler(5000), 0},
        {"length 0", Header(gifMarker, 0), 0},
        {"length cut off", "*" + Tag(gifMarker) + ":" + LengthField(9).substr(0, 2), -1},
        {"negative length", Header(gifMarker, 0x90000000u), static_cast<int32_t>(0x90000000u)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = FileOf(c.bytes);
        EXPECT_EQ(FindPayloadSection(path.c_str(), gifMarker), c.expected);
        EXPECT_NE(selfFile, nullptr);
        EXPECT_FALSE(scratch::CanOpenExclusively(path)) << "the search should hold the file";
        CloseSelfFile();
        EXPECT_EQ(selfFile, nullptr);
        EXPECT_TRUE(scratch::CanOpenExclusively(path)) << "a handle was left open";
        EXPECT_TRUE(DeleteFileA(path.c_str()));
    }
}

TEST_F(PayloadScanner, NewSearchClosesAHandleLeftOpenByTheLast)
{
    std::string first = FileOf(Section(gifMarker, "abc"));
    std::string second = FileOf(Section(gifMarker, "abc"));
    EXPECT_EQ(FindPayloadSection(first.c_str(), gifMarker), 3);
    EXPECT_EQ(FindPayloadSection(second.c_str(), gifMarker), 3);
    EXPECT_TRUE(scratch::CanOpenExclusively(first)) << "the first search's handle leaked";
    CloseSelfFile();
    EXPECT_TRUE(scratch::CanOpenExclusively(second));
}

// The executable may be open elsewhere, for reading or writing.
TEST_F(PayloadScanner, FindsSectionWhileAnotherWriterHoldsTheFile)
{
    std::string path = FileOf(Section(waveMarker, "shared"));
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    int32_t length = FindPayloadSection(path.c_str(), waveMarker);
    EXPECT_EQ(length, 6);
    EXPECT_EQ(ReadFound(length), "shared");
    CloseHandle(writer);
}

TEST_F(PayloadScanner, NextScanByteKeepsReturningMinusOneAtEndOfFile)
{
    std::string path = FileOf("ab\xFE");
    EXPECT_EQ(FindPayloadSection(path.c_str(), gifMarker), 0);
    EXPECT_EQ(scanConsumed, 3);
    EXPECT_EQ(NextScanByte(), -1);
    EXPECT_EQ(NextScanByte(), -1);
    EXPECT_EQ(scanAvailable, 0);
    EXPECT_EQ(scanConsumed, 3);
}

TEST_F(PayloadScanner, NextScanByteHandsOutBytesInFileOrder)
{
    std::string bytes = Filler(4100, 9);
    std::string path = FileOf(bytes);
    ASSERT_EQ(FindPayloadSection(path.c_str(), gifMarker), 0);
    // Read the file again byte by byte through the scanner's own buffer.
    SetFilePointer(selfFile, 0, nullptr, FILE_BEGIN);
    scanAvailable = 0;
    scanConsumed = 0;
    std::string seen;
    for (int byte = NextScanByte(); byte >= 0; byte = NextScanByte())
        seen.push_back(static_cast<char>(byte));
    EXPECT_EQ(seen.size(), bytes.size());
    EXPECT_TRUE(seen == bytes) << "bytes differ from the file's";
    EXPECT_EQ(scanConsumed, 4100);
}

TEST_F(PayloadScanner, ReadPayloadFailsWhenTheBlockCouldNotBeAllocated)
{
    std::string path = FileOf(Section(gifMarker, "abc"));
    ASSERT_EQ(FindPayloadSection(path.c_str(), gifMarker), 3);
    MemoryBuffer buffer(0x7FFFFFFF);
    ASSERT_EQ(buffer.data, nullptr);
    EXPECT_FALSE(ReadPayload(buffer));
}

}  // namespace
