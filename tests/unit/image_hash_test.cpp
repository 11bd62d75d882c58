#include "inventory/image_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/strict_source.h"
#include "tests/unit/test_image.h"

namespace tolvessa {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::StrictSource;
using testing::TestImage;

constexpr std::uint32_t kImportDirectory = 1;

// ---- The image hash ----

// An image whose section holds 0x400 bytes of code, then `trailing` bytes after it.
TestImage CodeImage(bool plus, std::size_t trailing) {
    Bytes code(0x400);
    for (std::size_t i = 0; i < code.size(); ++i)
        code[i] = static_cast<std::uint8_t>(i * 7 + 1);
    TestImage image(plus, code);
    image.bytes.resize(image.bytes.size() + trailing, 0xEE);
    return image;
}

TEST(ImageHashPlanTest, LeavesOutTheChecksumTheEntryAndTheTable) {
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        const std::uint64_t checksum = TestImage::kChecksumAt;
        // 5 bytes after the section: the length is no multiple of 8, so 3 zeros follow.
        TestImage image = CodeImage(plus, 5);
        const std::uint64_t entry = image.DirectoryAt(kPeCertificateDirectory);
        StrictSource unsignedSource(image.bytes);
        const auto unsignedPlan = PlanImageHash(unsignedSource);
        ASSERT_TRUE(unsignedPlan);
        const std::vector<ByteRange> unsignedRanges = {
            {0, checksum}, {checksum + 4, entry}, {entry + 8, 0x605}};
        EXPECT_EQ(unsignedPlan->ranges, unsignedRanges);
        EXPECT_EQ(unsignedPlan->zeroPadding, 3u);

        // Signed: padded to 0x608, then the table; neither is hashed, nothing is padded.
        const std::uint32_t table = image.AppendCertificateTable(0x28);
        ASSERT_EQ(table, 0x608u);
        StrictSource signedSource(image.bytes);
        const auto signedPlan = PlanImageHash(signedSource);
        ASSERT_TRUE(signedPlan);
        const std::vector<ByteRange> signedRanges = {
            {0, checksum}, {checksum + 4, entry}, {entry + 8, 0x608}};
        EXPECT_EQ(signedPlan->ranges, signedRanges);
        EXPECT_EQ(signedPlan->zeroPadding, 0u);
    }
}

TEST(ImageHashPlanTest, DamagedImagesGetNoPlan) {
    struct Case {
        const char* name;
        std::function<void(TestImage&, std::uint32_t table)> spoil;
    };
    const Case cases[] = {
        {"not a PE image", [](TestImage& i, auto) { i.bytes[0] = 'Z'; }},
        {"e_lfanew past the end", [](TestImage& i, auto) { Write32(i.bytes, 0x3C, 0x10000); }},
        {"no certificate-table entry",
         [](TestImage& i, auto) { Write32(i.bytes, i.DirectoryAt(0) - 4, 4); }},
        {"SizeOfHeaders past the end",
         [](TestImage& i, auto) { Write32(i.bytes, TestImage::kOptionalAt + 60, 0x10000); }},
        {"SizeOfHeaders short of the directory entries",
         [](TestImage& i, auto) { Write32(i.bytes, TestImage::kOptionalAt + 60, 0x100); }},
        {"section data past the end",
         [](TestImage& i, auto) { Write32(i.bytes, i.SectionHeaderAt() + 16, 0x10000); }},
        {"section table past the end",
         [](TestImage& i, auto) { Write16(i.bytes, TestImage::kPeAt + 6, 0x1000); }},
        {"table in the headers",
         [](TestImage& i, auto) { Write32(i.bytes, i.DirectoryAt(4), 0x100); }},
        {"table inside the section data",
         [](TestImage& i, auto) { Write32(i.bytes, i.DirectoryAt(4), 0x300); }},
        {"table past the end",
         [](TestImage& i, auto) { Write32(i.bytes, i.DirectoryAt(4) + 4, 0x30); }},
        {"table whose end wraps around 32 bits to the file's length",
         [](TestImage& i, auto) {
             i.SetDirectory(4, 0xFFFFFF00u, static_cast<std::uint32_t>(i.bytes.size() + 0x100));
         }},
        {"bytes after the table", [](TestImage& i, auto) { i.bytes.resize(i.bytes.size() + 8); }},
        {"cut inside the DOS header", [](TestImage& i, auto) { i.bytes.resize(0x30); }},
        {"cut inside the file header", [](TestImage& i, auto) { i.bytes.resize(0x90); }},
        {"cut inside the optional header", [](TestImage& i, auto) { i.bytes.resize(0xC0); }},
        {"cut inside the section table",
         [](TestImage& i, auto) { i.bytes.resize(i.SectionHeaderAt() + 20); }},
        {"cut inside the section data", [](TestImage& i, auto) { i.bytes.resize(0x400); }},
        {"cut inside the table", [](TestImage& i, auto t) { i.bytes.resize(t + 0x10); }},
    };
    for (const bool plus : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (plus ? ", PE32+" : ", PE32"));
            TestImage image = CodeImage(plus, 0);
            const std::uint32_t table = image.AppendCertificateTable(0x28);
            {
                StrictSource source(image.bytes);
                ASSERT_TRUE(PlanImageHash(source));
            }
            c.spoil(image, table);
            StrictSource source(image.bytes);
            EXPECT_FALSE(PlanImageHash(source));
        }
    }
}

