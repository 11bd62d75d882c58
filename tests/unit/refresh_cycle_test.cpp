#include "shell/refresh_cycle.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/unit/fake_inventory.h"

namespace tolvessa {
namespace {

// Records what the cycle does to the window, in order.
struct RecordingWindow {
    std::vector<std::string> calls;
    int posted = 0;

    RefreshView View() {
        RefreshView v;
        v.setButtons = [this](bool r, bool e) {
            calls.push_back(std::string("buttons ") + (r ? "on" : "off") + "/" +
                            (e ? "on" : "off"));
        };
        v.setMarquee = [this](bool m) { calls.push_back(m ? "marquee on" : "marquee off"); };
        v.setStatus = [this](const Text& s) { calls.push_back("status '" + TextToUtf8(s) + "'"); };
        v.postRefresh = [this] { ++posted; };
        return v;
    }
};

// A scan that adds `rows` rows through ScanDrivers (so the list's guard is real) and runs
// `during` from its message pump.
struct FakeScan {
    std::size_t rows = 0;
    std::function<void()> during;
    int runs = 0;

    RefreshCycle::Scan Function() {
        return [this](DriverList& list) {
            ++runs;
            testing::FakeInventory inventory;
            inventory.modules.entries.resize(rows);
            testing::FakeScanHost host;
            host.onPump = [this] {
                if (during)
                    during();
            };
            return ScanDrivers(list, inventory.Platform(), host);
        };
    }
};

TEST(RefreshCycleTest, RunsTheNineStepsInOrder) {
    DriverList list;
    RecordingWindow window;
    FakeScan scan;
    scan.rows = 57;
    RefreshCycle cycle(list, window.View(), scan.Function());
    EXPECT_EQ(cycle.StatusText(), u"");
    cycle.Run();
    EXPECT_EQ(window.calls, (std::vector<std::string>{
                                "buttons off/off", "marquee on", "status '   Scanning...'",
                                "status '   57 Modules Loaded'", "marquee off", "buttons on/on"}));
    EXPECT_EQ(list.Count(), 57u);
    EXPECT_EQ(cycle.StatusText(), u"   57 Modules Loaded");
}

// Work pending for the old rows is dropped while they are still there, never after a new scan
// has begun to add rows.
TEST(RefreshCycleTest, DropsPendingWorkBeforeEmptyingTheList) {
    DriverList list;
    RecordingWindow window;
    FakeScan scan;
    scan.rows = 4;
    std::vector<std::size_t> rowsWhenDropped;
    RefreshView view = window.View();
    view.beforeClear = [&] { rowsWhenDropped.push_back(list.Count()); };
    RefreshCycle cycle(list, std::move(view), scan.Function());
    cycle.Run();
    scan.rows = 2;
    cycle.Run();
    EXPECT_EQ(rowsWhenDropped, (std::vector<std::size_t>{0, 4}));
    EXPECT_EQ(list.Count(), 2u);
}

TEST(RefreshCycleTest, EmptiesTheListAndLeavesExportOffWithoutRows) {
    DriverList list;
    RecordingWindow window;
    FakeScan scan;
    scan.rows = 2;
    RefreshCycle cycle(list, window.View(), scan.Function());
    cycle.Run();
    scan.rows = 0;
    cycle.Run();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(window.calls.back(), "buttons on/off");
    EXPECT_EQ(cycle.StatusText(), u"   0 Modules Loaded");
    scan.rows = 1;
    cycle.Run();
    EXPECT_EQ(cycle.StatusText(), u"   1 Modules Loaded");  // never singular
}

TEST(RefreshCycleTest, ARequestDuringAScanWaitsForItsEnd) {
    DriverList list;
    RecordingWindow window;
    FakeScan scan;
    scan.rows = 3;
    RefreshCycle* self = nullptr;
    std::vector<std::size_t> rowsSeen;
    // An Options click (or the start-up timer) delivered by the scan's message pump.
    scan.during = [&] {
        rowsSeen.push_back(list.Count());
        self->Run();
    };
    RefreshCycle cycle(list, window.View(), scan.Function());
    self = &cycle;
    cycle.Run();
    EXPECT_EQ(scan.runs, 1);                                   // no second scan inside the first
    EXPECT_EQ(rowsSeen, (std::vector<std::size_t>{0, 1, 2}));  // never emptied under it
    EXPECT_EQ(list.Count(), 3u);
    EXPECT_EQ(window.posted, 1);  // the requests are not lost: one more cycle follows
    EXPECT_FALSE(cycle.Pending());
}

TEST(RefreshCycleTest, RequestsAfterCloseAreDropped) {
    DriverList list;
    RecordingWindow window;
    FakeScan scan;
    scan.rows = 2;
    RefreshCycle cycle(list, window.View(), scan.Function());
    RefreshCycle* self = &cycle;
    scan.during = [&] { self->Run(); };
    // The unattended mode's scan runs outside a cycle; its close drops the pending refresh.
    scan.Function()(list);
    EXPECT_TRUE(cycle.Pending());
    cycle.Close();
    cycle.Run();
    EXPECT_EQ(window.posted, 0);
    EXPECT_TRUE(window.calls.empty());
    EXPECT_EQ(list.Count(), 2u);
}

TEST(RefreshCycleTest, AFailingScanGivesTheButtonsAndBarBack) {
    DriverList list;
    RecordingWindow window;
    RefreshCycle cycle(list, window.View(), [](DriverList&) -> ScanResult {
        throw std::runtime_error("out of memory");
    });
    EXPECT_NO_THROW(cycle.Run());
    EXPECT_EQ(window.calls.back(), "buttons on/off");
    EXPECT_EQ(window.calls[window.calls.size() - 2], "marquee off");
    EXPECT_EQ(cycle.StatusText(), u"   0 Modules Loaded");
}

}  // namespace
}  // namespace tolvessa
