#include "support/fake_timer.h"

#include <string>

#include "support/call_log.h"
#include "support/fake_import.h"
#include "ui/frame_scheduler.h"

FakeTimerService fakeTimer;

namespace {

std::string CallbackName(LPTIMECALLBACK callback)
{
    if (callback == FrameTimerProc)
        return "FrameTimerProc";
    return Hex(reinterpret_cast<const void*>(callback));
}

MMRESULT WINAPI FakeTimeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback,
                                 DWORD_PTR user, UINT flags)
{
    RecordCall("timeSetEvent(" + std::to_string(delay) + " ms, " + std::to_string(resolution) +
               " ms, " + CallbackName(callback) + ", user " + Hex(user) + ", flags " +
               Hex(flags) + ")");
    fakeTimer.lastCallback = callback;
    fakeTimer.lastUser = user;
    if (fakeTimer.nextTimerId == 0)
        return 0;
    return fakeTimer.nextTimerId++;
}

MMRESULT WINAPI FakeTimeKillEvent(UINT id)
{
    RecordCall("timeKillEvent(" + Hex(id) + ")");
    return TIMERR_NOERROR;
}

MMRESULT WINAPI FakeTimeGetDevCaps(LPTIMECAPS caps, UINT size)
{
    RecordCall("timeGetDevCaps(" + std::to_string(size) + " bytes)");
    if (fakeTimer.capsResult != TIMERR_NOERROR)
        return fakeTimer.capsResult;
    caps->wPeriodMin = fakeTimer.periodMin;
    caps->wPeriodMax = fakeTimer.periodMax;
    return TIMERR_NOERROR;
}

}  // namespace

FAKE_IMPORT(timeSetEvent, 20, FakeTimeSetEvent);
FAKE_IMPORT(timeKillEvent, 4, FakeTimeKillEvent);
FAKE_IMPORT(timeGetDevCaps, 8, FakeTimeGetDevCaps);

void ResetFakeTimer()
{
    fakeTimer = FakeTimerService{0x7001, 1, 65535, TIMERR_NOERROR, nullptr, 0};
}
