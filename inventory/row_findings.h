// What the checks beyond the file's own details found about a row: the verdict on its signature
// and its entries in the known-vulnerable driver lists. Plain data; the checks themselves are in
// trust/ (file_verdict.h, vulnerable_lists.h).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "inventory/text.h"

namespace tolvessa {

enum class SignatureVerdict : std::uint8_t {
    kEmbedded,    // a valid embedded signature
    kCatalog,     // the image hash is a member of a catalog whose signature is valid
    kUnsigned,    // neither
    kInvalid,     // a signature is there, but the digest does not match or it does not verify
    kUntrusted,   // it verifies, but its chain ends at no trusted root or may not sign code
    kUnreadable,  // the file is there but could not be read for the check (access denied, held
                  // open without sharing, a read error), and no catalog vouches for it
};

struct FileTrust {
    SignatureVerdict verdict = SignatureVerdict::kUnsigned;
    Text signer;   // the signer's simple display name
    Text catalog;  // the catalog's file name, for kCatalog
    bool operator==(const FileTrust&) const = default;
};

enum class ListFormat : std::uint8_t { kLolDriversCsv, kSiPolicy };
enum class MatchedBy : std::uint8_t { kFileHash, kImageHash, kNameAndVersion };
enum class MatchedAlgorithm : std::uint8_t { kNone, kMd5, kSha1, kSha256 };

// One way a file matched one entry (or rule) of a vulnerable-driver list.
struct VulnerableMatch {
    Text source;  // the name the list was loaded under
    ListFormat format = ListFormat::kLolDriversCsv;
    Text id;        // the LOLDrivers Id, or the policy rule's ID
    Text category;  // the LOLDrivers Category; empty for policy rules
    MatchedBy by = MatchedBy::kFileHash;
    MatchedAlgorithm algorithm = MatchedAlgorithm::kNone;  // kNone for name and version
    bool operator==(const VulnerableMatch&) const = default;
};

struct RowFindings {
    std::optional<FileTrust> trust;           // nothing until the signature was checked
    std::vector<VulnerableMatch> vulnerable;  // the row's matches; empty when none or unchecked
    bool operator==(const RowFindings&) const = default;
};

}  // namespace tolvessa
