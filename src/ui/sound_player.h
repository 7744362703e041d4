// Sound playback: the WAVE requested at every loop of the animation, and the
// MIDI song looped through the MCI sequencer. Each call does nothing when its
// temporary path (waveTempPath, midiTempPath) is empty.
#pragma once

#include "platform/win32.h"

extern UINT midiDeviceId;  // open sequencer device, 0 when none
// Set once the sequencer's driver has been loaded for the life of the
// process (or the load was tried and failed), before the first open.
extern bool sequencerDriverLoadTried;

// Requests the WAVE file asynchronously; the request is dropped while any
// waveform sound still plays.
void PlayWave();

// Stops any waveform sound that is playing.
void StopWave();

// Opens the MIDI file on the sequencer unless a device is open, and plays it
// from the current position with MM_MCINOTIFY to `window` when the play
// ends. A failed open leaves no device; a failed play closes the device.
// Before the first open it loads the sequencer's driver, mciseq.dll, once
// and keeps it loaded, so that closing the device never unmaps it.
void PlayMidi(HWND window);

// Stops and closes the open device and forgets it. Returns the close
// command's MCI result, 0 when no device was open.
DWORD CloseMidi();
