// The identities of a driver file beyond its MD5: SHA-1 and SHA-256 of the whole file, the
// Authenticode image hash (SHA-1 and SHA-256) and the import hash, all from one view of the file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "inventory/file_content.h"
#include "inventory/md5.h"
#include "inventory/pe_image.h"
#include "inventory/text.h"

namespace tolvessa {

enum class HashAlgorithm : std::uint8_t { kSha1, kSha256 };

// One running digest of the platform's library.
class Hasher {
  public:
    virtual ~Hasher() = default;
    virtual void Update(std::span<const std::uint8_t> bytes) = 0;
    // The digest of everything fed so far (20 or 32 bytes); the hasher is spent afterwards.
    virtual std::vector<std::uint8_t> Finish() = 0;
};

// The platform's digest engines: CNG on Windows, OpenSSL on the host. Safe to use from several
// threads at once, each with hashers of its own.
class HashApi {
  public:
    virtual ~HashApi() = default;
    // A fresh hasher; null when the platform has no engine for the algorithm.
    virtual std::unique_ptr<Hasher> NewHasher(HashAlgorithm algorithm) = 0;
};

using Sha1Digest = std::array<std::uint8_t, 20>;
using Sha256Digest = std::array<std::uint8_t, 32>;

// The digests as bytes. A digest that does not apply, or whose input could not be read, is
// absent (never a digest of something else).
struct FileDigests {
    std::optional<Sha1Digest> sha1;        // of the whole file
    std::optional<Sha256Digest> sha256;    // of the whole file
    std::optional<Sha1Digest> peSha1;      // Authenticode image hash with SHA-1
    std::optional<Sha256Digest> peSha256;  // Authenticode image hash with SHA-256
    std::optional<Md5Digest> imphash;      // MD5 of the import list; absent without imports

    // Whether the file's bytes were read: its whole-file digests are there.
    bool ReadTheFile() const { return sha1.has_value() || sha256.has_value(); }

    bool operator==(const FileDigests&) const = default;
};

// A digest in upper-case hex, like the MD5 cell; the empty text when it is absent.
template <std::size_t N>
Text DigestText(const std::optional<std::array<std::uint8_t, N>>& digest) {
    return digest ? HexBytesText(*digest) : Text();
}

// The digests as cells after the ten of a row: their captions, in that order.
inline constexpr std::size_t kDigestColumnCount = 5;
extern const std::array<TextView, kDigestColumnCount> kDigestColumnCaptions;
// Cell `index` (0 to 4) of the digests, as DigestText: SHA-1, SHA-256, PE SHA-1, PE SHA-256,
// Imphash.
Text DigestCell(const FileDigests& digests, std::size_t index);

// The longest file whose bytes are held in memory at once for its digests when it cannot be
// mapped; a longer one is read in pieces.
inline constexpr std::uint64_t kDigestsInMemoryLimit = std::uint64_t{64} << 20;

// The parsers of a file's bytes in the one pass over it: called with the bytes the digests were
// taken over (in memory, or read at offsets from the same open file when it is too long to be
// held) and those digests, while the bytes are held.
using ParseBytes = std::function<void(ByteSource& bytes, const FileDigests& digests)>;

// The five digests of the file at `path`, read once, as long as it was when opened; then, when
// the whole-file digests are there (the bytes could all be read), `parse` (when set) over the
// same bytes. Without them, `parse` is not called: the file could not be opened or read. Safe
// to call from several threads at once.
FileDigests ReadFileOnce(FileContentApi& content, HashApi& hashes, const Text& path,
                         const ParseBytes& parse,
                         std::uint64_t inMemoryLimit = kDigestsInMemoryLimit);

// The five digests of the file at `path`, read once, as long as it was when opened. Safe to
// call from several threads at once.
FileDigests ComputeFileDigests(FileContentApi& content, HashApi& hashes, const Text& path,
                               std::uint64_t inMemoryLimit = kDigestsInMemoryLimit);

}  // namespace tolvessa