// ---- The import list ----

// A library's imports: "#N" by ordinal N, any other text by that name.
struct Library {
    std::string name;
    std::vector<std::string> imports;
};

// Where the parts of an import table lie (RVAs).
struct ImportLayout {
    std::vector<std::uint32_t> lookup;       // each library's lookup thunks
    std::vector<std::uint32_t> libraryName;  // each library's name
    std::uint32_t end = 0;                   // one past the table's last byte
};

// An image whose section holds an import table as linkers lay it out: the descriptors, then
// each library's lookup thunks and address thunks (the same values), then the hint/name
// entries and the library names. `room` more zero bytes follow in the section.
TestImage ImportImage(bool plus, const std::vector<Library>& libraries,
                      ImportLayout* layout = nullptr, std::size_t room = 0) {
    const std::uint32_t thunkSize = plus ? 8 : 4;
    std::uint32_t at =
        TestImage::kSectionRva + 20 * static_cast<std::uint32_t>(libraries.size() + 1);
    ImportLayout where;
    std::vector<std::uint32_t> address;
    for (const Library& library : libraries) {
        const auto count = static_cast<std::uint32_t>(library.imports.size() + 1);
        where.lookup.push_back(at);
        address.push_back(at + count * thunkSize);
        at += 2 * count * thunkSize;
    }
    Bytes data(at - TestImage::kSectionRva);
    const auto put = [&](const std::string& text) {
        const std::uint32_t rva = at;
        data.insert(data.end(), text.begin(), text.end());
        data.resize(data.size() + 1 + (text.size() + 1) % 2);  // the zero, and even
        at = TestImage::kSectionRva + static_cast<std::uint32_t>(data.size());
        return rva;
    };
    for (std::size_t l = 0; l < libraries.size(); ++l) {
        for (std::size_t i = 0; i < libraries[l].imports.size(); ++i) {
            const std::string& import = libraries[l].imports[i];
            std::uint64_t thunk = 0;
            if (import.starts_with("#")) {
                thunk = std::stoul(import.substr(1)) | (plus ? 1ull << 63 : 1ull << 31);
            } else {
                thunk = put(std::string("\x01\x00", 2) + import);  // the hint, then the name
            }
            for (const std::uint32_t table : {where.lookup[l], address[l]}) {
                const std::size_t offset = table - TestImage::kSectionRva + i * thunkSize;
                if (plus)
                    Write64(data, offset, thunk);
                else
                    Write32(data, offset, static_cast<std::uint32_t>(thunk));
            }
        }
    }
    for (std::size_t l = 0; l < libraries.size(); ++l) {
        where.libraryName.push_back(put(libraries[l].name));
        const std::size_t descriptor = 20 * l;
        Write32(data, descriptor, where.lookup[l]);
        Write32(data, descriptor + 12, where.libraryName[l]);
        Write32(data, descriptor + 16, address[l]);
    }
    where.end = at;
    data.resize(data.size() + room);
    TestImage image(plus, std::move(data));
    image.SetDirectory(kImportDirectory, TestImage::kSectionRva,
                       20 * static_cast<std::uint32_t>(libraries.size() + 1));
    if (layout)
        *layout = where;
    return image;
}

