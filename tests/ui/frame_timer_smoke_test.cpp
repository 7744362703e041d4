// The frame timer against the real multimedia timer service and a real
// window: whether requests are accepted and whether the expiry reaches the
// window procedure. Nothing here asserts how long anything took.
#include "ui/frame_scheduler.h"

#include <mmsystem.h>

#include <gtest/gtest.h>

namespace {

int timerMessages = 0;
WPARAM lastTimerWParam = 0;
LPARAM lastTimerLParam = -1;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        ++timerMessages;
        lastTimerWParam = wParam;
        lastTimerLParam = lParam;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class RealFrameTimerTest : public testing::Test {
protected:
    HWND window = nullptr;

    void SetUp() override
    {
        timerMessages = 0;
        lastTimerWParam = 0;
        lastTimerLParam = -1;
        frameTimerId = 0;
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = RecordingWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "FrameTimerSmokeTest";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "FrameTimerSmokeTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                 nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(nullptr, window);
        timeBeginPeriod(10);
    }

    void TearDown() override
    {
        CancelFrameTimer();
        timeEndPeriod(10);
        if (window)
            DestroyWindow(window);
    }

    // Dispatches messages until a WM_TIMER has reached the window or the
    // time runs out.
    void PumpUntilTimerMessage(DWORD timeoutMs)
    {
        const DWORD start = GetTickCount();
        while (timerMessages == 0 && GetTickCount() - start < timeoutMs) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
        }
    }
};

}  // namespace

TEST_F(RealFrameTimerTest, ExpiryReachesTheWindowProcedureWithItsId)
{
    ArmFrameTimer(20, window);
    const UINT armed = frameTimerId;
    ASSERT_NE(0u, armed) << "the timer service refused 20 ms";

    PumpUntilTimerMessage(5000);

    ASSERT_EQ(1, timerMessages) << "no WM_TIMER reached the window within 5 s";
    EXPECT_EQ(armed, lastTimerWParam);
    EXPECT_EQ(0, lastTimerLParam);
}

TEST_F(RealFrameTimerTest, ZeroDelayIsAcceptedAndExpires)
{
    ArmFrameTimer(0, window);
    ASSERT_NE(0u, frameTimerId) << "a frame without delay must not halt the animation";

    PumpUntilTimerMessage(5000);

    EXPECT_EQ(1, timerMessages);
}

TEST_F(RealFrameTimerTest, LargestGifDelayIsAccepted)
{
    ArmFrameTimer(65535 * 10, window);

    EXPECT_NE(0u, frameTimerId) << "655350 ms must be armed, or brought into the service's range";
}

TEST_F(RealFrameTimerTest, CancelledTimerPostsNothing)
{
    ArmFrameTimer(30, window);
    ASSERT_NE(0u, frameTimerId);
    CancelFrameTimer();

    PumpUntilTimerMessage(300);

    EXPECT_EQ(0, timerMessages);
}
