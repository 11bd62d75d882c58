#include "trust/sipolicy_rules.h"

#include <algorithm>
#include <iterator>

#include "trust/xml_reader.h"

namespace tolvessa {

namespace {

// The attributes a name rule may name its file by. FileName is the OriginalFilename string: "By
// default, the FileName, FilePublisher, and WHQLFilePublisher rule levels use the
// OriginalFileName attribute from the file's resource header" (the page quoted at
// ReadVersionRange, "Use -SpecificFileNameLevel ..."). A policy made at another file-name level
// writes that attribute in FileName's place (Microsoft's own block rules hold FileAttrib rules
// by ProductName); PackageFamilyName and FilePath name no driver file.
constexpr struct {
    TextView attribute;
    RuleNameAttribute names;
} kNameAttributes[] = {
    {u"FileName", RuleNameAttribute::kOriginalFilename},
    {u"InternalName", RuleNameAttribute::kInternalName},
    {u"FileDescription", RuleNameAttribute::kFileDescription},
    {u"ProductName", RuleNameAttribute::kProductName},
};

bool IsNameAttribute(TextView name) {
    return std::any_of(std::begin(kNameAttributes), std::end(kNameAttributes),
                       [name](const auto& known) { return known.attribute == name; });
}

// A Deny rule by name and version names these attributes and no others: any other would narrow
// the rule beyond what is checked here, and matching without it would accuse files it spares.
bool OnlyNameAndVersion(const XmlElement& rule) {
    for (const XmlAttribute& attribute : rule.attributes) {
        const Text& name = attribute.name;
        if (name != u"ID" && name != u"FriendlyName" && !IsNameAttribute(name) &&
            name != u"MinimumFileVersion" && name != u"MaximumFileVersion")
            return false;
    }
    return true;
}

// The versions a Deny rule by name blocks. Microsoft's description of file rule levels ("Understand
// App Control for Business policy rules and file rules",
// learn.microsoft.com/windows/security/application-security/application-control/
// app-control-for-business/design/select-types-of-rules-to-create):
//   "Both MinimumFileVersion and MaximumFileVersion specified: [...] For Deny rules, file with
//    version greater than or equal to MinimumFileVersion and less than or equal to
//    MaximumFileVersion are denied."
//   "MinimumFileVersion specified without MaximumFileVersion: [...] For Deny rules, file with
//    version less than or equal to the specified version are blocked."
//   "MaximumFileVersion specified without MinimumFileVersion: [...] For Deny rules, file with
//    version greater than or equal to the specified version are blocked."
// So MinimumFileVersion="65535.65535.65535.65535" alone blocks every version. Nothing when a
// version cannot be read, none is given, or the range is empty.
bool ReadVersionRange(const XmlElement& deny, BlockRule& rule) {
    const std::optional<TextView> minimum = deny.Attribute(u"MinimumFileVersion");
    const std::optional<TextView> maximum = deny.Attribute(u"MaximumFileVersion");
    if (!minimum && !maximum)
        return false;
    std::optional<FileVersionNumber> low, high;
    if (minimum && !(low = ParseFileVersion(*minimum)))
        return false;
    if (maximum && !(high = ParseFileVersion(*maximum)))
        return false;
    if (low && high) {
        rule.lowestVersion = *low;
        rule.highestVersion = *high;
    } else if (low) {
        rule.lowestVersion = FileVersionNumber{};
        rule.highestVersion = *low;
    } else {
        rule.lowestVersion = *high;
        rule.highestVersion = FileVersionNumber{{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}};
    }
    return rule.lowestVersion <= rule.highestVersion;
}

std::optional<BlockRule> DenyRule(const XmlElement& deny) {
    const std::optional<TextView> id = deny.Attribute(u"ID");
    if (!id || TrimBlanks(*id).empty())
        return std::nullopt;
    BlockRule rule;
    rule.id = Text(TrimBlanks(*id));
    if (const std::optional<TextView> hash = deny.Attribute(u"Hash")) {
        // The hash of an image (or one of its pages) with SHA-1 or SHA-256, told apart by length.
        const TextView digits = TrimBlanks(*hash);
        rule.kind = BlockRule::Kind::kImageHash;
        rule.algorithm = digits.size() == 64 ? HashAlgorithm::kSha256 : HashAlgorithm::kSha1;
        std::optional<std::string> hex = LowerHexDigits(digits, digits.size() == 64 ? 64 : 40);
        if (!hex)
            return std::nullopt;
        rule.hash = std::move(*hex);
        return rule;
    }
    if (!OnlyNameAndVersion(deny))
        return std::nullopt;
    // Exactly one name: two would have to hold both at once, which is not checked here.
    std::optional<TextView> name;
    for (const auto& known : kNameAttributes) {
        if (const std::optional<TextView> value = deny.Attribute(known.attribute)) {
            if (name)
                return std::nullopt;
            name = value;
            rule.nameAttribute = known.names;
        }
    }
    if (!name || TrimBlanks(*name).empty() || !ReadVersionRange(deny, rule))
        return std::nullopt;
    rule.kind = BlockRule::Kind::kNameAndVersion;
    rule.name = Text(TrimBlanks(*name));
    return rule;
}

}  // namespace

std::optional<FileVersionNumber> ParseFileVersion(TextView text) {
    FileVersionNumber version;
    std::size_t at = 0;
    const auto skipBlanks = [&] {
        while (at < text.size() && (text[at] == u' ' || text[at] == u'\t'))
            ++at;
    };
    const auto isDigit = [&](std::size_t i) {
        return i < text.size() && text[i] >= u'0' && text[i] <= u'9';
    };
    skipBlanks();
    for (std::size_t part = 0; part < version.parts.size(); ++part) {
        if (!isDigit(at))
            return part == 0 ? std::nullopt : std::optional(version);
        std::uint32_t value = 0;
        for (; isDigit(at); ++at) {
            value = value * 10 + static_cast<std::uint32_t>(text[at] - u'0');
            if (value > 0xFFFF)
                return std::nullopt;
        }
        version.parts[part] = static_cast<std::uint16_t>(value);
        // A separator counts only when another number follows it.
        std::size_t next = at;
        while (next < text.size() && (text[next] == u' ' || text[next] == u'\t'))
            ++next;
        if (next >= text.size() || (text[next] != u'.' && text[next] != u','))
            break;
        ++next;
        while (next < text.size() && (text[next] == u' ' || text[next] == u'\t'))
            ++next;
        if (!isDigit(next))
            break;
        at = next;
    }
    return version;
}

SiPolicyRead ReadSiPolicy(std::span<const std::uint8_t> bytes) {
    SiPolicyRead read;
    XmlResult xml = ReadXml(bytes);
    // A document cut short is read as far as it goes.
    const std::optional<XmlElement>& root = xml.root ? xml.root : xml.partial;
    if (!root) {
        read.error = u"not an XML document: " + xml.error;
        return read;
    }
    if (root->LocalName() != u"SiPolicy") {
        read.error = u"not a code-integrity policy: the document element is <" + root->name +
                     u">, not <SiPolicy>";
        return read;
    }
    read.cutAt = std::move(xml.cutAt);
    // Every Deny rule of the policy's file rules counts, whichever signing scenario refers to
    // it: the recommended driver block rules refer to all of them from the kernel's. Of a cut
    // document only the rules read whole count.
    for (const XmlElement& section : root->children) {
        if (section.LocalName() != u"FileRules")
            continue;
        for (const XmlElement& rule : section.children) {
            if (!rule.closed)
                continue;
            const TextView kind = rule.LocalName();
            if (kind == u"FileAttrib") {
                // A FileAttrib (file name, version, product) applies only together with the
                // certificate of the Signer that refers to it, and the signer's certificate is
                // not checked here: on its own it would block every file of that name,
                // whoever signed it. So these rules are counted and left out.
                ++read.ignoredFileAttribs;
            } else if (kind == u"Deny") {
                if (std::optional<BlockRule> deny = DenyRule(rule))
                    read.rules.push_back(std::move(*deny));
                else
                    ++read.ignoredDenyRules;
            }
        }
    }
    return read;
}

FileVersionNumber FileVersionFromBinary(std::uint64_t version) {
    FileVersionNumber number;
    for (std::size_t part = 0; part < number.parts.size(); ++part)
        number.parts[part] = static_cast<std::uint16_t>(version >> (48 - 16 * part));
    return number;
}

}  // namespace tolvessa
