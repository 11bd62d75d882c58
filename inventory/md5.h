// MD5 message digest (RFC 1321) and the digest of a whole file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "inventory/file_content.h"
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

// The digest of the file's content, as long as it was when opened where the reader tells the
// length; 16 zero bytes when it cannot be opened or read, or ends sooner than that.
Md5Digest Md5File(FileContentApi& api, const Text& path);

// Md5DigestToHex of Md5File, upper case.
Text FileMd5Hex(FileContentApi& api, const Text& path);

}  // namespace tolvessa
