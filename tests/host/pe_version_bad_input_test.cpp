// Images and version data built to mislead the reader: directories that lead back to
// themselves, sections whose addresses wrap at 4 GiB, version data at odd places, trees nested
// thousands deep. The answer is the whole one or none, never a crash, hang or stray read.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/pe_version.h"
#include "temp_dir.h"

namespace tolvessa::host {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kFixtureDir = TOLVESSA_FIXTURE_DIR;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
                                      static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}
std::uint16_t Get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
        b.at(at + k) = static_cast<std::uint8_t>(v >> (8 * k));
}
void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

// The places in a fixture image the damage is done at (the MinGW linker's layout: one
// resource section, the version resource the only one of its type).
struct Layout {
    std::size_t rvaCount = 0;
    std::size_t resourceDirectory = 0;
    std::size_t resourceSection = 0;  // its header in the section table
    std::size_t root = 0;             // file offset of the root directory
    std::uint32_t rootRva = 0;
    std::size_t rawEnd = 0;  // end of the resource section's raw data
    std::size_t typeEntry = 0;
    std::size_t nameDirectory = 0;
    std::size_t languageDirectory = 0;
    std::size_t dataEntry = 0;
    std::size_t versionStart = 0;
    std::size_t versionSize = 0;
};

Layout Find(const Bytes& b) {
    Layout l;
    const std::size_t pe = Get32(b, 0x3C);
    const std::size_t optional = pe + 24;
    l.rvaCount = optional + (Get16(b, optional) == 0x20B ? 108 : 92);
    l.resourceDirectory = l.rvaCount + 4 + 16;
    l.rootRva = Get32(b, l.resourceDirectory);
    const std::size_t sections = optional + Get16(b, pe + 20);
    for (std::size_t i = 0; i < Get16(b, pe + 6); ++i) {
        const std::size_t s = sections + 40 * i;
        if (Get32(b, s + 12) == l.rootRva) {
            l.resourceSection = s;
            l.root = Get32(b, s + 20);
            l.rawEnd = l.root + Get32(b, s + 16);
        }
    }
    const std::size_t count = Get16(b, l.root + 12) + Get16(b, l.root + 14);
    for (std::size_t i = 0; i < count; ++i) {
        if (Get32(b, l.root + 16 + 8 * i) == 16)
            l.typeEntry = l.root + 16 + 8 * i;
    }
    l.nameDirectory = l.root + (Get32(b, l.typeEntry + 4) & 0x7FFFFFFF);
    l.languageDirectory = l.root + (Get32(b, l.nameDirectory + 20) & 0x7FFFFFFF);
    l.dataEntry = l.root + Get32(b, l.languageDirectory + 20);
    l.versionStart = l.root + (Get32(b, l.dataEntry) - l.rootRva);
    l.versionSize = Get32(b, l.dataEntry + 4);
    return l;
}

std::uint32_t Offset(std::size_t from, std::size_t to) {
    return static_cast<std::uint32_t>(to - from);
}

struct Damage {
    const char* what;
    std::function<void(Bytes&, const Layout&)> apply;
    bool keepsTheAnswer;
};

class PeVersionBadInputTest : public ::testing::Test {
  protected:
    PeVersionBadInputTest() { paths_.MapDrive(u'T', dir_.Path().string()); }

