// Sound extraction under Wine, with TEMP set from inside the test process.
#include "payload/sound_extraction.h"

#include <gtest/gtest.h>

#include <cstring>

#include "payload/payload_scanner.h"
#include "payload/scratch_files.h"

using scratch::Filler;
using scratch::Header;
using scratch::Section;

namespace {

const unsigned char guardByte = 0xA5;

// A path variable with guard bytes right behind it, to catch any write past
// its 256 bytes.
struct GuardedPath {
    char path[tempPathSize];
    unsigned char guard[64];

    GuardedPath()
    {
        std::memset(path, 0, sizeof path);
        std::memset(guard, guardByte, sizeof guard);
    }
    bool GuardIntact() const
    {
        for (unsigned char b : guard) {
            if (b != guardByte)
                return false;
        }
        return true;
    }
};

std::string WindowsDirectory()
{
    char directory[MAX_PATH];
    UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
    return std::string(directory, length);
}

class SoundExtraction : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[32768];
        DWORD length = GetEnvironmentVariableA("TEMP", temp, sizeof temp);
        hadTemp_ = length > 0 && length < sizeof temp;
        savedTemp_ = hadTemp_ ? std::string(temp, length) : std::string();
    }

    void TearDown() override
    {
        CloseSelfFile();
        SetEnvironmentVariableA("TEMP", hadTemp_ ? savedTemp_.c_str() : nullptr);
        for (const char* name : {"\\pavolin.mid", "\\pavolin.wav"})
            DeleteFileA((WindowsDirectory() + name).c_str());
    }

    std::string ProgramFile(const std::string& sections)
    {
        std::string path = program_.File("player.exe");
        EXPECT_TRUE(scratch::WriteWholeFile(path, Filler(3000) + sections));
        return path;
    }

    // Runs the MIDI form of the extraction into a guarded path variable.
    void ExtractMidi(const std::string& programFile, GuardedPath& target)
    {
        ExtractSoundPayload(programFile.c_str(), midiMarker, target.path, "\\pavolin.mid");
        EXPECT_EQ(selfFile, nullptr) << "the program's file was left open";
        EXPECT_TRUE(target.GuardIntact()) << "written past the 256-byte path";
    }

    scratch::Directory directory_;  // TEMP in most tests: holds only what extraction writes
    scratch::Directory program_;
    bool hadTemp_ = false;
    std::string savedTemp_;
};

// Bytes of a string literal, zeros included.
template <size_t n>
std::string Bytes(const char (&literal)[n])
{
    return std::string(literal, n - 1);
}

const std::string midiPayload = Bytes("MThd\0\0\0\x06*:\xFF") + Filler(700, 4);

TEST_F(SoundExtraction, WritesThePayloadAsItStandsIntoTheTempDirectory)
{
    std::string program = ProgramFile(Section(gifMarker, "GIF89a") + Section(midiMarker, midiPayload));
    SetEnvironmentVariableA("TEMP", directory_.Path().c_str());
    GuardedPath target;
    ExtractMidi(program, target);
    EXPECT_EQ(std::string(target.path), directory_.Path() + "\\pavolin.mid");
    EXPECT_TRUE(scratch::ReadWholeFile(directory_.File("pavolin.mid")) == midiPayload)
        << "the temporary file does not hold the payload";
}

TEST_F(SoundExtraction, TrailingBackslashInTempGivesTwoBackslashesAndAFile)
{
    std::string program = ProgramFile(Section(midiMarker, midiPayload));
    SetEnvironmentVariableA("TEMP", (directory_.Path() + "\\").c_str());
    GuardedPath target;
    ExtractMidi(program, target);
    EXPECT_EQ(std::string(target.path), directory_.Path() + "\\\\pavolin.mid");
    EXPECT_TRUE(scratch::ReadWholeFile(directory_.File("pavolin.mid")) == midiPayload);
}

TEST_F(SoundExtraction, UnsetOrEmptyTempMeansTheWindowsDirectory)
{
    std::string program = ProgramFile(Section(midiMarker, midiPayload));
    const std::string expected = WindowsDirectory() + "\\pavolin.mid";
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        SCOPED_TRACE(value ? "TEMP empty" : "TEMP unset");
        DeleteFileA(expected.c_str());
        SetEnvironmentVariableA("TEMP", value);
        GuardedPath target;
        ExtractMidi(program, target);
        EXPECT_EQ(std::string(target.path), expected);
        EXPECT_TRUE(scratch::ReadWholeFile(expected) == midiPayload);
    }
}

TEST_F(SoundExtraction, MissingTempDirectorySetsThePathButWritesNoFile)
{
    std::string program = ProgramFile(Section(midiMarker, midiPayload));
    std::string missing = directory_.File("missing");
    SetEnvironmentVariableA("TEMP", missing.c_str());
    GuardedPath target;
    ExtractMidi(program, target);
    EXPECT_EQ(std::string(target.path), missing + "\\pavolin.mid");
    EXPECT_FALSE(scratch::FileExists(missing));
    EXPECT_TRUE(scratch::ListDirectory(directory_.Path()).empty());
}

