#include "platform/host/host_paths.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace tolvessa::host {
namespace {

using tolvessa::testing::TempDir;

TEST(HostPathsTest, MapsDrivesSeparatorsAndCase) {
    TempDir dir;
    dir.Write("Windows/System32/Drivers/Beep.sys", "x");
    HostPaths paths;
    paths.MapDrive(u'c', dir.Path().string());
    const std::string real = (dir.Path() / "Windows/System32/Drivers/Beep.sys").string();

    EXPECT_EQ(paths.ToHost(u"C:\\Windows\\System32\\Drivers\\Beep.sys"), real);
    EXPECT_EQ(paths.ToHost(u"c:\\WINDOWS\\system32\\drivers\\beep.SYS"), real);
    EXPECT_EQ(paths.ToHost(u"C:\\windows\\\\system32\\.\\drivers\\beep.sys"), real);
    // Z: is the host root, as under Wine.
    EXPECT_EQ(paths.ToHost(AsciiText("Z:" + real)), real);
}

TEST(HostPathsTest, NamesNothingForUnmappedDrivesAndNul) {
    HostPaths paths;
    EXPECT_EQ(paths.ToHost(u"Q:\\x.sys"), "");
    EXPECT_EQ(paths.ToHost(u""), "");
    EXPECT_EQ(paths.ToHost(Text(u"/etc\0/passwd", 12)), "");
}

TEST(HostPathsTest, KeepsRelativePathsRelativeAndMissingNamesAsWritten) {
    HostPaths paths;
    EXPECT_EQ(paths.ToHost(u"drivers\\x.sys"), "drivers/x.sys");
    EXPECT_EQ(paths.ToHost(u"\\no\\such\\Thing.sys"), "/no/such/Thing.sys");
}

}  // namespace
}  // namespace tolvessa::host