    // The company name read from these bytes as a file.
    std::pair<std::uint32_t, Text> Read(const Bytes& bytes) {
        std::ofstream(dir_.Path() / "image.dll", std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        const std::uint32_t size = api_.VersionInfoSize(u"T:\\image.dll").size;
        return {size, ReadFileVersionInfo(api_, u"T:\\image.dll").fCompanyName};
    }

    testing::TempDir dir_;
    HostPaths paths_;
    PeVersionApi api_{paths_};
};

TEST_F(PeVersionBadInputTest, MisleadingDirectoriesAndSectionsGiveTheWholeAnswerOrNone) {
    const Damage damages[] = {
        {"name entry leading back to its own directory",
         [](Bytes& b, const Layout& l) {
             Put32(b, l.nameDirectory + 20, 0x80000000u | Offset(l.root, l.nameDirectory));
         },
         false},
        {"language entry leading back to the root",
         [](Bytes& b, const Layout& l) { Put32(b, l.languageDirectory + 20, 0x80000000u); }, false},
        {"language entry naming a data entry at the root's header",
         [](Bytes& b, const Layout& l) { Put32(b, l.languageDirectory + 20, 0); }, false},
        {"data entry pointing at the directory it is found through",
         [](Bytes& b, const Layout& l) {
             Put32(b, l.dataEntry, l.rootRva + Offset(l.root, l.languageDirectory));
         },
         false},
        {"resource section whose addresses wrap at 4 GiB",
         [](Bytes& b, const Layout& l) {
             // In 32 bits 0xFFFFF000 + 0x2000 would cover the directory's RVA of 0x800.
             Put32(b, l.resourceSection + 12, 0xFFFFF000u);
             Put32(b, l.resourceSection + 8, 0x2000);
             Put32(b, l.resourceDirectory, 0x800);
         },
         false},
        {"data size that wraps the file offset at 4 GiB",
         [](Bytes& b, const Layout& l) {
             Put32(b, l.dataEntry + 4, 0xFFFFFFFFu - Offset(0, l.versionStart) + 64);
         },
         false},
        {"4294967295 data directories",
         [](Bytes& b, const Layout& l) { Put32(b, l.rvaCount, ~0u); }, true},
        {"version data one byte further on, at an odd offset",
         [](Bytes& b, const Layout& l) {
             std::memmove(&b[l.versionStart + 1], &b[l.versionStart], l.versionSize);
             Put32(b, l.dataEntry, Get32(b, l.dataEntry) + 1);
             // The section's VirtualSize ends with the data: it grows by the byte too.
             Put32(b, l.resourceSection + 8, Get32(b, l.resourceSection + 8) + 1);
         },
         true},
    };

    for (const char* kind : {"32.dll", "64.exe"}) {
        const Bytes image = ReadAll(kFixtureDir + "/version_basic_" + kind);
        const Layout layout = Find(image);
        ASSERT_GT(layout.versionSize, 0u) << kind;
        // Room for the shifted copy inside the section's raw data.
        ASSERT_LT(layout.versionStart + layout.versionSize, layout.rawEnd) << kind;
        ASSERT_EQ(Read(image).second, u"Microsoft Corporation") << kind;

        for (const Damage& damage : damages) {
            SCOPED_TRACE(std::string(kind) + ": " + damage.what);
            Bytes damaged = image;
            damage.apply(damaged, layout);
            const auto [size, company] = Read(damaged);
            if (damage.keepsTheAnswer) {
                EXPECT_EQ(size, layout.versionSize);
                EXPECT_EQ(company, u"Microsoft Corporation");
            } else {
                EXPECT_EQ(size, 0u);
                EXPECT_EQ(company, u"");
            }
        }
    }
}

// Version data laid out as resource compilers do: {wLength, wValueLength, wType, key, value,
// children}, each node and value 32-bit aligned from the start of the data.
Bytes Units(std::u16string_view text) {
    Bytes out;
    for (const char16_t unit : text) {
        out.push_back(static_cast<std::uint8_t>(unit));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return out;
}

void Align(Bytes& b) {
    while (b.size() % 4 != 0)
        b.push_back(0);
}

// Where the root's first child starts: header, "VS_VERSION_INFO" and its NUL, 52 bytes of
// VS_FIXEDFILEINFO.
constexpr std::size_t kFirstChild = 40 + 52;

// A node around `inner` (children already laid out, starting 32-bit aligned).
Bytes Node(std::u16string_view key, const Bytes& value, bool text, const Bytes& inner) {
    Bytes b(6, 0);
    const Bytes k = Units(key);
    b.insert(b.end(), k.begin(), k.end());
    b.insert(b.end(), {0, 0});
    Align(b);
    b.insert(b.end(), value.begin(), value.end());
    Align(b);
    b.insert(b.end(), inner.begin(), inner.end());
    Put16(b, 0, static_cast<std::uint16_t>(b.size()));
    Put16(b, 2, static_cast<std::uint16_t>(text ? value.size() / 2 : value.size()));
    Put16(b, 4, text ? 1 : 0);
    return b;
}

// VS_VERSION_INFO with `depth` nodes "N", one inside the other, and "Leaf" = "deep" inside the
// last of them.
Bytes NestedData(std::size_t depth) {
    Bytes inner = Node(u"Leaf", Units(std::u16string_view(u"deep\0", 5)), true, {});
    for (std::size_t i = 0; i < depth; ++i)
        inner = Node(u"N", {}, true, inner);
    return Node(u"VS_VERSION_INFO", Bytes(52, 0), false, inner);
}

Text NestedPath(std::size_t depth, TextView last) {
    Text path;
    for (std::size_t i = 0; i < depth; ++i)
        path += u"\\N";
    return path + u"\\" + Text(last);
}

// The text at a value found in `block`, up to its NUL or the end of the block; nothing when
// the lookup fails. Only the empty value of a node without one may lie outside the block.
std::optional<Text> Lookup(PeVersionApi& api, std::span<const std::uint8_t> block,
                           const Text& subBlock) {
    const auto value = api.QueryVersionValue(block, subBlock);
    if (!value)
        return std::nullopt;
    const auto at = reinterpret_cast<std::uintptr_t>(value->bytes.data());
    const auto begin = reinterpret_cast<std::uintptr_t>(block.data());
    if (at < begin || at - begin >= block.size()) {
        EXPECT_TRUE(value->bytes.empty()) << "outside the data";
        return Text();
    }
    Text text;
    for (std::size_t i = at - begin; i + 1 < block.size(); i += 2) {
        const auto unit = static_cast<char16_t>(block[i] | block[i + 1] << 8);
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text;
}

TEST_F(PeVersionBadInputTest, TreesNestedThousandsDeepAreWalkedWithoutRecursion) {
    // 12 bytes a level: as deep as a 16-bit wLength allows.
    constexpr std::size_t kDepth = 5000;
    const Bytes data = NestedData(kDepth);
    ASSERT_LE(data.size(), 0xFFFFu);

    EXPECT_EQ(Lookup(api_, data, NestedPath(kDepth, u"Leaf")), u"deep");
    EXPECT_EQ(Lookup(api_, data, NestedPath(kDepth + 1, u"Leaf")), std::nullopt);
    EXPECT_EQ(Lookup(api_, data, NestedPath(kDepth - 1, u"Leaf")), std::nullopt);

    // One level in the middle claiming a byte more than its parent holds ends the walk there.
    Bytes longer = data;
    const std::size_t middle = kFirstChild + 12 * (kDepth / 2);
    ASSERT_EQ(Get16(longer, middle + 6), u'N');
    Put16(longer, middle, static_cast<std::uint16_t>(Get16(longer, middle) + 1));
    EXPECT_EQ(Lookup(api_, longer, NestedPath(kDepth, u"Leaf")), std::nullopt);
}

TEST_F(PeVersionBadInputTest, OddAddressesAndOddLengthsReadTheSameUnits) {
    const Bytes data = Node(u"VS_VERSION_INFO", Bytes(52, 0), false,
                            Node(u"Key", Units(std::u16string_view(u"value\0", 6)), true, {}));
    Bytes shifted(data.size() + 1, 0xCC);
    std::copy(data.begin(), data.end(), shifted.begin() + 1);
    const std::span<const std::uint8_t> odd = std::span(shifted).subspan(1);
    EXPECT_EQ(Lookup(api_, odd, u"\\Key"), u"value");

    // Cut inside the value's NUL: the node no longer fits, so the key is not found.
    const std::span<const std::uint8_t> cut = odd.first(data.size() - 1);
    EXPECT_EQ(Lookup(api_, cut, u"\\Key"), std::nullopt);

    // A text value whose 2 * wValueLength runs past its node: the value still starts inside
    // the node, but the children that would follow it are not there.
    Bytes huge = Node(u"VS_VERSION_INFO", Bytes(52, 0), false,
                      Node(u"Key", Units(u"v"), true, Node(u"Child", {}, true, {})));
    ASSERT_EQ(Lookup(api_, huge, u"\\Key\\Child"), u"");
    Put16(huge, kFirstChild + 2, 0xFFFF);
    EXPECT_EQ(Lookup(api_, huge, u"\\Key"), u"v");
    EXPECT_EQ(Lookup(api_, huge, u"\\Key\\Child"), std::nullopt);
}

}  // namespace
}  // namespace tolvessa::host
