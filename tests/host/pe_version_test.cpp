#include "platform/host/pe_version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tolvessa::host {
namespace {

using namespace std::string_view_literals;
using Bytes = std::vector<std::uint8_t>;

const std::string kFixtureDir = TOLVESSA_FIXTURE_DIR;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::uint16_t Get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return Get16(b, at) | Get16(b, at + 2) << 16;
}
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, static_cast<std::uint16_t>(v));
    Put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tolvessa-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

std::vector<Text> Fields(const TFileVersionInfo& i) {
    return {i.fCompanyName,    i.fFileDescription, i.fFileVersion,      i.fInternalName,
            i.fLegalCopyRight, i.fLegalTradeMark,  i.fOriginalFileName, i.fProductName,
            i.fProductVersion, i.fComments};
}

// Where the parts of a fixture image lie, found the plain way (the MinGW linker's layout: the
// resource directory at the start of .rsrc, the version data after it). Used to pick cut
// points and bytes to damage.
struct PeLayout {
    std::size_t pe = 0;
    std::size_t optional = 0;
    std::size_t optionalSize = 0;
    std::size_t rvaCount = 0;
    std::size_t resourceDirectory = 0;  // DataDirectory[2]
    std::size_t sectionTable = 0;
    std::size_t sectionCount = 0;
    std::size_t resourceSection = 0;  // its header in the section table
    std::size_t resourceRoot = 0;     // file offset of the root directory
    std::size_t resourceEnd = 0;      // end of the section's raw data
    std::size_t typeEntry = 0;        // the RT_VERSION entry in the root directory
    std::size_t nameDirectory = 0;
    std::size_t languageEntry = 0;
    std::size_t dataEntry = 0;
    std::size_t versionStart = 0;
    std::size_t versionEnd = 0;
    bool hasResources = false;
    bool hasVersion = false;
};

PeLayout Layout(const Bytes& b) {
    PeLayout l;
    l.pe = Get32(b, 0x3C);
    l.sectionCount = Get16(b, l.pe + 6);
    l.optionalSize = Get16(b, l.pe + 20);
    l.optional = l.pe + 24;
    l.rvaCount = l.optional + (Get16(b, l.optional) == 0x20B ? 108 : 92);
    l.resourceDirectory = l.rvaCount + 4 + 16;
    l.sectionTable = l.optional + l.optionalSize;
    const std::uint32_t resourceRva = Get32(b, l.resourceDirectory);
    for (std::size_t i = 0; i < l.sectionCount && resourceRva != 0; ++i) {
        const std::size_t s = l.sectionTable + 40 * i;
        if (Get32(b, s + 12) == resourceRva) {
            l.hasResources = true;
            l.resourceSection = s;
            l.resourceRoot = Get32(b, s + 20);
            l.resourceEnd = l.resourceRoot + Get32(b, s + 16);
        }
    }
    if (!l.hasResources)
        return l;
    const std::size_t entries = Get16(b, l.resourceRoot + 12) + Get16(b, l.resourceRoot + 14);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t e = l.resourceRoot + 16 + 8 * i;
        if (Get32(b, e) != 16)
            continue;
        l.typeEntry = e;
        l.nameDirectory = l.resourceRoot + (Get32(b, e + 4) & 0x7FFFFFFF);
        const std::size_t languageDirectory =
            l.resourceRoot + (Get32(b, l.nameDirectory + 16 + 4) & 0x7FFFFFFF);
        l.languageEntry = languageDirectory + 16;
        l.dataEntry = l.resourceRoot + Get32(b, l.languageEntry + 4);
        l.versionStart = l.resourceRoot + (Get32(b, l.dataEntry) - resourceRva);
        l.versionEnd = l.versionStart + Get32(b, l.dataEntry + 4);
        l.hasVersion = true;
    }
    return l;
}

constexpr const char* kKinds[] = {"32.dll", "32.exe", "64.dll", "64.exe"};

class PeVersionTest : public ::testing::Test {
  protected:
    PeVersionTest() { paths_.MapDrive(u'F', kFixtureDir); }

    static Text FixturePath(const std::string& name) { return u"F:\\" + Utf8ToText(name); }

    HostPaths paths_;
    PeVersionApi api_{paths_};
};

