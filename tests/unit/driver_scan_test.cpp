#include "inventory/driver_scan.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/unit/fake_inventory.h"

namespace tolvessa {
namespace {

using testing::FakeFile;
using testing::FakeInventory;
using testing::FakeScanHost;

// A recorded module table over a table of files, read by the real file queries.
struct FakeWorld : FakeInventory {
    FakeScanHost host;

    ScanResult Scan(DriverList& list) { return ScanDrivers(list, Platform(), host); }
};

DriverRow Row(std::initializer_list<const char16_t*> cells) {
    DriverRow row;
    std::size_t i = 0;
    for (const char16_t* c : cells)
        row[i++] = c;
    return row;
}

TEST(ScanDriversTest, BuildsRowsInSnapshotOrderWithExactCellTexts) {
    FakeWorld world;
    // Empty content (the digest of nothing), and a file that cannot be opened for reading.
    world.files[u"C:\\Windows\\system32\\ntoskrnl.exe"] = {false, u"Microsoft Corporation",
                                                           u"NT Kernel", u"10.0.1", ""};
    world.files[u"C:\\Tools\\h.sys"] = {true, u"  Acme ", u"", u"1.0", std::nullopt};
    world.AddEntry("\\SystemRoot\\system32\\ntoskrnl.exe", 2, 0x8000, 0x5000);
    world.AddEntry("C:\\Tools\\h.sys", 0, 0xFFFFFFFF, 0);
    world.AddEntry("gone.sys", 65535, 0, 0x1);

    DriverList list;
    EXPECT_EQ(world.Scan(list), ScanResult::kCompleted);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Row(0), Row({u"2", u"C:\\Windows\\system32\\ntoskrnl.exe", u"0x00008000",
                                u"0x5000", u"Microsoft Corporation", u"NT Kernel", u"10.0.1",
                                u"D41D8CD98F00B204E9800998ECF8427E", u"False", u"True"}));
    EXPECT_EQ(list.Row(1), Row({u"0", u"C:\\Tools\\h.sys", u"0xFFFFFFFF", u"0x0", u"  Acme ", u"",
                                u"1.0", u"00000000000000000000000000000000", u"True", u"True"}));
    // Found nowhere: still listed, with the path as resolved and the file cells empty.
    EXPECT_EQ(list.Row(2), Row({u"65535", u"gone.sys", u"0x00000000", u"0x1", u"", u"", u"", u"",
                                u"", u"False"}));
    // The digest is asked for existing files only; the three version strings for every module.
    EXPECT_EQ(world.content.opened.size(), 2u);
    EXPECT_EQ(world.versions.sizeQueries.size(), 9u);
}

// A 64-bit process's table: the base cell shows all 16 digits of a kernel address; every other
// cell is built as from a 32-bit table.
TEST(ScanDriversTest, SixtyFourBitTableGivesWholeKernelAddresses) {
    FakeWorld world;
    world.modules.layout = ModuleTableLayout::k64Bit;
    world.files[u"C:\\Windows\\system32\\ntoskrnl.exe"] = {false, u"Microsoft Corporation",
                                                           u"NT Kernel", u"10.0.1", ""};
    world.AddEntry("\\SystemRoot\\system32\\ntoskrnl.exe", 2, 0xFFFFF8025A400000u, 0x5000);
    world.AddEntry("gone.sys", 1, 0x10000000u, 0x1);
    world.AddEntry("low.sys", 0, 0, 0);

    DriverList list;
    EXPECT_EQ(world.Scan(list), ScanResult::kCompleted);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Row(0), Row({u"2", u"C:\\Windows\\system32\\ntoskrnl.exe", u"0xFFFFF8025A400000",
                                u"0x5000", u"Microsoft Corporation", u"NT Kernel", u"10.0.1",
                                u"D41D8CD98F00B204E9800998ECF8427E", u"False", u"True"}));
    EXPECT_EQ(list.Row(1)[kBaseAddress], u"0x0000000010000000");
    EXPECT_EQ(list.Row(2)[kBaseAddress], u"0x0000000000000000");
}

