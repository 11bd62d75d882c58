#include "inventory/module_snapshot.h"

#include <gtest/gtest.h>

namespace tolvessa {
namespace {

TEST(ModuleSnapshotTest, ReadsTheFourFieldsLittleEndian) {
    std::vector<std::uint8_t> bytes(4 + 284, 0xEE);
    bytes[0] = 1, bytes[1] = bytes[2] = bytes[3] = 0;
    std::uint8_t* e = bytes.data() + 4;
    const std::uint8_t base[] = {0x78, 0x56, 0x34, 0x12}, size[] = {0x00, 0x50, 0x00, 0x00};
    std::copy(std::begin(base), std::end(base), e + 8);
    std::copy(std::begin(size), std::end(size), e + 12);
    e[20] = 0xFF, e[21] = 0xFF;
    const char path[] = "\\SystemRoot\\x.sys";
    std::copy(path, path + sizeof path, e + 28);  // with its zero byte; 0xEE after it

    const ModuleSnapshot snapshot(bytes, ModuleTableLayout::k32Bit);
    ASSERT_EQ(snapshot.Count(), 1u);
    const ModuleEntry entry = snapshot.Entry(0);
    EXPECT_EQ(entry.imageBase, 0x12345678u);
    EXPECT_EQ(entry.addressDigits, 8);
    EXPECT_EQ(entry.imageSize, 0x5000u);
    EXPECT_EQ(entry.loadOrderIndex, 65535);
    EXPECT_EQ(entry.fullPathName, "\\SystemRoot\\x.sys");
}

// The 64-bit layout: the count padded to 8 bytes; section, mapped base and image base of 8 bytes
// each, then the fields of the 32-bit entry, the path at 40.
TEST(ModuleSnapshotTest, ReadsTheSixtyFourBitLayout) {
    std::vector<std::uint8_t> bytes(8 + 296, 0xEE);
    const std::uint8_t header[] = {1, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE};  // padding is not read
    std::copy(std::begin(header), std::end(header), bytes.begin());
    std::uint8_t* e = bytes.data() + 8;
    const std::uint8_t base[] = {0x00, 0x00, 0x40, 0x5A, 0x02, 0xF8, 0xFF, 0xFF};
    const std::uint8_t size[] = {0x00, 0x50, 0x00, 0x00};
    std::copy(std::begin(base), std::end(base), e + 16);
    std::copy(std::begin(size), std::end(size), e + 24);
    e[32] = 0x34, e[33] = 0x12;
    const char path[] = "\\SystemRoot\\x.sys";
    std::copy(path, path + sizeof path, e + 40);

    const ModuleSnapshot snapshot(bytes, ModuleTableLayout::k64Bit);
    EXPECT_EQ(snapshot.ClaimedCount(), 1u);
    ASSERT_EQ(snapshot.Count(), 1u);
    const ModuleEntry entry = snapshot.Entry(0);
    EXPECT_EQ(entry.imageBase, 0xFFFFF8025A400000u);
    EXPECT_EQ(entry.imageSize, 0x5000u);
    EXPECT_EQ(entry.loadOrderIndex, 0x1234);
    EXPECT_EQ(entry.addressDigits, 16);
    EXPECT_EQ(entry.fullPathName, "\\SystemRoot\\x.sys");
}

TEST(ModuleSnapshotTest, PathWithoutZeroByteIsAll256Bytes) {
    ModuleEntry in;
    in.fullPathName = std::string(256, 'a');
    for (const auto layout : {ModuleTableLayout::k32Bit, ModuleTableLayout::k64Bit}) {
        auto bytes = EncodeModuleSnapshot({in}, layout);
        const ModuleSnapshot snapshot(bytes, layout);
        EXPECT_EQ(snapshot.Entry(0).fullPathName.size(), 256u);
    }
}

TEST(ModuleSnapshotTest, EncodesAndReadsBackInOrderInBothLayouts) {
    std::vector<ModuleEntry> entries(3);
    for (int i = 0; i < 3; ++i) {
        entries[i].imageBase = 0xFFFFF80000000000u + 0x10000000u * i + i;
        entries[i].imageSize = 0x200000u * i;
        entries[i].loadOrderIndex = static_cast<std::uint16_t>(2 - i);
        entries[i].fullPathName = "m" + std::to_string(i);
    }
    struct {
        ModuleTableLayout layout;
        std::size_t bytes;
        std::uint64_t baseMask;  // what the layout keeps of a base
    } const layouts[] = {{ModuleTableLayout::k32Bit, 4 + 3 * 284, 0xFFFFFFFFu},
                         {ModuleTableLayout::k64Bit, 8 + 3 * 296, ~std::uint64_t{0}}};
    for (const auto& l : layouts) {
        const auto bytes = EncodeModuleSnapshot(entries, l.layout);
        ASSERT_EQ(bytes.size(), l.bytes);
        const ModuleSnapshot snapshot(bytes, l.layout);
        ASSERT_EQ(snapshot.Count(), 3u);
        for (int i = 0; i < 3; ++i) {
            const ModuleEntry e = snapshot.Entry(i);
            EXPECT_EQ(e.imageBase, entries[i].imageBase & l.baseMask);
            EXPECT_EQ(e.imageSize, entries[i].imageSize);
            EXPECT_EQ(e.loadOrderIndex, entries[i].loadOrderIndex);
            EXPECT_EQ(e.fullPathName, entries[i].fullPathName);
        }
    }
}

struct CountCase {
    ModuleTableLayout layout;
    std::size_t byteCount;
    std::uint32_t claimed;
    std::size_t expected;
};

constexpr ModuleTableLayout k32 = ModuleTableLayout::k32Bit;
constexpr ModuleTableLayout k64 = ModuleTableLayout::k64Bit;

class SnapshotCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(SnapshotCountTest, ReadsOnlyWholeEntriesPresent) {
    const CountCase c = GetParam();
    std::vector<std::uint8_t> bytes(c.byteCount, 0x41);
    for (int k = 0; k < 4 && k < static_cast<int>(bytes.size()); ++k) {
        bytes[k] = static_cast<std::uint8_t>(c.claimed >> (8 * k));
    }
    const ModuleSnapshot snapshot(bytes, c.layout);
    EXPECT_EQ(snapshot.Count(), c.expected);
    // Every entry the count admits can be read; one past it gives an empty entry.
    for (std::size_t i = 0; i < snapshot.Count(); ++i) {
        EXPECT_EQ(snapshot.Entry(i).fullPathName.size(), 256u);
    }
    EXPECT_TRUE(snapshot.Entry(snapshot.Count()).fullPathName.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, SnapshotCountTest,
    ::testing::Values(
        CountCase{k32, 0, 0, 0}, CountCase{k32, 3, 0, 0},                  // no room for the count
        CountCase{k32, 4, 0, 0}, CountCase{k32, 4, 5, 0},                  // count, no entries
        CountCase{k32, 4 + 283, 1, 0},                                     // one byte short
        CountCase{k32, 4 + 284, 1, 1}, CountCase{k32, 4 + 284 * 2, 1, 1},  // fewer claimed
        CountCase{k32, 4 + 284 * 2 + 100, 7, 2},                           // more claimed
        CountCase{k32, 4 + 284 * 3, 0xFFFFFFFFu, 3},                       // claims 2^32 - 1
        CountCase{k64, 0, 0, 0}, CountCase{k64, 3, 0, 0},                  // no room for the count
        CountCase{k64, 7, 1, 0},        // the count, but not its padding
        CountCase{k64, 8, 5, 0},        // count and padding, no entries
        CountCase{k64, 4 + 296, 1, 0},  // a whole entry after a 4-byte header is not enough
        CountCase{k64, 8 + 295, 1, 0},  // one byte short
        CountCase{k64, 8 + 296, 1, 1}, CountCase{k64, 8 + 296 * 2, 1, 1},  // fewer claimed
        CountCase{k64, 8 + 296 * 2 + 100, 7, 2},                           // more claimed
        CountCase{k64, 8 + 296 * 3, 0xFFFFFFFFu, 3},                       // claims 2^32 - 1
        CountCase{k64, 8 + 296 * 3, 0x80000000u, 3}));                     // a negative count

}  // namespace
}  // namespace tolvessa
