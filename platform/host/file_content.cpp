#include "platform/host/file_content.h"

#include <sys/mman.h>

#include <cstdint>
#include <limits>
#include <utility>

#include "platform/host/posix_file.h"

namespace tolvessa::host {

namespace {

// A read-only private mapping of the first `size` bytes of a file; unmapped when destroyed.
class MappedView : public FileContentApi::View {
  public:
    MappedView(int fd, std::size_t size)
        : address_(::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)), size_(size) {
        // The digest reads the view once from start to end: ask for aggressive read-ahead.
        if (mapped())
            ::madvise(address_, size_, MADV_SEQUENTIAL);
    }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    ~MappedView() override {
        if (mapped())
            ::munmap(address_, size_);
    }

    bool mapped() const { return address_ != MAP_FAILED; }

    std::span<const std::uint8_t> Bytes() const override {
        return {static_cast<const std::uint8_t*>(address_), size_};
    }

  private:
    void* address_;
    std::size_t size_;
};

class ContentFile : public FileContentApi::File {
  public:
    ContentFile(PosixFile file, off_t size, PosixFileContent::Mapping mapping)
        : file_(std::move(file)), size_(size), mapping_(mapping) {}

    std::unique_ptr<FileContentApi::View> MapWhole() override {
        if (mapping_ == PosixFileContent::Mapping::kRefused)
            return nullptr;
        if (size_ <= 0)
            return nullptr;  // mmap refuses a length of 0
        if (static_cast<std::uintmax_t>(size_) > std::numeric_limits<std::size_t>::max()) {
            return nullptr;
        }
        auto view = std::make_unique<MappedView>(file_.Get(), static_cast<std::size_t>(size_));
        if (!view->mapped())
            return nullptr;
        return view;
    }

    std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
        return file_.ReadSome(buffer);
    }

    std::optional<std::uint64_t> Size() override {
        if (size_ < 0)
            return std::nullopt;
        return static_cast<std::uint64_t>(size_);
    }

  private:
    PosixFile file_;
    off_t size_;
    PosixFileContent::Mapping mapping_;
};

}  // namespace

PosixFileContent::PosixFileContent(const HostPaths& paths, Mapping mapping)
    : paths_(paths), mapping_(mapping) {}

std::unique_ptr<FileContentApi::File> PosixFileContent::OpenForRead(const Text& path) {
    PosixFile file = PosixFile::OpenRegularForRead(paths_.ToHost(path));
    const auto status = file.Status();
    if (!file || !status)
        return nullptr;
    return std::make_unique<ContentFile>(std::move(file), status->st_size, mapping_);
}

}  // namespace tolvessa::host
