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

    const ModuleSnapshot snapshot(bytes);
    ASSERT_EQ(snapshot.Count(), 1u);
    const ModuleEntry entry = snapshot.Entry(0);
    EXPECT_EQ(entry.imageBase, 0x12345678u);
    EXPECT_EQ(entry.imageSize, 0x5000u);
    EXPECT_EQ(entry.loadOrderIndex, 65535);
    EXPECT_EQ(entry.fullPathName, "\\SystemRoot\\x.sys");
}

TEST(ModuleSnapshotTest, PathWithoutZeroByteIsAll256Bytes) {
    ModuleEntry in;
    in.fullPathName = std::string(256, 'a');
    auto bytes = EncodeModuleSnapshot({in});
    const ModuleSnapshot snapshot(bytes);
    EXPECT_EQ(snapshot.Entry(0).fullPathName.size(), 256u);
}

TEST(ModuleSnapshotTest, EncodesAndReadsBackInOrder) {
    std::vector<ModuleEntry> entries(3);
    for (int i = 0; i < 3; ++i) {
        entries[i].imageBase = 0x10000000u + i;
        entries[i].imageSize = 0x200000u * i;
        entries[i].loadOrderIndex = static_cast<std::uint16_t>(2 - i);
        entries[i].fullPathName = "m" + std::to_string(i);
    }
    const auto bytes = EncodeModuleSnapshot(entries);
    ASSERT_EQ(bytes.size(), 4u + 3 * 284);
    const ModuleSnapshot snapshot(bytes);
    ASSERT_EQ(snapshot.Count(), 3u);
    for (int i = 0; i < 3; ++i) {
        const ModuleEntry e = snapshot.Entry(i);
        EXPECT_EQ(e.imageBase, entries[i].imageBase);
        EXPECT_EQ(e.imageSize, entries[i].imageSize);
        EXPECT_EQ(e.loadOrderIndex, entries[i].loadOrderIndex);
        EXPECT_EQ(e.fullPathName, entries[i].fullPathName);
    }
}

struct CountCase {
    std::size_t byteCount;
    std::uint32_t claimed;
    std::size_t expected;
};

class SnapshotCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(SnapshotCountTest, ReadsOnlyWholeEntriesPresent) {
    const CountCase c = GetParam();
    std::vector<std::uint8_t> bytes(c.byteCount, 0x41);
    for (int k = 0; k < 4 && k < static_cast<int>(bytes.size()); ++k) {
        bytes[k] = static_cast<std::uint8_t>(c.claimed >> (8 * k));
    }
    const ModuleSnapshot snapshot(bytes);
    EXPECT_EQ(snapshot.Count(), c.expected);
    // Every entry the count admits can be read; one past it gives an empty entry.
    for (std::size_t i = 0; i < snapshot.Count(); ++i) {
        EXPECT_EQ(snapshot.Entry(i).fullPathName.size(), 256u);
    }
    EXPECT_TRUE(snapshot.Entry(snapshot.Count()).fullPathName.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, SnapshotCountTest,
    ::testing::Values(CountCase{0, 0, 0}, CountCase{3, 0, 0},  // no room for the count
                      CountCase{4, 0, 0}, CountCase{4, 5, 0},  // count, no entries
                      CountCase{4 + 283, 1, 0},                // one byte short
                      CountCase{4 + 284, 1, 1}, CountCase{4 + 284 * 2, 1, 1},  // fewer claimed
                      CountCase{4 + 284 * 2 + 100, 7, 2},                      // more claimed
                      CountCase{4 + 284 * 3, 0xFFFFFFFFu, 3}));                // claims 2^32 - 1

}  // namespace
}  // namespace tolvessa
