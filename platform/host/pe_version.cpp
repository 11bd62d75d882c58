#include "platform/host/pe_version.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "inventory/pe_image.h"
#include "platform/host/posix_file.h"

namespace tolvessa::host {

namespace {

// A regular file opened for reading, with one cached window so that the many small reads of
// a header walk cost one system call or two.
class ImageFile : public ByteSource {
  public:
    explicit ImageFile(const std::string& hostPath)
        : file_(PosixFile::OpenRegularForRead(hostPath)), size_(file_.Size()) {}

    bool IsOpen() const { return file_ && size_.has_value(); }
    std::uint64_t Size() override { return size_.value_or(0); }

    // Exactly out.size() bytes at `offset`; false when they are not all in the file.
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
        if (!IsOpen() || !RangeFits(*size_, offset, out.size()))
            return false;
        if (out.empty())
            return true;
        if (offset >= windowStart_ && offset + out.size() <= windowStart_ + windowLength_) {
            std::memcpy(out.data(), window_.data() + (offset - windowStart_), out.size());
            return true;
        }
        if (out.size() <= window_.size() / 2) {
            // Headers and directory entries lie close together: fetch a window around them.
            const std::uint64_t start = offset & ~std::uint64_t{511};
            const std::uint64_t length = std::min<std::uint64_t>(window_.size(), *size_ - start);
            if (!file_.ReadAt(start, std::span(window_.data(), length))) {
                windowLength_ = 0;
                return false;
            }
            windowStart_ = start;
            windowLength_ = length;
            std::memcpy(out.data(), window_.data() + (offset - start), out.size());
            return true;
        }
        return file_.ReadAt(offset, out);
    }

  private:
    PosixFile file_;
    std::optional<std::uint64_t> size_;
    std::array<std::uint8_t, 4096> window_{};
    std::uint64_t windowStart_ = 0;
    std::uint64_t windowLength_ = 0;
};

constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;

// Header, key "VS_VERSION_INFO" and its NUL.
constexpr std::size_t kRootKeyOffset = 6;
constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
constexpr std::size_t kMinimalRootSize = kRootKeyOffset + 2 * (kRootKey.size() + 1);

// Where the version resource lies in the file.
struct ResourceData {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
};

class VersionResourceFinder {
  public:
    explicit VersionResourceFinder(ByteSource& file) : file_(file) {}

    // The RT_VERSION data, when the image has one that holds a VS_VERSION_INFO root.
    std::optional<ResourceData> FindVersionResource() {
        const std::optional<std::uint32_t> found = ReadHeaders();
        if (!found)
            return std::nullopt;
        const std::uint32_t resourceRva = *found;

        // Type, then the first name or id, then the first language.
        const auto typeEntry = FindTypeEntry(resourceRva, kResourceTypeVersion);
        if (!typeEntry || (*typeEntry & kSubdirectoryBit) == 0)
            return std::nullopt;
        const auto nameEntry = FirstEntry(resourceRva, *typeEntry & ~kSubdirectoryBit);
        if (!nameEntry || (*nameEntry & kSubdirectoryBit) == 0)
            return std::nullopt;
        const auto languageEntry = FirstEntry(resourceRva, *nameEntry & ~kSubdirectoryBit);
        if (!languageEntry || (*languageEntry & kSubdirectoryBit) != 0)
            return std::nullopt;

        std::array<std::uint8_t, 16> dataEntry;
        if (!ReadInResources(resourceRva, *languageEntry, dataEntry))
            return std::nullopt;
        const std::uint32_t dataRva = Read32(dataEntry, 0);
        const std::uint32_t dataSize = Read32(dataEntry, 4);
        if (dataSize < kMinimalRootSize)
            return std::nullopt;
        const auto dataOffset = FileOffset(dataRva, dataSize);
        if (!dataOffset)
            return std::nullopt;

        std::array<std::uint8_t, kMinimalRootSize> root;
        if (!file_.ReadAt(*dataOffset, root) || !IsVersionRoot(root))
            return std::nullopt;
        return ResourceData{*dataOffset, dataSize};
    }

