// The file operations of the context-menu commands on a POSIX file system, with the rules the
// Windows calls follow.
#pragma once

#include <string>

#include "commands/file_routines.h"
#include "platform/host/host_paths.h"

namespace tolvessa::host {

class PosixFileOperations : public FileOperationApi {
  public:
    // `pendingDeletions` is the file that collects the requests to delete at the next restart,
    // the way PendingFileRenameOperations does on Windows.
    PosixFileOperations(const HostPaths& paths, std::string pendingDeletions)
        : paths_(paths), pendingDeletions_(std::move(pendingDeletions)) {}

    // Opens the path (a folder or a file, links followed) for reading.
    bool OpenWithBackupSemantics(const Text& path) override;
    // A regular file into a new file (O_EXCL): the copy takes the source's permissions, DOS
    // attribute and modification time. A partial copy is removed.
    bool CopyNoOverwrite(const Text& source, const Text& destination) override;
    // Read-only clears the write permissions, its absence gives the owner write permission back;
    // hidden and system go into user.DOSATTRIB as Wine keeps them (the attribute is removed when
    // neither is set, unless a leading dot in the name would make the file hidden).
    bool SetAttributes(const Text& path, std::uint32_t attributes) override;
    // Unlinks a file. As on Windows, a folder and a read-only file (no owner write permission)
    // are refused, whoever asks.
    bool RemoveFile(const Text& path) override;
    // Appends the request to the pending-deletions file: a line "\??\" + the path, then an
    // empty line for "no new name" (UTF-8). Refused for a path that names nothing.
    bool MarkForDeletionAtReboot(const Text& path) override;

  private:
    const HostPaths& paths_;
    std::string pendingDeletions_;
};

}  // namespace tolvessa::host
