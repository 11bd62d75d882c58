#include "shell/win32/main_menus.h"

namespace tolvessa::win32 {

namespace {

// Positions in pm of the items that pmPopup enables (submenus are enabled by position).
enum PmPosition : UINT {
    kPosShowProperties1 = 0,
    kPosOpenContainingFolder1 = 1,
    kPosCopyLine1 = 3,
    kPosSearchonGoogle1 = 5,
    kPosVerifyFileSignature1 = 7,
    kPosCopyallDriversto1 = 9,
    kPosCopyselectedDriverto1 = 10,
};

}  // namespace

HMENU CreateMainMenu() {
    HMENU mm = ::CreateMenu();
    HMENU file1 = ::CreatePopupMenu();
    ::AppendMenuW(file1, MF_STRING, kOpenChangelog1, L"Open Changelog");
    ::AppendMenuW(file1, MF_STRING, kOpenEULA1, L"Open EULA");
    ::AppendMenuW(file1, MF_SEPARATOR, 0, nullptr);  // N4
    ::AppendMenuW(file1, MF_STRING, kClose1, L"Exit");
    HMENU options1 = ::CreatePopupMenu();
    ::AppendMenuW(options1, MF_STRING | MF_UNCHECKED, kHighlightSuspiciousModules2,
                  L"Highlight Suspicious Modules");
    ::AppendMenuW(options1, MF_STRING | MF_UNCHECKED, kHideMicrosoftDrivers2,
                  L"Hide Microsoft Drivers");
    ::AppendMenuW(options1, MF_STRING | MF_UNCHECKED, kShowHashesandSignatures2,
                  L"Show Hashes and Signatures");
    ::AppendMenuW(options1, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(options1, MF_STRING, kLoadVulnerableDriverList1,
                  L"Load Vulnerable Driver List...");
    HMENU help1 = ::CreatePopupMenu();
    ::AppendMenuW(help1, MF_STRING, kHomepage1, L"Homepage");
    ::AppendMenuW(help1, MF_STRING, kAbout1, L"About");
    ::AppendMenuW(mm, MF_POPUP, reinterpret_cast<UINT_PTR>(file1), L"Menu");
    ::AppendMenuW(mm, MF_POPUP, reinterpret_cast<UINT_PTR>(options1), L"Options");
    ::AppendMenuW(mm, MF_POPUP, reinterpret_cast<UINT_PTR>(help1), L"Help");
    return mm;
}

ScopedMenu CreateListMenu(HMENU& copyLine1) {
    ScopedMenu owned(::CreatePopupMenu());
    HMENU pm = owned.get();
    ::AppendMenuW(pm, MF_STRING, kShowProperties1, L"Show File Properties");
    ::AppendMenuW(pm, MF_STRING, kOpenContainingFolder1, L"Open Containing Folder");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N1
    copyLine1 = ::CreatePopupMenu();
    ::AppendMenuW(copyLine1, MF_STRING, kEntireLine1, L"Entire Line");
    ::AppendMenuW(copyLine1, MF_SEPARATOR, 0, nullptr);  // N2
    ::AppendMenuW(copyLine1, MF_STRING, kImageName1, L"File Name");
    ::AppendMenuW(copyLine1, MF_STRING, kBaseAddress1, L"Address");
    ::AppendMenuW(copyLine1, MF_STRING, kPublisher1, L"Publisher");
    ::AppendMenuW(copyLine1, MF_STRING, kDescription1, L"Description");
    ::AppendMenuW(copyLine1, MF_STRING, kMD5hash2, L"MD5 Hash");
    ::AppendMenuW(pm, MF_POPUP, reinterpret_cast<UINT_PTR>(copyLine1), L"Copy to Clipboard");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N5
    HMENU searchonGoogle1 = ::CreatePopupMenu();
    ::AppendMenuW(searchonGoogle1, MF_STRING, kFilename1, L"File Name");
    ::AppendMenuW(searchonGoogle1, MF_STRING, kPublisher2, L"Publisher");
    ::AppendMenuW(searchonGoogle1, MF_STRING, kMD5Hash1, L"MD5 Hash");
    ::AppendMenuW(pm, MF_POPUP, reinterpret_cast<UINT_PTR>(searchonGoogle1), L"Search on Google");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N6
    ::AppendMenuW(pm, MF_STRING, kVerifyFileSignature1, L"Verify File Signature");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N8
    ::AppendMenuW(pm, MF_STRING, kCopyallDriversto1, L"Copy All Drivers to...");
    ::AppendMenuW(pm, MF_STRING, kCopyselectedDriverto1, L"Copy Selected Driver to...");
    ::AppendMenuW(pm, MF_SEPARATOR, 0, nullptr);  // N3
    ::AppendMenuW(pm, MF_STRING, kDeleteonReboot1, L"Delete File");
    ::AppendMenuW(pm, MF_STRING, kDeleteFileonReboot1, L"Delete File on Reboot");
    return owned;
}

bool MenuChecked(HMENU menu, UINT item) {
    return (::GetMenuState(menu, item, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void ToggleMenuCheck(HMENU menu, UINT item) {
    ::CheckMenuItem(menu, item,
                    MF_BYCOMMAND | (MenuChecked(menu, item) ? MF_UNCHECKED : MF_CHECKED));
}

void EnableListMenu(HMENU pm, const PopupEnabling& e) {
    auto enable = [pm](UINT position, bool on) {
        ::EnableMenuItem(pm, position, MF_BYPOSITION | (on ? MF_ENABLED : MF_GRAYED));
    };
    enable(kPosShowProperties1, e.showFileProperties);
    enable(kPosOpenContainingFolder1, e.openContainingFolder);
    enable(kPosCopyLine1, e.copyToClipboard);
    enable(kPosSearchonGoogle1, e.searchOnGoogle);
    enable(kPosVerifyFileSignature1, e.verifyFileSignature);
    enable(kPosCopyallDriversto1, e.copyAllDrivers);
    enable(kPosCopyselectedDriverto1, e.copySelectedDriver);
}

void ShowDigestCopyItems(HMENU copyLine1, bool shown) {
    if (shown) {
        ::AppendMenuW(copyLine1, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(copyLine1, MF_STRING, kSha256Copy, L"SHA-256");
        ::AppendMenuW(copyLine1, MF_STRING, kPeSha256Copy, L"PE SHA-256");
    } else {
        ::DeleteMenu(copyLine1, kPeSha256Copy, MF_BYCOMMAND);
        ::DeleteMenu(copyLine1, kSha256Copy, MF_BYCOMMAND);
        ::DeleteMenu(copyLine1, ::GetMenuItemCount(copyLine1) - 1, MF_BYPOSITION);
    }
}

}  // namespace tolvessa::win32
