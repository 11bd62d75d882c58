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

#include "inventory/file_content.h"

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
        bool tellsSize = true;  // Size() gives the length, and ReadAt reads
        // What happens to the file once its length was asked: bytes appended to it, or its
        // length cut to this many bytes.
        std::vector<std::uint8_t> appendedAfterSize{};
        std::optional<std::size_t> shortenedAfterSize{};
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
            const std::optional<std::size_t> got = ReadFrom(position_, buffer);
            if (got)
                position_ += *got;
            return got;
        }

        std::optional<std::uint64_t> Size() override {
            if (!entry_.tellsSize)
                return std::nullopt;
            const std::size_t size = Content().size();
            sized_ = true;
            return size;
        }

        bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
            if (!entry_.tellsSize)
                return false;
            std::size_t done = 0;
            while (done < buffer.size()) {
                const std::optional<std::size_t> got =
                    ReadFrom(static_cast<std::size_t>(offset) + done, buffer.subspan(done));
                if (!got || *got == 0 || *got > buffer.size() - done)
                    return false;
                done += *got;
            }
            return true;
        }

      private:
        // The content as it is now: changed once the length was asked, where the entry says so.
        std::vector<std::uint8_t> Content() const {
            std::vector<std::uint8_t> content = entry_.content;
            if (sized_) {
                content.insert(content.end(), entry_.appendedAfterSize.begin(),
                               entry_.appendedAfterSize.end());
                if (entry_.shortenedAfterSize)
                    content.resize(std::min(content.size(), *entry_.shortenedAfterSize));
            }
            return content;
        }

        std::optional<std::size_t> ReadFrom(std::size_t at, std::span<std::uint8_t> buffer) {
            if (entry_.throwInRead)
                throw std::runtime_error("device gone");
            if (entry_.mappable)
                return std::nullopt;
            if (entry_.failReadsAfter && at >= *entry_.failReadsAfter)
                return std::nullopt;
            const std::vector<std::uint8_t> content = Content();
            if (entry_.overReport && at == 0) {
                position_ = content.size();  // the next read finds the end
                return buffer.size() + 1;
            }
            std::size_t take = std::min(
                {buffer.size(), entry_.readLimit, content.size() - std::min(at, content.size())});
            if (entry_.failReadsAfter)
                take = std::min(take, *entry_.failReadsAfter - at);
            std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(at), take, buffer.begin());
            return take;
        }

        FakeFiles& owner_;
        const Entry& entry_;
        std::size_t position_ = 0;
        bool sized_ = false;
    };

    std::map<Text, Entry> entries_;
};

}  // namespace tolvessa::testing
