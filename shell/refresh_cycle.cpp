#include "shell/refresh_cycle.h"

namespace tolvessa {

Text ModulesLoadedText(std::size_t count) {
    return u"   " + DecimalText(count) + u" Modules Loaded";
}

RefreshCycle::RefreshCycle(DriverList& list, RefreshView view, Scan scan)
    : list_(list), view_(std::move(view)), scan_(std::move(scan)) {}

void RefreshCycle::SetStatus(Text status) {
    status_ = std::move(status);
    if (view_.setStatus)
        view_.setStatus(status_);
}

void RefreshCycle::Run() {
    if (closing_)
        return;
    if (list_.Scanning()) {
        pending_ = true;
        return;
    }
    if (view_.setButtons)
        view_.setButtons(false, false);
    if (view_.setMarquee)
        view_.setMarquee(true);
    if (view_.beforeClear)
        view_.beforeClear();
    list_.Clear();
    SetStatus(Text(kScanningText));
    try {
        scan_(list_);
    } catch (...) {
        // Nothing leaves a handler; the window must not stay disabled.
    }
    SetStatus(ModulesLoadedText(list_.Count()));
    if (view_.setMarquee)
        view_.setMarquee(false);
    if (view_.setButtons)
        view_.setButtons(true, list_.Count() > 0);

    if (pending_ && !closing_) {
        pending_ = false;
        if (view_.postRefresh)
            view_.postRefresh();
    }
}

}  // namespace tolvessa
