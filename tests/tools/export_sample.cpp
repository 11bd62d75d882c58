// Writes the CSV and JSON exports of a fixed set of rows, for the tests that hold the exports to
// their schema and to the fleet artifact. The rows are matched against the vulnerable lists
// named on the command line, as the program matches its own.
//
//   tolvessa_export_sample --csv FILE --json FILE [--list FILE]...
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "report/exports.h"
#include "trust/vulnerable_lists.h"

namespace {

using namespace tolvessa;

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
}

// A digest from its hex digits.
template <std::size_t N>
std::array<std::uint8_t, N> Digest(std::string_view hex) {
    std::array<std::uint8_t, N> digest{};
    for (std::size_t i = 0; i < N && 2 * i + 1 < hex.size(); ++i)
        digest[i] =
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    return digest;
}

DriverRow Row(std::initializer_list<TextView> cells) {
    DriverRow row;
    std::size_t at = 0;
    for (const TextView cell : cells)
        row[at++] = Text(cell);
    return row;
}

std::vector<ModuleRecord> SampleRecords(const VulnerableLists& lists) {
    std::vector<ModuleRecord> records;

    // A signed driver on both fixture lists (LOLDrivers row A, the policy's SHA-256 rule).
    ModuleRecord listed;
    listed.row = Row({u"0", u"C:\\Windows\\System32\\drivers\\fixvuln.sys", u"0xFFFFF8025A400000",
                      u"0x21000", u"Fixture Vendor Ltd.", u"fixvuln driver", u"2.5.0.11",
                      u"DA8F7315E7708A77A39F755DDD4ABB53", u"False", u"True"});
    listed.digests = {
        Digest<20>("90ACF7DA7443AE78A915F2463508B09EC43BBAB8"),
        Digest<32>("702BF66DED47B1C82EB50F65C0F6C2B021F0B2FD5C0BBD0B65BCD294B434E994"),
        Digest<20>("3C9B2A1D0E8F7A6B5C4D3E2F1A0B9C8D7E6F5A4B"),
        Digest<32>("C478886193C62E38C6F178F2A0D41817529C062DEB6AA859825A4BCA84C58B52"),
        Digest<16>("0F1E2D3C4B5A69788796A5B4C3D2E1F0")};
    listed.trust = FileTrust{SignatureVerdict::kEmbedded, u"Fixture Vendor Ltd.", u""};
    listed.vulnerable = lists.Match(MakeFileIdentity(
        listed.row[kMd5Hash], listed.digests, {u"fixvuln.sys", u"", u"", u"", 0x000200050000000B}));
    records.push_back(std::move(listed));

    // On the policy by name and version; checked through a catalog; text that needs quoting.
    ModuleRecord named;
    named.row = Row({u"1", u"C:\\Windows\\System32\\drivers\\oldio.sys", u"0xFFFFF8025A500000",
                     u"0x7000", u"Old I/O, \"Classic\" Edition",
                     u"Line one\r\nline two\ttabbed \u00E9\u20AC\U0001F600 \x01", u"2.4.0.0",
                     u"66E7C8092558DE31C7CDF2CF710FC568", u"False", u"True"});
    named.digests.sha256 =
        Digest<32>("4B92CB3780A8CD3FBF6A0009EFD4F3DB66ED4BD4EA4D8606F74B46EE1E1E4415");
    named.trust = FileTrust{SignatureVerdict::kCatalog, u"Microsoft Windows", u"oldio.cat"};
    named.vulnerable = lists.Match(MakeFileIdentity(
        named.row[kMd5Hash], named.digests, {u"OLDIO.SYS", u"", u"", u"", 0x0002000400000000}));
    records.push_back(std::move(named));

    // A module whose file is gone: most cells empty; signatures not checked.
    ModuleRecord gone;
    gone.row = Row({u"2", u"\\SystemRoot\\System32\\drivers\\gone.sys", u"0xFFFFF8025A600000",
                    u"0x1000", u"", u"", u"", u"", u"", u"False"});
    Text broken = u"lone ";
    broken.push_back(char16_t(0xD800));
    gone.row[kDescription] = broken;
    records.push_back(std::move(gone));

    // Unsigned, on no list, a 32-bit base address; texts its file's author wrote to look like
    // spreadsheet formulas.
    ModuleRecord plain;
    plain.row = Row({u"3", u"C:\\Tools\\acme.sys", u"0x8A400000", u"0x3000", u"@Acme",
                     u"=HYPERLINK(\"http://acme.example\",\"Acme\")", u"-1.0",
                     u"0123456789ABCDEF0123456789ABCDEF", u"True", u"True"});
    plain.trust = FileTrust{SignatureVerdict::kUnsigned, u"", u""};
    records.push_back(std::move(plain));

    // There, but held open by another program: no digests, the MD5 cell all zeros, "Unreadable".
    ModuleRecord held;
    held.row = Row({u"4", u"C:\\Tools\\held.sys", u"0x8A500000", u"0x2000", u"", u"", u"",
                    u"00000000000000000000000000000000", u"False", u"True"});
    held.trust = FileTrust{SignatureVerdict::kUnreadable, u"", u""};
    records.push_back(std::move(held));
    return records;
}

}  // namespace

int main(int argc, char** argv) {
    std::string csvPath;
    std::string jsonPath;
    std::vector<std::string> listPaths;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--csv")
            csvPath = argv[i + 1];
        else if (option == "--json")
            jsonPath = argv[i + 1];
        else if (option == "--list")
            listPaths.emplace_back(argv[i + 1]);
    }
    if (csvPath.empty() || jsonPath.empty()) {
        std::cerr << "usage: tolvessa_export_sample --csv FILE --json FILE [--list FILE]...\n";
        return 2;
    }

    VulnerableLists lists;
    for (const std::string& path : listPaths) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        const ListLoadReport report = lists.Load(bytes, Utf8ToText(path));
        if (!report.error.empty()) {
            std::cerr << path << ": " << TextToUtf8(report.error) << "\n";
            return 1;
        }
    }
    const std::vector<ModuleRecord> records = SampleRecords(lists);
    const ExportContext context{u"FIXTURE-PC", {2026, 3, 1, 9, 5, 7}, 64};
    if (!WriteFile(csvPath, ExportCsv(records)) ||
        !WriteFile(jsonPath, ExportJson(context, records)))
        return 1;
    return 0;
}
