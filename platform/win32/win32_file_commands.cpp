#include "platform/win32/win32_file_commands.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <memory>
#include <type_traits>

#include "platform/win32/win32_handles.h"

namespace tolvessa::win32 {

namespace {

// The item list the folder picker hands back; the caller frees it with CoTaskMemFree.
using ScopedItemList =
    ScopedCoTaskMem<std::remove_pointer_t<decltype(::SHBrowseForFolderW(nullptr))>>;

// COM for the folder picker, in this thread's apartment, for as long as it lives; left alone when
// the thread has already joined an apartment of another kind.
class ScopedComApartment {
  public:
    ScopedComApartment()
        : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ScopedComApartment() {
        if (initialized_)
            ::CoUninitialize();
    }
    ScopedComApartment(const ScopedComApartment&) = delete;
    ScopedComApartment& operator=(const ScopedComApartment&) = delete;

  private:
    bool initialized_;
};

}  // namespace

// File operations ---------------------------------------------------------------------------

bool Win32FileOperations::OpenWithBackupSemantics(const Text& path) {
    ScopedWow64RedirectionOff realSystem32;
    ScopedHandle folder =
        OwnHandle(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder != nullptr;
}

bool Win32FileOperations::CopyNoOverwrite(const Text& source, const Text& destination) {
    ScopedWow64RedirectionOff realSystem32;
    return ::CopyFileW(Wide(source), Wide(destination), TRUE) != FALSE;
}

bool Win32FileOperations::SetAttributes(const Text& path, std::uint32_t attributes) {
    ScopedWow64RedirectionOff realSystem32;
    return ::SetFileAttributesW(Wide(path), attributes) != FALSE;
}

bool Win32FileOperations::RemoveFile(const Text& path) {
    ScopedWow64RedirectionOff realSystem32;
    return ::DeleteFileW(Wide(path)) != FALSE;
}

bool Win32FileOperations::MarkForDeletionAtReboot(const Text& path) {
    ScopedWow64RedirectionOff realSystem32;
    return ::MoveFileExW(Wide(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// Picker and shell ------------------------------------------------------------------------

std::optional<Text> BrowseForFolder(HWND owner, const Text& title) {
    const ScopedComApartment com;
    // One buffer takes the display name first, then the path.
    wchar_t buffer[MAX_PATH + 1] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;  // the desktop: the whole namespace
    info.pszDisplayName = buffer;
    info.lpszTitle = Wide(title);
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = nullptr;
    const ScopedItemList chosen(::SHBrowseForFolderW(&info));
    if (!chosen)
        return std::nullopt;
    if (!::SHGetPathFromIDListW(chosen.get(), buffer))
        return std::nullopt;
    return FromWide(buffer, ::wcsnlen(buffer, MAX_PATH + 1));
}

std::optional<Text> Win32CommandUi::BrowseForFolder(const Text& title) {
    return win32::BrowseForFolder(pickerOwner_, title);
}

void Win32CommandUi::ShellOpen(const Text& file, const Text& parameters) {
    shell_.Launch(u"open", file, parameters, SW_SHOW);
}

Text Win32CommandUi::ShellPath(const Text& path) {
    return systemAlias_ ? AliasSystemFolder(path, *systemAlias_) : path;
}

void Win32CommandUi::PumpMessages() {
    if (pumpMessages_)
        pumpMessages_();
}

}  // namespace tolvessa::win32
