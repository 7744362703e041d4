#include "ui/frame_scheduler.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gif/gif_animation.h"
#include "imaging/indexed_bitmap.h"
#include "payload/sound_extraction.h"
#include "support/call_log.h"
#include "support/fake_sound.h"
#include "support/fake_timer.h"
#include "support/fake_window.h"

namespace {

const HWND window = reinterpret_cast<HWND>(0x1234);
const uint8_t sentinel = 0xEE;
const char wavePath[] = "C:\\temp\\pavolin.wav";
const std::string waveRequest = "PlaySoundA(\"C:\\temp\\pavolin.wav\", module null, flags 0x20011)";

std::string Armed(UINT delayMs)
{
    return "timeSetEvent(" + std::to_string(delayMs) +
           " ms, 10 ms, FrameTimerProc, user 0x1234, flags 0x0)";
}

std::string Killed(UINT id) { return "timeKillEvent(" + Hex(id) + ")"; }

// Frames are filled in directly, as the parser would leave them, on a
// 100 x 80 canvas filled with the sentinel.
class FrameSchedulerTest : public testing::Test {
protected:
    static const int maxFrames = 4;
    GifFrame frames[maxFrames];
    GifFrame* frameList[maxFrames];
    int framesUsed = 0;

    void SetUp() override
    {
        ResetFakeTimer();
        ResetFakeSound();
        ResetFakeWindow();
        ClearRecordedCalls();
        currentFrameIndex = -1;
        frameTimerId = 0;
        std::strcpy(waveTempPath, wavePath);
        midiTempPath[0] = '\0';
        AllocatePixels(canvas, 100, 80);
        ASSERT_NE(nullptr, canvas.pixels);
        std::memset(canvas.pixels, sentinel, static_cast<size_t>(canvas.stride) * canvas.height);
        animation.width = 100;
        animation.height = 80;
        animation.frames = frameList;
        animation.frameCount = 0;
    }

    void TearDown() override
    {
        for (int i = 0; i < framesUsed; ++i)
            ReleasePixels(frames[i].bitmap);
        animation.frames = nullptr;
        animation.frameCount = 0;
        ReleasePixels(canvas);
        InitHeader(canvas, 0, 0);
        waveTempPath[0] = '\0';
        currentFrameIndex = -1;
        frameTimerId = 0;
    }

    // A frame of one colour, `value`, or without pixels when `value` < 0.
    GifFrame& AddFrame(int32_t left, int32_t top, int32_t width, int32_t height, uint32_t delay,
                       int value)
    {
        GifFrame& frame = frames[framesUsed];
        frameList[framesUsed] = &frame;
        ++framesUsed;
        animation.frameCount = framesUsed;
        frame.left = left;
        frame.top = top;
        frame.width = width;
        frame.height = height;
        frame.interlaced = 0;
        frame.delay = delay;
        if (value < 0) {
            InitHeader(frame.bitmap, width, height);
        } else {
            AllocatePixels(frame.bitmap, width, height);
            std::memset(frame.bitmap.pixels, value,
                        static_cast<size_t>(frame.bitmap.stride) * height);
        }
        return frame;
    }

    // Canvas pixels in image coordinates (row 0 at the top).
    static uint8_t CanvasAt(int32_t x, int32_t y)
    {
        return canvas.pixels[static_cast<size_t>(canvas.height - 1 - y) * canvas.stride + x];
    }

    // Counts canvas pixels inside and outside a rectangle that differ from
    // what they should hold.
    static int CanvasMismatches(const RECT& rect, uint8_t inside)
    {
        int mismatches = 0;
        for (int32_t y = 0; y < canvas.height; ++y)
            for (int32_t x = 0; x < canvas.width; ++x) {
                const bool in = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
                if (CanvasAt(x, y) != (in ? inside : sentinel))
                    ++mismatches;
            }
        return mismatches;
    }
};

}  // namespace

TEST_F(FrameSchedulerTest, FirstStepShowsFrameZeroRequestsWaveAndArmsItsDelay)
{
    AddFrame(10, 20, 50, 30, 50, 0x41);
    AddFrame(0, 0, 100, 80, 20, 0x42);

    AdvanceFrame(window);

    EXPECT_EQ(0, currentFrameIndex);
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {
        waveRequest,
        "GetScrollPos(0x1234, SB_VERT)",
        "GetScrollPos(0x1234, SB_HORZ)",
        "InvalidateRect(0x1234, {10, 20, 60, 50}, FALSE)",
        "timeGetDevCaps(8 bytes)",
        Armed(500),
    }));
    EXPECT_EQ(0x7001u, frameTimerId) << "the id the (fake) timer service returned";
    EXPECT_EQ(0, CanvasMismatches(RECT{10, 20, 60, 50}, 0x41));
}