TEST(ScanDriversTest, FallsBackToTheDriversDirectory) {
    FakeWorld world;
    world.files[u"C:\\Windows\\system32\\drivers\\beep.sys"] = {};
    world.AddEntry("beep.sys");
    world.AddEntry("nowhere.sys");
    // The candidate is a plain concatenation, whatever the path holds.
    world.files[u"C:\\Windows\\system32\\drivers\\C:\\odd.sys"] = {};
    world.AddEntry("C:\\odd.sys");

    DriverList list;
    world.Scan(list);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Row(0)[kImageName], u"C:\\Windows\\system32\\drivers\\beep.sys");
    EXPECT_EQ(list.Row(0)[kExists], u"True");
    EXPECT_TRUE(list.FileExists(0));
    EXPECT_EQ(list.Row(1)[kImageName], u"nowhere.sys");
    EXPECT_EQ(list.Row(1)[kExists], u"False");
    EXPECT_FALSE(list.FileExists(1));
    EXPECT_EQ(list.Row(2)[kImageName], u"C:\\Windows\\system32\\drivers\\C:\\odd.sys");
}

TEST(ScanDriversTest, HideMicrosoftDriversMatchesTheWholeNameExactly) {
    FakeWorld world;
    world.host.hideMicrosoft = true;
    world.files[u"a.sys"].company = u"Microsoft Corporation";
    world.files[u"b.sys"].company = u"microsoft corporation";
    world.files[u"c.sys"].company = u"Microsoft Corporation ";
    world.AddEntry("a.sys", 0);
    world.AddEntry("b.sys", 1);
    world.AddEntry("c.sys", 2);
    world.AddEntry("missing.sys", 3);

    DriverList list;
    world.Scan(list);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Row(0)[kLoadOrder], u"1");
    EXPECT_EQ(list.Row(1)[kLoadOrder], u"2");
    EXPECT_EQ(list.Row(2)[kLoadOrder], u"3");
}

TEST(ScanDriversTest, FilterIsReadAfreshForEveryEntry) {
    FakeWorld world;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "m" + std::to_string(i) + ".sys";
        world.files[AsciiText(name)].company = u"Microsoft Corporation";
        world.AddEntry(name, static_cast<std::uint16_t>(i));
    }
    // The option is ticked while the scan runs, between the second and third entry.
    world.host.onPump = [&] { world.host.hideMicrosoft = world.host.pumps >= 3; };

    DriverList list;
    world.Scan(list);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Row(1)[kLoadOrder], u"1");
    EXPECT_EQ(world.host.filterReads, 4);
}

