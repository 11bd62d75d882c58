// Lists of known-vulnerable (and malicious) drivers, and the check of a driver file against
// them: the LOLDrivers list in its published CSV form and Microsoft's recommended driver block
// rules as a code-integrity policy (SiPolicy XML). The readers are pure functions over the
// list's bytes; reading the files is the caller's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "inventory/file_digests.h"
#include "inventory/row_findings.h"
#include "inventory/text.h"
#include "inventory/version_info.h"

namespace tolvessa {

// ---- LOLDrivers (drivers.csv) ----

struct LolDriversEntry {
    Text id;        // the entry's UUID
    Text category;  // "vulnerable driver" or "malicious"
    // Lower-case hex, each of the right length for its column; a cell may hold several.
    std::vector<std::string> md5, sha1, sha256;
    // Authenticode image hashes. MD5 is read but never matched: the program computes no MD5
    // image hash.
    std::vector<std::string> imageMd5, imageSha1, imageSha256;
    bool operator==(const LolDriversEntry&) const = default;
};

struct LolDriversRead {
    // Why the bytes are no LOLDrivers list at all (no header, columns missing); empty when read.
    Text error;
    std::vector<LolDriversEntry> entries;
    std::size_t rows = 0;           // data rows seen, skipped ones included (blank lines are none)
    std::size_t skippedRows = 0;    // malformed: text after a closing quote, a cell count unlike
                                    // the header's, or no Id
    std::size_t ignoredHashes = 0;  // values of a hash column that are no hex of its length
    // Where the list ends when it ends inside a quoted cell, which only a file cut short does:
    // "inside a quoted cell opened on line 7, column 41". The rows before that one are read;
    // the cut row is no row. Empty for a list that ends where it should.
    Text cutAt;
};

// The columns are found by their header names. Tolerated: a UTF-8 byte-order mark, CR LF or LF
// line ends, no line end after the last row, quotes inside unquoted cells, blank lines.
LolDriversRead ReadLolDriversCsv(std::span<const std::uint8_t> bytes);

// The header names the reader needs, in the order it reports missing ones.
extern const std::array<std::string_view, 7> kLolDriversRequiredColumns;

// ---- SiPolicy (driver block rules) ----

struct FileVersionNumber {
    std::array<std::uint16_t, 4> parts{};  // a.b.c.d
    auto operator<=>(const FileVersionNumber&) const = default;
};

// The leading "a.b.c.d" of a version string ("10.0.19041.1 (WinBuild.160101.0800)" and the
// older "1, 0, 0, 1" both read); parts left out are 0. Nothing when the string does not start
// with a number, or a part is above 65535.
std::optional<FileVersionNumber> ParseFileVersion(TextView text);

// The version-resource string a name rule names a file by: the rule's attribute of that name
// (FileName stands for OriginalFilename).
enum class RuleNameAttribute : std::uint8_t {
    kOriginalFilename,
    kInternalName,
    kFileDescription,
    kProductName,
};

struct BlockRule {
    enum class Kind : std::uint8_t { kImageHash, kNameAndVersion };
    Text id;  // the rule's ID attribute
    Kind kind = Kind::kImageHash;
    HashAlgorithm algorithm = HashAlgorithm::kSha1;  // kImageHash: by the hash's length
    std::string hash;                                // kImageHash: lower-case hex
    // kNameAndVersion: the name, which version-resource string it is compared with, and the
    // versions it blocks, both ends included.
    RuleNameAttribute nameAttribute = RuleNameAttribute::kOriginalFilename;
    Text name;
    FileVersionNumber lowestVersion;
    FileVersionNumber highestVersion{{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}};
    bool operator==(const BlockRule&) const = default;
};

struct SiPolicyRead {
    Text error;  // why the bytes are no policy (XML errors, another root); empty when read
    std::vector<BlockRule> rules;
    std::size_t ignoredFileAttribs = 0;  // FileAttrib rules: they apply only with a signer
    std::size_t ignoredDenyRules = 0;    // Deny rules of another form, or with a bad hash or
                                         // version
    // Where the document ends when it ends inside its document element, which only a file cut
    // short does: "inside <Deny> opened on line 31, column 5". The Deny rules whose elements
    // were read whole before the end are kept. Empty for a whole document.
    Text cutAt;
};

SiPolicyRead ReadSiPolicy(std::span<const std::uint8_t> bytes);

// ---- The lists together ----

// The format of a list from its first characters: an XML document (after a byte-order mark and
// white space) is a policy, anything else is taken for the CSV list.
ListFormat DetectListFormat(std::span<const std::uint8_t> bytes);

// What identifies a driver file against the lists. Hex in either case; an empty member is
// unknown and matches nothing.
struct FileIdentity {
    Text md5;
    Text sha1;
    Text sha256;
    Text imageSha1;    // the Authenticode image hash
    Text imageSha256;  // the Authenticode image hash
    // The version-resource strings and binary file version that name rules compare with; a file
    // without a binary version matches no name rule.
    VersionIdentity version;
};

// The identity of a row's file: its MD5 cell, its digests, its version resource.
FileIdentity MakeFileIdentity(const Text& md5, const FileDigests& digests, VersionIdentity version);

// The 64-bit binary file version (dwFileVersionMS, dwFileVersionLS) as a.b.c.d.
FileVersionNumber FileVersionFromBinary(std::uint64_t version);

// "LOLDrivers" or "SiPolicy".
TextView ListFormatText(ListFormat format);
// "file hash", "image hash", "name and version".
TextView MatchedByText(MatchedBy by);
// "MD5", "SHA-1", "SHA-256"; empty for kNone.
TextView MatchedAlgorithmText(MatchedAlgorithm algorithm);
// What matched, in words: "image hash SHA-256", "name and version".
Text MatchedText(const VulnerableMatch& match);

// The "Known Vulnerable" cell of a row: per list entry (or rule), in the order of the matches,
// "<list> <id>[ (<category>)]: <what matched>[, <what matched>...]", the entries joined by
// "; "; empty when there is no match. For example
// "LOLDrivers 0b1c...-9f (vulnerable driver): file hash SHA-256, image hash SHA-256".
Text KnownVulnerableText(const std::vector<VulnerableMatch>& matches);

// What loading one list came to, for the caller to report.
struct ListLoadReport {
    Text source;
    ListFormat format = ListFormat::kLolDriversCsv;
    Text error;  // the list could not be used at all; empty when it was loaded
    // The list was loaded, but its file was cut short: where it ends (LolDriversRead::cutAt,
    // SiPolicyRead::cutAt). Only the entries before the cut are used, and the list counts as
    // not read.
    Text cutAt;
    std::size_t entries = 0;  // LOLDrivers entries, or the policy's usable Deny rules
    std::size_t skippedRows = 0;
    std::size_t ignoredValues = 0;  // hash values of a wrong length; Deny rules not understood
    std::size_t ignoredFileAttribs = 0;
};

class VulnerableLists {
  public:
    // Reads one list, its format found from its bytes (DetectListFormat), and keeps it when it
    // could be read; a list that could not is kept out and its report says why. A list loaded
    // again under the same source replaces the one read before (a failed reload keeps it).
    ListLoadReport Load(std::span<const std::uint8_t> bytes, Text source);
    ListLoadReport Load(std::span<const std::uint8_t> bytes, Text source, ListFormat format);

    const std::vector<ListLoadReport>& Reports() const { return reports_; }
    // How many lists were loaded (those that could not be read are not counted).
    std::size_t Count() const { return lists_.size(); }
    // True when some list given to Load could not be read, or was cut short.
    bool AnyUnread() const;

    // Every match of the file in every list, in load order, then in the order of the entries of
    // each list; an entry that matches in several ways gives one match for each way.
    std::vector<VulnerableMatch> Match(const FileIdentity& file) const;

  private:
    struct Loaded {
        Text source;
        ListFormat format;
        std::vector<LolDriversEntry> entries;
        std::vector<BlockRule> rules;
    };
    std::vector<Loaded> lists_;
    std::vector<ListLoadReport> reports_;
};

}  // namespace tolvessa