TEST_F(PeVersionTest, GettersOverEveryFixture) {
    struct Case {
        std::string_view image;
        bool hasVersionData;
        TextView company, description, productVersion;
    };
    const Case cases[] = {
        {"version_basic", true, u"Microsoft Corporation", u"Corvane Fixture Driver",
         u"10.0.19041.1"},
        // The first translation names a table that is not there; the second is never tried.
        {"version_two_translations", true, u"", u"", u""},
        {"version_cp1252", true, u"Contoso Ltd.", u"Code page 1252 strings", u"4.2"},
        {"version_blanks", true, u"  Fabrikam, Inc.  ", u"", u" 7.1 "},
        {"version_embedded_nul", true, u"NulCo", u"abc", u"1.0"},
        {"version_no_company", true, u"", u"No company named", u"2.5.0.0"},
        {"version_binary", true, u"Old I/O Makers", u"Old I/O Port Driver", u"2.5"},
        {"no_version", false, u"", u"", u""},
        {"plain", false, u"", u"", u""},
    };
    for (const Case& c : cases) {
        for (const char* kind : kKinds) {
            const std::string name = std::string(c.image) + "_" + kind;
            SCOPED_TRACE(name);
            const Text path = FixturePath(name);
            const VersionDataSize size = api_.VersionInfoSize(path);
            EXPECT_EQ(size.size != 0, c.hasVersionData);
            EXPECT_EQ(size.handle, 0u);
            EXPECT_EQ(GetFileCompanyName(api_, path), c.company);
            EXPECT_EQ(GetFileDescription(api_, path), c.description);
            EXPECT_EQ(GetFileProductVersion(api_, path), c.productVersion);
        }
    }
}

// The strings block rules name files by: the resource spells the key "OriginalFilename", the
// getter asks for "OriginalFileName".
TEST_F(PeVersionTest, OriginalFilenameAndFileVersionStringOfARealImage) {
    for (const char* kind : kKinds) {
        SCOPED_TRACE(kind);
        const Text basic = FixturePath(std::string("version_basic_") + kind);
        EXPECT_EQ(GetFileOriginalFilename(api_, basic), u"fixture.sys");
        EXPECT_EQ(GetFileVersionString(api_, basic), u"10.0.19041.1 (WinBuild.160101.0800)");
        const Text none = FixturePath(std::string("no_version_") + kind);
        EXPECT_EQ(GetFileOriginalFilename(api_, none), u"");
        EXPECT_EQ(GetFileVersionString(api_, none), u"");
    }
}

// What block rules name a file by: the binary file version of the fixed file information (not
// the FileVersion string, which may say less) and four of the strings.
TEST_F(PeVersionTest, VersionIdentityOfRealImages) {
    struct Case {
        std::string_view image;
        VersionIdentity identity;
    };
    const Case cases[] = {
        {"version_binary",
         {u"oldio.sys", u"oldio-internal", u"Old I/O Port Driver", u"Old I/O Suite",
          0x000200050000000C}},
        {"version_basic",
         {u"fixture.sys", u"fixture.sys", u"Corvane Fixture Driver",
          u"Microsoft\u00AE Windows\u00AE Operating System", 0x000A00004A610001}},
        {"no_version", {}},
        {"plain", {}},
    };
    for (const Case& c : cases) {
        for (const char* kind : kKinds) {
            const std::string name = std::string(c.image) + "_" + kind;
            SCOPED_TRACE(name);
            const VersionIdentity identity = ReadVersionIdentity(api_, FixturePath(name));
            EXPECT_EQ(identity.originalFilename, c.identity.originalFilename);
            EXPECT_EQ(identity.internalName, c.identity.internalName);
            EXPECT_EQ(identity.fileDescription, c.identity.fileDescription);
            EXPECT_EQ(identity.productName, c.identity.productName);
            EXPECT_EQ(identity.fileVersion, c.identity.fileVersion);
        }
    }
    // The string of the same image reads lower than the binary version.
    EXPECT_EQ(GetFileVersionString(api_, FixturePath("version_binary_64.exe")), u"2.5");
}

