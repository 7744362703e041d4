#include "ui/sound_player.h"

#include <mmsystem.h>

#include "payload/sound_extraction.h"

UINT midiDeviceId = 0;
bool sequencerDriverLoadTried = false;

namespace {

// Asynchronous, and dropped while any waveform sound still plays, so that a
// WAVE longer than one loop of the animation is never cut off.
const DWORD playWaveFlags = SND_FILENAME | SND_NOSTOP | SND_ASYNC;

// The song is closed and reopened at every repeat, from the completion
// notice. Some MCI implementations unload the sequencer's driver at the
// close while the driver's playback thread, which posted that notice, is
// still returning through the driver's code. One reference of our own, taken
// once and never released, keeps the driver mapped for the life of the
// process. Without it nothing changes but that margin, so a failed load is
// not a failure.
void KeepSequencerDriverLoaded()
{
    if (sequencerDriverLoadTried)
        return;
    sequencerDriverLoadTried = true;
    LoadLibraryA("mciseq.dll");
}

// Opens the MIDI file on the sequencer; stores the device id and returns 1,
// or returns 0 with no device open.
int OpenMidi()
{
    KeepSequencerDriverLoaded();
    MCI_OPEN_PARMSA open = {};
    open.lpstrDeviceType = "sequencer";
    open.lpstrElementName = midiTempPath;
    if (mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT,
                        reinterpret_cast<DWORD_PTR>(&open)) != 0)
        return 0;
    midiDeviceId = open.wDeviceID;
    return 1;
}

}  // namespace

void PlayWave()
{
    if (waveTempPath[0] != '\0')
        PlaySoundA(waveTempPath, nullptr, playWaveFlags);
}

void StopWave()
{
    if (waveTempPath[0] != '\0')
        PlaySoundA(nullptr, nullptr, 0);
}

void PlayMidi(HWND window)
{
    if (midiTempPath[0] == '\0')
        return;
    if (midiDeviceId == 0 && !OpenMidi())
        return;

    // The sequencer posts MM_MCINOTIFY to the window when the play ends; the
    // window restarts the song from there.
    MCI_PLAY_PARMS play = {};
    play.dwCallback = reinterpret_cast<DWORD_PTR>(window);
    if (mciSendCommandA(midiDeviceId, MCI_PLAY, MCI_NOTIFY,
                        reinterpret_cast<DWORD_PTR>(&play)) != 0) {
        mciSendCommandA(midiDeviceId, MCI_CLOSE, 0, 0);
        midiDeviceId = 0;
    }
}

DWORD CloseMidi()
{
    if (midiDeviceId == 0)
        return 0;
    mciSendCommandA(midiDeviceId, MCI_STOP, 0, 0);
    const DWORD result = mciSendCommandA(midiDeviceId, MCI_CLOSE, 0, 0);
    midiDeviceId = 0;
    return result;
}
