#include "support/fake_gdi.h"

#include <map>
#include <string>

#include "support/call_log.h"
#include "support/fake_import.h"

FakeGdi fakeGdi;

namespace {

std::map<HDC, HPALETTE> selectedPalettes;
const PAINTSTRUCT* openPaint = nullptr;

std::string BoolText(BOOL value) { return value ? "TRUE" : "FALSE"; }

std::string UsageText(UINT usage)
{
    if (usage == DIB_PAL_COLORS)
        return "DIB_PAL_COLORS";
    if (usage == DIB_RGB_COLORS)
        return "DIB_RGB_COLORS";
    return Hex(usage);
}

std::string RopText(DWORD rop) { return rop == SRCCOPY ? "SRCCOPY" : Hex(rop); }

HDC WINAPI FakeBeginPaint(HWND window, PAINTSTRUCT* paint)
{
    RecordCall("BeginPaint(" + Hex(window) + ")");
    *paint = PAINTSTRUCT{};
    paint->hdc = fakeGdi.paintDc;
    openPaint = paint;
    return fakeGdi.paintDc;
}

BOOL WINAPI FakeEndPaint(HWND window, const PAINTSTRUCT* paint)
{
    RecordCall("EndPaint(" + Hex(window) + ", " +
               (paint == openPaint ? "paint of BeginPaint" : "other paint " + Hex(paint)) + ")");
    openPaint = nullptr;
    return TRUE;
}

HDC WINAPI FakeGetDC(HWND window)
{
    RecordCall("GetDC(" + Hex(window) + ")");
    return fakeGdi.windowDc;
}

int WINAPI FakeReleaseDC(HWND window, HDC dc)
{
    RecordCall("ReleaseDC(" + Hex(window) + ", " + Hex(dc) + ")");
    return 1;
}

HPALETTE WINAPI FakeSelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground)
{
    RecordCall("SelectPalette(" + Hex(dc) + ", " + Hex(palette) + ", " +
               BoolText(forceBackground) + ")");
    if (!palette)
        return nullptr;
    auto found = selectedPalettes.find(dc);
    HPALETTE previous = found == selectedPalettes.end() ? fakeGdi.defaultPalette : found->second;
    selectedPalettes[dc] = palette;
    return previous;
}

UINT WINAPI FakeRealizePalette(HDC dc)
{
    RecordCall("RealizePalette(" + Hex(dc) + ")");
    return fakeGdi.realizeResult;
}

int WINAPI FakeStretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight,
                             int xSrc, int ySrc, int srcWidth, int srcHeight, const void* bits,
                             const BITMAPINFO* info, UINT usage, DWORD rop)
{
    RecordCall("StretchDIBits(" + Hex(dc) + ", to " + std::to_string(xDest) + " " +
               std::to_string(yDest) + " " + std::to_string(destWidth) + "x" +
               std::to_string(destHeight) + ", from " + std::to_string(xSrc) + " " +
               std::to_string(ySrc) + " " + std::to_string(srcWidth) + "x" +
               std::to_string(srcHeight) + ", bits " + Hex(bits) + ", info " + Hex(info) + ", " +
               UsageText(usage) + ", " + RopText(rop) + ")");
    return srcHeight;
}

HPALETTE WINAPI FakeCreatePalette(const LOGPALETTE* logical)
{
    RecordCall("CreatePalette(version " + Hex(logical->palVersion) + ", " +
               std::to_string(logical->palNumEntries) + " entries)");
    fakeGdi.createdVersion = logical->palVersion;
    fakeGdi.createdEntries.assign(logical->palPalEntry,
                                  logical->palPalEntry + logical->palNumEntries);
    return fakeGdi.createdPalette;
}

BOOL WINAPI FakeDeleteObject(HGDIOBJ object)
{
    RecordCall("DeleteObject(" + Hex(object) + ")");
    return TRUE;
}

}  // namespace

FAKE_IMPORT(BeginPaint, 8, FakeBeginPaint);
FAKE_IMPORT(EndPaint, 8, FakeEndPaint);
FAKE_IMPORT(GetDC, 4, FakeGetDC);
FAKE_IMPORT(ReleaseDC, 8, FakeReleaseDC);
FAKE_IMPORT(SelectPalette, 12, FakeSelectPalette);
FAKE_IMPORT(RealizePalette, 4, FakeRealizePalette);
FAKE_IMPORT(StretchDIBits, 52, FakeStretchDIBits);
FAKE_IMPORT(CreatePalette, 4, FakeCreatePalette);
FAKE_IMPORT(DeleteObject, 4, FakeDeleteObject);

void ResetFakeGdi()
{
    fakeGdi.paintDc = reinterpret_cast<HDC>(0xDC01);
    fakeGdi.windowDc = reinterpret_cast<HDC>(0xDC02);
    fakeGdi.defaultPalette = reinterpret_cast<HPALETTE>(0xDEF0);
    fakeGdi.createdPalette = reinterpret_cast<HPALETTE>(0xA100);
    fakeGdi.realizeResult = 0;
    fakeGdi.createdVersion = 0;
    fakeGdi.createdEntries.clear();
    selectedPalettes.clear();
    openPaint = nullptr;
}
