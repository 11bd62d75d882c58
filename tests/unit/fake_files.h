// A file system in memory for the readers of whole files: files that can be mapped or only
// read, in short reads, with read errors part-way or exceptions; it counts the files and views
// still open.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "inventory/md5.h"

namespace tolvessa::testing {

// A file system in memory that counts the files and views still open.
class FakeFiles : public FileContentApi {
  public:
    struct Entry {
        std::vector<std::uint8_t> content{};
        bool mappable = false;
        std::size_t readLimit = 1 << 20;              // the most one Read hands back
        std::optional<std::size_t> failReadsAfter{};  // bytes delivered before reads fail
        bool overReport = false;  // the first Read claims one byte more than asked
        bool throwInRead = false;
        bool throwInBytes = false;
    };

    void Add(const std::string& name, Entry entry) { entries_[AsciiText(name)] = std::move(entry); }

    int openFiles = 0;
    int openViews = 0;

    std::unique_ptr<File> OpenForRead(const Text& path) override {
        const auto found = entries_.find(path);
        if (found == entries_.end())
            return nullptr;
        return std::make_unique<FakeFile>(*this, found->second);
    }

  private:
    class FakeView : public View {
      public:
        FakeView(FakeFiles& owner, const Entry& entry) : owner_(owner), entry_(entry) {
            ++owner_.openViews;
        }
        ~FakeView() override { --owner_.openViews; }
        std::span<const std::uint8_t> Bytes() const override {
            if (entry_.throwInBytes)
                throw std::runtime_error("page fault");
            return entry_.content;
        }

      private:
        FakeFiles& owner_;
        const Entry& entry_;
    };

    class FakeFile : public File {
      public:
        FakeFile(FakeFiles& owner, const Entry& entry) : owner_(owner), entry_(entry) {
            ++owner_.openFiles;
        }
        ~FakeFile() override { --owner_.openFiles; }

        std::unique_ptr<View> MapWhole() override {
            if (!entry_.mappable || entry_.content.empty())
                return nullptr;
            return std::make_unique<FakeView>(owner_, entry_);
        }

        // A mappable file refuses reads: its digest must come from the view.
        std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
            if (entry_.throwInRead)
                throw std::runtime_error("device gone");
            if (entry_.mappable)
                return std::nullopt;
            if (entry_.failReadsAfter && position_ >= *entry_.failReadsAfter)
                return std::nullopt;
            if (entry_.overReport && position_ == 0) {
                position_ = entry_.content.size();  // the next read finds the end
                return buffer.size() + 1;
            }
            std::size_t take =
                std::min({buffer.size(), entry_.readLimit, entry_.content.size() - position_});
            if (entry_.failReadsAfter)
                take = std::min(take, *entry_.failReadsAfter - position_);
            std::copy_n(entry_.content.begin() + static_cast<std::ptrdiff_t>(position_), take,
                        buffer.begin());
            position_ += take;
            return take;
        }

      private:
        FakeFiles& owner_;
        const Entry& entry_;
        std::size_t position_ = 0;
    };

    std::map<Text, Entry> entries_;
};

}  // namespace tolvessa::testing
