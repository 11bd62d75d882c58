// Module tables that are short, lie about their size or hold odd paths: the scan makes one row
// per whole entry the bytes hold and nothing for the rest.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "inventory/driver_scan.h"
#include "inventory/module_snapshot.h"
#include "tests/unit/fake_inventory.h"

namespace tolvessa {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr ModuleTableLayout kLayouts[] = {ModuleTableLayout::k32Bit, ModuleTableLayout::k64Bit};

// The scan over `bytes` in a layout, with no file on disk: each row is the entry's decoded path,
// resolved.
std::vector<DriverRow> Scan(const Bytes& bytes, ModuleTableLayout layout) {
    testing::FakeInventory inventory;
    inventory.modules.bytes = bytes;
    inventory.modules.layout = layout;
    DriverList list;
    EXPECT_EQ(inventory.ScanInto(list), ScanResult::kCompleted);
    return list.Rows();
}

std::vector<Text> ImageNames(const std::vector<DriverRow>& rows) {
    std::vector<Text> names;
    for (const DriverRow& row : rows)
        names.push_back(row[kImageName]);
    return names;
}

// Kernel addresses above 4 GiB, which only the 64-bit layout holds whole.
ModuleEntry Entry(std::string path, std::uint16_t order) {
    ModuleEntry e;
    e.imageBase = 0xFFFFF80200000000u + 0x80000000u + order;
    e.imageSize = 0x1000;
    e.loadOrderIndex = order;
    e.fullPathName = std::move(path);
    return e;
}

void SetCount(Bytes& bytes, std::uint32_t count) {
    for (int k = 0; k < 4; ++k)
        bytes[k] = static_cast<std::uint8_t>(count >> (8 * k));
}

// Cut at every byte, the header and each field of every entry included, in both layouts: an
// entry that is not whole gives no row, and every whole one gives its own, with its own base.
TEST(ModuleTableBadInputTest, TableCutAtEveryByteGivesTheWholeEntriesOnly) {
    // As resolved against C:\Windows.
    const std::vector<Text> names = {u"C:\\Windows\\a.sys", u"b.sys", u"C:\\c.sys"};
    const std::vector<Text> bases64 = {u"0xFFFFF80280000001", u"0xFFFFF80280000002",
                                       u"0xFFFFF80280000003"};
    const std::vector<Text> bases32 = {u"0x80000001", u"0x80000002", u"0x80000003"};
    for (const ModuleTableLayout layout : kLayouts) {
        const ModuleTableFormat format = FormatOf(layout);
        const Bytes whole = EncodeModuleSnapshot(
            {Entry("\\SystemRoot\\a.sys", 1), Entry("b.sys", 2), Entry("\\??\\C:\\c.sys", 3)},
            layout);
        ASSERT_EQ(whole.size(), format.headerSize + 3 * format.entrySize);
        const auto& bases = layout == ModuleTableLayout::k64Bit ? bases64 : bases32;
        for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
            const Bytes bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            const std::size_t entries =
                cut < format.headerSize ? 0 : (cut - format.headerSize) / format.entrySize;
            const std::vector<DriverRow> rows = Scan(bytes, layout);
            ASSERT_EQ(ImageNames(rows), std::vector<Text>(names.begin(), names.begin() + entries))
                << "cut at " << cut << " of " << whole.size();
            for (std::size_t i = 0; i < rows.size(); ++i) {
                EXPECT_EQ(rows[i][kLoadOrder], DecimalText(i + 1));
                EXPECT_EQ(rows[i][kBaseAddress], bases[i]);
            }
        }
    }
}

struct TableCase {
    const char* name;
    std::vector<ModuleEntry> entries;
    std::uint32_t claimed;
    std::size_t extraHalfEntries;  // zero bytes after the last entry, in halves of an entry
    std::vector<Text> names;
};

class ModuleTableCaseTest
    : public ::testing::TestWithParam<std::tuple<TableCase, ModuleTableLayout>> {};

TEST_P(ModuleTableCaseTest, GivesOneRowPerWholeClaimedEntry) {
    const auto& [c, layout] = GetParam();
    Bytes bytes = EncodeModuleSnapshot(c.entries, layout);
    SetCount(bytes, c.claimed);
    bytes.resize(bytes.size() + c.extraHalfEntries * FormatOf(layout).entrySize / 2, 0);
    EXPECT_EQ(ImageNames(Scan(bytes, layout)), c.names);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ModuleTableCaseTest,
    ::testing::Combine(
        ::testing::Values(
            TableCase{"claims_two_to_the_32_minus_one",
                      {Entry("a", 0), Entry("b", 1)},
                      0xFFFFFFFFu,
                      0,
                      {u"a", u"b"}},
            TableCase{"claims_a_negative_count", {Entry("a", 0)}, 0x80000000u, 0, {u"a"}},
            TableCase{"claims_none_holds_two", {Entry("a", 0), Entry("b", 1)}, 0, 0, {}},
            TableCase{"claims_three_holds_two_and_a_half",
                      {Entry("a", 0), Entry("b", 1)},
                      3,
                      1,
                      {u"a", u"b"}},
            TableCase{"zeros_where_the_count_says_an_entry_is", {}, 1, 2, {u""}},
            TableCase{"path_of_256_bytes_without_a_zero",
                      {Entry(std::string(300, 'p'), 0)},
                      1,
                      0,
                      {Text(256, u'p')}},
            TableCase{
                "path_that_is_not_utf8", {Entry("a\xFF\xC3.sys", 0)}, 1, 0, {u"a\xFFFD\xFFFD.sys"}},
            TableCase{"path_of_a_zero_byte_then_text",
                      {Entry(std::string("\0hidden.sys", 11), 0)},
                      1,
                      0,
                      {u""}}),
        ::testing::ValuesIn(kLayouts)),
    [](const auto& param) {
        return std::string(std::get<0>(param.param).name) +
               (std::get<1>(param.param) == ModuleTableLayout::k64Bit ? "_64" : "_32");
    });

}  // namespace
}  // namespace tolvessa
