// The Windows side of the context-menu commands: the file operations, message boxes, the folder
// picker and the shell launches.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <utility>

#include "commands/file_commands.h"
#include "platform/win32/win32_inventory.h"
#include "platform/win32/win32_shell.h"

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

// The attribute calls and file operations of this system, for the commands.
struct Win32FileSystem {
    Win32FileAttributes attributes;
    Win32FileOperations operations;
};

// The commands' file side on this system: every test and operation sees the real System32.
class Win32CommandFiles : private Win32FileSystem, public PlatformFiles {
  public:
    Win32CommandFiles() : PlatformFiles(attributes, operations) {}
};

// SHBrowseForFolderW owned by `owner`, rooted at the desktop, file-system folders only, with
// `title` above the tree; then SHGetPathFromIDListW. The folder's path, or nothing when the
// picker was cancelled or the choice has no file-system path.
std::optional<Text> BrowseForFolder(HWND owner, const Text& title);

// The commands' user interface on this system. `pickerOwner` is the application's own hidden
// window, not the main window, so the main window stays usable while the picker is open;
// launches go to `shell`; `pumpMessages` handles the window messages already waiting (Copy All
// calls it between files); `stopRequested`, when given, tells whether the window is being closed
// meanwhile.
class Win32CommandUi : public CommandUi {
  public:
    Win32CommandUi(HWND pickerOwner, Shell& shell, std::function<void()> pumpMessages,
                   std::function<bool()> stopRequested = {})
        : pickerOwner_(pickerOwner),
          shell_(shell),
          pumpMessages_(std::move(pumpMessages)),
          stopRequested_(std::move(stopRequested)),
          systemAlias_(ShellSystemFolderAlias()) {}

    void ShowMessage(MessageKind kind, const Text& text) override {
        win32::ShowMessage(kind, text);
    }
    bool AskYesNo(const Text& text) override { return win32::AskYesNo(text); }
    std::optional<Text> BrowseForFolder(const Text& title) override;
    bool ShowPropertySheet(const Text& path) override { return shell_.ShowProperties(path); }
    // "open" with show value 5.
    void ShellOpen(const Text& file, const Text& parameters) override;
    // A path in the real System32 by the Sysnative alias when this is a 32-bit process on
    // 64-bit Windows.
    Text ShellPath(const Text& path) override;
    void PumpMessages() override;
    bool StopRequested() override { return stopRequested_ && stopRequested_(); }

  private:
    HWND pickerOwner_;
    Shell& shell_;
    std::function<void()> pumpMessages_;
    std::function<bool()> stopRequested_;
    std::optional<SystemFolderAlias> systemAlias_;
};

}  // namespace tolvessa::win32
