// Where the main window's controls go: the header band with its two pictures, the list, the
// progress bar, the two buttons and the status bar, for a client area of a given size. Pixels
// at 96 dots per inch.
#pragma once

#include "shell/window_rules.h"

namespace tolvessa {

// The client area the window opens with, and the least outer size it can be dragged to (frame
// included).
inline constexpr int kMainClientWidth = 918;
inline constexpr int kMainClientHeight = 453;
inline constexpr int kMainMinWidth = 900;
inline constexpr int kMainMinHeight = 300;

// The white header band and the sunken rule under it.
inline constexpr int kHeaderHeight = 65;
inline constexpr int kBevelHeight = 2;

struct MainWindowLayout {
    WindowRect facebook;  // the header's pictures (imgFacebookLike, imgTweet), in Panel5
    WindowRect tweet;
    WindowRect list;  // Lv
    WindowRect progressBar1;
    WindowRect button1;  // "Refresh"
    WindowRect button4;  // "Export"
    WindowRect statusBar1;
};

// The status bar along the bottom; above it the button panel, then the progress bar; the list
// fills what is left between the header and the progress bar, a spacer of 10 on each side. A
// width or height that would be negative is 0. The header's pictures keep their place from the
// right-hand edge.
MainWindowLayout LayOutMainWindow(int clientWidth, int clientHeight);

}  // namespace tolvessa
