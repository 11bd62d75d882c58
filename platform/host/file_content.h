// Reading files for their digest on a POSIX host, through the Windows-style paths the inventory
// uses.
#pragma once

#include <memory>

#include "inventory/file_content.h"
#include "platform/host/host_paths.h"

namespace tolvessa::host {

class PosixFileContent : public FileContentApi {
  public:
    // Whether MapWhole may map files; kRefused makes every mapping fail, so the digest is read
    // with Read instead.
    enum class Mapping { kAllowed, kRefused };

    // `paths` must outlive this object.
    explicit PosixFileContent(const HostPaths& paths, Mapping mapping = Mapping::kAllowed);

    // Opens regular files only: a FIFO, a device or a folder gives nothing, so none of them can
    // block the caller or feed it bytes without end.
    std::unique_ptr<File> OpenForRead(const Text& path) override;

  private:
    const HostPaths& paths_;
    Mapping mapping_;
};

}  // namespace tolvessa::host