TEST_F(PeVersionTest, ReadsAllTenStringsMatchingKeysWithoutRegardToCase) {
    for (const char* kind : kKinds) {
        SCOPED_TRACE(kind);
        const TFileVersionInfo info =
            ReadFileVersionInfo(api_, FixturePath(std::string("version_basic_") + kind));
        const std::vector<Text> expected = {
            u"Microsoft Corporation",
            u"Corvane Fixture Driver",
            u"10.0.19041.1 (WinBuild.160101.0800)",
            u"fixture.sys",
            u"\x00A9 Microsoft Corporation. All rights reserved.",  // stored as LegalCopyright
            u"",             // stored as "LegalTrademarks": keys match whole, not by prefix
            u"fixture.sys",  // stored as OriginalFilename
            u"Microsoft\x00AE Windows\x00AE Operating System",
            u"10.0.19041.1",
            u"Built for the host tests",
        };
        EXPECT_EQ(Fields(info), expected);
    }
}

TEST_F(PeVersionTest, MissingFilesAndNonFilesHaveNoVersionData) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    ASSERT_EQ(::mkfifo((dir.Path() + "/pipe.dll").c_str(), 0600), 0);
    paths_.MapDrive(u'T', dir.Path());
    for (const TextView path :
         {u"F:\\missing.dll"sv, u"F:\\"sv, u"T:\\pipe.dll"sv, u"Q:\\x.dll"sv, u""sv}) {
        SCOPED_TRACE(TextToUtf8(path));
        EXPECT_EQ(api_.VersionInfoSize(Text(path)).size, 0u);
        Bytes buffer(64);
        EXPECT_FALSE(api_.ReadVersionInfo(Text(path), 0, buffer));
        EXPECT_EQ(GetFileCompanyName(api_, Text(path)), u"");
    }
}

TEST_F(PeVersionTest, RootValueIsTheFixedFileInfo) {
    for (const char* kind : kKinds) {
        SCOPED_TRACE(kind);
        const Text path = FixturePath(std::string("version_basic_") + kind);
        const auto [size, handle] = api_.VersionInfoSize(path);
        Bytes block(size);
        ASSERT_FALSE(block.empty());
        ASSERT_TRUE(api_.ReadVersionInfo(path, handle, block));
        for (const TextView root : {u"\\"sv, u"\\\\"sv}) {
            const auto value = api_.QueryVersionValue(block, Text(root));
            ASSERT_TRUE(value);
            ASSERT_EQ(value->length, 52u);
            ASSERT_GE(value->bytes.size(), 52u);
            const Bytes fixed(value->bytes.begin(), value->bytes.begin() + 52);
            EXPECT_EQ(Get32(fixed, 0), 0xFEEF04BDu);
            EXPECT_EQ(Get32(fixed, 8), 0x000A0000u);   // FILEVERSION 10,0,...
            EXPECT_EQ(Get32(fixed, 12), 0x4A610001u);  // ...,19041,1
        }
    }
}

// windres cuts a VALUE string at "\0", so that fixture is written out byte by byte; make sure
// the text after the NUL is really in the image.
TEST_F(PeVersionTest, EmbeddedNulFixtureHoldsTheWholeValue) {
    const Text path = FixturePath("version_embedded_nul_64.dll");
    const auto [size, handle] = api_.VersionInfoSize(path);
    Bytes block(size);
    ASSERT_TRUE(api_.ReadVersionInfo(path, handle, block));
    const auto value =
        api_.QueryVersionValue(block, u"\\StringFileInfo\\040904B0\\FileDescription");
    ASSERT_TRUE(value);
    ASSERT_EQ(value->length, 8u);
    ASSERT_GE(value->bytes.size(), 16u);
    const Bytes units(value->bytes.begin(), value->bytes.begin() + 16);
    const Bytes expected = {'a', 0, 'b', 0, 'c', 0, 0, 0, 'd', 0, 'e', 0, 'f', 0, 0, 0};
    EXPECT_EQ(units, expected);
}

TEST_F(PeVersionTest, CopiesNoMoreThanTheBufferAndNoMoreThanTheResource) {
    const Text path = FixturePath("version_basic_32.dll");
    const auto [size, handle] = api_.VersionInfoSize(path);
    ASSERT_GT(size, 100u);
    Bytes whole(size);
    ASSERT_TRUE(api_.ReadVersionInfo(path, handle, whole));

    Bytes part(size / 2);  // exactly this size: ASan sees any write past it
    ASSERT_TRUE(api_.ReadVersionInfo(path, handle, part));
    EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin()));
    // Lookups in a partial copy stay inside it.
    EXPECT_FALSE(api_.QueryVersionValue(part, u"\\VarFileInfo\\Translation"));

    Bytes larger(size + 16, 0xCC);
    ASSERT_TRUE(api_.ReadVersionInfo(path, handle, larger));
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), larger.begin()));
    EXPECT_EQ(std::count(larger.begin() + size, larger.end(), 0xCC), 16);
}

