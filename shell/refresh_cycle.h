// The main window's refresh cycle: empty the list, scan, show the count.
#pragma once

#include <functional>

#include "inventory/driver_scan.h"
#include "inventory/text.h"

namespace tolvessa {

// What the cycle asks of the window.
struct RefreshView {
    std::function<void(bool refreshEnabled, bool exportEnabled)> setButtons;
    std::function<void(bool marquee)> setMarquee;
    std::function<void(const Text& status)> setStatus;
    // Asks for another cycle once the window is back in its message loop (a posted message).
    std::function<void()> postRefresh;
    // The list is about to be emptied: work still pending for its rows is dropped first.
    std::function<void()> beforeClear;
};

// "   " + count + " Modules Loaded"; never singular.
Text ModulesLoadedText(std::size_t count);
inline constexpr TextView kScanningText = u"   Scanning...";

class RefreshCycle {
  public:
    using Scan = std::function<ScanResult(DriverList&)>;

    RefreshCycle(DriverList& list, RefreshView view, Scan scan);

    // The cycle (Button1Click). Asked for while a scan fills the list (through the scan's
    // message pump: the start-up timer, an Options item), it touches nothing and is run once
    // the running cycle has ended, so the list ends up reflecting the options as they are then.
    // A scan that fails with an exception still gives the buttons and the bar back.
    void Run();

    // From now on requests are dropped: the window is closing (the end of the log mode).
    void Close() { closing_ = true; }

    const Text& StatusText() const { return status_; }
    bool Pending() const { return pending_; }

  private:
    void SetStatus(Text status);

    DriverList& list_;
    RefreshView view_;
    Scan scan_;
    Text status_;
    bool pending_ = false;
    bool closing_ = false;
};

}  // namespace tolvessa