TEST_F(FrameSchedulerTest, TwoFramesAlternateDelaysAndRequestWaveOnlyAtWrap)
{
    AddFrame(0, 0, 10, 10, 50, 1);
    AddFrame(0, 0, 10, 10, 20, 2);

    for (int step = 0; step < 5; ++step)
        AdvanceFrame(window);

    EXPECT_EQ(0, currentFrameIndex);
    EXPECT_TRUE(CallsMatch(RecordedCallsOf({"PlaySoundA", "timeSetEvent", "timeKillEvent"}), {
        waveRequest, Armed(500),
        Killed(0x7001), Armed(200),
        Killed(0x7002), waveRequest, Armed(500),
        Killed(0x7003), Armed(200),
        Killed(0x7004), waveRequest, Armed(500),
    }));
    EXPECT_EQ(0x7005u, frameTimerId);
}

TEST_F(FrameSchedulerTest, StepCancelsThePreviousTimerBeforeAnythingElse)
{
    AddFrame(0, 0, 10, 10, 50, 1);
    AddFrame(0, 0, 10, 10, 20, 2);
    frameTimerId = 0x6000;
    currentFrameIndex = 0;

    AdvanceFrame(window);

    ASSERT_FALSE(RecordedCalls().empty());
    EXPECT_EQ(Killed(0x6000), RecordedCalls().front());
    EXPECT_EQ(1, currentFrameIndex);
}

// Delays count hundredths of a second; the timer service's own range, when
// it tells it, bounds the period armed.
TEST_F(FrameSchedulerTest, DelaysAreArmedInMillisecondsWithinTheServiceRange)
{
    const struct {
        const char* name;
        uint32_t firstDelay, secondDelay;
        UINT periodMax;
        MMRESULT capsResult;
        std::vector<std::string> armed;  // after one step per entry
    } cases[] = {
        {"DelayZeroIsArmedAtTenMilliseconds", 0, 0, 65535, TIMERR_NOERROR, {Armed(10)}},
        {"LargestDelayIsArmedWhereTheServiceAllowsIt", 65535, 1, 1000000, TIMERR_NOERROR,
         {Armed(655350)}},
        {"DelayBeyondTheServiceMaximumIsArmedAtTheMaximum", 65535, 6553, 65535, TIMERR_NOERROR,
         {Armed(65535), Armed(65530)}},
        {"DelayJustBeyondTheServiceMaximumIsArmedAtTheMaximum", 6554, 1, 65535, TIMERR_NOERROR,
         {Armed(65535)}},
        {"DelayIsPassedOnWhenTheServiceRangeIsUnknown", 65535, 0, 65535, TIMERR_NOCANDO,
         {Armed(655350), Armed(10)}},
    };
    AddFrame(0, 0, 10, 10, 0, 1);
    AddFrame(0, 0, 10, 10, 0, 2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetFakeTimer();
        ClearRecordedCalls();
        currentFrameIndex = -1;
        frames[0].delay = c.firstDelay;
        frames[1].delay = c.secondDelay;
        fakeTimer.periodMax = c.periodMax;
        fakeTimer.capsResult = c.capsResult;

        for (size_t step = 0; step < c.armed.size(); ++step)
            AdvanceFrame(window);

        EXPECT_TRUE(CallsMatch(RecordedCallsOf({"timeSetEvent"}), c.armed));
        EXPECT_NE(0u, frameTimerId);
        CancelFrameTimer();
    }
}

TEST_F(FrameSchedulerTest, SingleFrameArmsNoTimer)
{
    AddFrame(5, 5, 10, 10, 50, 1);

    AdvanceFrame(window);
    // A stray WM_TIMER steps once more: back to frame 0, with the WAVE.
    AdvanceFrame(window);

    EXPECT_EQ(0, currentFrameIndex);
    EXPECT_EQ(0u, frameTimerId);
    EXPECT_TRUE(CallsMatch(RecordedCallsOf({"PlaySoundA", "time", "InvalidateRect"}), {
        waveRequest,
        "InvalidateRect(0x1234, {5, 5, 15, 15}, FALSE)",
        waveRequest,
        "InvalidateRect(0x1234, {5, 5, 15, 15}, FALSE)",
    }));
}

TEST_F(FrameSchedulerTest, NoFramesRequestsWaveAndReadsNoFrame)
{
    animation.frames = nullptr;  // reading the list would crash
    animation.frameCount = 0;

    AdvanceFrame(window);

    EXPECT_EQ(0, currentFrameIndex);
    EXPECT_EQ(0u, frameTimerId);
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {waveRequest}));
    EXPECT_EQ(0, CanvasMismatches(RECT{0, 0, 0, 0}, 0));
}

