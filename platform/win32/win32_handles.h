// Thin owners of Win32 handles and memory: each releases what it holds on every path.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

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

// Turns off the WOW64 file-system redirection of the calling thread for as long as it lives, so
// a 32-bit process on 64-bit Windows sees the real System32 (where the drivers are) instead of
// SysWOW64. Does nothing on 32-bit Windows.
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

// UTF-16 into the system's ANSI code page and back, with the platform's default conversion.
std::string ToAnsi(const Text& text);
Text FromAnsi(std::string_view bytes);

}  // namespace tolvessa::win32