// Every fixture cut short: at each header boundary, at every length inside the resource
// section and at a stride elsewhere. An image cut before the end of its version data has none;
// one cut after it gives exactly what the whole image gives.
TEST_F(PeVersionTest, TruncatedImagesGiveTheWholeAnswerOrNothing) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    paths_.MapDrive(u'T', dir.Path());
    const std::string cutHost = dir.Path() + "/cut.dll";
    const Text cutPath = u"T:\\cut.dll";

    std::size_t cutsChecked = 0;
    for (const char* image :
         {"version_basic", "version_two_translations", "version_cp1252", "version_blanks",
          "version_embedded_nul", "version_no_company", "no_version", "plain"}) {
        for (const char* kind : kKinds) {
            const std::string name = std::string(image) + "_" + kind;
            SCOPED_TRACE(name);
            const Bytes bytes = ReadAll(kFixtureDir + "/" + name);
            ASSERT_GT(bytes.size(), 0x200u);
            const PeLayout l = Layout(bytes);
            const auto whole = Fields(ReadFileVersionInfo(api_, FixturePath(name)));

            std::set<std::size_t> cuts = {0, 1, 2, 0x3B, 0x3C, 0x3F, 0x40, 0x41};
            for (const std::size_t at :
                 {l.pe, l.pe + 4, l.pe + 6, l.pe + 20, l.optional, l.optional + 2, l.rvaCount,
                  l.resourceDirectory, l.resourceDirectory + 8, l.sectionTable,
                  l.sectionTable + 40 * l.sectionCount}) {
                cuts.insert({at - 1, at, at + 1});
            }
            const std::size_t denseFrom = l.hasResources ? l.resourceRoot - 1 : bytes.size() - 256;
            for (std::size_t at = denseFrom; at <= bytes.size(); ++at)
                cuts.insert(at);
            for (std::size_t at = 0; at < bytes.size(); at += 29)
                cuts.insert(at);

            int failures = 0;
            for (const std::size_t cut : cuts) {
                if (cut > bytes.size())
                    continue;
                WriteAll(cutHost, std::span(bytes).first(cut));
                const auto got = Fields(ReadFileVersionInfo(api_, cutPath));
                const bool complete = cut >= l.versionEnd;  // 0 without version data
                const auto expected = complete ? whole : std::vector<Text>(10);
                ++cutsChecked;
                if (got != expected && ++failures <= 3) {
                    ADD_FAILURE() << "cut at " << cut << " of " << bytes.size()
                                  << (complete ? ": expected the whole answer"
                                               : ": expected nothing");
                }
            }
            EXPECT_EQ(failures, 0);
        }
    }
    EXPECT_GT(cutsChecked, 10000u);
}

