// Host stand-in for the Win32 types and calls that the decoding core uses:
// global-memory blocks, RECT, the bitmap header and StretchDIBits. Blocks
// come from malloc, except that under the address sanitizer blocks of 1 MiB
// and more are mapped from the kernel page by page between poisoned guards
// (still exact-size for the sanitizer, but free until touched). A block over
// 2 GiB is refused, and so is any block that would take the live blocks past
// 2 GiB in all, as in a 32-bit process's address space. Tests can make
// allocations fail (HostFailAllocationsAfter).
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef size_t SIZE_T;
typedef void* HGLOBAL;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef struct HostDc* HDC;

#define WINAPI
#define GMEM_FIXED 0
#define BI_RGB 0
#define DIB_PAL_COLORS 1
#define SRCCOPY 0x00CC0020u

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL block);
HGLOBAL GlobalHandle(LPCVOID pointer);
BOOL GlobalUnlock(HGLOBAL block);
HGLOBAL GlobalFree(HGLOBAL block);

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight,
                  int xSrc, int ySrc, int srcWidth, int srcHeight,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);

// Test hooks. Allocation number `count` + 1 and every later one fails until
// HostFailAllocationsAfter(-1) lifts the limit.
void HostFailAllocationsAfter(long count);
// Blocks allocated and not yet freed.
long HostLiveBlocks();
