// The XML reader and the block-rule policy reader on any bytes: the element tree stays within
// its depth, every rule kept is sound (an ID, a hash of its algorithm's length in lower-case
// hex, or a file name), each rule is found again by the file it describes with a match that
// names its source, and the rules written back as a policy (UTF-8 and UTF-16) read back the same.
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

std::string Written(const std::vector<BlockRule>& rules) {
    std::string out =
        "<?xml version=\"1.0\"?>\n<SiPolicy xmlns=\"urn:schemas-microsoft-com:sipolicy\">"
        "<FileRules>\n";
    for (const BlockRule& rule : rules) {
        out += "<Deny ID=\"" + Escaped(rule.id) + "\"";
        if (rule.kind == BlockRule::Kind::kImageHash) {
            out += " Hash=\"" + rule.hash + "\"/>\n";
        } else {
            out += " FileName=\"" + Escaped(rule.fileName) + "\" MaximumFileVersion=\"" +
                   VersionText(rule.maximumVersion) + "\"/>\n";
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
    if (xml.root)
        FUZZ_CHECK(Depth(*xml.root) <= kMaxXmlDepth);

    const SiPolicyRead read = ReadSiPolicy(bytes);
    if (!read.error.empty()) {
        FUZZ_CHECK(read.rules.empty() && read.ignoredDenyRules == 0 &&
                   read.ignoredFileAttribs == 0);
        return 0;
    }
    FUZZ_CHECK(xml.root.has_value());
    for (const BlockRule& rule : read.rules) {
        FUZZ_CHECK(!TrimBlanks(rule.id).empty());
        if (rule.kind == BlockRule::Kind::kImageHash)
            FUZZ_CHECK(SoundHash(rule));
        else
            FUZZ_CHECK(!TrimBlanks(rule.fileName).empty());
    }

    if (read.rules.empty())
        return 0;
    VulnerableLists lists;
    const ListLoadReport report = lists.Load(bytes, u"fuzz.xml", ListFormat::kSiPolicy);
    FUZZ_CHECK(report.error.empty() && report.entries == read.rules.size());

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
            file.originalFilename = rule.fileName;
            file.fileVersion = AsciiText(VersionText(rule.maximumVersion));
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
