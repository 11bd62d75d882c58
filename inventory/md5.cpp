// MD5 (RFC 1321): the block compression, the streaming context and the digest of a whole file.
#include "inventory/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace tolvessa {

namespace {

// A little-endian 32-bit word at `p`, whatever the host's byte order and the pointer's alignment.
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word =
            (word >> 24) | ((word >> 8) & 0x0000FF00u) | ((word << 8) & 0x00FF0000u) | (word << 24);
    }
    return word;
}

inline void StoreLe32(std::uint8_t* p, std::uint32_t word) {
    p[0] = static_cast<std::uint8_t>(word);
    p[1] = static_cast<std::uint8_t>(word >> 8);
    p[2] = static_cast<std::uint8_t>(word >> 16);
    p[3] = static_cast<std::uint8_t>(word >> 24);
}

// One step of each round: a = b + ((a + f(b, c, d) + X[k] + T[i]) <<< s). The message word and
// the constant are added before the round function so that sum does not wait for b, c and d.
//
// F(b, c, d) = (b & c) | (~b & d), computed as d ^ (b & (c ^ d)).
#define TOLVESSA_MD5_F(a, b, c, d, k, t, s) \
    a += LoadLe32(block + 4 * (k)) + (t);   \
    a += (d) ^ ((b) & ((c) ^ (d)));         \
    a = std::rotl(a, s) + (b)

// G(b, c, d) = (b & d) | (c & ~d). The two terms never share a bit, so they are added one at a
// time; c & ~d does not depend on b, the result of the step just before.
#define TOLVESSA_MD5_G(a, b, c, d, k, t, s) \
    a += LoadLe32(block + 4 * (k)) + (t);   \
    a += (c) & ~(d);                        \
    a += (b) & (d);                         \
    a = std::rotl(a, s) + (b)

// H(b, c, d) = b ^ c ^ d.
#define TOLVESSA_MD5_H(a, b, c, d, k, t, s) \
    a += LoadLe32(block + 4 * (k)) + (t);   \
    a += (b) ^ (c) ^ (d);                   \
    a = std::rotl(a, s) + (b)

// I(b, c, d) = c ^ (b | ~d).
#define TOLVESSA_MD5_I(a, b, c, d, k, t, s) \
    a += LoadLe32(block + 4 * (k)) + (t);   \
    a += (c) ^ ((b) | ~(d));                \
    a = std::rotl(a, s) + (b)