// Damaged headers and resource directories: no version data (or, where the damage does not
// matter to the lookup, the undamaged answer), and never a crash, hang or stray read.
TEST_F(PeVersionTest, DamagedImagesHaveNoVersionData) {
    struct Damage {
        const char* what;
        std::function<void(Bytes&, const PeLayout&)> apply;
        bool mayStillWork;
    };
    const Damage damages[] = {
        {"no MZ", [](Bytes& b, const PeLayout&) { b[0] = 'X'; }, false},
        {"PE header offset near 4 GiB",
         [](Bytes& b, const PeLayout&) { Put32(b, 0x3C, 0xFFFFFFF0u); }, false},
        {"PE header offset at the last bytes",
         [](Bytes& b, const PeLayout&) {
             Put32(b, 0x3C, static_cast<std::uint32_t>(b.size() - 2));
         },
         false},
        {"PE signature", [](Bytes& b, const PeLayout& l) { b[l.pe + 1] = 'X'; }, false},
        {"unknown optional header magic",
         [](Bytes& b, const PeLayout& l) { Put16(b, l.optional, 0x107); }, false},
        {"optional header too short for the resource directory",
         [](Bytes& b, const PeLayout& l) {
             Put16(b, l.pe + 20, static_cast<std::uint16_t>(l.resourceDirectory + 7 - l.optional));
         },
         false},
        {"optional header running past the end",
         [](Bytes& b, const PeLayout& l) { Put16(b, l.pe + 20, 0xFFFF); }, false},
        {"two data directories only", [](Bytes& b, const PeLayout& l) { Put32(b, l.rvaCount, 2); },
         false},
        {"no resource directory",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.resourceDirectory, 0); }, false},
        {"resource directory in no section",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.resourceDirectory, 0x7FFF0000u); }, false},
        {"section table running past the end",
         [](Bytes& b, const PeLayout& l) { Put16(b, l.pe + 6, 0xFFFF); }, false},
        {"resource section data past the end",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.resourceSection + 20, 0xFFFFFF00u); }, false},
        {"resource section raw size of 4 GiB",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.resourceSection + 16, 0xFFFFFFFFu); }, true},
        {"resource section of no size",
         [](Bytes& b, const PeLayout& l) {
             Put32(b, l.resourceSection + 8, 0);
             Put32(b, l.resourceSection + 16, 0);
         },
         false},
        {"type entry pointing at the root directory",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.typeEntry + 4, 0x80000000u); }, false},
        {"language entry pointing back at the name directory",
         [](Bytes& b, const PeLayout& l) {
             Put32(b, l.languageEntry + 4,
                   0x80000000u | static_cast<std::uint32_t>(l.nameDirectory - l.resourceRoot));
         },
         false},
        {"name entry that is not a directory",
         [](Bytes& b, const PeLayout& l) {
             Put32(b, l.nameDirectory + 20, Get32(b, l.nameDirectory + 20) & 0x7FFFFFFFu);
         },
         false},
        {"name directory without entries",
         [](Bytes& b, const PeLayout& l) {
             Put16(b, l.nameDirectory + 12, 0);
             Put16(b, l.nameDirectory + 14, 0);
         },
         false},
        {"root claiming 131070 entries, none of them a version",
         [](Bytes& b, const PeLayout& l) {
             Put32(b, l.typeEntry, 17);
             Put16(b, l.resourceRoot + 12, 0xFFFF);
             Put16(b, l.resourceRoot + 14, 0xFFFF);
         },
         false},
        {"directory offset near 2 GiB",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.typeEntry + 4, 0xFFFFFFF0u); }, false},
        {"data entry past the end",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.languageEntry + 4, 0x7FFFFFF0u); }, false},
        {"data size of 4 GiB",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.dataEntry + 4, 0xFFFFFFFFu); }, false},
        {"data RVA near 4 GiB",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.dataEntry, 0xFFFFFFF0u); }, false},
        {"data running past the end of the file",
         [](Bytes& b, const PeLayout& l) {
             Put32(b, l.dataEntry + 4, static_cast<std::uint32_t>(b.size() - l.versionStart + 1));
         },
         false},
        {"data too short for a root",
         [](Bytes& b, const PeLayout& l) { Put32(b, l.dataEntry + 4, 37); }, false},
        {"root length shorter than its key",
         [](Bytes& b, const PeLayout& l) { Put16(b, l.versionStart, 37); }, false},
        {"root key other than VS_VERSION_INFO",
         [](Bytes& b, const PeLayout& l) { b[l.versionStart + 6 + 2 * 14] = 'X'; }, false},
    };

    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    paths_.MapDrive(u'T', dir.Path());
    for (const char* kind : kKinds) {
        const std::string name = std::string("version_basic_") + kind;
        const Bytes bytes = ReadAll(kFixtureDir + "/" + name);
        const PeLayout layout = Layout(bytes);
        ASSERT_TRUE(layout.hasVersion) << name;
        const auto whole = Fields(ReadFileVersionInfo(api_, FixturePath(name)));
        ASSERT_EQ(whole[0], u"Microsoft Corporation");
        for (const Damage& damage : damages) {
            SCOPED_TRACE(name + ": " + damage.what);
            Bytes damaged = bytes;
            damage.apply(damaged, layout);
            WriteAll(dir.Path() + "/damaged.dll", damaged);
            const std::uint32_t size = api_.VersionInfoSize(u"T:\\damaged.dll").size;
            const auto got = Fields(ReadFileVersionInfo(api_, u"T:\\damaged.dll"));
            if (damage.mayStillWork && size != 0) {
                EXPECT_EQ(got, whole);
            } else {
                EXPECT_EQ(size, 0u);
                EXPECT_EQ(got, std::vector<Text>(10));
            }
        }
    }
}

