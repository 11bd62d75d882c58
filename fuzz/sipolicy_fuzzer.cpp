// The XML reader and the block-rule policy reader on any bytes: the element tree stays within
// its depth, every rule kept is sound (an ID, a hash of its algorithm's length in lower-case
// hex, or a name and a version range that is not empty), each rule is found again by the file
// it describes with a match that names its source, the rules written back as a policy (UTF-8
// and UTF-16) read back the same, and a whole policy cut short somewhere (as a download cut in
// transit) keeps the rules read whole before the cut and no other.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "trust/vulnerable_lists.h"
#include "trust/xml_reader.h"

namespace tolvessa::fuzz {
namespace {

// The depth of the tree under `element` (1 for a leaf); every name non-empty.
std::size_t Depth(const XmlElement& element) {
    FUZZ_CHECK(!element.name.empty());
    std::size_t deepest = 0;
    for (const XmlElement& child : element.children)
        deepest = std::max(deepest, Depth(child));
    return deepest + 1;
}

// An attribute value that reads back as `text`: markup characters and white space characters
// (which the reader turns into blanks) as references.
std::string Escaped(const Text& text) {
    std::string out;
    for (const char c : TextToUtf8(text)) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string VersionText(const FileVersionNumber& version) {
    return std::to_string(version.parts[0]) + "." + std::to_string(version.parts[1]) + "." +
           std::to_string(version.parts[2]) + "." + std::to_string(version.parts[3]);
}

const char* NameAttribute(RuleNameAttribute attribute) {
    switch (attribute) {
        case RuleNameAttribute::kInternalName:
            return "InternalName";
        case RuleNameAttribute::kFileDescription:
            return "FileDescription";
        case RuleNameAttribute::kProductName:
            return "ProductName";
        case RuleNameAttribute::kOriginalFilename:
            break;
    }
    return "FileName";
}

Text& NameMember(FileIdentity& file, RuleNameAttribute attribute) {
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
}

std::uint64_t Binary(const FileVersionNumber& version) {
    std::uint64_t packed = 0;
    for (const std::uint16_t part : version.parts)
        packed = packed << 16 | part;
    return packed;
}

// Both ends written: in a Deny rule they mean the range itself.
std::string Written(const std::vector<BlockRule>& rules) {
    std::string out =
        "<?xml version=\"1.0\"?>\n<SiPolicy xmlns=\"urn:schemas-microsoft-com:sipolicy\">"
        "<FileRules>\n";
    for (const BlockRule& rule : rules) {
        out += "<Deny ID=\"" + Escaped(rule.id) + "\"";
        if (rule.kind == BlockRule::Kind::kImageHash) {
            out += " Hash=\"" + rule.hash + "\"/>\n";
        } else {
            out += std::string(" ") + NameAttribute(rule.nameAttribute) + "=\"" +
                   Escaped(rule.name) + "\" MinimumFileVersion=\"" +
                   VersionText(rule.lowestVersion) + "\" MaximumFileVersion=\"" +
                   VersionText(rule.highestVersion) + "\"/>\n";
        }
    }
    return out + "</FileRules></SiPolicy>\n";
}

std::vector<std::uint8_t> Utf16Of(const std::string& utf8) {
    std::vector<std::uint8_t> out = {0xFF, 0xFE};
    for (const char16_t unit : Utf8ToText(utf8)) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

bool SoundHash(const BlockRule& rule) {
    const std::size_t length = rule.algorithm == HashAlgorithm::kSha256 ? 64 : 40;
    if (rule.hash.size() != length)
        return false;
    for (const char c : rule.hash) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

}  // namespace
}  // namespace tolvessa::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    using namespace tolvessa::fuzz;
    const std::span<const std::uint8_t> bytes(data, size);

    const XmlResult xml = ReadXml(bytes);
    FUZZ_CHECK(xml.root.has_value() == xml.error.empty());
    FUZZ_CHECK(!(xml.root && xml.partial));
    FUZZ_CHECK(xml.partial.has_value() == !xml.cutAt.empty());
    if (xml.root)
        FUZZ_CHECK(Depth(*xml.root) <= kMaxXmlDepth);
    if (xml.partial)
        FUZZ_CHECK(Depth(*xml.partial) <= kMaxXmlDepth && !xml.partial->closed);

    const SiPolicyRead read = ReadSiPolicy(bytes);
    if (!read.error.empty()) {
        FUZZ_CHECK(read.rules.empty() && read.ignoredDenyRules == 0 &&
                   read.ignoredFileAttribs == 0);
        return 0;
    }
    FUZZ_CHECK(xml.root.has_value() || xml.partial.has_value());
    FUZZ_CHECK(read.cutAt == xml.cutAt);
    for (const BlockRule& rule : read.rules) {
        FUZZ_CHECK(!TrimBlanks(rule.id).empty());
        if (rule.kind == BlockRule::Kind::kImageHash)
            FUZZ_CHECK(SoundHash(rule));
        else
            FUZZ_CHECK(!TrimBlanks(rule.name).empty() && rule.lowestVersion <= rule.highestVersion);
    }

    // The policy cut short at a place the last byte picks: the rules whose elements end before
    // the cut, and no other, in their order.
    if (read.cutAt.empty() && size > 1) {
        const std::size_t at = size * data[size - 1] / 256;
        const SiPolicyRead cut = ReadSiPolicy(bytes.first(at));
        if (cut.error.empty()) {
            FUZZ_CHECK(cut.rules.size() <= read.rules.size());
            for (std::size_t i = 0; i < cut.rules.size(); ++i)
                FUZZ_CHECK(cut.rules[i] == read.rules[i]);
        }
    }

    if (read.rules.empty())
        return 0;
    VulnerableLists lists;
    const ListLoadReport report = lists.Load(bytes, u"fuzz.xml", ListFormat::kSiPolicy);
    FUZZ_CHECK(report.error.empty() && report.entries == read.rules.size());
    FUZZ_CHECK(report.cutAt == read.cutAt && lists.AnyUnread() == !read.cutAt.empty());

    // The first few rules, each by the file it describes.
    constexpr std::size_t kLookups = 8;
    for (std::size_t i = 0; i < read.rules.size() && i < kLookups; ++i) {
        const BlockRule& rule = read.rules[i];
        FileIdentity file;
        if (rule.kind == BlockRule::Kind::kImageHash) {
            Text& member =
                rule.algorithm == HashAlgorithm::kSha256 ? file.imageSha256 : file.imageSha1;
            member = AsciiText(rule.hash);
        } else {
            NameMember(file, rule.nameAttribute) = rule.name;
            file.version.fileVersion = Binary(rule.lowestVersion);
        }
        const std::vector<VulnerableMatch> matches = lists.Match(file);
        bool found = false;
        for (const VulnerableMatch& match : matches) {
            FUZZ_CHECK(match.source == u"fuzz.xml" && !match.id.empty());
            FUZZ_CHECK(match.format == ListFormat::kSiPolicy && match.category.empty());
            FUZZ_CHECK(match.by != MatchedBy::kFileHash);
            found = found || match.id == rule.id;
        }
        FUZZ_CHECK(found);
        FUZZ_CHECK(KnownVulnerableText(matches).empty() == matches.empty());
    }

    // Written back and read again, as UTF-8 and as UTF-16: the same rules.
    {
        const std::string again = Written(read.rules);
        const SiPolicyRead reread = ReadSiPolicy(
            std::span(reinterpret_cast<const std::uint8_t*>(again.data()), again.size()));
        FUZZ_CHECK(reread.error.empty() && reread.ignoredDenyRules == 0);
        FUZZ_CHECK(reread.rules == read.rules);
        const SiPolicyRead wide = ReadSiPolicy(Utf16Of(again));
        FUZZ_CHECK(wide.rules == read.rules);
    }
    return 0;
}
