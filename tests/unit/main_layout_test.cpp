#include "shell/main_layout.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace tolvessa {
namespace {

// Left, top, right, bottom.
using Edges = std::array<int, 4>;
Edges EdgesOf(const WindowRect& r) {
    return {r.left, r.top, r.right, r.bottom};
}

struct LayoutCase {
    const char* name;
    int width, height;
    Edges list, progressBar1, button1, button4, statusBar1, facebook, tweet;
};

class MainLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(MainLayoutTest, PlacesEveryControl) {
    const LayoutCase& c = GetParam();
    const MainWindowLayout l = LayOutMainWindow(c.width, c.height);
    EXPECT_EQ(EdgesOf(l.list), c.list);
    EXPECT_EQ(EdgesOf(l.progressBar1), c.progressBar1);
    EXPECT_EQ(EdgesOf(l.button1), c.button1);
    EXPECT_EQ(EdgesOf(l.button4), c.button4);
    EXPECT_EQ(EdgesOf(l.statusBar1), c.statusBar1);
    EXPECT_EQ(EdgesOf(l.facebook), c.facebook);
    EXPECT_EQ(EdgesOf(l.tweet), c.tweet);
}

// The size the window opens with: the list from under the header's rule and a spacer down to a
// spacer above the progress bar; the buttons in their panel above the status bar; the pictures
// 132 and 82 pixels from the right-hand edge. Wider and taller, only the list grows; smaller
// than the controls need, the list and the progress bar keep no negative size.
// clang-format off
const LayoutCase kLayoutCases[] = {
    {"opening_size", 918, 453, {10, 77, 908, 347}, {10, 357, 908, 379}, {9, 392, 139, 418},
     {156, 392, 296, 418}, {0, 434, 918, 453}, {786, 17, 825, 51}, {836, 17, 875, 51}},
    {"larger", 1280, 800, {10, 77, 1270, 694}, {10, 704, 1270, 726}, {9, 739, 139, 765},
     {156, 739, 296, 765}, {0, 781, 1280, 800}, {1148, 17, 1187, 51}, {1198, 17, 1237, 51}},
    {"too_low_for_the_list", 100, 120, {10, 77, 90, 77}, {10, 24, 90, 46}, {9, 59, 139, 85},
     {156, 59, 296, 85}, {0, 101, 100, 120}, {-32, 17, 7, 51}, {18, 17, 57, 51}},
    {"too_small_for_anything", 12, 0, {10, 77, 10, 77}, {10, -96, 10, -74}, {9, -61, 139, -35},
     {156, -61, 296, -35}, {0, -19, 12, 0}, {-120, 17, -81, 51}, {-70, 17, -31, 51}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Sizes, MainLayoutTest, ::testing::ValuesIn(kLayoutCases),
                         [](const ::testing::TestParamInfo<LayoutCase>& test) {
                             return std::string(test.param.name);
                         });

}  // namespace
}  // namespace tolvessa
