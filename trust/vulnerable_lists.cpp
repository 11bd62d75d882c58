#include "trust/vulnerable_lists.h"

#include <algorithm>
#include <string>

#include "trust/xml_reader.h"

namespace tolvessa {

namespace {

std::string LowerHexOf(const Text& text, std::size_t length) {
    return LowerHexDigits(TrimBlanks(text), length).value_or(std::string());
}

}  // namespace

ListFormat DetectListFormat(std::span<const std::uint8_t> bytes) {
    // The first few hundred bytes tell, cut to an even count so that UTF-16 decodes.
    const std::span<const std::uint8_t> start =
        bytes.first(std::min<std::size_t>(bytes.size(), 512) & ~std::size_t{1});
    const std::optional<Text> text = DecodeXmlBytes(start);
    if (!text)
        return ListFormat::kLolDriversCsv;
    const TextView trimmed = TrimBlanks(*text);
    return !trimmed.empty() && trimmed.front() == u'<' ? ListFormat::kSiPolicy
                                                       : ListFormat::kLolDriversCsv;
}

FileIdentity MakeFileIdentity(const Text& md5, const FileDigests& digests,
                              VersionIdentity version) {
    FileIdentity identity;
    identity.md5 = md5;
    identity.sha1 = DigestText(digests.sha1);
    identity.sha256 = DigestText(digests.sha256);
    identity.imageSha1 = DigestText(digests.peSha1);
    identity.imageSha256 = DigestText(digests.peSha256);
    identity.version = std::move(version);
    return identity;
}

ListLoadReport VulnerableLists::Load(std::span<const std::uint8_t> bytes, Text source) {
    return Load(bytes, std::move(source), DetectListFormat(bytes));
}

ListLoadReport VulnerableLists::Load(std::span<const std::uint8_t> bytes, Text source,
                                     ListFormat format) {
    ListLoadReport report;
    report.source = source;
    report.format = format;
    Loaded loaded{std::move(source), format, {}, {}};
    if (format == ListFormat::kLolDriversCsv) {
        LolDriversRead read = ReadLolDriversCsv(bytes);
        report.error = std::move(read.error);
        report.cutAt = std::move(read.cutAt);
        report.entries = read.entries.size();
        report.skippedRows = read.skippedRows;
        report.ignoredValues = read.ignoredHashes;
        // A list whose every row is broken is broken as a whole.
        if (report.error.empty() && read.rows > 0 && read.entries.empty()) {
            report.error = u"not one row of the list could be read (" +
                           DecimalText(read.skippedRows) + u" malformed)";
        }
        loaded.entries = std::move(read.entries);
    } else {
        SiPolicyRead read = ReadSiPolicy(bytes);
        report.error = std::move(read.error);
        report.cutAt = std::move(read.cutAt);
        report.entries = read.rules.size();
        report.ignoredValues = read.ignoredDenyRules;
        report.ignoredFileAttribs = read.ignoredFileAttribs;
        loaded.rules = std::move(read.rules);
    }
    if (report.error.empty()) {
        // A list loaded again under its name takes the place of what was read of it before.
        const auto same = std::find_if(lists_.begin(), lists_.end(), [&](const Loaded& list) {
            return list.source == loaded.source;
        });
        if (same != lists_.end())
            *same = std::move(loaded);
        else
            lists_.push_back(std::move(loaded));
    }
    reports_.push_back(report);
    return report;
}

bool VulnerableLists::AnyUnread() const {
    return std::any_of(reports_.begin(), reports_.end(), [](const ListLoadReport& report) {
        return !report.error.empty() || !report.cutAt.empty();
    });
}

std::vector<VulnerableMatch> VulnerableLists::Match(const FileIdentity& file) const {
    const std::string md5 = LowerHexOf(file.md5, 32);
    const std::string sha1 = LowerHexOf(file.sha1, 40);
    const std::string sha256 = LowerHexOf(file.sha256, 64);
    const std::string imageSha1 = LowerHexOf(file.imageSha1, 40);
    const std::string imageSha256 = LowerHexOf(file.imageSha256, 64);
    // Name rules compare the binary version of the fixed file information, as code integrity
    // does; a file without one matches none of them.
    const bool versioned = file.version.fileVersion.has_value();
    const FileVersionNumber version =
        versioned ? FileVersionFromBinary(*file.version.fileVersion) : FileVersionNumber{};
    const auto nameOf = [&file](RuleNameAttribute attribute) -> const Text& {
        switch (attribute) {
            case RuleNameAttribute::kInternalName:
                return file.version.internalName;
            case RuleNameAttribute::kFileDescription:
                return file.version.fileDescription;
            case RuleNameAttribute::kProductName:
                return file.version.productName;
            case RuleNameAttribute::kOriginalFilename:
                break;
        }
        return file.version.originalFilename;
    };

    std::vector<VulnerableMatch> matches;
    for (const Loaded& list : lists_) {
        const auto add = [&](const Text& id, const Text& category, MatchedBy by,
                             MatchedAlgorithm algorithm) {
            matches.push_back({list.source, list.format, id, category, by, algorithm});
        };
        const auto holds = [](const std::vector<std::string>& values, const std::string& value) {
            return !value.empty() && std::find(values.begin(), values.end(), value) != values.end();
        };
        for (const LolDriversEntry& entry : list.entries) {
            const struct {
                const std::vector<std::string>& values;
                const std::string& value;
                MatchedBy by;
                MatchedAlgorithm algorithm;
            } checks[] = {
                {entry.md5, md5, MatchedBy::kFileHash, MatchedAlgorithm::kMd5},
                {entry.sha1, sha1, MatchedBy::kFileHash, MatchedAlgorithm::kSha1},
                {entry.sha256, sha256, MatchedBy::kFileHash, MatchedAlgorithm::kSha256},
                // entry.imageMd5 has no counterpart: no MD5 image hash is computed.
                {entry.imageSha1, imageSha1, MatchedBy::kImageHash, MatchedAlgorithm::kSha1},
                {entry.imageSha256, imageSha256, MatchedBy::kImageHash, MatchedAlgorithm::kSha256},
            };
            for (const auto& check : checks) {
                if (holds(check.values, check.value))
                    add(entry.id, entry.category, check.by, check.algorithm);
            }
        }
        for (const BlockRule& rule : list.rules) {
            if (rule.kind == BlockRule::Kind::kImageHash) {
                const bool sha256Rule = rule.algorithm == HashAlgorithm::kSha256;
                const std::string& value = sha256Rule ? imageSha256 : imageSha1;
                if (!value.empty() && value == rule.hash) {
                    add(rule.id, Text(), MatchedBy::kImageHash,
                        sha256Rule ? MatchedAlgorithm::kSha256 : MatchedAlgorithm::kSha1);
                }
            } else if (versioned && rule.lowestVersion <= version &&
                       version <= rule.highestVersion &&
                       !TrimBlanks(nameOf(rule.nameAttribute)).empty() &&
                       SameFileName(TrimBlanks(nameOf(rule.nameAttribute)),
                                    TrimBlanks(rule.name))) {
                add(rule.id, Text(), MatchedBy::kNameAndVersion, MatchedAlgorithm::kNone);
            }
        }
    }
    return matches;
}

}  // namespace tolvessa
