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

// Header, key "VS_VERSION_INFO" and its NUL.
constexpr std::size_t kRootKeyOffset = 6;
constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
constexpr std::size_t kMinimalRootSize = kRootKeyOffset + 2 * (kRootKey.size() + 1);

bool IsVersionRoot(std::span<const std::uint8_t> root) {
    if (Read16(root, 0) < kMinimalRootSize)
        return false;
    for (std::size_t i = 0; i <= kRootKey.size(); ++i) {
        const char16_t expected = i < kRootKey.size() ? kRootKey[i] : u'\0';
        if (Read16(root, kRootKeyOffset + 2 * i) != expected)
            return false;
    }
    return true;
}

// The version data of the image in `file`, parsed here.
std::optional<PeFileRange> VersionDataOf(ByteSource& file) {
    const std::optional<PeImage> image = PeImage::Parse(file);
    if (!image)
        return std::nullopt;
    return FindVersionData(*image, file);
}

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

bool KeyIs(std::span<const std::uint8_t> block, const Node& node, TextView name) {
    if (node.keyUnits != name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto unit = static_cast<char16_t>(Read16(block, node.key + 2 * i));
        if (FoldAsciiCase(unit) != FoldAsciiCase(name[i]))
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

std::optional<PeFileRange> FindVersionData(const PeImage& image, ByteSource& file) {
    const std::optional<PeFileRange> data = image.VersionResource(file);
    std::array<std::uint8_t, kMinimalRootSize> root{};
    if (!data || data->size < kMinimalRootSize || !ReadBytes(file, data->offset, root) ||
        !IsVersionRoot(root)) {
        return std::nullopt;
    }
    return data;
}

VersionDataSize PeVersionApi::VersionInfoSize(const Text& path) {
    ImageFile file(paths_.ToHost(path));
    if (!file.IsOpen())
        return {};
    const auto data = VersionDataOf(file);
    return {data ? static_cast<std::uint32_t>(data->size) : 0, 0};
}

bool PeVersionApi::ReadVersionInfo(const Text& path, std::uint32_t /*handle*/,
                                   std::span<std::uint8_t> buffer) {
    if (buffer.empty())
        return false;
    ImageFile file(paths_.ToHost(path));
    if (!file.IsOpen())
        return false;
    const auto data = VersionDataOf(file);
    if (!data)
        return false;
    const std::size_t count = std::min<std::size_t>(buffer.size(), data->size);
    return file.ReadAt(data->offset, buffer.first(count));
}

std::optional<std::vector<std::uint8_t>> PeVersionApi::VersionDataIn(ByteSource& bytes) {
    const auto data = VersionDataOf(bytes);
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
