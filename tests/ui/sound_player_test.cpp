#include "ui/sound_player.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "payload/sound_extraction.h"
#include "support/call_log.h"
#include "support/fake_sound.h"

namespace {

const HWND window = reinterpret_cast<HWND>(0x1234);

const std::string loadDriver = "LoadLibraryA(\"mciseq.dll\")";
const std::string openSong =
    "mciSendCommandA(0x0, MCI_OPEN, flags 0x2200, type \"sequencer\", "
    "element \"C:\\temp\\pavolin.mid\")";

std::string Play(UINT device)
{
    return "mciSendCommandA(" + Hex(device) + ", MCI_PLAY, flags 0x1, callback 0x1234)";
}
std::string Stop(UINT device) { return "mciSendCommandA(" + Hex(device) + ", MCI_STOP, flags 0x0, null)"; }
std::string Close(UINT device) { return "mciSendCommandA(" + Hex(device) + ", MCI_CLOSE, flags 0x0, null)"; }

class SoundPlayerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ResetFakeSound();
        ClearRecordedCalls();
        midiDeviceId = 0;
        sequencerDriverLoadTried = false;
        std::strcpy(midiTempPath, "C:\\temp\\pavolin.mid");
        std::strcpy(waveTempPath, "C:\\temp\\pavolin.wav");
    }

    void TearDown() override
    {
        midiDeviceId = 0;
        midiTempPath[0] = '\0';
        waveTempPath[0] = '\0';
    }
};

}  // namespace

TEST_F(SoundPlayerTest, FirstPlayLoadsTheDriverOpensTheSequencerAndPlaysWithNotice)
{
    PlayMidi(window);

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {loadDriver, openSong, Play(0x31)}));
    EXPECT_EQ(0x31u, midiDeviceId) << "the id the (fake) open handed back";
}

TEST_F(SoundPlayerTest, SongCompletionStopsClosesOpensAndPlaysOnce)
{
    PlayMidi(window);
    ClearRecordedCalls();

    CloseMidi();
    PlayMidi(window);

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {Stop(0x31), Close(0x31), openSong, Play(0x32)}));
    EXPECT_EQ(0x32u, midiDeviceId);
}

// The driver is loaded once for the life of the process, whether or not the
// load succeeds, and a failed load leaves the song's commands as they were.
TEST_F(SoundPlayerTest, DriverIsLoadedOnceWhateverTheLoadGives)
{
    for (HMODULE driver : {reinterpret_cast<HMODULE>(0x6EB80000), HMODULE{}}) {
        SCOPED_TRACE(driver ? "driver loads" : "driver load fails");
        SetUp();
        fakeSound.sequencerDriver = driver;

        PlayMidi(window);
        CloseMidi();
        PlayMidi(window);
        CloseMidi();

        EXPECT_TRUE(CallsMatch(RecordedCalls(), {loadDriver, openSong, Play(0x31), Stop(0x31),
                                                 Close(0x31), openSong, Play(0x32), Stop(0x32),
                                                 Close(0x32)}));
    }
}

TEST_F(SoundPlayerTest, OpenDeviceIsReusedWithoutOpeningAgain)
{
    midiDeviceId = 0x44;

    PlayMidi(window);

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {Play(0x44)}));
    EXPECT_EQ(0x44u, midiDeviceId);
}

TEST_F(SoundPlayerTest, FailedOpenSendsNothingMore)
{
    fakeSound.openResult = MCIERR_CANNOT_LOAD_DRIVER;

    PlayMidi(window);
    CloseMidi();

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {loadDriver, openSong}));
    EXPECT_EQ(0u, midiDeviceId);
}

TEST_F(SoundPlayerTest, FailedPlayClosesAndForgetsTheDevice)
{
    fakeSound.playResult = MCIERR_HARDWARE;

    PlayMidi(window);
    CloseMidi();

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {loadDriver, openSong, Play(0x31), Close(0x31)}));
    EXPECT_EQ(0u, midiDeviceId);
}

TEST_F(SoundPlayerTest, CloseReturnsTheCloseResult)
{
    PlayMidi(window);
    fakeSound.stopResult = MCIERR_UNSUPPORTED_FUNCTION;
    fakeSound.closeResult = MCIERR_DEVICE_LOCKED;

    EXPECT_EQ(static_cast<DWORD>(MCIERR_DEVICE_LOCKED), CloseMidi());
    EXPECT_EQ(0u, midiDeviceId) << "the device is forgotten even when closing failed";
    EXPECT_EQ(0u, CloseMidi()) << "no device left to close";
}

TEST_F(SoundPlayerTest, NoMidiPayloadSendsNoCommand)
{
    midiTempPath[0] = '\0';

    PlayMidi(window);
    EXPECT_EQ(0u, CloseMidi());
    EXPECT_FALSE(sequencerDriverLoadTried) << "no song, no driver";

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {}));
}

TEST_F(SoundPlayerTest, WaveIsRequestedAsynchronouslyWithoutCuttingAPlayingSound)
{
    PlayWave();

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {
        "PlaySoundA(\"C:\\temp\\pavolin.wav\", module null, flags 0x20011)",
    }));
}

TEST_F(SoundPlayerTest, StopWaveSendsNullNameAndNoFlags)
{
    StopWave();

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {"PlaySoundA(null, module null, flags 0x0)"}));
}

TEST_F(SoundPlayerTest, NoWavePayloadNeverCallsTheSoundFunction)
{
    waveTempPath[0] = '\0';

    PlayWave();
    StopWave();

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {}));
}
