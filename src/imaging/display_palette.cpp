#include "imaging/display_palette.h"

#include "imaging/indexed_bitmap.h"
#include "platform/fixed_block.h"

HPALETTE displayPalette = nullptr;

namespace {

const int32_t largestPalette = 256;

// Selects the display palette, realises it and selects the previous palette
// back before the device context goes, so that no device context still holds
// the display palette when the exit sequence deletes it.
UINT RealizeDisplayPalette(HWND window, BOOL restoreInBackground)
{
    HDC dc = GetDC(window);
    HPALETTE previous = SelectPalette(dc, displayPalette, FALSE);
    UINT realised = RealizePalette(dc);
    SelectPalette(dc, previous, restoreInBackground);
    ReleaseDC(window, dc);
    return realised;
}

}  // namespace

void BuildDisplayPalette(const uint32_t* colours, int32_t count)
{
    if (count < 0)
        count = 0;
    if (count > largestPalette)
        count = largestPalette;

    // LOGPALETTE declares one entry; the block holds all 256 behind its header.
    const uint64_t bytes = sizeof(LOGPALETTE) + (largestPalette - 1) * sizeof(PALETTEENTRY);
    LOGPALETTE* logical = static_cast<LOGPALETTE*>(AllocateFixedBlock(bytes));
    if (!logical)
        return;
    logical->palVersion = 0x300;
    logical->palNumEntries = static_cast<WORD>(count);
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t colour = colours[i];
        PALETTEENTRY& entry = logical->palPalEntry[i];
        entry.peRed = static_cast<BYTE>(colour & 0xFF);
        entry.peGreen = static_cast<BYTE>((colour >> 8) & 0xFF);
        entry.peBlue = static_cast<BYTE>((colour >> 16) & 0xFF);
        entry.peFlags = 0;
    }
    displayPalette = CreatePalette(logical);
    FreeFixedBlock(logical);
}

void PaintCanvas(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    HPALETTE previous = SelectPalette(dc, displayPalette, FALSE);
    const int vertical = GetScrollPos(window, SB_VERT);
    const int horizontal = GetScrollPos(window, SB_HORZ);
    // Canvas pixel (horizontal, vertical) lands at the client's top-left
    // corner; the device clips what lies outside the update region.
    Draw(canvas, dc, -horizontal, -vertical);
    SelectPalette(dc, previous, FALSE);
    EndPaint(window, &paint);
}

LRESULT RealizeForNewPalette(HWND window)
{
    // The previous palette goes back as a background palette, so that it
    // does not claim the system palette the display palette was realised into.
    return static_cast<LRESULT>(RealizeDisplayPalette(window, TRUE));
}

LRESULT RealizeForPaletteChange(HWND window)
{
    // Realised again even when this window caused the change: the mapping
    // must follow whatever the system palette now holds.
    RealizeDisplayPalette(window, FALSE);
    return 0;
}

void DeleteDisplayPalette()
{
    if (!displayPalette)
        return;
    DeleteObject(displayPalette);
    displayPalette = nullptr;
}
