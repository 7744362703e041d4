// Link-time fakes of the multimedia timer service: timeSetEvent,
// timeKillEvent and timeGetDevCaps record each call and answer as set here.
#pragma once

#include <windows.h>
#include <mmsystem.h>

struct FakeTimerService {
    UINT nextTimerId;       // returned by the next timeSetEvent, then raised by 1; 0 refuses
    UINT periodMin;         // range reported by timeGetDevCaps, in ms
    UINT periodMax;
    MMRESULT capsResult;    // result of timeGetDevCaps
    LPTIMECALLBACK lastCallback;  // of the last timeSetEvent
    DWORD_PTR lastUser;
};

extern FakeTimerService fakeTimer;

// Ids from 0x7001, Wine's range 1..65535 ms, caps answered.
void ResetFakeTimer();