TEST_F(FrameSchedulerTest, FrameWithoutPixelsHaltsWithNoTimer)
{
    AddFrame(0, 0, 10, 10, 50, 1);
    AddFrame(20, 20, 10, 10, 50, -1);
    AdvanceFrame(window);
    ClearRecordedCalls();

    AdvanceFrame(window);

    EXPECT_EQ(1, currentFrameIndex);
    EXPECT_EQ(0u, frameTimerId);
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {Killed(0x7001)}));
    EXPECT_EQ(0, CanvasMismatches(RECT{0, 0, 10, 10}, 1));
}

TEST_F(FrameSchedulerTest, NullFrameEntryHaltsWithNoTimer)
{
    AddFrame(0, 0, 10, 10, 50, 1);
    AddFrame(0, 0, 10, 10, 50, 2);
    frameList[0] = nullptr;

    AdvanceFrame(window);

    EXPECT_EQ(0, currentFrameIndex);
    EXPECT_EQ(0u, frameTimerId);
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {waveRequest}));
}

TEST_F(FrameSchedulerTest, RefusedTimerLeavesNoIdToCancel)
{
    AddFrame(0, 0, 10, 10, 50, 1);
    AddFrame(0, 0, 10, 10, 50, 2);
    fakeTimer.nextTimerId = 0;

    AdvanceFrame(window);
    EXPECT_EQ(0u, frameTimerId);
    AdvanceFrame(window);

    EXPECT_TRUE(RecordedCallsOf({"timeKillEvent"}).empty()) << "no timer was armed to cancel";
}

TEST_F(FrameSchedulerTest, InvalidatesClippedRectangleShiftedByScrollPositions)
{
    AddFrame(90, 70, 30, 25, 50, 7);
    AddFrame(0, 0, 10, 10, 50, 8);
    fakeWindow.scrollPosition[SB_HORZ] = 30;
    fakeWindow.scrollPosition[SB_VERT] = 40;

    AdvanceFrame(window);

    EXPECT_TRUE(CallsMatch(RecordedCallsOf({"InvalidateRect"}), {
        "InvalidateRect(0x1234, {60, 30, 70, 40}, FALSE)",
    }));
    EXPECT_EQ(0, CanvasMismatches(RECT{90, 70, 100, 80}, 7));
}

TEST_F(FrameSchedulerTest, FramesAreCopiedOpaquely)
{
    AddFrame(0, 0, 100, 80, 10, 0x00);
    AddFrame(40, 30, 20, 20, 10, 0xFF);

    AdvanceFrame(window);
    AdvanceFrame(window);

    for (int32_t y = 0; y < 80; ++y)
        for (int32_t x = 0; x < 100; ++x) {
            const bool second = x >= 40 && x < 60 && y >= 30 && y < 50;
            ASSERT_EQ(second ? 0xFF : 0x00, CanvasAt(x, y)) << "column " << x << " row " << y;
        }
}

// The timer on its own, with the same fakes reset.
using FrameTimer = FrameSchedulerTest;

TEST_F(FrameTimer, CancelKillsOnceAndForgetsTheId)
{
    frameTimerId = 0x7123;

    CancelFrameTimer();
    CancelFrameTimer();

    EXPECT_EQ(0u, frameTimerId);
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {Killed(0x7123)}));
}

TEST_F(FrameTimer, ArmingCancelsTheArmedTimerFirst)
{
    frameTimerId = 0x6001;

    ArmFrameTimer(250, window);

    EXPECT_TRUE(CallsMatch(RecordedCallsOf({"time"}), {
        Killed(0x6001), "timeGetDevCaps(8 bytes)", Armed(250),
    }));
    EXPECT_EQ(0x7001u, frameTimerId);
}

TEST_F(FrameTimer, ExpiryPostsTimerMessageToTheUserValueWindow)
{
    FrameTimerProc(0x77, 0, reinterpret_cast<DWORD_PTR>(window), 0x55, 0x66);

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {"PostMessageA(0x1234, 0x113, 0x77, 0x0)"}));
}

TEST_F(FrameTimer, ArmedCallbackPostsForTheWindowItWasArmedFor)
{
    ArmFrameTimer(100, window);
    ASSERT_NE(nullptr, fakeTimer.lastCallback);
    fakeTimer.lastCallback(frameTimerId, 0, fakeTimer.lastUser, 0, 0);

    EXPECT_TRUE(CallsMatch(RecordedCallsOf({"PostMessageA"}), {
        "PostMessageA(0x1234, 0x113, 0x7001, 0x0)",
    }));
}