// Compresses `blocks` consecutive 64-byte blocks into `state`, keeping the chaining values in
// locals from one block to the next.
inline void TransformBlocks(std::uint32_t state[4], const std::uint8_t* block, std::size_t blocks) {
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    for (; blocks != 0; --blocks, block += 64) {
        const std::uint32_t a0 = a;
        const std::uint32_t b0 = b;
        const std::uint32_t c0 = c;
        const std::uint32_t d0 = d;

        // Round 1.
        TOLVESSA_MD5_F(a, b, c, d, 0, 0xD76AA478u, 7);
        TOLVESSA_MD5_F(d, a, b, c, 1, 0xE8C7B756u, 12);
        TOLVESSA_MD5_F(c, d, a, b, 2, 0x242070DBu, 17);
        TOLVESSA_MD5_F(b, c, d, a, 3, 0xC1BDCEEEu, 22);
        TOLVESSA_MD5_F(a, b, c, d, 4, 0xF57C0FAFu, 7);
        TOLVESSA_MD5_F(d, a, b, c, 5, 0x4787C62Au, 12);
        TOLVESSA_MD5_F(c, d, a, b, 6, 0xA8304613u, 17);
        TOLVESSA_MD5_F(b, c, d, a, 7, 0xFD469501u, 22);
        TOLVESSA_MD5_F(a, b, c, d, 8, 0x698098D8u, 7);
        TOLVESSA_MD5_F(d, a, b, c, 9, 0x8B44F7AFu, 12);
        TOLVESSA_MD5_F(c, d, a, b, 10, 0xFFFF5BB1u, 17);
        TOLVESSA_MD5_F(b, c, d, a, 11, 0x895CD7BEu, 22);
        TOLVESSA_MD5_F(a, b, c, d, 12, 0x6B901122u, 7);
        TOLVESSA_MD5_F(d, a, b, c, 13, 0xFD987193u, 12);
        TOLVESSA_MD5_F(c, d, a, b, 14, 0xA679438Eu, 17);
        TOLVESSA_MD5_F(b, c, d, a, 15, 0x49B40821u, 22);

        // Round 2.
        TOLVESSA_MD5_G(a, b, c, d, 1, 0xF61E2562u, 5);
        TOLVESSA_MD5_G(d, a, b, c, 6, 0xC040B340u, 9);
        TOLVESSA_MD5_G(c, d, a, b, 11, 0x265E5A51u, 14);
        TOLVESSA_MD5_G(b, c, d, a, 0, 0xE9B6C7AAu, 20);
        TOLVESSA_MD5_G(a, b, c, d, 5, 0xD62F105Du, 5);
        TOLVESSA_MD5_G(d, a, b, c, 10, 0x02441453u, 9);
        TOLVESSA_MD5_G(c, d, a, b, 15, 0xD8A1E681u, 14);
        TOLVESSA_MD5_G(b, c, d, a, 4, 0xE7D3FBC8u, 20);
        TOLVESSA_MD5_G(a, b, c, d, 9, 0x21E1CDE6u, 5);
        TOLVESSA_MD5_G(d, a, b, c, 14, 0xC33707D6u, 9);
        TOLVESSA_MD5_G(c, d, a, b, 3, 0xF4D50D87u, 14);
        TOLVESSA_MD5_G(b, c, d, a, 8, 0x455A14EDu, 20);
        TOLVESSA_MD5_G(a, b, c, d, 13, 0xA9E3E905u, 5);
        TOLVESSA_MD5_G(d, a, b, c, 2, 0xFCEFA3F8u, 9);
        TOLVESSA_MD5_G(c, d, a, b, 7, 0x676F02D9u, 14);
        TOLVESSA_MD5_G(b, c, d, a, 12, 0x8D2A4C8Au, 20);

        // Round 3.
        TOLVESSA_MD5_H(a, b, c, d, 5, 0xFFFA3942u, 4);
        TOLVESSA_MD5_H(d, a, b, c, 8, 0x8771F681u, 11);
        TOLVESSA_MD5_H(c, d, a, b, 11, 0x6D9D6122u, 16);
        TOLVESSA_MD5_H(b, c, d, a, 14, 0xFDE5380Cu, 23);
        TOLVESSA_MD5_H(a, b, c, d, 1, 0xA4BEEA44u, 4);
        TOLVESSA_MD5_H(d, a, b, c, 4, 0x4BDECFA9u, 11);
        TOLVESSA_MD5_H(c, d, a, b, 7, 0xF6BB4B60u, 16);
        TOLVESSA_MD5_H(b, c, d, a, 10, 0xBEBFBC70u, 23);
        TOLVESSA_MD5_H(a, b, c, d, 13, 0x289B7EC6u, 4);
        TOLVESSA_MD5_H(d, a, b, c, 0, 0xEAA127FAu, 11);
        TOLVESSA_MD5_H(c, d, a, b, 3, 0xD4EF3085u, 16);
        TOLVESSA_MD5_H(b, c, d, a, 6, 0x04881D05u, 23);
        TOLVESSA_MD5_H(a, b, c, d, 9, 0xD9D4D039u, 4);
        TOLVESSA_MD5_H(d, a, b, c, 12, 0xE6DB99E5u, 11);
        TOLVESSA_MD5_H(c, d, a, b, 15, 0x1FA27CF8u, 16);
        TOLVESSA_MD5_H(b, c, d, a, 2, 0xC4AC5665u, 23);

        // Round 4.
        TOLVESSA_MD5_I(a, b, c, d, 0, 0xF4292244u, 6);
        TOLVESSA_MD5_I(d, a, b, c, 7, 0x432AFF97u, 10);
        TOLVESSA_MD5_I(c, d, a, b, 14, 0xAB9423A7u, 15);
        TOLVESSA_MD5_I(b, c, d, a, 5, 0xFC93A039u, 21);
        TOLVESSA_MD5_I(a, b, c, d, 12, 0x655B59C3u, 6);
        TOLVESSA_MD5_I(d, a, b, c, 3, 0x8F0CCC92u, 10);
        TOLVESSA_MD5_I(c, d, a, b, 10, 0xFFEFF47Du, 15);
        TOLVESSA_MD5_I(b, c, d, a, 1, 0x85845DD1u, 21);
        TOLVESSA_MD5_I(a, b, c, d, 8, 0x6FA87E4Fu, 6);
        TOLVESSA_MD5_I(d, a, b, c, 15, 0xFE2CE6E0u, 10);
        TOLVESSA_MD5_I(c, d, a, b, 6, 0xA3014314u, 15);
        TOLVESSA_MD5_I(b, c, d, a, 13, 0x4E0811A1u, 21);
        TOLVESSA_MD5_I(a, b, c, d, 4, 0xF7537E82u, 6);
        TOLVESSA_MD5_I(d, a, b, c, 11, 0xBD3AF235u, 10);
        TOLVESSA_MD5_I(c, d, a, b, 2, 0x2AD7D2BBu, 15);
        TOLVESSA_MD5_I(b, c, d, a, 9, 0xEB86D391u, 21);

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef TOLVESSA_MD5_F
#undef TOLVESSA_MD5_G
#undef TOLVESSA_MD5_H
#undef TOLVESSA_MD5_I

// Zeroes the context through a volatile pointer: the stores are observable, so the compiler
// keeps them even though the context is not read again.
void Wipe(Md5Context& context) {
    volatile std::uint8_t* bytes = reinterpret_cast<volatile std::uint8_t*>(&context);
    for (std::size_t i = 0; i < sizeof context; ++i)
        bytes[i] = 0;
}

constexpr std::uint8_t kPadding[64] = {0x80};

// Bytes read at a time when the file cannot be mapped.
constexpr std::size_t kReadChunk = 64 * 1024;

// The most fed to Md5Update in one call when a view is larger than 32 bits can count: a whole
// number of blocks, so nothing waits in the context's buffer between calls.
constexpr std::uint64_t kLargeViewChunk = 0xFFFFFFC0u;

}  // namespace

void Md5Init(Md5Context& context) {
    context.state[0] = 0x67452301u;
    context.state[1] = 0xEFCDAB89u;
    context.state[2] = 0x98BADCFEu;
    context.state[3] = 0x10325476u;
    context.count[0] = 0;
    context.count[1] = 0;
    std::fill(std::begin(context.buffer), std::end(context.buffer), std::uint8_t{0});
}

void Md5Update(Md5Context& context, const std::uint8_t* data, std::uint32_t length) {
    std::uint32_t index = (context.count[0] >> 3) & 63;
    const std::uint32_t bits = length << 3;  // modulo 2^32; the rest goes to the high word
    context.count[0] += bits;
    if (context.count[0] < bits)
        ++context.count[1];
    context.count[1] += length >> 29;

    const std::uint32_t part = 64 - index;
    std::uint32_t i = 0;
    if (length >= part) {
        std::memcpy(context.buffer + index, data, part);
        Md5Transform(context.state, context.buffer);
        i = part;
        const std::uint32_t blocks = (length - part) / 64;
        if (blocks != 0) {
            TransformBlocks(context.state, data + part, blocks);
            i += blocks * 64;
        }
        index = 0;
    }
    if (length > i)
        std::memcpy(context.buffer + index, data + i, length - i);
}

Md5Digest Md5Final(Md5Context& context) {
    std::uint8_t bits[8];
    StoreLe32(bits, context.count[0]);
    StoreLe32(bits + 4, context.count[1]);

    const std::uint32_t index = (context.count[0] >> 3) & 63;
    const std::uint32_t padLength = index < 56 ? 56 - index : 120 - index;
    Md5Update(context, kPadding, padLength);
    Md5Update(context, bits, sizeof bits);

    Md5Digest digest;
    for (int word = 0; word < 4; ++word)
        StoreLe32(digest.data() + 4 * word, context.state[word]);
    Wipe(context);
    return digest;
}

void Md5Transform(std::uint32_t state[4], const std::uint8_t block[64]) {
    TransformBlocks(state, block, 1);
}

Text Md5DigestToHex(const Md5Digest& digest) {
    return HexBytesText(digest);
}

Md5Digest Md5File(FileContentApi& api, const Text& path) {
    Md5Context context;
    Md5Init(context);
    const std::unique_ptr<FileContentApi::File> file = api.OpenForRead(path);
    if (!file)
        return Md5Digest{};

    if (const std::unique_ptr<FileContentApi::View> view = file->MapWhole()) {
        const std::span<const std::uint8_t> bytes = view->Bytes();
        // One call for any view up to 4 GiB - 1; larger ones (64-bit hosts) go in a few pieces.
        std::uint64_t offset = 0;
        const std::uint64_t size = bytes.size();
        while (offset < size) {
            const std::uint64_t left = size - offset;
            const std::uint64_t take = left <= 0xFFFFFFFFu ? left : kLargeViewChunk;
            Md5Update(context, bytes.data() + offset, static_cast<std::uint32_t>(take));
            offset += take;
        }
    } else {
        // Not mappable (a file of length 0 never is, a long one is not, and a mapping can be
        // refused): read it, as long as it was when opened where the reader tells the length.
        const std::optional<std::uint64_t> size = file->Size();
        std::uint64_t done = 0;
        std::vector<std::uint8_t> chunk(kReadChunk);
        for (;;) {
            const std::size_t want =
                size ? static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), *size - done))
                     : chunk.size();
            if (want == 0)
                break;
            const std::optional<std::size_t> got =
                file->Read(std::span<std::uint8_t>(chunk.data(), want));
            if (!got || *got > want || (*got == 0 && size)) {
                // A read error, a reader that claims more than it was asked for, or a file that
                // became shorter.
                Wipe(context);
                return Md5Digest{};
            }
            if (*got == 0)
                break;
            Md5Update(context, chunk.data(), static_cast<std::uint32_t>(*got));
            done += *got;
        }
    }
    return Md5Final(context);
}

Text FileMd5Hex(FileContentApi& api, const Text& path) {
    // Md5DigestToHex writes upper-case digits already.
    return Md5DigestToHex(Md5File(api, path));
}

}  // namespace tolvessa
