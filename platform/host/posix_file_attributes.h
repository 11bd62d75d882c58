// The attribute calls of the file queries on a POSIX file system.
#pragma once

#include "inventory/file_queries.h"
#include "platform/host/host_paths.h"

namespace tolvessa::host {

// Attribute words the way Wine builds them: directory, archive for files, read-only without
// write permission, reparse point for symbolic links (with the directory bit when the link leads
// to a folder), and hidden from the DOS attribute kept in the user.DOSATTRIB extended attribute
// (as Wine and Samba write it), or, where a file has none, from a leading dot in its name.
// Only regular files and folders are seen: a FIFO, socket or device is reported as not found,
// so nothing ever blocks on opening one or hashes it.
class PosixFileAttributes : public FileAttributeApi {
  public:
    explicit PosixFileAttributes(const HostPaths& paths) : paths_(paths) {}

    Attributes ReadAttributes(const Text& path) override;
    std::optional<std::uint32_t> FindAttributes(const Text& path) override;
    std::uint32_t TryOpenForRead(const Text& path) override;

  private:
    const HostPaths& paths_;
};

// The Windows error code for an errno value from a path call.
std::uint32_t WindowsErrorFromErrno(int error);

}  // namespace tolvessa::host
