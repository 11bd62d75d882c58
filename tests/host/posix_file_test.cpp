#include "platform/host/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "tests/host/temp_dir.h"

namespace tolvessa::host {
namespace {

TEST(PosixFileTest, ReadsExactlyAtAnOffsetAndNothingPastTheEnd) {
    testing::TempDir dir;
    const std::string path = dir.Write("data.bin", "0123456789").string();
    const PosixFile file = PosixFile::OpenRegularForRead(path);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file.IsRegularFile());
    EXPECT_EQ(file.Size(), 10u);

    std::array<std::uint8_t, 4> four{};
    ASSERT_TRUE(file.ReadAt(6, four));
    EXPECT_EQ(std::string(four.begin(), four.end()), "6789");
    EXPECT_FALSE(file.ReadAt(7, four));  // only three bytes are left
    EXPECT_FALSE(file.ReadAt(~std::uint64_t{0} - 1, four));
    EXPECT_TRUE(file.ReadAt(10, std::span<std::uint8_t>()));

    std::array<std::uint8_t, 16> some{};
    EXPECT_EQ(file.ReadSome(some), 10u);
    EXPECT_EQ(file.ReadSome(some), 0u);
}

TEST(PosixFileTest, OpensOnlyRegularFilesForReading) {
    testing::TempDir dir;
    const std::string fifo = (dir.Path() / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path :
         {fifo, dir.Path().string(), (dir.Path() / "missing").string(), std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(PosixFile::OpenRegularForRead(path));
    }
    // Open itself takes what open(2) takes.
    EXPECT_TRUE(PosixFile::Open(dir.Path().string(), O_RDONLY));
}

TEST(PosixFileTest, WritesAllAndOwnsItsDescriptorUntilClosed) {
    testing::TempDir dir;
    const std::string path = (dir.Path() / "out.txt").string();
    PosixFile file = PosixFile::Open(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_TRUE(file);
    EXPECT_NE(::fcntl(file.Get(), F_GETFD) & FD_CLOEXEC, 0);
    ASSERT_TRUE(file.WriteAll("report"));

    PosixFile moved = std::move(file);
    EXPECT_FALSE(file);
    const int fd = moved.Get();
    EXPECT_TRUE(moved.Close());
    EXPECT_FALSE(moved);
    EXPECT_FALSE(moved.Close());
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // closed, not leaked
    EXPECT_EQ(PosixFile::OpenRegularForRead(path).Size(), 6u);
}

}  // namespace
}  // namespace tolvessa::host