// The lists pefile's get_imphash joins for these tables (checked with pefile 2023.2.7).
TEST(ImportHashTextTest, JoinsTheListAsIncidentResponseToolsDo) {
    struct Case {
        const char* name;
        std::vector<Library> libraries;
        std::string text;
    };
    const Case cases[] = {
        {"names, and the ordinals of Winsock and OLE Automation",
         {{"KERNEL32.dll", {"GetTickCount", "lstrlenA"}},
          {"WS2_32.dll", {"#9", "#115", "#999"}},
          {"WSOCK32.DLL", {"#1"}},
          {"OleAut32.dll", {"#2"}}},
         "kernel32.gettickcount,kernel32.lstrlena,ws2_32.htons,ws2_32.wsastartup,ws2_32.ord999,"
         "wsock32.accept,oleaut32.sysallocstring"},
        {"only .dll, .sys and .ocx are cut; other libraries' ordinals are numbers",
         {{"ntoskrnl.exe", {"IoCreateDevice"}},
          {"HAL.dll", {"KeGetCurrentIrql"}},
          {"Vendor.Sys", {"#7"}},
          {"Grid.OCX", {"#2"}},
          {"api-ms-win-core-synch-l1-2-0.dll", {"Sleep"}},
          {"printer.drv", {"#3"}}},
         "ntoskrnl.exe.iocreatedevice,hal.kegetcurrentirql,vendor.ord7,grid.ord2,"
         "api-ms-win-core-synch-l1-2-0.sleep,printer.drv.ord3"},
        {"what the list leaves out",
         {{"KERNEL32.dll", {"Get-TickCount", "#0", "GetTickCount", "", "Sleep Now"}},
          {"", {"Lost"}},
          {"gone.dll", {"not a name", "#0"}},
          {"bad name.dll", {"#5", "F"}}},
         "kernel32.gettickcount,*invalid*.ord5,*invalid*.f"},
        {"C++ names keep their marks",
         {{"msvcrt.dll", {"??2@YAPAXI@Z", "_vsnprintf", "$Thunk(x)<y>"}}},
         "msvcrt.??2@yapaxi@z,msvcrt._vsnprintf,msvcrt.$thunk(x)<y>"},
    };
    for (const bool plus : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (plus ? ", PE32+" : ", PE32"));
            const TestImage image = ImportImage(plus, c.libraries);
            StrictSource source(image.bytes);
            EXPECT_EQ(ImportHashText(source), c.text);
        }
    }
}

TEST(ImportHashTextTest, AnImageWithoutImportsHasTheEmptyList) {
    TestImage image = ImportImage(false, {{"KERNEL32.dll", {"GetTickCount"}}});
    image.SetDirectory(kImportDirectory, 0, 0);
    StrictSource source(image.bytes);
    EXPECT_EQ(ImportHashText(source), "");
}

TEST(ImportHashTextTest, DamagedTablesGiveNoList) {
    struct Case {
        const char* name;
        std::function<void(TestImage&, const ImportLayout&, bool plus)> spoil;
        bool plusOnly = false;
    };
    const auto thunk = [](TestImage& i, bool plus, std::uint32_t rva, std::uint64_t value) {
        if (plus)
            Write64(i.bytes, TestImage::Offset(rva), value);
        else
            Write32(i.bytes, TestImage::Offset(rva), static_cast<std::uint32_t>(value));
    };
    const Case cases[] = {
        {"import directory outside every section",
         [](TestImage& i, auto&, bool) { i.SetDirectory(kImportDirectory, 0x9000, 40); }},
        {"descriptors that run off the section",
         [](TestImage& i, auto&, bool) {
             const auto end = static_cast<std::uint32_t>(TestImage::kSectionRva + i.bytes.size() -
                                                         TestImage::kHeadersSize);
             i.SetDirectory(kImportDirectory, end - 10, 20);
         }},
        {"thunks without an end, up to the section's end",
         [&](TestImage& i, const ImportLayout& l, bool plus) {
             const auto end = static_cast<std::uint32_t>(TestImage::kSectionRva + i.bytes.size() -
                                                         TestImage::kHeadersSize);
             for (std::uint32_t rva = l.lookup[1]; rva + (plus ? 8 : 4) <= end;
                  rva += plus ? 8 : 4) {
                 thunk(i, plus, rva, plus ? 1ull << 63 | 9 : 1ull << 31 | 9);
             }
         }},
        {"hint/name entry outside the file",
         [&](TestImage& i, const ImportLayout& l, bool plus) {
             thunk(i, plus, l.lookup[0], 0x7000000);
         }},
        {"hint/name entry beyond 4 GiB (its low half inside the section)",
         [&](TestImage& i, const ImportLayout& l, bool plus) {
             thunk(i, plus, l.lookup[0], 0x100000000ull + l.libraryName[0] - 2);
         },
         true},
        {"ordinal above 65535",
         [&](TestImage& i, const ImportLayout& l, bool plus) {
             thunk(i, plus, l.lookup[1], plus ? 1ull << 63 | 0x10009 : 1ull << 31 | 0x10009);
         }},
        {"library name outside the file",
         [](TestImage& i, auto&, bool) {
             Write32(i.bytes, TestImage::Offset(0x1000 + 12), 0x9000);
         }},
        {"library name without its zero before the file ends",
         [](TestImage& i, const ImportLayout&, bool) {
             const std::uint64_t last = i.bytes.size() - 3;
             Write32(i.bytes, TestImage::Offset(0x1000 + 20 + 12),
                     static_cast<std::uint32_t>(last - TestImage::kHeadersSize +
                                                TestImage::kSectionRva));
             for (std::uint64_t at = last; at < i.bytes.size(); ++at)
                 i.bytes[at] = 'x';
         }},
    };
    for (const bool plus : {false, true}) {
        for (const Case& c : cases) {
            if (c.plusOnly && !plus)
                continue;  // a PE32 thunk with its top bit set is an ordinal
            SCOPED_TRACE(std::string(c.name) + (plus ? ", PE32+" : ", PE32"));
            ImportLayout layout;
            TestImage image = ImportImage(
                plus, {{"KERNEL32.dll", {"GetTickCount"}}, {"WS2_32.dll", {"#9"}}}, &layout, 0x40);
            {
                StrictSource source(image.bytes);
                ASSERT_EQ(ImportHashText(source), "kernel32.gettickcount,ws2_32.htons");
            }
            c.spoil(image, layout, plus);
            StrictSource source(image.bytes);
            EXPECT_EQ(ImportHashText(source), std::nullopt);
        }
    }
}

