#include "inventory/version_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

namespace tolvessa {
namespace {

using namespace std::string_view_literals;

constexpr TextView kTranslation = u"\\VarFileInfo\\Translation";

// Version data laid out by a test: values are appended one after the other and located by
// their offset from the start of the data.
class Block {
  public:
    // Not inlined: GCC 12 at -O3 takes the first insert into the still empty vector, inlined
    // into the long getter table, for a copy from a null pointer (a false -Wnonnull).
    [[gnu::noinline]] std::size_t AddBytes(std::initializer_list<std::uint8_t> bytes) {
        const std::size_t at = bytes_.size();
        bytes_.insert(bytes_.end(), bytes);
        return at;
    }
    // The units exactly as given, little-endian; no NUL is added.
    std::size_t AddUnits(std::u16string_view units) {
        const std::size_t at = bytes_.size();
        for (const char16_t unit : units) {
            bytes_.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            bytes_.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        return at;
    }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// Hands out `data` and answers queries with offsets into the caller's buffer; records every
// call it gets.
class RecordingVersionApi : public VersionApi {
  public:
    std::vector<std::uint8_t> data;
    std::optional<std::uint32_t> reportedSize;  // data.size() when not set
    std::uint32_t handleToGive = 0x5A5A;
    std::set<std::size_t> failingReads;  // 1-based numbers of the reads that fail
    std::map<Text, std::size_t> valueOffsets;
    std::map<Text, std::span<const std::uint8_t>> foreignValues;  // answers outside the buffer

    int sizeCalls = 0;
    std::vector<Text> paths;
    std::vector<std::uint32_t> readHandles;
    std::vector<std::size_t> bufferSizes;
    std::vector<Text> queries;

    VersionDataSize VersionInfoSize(const Text& path) override {
        ++sizeCalls;
        paths.push_back(path);
        return {reportedSize.value_or(static_cast<std::uint32_t>(data.size())), handleToGive};
    }

    bool ReadVersionInfo(const Text& path, std::uint32_t handle,
                         std::span<std::uint8_t> buffer) override {
        paths.push_back(path);
        readHandles.push_back(handle);
        bufferSizes.push_back(buffer.size());
        if (failingReads.contains(readHandles.size())) {
            std::fill(buffer.begin(), buffer.end(), std::uint8_t{0xEE});
            return false;
        }
        std::copy_n(data.begin(), std::min(buffer.size(), data.size()), buffer.begin());
        return true;
    }

    std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                                  const Text& subBlock) override {
        queries.push_back(subBlock);
        const std::uint32_t length = 0xFFFF;  // never to be relied upon
        if (const auto foreign = foreignValues.find(subBlock); foreign != foreignValues.end())
            return VersionValue{foreign->second, length};
        const auto found = valueOffsets.find(subBlock);
        if (found == valueOffsets.end() || found->second > block.size())
            return std::nullopt;
        return VersionValue{block.subspan(found->second), length};
    }

    std::size_t CallCount() const { return sizeCalls + readHandles.size() + queries.size(); }
};

Text Path(std::u16string_view table, std::u16string_view key) {
    return Text(u"\\StringFileInfo\\") + Text(table) + u"\\" + Text(key);
}

const Text kFile = u"C:\\Windows\\System32\\drivers\\fixture.sys";

// Translation 0409/04B0 followed by one value per key, each distinct.
RecordingVersionApi TenValues() {
    Block block;
    RecordingVersionApi api;
    api.valueOffsets[Text(kTranslation)] = block.AddBytes({0x09, 0x04, 0xB0, 0x04});
    for (const auto key :
         {u"CompanyName"sv, u"FileDescription"sv, u"FileVersion"sv, u"InternalName"sv,
          u"LegalCopyRight"sv, u"LegalTradeMark"sv, u"OriginalFileName"sv, u"ProductName"sv,
          u"ProductVersion"sv, u"Comments"sv}) {
        api.valueOffsets[Path(u"040904B0", key)] = block.AddUnits(Text(key) + u"=v" + u'\0');
    }
    api.data = block.Bytes();
    return api;
}

TEST(VersionInfoTest, EmptyPathMakesNoCall) {
    RecordingVersionApi api = TenValues();
    const TFileVersionInfo info = ReadFileVersionInfo(api, u"");
    EXPECT_EQ(info.fCompanyName, u"");
    EXPECT_EQ(info.fComments, u"");
    EXPECT_EQ(GetFileCompanyName(api, u""), u"");
    EXPECT_EQ(GetFileDescription(api, u""), u"");
    EXPECT_EQ(GetFileProductVersion(api, u""), u"");
    EXPECT_EQ(GetFileOriginalFilename(api, u""), u"");
    EXPECT_EQ(GetFileVersionString(api, u""), u"");
    EXPECT_EQ(api.CallCount(), 0u);
}

TEST(VersionInfoTest, ReadsEachOfTheTenKeysIntoItsFieldAfterAFreshRead) {
    RecordingVersionApi api = TenValues();
    const TFileVersionInfo info = ReadFileVersionInfo(api, kFile);

    EXPECT_EQ(info.fCompanyName, u"CompanyName=v");
    EXPECT_EQ(info.fFileDescription, u"FileDescription=v");
    EXPECT_EQ(info.fFileVersion, u"FileVersion=v");
    EXPECT_EQ(info.fInternalName, u"InternalName=v");
    EXPECT_EQ(info.fLegalCopyRight, u"LegalCopyRight=v");
    EXPECT_EQ(info.fLegalTradeMark, u"LegalTradeMark=v");
    EXPECT_EQ(info.fOriginalFileName, u"OriginalFileName=v");
    EXPECT_EQ(info.fProductName, u"ProductName=v");
    EXPECT_EQ(info.fProductVersion, u"ProductVersion=v");
    EXPECT_EQ(info.fComments, u"Comments=v");

    // One size query, then a read before every key, into a buffer of exactly that size, with
    // the handle the size query gave.
    EXPECT_EQ(api.sizeCalls, 1);
    EXPECT_EQ(api.readHandles, std::vector<std::uint32_t>(10, 0x5A5A));
    EXPECT_EQ(api.bufferSizes, std::vector<std::size_t>(10, api.data.size()));
    EXPECT_EQ(api.paths, std::vector<Text>(11, kFile));
    const std::vector<Text> expectedQueries = {
        Text(kTranslation), Path(u"040904B0", u"CompanyName"),
        Text(kTranslation), Path(u"040904B0", u"FileDescription"),
        Text(kTranslation), Path(u"040904B0", u"FileVersion"),
        Text(kTranslation), Path(u"040904B0", u"InternalName"),
        Text(kTranslation), Path(u"040904B0", u"LegalCopyRight"),
        Text(kTranslation), Path(u"040904B0", u"LegalTradeMark"),
        Text(kTranslation), Path(u"040904B0", u"OriginalFileName"),
        Text(kTranslation), Path(u"040904B0", u"ProductName"),
        Text(kTranslation), Path(u"040904B0", u"ProductVersion"),
        Text(kTranslation), Path(u"040904B0", u"Comments"),
    };
    EXPECT_EQ(api.queries, expectedQueries);
}

TEST(VersionInfoTest, NoVersionDataMeansNoReadAndNoQuery) {
    RecordingVersionApi api = TenValues();
    api.reportedSize = 0;
    const TFileVersionInfo info = ReadFileVersionInfo(api, kFile);
    EXPECT_EQ(info.fCompanyName, u"");
    EXPECT_EQ(info.fProductVersion, u"");
    EXPECT_EQ(api.sizeCalls, 1);
    EXPECT_TRUE(api.readHandles.empty());
    EXPECT_TRUE(api.queries.empty());
}

TEST(VersionInfoTest, StringFileInfoPathIsFourPlusFourUppercaseHexDigits) {
    struct Case {
        std::uint16_t language, codePage;
        TextView expected;
    };
    const Case cases[] = {
        {0x0409, 0x04E4, u"\\StringFileInfo\\040904E4\\CompanyName"},
        {0x0c0a, 0x04b0, u"\\StringFileInfo\\0C0A04B0\\CompanyName"},
        {0x0000, 0x0000, u"\\StringFileInfo\\00000000\\CompanyName"},
        {0xFFFF, 0xabcd, u"\\StringFileInfo\\FFFFABCD\\CompanyName"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StringFileInfoPath(c.language, c.codePage, u"CompanyName"), c.expected);
    }
}

TEST(VersionInfoTest, TranslationIsLanguageInLowHalfCodePageInHighHalf) {
    Block block;
    RecordingVersionApi api;
    // 0x04E40409: language 0x0409, code page 0x04E4 (1252).
    api.valueOffsets[Text(kTranslation)] = block.AddBytes({0x09, 0x04, 0xE4, 0x04});
    api.valueOffsets[Path(u"040904E4", u"CompanyName")] = block.AddUnits(u"Contoso\0"sv);
    api.data = block.Bytes();

    EXPECT_EQ(GetFileCompanyName(api, kFile), u"Contoso");
    ASSERT_GE(api.queries.size(), 2u);
    EXPECT_EQ(api.queries[1], u"\\StringFileInfo\\040904E4\\CompanyName");
}

TEST(VersionInfoTest, OnlyTheFirstTranslationIsTried) {
    Block block;
    RecordingVersionApi api;
    // 0407/04B0 first, 0409/04B0 second; only the second has strings.
    api.valueOffsets[Text(kTranslation)] =
        block.AddBytes({0x07, 0x04, 0xB0, 0x04, 0x09, 0x04, 0xB0, 0x04});
    api.valueOffsets[Path(u"040904B0", u"CompanyName")] = block.AddUnits(u"Second\0"sv);
    api.data = block.Bytes();

    EXPECT_EQ(GetFileCompanyName(api, kFile), u"");
    for (const Text& query : api.queries) {
        EXPECT_EQ(query.find(u"0409"), Text::npos) << TextToUtf8(query);
    }
}

TEST(VersionInfoTest, FailedReadLeavesThatFieldEmptyAndTheOthersFilled) {
    RecordingVersionApi api = TenValues();
    api.failingReads = {2, 10};  // FileDescription and Comments
    const TFileVersionInfo info = ReadFileVersionInfo(api, kFile);
    EXPECT_EQ(info.fCompanyName, u"CompanyName=v");
    EXPECT_EQ(info.fFileDescription, u"");
    EXPECT_EQ(info.fFileVersion, u"FileVersion=v");
    EXPECT_EQ(info.fProductVersion, u"ProductVersion=v");
    EXPECT_EQ(info.fComments, u"");
    // Nothing is looked up in the data of a failed read.
    EXPECT_EQ(api.readHandles.size(), 10u);
    EXPECT_EQ(api.queries.size(), 16u);
}

TEST(VersionInfoTest, MissingTranslationLeavesEveryFieldEmpty) {
    RecordingVersionApi api = TenValues();
    api.valueOffsets.erase(Text(kTranslation));
    const TFileVersionInfo info = ReadFileVersionInfo(api, kFile);
    EXPECT_EQ(info.fCompanyName, u"");
    EXPECT_EQ(info.fFileDescription, u"");
    EXPECT_EQ(info.fProductVersion, u"");
    EXPECT_EQ(info.fComments, u"");
    EXPECT_EQ(api.queries, std::vector<Text>(10, Text(kTranslation)));
}

TEST(VersionInfoTest, MissingStringLeavesOnlyThatFieldEmpty) {
    RecordingVersionApi api = TenValues();
    api.valueOffsets.erase(Path(u"040904B0", u"FileVersion"));
    const TFileVersionInfo info = ReadFileVersionInfo(api, kFile);
    EXPECT_EQ(info.fFileVersion, u"");
    EXPECT_EQ(info.fInternalName, u"InternalName=v");
}

// The getters give the empty text for blank-only strings and the string exactly as stored
// otherwise; a string ends at its first NUL.
TEST(VersionInfoTest, GettersDropBlankOnlyStringsAndKeepTheRest) {
    struct Case {
        std::u16string_view stored;  // with its terminating NUL
        TextView expected;
    };
    const Case cases[] = {
        {u"Microsoft Corporation\0"sv, u"Microsoft Corporation"},
        {u"  Fabrikam, Inc.  \0"sv, u"  Fabrikam, Inc.  "},
        {u" \t \r\n\0"sv, u""},
        {u"\0"sv, u""},
        {u"abc\0def\0"sv, u"abc"},
        {u"\0hidden\0"sv, u""},
        {u"\x00A9 1998\0"sv, u"\x00A9 1998"},
    };
    using Getter = Text (*)(VersionApi&, const Text&);
    const std::pair<TextView, Getter> getters[] = {
        {u"CompanyName", &GetFileCompanyName},
        {u"FileDescription", &GetFileDescription},
        {u"ProductVersion", &GetFileProductVersion},
        {u"OriginalFileName", &GetFileOriginalFilename},
        {u"FileVersion", &GetFileVersionString},
    };
    for (const auto& [key, getter] : getters) {
        for (const Case& c : cases) {
            Block block;
            RecordingVersionApi api;
            api.valueOffsets[Text(kTranslation)] = block.AddBytes({0x09, 0x04, 0xB0, 0x04});
            // Another key gets a different value, so a getter reading the wrong field fails.
            api.valueOffsets[Path(u"040904B0", u"Comments")] = block.AddUnits(u"other\0"sv);
            api.valueOffsets[Path(u"040904B0", key)] = block.AddUnits(c.stored);
            api.data = block.Bytes();
            EXPECT_EQ(getter(api, kFile), c.expected)
                << TextToUtf8(key) << " = " << TextToUtf8(c.stored);
        }
    }
}

// Version data whose last value runs to the very end of the buffer (an odd byte count leaves
// half a unit at the end). The text stops there instead of reading on.
TEST(VersionInfoTest, StringWithoutNulIsCutAtTheEndOfTheBuffer) {
    for (const bool oddTail : {false, true}) {
        Block block;
        RecordingVersionApi api;
        api.valueOffsets[Text(kTranslation)] = block.AddBytes({0x09, 0x04, 0xB0, 0x04});
        api.valueOffsets[Path(u"040904B0", u"CompanyName")] = block.AddUnits(u"Unterminated");
        if (oddTail)
            block.AddBytes({'X'});
        api.data = block.Bytes();
        EXPECT_EQ(GetFileCompanyName(api, kFile), u"Unterminated") << oddTail;
    }
}

TEST(VersionInfoTest, StringAtTheVeryEndOfTheBufferIsEmpty) {
    Block block;
    RecordingVersionApi api;
    api.valueOffsets[Text(kTranslation)] = block.AddBytes({0x09, 0x04, 0xB0, 0x04});
    api.valueOffsets[Path(u"040904B0", u"CompanyName")] = block.Bytes().size();
    api.data = block.Bytes();
    EXPECT_EQ(GetFileCompanyName(api, kFile), u"");
}

// A translation value needs four bytes inside the buffer; the buffer ends `tail` bytes after
// the value starts.
TEST(VersionInfoTest, TranslationNeedsFourBytesBeforeTheEndOfTheBuffer) {
    struct Case {
        std::size_t tail;
        bool found;
    };
    for (const Case c :
         {Case{0, false}, Case{1, false}, Case{3, false}, Case{4, true}, Case{5, true}}) {
        Block block;
        RecordingVersionApi api;
        api.valueOffsets[Path(u"040904B0", u"CompanyName")] = block.AddUnits(u"Found\0"sv);
        const std::uint8_t translation[] = {0x09, 0x04, 0xB0, 0x04, 0x00};
        api.valueOffsets[Text(kTranslation)] = block.Bytes().size();
        for (std::size_t i = 0; i < c.tail; ++i)
            block.AddBytes({translation[i]});
        api.data = block.Bytes();
        EXPECT_EQ(GetFileCompanyName(api, kFile), c.found ? u"Found" : u"") << c.tail;
    }
}

// Values pointing outside the buffer are not read (and never dereferenced).
TEST(VersionInfoTest, ValuesOutsideTheBufferAreEmpty) {
    static const std::uint8_t elsewhere[] = {0x09, 0x04, 0xB0, 0x04, 'A', 0, 0, 0};
    {
        RecordingVersionApi api = TenValues();
        api.foreignValues[Text(kTranslation)] = elsewhere;
        EXPECT_EQ(GetFileCompanyName(api, kFile), u"");
    }
    {
        RecordingVersionApi api = TenValues();
        api.foreignValues[Path(u"040904B0", u"CompanyName")] = std::span(elsewhere).subspan(4);
        EXPECT_EQ(GetFileCompanyName(api, kFile), u"");
        EXPECT_EQ(GetFileProductVersion(api, kFile), u"ProductVersion=v");
    }
}

// The fixed file information's binary version, read from the version data once with the four
// names; a structure without its signature, cut short by the end of the data or not there at all
// is no version.
TEST(VersionIdentityTest, BinaryVersionOfTheFixedFileInformation) {
    const auto fixed = [](std::uint32_t signature, std::uint32_t ms, std::uint32_t ls) {
        std::vector<std::uint8_t> out;
        for (const std::uint32_t value : {signature, 0x00010000u, ms, ls, 0x00020005u, 0u, 0x3Fu,
                                          0u, 0x40004u, 3u, 7u, 0u, 0u}) {
            for (int shift = 0; shift < 32; shift += 8)
                out.push_back(static_cast<std::uint8_t>(value >> shift));
        }
        return out;
    };
    const auto apiWith = [](const std::vector<std::uint8_t>& fixedInfo, std::size_t cut) {
        RecordingVersionApi api = TenValues();
        Block block;
        for (const std::uint8_t byte : api.data)
            block.AddBytes({byte});
        const std::size_t at = block.Bytes().size();
        for (std::size_t i = 0; i + cut < fixedInfo.size(); ++i)
            block.AddBytes({fixedInfo[i]});
        api.data = block.Bytes();
        api.valueOffsets[u"\\"] = at;
        return api;
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> fixedInfo;
        std::size_t cut;
        std::optional<std::uint64_t> version;
    };
    const Case cases[] = {
        {"whole", fixed(0xFEEF04BD, 0x00020005, 0x0000000C), 0, 0x000200050000000C},
        {"all_parts_at_their_top", fixed(0xFEEF04BD, 0xFFFFFFFF, 0xFFFFFFFE), 0,
         0xFFFFFFFFFFFFFFFE},
        {"wrong_signature", fixed(0xFEEF04BE, 0x00020005, 0x0000000C), 0, std::nullopt},
        {"cut_by_the_end_of_the_data", fixed(0xFEEF04BD, 0x00020005, 0x0000000C), 1, std::nullopt},
    };
    for (const Case& c : cases) {
        RecordingVersionApi api = apiWith(c.fixedInfo, c.cut);
        const VersionIdentity identity = ReadVersionIdentity(api, kFile);
        EXPECT_EQ(identity.fileVersion, c.version) << c.name;
        EXPECT_EQ(identity.originalFilename, u"OriginalFileName=v") << c.name;
        EXPECT_EQ(identity.internalName, u"InternalName=v") << c.name;
        EXPECT_EQ(identity.fileDescription, u"FileDescription=v") << c.name;
        EXPECT_EQ(identity.productName, u"ProductName=v") << c.name;
        EXPECT_EQ(api.readHandles.size(), 1u) << c.name;
    }
    RecordingVersionApi none = TenValues();  // no "\\" value at all
    EXPECT_EQ(ReadVersionIdentity(none, kFile).fileVersion, std::nullopt);
    EXPECT_EQ(ReadVersionIdentity(none, u""), VersionIdentity{});
    RecordingVersionApi failing = apiWith(fixed(0xFEEF04BD, 1, 2), 0);
    failing.failingReads = {1};
    EXPECT_EQ(ReadVersionIdentity(failing, kFile), VersionIdentity{});
}

// The platform's answers are pointers; only those inside the block give bytes.
TEST(VersionInfoTest, BytesFromIsTheRestOfTheBlockOrNothing) {
    const std::uint8_t data[] = {1, 2, 3, 4, 5, 6};
    const std::span<const std::uint8_t> block = std::span(data).first(4);
    EXPECT_EQ(BytesFrom(block, data).data(), data);
    EXPECT_EQ(BytesFrom(block, data).size(), 4u);
    EXPECT_EQ(BytesFrom(block, data + 3).size(), 1u);
    EXPECT_TRUE(BytesFrom(block, data + 4).empty());  // just past the block
    EXPECT_TRUE(BytesFrom(block, nullptr).empty());
    EXPECT_TRUE(BytesFrom({}, data).empty());
    const std::uint8_t other[] = {9};
    const auto before =
        reinterpret_cast<std::uintptr_t>(other) < reinterpret_cast<std::uintptr_t>(data);
    EXPECT_TRUE(BytesFrom(block, other).empty()) << (before ? "before" : "after");
}

}  // namespace
}  // namespace tolvessa
