#include "imaging/display_palette.h"

#include <cstring>

#include <gtest/gtest.h>

#include "gif/gif_animation.h"
#include "imaging/indexed_bitmap.h"
#include "support/call_log.h"
#include "support/fake_gdi.h"
#include "support/fake_window.h"

namespace {

const HWND window = reinterpret_cast<HWND>(0x1234);

class DisplayPaletteTest : public testing::Test {
protected:
    void SetUp() override
    {
        ResetFakeGdi();
        ResetFakeWindow();
        ClearRecordedCalls();
        displayPalette = nullptr;
        std::memset(&animation.colourTable, 0, sizeof animation.colourTable);
        AllocatePixels(canvas, 100, 80);
    }

    void TearDown() override
    {
        ReleasePixels(canvas);
        InitHeader(canvas, 0, 0);
        displayPalette = nullptr;
    }

    static void SetColours(int32_t count)
    {
        animation.colourTable.count = count;
        for (int32_t i = 0; i < count; ++i)
            animation.colourTable.entries[i] = static_cast<uint32_t>(i) |
                                               static_cast<uint32_t>(255 - i) << 8 |
                                               static_cast<uint32_t>((i * 7) & 0xFF) << 16;
    }
};

testing::AssertionResult EntryIs(const PALETTEENTRY& entry, int red, int green, int blue)
{
    if (entry.peRed == red && entry.peGreen == green && entry.peBlue == blue && entry.peFlags == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "entry (" << int(entry.peRed) << ", " << int(entry.peGreen) << ", "
           << int(entry.peBlue) << ", flags " << int(entry.peFlags) << "), expected (" << red
           << ", " << green << ", " << blue << ", flags 0)";
}

}  // namespace

TEST_F(DisplayPaletteTest, EntriesTakeRedGreenBlueFromGlobalColours)
{
    animation.colourTable.count = 2;
    animation.colourTable.entries[0] = 0x12 | 0x34 << 8 | 0x56 << 16;
    animation.colourTable.entries[1] = 0xFF | 0x00 << 8 | 0x80 << 16;

    BuildDisplayPalette(animation.colourTable.entries, animation.colourTable.count);

    EXPECT_TRUE(CallsMatch(RecordedCalls(), {"CreatePalette(version 0x300, 2 entries)"}));
    EXPECT_EQ(0x300, fakeGdi.createdVersion);
    ASSERT_EQ(2u, fakeGdi.createdEntries.size());
    EXPECT_TRUE(EntryIs(fakeGdi.createdEntries[0], 0x12, 0x34, 0x56));
    EXPECT_TRUE(EntryIs(fakeGdi.createdEntries[1], 0xFF, 0x00, 0x80));
    EXPECT_EQ(fakeGdi.createdPalette, displayPalette);
}

TEST_F(DisplayPaletteTest, FullTableGivesAll256Entries)
{
    SetColours(256);

    BuildDisplayPalette(animation.colourTable.entries, animation.colourTable.count);

    ASSERT_EQ(256u, fakeGdi.createdEntries.size());
    for (int i = 0; i < 256; ++i)
        EXPECT_TRUE(EntryIs(fakeGdi.createdEntries[i], i, 255 - i, (i * 7) & 0xFF)) << "entry " << i;
}

TEST_F(DisplayPaletteTest, FailedCreationLeavesNothingToDelete)
{
    SetColours(4);
    fakeGdi.createdPalette = nullptr;

    BuildDisplayPalette(animation.colourTable.entries, animation.colourTable.count);
    DeleteDisplayPalette();

    EXPECT_EQ(nullptr, displayPalette);
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {"CreatePalette(version 0x300, 4 entries)"}));
}

TEST_F(DisplayPaletteTest, DeletedOnceAtExit)
{
    SetColours(2);
    BuildDisplayPalette(animation.colourTable.entries, animation.colourTable.count);
    ClearRecordedCalls();

    DeleteDisplayPalette();
    DeleteDisplayPalette();

    EXPECT_EQ(nullptr, displayPalette);
    EXPECT_TRUE(CallsMatch(RecordedCalls(), {"DeleteObject(0xa100)"}));
}

// The canvas is drawn at minus the scroll positions, between selecting the
// display palette and selecting the previous one back.
TEST_F(DisplayPaletteTest, PaintingDrawsCanvasAtMinusScrollPositions)
{
    const struct {
        const char* name;
        int scrollX, scrollY;
        const char* drawnAt;
    } cases[] = {
        {"PaintingDrawsCanvasAtMinusScrollPositions", 30, 40, "-30 -40"},
        {"PaintingUnscrolledDrawsAtOrigin", 0, 0, "0 0"},
    };
    displayPalette = fakeGdi.createdPalette;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearRecordedCalls();
        fakeWindow.scrollPosition[SB_HORZ] = c.scrollX;
        fakeWindow.scrollPosition[SB_VERT] = c.scrollY;

        PaintCanvas(window);

        EXPECT_TRUE(CallsMatch(RecordedCalls(), {
            "BeginPaint(0x1234)",
            "SelectPalette(0xdc01, 0xa100, FALSE)",
            "GetScrollPos(0x1234, SB_VERT)",
            "GetScrollPos(0x1234, SB_HORZ)",
            std::string("StretchDIBits(0xdc01, to ") + c.drawnAt + " 100x80, from 0 0 100x80, bits " +
                Hex(canvas.pixels) + ", info " + Hex(canvas.info) + ", DIB_PAL_COLORS, SRCCOPY)",
            "SelectPalette(0xdc01, 0xdef0, FALSE)",
            "EndPaint(0x1234, paint of BeginPaint)",
        }));
    }
}

// Both answers realise the palette in the window's device context; only the
// answer to WM_QUERYNEWPALETTE selects the previous palette back in the
// background and returns the count of entries mapped.
TEST_F(DisplayPaletteTest, RealisingSelectsThePaletteAndThePreviousOneBack)
{
    const struct {
        const char* name;
        LRESULT (*realize)(HWND);
        UINT entriesMapped;
        LRESULT returned;
        const char* inBackground;
    } cases[] = {
        {"NewPaletteQueryReturnsEntriesRealised", RealizeForNewPalette, 17, 17, "TRUE"},
        {"NewPaletteQueryReturnsZeroWhenNothingWasMapped", RealizeForNewPalette, 0, 0, "TRUE"},
        {"PaletteChangeRealisesAgainAndReturnsZero", RealizeForPaletteChange, 5, 0, "FALSE"},
    };
    displayPalette = fakeGdi.createdPalette;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClearRecordedCalls();
        fakeGdi.realizeResult = c.entriesMapped;

        EXPECT_EQ(c.returned, c.realize(window));

        EXPECT_TRUE(CallsMatch(RecordedCalls(), {
            "GetDC(0x1234)",
            "SelectPalette(0xdc02, 0xa100, FALSE)",
            "RealizePalette(0xdc02)",
            std::string("SelectPalette(0xdc02, 0xdef0, ") + c.inBackground + ")",
            "ReleaseDC(0x1234, 0xdc02)",
        }));
    }
}
