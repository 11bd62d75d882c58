#include "shell/win32/clipboard.h"

#include <cstring>

#include "platform/win32/win32_handles.h"

namespace tolvessa::win32 {

bool PutClipboardText(HWND owner, const Text& text) {
    ScopedClipboard clipboard(owner);
    if (!clipboard.Open() || !::EmptyClipboard())
        return false;
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    ScopedGlobal memory(::GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes));
    if (!memory)
        return false;
    {
        GlobalLockGuard locked(memory.get());
        if (!locked.get())
            return false;
        std::memcpy(locked.get(), text.c_str(), bytes);
    }
    // Once placed, the block belongs to the clipboard.
    if (!::SetClipboardData(CF_UNICODETEXT, memory.get()))
        return false;
    memory.release();
    return true;
}

}  // namespace tolvessa::win32