// 243 characters of directory, 12 of file name and the zero fill the 256
// bytes exactly; anything longer goes to the Windows directory instead.
TEST_F(SoundExtraction, TempTooLongForThePathFallsBackToTheWindowsDirectory)
{
    std::string program = ProgramFile(Section(midiMarker, midiPayload));
    for (size_t length : {243u, 244u, 250u, 255u, 256u, 257u, 300u, 2000u}) {
        SCOPED_TRACE("TEMP of " + std::to_string(length) + " characters");
        std::string temp = "C:\\" + std::string(length - 3, 'd');
        SetEnvironmentVariableA("TEMP", temp.c_str());
        GuardedPath target;
        ExtractMidi(program, target);
        std::string expected = (length <= 243 ? temp : WindowsDirectory()) + "\\pavolin.mid";
        EXPECT_EQ(std::string(target.path), expected);
        EXPECT_LT(std::strlen(target.path), static_cast<size_t>(tempPathSize));
    }
}

TEST_F(SoundExtraction, AnExistingFileOfTheSameNameIsReplaced)
{
    ASSERT_TRUE(scratch::WriteWholeFile(directory_.File("pavolin.mid"), Filler(5000, 2)));
    std::string program = ProgramFile(Section(midiMarker, "MThd-short"));
    SetEnvironmentVariableA("TEMP", directory_.Path().c_str());
    GuardedPath target;
    ExtractMidi(program, target);
    EXPECT_EQ(scratch::ReadWholeFile(directory_.File("pavolin.mid")), "MThd-short");
}

TEST_F(SoundExtraction, FileHeldOpenElsewhereKeepsThePathSet)
{
    std::string held = directory_.File("pavolin.mid");
    ASSERT_TRUE(scratch::WriteWholeFile(held, "previous"));
    HANDLE other = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    std::string program = ProgramFile(Section(midiMarker, midiPayload));
    SetEnvironmentVariableA("TEMP", directory_.Path().c_str());
    GuardedPath target;
    ExtractMidi(program, target);
    CloseHandle(other);
    EXPECT_EQ(std::string(target.path), held);
    EXPECT_EQ(scratch::ReadWholeFile(held), "previous");
}

TEST_F(SoundExtraction, MidiLengthBeyondTheEndOfFileLeavesNoPathAndNoFile)
{
    std::string program = ProgramFile(
        Header(midiMarker, static_cast<uint32_t>(midiPayload.size() + 1)) + midiPayload);
    SetEnvironmentVariableA("TEMP", directory_.Path().c_str());
    GuardedPath target;
    ExtractMidi(program, target);
    EXPECT_STREQ(target.path, "");
    EXPECT_TRUE(scratch::ListDirectory(directory_.Path()).empty());
}

TEST_F(SoundExtraction, AbsentOrUnusableSectionsLeaveNoPathAndNoFile)
{
    struct Case {
        const char* name;
        std::string sections;
    } cases[] = {
        {"no section", Section(gifMarker, "GIF89a")},
        {"length 0", Header(midiMarker, 0) + "MThd"},
        {"length 2^31", Header(midiMarker, 0x80000000u) + "MThd"},
        {"length cut off", Header(midiMarker, 7).substr(0, 20)},
    };
    SetEnvironmentVariableA("TEMP", directory_.Path().c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string program = ProgramFile(c.sections);
        GuardedPath target;
        ExtractMidi(program, target);
        EXPECT_STREQ(target.path, "");
        EXPECT_TRUE(scratch::ListDirectory(directory_.Path()).empty());
    }
}

TEST_F(SoundExtraction, ProgramFileThatCannotBeOpenedLeavesNoPath)
{
    SetEnvironmentVariableA("TEMP", directory_.Path().c_str());
    GuardedPath target;
    ExtractMidi(directory_.File("absent.exe"), target);
    EXPECT_STREQ(target.path, "");
}

TEST_F(SoundExtraction, WaveWithoutMidiSetsOnlyTheWavePath)
{
    const std::string wave = Bytes("RIFF\x10\0\0\0WAVEfmt ") + Filler(64, 8);
    std::string program = ProgramFile(Section(waveMarker, wave) + Section(gifMarker, "GIF89a"));
    SetEnvironmentVariableA("TEMP", directory_.Path().c_str());
    midiTempPath[0] = 0;
    waveTempPath[0] = 0;
    ExtractMidiPayload(program.c_str());
    ExtractWavePayload(program.c_str());
    EXPECT_EQ(selfFile, nullptr);
    EXPECT_STREQ(midiTempPath, "");
    EXPECT_EQ(std::string(waveTempPath), directory_.Path() + "\\pavolin.wav");
    EXPECT_FALSE(scratch::FileExists(directory_.File("pavolin.mid")));
    EXPECT_TRUE(scratch::ReadWholeFile(directory_.File("pavolin.wav")) == wave);
}

TEST_F(SoundExtraction, BothInstancesFillTheirOwnPaths)
{
    std::string program = ProgramFile(Section(waveMarker, "wave-bytes") + Section(midiMarker, "midi-bytes"));
    SetEnvironmentVariableA("TEMP", directory_.Path().c_str());
    midiTempPath[0] = 0;
    waveTempPath[0] = 0;
    ExtractMidiPayload(program.c_str());
    ExtractWavePayload(program.c_str());
    EXPECT_EQ(std::string(midiTempPath), directory_.Path() + "\\pavolin.mid");
    EXPECT_EQ(std::string(waveTempPath), directory_.Path() + "\\pavolin.wav");
    EXPECT_EQ(scratch::ReadWholeFile(midiTempPath), "midi-bytes");
    EXPECT_EQ(scratch::ReadWholeFile(waveTempPath), "wave-bytes");
}

}  // namespace
