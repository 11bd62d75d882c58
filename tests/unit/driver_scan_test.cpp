#include "inventory/driver_scan.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

namespace tolvessa {
namespace {

struct FakeFile {
    bool hidden = false;
    Text company, description, version;
    Text md5 = u"0123456789ABCDEF0123456789ABCDEF";
};

// A recorded module table over a table of files; every operation is a plain lookup.
class FakeWorld {
  public:
    std::map<Text, FakeFile> files;
    std::vector<ModuleEntry> entries;
    bool snapshotFails = false;
    bool hideMicrosoft = false;
    int pumps = 0;
    std::function<void()> onPump;
    std::vector<Text> versionCalls;
    std::vector<Text> md5Calls;

    void AddEntry(std::string path, std::uint16_t order = 0, std::uint32_t base = 0,
                  std::uint32_t size = 0) {
        ModuleEntry e;
        e.fullPathName = std::move(path);
        e.loadOrderIndex = order;
        e.imageBase = base;
        e.imageSize = size;
        entries.push_back(e);
    }

    const FakeFile* Find(const Text& path) const {
        const auto it = files.find(path);
        return it == files.end() ? nullptr : &it->second;
    }

    ScanOperations Operations() {
        ScanOperations ops;
        ops.takeSnapshot = [this](const SnapshotVisitor& visit) {
            if (snapshotFails)
                return false;
            const auto bytes = EncodeModuleSnapshot(entries);
            visit(ModuleSnapshot(bytes));
            return true;
        };
        ops.decodeAnsi = [](std::string_view s) { return AsciiText(s); };
        ops.resolveKernelPath = [](const Text& p) {
            const Text prefix = u"\\SystemRoot\\";
            return p.starts_with(prefix) ? u"C:\\Windows\\" + p.substr(prefix.size()) : p;
        };
        ops.getSystemDir = [] { return Text(u"C:\\Windows\\system32"); };
        ops.fileExistsOnDisk = [this](const Text& p) { return Find(p) != nullptr; };
        ops.isFileHidden = [this](const Text& p) { return Find(p) && Find(p)->hidden; };
        ops.getFileCompanyName = [this](const Text& p) {
            versionCalls.push_back(p);
            return Find(p) ? Find(p)->company : Text();
        };
        ops.getFileDescription = [this](const Text& p) {
            return Find(p) ? Find(p)->description : Text();
        };
        ops.getFileProductVersion = [this](const Text& p) {
            return Find(p) ? Find(p)->version : Text();
        };
        ops.fileMd5Hex = [this](const Text& p) {
            md5Calls.push_back(p);
            return Find(p) ? Find(p)->md5 : Text(32, u'0');
        };
        ops.hideMicrosoftDrivers = [this] { return hideMicrosoft; };
        ops.pumpMessages = [this] {
            ++pumps;
            if (onPump)
                onPump();
        };
        return ops;
    }
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
    world.files[u"C:\\Windows\\system32\\ntoskrnl.exe"] = {false, u"Microsoft Corporation",
                                                           u"NT Kernel", u"10.0.1",
                                                           u"D41D8CD98F00B204E9800998ECF8427E"};
    world.files[u"C:\\Tools\\h.sys"] = {true, u"  Acme ", u"", u"1.0",
                                        u"00000000000000000000000000000000"};
    world.AddEntry("\\SystemRoot\\system32\\ntoskrnl.exe", 2, 0x8000, 0x5000);
    world.AddEntry("C:\\Tools\\h.sys", 0, 0xFFFFFFFF, 0);
    world.AddEntry("gone.sys", 65535, 0, 0x1);

    DriverList list;
    EXPECT_EQ(ScanDrivers(list, world.Operations()), ScanResult::kCompleted);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Row(0), Row({u"2", u"C:\\Windows\\system32\\ntoskrnl.exe", u"0x00008000",
                                u"0x5000", u"Microsoft Corporation", u"NT Kernel", u"10.0.1",
                                u"D41D8CD98F00B204E9800998ECF8427E", u"False", u"True"}));
    EXPECT_EQ(list.Row(1), Row({u"0", u"C:\\Tools\\h.sys", u"0xFFFFFFFF", u"0x0", u"  Acme ", u"",
                                u"1.0", u"00000000000000000000000000000000", u"True", u"True"}));
    // Found nowhere: still listed, with the path as resolved and the file cells empty.
    EXPECT_EQ(list.Row(2), Row({u"65535", u"gone.sys", u"0x00000000", u"0x1", u"", u"", u"", u"",
                                u"", u"False"}));
    // The digest is asked for existing files only; the version strings for every module.
    EXPECT_EQ(world.md5Calls.size(), 2u);
    EXPECT_EQ(world.versionCalls.size(), 3u);
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
    ScanDrivers(list, world.Operations());
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Row(0)[kImageName], u"C:\\Windows\\system32\\drivers\\beep.sys");
    EXPECT_EQ(list.Row(0)[kExists], u"True");
    EXPECT_EQ(list.Row(1)[kImageName], u"nowhere.sys");
    EXPECT_EQ(list.Row(1)[kExists], u"False");
    EXPECT_EQ(list.Row(2)[kImageName], u"C:\\Windows\\system32\\drivers\\C:\\odd.sys");
}

