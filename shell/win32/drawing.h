// Small drawing helpers shared by the program's windows.
#pragma once

#include <windows.h>

#include <algorithm>
#include <climits>

#include "platform/win32/win32_handles.h"

namespace tolvessa::win32 {

// Tahoma with a character height of `height` pixels.
inline ScopedFont Tahoma(int height, bool bold = false, bool underline = false) {
    return ScopedFont(::CreateFontW(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline,
                                    FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
}

// A bitmap of the program's resources, as a DIB section.
inline ScopedBitmap LoadBitmapResource(HINSTANCE instance, int id) {
    return ScopedBitmap(static_cast<HBITMAP>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
}

// Draws a bitmap at its own size with its top-left corner at (x, y), clipped to a box of the
// given size.
inline void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y, int boxWidth = INT_MAX,
                       int boxHeight = INT_MAX) {
    if (!bitmap)
        return;
    BITMAP info = {};
    ::GetObjectW(bitmap, sizeof info, &info);
    ScopedMemoryDC memory(dc);
    if (!memory)
        return;
    ScopedSelection selected(memory.get(), bitmap);
    ::BitBlt(dc, x, y, std::min<int>(info.bmWidth, boxWidth),
             std::min<int>(info.bmHeight, boxHeight), memory.get(), 0, 0, SRCCOPY);
}

}  // namespace tolvessa::win32
