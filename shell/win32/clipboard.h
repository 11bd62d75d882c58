// Text onto the system clipboard.
#pragma once

#include <windows.h>

#include "inventory/text.h"

namespace tolvessa::win32 {

// Replaces the clipboard's content with the text (CF_UNICODETEXT). On any failure the clipboard
// is left as it was or empty, and false is returned.
bool PutClipboardText(HWND owner, const Text& text);

}  // namespace tolvessa::win32