TEST(ScanDriversTest, HideMicrosoftDriversMatchesTheWholeNameExactly) {
    FakeWorld world;
    world.hideMicrosoft = true;
    world.files[u"a.sys"].company = u"Microsoft Corporation";
    world.files[u"b.sys"].company = u"microsoft corporation";
    world.files[u"c.sys"].company = u"Microsoft Corporation ";
    world.AddEntry("a.sys", 0);
    world.AddEntry("b.sys", 1);
    world.AddEntry("c.sys", 2);
    world.AddEntry("missing.sys", 3);

    DriverList list;
    ScanDrivers(list, world.Operations());
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
    world.onPump = [&] { world.hideMicrosoft = world.pumps >= 3; };

    DriverList list;
    ScanDrivers(list, world.Operations());
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Row(1)[kLoadOrder], u"1");
}

TEST(ScanDriversTest, PumpsBeforeEveryEntryAndOnlyBetweenWholeRows) {
    FakeWorld world;
    for (int i = 0; i < 5; ++i)
        world.AddEntry("x.sys");
    DriverList list;
    std::vector<std::size_t> rowsAtPump;
    world.onPump = [&] { rowsAtPump.push_back(list.Count()); };
    ScanDrivers(list, world.Operations());
    EXPECT_EQ(rowsAtPump, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(ScanDriversTest, ExistenceIsAskedAfreshForEachOfTheLastThreeCells) {
    FakeWorld world;
    world.files[u"v.sys"] = {};
    world.AddEntry("v.sys");
    ScanOperations ops = world.Operations();
    // The file vanishes after the digest was taken.
    int asked = 0;
    ops.fileExistsOnDisk = [&](const Text&) { return ++asked <= 2; };
    DriverList list;
    ScanDrivers(list, ops);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_FALSE(list.Row(0)[kMd5Hash].empty());
    EXPECT_EQ(list.Row(0)[kHidden], u"");
    EXPECT_EQ(list.Row(0)[kExists], u"False");
}

TEST(ScanDriversTest, FailedOrEmptySnapshotLeavesTheListAsItWas) {
    FakeWorld world;
    world.AddEntry("a.sys");
    DriverList list;
    ScanDrivers(list, world.Operations());
    ASSERT_EQ(list.Count(), 1u);

    world.snapshotFails = true;
    EXPECT_EQ(ScanDrivers(list, world.Operations()), ScanResult::kSnapshotFailed);
    EXPECT_EQ(list.Count(), 1u);

    world.snapshotFails = false;
    world.entries.clear();
    EXPECT_EQ(ScanDrivers(list, world.Operations()), ScanResult::kCompleted);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_EQ(world.pumps, 1);
}

TEST(ScanDriversTest, ASecondScanOrClearDuringAScanIsRefused) {
    FakeWorld world;
    for (int i = 0; i < 3; ++i)
        world.AddEntry("r" + std::to_string(i) + ".sys", static_cast<std::uint16_t>(i));
    DriverList list;
    std::vector<ScanResult> nested;
    std::vector<bool> cleared;
    const ScanOperations ops = world.Operations();
    world.onPump = [&] {
        // What a refresh asked for through the message pump would try.
        cleared.push_back(list.Clear());
        nested.push_back(ScanDrivers(list, ops));
    };
    EXPECT_TRUE(!list.Scanning());
    EXPECT_EQ(ScanDrivers(list, ops), ScanResult::kCompleted);
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
    ScanOperations ops = world.Operations();
    ops.fileMd5Hex = [](const Text&) -> Text { throw std::runtime_error("out of memory"); };
    world.files[u"b.sys"] = {};
    DriverList list;
    EXPECT_THROW(ScanDrivers(list, ops), std::runtime_error);
    EXPECT_FALSE(list.Scanning());
    EXPECT_EQ(list.Count(), 1u);  // the row made before the failure stays
    EXPECT_EQ(ScanDrivers(list, world.Operations()), ScanResult::kCompleted);
}

// The window asked to close (or the quit request seen) in the middle of the scan: the scan still
// lists every entry, and the close is carried out by the window afterwards.
TEST(ScanDriversTest, RunsToItsEndWhenTheWindowIsAskedToCloseMidway) {
    FakeWorld world;
    for (int i = 0; i < 5; ++i)
        world.AddEntry("s.sys", static_cast<std::uint16_t>(i));
    bool closeAsked = false;
    world.onPump = [&] { closeAsked = closeAsked || world.pumps == 3; };
    DriverList list;
    EXPECT_EQ(ScanDrivers(list, world.Operations()), ScanResult::kCompleted);
    EXPECT_TRUE(closeAsked);
    EXPECT_EQ(world.pumps, 5);
    ASSERT_EQ(list.Count(), 5u);
    EXPECT_EQ(list.Row(4)[kLoadOrder], u"4");
    EXPECT_FALSE(list.Scanning());
}

TEST(DriverListTest, TellsItsListenerOfEveryChange) {
    FakeWorld world;
    world.AddEntry("a.sys");
    world.AddEntry("b.sys");
    DriverList list;
    std::vector<std::size_t> appended;
    int clears = 0;
    list.SetListener({[&](std::size_t i) { appended.push_back(i); }, [&] { ++clears; }});
    ScanDrivers(list, world.Operations());
    list.Clear();
    EXPECT_EQ(appended, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(clears, 1);
}

}  // namespace
}  // namespace tolvessa