  private:
    static bool IsVersionRoot(std::span<const std::uint8_t> root) {
        if (Read16(root, 0) < kMinimalRootSize)
            return false;
        for (std::size_t i = 0; i <= kRootKey.size(); ++i) {
            const char16_t expected = i < kRootKey.size() ? kRootKey[i] : u'\0';
            if (Read16(root, kRootKeyOffset + 2 * i) != expected)
                return false;
        }
        return true;
    }

    // The image headers and section table. Gives the RVA of the resource directory.
    std::optional<std::uint32_t> ReadHeaders() {
        const std::optional<PeHeaders> headers = ReadPeHeaders(file_);
        if (!headers)
            return std::nullopt;
        const auto resources = ReadDataDirectory(file_, *headers, kPeResourceDirectory);
        if (!resources || resources->virtualAddress == 0)
            return std::nullopt;
        auto sections = ReadSectionTable(file_, *headers);
        if (!sections)
            return std::nullopt;
        sections_ = std::move(*sections);
        return resources->virtualAddress;
    }

    // The file offset of `count` bytes at `rva`.
    std::optional<std::uint64_t> FileOffset(std::uint64_t rva, std::uint64_t count) {
        return RvaToFileOffset(sections_, file_.Size(), rva, count);
    }

    // Reads at an offset from the start of the resource directory.
    bool ReadInResources(std::uint32_t resourceRva, std::uint64_t offset,
                         std::span<std::uint8_t> out) {
        const auto at = FileOffset(std::uint64_t{resourceRva} + offset, out.size());
        return at && file_.ReadAt(*at, out);
    }

    // Named and id entry counts of the directory at `offset`.
    std::optional<std::uint32_t> EntryCount(std::uint32_t resourceRva, std::uint64_t offset) {
        std::array<std::uint8_t, 16> header;
        if (!ReadInResources(resourceRva, offset, header))
            return std::nullopt;
        return std::uint32_t{Read16(header, 12)} + Read16(header, 14);
    }

    // The OffsetToData of the entry with numeric id `id` in the root directory.
    std::optional<std::uint32_t> FindTypeEntry(std::uint32_t resourceRva, std::uint32_t id) {
        const auto count = EntryCount(resourceRva, 0);
        if (!count)
            return std::nullopt;
        for (std::uint32_t i = 0; i < *count; ++i) {
            std::array<std::uint8_t, 8> entry;
            if (!ReadInResources(resourceRva, 16 + 8 * std::uint64_t{i}, entry)) {
                return std::nullopt;
            }
            // A named entry has its top bit set, so it never equals a numeric id.
            if (Read32(entry, 0) == id)
                return Read32(entry, 4);
        }
        return std::nullopt;
    }

    // The OffsetToData of the first entry of the directory at `offset`.
    std::optional<std::uint32_t> FirstEntry(std::uint32_t resourceRva, std::uint64_t offset) {
        const auto count = EntryCount(resourceRva, offset);
        if (!count || *count == 0)
            return std::nullopt;
        std::array<std::uint8_t, 8> entry;
        if (!ReadInResources(resourceRva, offset + 16, entry))
            return std::nullopt;
        return Read32(entry, 4);
    }