// The parsed image keeps every thunk as stored; what the list leaves out is the list's choice. A
// library whose name cannot be read has none, and the list looks at it only for a kept import.
TEST(PeImageImportsTest, KeepEveryThunkAndLeaveAnUnreadableNameToTheList) {
    for (const bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        ImportLayout layout;
        TestImage image = ImportImage(
            plus, {{"KERNEL32.dll", {"GetTickCount", "#0", "bad name!"}}, {"X.dll", {"#0", "#7"}}},
            &layout);
        StrictSource source(image.bytes);
        {
            const auto pe = PeImage::Parse(source);
            ASSERT_TRUE(pe);
            const auto libraries = pe->Imports(source);
            ASSERT_TRUE(libraries);
            ASSERT_EQ(libraries->size(), 2u);
            EXPECT_EQ((*libraries)[0].name, "KERNEL32.dll");
            const auto& imports = (*libraries)[0].imports;
            ASSERT_EQ(imports.size(), 3u);
            EXPECT_FALSE(imports[0].byOrdinal);
            EXPECT_EQ(imports[0].name, "GetTickCount");
            EXPECT_TRUE(imports[1].byOrdinal);
            EXPECT_EQ(imports[1].ordinal, 0);
            EXPECT_EQ(imports[2].name, "bad name!");
            EXPECT_EQ((*libraries)[1].imports.size(), 2u);
            EXPECT_EQ((*libraries)[1].imports[1].ordinal, 7);
            EXPECT_EQ(ImportHashText(*pe, source), "kernel32.gettickcount,x.ord7");
        }

        // X.dll's name outside the file: its import by ordinal 7 needs it.
        Write32(image.bytes, TestImage::Offset(0x1000 + 20 + 12), 0x9000);
        auto pe = PeImage::Parse(source);
        ASSERT_TRUE(pe);
        auto libraries = pe->Imports(source);
        ASSERT_TRUE(libraries);
        EXPECT_EQ((*libraries)[1].name, std::nullopt);
        EXPECT_EQ(ImportHashText(*pe, source), std::nullopt);
        // Without that import (now by ordinal 0), X.dll keeps nothing and is left out, its name
        // unlooked at.
        const std::uint32_t ordinal7 = layout.lookup[1] + (plus ? 8 : 4);
        Write32(image.bytes, TestImage::Offset(ordinal7), plus ? 0 : 0x80000000u);
        pe = PeImage::Parse(source);
        ASSERT_TRUE(pe);
        EXPECT_EQ(ImportHashText(*pe, source), "kernel32.gettickcount");
    }
}

TEST(ImportHashTextTest, MoreImportsThanAnyImageHasEndTheWalk) {
    // 70,000 imports of one function, then the end: the walk stops at its bound.
    const std::vector<std::string> many(70000, "#9");
    const TestImage image = ImportImage(true, {{"WS2_32.dll", many}});
    StrictSource source(image.bytes);
    EXPECT_EQ(ImportHashText(source), std::nullopt);
}

}  // namespace
}  // namespace tolvessa
