// The main window's menus: the ids of its commands (the menu items and the two buttons), the
// main menu mm and the list's context menu pm, the check marks of Options and pm's enabling.
#pragma once

#include <windows.h>

#include "platform/win32/win32_handles.h"
#include "shell/window_rules.h"

namespace tolvessa::win32 {

// The ids of the window's children; the two buttons' are also their commands' ids.
enum ControlId : int { kLv = 100, kButton1, kButton4, kProgressBar1, kStatusBar1 };

enum MenuId : UINT {
    // Main menu mm.
    kOpenChangelog1 = 1001,
    kOpenEULA1,
    kClose1,
    kHighlightSuspiciousModules2,
    kHideMicrosoftDrivers2,
    kHomepage1,
    kAbout1,
    kShowHashesandSignatures2,
    kLoadVulnerableDriverList1,
    // Context menu pm.
    kShowProperties1 = 1101,
    kOpenContainingFolder1,
    kEntireLine1,
    kImageName1,
    kBaseAddress1,
    kPublisher1,
    kDescription1,
    kMD5hash2,
    kFilename1,
    kPublisher2,
    kMD5Hash1,
    kVerifyFileSignature1,
    kCopyallDriversto1,
    kCopyselectedDriverto1,
    kDeleteonReboot1,
    kDeleteFileonReboot1,
    kSha256Copy,
    kPeSha256Copy,
};

// The main menu mm ("Menu", "Options", "Help"), every Options mark off. The window it is given
// to destroys it.
HMENU CreateMainMenu();

// The list's context menu pm; `copyLine1` gets its "Copy to Clipboard" submenu, destroyed with
// pm.
ScopedMenu CreateListMenu(HMENU& copyLine1);

// Whether an item of `menu` (mm's Options) carries its check mark, and turning it over.
bool MenuChecked(HMENU menu, UINT item);
void ToggleMenuCheck(HMENU menu, UINT item);

// Enables or greys the items of pm as it opens.
void EnableListMenu(HMENU pm, const PopupEnabling& enabling);

// Adds "SHA-256" and "PE SHA-256", after a separator, to the end of "Copy to Clipboard", or
// takes them away again.
void ShowDigestCopyItems(HMENU copyLine1, bool shown);

}  // namespace tolvessa::win32
