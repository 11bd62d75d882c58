// A whole file's bytes with a size limit: refused by the open file's size before a byte is mapped
// or read, and, where the platform cannot tell the size, by the mapping's or as soon as the reads
// pass the limit.
#include "inventory/file_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace tolvessa {
namespace {

// One file of `size` bytes, each its offset's low byte, with or without a size the platform
// tells and a mapping; counts what is asked of it.
class CountingContent : public FileContentApi {
  public:
    std::uint64_t size = 0;
    bool sizeKnown = true;
    bool mappable = false;
    int maps = 0;
    std::uint64_t bytesRead = 0;

    std::unique_ptr<File> OpenForRead(const Text&) override {
        return std::make_unique<CountedFile>(*this);
    }

  private:
    class Mapped : public View {
      public:
        explicit Mapped(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
        std::span<const std::uint8_t> Bytes() const override { return bytes_; }

      private:
        std::vector<std::uint8_t> bytes_;
    };

    class CountedFile : public File {
      public:
        explicit CountedFile(CountingContent& owner) : owner_(owner) {}
        std::unique_ptr<View> MapWhole() override {
            ++owner_.maps;
            if (!owner_.mappable)
                return nullptr;
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(owner_.size));
            for (std::size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = static_cast<std::uint8_t>(i);
            return std::make_unique<Mapped>(std::move(bytes));
        }
        std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), owner_.size - at_));
            for (std::size_t i = 0; i < n; ++i)
                buffer[i] = static_cast<std::uint8_t>(at_ + i);
            at_ += n;
            owner_.bytesRead += n;
            return n;
        }
        std::optional<std::uint64_t> Size() override {
            return owner_.sizeKnown ? std::optional(owner_.size) : std::nullopt;
        }

      private:
        CountingContent& owner_;
        std::uint64_t at_ = 0;
    };
};

TEST(FileBytesTest, ALargerFileIsRefusedByItsSizeBeforeItIsRead) {
    constexpr std::uint64_t kLimit = 100000;  // more than one read's chunk of 64 KiB
    struct Case {
        const char* name;
        std::uint64_t size;
        bool sizeKnown;
        bool mappable;
        bool tooLarge;
        int maps;  // what was asked of the file
        std::uint64_t mostRead;
    };
    const Case cases[] = {
        {"told_larger", kLimit + 1, true, true, true, 0, 0},
        {"told_far_larger", std::uint64_t{1} << 40, true, false, true, 0, 0},
        {"told_at_the_limit_and_read", kLimit, true, false, false, 1, kLimit},
        {"told_at_the_limit_and_mapped", kLimit, true, true, false, 1, 0},
        // Where the size cannot be had: the mapping's, or the reads stop past the limit.
        {"untold_and_mapped", kLimit + 1, false, true, true, 1, 0},
        {"untold_and_read", 3 * kLimit, false, false, true, 1, kLimit + (1 << 16)},
        {"untold_at_the_limit", kLimit, false, false, false, 1, kLimit},
    };
    for (const Case& c : cases) {
        CountingContent content;
        content.size = c.size;
        content.sizeKnown = c.sizeKnown;
        content.mappable = c.mappable;
        const FileBytes::Limited loaded = FileBytes::LoadAtMost(content, u"f", kLimit);
        EXPECT_EQ(loaded.tooLarge, c.tooLarge) << c.name;
        EXPECT_EQ(loaded.bytes.has_value(), !c.tooLarge) << c.name;
        if (loaded.bytes) {
            ASSERT_EQ(loaded.bytes->Bytes().size(), c.size) << c.name;
            EXPECT_EQ(loaded.bytes->Bytes()[70000], static_cast<std::uint8_t>(70000)) << c.name;
        }
        EXPECT_EQ(content.maps, c.maps) << c.name;
        EXPECT_LE(content.bytesRead, c.mostRead) << c.name;
    }
}

// Without a limit every byte is had, whatever the size says.
TEST(FileBytesTest, NoLimitReadsWhateverTheSize) {
    CountingContent content;
    content.size = 70001;
    const std::optional<FileBytes> loaded = FileBytes::Load(content, u"f");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->Bytes().size(), 70001u);
    EXPECT_EQ(content.bytesRead, 70001u);
}

}  // namespace
}  // namespace tolvessa
