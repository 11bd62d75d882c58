// The LOLDrivers list reader on any bytes: every entry it keeps is sound (an Id, hashes of their
// column's length in lower-case hex, each once), the counts add up, every entry is found again
// by its own hashes with a match that names its source, the entries written back as a CSV
// read back the same, and a whole list cut short somewhere (as a download cut in transit) keeps
// the entries of the rows before the cut.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "trust/vulnerable_lists.h"

namespace tolvessa::fuzz {
namespace {

bool SoundHashes(const std::vector<std::string>& values, std::size_t length) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i].size() != length)
            return false;
        for (const char c : values[i]) {
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
                return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (values[j] == values[i])
                return false;
        }
    }
    return true;
}

std::string Quoted(const std::string& cell) {
    std::string out = "\"";
    for (const char c : cell) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string Joined(const std::vector<std::string>& values) {
    std::string out;
    for (const std::string& value : values)
        out += (out.empty() ? "" : ", ") + value;
    return out;
}

// The entries as a list in the published layout, the columns the reader uses only.
std::string Written(const std::vector<LolDriversEntry>& entries) {
    std::string out =
        "\"Id\",\"Category\",\"KnownVulnerableSamples_MD5\",\"KnownVulnerableSamples_SHA1\","
        "\"KnownVulnerableSamples_SHA256\",\"KnownVulnerableSamples_Authentihash_MD5\","
        "\"KnownVulnerableSamples_Authentihash_SHA1\","
        "\"KnownVulnerableSamples_Authentihash_SHA256\"\r\n";
    for (const LolDriversEntry& e : entries) {
        out += Quoted(TextToUtf8(e.id)) + "," + Quoted(TextToUtf8(e.category)) + "," +
               Quoted(Joined(e.md5)) + "," + Quoted(Joined(e.sha1)) + "," +
               Quoted(Joined(e.sha256)) + "," + Quoted(Joined(e.imageMd5)) + "," +
               Quoted(Joined(e.imageSha1)) + "," + Quoted(Joined(e.imageSha256)) + "\r\n";
    }
    return out;
}

Text Upper(const std::string& hex) {
    Text out;
    for (const char c : hex)
        out.push_back(static_cast<char16_t>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c));
    return out;
}

}  // namespace
}  // namespace tolvessa::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    using namespace tolvessa::fuzz;
    const std::span<const std::uint8_t> bytes(data, size);
    const LolDriversRead read = ReadLolDriversCsv(bytes);
    if (!read.error.empty()) {
        FUZZ_CHECK(read.entries.empty() && read.rows == 0);
        return 0;
    }
    FUZZ_CHECK(read.rows == read.entries.size() + read.skippedRows);
    for (const LolDriversEntry& e : read.entries) {
        FUZZ_CHECK(!TrimBlanks(e.id).empty());
        FUZZ_CHECK(SoundHashes(e.md5, 32) && SoundHashes(e.sha1, 40) && SoundHashes(e.sha256, 64) &&
                   SoundHashes(e.imageMd5, 32) && SoundHashes(e.imageSha1, 40) &&
                   SoundHashes(e.imageSha256, 64));
    }

    VulnerableLists lists;
    const ListLoadReport report = lists.Load(bytes, u"fuzz.csv", ListFormat::kLolDriversCsv);
    FUZZ_CHECK(report.entries == read.entries.size());
    FUZZ_CHECK(report.error.empty() == (read.rows == 0 || !read.entries.empty()));
    FUZZ_CHECK(report.cutAt == read.cutAt);
    FUZZ_CHECK(read.cutAt.empty() ||
               read.cutAt.starts_with(u"inside a quoted cell opened on line"));
    FUZZ_CHECK(lists.AnyUnread() == !(report.error.empty() && report.cutAt.empty()));

    // The list cut short at a place the last byte picks: the rows before the cut read as before.
    // The row the cut falls in may read otherwise (a cell cut short is still a cell), so only the
    // entries before the last one of the cut list are sure to be those of the whole list.
    if (read.cutAt.empty() && size > 1) {
        const std::size_t at = size * data[size - 1] / 256;
        const LolDriversRead cut = ReadLolDriversCsv(bytes.first(at));
        if (cut.error.empty()) {
            FUZZ_CHECK(cut.rows <= read.rows);
            for (std::size_t i = 0; i + 1 < cut.entries.size(); ++i)
                FUZZ_CHECK(i < read.entries.size() && cut.entries[i] == read.entries[i]);
        }
    }

    // The first few entries, each looked up by its own hashes in upper case.
    constexpr std::size_t kLookups = 8;
    for (std::size_t i = 0; i < read.entries.size() && i < kLookups; ++i) {
        const LolDriversEntry& e = read.entries[i];
        FileIdentity file;
        const auto take = [](const std::vector<std::string>& values, Text& member) {
            if (!values.empty())
                member = Upper(values.back());
        };
        take(e.md5, file.md5);
        take(e.sha1, file.sha1);
        take(e.sha256, file.sha256);
        take(e.imageSha1, file.imageSha1);
        take(e.imageSha256, file.imageSha256);
        const bool anyHash = !(file.md5.empty() && file.sha1.empty() && file.sha256.empty() &&
                               file.imageSha1.empty() && file.imageSha256.empty());
        const std::vector<VulnerableMatch> matches = lists.Match(file);
        bool found = false;
        for (const VulnerableMatch& match : matches) {
            FUZZ_CHECK(match.source == u"fuzz.csv" && !match.id.empty());
            FUZZ_CHECK(match.format == ListFormat::kLolDriversCsv);
            // Hashes only, and never an MD5 image hash: none is computed.
            FUZZ_CHECK(match.algorithm != MatchedAlgorithm::kNone);
            FUZZ_CHECK(
                !(match.by == MatchedBy::kImageHash && match.algorithm == MatchedAlgorithm::kMd5));
            found = found || match.id == e.id;
        }
        FUZZ_CHECK(found == anyHash);
        FUZZ_CHECK(KnownVulnerableText(matches).empty() == matches.empty());
    }

    // Written back and read again: the same entries.
    if (!read.entries.empty()) {
        const std::string again = Written(read.entries);
        const LolDriversRead reread = ReadLolDriversCsv(
            std::span(reinterpret_cast<const std::uint8_t*>(again.data()), again.size()));
        FUZZ_CHECK(reread.error.empty() && reread.skippedRows == 0 && reread.ignoredHashes == 0);
        FUZZ_CHECK(reread.entries == read.entries);
    }
    return 0;
}
