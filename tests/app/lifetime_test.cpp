// LoadAnimation and the exit sequence on files written by the test, against
// the player's own objects and the process-wide state they fill.
#include "app/app.h"

#include <gtest/gtest.h>

#include "gif/gif_animation.h"
#include "imaging/display_palette.h"
#include "imaging/indexed_bitmap.h"
#include "payload/payload_scanner.h"
#include "payload/scratch_files.h"
#include "payload/sound_extraction.h"

using scratch::Filler;
using scratch::Header;
using scratch::Section;

namespace {

template <size_t n>
std::string Bytes(const unsigned char (&bytes)[n])
{
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

// 3 x 1 pixels, a global table of two colours, one image of colour 1.
const unsigned char gifWithTable[] = {
    'G', 'I', 'F', '8', '9', 'a',
    3, 0, 1, 0,           // logical screen 3 x 1
    0x80, 0, 0,           // global table of 2 entries, background 0, aspect 0
    0x00, 0x00, 0x00,     // colour 0: black
    0xFF, 0x80, 0x00,     // colour 1: orange
    0x2C, 0, 0, 0, 0, 3, 0, 1, 0, 0x00,  // image at 0,0, 3 x 1, no local table
    0x02,                 // LZW minimum code size 2: clear 4, end 5, 3-bit codes
    0x02, 0x4C, 0x52,     // clear, 1, 1, 1 (table now at 8: 4-bit codes), end
    0x00,                 // end of image data
    0x3B,
};

// The same stream with its global table flag cleared and the table left out.
const unsigned char gifWithoutTable[] = {
    'G', 'I', 'F', '8', '9', 'a',
    3, 0, 1, 0,
    0x00, 0, 0,           // no global table
    0x2C, 0, 0, 0, 0, 3, 0, 1, 0, 0x00,
    0x02, 0x02, 0x4C, 0x52, 0x00,
    0x3B,
};

class LoadAnimationTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        midiTempPath[0] = 0;
        waveTempPath[0] = 0;
        RunExitSequence();
    }

    std::string ProgramFile(const std::string& sections)
    {
        std::string path = directory_.File("player" + std::to_string(++files_) + ".exe");
        EXPECT_TRUE(scratch::WriteWholeFile(path, Filler(2000) + sections));
        return path;
    }

    scratch::Directory directory_;
    int files_ = 0;
};

TEST_F(LoadAnimationTest, GifWithGlobalTableLeavesPaletteAndCanvasReadyAndTheFileClosed)
{
    std::string program = ProgramFile(Section(waveMarker, "RIFF") + Section(gifMarker, Bytes(gifWithTable)));
    ASSERT_EQ(LoadAnimation(program.c_str(), gifMarker), 1);
    EXPECT_EQ(selfFile, nullptr);
    EXPECT_TRUE(scratch::CanOpenExclusively(program)) << "the program's file is still held";
    EXPECT_EQ(animation.width, 3);
    EXPECT_EQ(animation.height, 1);
    EXPECT_EQ(animation.colourTable.count, 2);
    EXPECT_EQ(animation.frameCount, 1);
    EXPECT_NE(displayPalette, nullptr);
    EXPECT_EQ(canvas.width, 3);
    EXPECT_EQ(canvas.height, 1);
    EXPECT_NE(canvas.pixels, nullptr);
}

// The frames parsed stay for the exit sequence, which also closes the file.
TEST_F(LoadAnimationTest, GifWithoutGlobalTableFailsAndTheExitSequenceCleansUp)
{
    std::string program = ProgramFile(Section(gifMarker, Bytes(gifWithoutTable)));
    EXPECT_EQ(LoadAnimation(program.c_str(), gifMarker), 0);
    EXPECT_EQ(displayPalette, nullptr);
    EXPECT_NE(animation.frames, nullptr);
    EXPECT_NE(selfFile, nullptr);

    RunExitSequence();
    EXPECT_EQ(selfFile, nullptr);
    EXPECT_EQ(animation.frames, nullptr);
    EXPECT_TRUE(scratch::CanOpenExclusively(program)) << "the program's file is still held";
}

TEST_F(LoadAnimationTest, MissingOrUnreadableSectionFails)
{
    const std::string gif = Bytes(gifWithTable);
    struct Case {
        const char* name;
        std::string sections;
    } cases[] = {
        {"no GIF section", Section(midiMarker, gif)},
        {"length 0", Header(gifMarker, 0) + gif},
        {"length 2^31", Header(gifMarker, 0x80000000u) + gif},
        {"length cut off", Header(gifMarker, 9).substr(0, 18)},
        {"payload a byte short", Header(gifMarker, static_cast<uint32_t>(gif.size() + 1)) + gif},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LoadAnimation(ProgramFile(c.sections).c_str(), gifMarker), 0);
        EXPECT_EQ(displayPalette, nullptr);
        RunExitSequence();
    }
}

TEST_F(LoadAnimationTest, ExitSequenceDeletesTheSoundFilesNamedByTheirPaths)
{
    std::string midi = directory_.File("pavolin.mid");
    std::string wave = directory_.File("pavolin.wav");
    std::string other = directory_.File("other.wav");
    for (const std::string& path : {midi, wave, other})
        ASSERT_TRUE(scratch::WriteWholeFile(path, "sound"));
    lstrcpyA(midiTempPath, midi.c_str());
    lstrcpyA(waveTempPath, wave.c_str());
    RunExitSequence();
    EXPECT_FALSE(scratch::FileExists(midi));
    EXPECT_FALSE(scratch::FileExists(wave));
    EXPECT_TRUE(scratch::FileExists(other));
}

}  // namespace
