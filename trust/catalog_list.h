// Catalog files: the certificate trust list a catalog's signed message carries, read from its
// DER bytes alone, and an index of the members of many catalogs by image hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "inventory/text.h"
#include "trust/file_verdict.h"

namespace tolvessa {

enum class MemberHash : std::uint8_t { kSha1, kSha256, kOther };

// One member (trust list entry) of a catalog.
struct CatalogMember {
    // The subject identifier, read as UTF-16LE, without terminating NULs (an odd last byte reads
    // as U+FFFD). Catalog tools set it to the image hash in hex.
    Text tag;
    // The hash of the member's SpcIndirectDataContent attribute: SHA-1 (20 bytes) or SHA-256
    // (32 bytes). kOther with an empty digest when the member has no such attribute, has it more
    // than once or with other than one value, it cannot be read, names another algorithm, or its
    // length does not fit the algorithm.
    MemberHash algorithm = MemberHash::kOther;
    std::vector<std::uint8_t> digest;

    bool operator==(const CatalogMember&) const = default;
};

struct CatalogList {
    std::vector<CatalogMember> members;
};

// Reads the certificate trust list of a catalog (the content of its signed message, content type
// 1.3.6.1.4.1.311.10.1): `der` is exactly one DER SEQUENCE of
//   version INTEGER OPTIONAL, subjectUsage SEQUENCE OF OID (must name the catalog list,
//   1.3.6.1.4.1.311.12.1.1), listIdentifier OCTET STRING OPTIONAL, sequenceNumber INTEGER
//   OPTIONAL, thisUpdate and nextUpdate OPTIONAL (UTCTime or GeneralizedTime),
//   subjectAlgorithm SEQUENCE { OID, parameters OPTIONAL } (must be the catalog member format,
//   1.3.6.1.4.1.311.12.1.2 or .3), trustedSubjects SEQUENCE OF SEQUENCE { subjectIdentifier
//   OCTET STRING, SET OF SEQUENCE { OID, SET OF values } OPTIONAL } OPTIONAL, and extensions
//   [0] OPTIONAL.
// Nothing when the bytes do not have that shape: definite lengths only (up to 4 length bytes),
// low tag numbers only, nothing after an element's end. The contents of the values of a member's
// attributes matter only for its SpcIndirectDataContent (see CatalogMember).
std::optional<CatalogList> ParseCatalogList(std::span<const std::uint8_t> der);

// The digest in upper-case hex.
Text DigestHex(std::span<const std::uint8_t> digest);
// The bytes of a hex digest (either case, an even number of digits); nothing for other text.
std::optional<std::vector<std::uint8_t>> DigestBytes(TextView hex);

// The members of many catalogs by image hash, with each catalog's check. Filled once, then only
// read: safe to read from several threads at once.
class CatalogIndex {
  public:
    // Adds a catalog: its file name, the status of its signature check (a trust_status code: 0
    // when it verifies, chains to a trusted root and may sign code) and its signer's simple
    // display name. Members without a SHA-1 or SHA-256 digest are left out.
    void Add(Text name, std::uint32_t status, Text signer, const CatalogList& list);
    // Notes a catalog file that could not be read or parsed.
    void Skip(Text name);

    // The catalog that lists a file by its image hashes (either may be empty): the catalogs that
    // list its SHA-256 hash, then those that list its SHA-1 hash, each in the order they were
    // added; the first whose answer is 0, else the first. The answer is the catalog's status,
    // except for a member whose tag does not name its own digest (in hex of either case, or as
    // the digest's bytes): a catalog whose check passes answers kBadDigest for it. Nothing when no
    // catalog lists the file.
    std::optional<SignatureEngine::Answer> Find(std::span<const std::uint8_t> sha1,
                                                std::span<const std::uint8_t> sha256) const;

    std::size_t CatalogCount() const { return catalogs_.size(); }
    const std::vector<Text>& Skipped() const { return skipped_; }

  private:
    struct Catalog {
        Text name;
        std::uint32_t status;
        Text signer;
    };
    struct Listing {
        std::uint32_t catalog;
        bool tagNamesDigest;
    };
    std::vector<Catalog> catalogs_;
    std::vector<Text> skipped_;
    // Keyed by the algorithm's byte, then the digest.
    std::unordered_map<std::string, std::vector<Listing>> listings_;
};

}  // namespace tolvessa
