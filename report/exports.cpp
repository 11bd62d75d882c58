#include "report/exports.h"

#include <cstdio>
#include <string_view>

#include "tolvessa_product.h"

namespace tolvessa {

namespace {

constexpr std::size_t kSignatureColumn = kColumnCount + kDigestColumnCount;

// A cell that begins with "=", "+", "-", "@", a tab or a carriage return is one that a
// spreadsheet would take for a formula: it gets a leading apostrophe, which the spreadsheet
// shows as text. Publisher, description, version and signer come from files anyone may have
// written; no cell of this program legitimately begins with one of these characters (numbers
// are never negative, addresses begin with "0x").
std::string CsvField(TextView text) {
    std::string utf8 = TextToUtf8(text);
    if (!utf8.empty() && std::string_view("=+-@\t\r").find(utf8.front()) != std::string_view::npos)
        utf8.insert(utf8.begin(), '\'');
    if (utf8.find_first_of(",\"\r\n") == std::string::npos)
        return utf8;
    std::string quoted = "\"";
    for (const char c : utf8) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

void AppendCsvRow(std::string& out, const auto& cells) {
    bool first = true;
    for (const auto& cell : cells) {
        if (!first)
            out += ',';
        first = false;
        out += CsvField(cell);
    }
    out += "\r\n";
}

// The load order cell as a JSON number; null when it holds anything but decimal digits.
std::string LoadOrderJson(TextView cell) {
    if (cell.empty() || cell.size() > 19)
        return "null";
    for (const char16_t c : cell) {
        if (c < u'0' || c > u'9')
            return "null";
    }
    const std::string digits = TextToUtf8(cell);
    // No leading zeros in a JSON number.
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? "0" : digits.substr(first);
}

// "True" and "False" as booleans; anything else (the empty cell of a missing file) as null.
std::string FlagJson(TextView cell) {
    if (cell == u"True")
        return "true";
    if (cell == u"False")
        return "false";
    return "null";
}

class JsonObject {
  public:
    JsonObject(std::string& out, std::string indent) : out_(out), indent_(std::move(indent)) {
        out_ += "{";
    }
    void Raw(std::string_view name, std::string_view json) {
        out_ += first_ ? "\n" : ",\n";
        first_ = false;
        out_ += indent_ + "  \"";
        out_ += name;
        out_ += "\": ";
        out_ += json;
    }
    void String(std::string_view name, TextView text) { Raw(name, JsonString(text)); }
    void Close() { out_ += first_ ? "}" : "\n" + indent_ + "}"; }

  private:
    std::string& out_;
    std::string indent_;
    bool first_ = true;
};

std::string MatchJson(const VulnerableMatch& match, const std::string& indent) {
    std::string out;
    JsonObject object(out, indent);
    object.String("source", match.source);
    object.String("list", ListFormatText(match.format));
    object.String("id", match.id);
    object.Raw("category",
               match.format == ListFormat::kLolDriversCsv ? JsonString(match.category) : "null");
    object.String("matched", MatchedText(match));
    object.Close();
    return out;
}

std::string ModuleJson(const ModuleRecord& record, const std::string& indent) {
    const DriverRow& row = record.row;
    const FileDigests& digests = record.digests;
    std::string out;
    JsonObject object(out, indent);
    object.Raw("loadOrder", LoadOrderJson(row[kLoadOrder]));
    object.String("imageName", row[kImageName]);
    object.String("baseAddress", row[kBaseAddress]);
    object.String("imageSize", row[kImageSize]);
    object.String("publisher", row[kPublisher]);
    object.String("description", row[kDescription]);
    object.String("version", row[kVersion]);
    object.String("md5", row[kMd5Hash]);
    object.Raw("hidden", FlagJson(row[kHidden]));
    object.Raw("exists", FlagJson(row[kExists]));
    object.String("sha1", DigestText(digests.sha1));
    object.String("sha256", DigestText(digests.sha256));
    object.String("peSha1", DigestText(digests.peSha1));
    object.String("peSha256", DigestText(digests.peSha256));
    object.String("imphash", DigestText(digests.imphash));
    object.Raw("signature", record.trust ? JsonString(VerdictText(record.trust->verdict)) : "null");
    object.String("signer", record.trust ? TextView(record.trust->signer) : TextView());
    object.String("catalog", record.trust ? TextView(record.trust->catalog) : TextView());
    std::string matches = "[";
    const std::string inner = indent + "    ";
    for (std::size_t i = 0; i < record.vulnerable.size(); ++i) {
        matches += i == 0 ? "\n" : ",\n";
        matches += inner + MatchJson(record.vulnerable[i], inner);
    }
    matches += record.vulnerable.empty() ? "]" : "\n" + indent + "  ]";
    object.Raw("knownVulnerable", matches);
    object.Close();
    return out;
}

}  // namespace

std::vector<ModuleRecord> ModuleRecords(const DriverList& list) {
    std::vector<ModuleRecord> records;
    records.reserve(list.Count());
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const RowFindings& findings = list.Findings(i);
        records.push_back({list.Row(i), list.Digests(i), findings.trust, findings.vulnerable});
    }
    return records;
}

const std::array<TextView, kExportColumnCount> kExportColumnCaptions = [] {
    std::array<TextView, kExportColumnCount> captions{};
    std::size_t at = 0;
    for (const TextView caption : kColumnCaptions)
        captions[at++] = caption;
    for (const TextView caption : kDigestColumnCaptions)
        captions[at++] = caption;
    for (const TextView caption : {u"Signature", u"Signer", u"Catalog", u"Known Vulnerable"})
        captions[at++] = caption;
    return captions;
}();

Text ExtraCell(const FileDigests& digests, const RowFindings& findings, std::size_t column) {
    if (column < kColumnCount)
        return {};
    if (column < kSignatureColumn)
        return DigestCell(digests, column - kColumnCount);
    switch (column - kSignatureColumn) {
        case 0:
            return findings.trust ? Text(VerdictText(findings.trust->verdict)) : Text();
        case 1:
            return findings.trust ? findings.trust->signer : Text();
        case 2:
            return findings.trust ? findings.trust->catalog : Text();
        case 3:
            return KnownVulnerableText(findings.vulnerable);
        default:
            return {};
    }
}

std::array<Text, kExportColumnCount> ExportCells(const ModuleRecord& record) {
    std::array<Text, kExportColumnCount> cells;
    for (std::size_t i = 0; i < kColumnCount; ++i)
        cells[i] = record.row[i];
    const RowFindings findings{record.trust, record.vulnerable};
    for (std::size_t i = kColumnCount; i < kExportColumnCount; ++i)
        cells[i] = ExtraCell(record.digests, findings, i);
    return cells;
}

std::string ExportCsv(const std::vector<ModuleRecord>& records) {
    std::string out;
    AppendCsvRow(out, kExportColumnCaptions);
    for (const ModuleRecord& record : records)
        AppendCsvRow(out, ExportCells(record));
    return out;
}

std::string IsoUtcText(const UtcTime& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

std::string JsonString(TextView text) {
    static constexpr char kHex[] = "0123456789abcdef";
    const std::string utf8 = TextToUtf8(text);
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string ExportJson(const ExportContext& context, const std::vector<ModuleRecord>& records) {
    std::string out;
    JsonObject document(out, "");
    document.String("tool", TOLVESSA_U(TOLVESSA_TITLE));
    document.String("toolVersion", TOLVESSA_U(TOLVESSA_VERSION_DOTTED));
    document.Raw("formatVersion", std::to_string(kExportFormatVersion));
    document.String("computerName", context.computerName);
    document.Raw("time", JsonString(AsciiText(IsoUtcText(context.time))));
    document.Raw("bits", std::to_string(context.bits));
    std::string modules = "[";
    for (std::size_t i = 0; i < records.size(); ++i) {
        modules += i == 0 ? "\n    " : ",\n    ";
        modules += ModuleJson(records[i], "    ");
    }
    modules += records.empty() ? "]" : "\n  ]";
    document.Raw("modules", modules);
    document.Close();
    out += '\n';
    return out;
}

bool WriteExportFile(ReportFileApi& api, const Text& fileName, std::string_view bytes) {
    if (fileName.empty())
        return false;
    const std::unique_ptr<ReportFile> file = api.CreateWriteOnly(fileName);
    return file && file->Write(bytes);
}

}  // namespace tolvessa
