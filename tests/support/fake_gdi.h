// Link-time fakes of the painting and palette calls: BeginPaint, EndPaint,
// GetDC, ReleaseDC, SelectPalette, RealizePalette, StretchDIBits,
// CreatePalette and DeleteObject record each call and answer as set here.
// Each device context starts with `defaultPalette` selected, and
// SelectPalette returns what was selected before, as the system does.
#pragma once

#include <vector>

#include <windows.h>

struct FakeGdi {
    HDC paintDc;                 // returned by BeginPaint
    HDC windowDc;                // returned by GetDC
    HPALETTE defaultPalette;     // selected in every device context at first
    HPALETTE createdPalette;     // returned by CreatePalette; null fails it
    UINT realizeResult;          // returned by RealizePalette
    WORD createdVersion;         // the LOGPALETTE CreatePalette was given
    std::vector<PALETTEENTRY> createdEntries;
};

extern FakeGdi fakeGdi;

void ResetFakeGdi();
