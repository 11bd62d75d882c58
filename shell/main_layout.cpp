#include "shell/main_layout.h"

#include <algorithm>

namespace tolvessa {

namespace {

constexpr int kSpacer = 10;
constexpr int kStatusHeight = 19;
constexpr int kButtonPanelHeight = 55;
constexpr int kProgressPanelHeight = 22;
constexpr int kPanel5Width = 198;
constexpr int kFacebookLeft = 66;
constexpr int kTweetLeft = 116;

WindowRect Box(int left, int top, int width, int height) {
    return {left, top, left + width, top + height};
}

// A picture of the header's right-hand panel (Panel5), by its left edge inside the panel.
WindowRect HeaderPicture(int clientWidth, int left) {
    const int x = clientWidth - kPanel5Width + left;
    return {x, 17, x + 39, 17 + 34};
}

}  // namespace

MainWindowLayout LayOutMainWindow(int clientWidth, int clientHeight) {
    const int w = clientWidth;
    const int h = clientHeight;
    MainWindowLayout layout{};
    layout.facebook = HeaderPicture(w, kFacebookLeft);
    layout.tweet = HeaderPicture(w, kTweetLeft);
    layout.statusBar1 = Box(0, h - kStatusHeight, w, kStatusHeight);
    const int buttonsTop = h - kStatusHeight - kButtonPanelHeight;
    layout.button1 = Box(9, buttonsTop + 13, 130, 26);
    layout.button4 = Box(156, buttonsTop + 13, 140, 26);
    const int progressTop = buttonsTop - kProgressPanelHeight;
    layout.progressBar1 =
        Box(kSpacer, progressTop, std::max(0, w - 2 * kSpacer), kProgressPanelHeight);
    const int listTop = kHeaderHeight + kBevelHeight + kSpacer;
    const int listBottom = progressTop - kSpacer;
    layout.list =
        Box(kSpacer, listTop, std::max(0, w - 2 * kSpacer), std::max(0, listBottom - listTop));
    return layout;
}

}  // namespace tolvessa
