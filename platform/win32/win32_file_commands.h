// The Windows side of the context-menu commands: the file operations, message boxes, the folder
// picker and the shell launches.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <utility>

#include "commands/file_commands.h"
#include "platform/win32/win32_inventory.h"

namespace tolvessa::win32 {

// CreateFileW with backup semantics, CopyFileW, SetFileAttributesW, DeleteFileW and MoveFileExW,
// each with the WOW64 redirection off, so a 32-bit process acts on the real System32.
class Win32FileOperations : public FileOperationApi {
  public:
    bool OpenWithBackupSemantics(const Text& path) override;
    bool CopyNoOverwrite(const Text& source, const Text& destination) override;
    bool SetAttributes(const Text& path, std::uint32_t attributes) override;
    bool RemoveFile(const Text& path) override;
    bool MarkForDeletionAtReboot(const Text& path) override;
};

// The commands' file side on this system: every test and operation sees the real System32.
class Win32CommandFiles : public CommandFiles {
  public:
    bool FileExists(const Text& path) override;
    bool FolderExists(const Text& path) override;
    bool CopyNoOverwrite(const Text& source, const Text& destination) override;
    bool ForceDelete(const Text& path) override;
    bool MarkForDeletion(const Text& path) override;

  private:
    Win32FileAttributes attributes_;
    Win32FileOperations operations_;
    PlatformFiles files_{attributes_, operations_};
};

// Message boxes with no owner, the application title as caption, topmost and in the foreground.
void WarningBox(const Text& text);
void InformationBox(const Text& text);
// Yes/No, Yes the default: false only for No.
bool QuestionBox(const Text& text);

// SHBrowseForFolderW owned by `owner`, rooted at the desktop, file-system folders only, with
// `title` above the tree; then SHGetPathFromIDListW. The folder's path, or nothing when the
// picker was cancelled or the choice has no file-system path.
std::optional<Text> BrowseForFolder(HWND owner, const Text& title);

// ShellExecuteExW with the verb "properties" on the file, show normal: the success flag. Under
// the same test seam as ShellLaunch (TOLVESSA_SHELL_LOG) it only logs the request and answers
// true.
bool ShowPropertySheet(const Text& path);

// The commands' user interface on this system. `pickerOwner` is the application's own hidden
// window, not the main window, so the main window stays usable while the picker is open;
// `pumpMessages` handles the window messages already waiting (Copy All calls it between files);
// `stopRequested`, when given, tells whether the window is being closed meanwhile.
class Win32CommandUi : public CommandUi {
  public:
    Win32CommandUi(HWND pickerOwner, std::function<void()> pumpMessages,
                   std::function<bool()> stopRequested = {})
        : pickerOwner_(pickerOwner),
          pumpMessages_(std::move(pumpMessages)),
          stopRequested_(std::move(stopRequested)) {}

    void ShowWarning(const Text& text) override { WarningBox(text); }
    void ShowInformation(const Text& text) override { InformationBox(text); }
    bool AskYesNo(const Text& text) override { return QuestionBox(text); }
    std::optional<Text> BrowseForFolder(const Text& title) override;
    bool ShowPropertySheet(const Text& path) override;
    // ShellLaunch with "open" and show value 5.
    void ShellOpen(const Text& file, const Text& parameters) override;
    void PumpMessages() override;
    bool StopRequested() override { return stopRequested_ && stopRequested_(); }

  private:
    HWND pickerOwner_;
    std::function<void()> pumpMessages_;
    std::function<bool()> stopRequested_;
};

}  // namespace tolvessa::win32
