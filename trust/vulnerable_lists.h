// Lists of known-vulnerable (and malicious) drivers together, and the check of a driver file
// against them: which format a list is, loading lists, and matching a file's identity. The
// readers of the two formats (loldrivers_csv.h, sipolicy_rules.h) and the words for a match
// (vulnerable_text.h) come with this header; reading the files is the caller's.
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
#include "trust/loldrivers_csv.h"
#include "trust/sipolicy_rules.h"
#include "trust/vulnerable_text.h"

namespace tolvessa {

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
