// The file routines behind the context menu's commands: path parts, the web search address, the
// folder test, and deleting a file now or at the next restart.
#pragma once

#include <cstdint>

#include "inventory/file_queries.h"
#include "inventory/text.h"

namespace tolvessa {

// The file operations of the commands, beyond the attribute calls of the file queries
// (CreateFileW, CopyFileW, SetFileAttributesW, DeleteFileW and MoveFileExW on Windows).
class FileOperationApi {
  public:
    virtual ~FileOperationApi() = default;

    // Opens the path for reading (shared for reading) the way a folder can be opened (backup
    // semantics), and closes it again: whether it opened.
    virtual bool OpenWithBackupSemantics(const Text& path) = 0;
    // Copies a file; fails when the destination already exists, which is never overwritten.
    virtual bool CopyNoOverwrite(const Text& source, const Text& destination) = 0;
    // Sets the attribute word (0: none of read-only, hidden, system, archive).
    virtual bool SetAttributes(const Text& path, std::uint32_t attributes) = 0;
    // Deletes a file; refused for a folder and for a read-only file.
    virtual bool RemoveFile(const Text& path) = 0;
    // Registers the file for deletion at the next system restart.
    virtual bool MarkForDeletionAtReboot(const Text& path) = 0;
};

// The text after the last "\" or ":" of a path; the whole text when it holds neither.
Text FileNamePart(const Text& path);
// The text up to and including the last "\" or ":"; empty when the path holds neither.
Text FolderPart(const Text& path);
// The folder text with a "\" appended when it does not end in one.
Text WithTrailingBackslash(const Text& folder);

// The UTF-8 bytes of the text, every byte outside the unreserved characters (letters, digits,
// "-", ".", "_", "~") written as "%" and two uppercase hexadecimal digits.
Text PercentEncode(TextView text);
// The search engine's base address, "/search?q=", then the percent-encoded text.
Text WebSearchAddress(TextView text);

// Whether the path names an existing folder: the attribute word, or for a reparse point whether
// it opens; a failed attribute read counts as a folder unless its error says the path is not
// there. Never fails.
bool FolderExistsOnDisk(FileAttributeApi& attributes, FileOperationApi& files, const Text& path);

// Clears the file's attributes (read-only, hidden and system among them), whatever that call
// answers, then deletes the file. When the deletion fails the attributes read beforehand are put
// back. Returns whether the file was deleted.
bool ForceDeleteFile(FileAttributeApi& attributes, FileOperationApi& files, const Text& path);

// The system folder and the alias under which a 32-bit program on 64-bit Windows reaches it
// through the shell (the Windows folder's "Sysnative"), where the shell itself would look into
// SysWOW64 instead.
struct SystemFolderAlias {
    Text systemFolder;  // GetSystemDirectoryW: "C:\Windows\system32"
    Text alias;         // "C:\Windows\Sysnative"
};

// The path with the system folder at its start (the whole folder name, in any letter case)
// replaced by the alias; any other path as it is. An empty system folder or alias changes
// nothing.
Text AliasSystemFolder(const Text& path, const SystemFolderAlias& folders);

// Registers the file for deletion at the next restart; the platform's answer.
bool MarkFileForDeletion(FileOperationApi& files, const Text& path);

}  // namespace tolvessa
