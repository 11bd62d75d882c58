#include "platform/win32/win32_file_commands.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <memory>
#include <type_traits>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_shell.h"
#include "shell/product.h"

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

int Box(const Text& text, UINT kind) {
    return ApplicationMessageBox(text, kind);
}

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

// The attribute reads of the file queries do not turn the redirection off themselves.
bool Win32CommandFiles::FileExists(const Text& path) {
    ScopedWow64RedirectionOff realSystem32;
    return files_.FileExists(path);
}

bool Win32CommandFiles::FolderExists(const Text& path) {
    ScopedWow64RedirectionOff realSystem32;
    return files_.FolderExists(path);
}

bool Win32CommandFiles::CopyNoOverwrite(const Text& source, const Text& destination) {
    return files_.CopyNoOverwrite(source, destination);
}

bool Win32CommandFiles::ForceDelete(const Text& path) {
    ScopedWow64RedirectionOff realSystem32;
    return files_.ForceDelete(path);
}

bool Win32CommandFiles::MarkForDeletion(const Text& path) {
    return files_.MarkForDeletion(path);
}

// Boxes, picker, shell ----------------------------------------------------------------------

void WarningBox(const Text& text) {
    Box(text, MB_ICONWARNING);
}

void InformationBox(const Text& text) {
    Box(text, MB_ICONINFORMATION);
}

bool QuestionBox(const Text& text) {
    return Box(text, MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON1) != IDNO;
}

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

bool ShowPropertySheet(const Text& path) {
    if (LogInsteadOfLaunching(u"properties", path, u"", SW_SHOWNORMAL))
        return true;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_INVOKEIDLIST | SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = L"properties";
    info.lpFile = Wide(path);
    info.lpParameters = nullptr;
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    const bool shown = ::ShellExecuteExW(&info) != FALSE;
    // The sheet runs in this process; a process handle, should the shell give one, is not needed.
    const ScopedHandle process = OwnHandle(info.hProcess);
    return shown;
}

std::optional<Text> Win32CommandUi::BrowseForFolder(const Text& title) {
    return win32::BrowseForFolder(pickerOwner_, title);
}

bool Win32CommandUi::ShowPropertySheet(const Text& path) {
    return win32::ShowPropertySheet(path);
}

void Win32CommandUi::ShellOpen(const Text& file, const Text& parameters) {
    ShellLaunch(u"open", file, parameters, SW_SHOW);
}

void Win32CommandUi::PumpMessages() {
    if (pumpMessages_)
        pumpMessages_();
}

}  // namespace tolvessa::win32
