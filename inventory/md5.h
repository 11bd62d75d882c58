// MD5 message digest (RFC 1321) and the digest of a whole file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "inventory/text.h"

namespace tolvessa {

struct Md5Context {
    std::uint32_t state[4];
    std::uint32_t count[2];  // bits fed so far, low word first
    std::uint8_t buffer[64];
};

using Md5Digest = std::array<std::uint8_t, 16>;

void Md5Init(Md5Context& context);
void Md5Update(Md5Context& context, const std::uint8_t* data, std::uint32_t length);
Md5Digest Md5Final(Md5Context& context);  // leaves the whole context zeroed
void Md5Transform(std::uint32_t state[4], const std::uint8_t block[64]);

// 32 characters, high nibble first, from "0123456789ABCDEF".
Text Md5DigestToHex(const Md5Digest& digest);

// Reading a file for its digest. On Windows: CreateFileW with an OpenFile-style retry, then a
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
        // A view of the whole file, or nothing when it cannot be mapped (a file of length 0
        // never can).
        virtual std::unique_ptr<View> MapWhole() = 0;
        // Reads the next bytes from the current position into `buffer`: the count read
        // (0 at the end of the file), or nothing on a read error.
        virtual std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) = 0;
        // The open file's size in bytes, asked of the file system without reading it; nothing
        // when the platform cannot tell.
        virtual std::optional<std::uint64_t> Size() { return std::nullopt; }
    };

    virtual ~FileContentApi() = default;
    // Opens the file for reading while admitting other readers (and, in the retry, writers).
    virtual std::unique_ptr<File> OpenForRead(const Text& path) = 0;
};

// The digest of the file's content; 16 zero bytes when it cannot be opened or read.
Md5Digest Md5File(FileContentApi& api, const Text& path);

// Md5DigestToHex of Md5File, upper case.
Text FileMd5Hex(FileContentApi& api, const Text& path);

}  // namespace tolvessa