// Version data put together by a test: nodes with key, type, value and children, laid out the
// way resource compilers do (32-bit alignment from the start of the data).
struct Node {
    std::u16string key{};
    std::uint16_t type = 1;
    Bytes value{};
    std::vector<Node> children{};
    std::optional<std::uint16_t> length{};       // replaces the computed wLength
    std::optional<std::uint16_t> valueLength{};  // replaces the computed wValueLength
    bool terminateKey = true;
};

void Pad(Bytes& out) {
    while (out.size() % 4 != 0)
        out.push_back(0);
}

void Serialize(const Node& node, Bytes& out) {
    const std::size_t start = out.size();
    out.resize(start + 6);
    for (const char16_t unit : node.key) {
        out.push_back(static_cast<std::uint8_t>(unit));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    if (node.terminateKey)
        out.insert(out.end(), {0, 0});
    Pad(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children) {
        Pad(out);
        Serialize(child, out);
    }
    const auto valueLength = node.type == 1 ? node.value.size() / 2 : node.value.size();
    Put16(out, start, node.length.value_or(static_cast<std::uint16_t>(out.size() - start)));
    Put16(out, start + 2, node.valueLength.value_or(static_cast<std::uint16_t>(valueLength)));
    Put16(out, start + 4, node.type);
}

Bytes Units(std::u16string_view text) {
    Bytes out;
    for (const char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

Node String(std::u16string key, std::u16string_view value) {
    return Node{.key = std::move(key), .value = Units(value)};
}

// VS_VERSION_INFO > StringFileInfo > 040904B0 > the given strings; VarFileInfo > Translation.
Bytes VersionData(std::vector<Node> strings, std::optional<std::uint16_t> tableLength = {}) {
    Node table{.key = u"040904B0", .children = std::move(strings), .length = tableLength};
    Node stringFileInfo{.key = u"StringFileInfo", .children = {std::move(table)}};
    Node translation{.key = u"Translation", .type = 0, .value = {0x09, 0x04, 0xB0, 0x04}};
    Node varFileInfo{.key = u"VarFileInfo", .children = {translation}};
    Bytes fixed(52, 0);
    Put32(fixed, 0, 0xFEEF04BDu);
    Node root{.key = u"VS_VERSION_INFO",
              .type = 0,
              .value = fixed,
              .children = {std::move(stringFileInfo), std::move(varFileInfo)}};
    Bytes out;
    Serialize(root, out);
    return out;
}

// The text at a looked-up value, up to its NUL or the end of the data.
std::optional<Text> Lookup(PeVersionApi& api, std::span<const std::uint8_t> block,
                           TextView subBlock) {
    const auto value = api.QueryVersionValue(block, Text(subBlock));
    if (!value)
        return std::nullopt;
    const auto* p = value->bytes.data();
    const auto* begin = block.data();
    const auto* end = block.data() + block.size();
    Text text;
    if (std::less_equal<>()(begin, p) && std::less<>()(p, end)) {
        EXPECT_EQ(p + value->bytes.size(), end) << "the value runs to the end of the data";
        for (; end - p >= 2 && (p[0] | p[1]) != 0; p += 2) {
            text.push_back(static_cast<char16_t>(p[0] | p[1] << 8));
        }
    } else {
        EXPECT_TRUE(value->bytes.empty()) << "outside the data";
        EXPECT_EQ(value->length, 0u);
    }
    return text;
}

TEST_F(PeVersionTest, LooksUpPathsInVersionData) {
    // A text node may have a value and children: they start after the value's 2 * wValueLength
    // bytes.
    Node parent = String(u"Parent", u"xy\0"sv);
    parent.children = {String(u"Child", u"c\0"sv)};
    const Bytes data = VersionData({String(u"CompanyName", u"Contoso\0"sv), String(u"Empty", u""sv),
                                    std::move(parent), String(u"LegalCopyright", u"(c) 2024\0"sv)});
    struct Case {
        TextView subBlock;
        std::optional<Text> expected;
    };
    const Case cases[] = {
        {u"\\StringFileInfo\\040904B0\\CompanyName", u"Contoso"},
        {u"\\stringfileinfo\\040904b0\\COMPANYNAME", u"Contoso"},
        {u"StringFileInfo\\\\040904B0\\CompanyName\\", u"Contoso"},
        {u"\\StringFileInfo\\040904B0\\LegalCopyRight", u"(c) 2024"},
        {u"\\StringFileInfo\\040904B0\\Company", std::nullopt},
        {u"\\StringFileInfo\\040904B0\\CompanyNameX", std::nullopt},
        {u"\\StringFileInfo\\040904E4\\CompanyName", std::nullopt},
        {u"\\StringFileInfo\\040904B0\\CompanyName\\More", std::nullopt},
        {u"\\StringFileInfo\\040904B0\\Empty", u""},
        {u"\\StringFileInfo\\040904B0\\Parent", u"xy"},
        {u"\\StringFileInfo\\040904B0\\Parent\\Child", u"c"},
        {u"\\VarFileInfo\\Translation", Text{0x0409, 0x04B0}},
        {u"\\VarFileInfo\\Missing", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Lookup(api_, data, c.subBlock), c.expected) << TextToUtf8(c.subBlock);
    }
}

// Broken trees: the walk stops at the first node that does not fit, and nothing outside the
// data (or outside the node a value belongs to) is read.
TEST_F(PeVersionTest, MalformedVersionDataEndsTheWalk) {
    const TextView company = u"\\StringFileInfo\\040904B0\\CompanyName";
    const TextView product = u"\\StringFileInfo\\040904B0\\ProductVersion";
    const TextView translation = u"\\VarFileInfo\\Translation";
    struct Case {
        const char* what;
        Bytes data;
        TextView subBlock;
        std::optional<Text> expected;
    };
    const auto shortNode = [] {
        Node n = String(u"CompanyName", u"Contoso\0"sv);
        n.length = 5;
        return n;
    };
    const auto longNode = [] {
        Node n = String(u"CompanyName", u"Contoso\0"sv);
        n.length = 0x400;
        return n;
    };
    const auto unterminatedKey = [] {
        Node n{.key = u"CompanyName", .terminateKey = false};
        return n;
    };
    const auto valueBeyondNode = [] {
        Node n = String(u"CompanyName", u""sv);
        n.valueLength = 4;
        return n;
    };
    Bytes bigRoot = VersionData({String(u"CompanyName", u"Contoso\0"sv)});
    Put16(bigRoot, 0, 0xFFFF);
    const Bytes whole = VersionData(
        {String(u"CompanyName", u"Contoso\0"sv), String(u"ProductVersion", u"1.0\0"sv)});
    // VarFileInfo (68 bytes) is last, after ProductVersion (44 bytes).
    const Bytes cutInProduct(whole.begin(), whole.end() - 80);
    const Bytes cutInTranslation(whole.begin(), whole.end() - 2);

    const Case cases[] = {
        {"node shorter than its header",
         VersionData({shortNode(), String(u"ProductVersion", u"1.0\0"sv)}), product, std::nullopt},
        {"node longer than its parent", VersionData({longNode()}), company, std::nullopt},
        {"table longer than its parent",
         VersionData({String(u"CompanyName", u"Contoso\0"sv)}, 0x400), company, std::nullopt},
        {"key without NUL", VersionData({unterminatedKey()}), company, std::nullopt},
        {"value past the end of its node", VersionData({valueBeyondNode()}), company, std::nullopt},
        {"root longer than the data", bigRoot, company, u"Contoso"},
        {"data cut inside the last node", cutInTranslation, company, u"Contoso"},
        {"data cut inside the last node (that node)", cutInTranslation, translation, std::nullopt},
        // The string table now runs past the data, so nothing in it is found.
        {"data cut inside a string", cutInProduct, company, std::nullopt},
        {"data cut inside a string (that string)", cutInProduct, product, std::nullopt},
        {"five bytes", Bytes{0x05, 0x00, 0x00, 0x00, 0x00}, u"\\", std::nullopt},
        {"root of no length", Bytes(64, 0), u"\\", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Lookup(api_, c.data, c.subBlock), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace tolvessa::host
