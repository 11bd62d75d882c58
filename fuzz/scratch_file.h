// A file the fuzz targets write each input to, for the readers that take a path.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <span>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/host/host_paths.h"

namespace tolvessa::fuzz {

// One file of this process's own, on drive T:, in memory where there is such a file system
// (written once per input, the file would otherwise cost more than everything else together).
// It lives only while an input is being read: a run that stops leaves nothing behind.
class ScratchFile {
  public:
    ScratchFile() {
        const char* folder = std::getenv("TOLVESSA_FUZZ_TMPDIR");
        if (folder == nullptr || *folder == 0)
            folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        const std::string name = "tolvessa-fuzz-" + std::to_string(::getpid()) + ".exe";
        hostFile_ = std::string(folder) + "/" + name;
        path_ = u"T:\\" + Utf8ToText(name);
        paths_.MapDrive(u'T', folder);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // The file's name as the program sees it.
    const Text& Path() const { return path_; }
    const host::HostPaths& Paths() const { return paths_; }

    // Holds `bytes` in the file until the result goes.
    class Written {
      public:
        explicit Written(const ScratchFile& file) : file_(file) {}
        ~Written() { ::unlink(file_.hostFile_.c_str()); }
        Written(const Written&) = delete;
        Written& operator=(const Written&) = delete;

      private:
        const ScratchFile& file_;
    };

    [[nodiscard]] Written Write(std::span<const std::uint8_t> bytes) const {
        std::ofstream out(hostFile_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        FUZZ_CHECK(out.good());
        return Written(*this);
    }

  private:
    std::string hostFile_;
    Text path_;
    host::HostPaths paths_;
};

}  // namespace tolvessa::fuzz
