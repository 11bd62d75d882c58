// A vulnerable-driver list file on the host file system (FileBytes::LoadAtMost over the host's
// file content, as LoadListFile reads one): one larger than the limit is refused by the size of
// the open file, before a byte of it is mapped or read, however it could be read.
#include <gtest/gtest.h>

#include <filesystem>

#include "inventory/file_bytes.h"
#include "platform/host/file_content.h"
#include "platform/host/host_paths.h"
#include "shell/file_facts.h"  // kMaxListFileSize
#include "tests/host/temp_dir.h"

namespace tolvessa::host {
namespace {

// The host's file content, counting what is asked of each file it opens.
class CountingContent : public FileContentApi {
  public:
    CountingContent(const HostPaths& paths, PosixFileContent::Mapping mapping)
        : inner_(paths, mapping) {}

    int asked = 0;  // maps and reads

    std::unique_ptr<File> OpenForRead(const Text& path) override {
        std::unique_ptr<File> file = inner_.OpenForRead(path);
        if (!file)
            return nullptr;
        return std::make_unique<Counted>(std::move(file), asked);
    }

  private:
    class Counted : public File {
      public:
        Counted(std::unique_ptr<File> inner, int& asked)
            : inner_(std::move(inner)), asked_(asked) {}
        std::unique_ptr<View> MapWhole() override {
            ++asked_;
            return inner_->MapWhole();
        }
        std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
            ++asked_;
            return inner_->Read(buffer);
        }
        std::optional<std::uint64_t> Size() override { return inner_->Size(); }

      private:
        std::unique_ptr<File> inner_;
        int& asked_;
    };

    PosixFileContent inner_;
};

TEST(ListFileTest, ASparseFileOverTheLimitIsRefusedBeforeItIsMappedOrRead) {
    const testing::TempDir dir;
    const std::filesystem::path file = dir.Write("big.csv", "Id,Category\n");
    std::filesystem::resize_file(file, kMaxListFileSize + 1);  // a hole, not written blocks
    HostPaths paths;
    paths.MapDrive(u'L', dir.Path().string());
    for (const auto mapping :
         {PosixFileContent::Mapping::kAllowed, PosixFileContent::Mapping::kRefused}) {
        CountingContent content(paths, mapping);
        const FileBytes::Limited loaded =
            FileBytes::LoadAtMost(content, u"L:\\big.csv", kMaxListFileSize);
        EXPECT_TRUE(loaded.tooLarge);
        EXPECT_FALSE(loaded.bytes);
        EXPECT_EQ(content.asked, 0);
    }
    // One byte less is had, mapped.
    std::filesystem::resize_file(file, kMaxListFileSize);
    CountingContent content(paths, PosixFileContent::Mapping::kAllowed);
    const FileBytes::Limited loaded =
        FileBytes::LoadAtMost(content, u"L:\\big.csv", kMaxListFileSize);
    EXPECT_FALSE(loaded.tooLarge);
    ASSERT_TRUE(loaded.bytes);
    EXPECT_EQ(loaded.bytes->Bytes().size(), kMaxListFileSize);
    EXPECT_EQ(loaded.bytes->Bytes()[0], 'I');
    EXPECT_EQ(content.asked, 1);
}

}  // namespace
}  // namespace tolvessa::host
