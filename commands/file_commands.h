// The file commands of the driver list's context menu (handlers of TForm2 in uListMods): property
// sheet, containing folder, web search, signature check, copy one or every file into a folder,
// delete now or at the next restart. Portable: the window, the shell, the file system and the
// trust verifier are reached through the interfaces below.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

#include "commands/file_routines.h"
#include "inventory/driver_scan.h"
#include "inventory/file_queries.h"
#include "inventory/text.h"
#include "trust/file_trust.h"

namespace tolvessa {

// The message boxes of the commands: a warning icon for failures and files or folders that cannot
// be found, an information icon for results and successes.
enum class MessageKind { kWarning, kInformation };

// What the commands show and launch. Message boxes have no owner, the application title as their
// caption, and come topmost and to the foreground.
class CommandUi {
  public:
    virtual ~CommandUi() = default;

    // A box with an OK button.
    virtual void ShowMessage(MessageKind kind, const Text& text) = 0;
    // Yes/No question, Yes the default: false only when the answer is No.
    virtual bool AskYesNo(const Text& text) = 0;
    // The folder picker with `title` above the tree: the confirmed folder's file-system path, or
    // nothing when it was cancelled or the choice has no such path.
    virtual std::optional<Text> BrowseForFolder(const Text& title) = 0;
    // The shell's "properties" of a file (show normal): the platform's success flag.
    virtual bool ShowPropertySheet(const Text& path) = 0;
    // The shell's "open" of a file, folder or program with a parameter text (show); its answer
    // is not looked at.
    virtual void ShellOpen(const Text& file, const Text& parameters) = 0;
    // The path under which the shell reaches the file or folder that the program's own file calls
    // reach under `path`: the same path, except where the shell sees another folder there (a
    // 32-bit program on 64-bit Windows, whose shell looks into SysWOW64 for System32).
    virtual Text ShellPath(const Text& path) { return path; }
    // Lets the window handle every message already waiting, without waiting for more.
    virtual void PumpMessages() = 0;
    // Asked after each pump: true when the window is being closed, which ends Copy All there.
    virtual bool StopRequested() { return false; }
};

// The file side of the commands: the two existence tests and the three file operations.
class CommandFiles {
  public:
    virtual ~CommandFiles() = default;

    virtual bool FileExists(const Text& path) = 0;
    virtual bool FolderExists(const Text& path) = 0;
    virtual bool CopyNoOverwrite(const Text& source, const Text& destination) = 0;
    virtual bool ForceDelete(const Text& path) = 0;
    virtual bool MarkForDeletion(const Text& path) = 0;
};

// CommandFiles over a platform's attribute calls and file operations.
class PlatformFiles : public CommandFiles {
  public:
    PlatformFiles(FileAttributeApi& attributes, FileOperationApi& files)
        : attributes_(attributes), files_(files) {}

    bool FileExists(const Text& path) override { return FileExistsOnDisk(attributes_, path); }
    bool FolderExists(const Text& path) override {
        return FolderExistsOnDisk(attributes_, files_, path);
    }
    bool CopyNoOverwrite(const Text& source, const Text& destination) override {
        return files_.CopyNoOverwrite(source, destination);
    }
    bool ForceDelete(const Text& path) override {
        return ForceDeleteFile(attributes_, files_, path);
    }
    bool MarkForDeletion(const Text& path) override { return MarkFileForDeletion(files_, path); }

  private:
    FileAttributeApi& attributes_;
    FileOperationApi& files_;
};

// The driver list as the commands see it, read at the moment a command needs it: the window may
// have refreshed or emptied the list, or changed the selection, since the last look.
class CommandList {
  public:
    virtual ~CommandList() = default;

    // The cell of the selected row; nothing when no row is selected.
    virtual std::optional<Text> SelectedCell(DriverColumn column) = 0;
    virtual std::size_t RowCount() = 0;
    // The cell of row `row`; nothing when the list no longer has that row.
    virtual std::optional<Text> Cell(std::size_t row, DriverColumn column) = 0;
};

// CommandList over a DriverList and the window's selection (a row index, or nothing).
class DriverListView : public CommandList {
  public:
    using Selection = std::function<std::optional<std::size_t>()>;

    DriverListView(const DriverList& list, Selection selection)
        : list_(list), selection_(std::move(selection)) {}

    std::optional<Text> SelectedCell(DriverColumn column) override;
    std::size_t RowCount() override { return list_.Count(); }
    std::optional<Text> Cell(std::size_t row, DriverColumn column) override;

  private:
    const DriverList& list_;
    Selection selection_;
};

// The texts of the commands' message boxes.
inline constexpr TextView kCannotFindFileText = u"Cannot find the file on disk.";
inline constexpr TextView kNotSignedText = u"File is not digitally signed.";
inline constexpr TextView kSignedByText = u"File is signed by ";
inline constexpr TextView kCannotFindFolderText = u"Cannot find the folder on disk.";
inline constexpr TextView kConfirmDeleteText = u"Are you sure you want to delete the file ?";
inline constexpr TextView kDeletedText = u"File has been deleted successfully.";
inline constexpr TextView kDeleteFailedText = u"Failed to delete the file.";
inline constexpr TextView kMarkedText = u"File will be deleted on the next reboot.";
inline constexpr TextView kMarkFailedText = u"Failed to mark the file for deletion.";
inline constexpr TextView kSelectFolderTitle = u"Select a folder";

// False at once, showing nothing, when the path is not an existing file; otherwise the shell's
// answer to "properties".
bool ShowFileProperties(CommandUi& ui, CommandFiles& files, const Text& path);

// Opens the search engine's results for the text in the browser.
void SearchOnWeb(CommandUi& ui, TextView text);

// Starts "iexplore.exe" with the address as its one, quoted, argument.
void LaunchBrowser(CommandUi& ui, const Text& url);

// What the commands reach of the system: one of each per build.
struct CommandPlatform {
    CommandUi& ui;
    CommandFiles& files;
    TrustApi& trust;
};

// The ten handlers. Nothing raises out of them; they report only through message boxes.
class FileCommands {
  public:
    FileCommands(const CommandPlatform& platform, CommandList& list)
        : ui_(platform.ui), files_(platform.files), trust_(platform.trust), list_(list) {}

    void ShowProperties1Click();        // "Show File Properties"
    void OpenContainingFolder1Click();  // "Open Containing Folder"
    void Filename1Click();              // "Search on Google" > "File Name"
    void Publisher2Click();             // "Search on Google" > "Publisher"
    void MD5Hash1Click();               // "Search on Google" > "MD5 Hash"
    void VerifyFileSignature1Click();   // "Verify File Signature"
    void CopyallDriversto1Click();      // "Copy All Drivers to..."
    void CopyselectedDriverto1Click();  // "Copy Selected Driver to..."
    void DeleteonReboot1Click();        // "Delete File"
    void DeleteFileonReboot1Click();    // "Delete File on Reboot"

  private:
    // The "Image Name" cell of the selected row when that file exists. Nothing without a
    // selection; for a file that is not there, the warning "Cannot find the file on disk." and
    // nothing.
    std::optional<Text> SelectedExistingFile();
    void SearchSelectedCell(DriverColumn column);
    // The confirmation, then the selected file through `operation`.
    void DeleteSelected(bool (CommandFiles::*operation)(const Text&), TextView success,
                        TextView failure);

    CommandUi& ui_;
    CommandFiles& files_;
    TrustApi& trust_;
    CommandList& list_;
};

}  // namespace tolvessa
