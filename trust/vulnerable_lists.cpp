#include "trust/vulnerable_lists.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "trust/xml_reader.h"

namespace tolvessa {

namespace {

// ---- CSV ----

// One record of an RFC 4180 file, with the tolerance the published list needs.
struct CsvRecord {
    std::vector<std::string> cells;
    bool malformed = false;  // text after a closing quote
    // A quote that is never closed: the data ends inside the cell, so it was cut short. Where
    // the quote is.
    std::optional<std::size_t> cutQuote;
};

class CsvCursor {
  public:
    explicit CsvCursor(std::string_view data) : data_(data) {
        if (data_.starts_with("\xEF\xBB\xBF"))
            data_.remove_prefix(3);
    }

    // The next record; false at the end of the data. Blank lines are passed over.
    bool Next(CsvRecord& record) {
        while (at_ < data_.size() && (data_[at_] == '\r' || data_[at_] == '\n'))
            ++at_;
        if (at_ >= data_.size())
            return false;
        record.cells.clear();
        record.malformed = false;
        record.cutQuote.reset();
        for (;;) {
            std::string cell;
            if (data_[at_] == '"')
                Quoted(cell, record);
            Unquoted(cell);
            record.cells.push_back(std::move(cell));
            if (at_ >= data_.size())
                return true;
            const char c = data_[at_++];
            if (c == ',') {
                if (at_ >= data_.size()) {
                    record.cells.emplace_back();  // a separator right at the end
                    return true;
                }
                continue;
            }
            if (c == '\r' && at_ < data_.size() && data_[at_] == '\n')
                ++at_;
            return true;  // the line end
        }
    }

    // Line and column (both from 1, the column in bytes) of a place in the data.
    std::pair<std::size_t, std::size_t> LineAndColumn(std::size_t at) const {
        const std::string_view before = data_.substr(0, at);
        const std::size_t lineStart = before.rfind('\n');
        const auto line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
        return {line + 1, lineStart == std::string_view::npos ? at + 1 : at - lineStart};
    }

  private:
    // A quoted cell, up to and including its closing quote; "" stands for one quote.
    void Quoted(std::string& cell, CsvRecord& record) {
        const std::size_t opening = at_;
        ++at_;
        for (;;) {
            const std::size_t quote = data_.find('"', at_);
            if (quote == std::string_view::npos) {
                cell.append(data_.substr(at_));
                at_ = data_.size();
                record.cutQuote = opening;  // never closed: it ran to the end of the data
                return;
            }
            cell.append(data_.substr(at_, quote - at_));
            at_ = quote + 1;
            if (at_ >= data_.size() || data_[at_] != '"')
                break;
            cell.push_back('"');
            ++at_;
        }
        if (at_ < data_.size() && !IsCellEnd(data_[at_]))
            record.malformed = true;  // text after the closing quote
    }

    // The rest of a cell up to a separator or a line end; quotes here stand for themselves.
    void Unquoted(std::string& cell) {
        const std::size_t end = std::min(data_.find_first_of(",\r\n", at_), data_.size());
        cell.append(data_.substr(at_, end - at_));
        at_ = end;
    }

    static bool IsCellEnd(char c) { return c == ',' || c == '\r' || c == '\n'; }

    std::string_view data_;
    std::size_t at_ = 0;
};

// Without the characters of code 0x20 and below around it, as TrimBlanks does for text.
std::string_view TrimAscii(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsHexDigit(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Lower-case hex of exactly `length` digits; nothing for anything else.
template <typename Char>
std::optional<std::string> LowerHex(std::basic_string_view<Char> text, std::size_t length) {
    if (text.size() != length)
        return std::nullopt;
    std::string out;
    out.reserve(length);
    for (const Char c : text) {
        if (!IsHexDigit(static_cast<char32_t>(c)))
            return std::nullopt;
        out.push_back(static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
    }
    return out;
}

// The values of a hash cell ("a, b, c"), each checked for its length; `ignored` counts those
// that are no hex of that length.
void ReadHashCell(std::string_view cell, std::size_t length, std::vector<std::string>& out,
                  std::size_t& ignored) {
    while (!cell.empty()) {
        const std::size_t comma = cell.find(',');
        const std::string_view value = TrimAscii(cell.substr(0, comma));
        cell = comma == std::string_view::npos ? std::string_view() : cell.substr(comma + 1);
        if (value.empty())
            continue;
        if (std::optional<std::string> hex = LowerHex(value, length)) {
            if (std::find(out.begin(), out.end(), *hex) == out.end())
                out.push_back(std::move(*hex));
        } else {
            ++ignored;
        }
    }
}

Text CellText(std::string_view cell) {
    return Utf8ToText(TrimAscii(cell));
}

// ---- Versions and names ----

char16_t FoldAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// File names compared as Windows compares them for the names drivers have: letters of the
// ASCII range without regard to case, everything else exactly.
bool SameFileName(TextView a, TextView b) {
    a = TrimBlanks(a);
    b = TrimBlanks(b);
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return FoldAscii(x) == FoldAscii(y); });
}

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
        std::optional<std::string> hex = LowerHex(digits, digits.size() == 64 ? 64 : 40);
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

std::string LowerHexOf(const Text& text, std::size_t length) {
    return LowerHex(TrimBlanks(text), length).value_or(std::string());
}

}  // namespace

const std::array<std::string_view, 7> kLolDriversRequiredColumns = {
    "Id",
    "Category",
    "KnownVulnerableSamples_MD5",
    "KnownVulnerableSamples_SHA1",
    "KnownVulnerableSamples_SHA256",
    "KnownVulnerableSamples_Authentihash_SHA1",
    "KnownVulnerableSamples_Authentihash_SHA256",
};

LolDriversRead ReadLolDriversCsv(std::span<const std::uint8_t> bytes) {
    LolDriversRead read;
    CsvCursor cursor(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    CsvRecord header;
    if (!cursor.Next(header)) {
        read.error = u"the list is empty: no header row";
        return read;
    }
    if (header.malformed || header.cutQuote) {
        read.error = u"the header row has a quote that is not closed properly";
        return read;
    }

    const auto column = [&header](std::string_view name) -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < header.cells.size(); ++i) {
            if (TrimAscii(header.cells[i]) == name)
                return i;
        }
        return std::nullopt;
    };
    std::array<std::size_t, kLolDriversRequiredColumns.size()> at{};
    Text missing;
    for (std::size_t i = 0; i < kLolDriversRequiredColumns.size(); ++i) {
        if (const std::optional<std::size_t> found = column(kLolDriversRequiredColumns[i])) {
            at[i] = *found;
        } else {
            missing += missing.empty() ? u"" : u", ";
            missing += AsciiText(kLolDriversRequiredColumns[i]);
        }
    }
    if (!missing.empty()) {
        read.error = u"not a LOLDrivers list: the header has no column " + missing;
        return read;
    }
    const std::optional<std::size_t> imageMd5 = column("KnownVulnerableSamples_Authentihash_MD5");

