// Link-time fakes of the sound services: PlaySoundA and mciSendCommandA
// record each call, with the MCI parameter blocks they are given, and answer
// as set here.
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
};

extern FakeSoundService fakeSound;

// Every command succeeds; devices from 0x31.
void ResetFakeSound();
