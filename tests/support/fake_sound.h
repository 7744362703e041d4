// Link-time fakes of the sound services: PlaySoundA and mciSendCommandA
// record each call, with the MCI parameter blocks they are given, and answer
// as set here. LoadLibraryA records and answers loads of the sequencer's
// driver only, and passes every other load on to the system.
#pragma once

#include <windows.h>
#include <mmsystem.h>

struct FakeSoundService {
    MCIERROR openResult;        // results of the MCI commands
    MCIERROR playResult;
    MCIERROR stopResult;
    MCIERROR closeResult;
    MCIDEVICEID nextDeviceId;   // given out by the next successful open, then raised by 1
    BOOL playSoundResult;
    HMODULE sequencerDriver;    // what a load of mciseq.dll returns
};

extern FakeSoundService fakeSound;

// Every command succeeds; devices from 0x31; the driver loads.
void ResetFakeSound();