    ByteSource& file_;
    std::vector<PeSection> sections_;
};

// --- Version data tree ---------------------------------------------------------------------

constexpr std::size_t kNodeHeaderSize = 6;

std::size_t Align4(std::size_t offset) {
    return (offset + 3) & ~std::size_t{3};
}

struct Node {
    std::size_t begin = 0;
    std::size_t end = 0;  // begin + wLength, bounded by the parent
    std::size_t key = 0;
    std::size_t keyUnits = 0;
    std::size_t value = 0;  // where the value starts (aligned after the key)
    std::uint16_t valueLength = 0;
    std::size_t children = 0;
};

// The node at `begin`, which must end at or before `limit`. The root alone may claim more
// than the block holds (a partial copy): it is then cut at the end of the block.
std::optional<Node> ParseNode(std::span<const std::uint8_t> block, std::size_t begin,
                              std::size_t limit, bool cutAtLimit) {
    if (limit > block.size() || begin > limit || limit - begin < kNodeHeaderSize) {
        return std::nullopt;
    }
    std::size_t length = Read16(block, begin);
    if (length < kNodeHeaderSize)
        return std::nullopt;
    if (length > limit - begin) {
        if (!cutAtLimit)
            return std::nullopt;
        length = limit - begin;
    }
    Node node;
    node.begin = begin;
    node.end = begin + length;
    node.valueLength = Read16(block, begin + 2);
    const bool isText = Read16(block, begin + 4) == 1;
    node.key = begin + kNodeHeaderSize;
    std::size_t at = node.key;
    while (at + 2 <= node.end && Read16(block, at) != 0)
        at += 2;
    if (at + 2 > node.end)
        return std::nullopt;  // the key has no NUL inside the node
    node.keyUnits = (at - node.key) / 2;
    node.value = Align4(at + 2);
    const std::size_t valueBytes = isText ? 2 * std::size_t{node.valueLength} : node.valueLength;
    node.children = Align4(node.value + valueBytes);
    return node;
}

char16_t FoldAscii(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool KeyIs(std::span<const std::uint8_t> block, const Node& node, TextView name) {
    if (node.keyUnits != name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto unit = static_cast<char16_t>(Read16(block, node.key + 2 * i));
        if (FoldAscii(unit) != FoldAscii(name[i]))
            return false;
    }
    return true;
}

std::optional<Node> FindChild(std::span<const std::uint8_t> block, const Node& parent,
                              TextView name) {
    std::size_t at = parent.children;
    while (at < parent.end) {
        const auto child = ParseNode(block, at, parent.end, false);
        if (!child)
            return std::nullopt;
        if (KeyIs(block, *child, name))
            return child;
        // wLength is at least a header long, so the walk always moves on.
        at = child->begin + Align4(child->end - child->begin);
    }
    return std::nullopt;
}

}  // namespace

VersionDataSize PeVersionApi::VersionInfoSize(const Text& path) {
    ImageFile file(paths_.ToHost(path));
    if (!file.IsOpen())
        return {};
    const auto data = VersionResourceFinder(file).FindVersionResource();
    return {data ? data->size : 0, 0};
}

bool PeVersionApi::ReadVersionInfo(const Text& path, std::uint32_t /*handle*/,
                                   std::span<std::uint8_t> buffer) {
    if (buffer.empty())
        return false;
    ImageFile file(paths_.ToHost(path));
    if (!file.IsOpen())
        return false;
    const auto data = VersionResourceFinder(file).FindVersionResource();
    if (!data)
        return false;
    const std::size_t count = std::min<std::size_t>(buffer.size(), data->size);
    return file.ReadAt(data->offset, buffer.first(count));
}

std::optional<std::vector<std::uint8_t>> PeVersionApi::VersionDataIn(ByteSource& bytes) {
    const auto data = VersionResourceFinder(bytes).FindVersionResource();
    if (!data)
        return std::vector<std::uint8_t>();
    std::vector<std::uint8_t> block(data->size);
    if (!bytes.ReadAt(data->offset, block))
        return std::vector<std::uint8_t>();
    return block;
}

std::optional<VersionValue> PeVersionApi::QueryVersionValue(std::span<const std::uint8_t> block,
                                                            const Text& subBlock) {
    auto node = ParseNode(block, 0, block.size(), true);
    if (!node)
        return std::nullopt;

    TextView rest = subBlock;
    while (!rest.empty()) {
        const std::size_t separator = rest.find(u'\\');
        const TextView name = rest.substr(0, separator);
        rest = separator == TextView::npos ? TextView{} : rest.substr(separator + 1);
        if (name.empty())
            continue;
        node = FindChild(block, *node, name);
        if (!node)
            return std::nullopt;
    }

    // A value belongs to its node: one that would start past the node's end is absent, and
    // an empty one there reads as the empty string.
    if (node->value < node->end)
        return VersionValue{block.subspan(node->value), node->valueLength};
    if (node->valueLength == 0)
        return VersionValue{};
    return std::nullopt;
}

}  // namespace tolvessa::host
