// Thin owners of Win32 handles and memory: each releases what it holds on every path.
#pragma once

#include <windows.h>

#include <objbase.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>

#include "inventory/text.h"

namespace tolvessa::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected on Windows");

inline const wchar_t* Wide(const Text& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline Text FromWide(const wchar_t* text, std::size_t length) {
    return Text(reinterpret_cast<const char16_t*>(text), length);
}
inline Text FromWide(const wchar_t* text) {
    return FromWide(text, text ? std::wcslen(text) : 0);
}

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle && handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
    }
};
// A kernel handle (file, mapping); an invalid one is never closed.
using ScopedHandle = std::unique_ptr<void, HandleCloser>;
inline ScopedHandle OwnHandle(HANDLE handle) {
    return ScopedHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct FindCloser {
    void operator()(HANDLE handle) const { ::FindClose(handle); }
};
using ScopedFind = std::unique_ptr<void, FindCloser>;

struct ViewUnmapper {
    void operator()(const void* view) const { ::UnmapViewOfFile(view); }
};
using ScopedView = std::unique_ptr<const void, ViewUnmapper>;

struct VirtualFreer {
    void operator()(void* memory) const { ::VirtualFree(memory, 0, MEM_RELEASE); }
};
using ScopedVirtualMemory = std::unique_ptr<void, VirtualFreer>;

// GDI objects ------------------------------------------------------------------------------

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
// A font, bitmap, brush or pen that this program created.
template <typename H>
using ScopedGdiObject = std::unique_ptr<std::remove_pointer_t<H>, GdiObjectDeleter>;
using ScopedFont = ScopedGdiObject<HFONT>;
using ScopedBitmap = ScopedGdiObject<HBITMAP>;
using ScopedBrush = ScopedGdiObject<HBRUSH>;

struct MenuDestroyer {
    void operator()(HMENU menu) const { ::DestroyMenu(menu); }
};
// A menu that no window owns (a window destroys its own menu bar).
using ScopedMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer>;

// Device contexts ---------------------------------------------------------------------------

// Selects an object into a device context and puts the previous one back when it goes.
class ScopedSelection {
  public:
    ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~ScopedSelection() {
        if (previous_ && previous_ != HGDI_ERROR)
            ::SelectObject(dc_, previous_);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A memory device context compatible with another (CreateCompatibleDC, DeleteDC).
class ScopedMemoryDC {
  public:
    explicit ScopedMemoryDC(HDC compatibleWith) : dc_(::CreateCompatibleDC(compatibleWith)) {}
    ~ScopedMemoryDC() {
        if (dc_)
            ::DeleteDC(dc_);
    }
    ScopedMemoryDC(const ScopedMemoryDC&) = delete;
    ScopedMemoryDC& operator=(const ScopedMemoryDC&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

  private:
    HDC dc_;
};

// The device context of a window's client area (GetDC, ReleaseDC).
class ScopedWindowDC {
  public:
    explicit ScopedWindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~ScopedWindowDC() {
        if (dc_)
            ::ReleaseDC(window_, dc_);
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// One WM_PAINT's painting (BeginPaint, EndPaint).
class ScopedPaint {
  public:
    explicit ScopedPaint(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    ~ScopedPaint() { ::EndPaint(window_, &paint_); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;
    HDC get() const { return dc_; }
    const RECT& Area() const { return paint_.rcPaint; }

  private:
    HWND window_;
    PAINTSTRUCT paint_ = {};
    HDC dc_;
};

// Drawing into a bitmap of the given size, copied onto the target in one go when it goes; used
// so a region is never seen half drawn. Falls back to drawing on the target directly when no
// memory bitmap can be made.
class BufferedPaint {
  public:
    BufferedPaint(HDC target, const RECT& area);
    ~BufferedPaint();
    BufferedPaint(const BufferedPaint&) = delete;
    BufferedPaint& operator=(const BufferedPaint&) = delete;
    // Where to draw, in the target's coordinates.
    HDC get() const { return bitmap_ ? memory_.get() : target_; }

  private:
    HDC target_;
    RECT area_;
    ScopedMemoryDC memory_;
    ScopedBitmap bitmap_;
    HGDIOBJ previous_ = nullptr;
};

// The clipboard and memory blocks ----------------------------------------------------------

// The clipboard, open for as long as this lives.
class ScopedClipboard {
  public:
    explicit ScopedClipboard(HWND owner) : open_(::OpenClipboard(owner) != FALSE) {}
    ~ScopedClipboard() {
        if (open_)
            ::CloseClipboard();
    }
    ScopedClipboard(const ScopedClipboard&) = delete;
    ScopedClipboard& operator=(const ScopedClipboard&) = delete;
    bool Open() const { return open_; }

  private:
    bool open_;
};

struct GlobalFreer {
    void operator()(HGLOBAL memory) const { ::GlobalFree(memory); }
};
// A global memory block (GlobalAlloc); release() it once something else owns it.
using ScopedGlobal = std::unique_ptr<void, GlobalFreer>;

// A global memory block locked for as long as this lives (GlobalLock, GlobalUnlock).
class GlobalLockGuard {
  public:
    explicit GlobalLockGuard(HGLOBAL memory) : memory_(memory), data_(::GlobalLock(memory)) {}
    ~GlobalLockGuard() {
        if (data_)
            ::GlobalUnlock(memory_);
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    void* get() const { return data_; }

  private:
    HGLOBAL memory_;
    void* data_;
};

struct CoTaskMemFreer {
    void operator()(void* memory) const { ::CoTaskMemFree(memory); }
};
// Memory that a shell or COM call handed over (an item list, a path).
template <typename T>
using ScopedCoTaskMem = std::unique_ptr<T, CoTaskMemFreer>;

// Whether a process of this build can run under WOW64: a 32-bit one can, on 64-bit Windows; a
// 64-bit one never does, and the code that only matters under WOW64 is inert in it.
constexpr bool kMayRunUnderWow64 = sizeof(void*) == 4;

// Whether this process is a 32-bit one on 64-bit Windows (IsWow64Process, looked up at run
// time); false at compile time in a 64-bit build.
bool RunsUnderWow64();

// Turns off the WOW64 file-system redirection of the calling thread for as long as it lives, so
// a 32-bit process on 64-bit Windows sees the real System32 (where the drivers are) instead of
// SysWOW64. Does nothing on 32-bit Windows, nor in a 64-bit process.
class ScopedWow64RedirectionOff {
  public:
    ScopedWow64RedirectionOff();
    ~ScopedWow64RedirectionOff();
    ScopedWow64RedirectionOff(const ScopedWow64RedirectionOff&) = delete;
    ScopedWow64RedirectionOff& operator=(const ScopedWow64RedirectionOff&) = delete;

  private:
    void* previous_ = nullptr;
    bool disabled_ = false;
};

// How many ScopedWow64RedirectionOff live on the calling thread, and how many it has made so far,
// counted in every build (also where they are inert), so tests of the 64-bit build can see
// where the redirection would be off in the 32-bit one.
int Wow64RedirectionScopesLive();
int Wow64RedirectionScopesMade();

// Exactly buffer.size() bytes of the file at `offset`, in reads of at most 1 MiB, whatever its
// current position; false when they cannot all be read (the file ends sooner, a read fails).
bool ReadFileAt(HANDLE file, std::uint64_t offset, std::span<std::uint8_t> buffer);

// UTF-16 into the system's ANSI code page and back, with the platform's default conversion.
std::string ToAnsi(const Text& text);
Text FromAnsi(std::string_view bytes);

// A function that a system module already loaded into every process exports ("kernel32.dll",
// "ntdll.dll"), looked up by name at run time, so a system without it still starts; null when it
// is not there.
template <typename F>
F SystemFunction(const wchar_t* module, const char* name) {
    const HMODULE loaded = ::GetModuleHandleW(module);
    return loaded ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(loaded, name)))
                  : nullptr;
}

}  // namespace tolvessa::win32
