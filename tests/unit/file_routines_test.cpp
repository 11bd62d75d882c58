#include "commands/file_routines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvessa {
namespace {

using Api = FileAttributeApi;
constexpr std::uint32_t kBad = Api::kInvalidAttributes;

struct PartsCase {
    const char16_t* path;
    const char16_t* fileName;
    const char16_t* folder;
};

class PathPartsTest : public ::testing::TestWithParam<PartsCase> {};

TEST_P(PathPartsTest, SplitsAfterTheLastBackslashOrColon) {
    const PartsCase& c = GetParam();
    EXPECT_EQ(FileNamePart(c.path), c.fileName);
    EXPECT_EQ(FolderPart(c.path), c.folder);
    EXPECT_EQ(FolderPart(c.path) + FileNamePart(c.path), c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathPartsTest,
    ::testing::Values(PartsCase{u"C:\\Windows\\system32\\drivers\\mountmgr.sys", u"mountmgr.sys",
                                u"C:\\Windows\\system32\\drivers\\"},
                      PartsCase{u"ntoskrnl.exe", u"ntoskrnl.exe", u""},
                      PartsCase{u"C:hal.dll", u"hal.dll", u"C:"},
                      PartsCase{u"C:\\dir.v2\\name with spaces.sys", u"name with spaces.sys",
                                u"C:\\dir.v2\\"},
                      PartsCase{u"\\\\?\\C:\\x.sys", u"x.sys", u"\\\\?\\C:\\"},
                      PartsCase{u"C:\\a:stream", u"stream", u"C:\\a:"},
                      PartsCase{u"C:\\folder\\", u"", u"C:\\folder\\"}, PartsCase{u"", u"", u""}));

TEST(AliasSystemFolderTest, ReplacesTheWholeSystemFolderAtTheStartOnly) {
    const SystemFolderAlias folders{u"C:\\windows\\system32", u"C:\\windows\\Sysnative"};
    struct Case {
        const char16_t* path;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"C:\\windows\\system32\\drivers\\x.sys", u"C:\\windows\\Sysnative\\drivers\\x.sys"},
        // Any letter case of the folder; the rest of the path kept as it is.
        {u"c:\\WINDOWS\\System32\\Drivers\\X.SYS", u"C:\\windows\\Sysnative\\Drivers\\X.SYS"},
        {u"C:\\Windows\\System32\\drivers\\", u"C:\\windows\\Sysnative\\drivers\\"},
        {u"C:\\Windows\\System32", u"C:\\windows\\Sysnative"},
        {u"C:\\Windows\\System32\\", u"C:\\windows\\Sysnative\\"},
        // Other folders: a longer name, the 32-bit folder, a folder below another root.
        {u"C:\\Windows\\System32x\\a.sys", u"C:\\Windows\\System32x\\a.sys"},
        {u"C:\\Windows\\SysWOW64\\a.sys", u"C:\\Windows\\SysWOW64\\a.sys"},
        {u"D:\\Windows\\System32\\a.sys", u"D:\\Windows\\System32\\a.sys"},
        {u"\\??\\C:\\Windows\\System32\\a.sys", u"\\??\\C:\\Windows\\System32\\a.sys"},
        {u"C:\\Windows", u"C:\\Windows"},
        {u"", u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextToUtf8(AliasSystemFolder(c.path, folders)), TextToUtf8(c.expected));

    // Folder texts with a trailing backslash mean the same folders.
    EXPECT_EQ(AliasSystemFolder(u"C:\\Windows\\System32\\a.sys",
                                {u"C:\\Windows\\System32\\", u"C:\\Windows\\Sysnative\\"}),
              u"C:\\Windows\\Sysnative\\a.sys");
    // Nothing to replace with, or nothing to look for: the path as it is.
    EXPECT_EQ(AliasSystemFolder(u"C:\\Windows\\System32\\a.sys", {u"", u"C:\\S"}),
              u"C:\\Windows\\System32\\a.sys");
    EXPECT_EQ(AliasSystemFolder(u"C:\\Windows\\System32\\a.sys", {u"C:\\Windows\\System32", u""}),
              u"C:\\Windows\\System32\\a.sys");
}

TEST(WithTrailingBackslashTest, AppendsOnlyWhenMissing) {
    EXPECT_EQ(WithTrailingBackslash(u"D:\\out"), u"D:\\out\\");
    EXPECT_EQ(WithTrailingBackslash(u"D:\\out\\"), u"D:\\out\\");
    EXPECT_EQ(WithTrailingBackslash(u"D:\\"), u"D:\\");
    EXPECT_EQ(WithTrailingBackslash(u""), u"\\");
}

struct EncodeCase {
    const char* name;
    Text text;
    const char16_t* encoded;
};

class PercentEncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(PercentEncodeTest, EncodesTheUtf8Bytes) {
    EXPECT_EQ(PercentEncode(GetParam().text), GetParam().encoded);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PercentEncodeTest,
    ::testing::Values(
        EncodeCase{"Empty", u"", u""}, EncodeCase{"Unreserved", u"AZaz09-._~", u"AZaz09-._~"},
        EncodeCase{"Md5", u"9E107D9D372BB6826BD81D3542A419D6", u"9E107D9D372BB6826BD81D3542A419D6"},
        EncodeCase{"Spaces", u"Microsoft Corporation", u"Microsoft%20Corporation"},
        EncodeCase{"Ampersand", u"A&B=1", u"A%26B%3D1"}, EncodeCase{"Hash", u"x#frag", u"x%23frag"},
        EncodeCase{"Plus", u"C++", u"C%2B%2B"}, EncodeCase{"Percent", u"100%", u"100%25"},
        EncodeCase{"PathCharacters", u"C:\\Windows\\a b.sys", u"C%3A%5CWindows%5Ca%20b.sys"},
        EncodeCase{"QuotesAndOptions", u"\" -private \"", u"%22%20-private%20%22"},
        EncodeCase{"Controls", u"a\tb\r\n", u"a%09b%0D%0A"},
        EncodeCase{"Latin1", u"M\u00FCller", u"M%C3%BCller"},
        EncodeCase{"ThreeBytes", u"\u20AC", u"%E2%82%AC"},
        EncodeCase{"SurrogatePair", u"\U0001F600", u"%F0%9F%98%80"},
        // A lone surrogate is not text: it goes out as U+FFFD, never as a broken byte run.
        EncodeCase{"LoneSurrogate", Text(1, char16_t{0xD800}), u"%EF%BF%BD"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(WebSearchAddressTest, BaseThenQueryThenEncodedText) {
    EXPECT_EQ(WebSearchAddress(u"Microsoft Corporation"),
              u"https://www.google.com/search?q=Microsoft%20Corporation");
    EXPECT_EQ(WebSearchAddress(u""), u"https://www.google.com/search?q=");
    EXPECT_EQ(WebSearchAddress(u"a&q=b#c"), u"https://www.google.com/search?q=a%26q%3Db%23c");
}

// Attribute answers from a table; the file operations recorded in order, with scripted answers.
class FakeAttributes : public FileAttributeApi {
  public:
    Attributes attributes;

    Attributes ReadAttributes(const Text&) override { return attributes; }
    std::optional<std::uint32_t> FindAttributes(const Text&) override {
        ADD_FAILURE() << "not a question the file routines ask";
        return std::nullopt;
    }
    std::uint32_t TryOpenForRead(const Text&) override {
        ADD_FAILURE() << "not a question the file routines ask";
        return 0;
    }
};

class FakeOperations : public FileOperationApi {
  public:
    std::vector<std::string> calls;
    bool opens = true;
    bool setSucceeds = true;
    bool removeSucceeds = true;

    bool OpenWithBackupSemantics(const Text& path) override {
        calls.push_back("open " + TextToUtf8(path));
        return opens;
    }
    bool CopyNoOverwrite(const Text&, const Text&) override {
        calls.push_back("copy");
        return false;
    }
    bool SetAttributes(const Text& path, std::uint32_t attributes) override {
        calls.push_back("set " + TextToUtf8(path) + " 0x" + TextToUtf8(HexText(attributes)));
        return setSucceeds;
    }
    bool RemoveFile(const Text& path) override {
        calls.push_back("remove " + TextToUtf8(path));
        return removeSucceeds;
    }
    bool MarkForDeletionAtReboot(const Text&) override {
        calls.push_back("mark");
        return false;
    }
};

struct FolderCase {
    const char* name;
    std::uint32_t value;
    std::uint32_t lastError;
    bool opens;
    bool exists;
    bool opened;  // whether the open was tried
};

class FolderExistsTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(FolderExistsTest, FollowsTheFourSteps) {
    const FolderCase& c = GetParam();
    FakeAttributes attributes;
    attributes.attributes = {c.value, c.lastError};
    FakeOperations files;
    files.opens = c.opens;
    EXPECT_EQ(FolderExistsOnDisk(attributes, files, u"C:\\d\\"), c.exists);
    EXPECT_EQ(files.calls,
              c.opened ? std::vector<std::string>{"open C:\\d\\"} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FolderExistsTest,
    ::testing::Values(FolderCase{"FileNotFound", kBad, 2, true, false, false},
                      FolderCase{"PathNotFound", kBad, 3, true, false, false},
                      FolderCase{"BadNetPath", kBad, 53, true, false, false},
                      FolderCase{"InvalidName", kBad, 123, true, false, false},
                      FolderCase{"AccessDenied", kBad, 5, false, true, false},
                      FolderCase{"SharingViolation", kBad, 32, false, true, false},
                      FolderCase{"Folder", 0x10, 0, false, true, false},
                      FolderCase{"HiddenSystemFolder", 0x16, 0, false, true, false},
                      FolderCase{"File", 0x20, 0, true, false, false},
                      FolderCase{"ReadOnlyFile", 0x21, 0, true, false, false},
                      FolderCase{"JunctionThatOpens", 0x410, 0, true, true, true},
                      FolderCase{"DanglingJunction", 0x410, 0, false, false, true},
                      FolderCase{"FileLinkThatOpens", 0x420, 0, true, false, true},
                      FolderCase{"DanglingFileLink", 0x400, 0, false, false, true}),
    [](const auto& param) { return std::string(param.param.name); });

struct DeleteCase {
    const char* name;
    std::uint32_t before;
    bool setSucceeds;
    bool removeSucceeds;
    bool deleted;
    std::vector<std::string> calls;
};

class ForceDeleteFileTest : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(ForceDeleteFileTest, ClearsDeletesAndRestoresOnFailure) {
    const DeleteCase& c = GetParam();
    FakeAttributes attributes;
    attributes.attributes = {c.before, c.before == kBad ? 5u : 0u};
    FakeOperations files;
    files.setSucceeds = c.setSucceeds;
    files.removeSucceeds = c.removeSucceeds;
    EXPECT_EQ(ForceDeleteFile(attributes, files, u"C:\\x.sys"), c.deleted);
    EXPECT_EQ(files.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ForceDeleteFileTest,
    ::testing::Values(
        DeleteCase{"ReadOnlyHiddenSystemDeleted",
                   0x27,
                   true,
                   true,
                   true,
                   {"set C:\\x.sys 0x0", "remove C:\\x.sys"}},
        // The deletion's answer decides, whatever the attribute call said.
        DeleteCase{"DeletedThoughClearingFailed",
                   0x21,
                   false,
                   true,
                   true,
                   {"set C:\\x.sys 0x0", "remove C:\\x.sys"}},
        DeleteCase{"FailedDeletionRestoresTheAttributes",
                   0x27,
                   true,
                   false,
                   false,
                   {"set C:\\x.sys 0x0", "remove C:\\x.sys", "set C:\\x.sys 0x27"}},
        DeleteCase{"PlainFileRestoredToItsArchiveBit",
                   0x20,
                   true,
                   false,
                   false,
                   {"set C:\\x.sys 0x0", "remove C:\\x.sys", "set C:\\x.sys 0x20"}},
        // Only the bits that can be set go back: not the directory or reparse-point bits.
        DeleteCase{"FolderRestoredWithoutItsDirectoryBit",
                   0x413,
                   true,
                   false,
                   false,
                   {"set C:\\x.sys 0x0", "remove C:\\x.sys", "set C:\\x.sys 0x3"}},
        // Nothing was read, so nothing can be put back.
        DeleteCase{"UnreadableAttributesNotRestored",
                   kBad,
                   true,
                   false,
                   false,
                   {"set C:\\x.sys 0x0", "remove C:\\x.sys"}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tolvessa