    CsvRecord record;
    while (cursor.Next(record)) {
        if (record.cutQuote) {
            // The last record, as the cell ran to the end of the data: no row at all.
            const auto [line, place] = cursor.LineAndColumn(*record.cutQuote);
            read.cutAt = u"inside a quoted cell opened on line " + DecimalText(line) +
                         u", column " + DecimalText(place);
            break;
        }
        ++read.rows;
        const std::vector<std::string>& cells = record.cells;
        if (record.malformed || cells.size() != header.cells.size() ||
            TrimAscii(cells[at[0]]).empty()) {
            ++read.skippedRows;
            continue;
        }
        LolDriversEntry entry;
        entry.id = CellText(cells[at[0]]);
        entry.category = CellText(cells[at[1]]);
        ReadHashCell(cells[at[2]], 32, entry.md5, read.ignoredHashes);
        ReadHashCell(cells[at[3]], 40, entry.sha1, read.ignoredHashes);
        ReadHashCell(cells[at[4]], 64, entry.sha256, read.ignoredHashes);
        ReadHashCell(cells[at[5]], 40, entry.imageSha1, read.ignoredHashes);
        ReadHashCell(cells[at[6]], 64, entry.imageSha256, read.ignoredHashes);
        if (imageMd5)
            ReadHashCell(cells[*imageMd5], 32, entry.imageMd5, read.ignoredHashes);
        read.entries.push_back(std::move(entry));
    }
    return read;
}

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

FileVersionNumber FileVersionFromBinary(std::uint64_t version) {
    FileVersionNumber number;
    for (std::size_t part = 0; part < number.parts.size(); ++part)
        number.parts[part] = static_cast<std::uint16_t>(version >> (48 - 16 * part));
    return number;
}

TextView ListFormatText(ListFormat format) {
    return format == ListFormat::kSiPolicy ? u"SiPolicy" : u"LOLDrivers";
}

TextView MatchedByText(MatchedBy by) {
    switch (by) {
        case MatchedBy::kFileHash:
            return u"file hash";
        case MatchedBy::kImageHash:
            return u"image hash";
        case MatchedBy::kNameAndVersion:
            break;
    }
    return u"name and version";
}

TextView MatchedAlgorithmText(MatchedAlgorithm algorithm) {
    switch (algorithm) {
        case MatchedAlgorithm::kMd5:
            return u"MD5";
        case MatchedAlgorithm::kSha1:
            return u"SHA-1";
        case MatchedAlgorithm::kSha256:
            return u"SHA-256";
        case MatchedAlgorithm::kNone:
            break;
    }
    return u"";
}

Text MatchedText(const VulnerableMatch& match) {
    Text text(MatchedByText(match.by));
    if (match.algorithm != MatchedAlgorithm::kNone) {
        text += u' ';
        text += MatchedAlgorithmText(match.algorithm);
    }
    return text;
}

Text KnownVulnerableText(const std::vector<VulnerableMatch>& matches) {
    struct Group {
        const VulnerableMatch* first;
        std::vector<Text> what;
    };
    std::vector<Group> groups;
    for (const VulnerableMatch& match : matches) {
        const auto same = [&match](const Group& group) {
            return group.first->source == match.source && group.first->format == match.format &&
                   group.first->id == match.id && group.first->category == match.category;
        };
        auto group = std::find_if(groups.begin(), groups.end(), same);
        if (group == groups.end())
            group = groups.insert(groups.end(), Group{&match, {}});
        Text what = MatchedText(match);
        if (std::find(group->what.begin(), group->what.end(), what) == group->what.end())
            group->what.push_back(std::move(what));
    }
    Text text;
    for (const Group& group : groups) {
        if (!text.empty())
            text += u"; ";
        text += ListFormatText(group.first->format);
        text += u' ';
        text += group.first->id;
        if (!group.first->category.empty())
            text += u" (" + group.first->category + u")";
        text += u":";
        for (std::size_t i = 0; i < group.what.size(); ++i)
            text += (i == 0 ? u" " : u", ") + group.what[i];
    }
    return text;
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
                       SameFileName(nameOf(rule.nameAttribute), rule.name)) {
                add(rule.id, Text(), MatchedBy::kNameAndVersion, MatchedAlgorithm::kNone);
            }
        }
    }
    return matches;
}

}  // namespace tolvessa
