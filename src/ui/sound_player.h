// Sound playback: the WAVE requested at every loop of the animation, and the
// MIDI song looped through the MCI sequencer. Each call does nothing when its
// temporary path is empty.
#pragma once

#include "platform/win32.h"

extern UINT midiDeviceId;  // open sequencer device, 0 when none

// Requests the WAVE asynchronously; dropped while a waveform sound plays.
void PlayWave();

// Stops any waveform sound that is playing.
void StopWave();

// Opens the MIDI file on the sequencer unless a device is open, and plays it
// with completion notice to `window`. A failed play closes the device.
void PlayMidi(HWND window);

// Stops and closes the open device. Returns the close result, 0 when none.
DWORD CloseMidi();
