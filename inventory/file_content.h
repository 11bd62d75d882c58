// The platform's file reader, as the digests and the parsers of a file's bytes use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "inventory/text.h"

namespace tolvessa {

// Reading a file: for its MD5, for the list files, and for the one pass of the digest workers.
// On Windows: CreateFileW with an OpenFile-style retry, then a
// read-only mapping of the whole file; elsewhere the POSIX equivalents.
class FileContentApi {
  public:
    // A whole-file read-only view; unmapped when destroyed.
    class View {
      public:
        virtual ~View() = default;
        virtual std::span<const std::uint8_t> Bytes() const = 0;
    };

    // An open file; closed when destroyed.
    class File {
      public:
        virtual ~File() = default;
        // A view of the whole file as long as it was when asked (bytes appended meanwhile are
        // not in it), or nothing when it cannot be had in one view: a file of length 0 never
        // can, nor (on Windows) one longer than kMaxWholeView; the caller then reads it.
        virtual std::unique_ptr<View> MapWhole() = 0;
        // Reads the next bytes from the current position into `buffer`: the count read
        // (0 at the end of the file), or nothing on a read error.
        virtual std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) = 0;
        // The file's length now, all 64 bits of it; nothing where the reader cannot tell.
        virtual std::optional<std::uint64_t> Size() { return std::nullopt; }
        // Exactly buffer.size() bytes at `offset`, whatever the current position; false when
        // they cannot all be read (the file ends sooner, a read fails, or the reader cannot
        // read at an offset).
        virtual bool ReadAt(std::uint64_t /*offset*/, std::span<std::uint8_t> /*buffer*/) {
            return false;
        }
    };

    // The longest file the Windows reader maps in one view; a longer one is read in pieces,
    // so a 32-bit process with several workers never runs short of address space.
    static constexpr std::uint64_t kMaxWholeView = std::uint64_t{256} << 20;

    virtual ~FileContentApi() = default;
    // Opens the file for reading while admitting other readers (and, in the retry, writers).
    virtual std::unique_ptr<File> OpenForRead(const Text& path) = 0;
};

}  // namespace tolvessa
