// Microsoft's recommended driver block rules as a code-integrity policy (SiPolicy XML): the Deny
// rules read from the policy's bytes, and the file versions they name.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "inventory/file_digests.h"
#include "inventory/text.h"

namespace tolvessa {

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

// The 64-bit binary file version (dwFileVersionMS, dwFileVersionLS) as a.b.c.d.
FileVersionNumber FileVersionFromBinary(std::uint64_t version);

}  // namespace tolvessa