TEST(ScanDriversTest, PumpsBeforeEveryEntryAndOnlyBetweenWholeRows) {
    FakeWorld world;
    for (int i = 0; i < 5; ++i)
        world.AddEntry("x.sys");
    DriverList list;
    std::vector<std::size_t> rowsAtPump;
    world.host.onPump = [&] { rowsAtPump.push_back(list.Count()); };
    world.Scan(list);
    EXPECT_EQ(rowsAtPump, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(ScanDriversTest, ExistenceIsAskedAfreshForEachOfTheLastThreeCells) {
    FakeWorld world;
    world.files[u"v.sys"] = {};
    world.AddEntry("v.sys");
    // The file vanishes after the digest was taken: the third look at it finds nothing.
    world.attributes.beforeRead = [&](const Text&) {
        if (world.attributes.reads == 3)
            world.files.erase(u"v.sys");
    };
    DriverList list;
    world.Scan(list);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_FALSE(list.Row(0)[kMd5Hash].empty());
    EXPECT_EQ(list.Row(0)[kHidden], u"");
    EXPECT_EQ(list.Row(0)[kExists], u"False");
}

TEST(ScanDriversTest, FailedOrEmptySnapshotLeavesTheListAsItWas) {
    FakeWorld world;
    world.AddEntry("a.sys");
    DriverList list;
    world.Scan(list);
    ASSERT_EQ(list.Count(), 1u);

    world.modules.fails = true;
    EXPECT_EQ(world.Scan(list), ScanResult::kSnapshotFailed);
    EXPECT_EQ(list.Count(), 1u);

    world.modules.fails = false;
    world.modules.entries.clear();
    EXPECT_EQ(world.Scan(list), ScanResult::kCompleted);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(world.host.pumps, 1);
}

TEST(ScanDriversTest, ASecondScanOrClearDuringAScanIsRefused) {
    FakeWorld world;
    for (int i = 0; i < 3; ++i)
        world.AddEntry("r" + std::to_string(i) + ".sys", static_cast<std::uint16_t>(i));
    DriverList list;
    std::vector<ScanResult> nested;
    std::vector<bool> cleared;
    world.host.onPump = [&] {
        // What a refresh asked for through the message pump would try.
        cleared.push_back(list.Clear());
        nested.push_back(world.Scan(list));
    };
    EXPECT_TRUE(!list.Scanning());
    EXPECT_EQ(world.Scan(list), ScanResult::kCompleted);
    EXPECT_EQ(nested, std::vector<ScanResult>(3, ScanResult::kRefused));
    EXPECT_EQ(cleared, std::vector<bool>(3, false));
    ASSERT_EQ(list.Count(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(list.Row(i)[kLoadOrder], DecimalText(i));
    EXPECT_FALSE(list.Scanning());
    EXPECT_TRUE(list.Clear());
    EXPECT_EQ(list.Count(), 0u);
}

TEST(ScanDriversTest, AThrowingStepEndsTheScanAndFreesTheList) {
    FakeWorld world;
    world.AddEntry("a.sys");
    world.AddEntry("b.sys");
    world.content.beforeOpen = [](const Text&) { throw std::runtime_error("out of memory"); };
    world.files[u"b.sys"] = {};
    DriverList list;
    EXPECT_THROW(world.Scan(list), std::runtime_error);
    EXPECT_FALSE(list.Scanning());
    EXPECT_EQ(list.Count(), 1u);  // the row made before the failure stays
    world.content.beforeOpen = nullptr;
    EXPECT_EQ(world.Scan(list), ScanResult::kCompleted);
}

TEST(ScanDriversTest, RunsToTheEndWhenTheWindowClosesDuringTheScan) {
    FakeWorld world;
    for (int i = 0; i < 5; ++i)
        world.AddEntry("s.sys", static_cast<std::uint16_t>(i));
    DriverList list;
    // The window is asked to close while the third entry waits; its refresh is refused.
    std::vector<bool> cleared;
    world.host.onPump = [&] {
        if (world.host.pumps == 3)
            cleared.push_back(list.Clear());
    };
    EXPECT_EQ(world.Scan(list), ScanResult::kCompleted);
    EXPECT_EQ(cleared, std::vector<bool>{false});
    ASSERT_EQ(list.Count(), 5u);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(list.Row(i)[kLoadOrder], DecimalText(i));
    EXPECT_EQ(world.host.pumps, 5);
    EXPECT_FALSE(list.Scanning());
}

TEST(DriverListTest, TellsItsListenerOfEveryChange) {
    FakeWorld world;
    world.AddEntry("a.sys");
    world.AddEntry("b.sys");
    DriverList list;
    std::vector<std::size_t> appended;
    std::vector<std::size_t> digests;
    int clears = 0;
    list.SetListener({[&](std::size_t i) { appended.push_back(i); }, [&] { ++clears; },
                      [&](std::size_t i) { digests.push_back(i); }});
    world.Scan(list);
    FileDigests d;
    d.sha256 = Sha256Digest{0xAB};
    list.SetDigests(1, d);
    list.SetDigests(2, d);  // past the end: ignored
    EXPECT_EQ(list.Digests(1), d);
    EXPECT_EQ(list.Digests(0), FileDigests{});
    list.Clear();
    EXPECT_EQ(appended, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(digests, (std::vector<std::size_t>{1}));
    EXPECT_EQ(clears, 1);
    // A new list starts with empty digests.
    world.Scan(list);
    EXPECT_EQ(list.Digests(1), FileDigests{});
}

}  // namespace
}  // namespace tolvessa
