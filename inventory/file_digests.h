// The identities of a driver file beyond its MD5: SHA-1 and SHA-256 of the whole file, the
// Authenticode image hash (SHA-1 and SHA-256) and the import hash, all from one view of the file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "inventory/md5.h"
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

// Upper-case hex, like the MD5 cell. A cell that does not apply, or whose input could not be
// read, is empty (never a digest of something else).
struct FileDigests {
    Text sha1;      // of the whole file
    Text sha256;    // of the whole file
    Text peSha1;    // Authenticode image hash with SHA-1
    Text peSha256;  // Authenticode image hash with SHA-256
    Text imphash;   // MD5 of the import list; empty without an import table

    bool operator==(const FileDigests&) const = default;
};

// The digests as cells after the ten of a row: their captions, in that order.
inline constexpr std::size_t kDigestColumnCount = 5;
extern const std::array<TextView, kDigestColumnCount> kDigestColumnCaptions;
// Cell `index` (0 to 4) of the digests: SHA-1, SHA-256, PE SHA-1, PE SHA-256, Imphash.
const Text& DigestCell(const FileDigests& digests, std::size_t index);

// The longest file whose bytes are held in memory at once for its digests when it cannot be
// mapped; a longer one is read in pieces.
inline constexpr std::uint64_t kDigestsInMemoryLimit = std::uint64_t{64} << 20;

// The five digests of the file at `path`, read once, as long as it was when opened. Safe to
// call from several threads at once.
FileDigests ComputeFileDigests(FileContentApi& content, HashApi& hashes, const Text& path,
                               std::uint64_t inMemoryLimit = kDigestsInMemoryLimit);

}  // namespace tolvessa
