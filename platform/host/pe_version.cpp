#include "platform/host/pe_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tolvessa::host {

namespace {

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// A regular file opened for reading, with one cached window so that the many small reads of
// a header walk cost one system call or two.
class ImageFile {
  public:
    explicit ImageFile(const std::string& hostPath) {
        if (hostPath.empty())
            return;
        // O_NONBLOCK keeps a FIFO from blocking the open; it changes nothing for regular files.
        fd_ = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0)
            return;
        struct stat st;
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            Close();
            return;
        }
        size_ = static_cast<std::uint64_t>(st.st_size);
    }
    ~ImageFile() { Close(); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    std::uint64_t Size() const { return size_; }

    bool Contains(std::uint64_t offset, std::uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }

    // Exactly out.size() bytes at `offset`; false when they are not all in the file.
    bool Read(std::uint64_t offset, std::span<std::uint8_t> out) {
        if (!IsOpen() || !Contains(offset, out.size()))
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
            const std::uint64_t length = std::min<std::uint64_t>(window_.size(), size_ - start);
            if (!ReadExactly(start, std::span(window_.data(), length))) {
                windowLength_ = 0;
                return false;
            }
            windowStart_ = start;
            windowLength_ = length;
            std::memcpy(out.data(), window_.data() + (offset - start), out.size());
            return true;
        }
        return ReadExactly(offset, out);
    }

  private:
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    bool ReadExactly(std::uint64_t offset, std::span<std::uint8_t> out) {
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                                      static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;  // an error, or the file shrank under us
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::array<std::uint8_t, 4096> window_{};
    std::uint64_t windowStart_ = 0;
    std::uint64_t windowLength_ = 0;
};

constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;
constexpr std::size_t kSectionHeaderSize = 40;

// Header, key "VS_VERSION_INFO" and its NUL.
constexpr std::size_t kRootKeyOffset = 6;
constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
constexpr std::size_t kMinimalRootSize = kRootKeyOffset + 2 * (kRootKey.size() + 1);

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawSize;
    std::uint32_t rawPointer;
};

// Where the version resource lies in the file.
struct ResourceData {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
};

class PeImage {
  public:
    explicit PeImage(ImageFile& file) : file_(file) {}

    // The RT_VERSION data, when the image has one that holds a VS_VERSION_INFO root.
    std::optional<ResourceData> FindVersionResource() {
        std::uint32_t resourceRva = 0;
        if (!ReadHeaders(resourceRva))
            return std::nullopt;

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
        const std::uint32_t dataRva = Le32(&dataEntry[0]);
        const std::uint32_t dataSize = Le32(&dataEntry[4]);
        if (dataSize < kMinimalRootSize)
            return std::nullopt;
        const auto dataOffset = FileOffset(dataRva, dataSize);
        if (!dataOffset)
            return std::nullopt;

        std::array<std::uint8_t, kMinimalRootSize> root;
        if (!file_.Read(*dataOffset, root) || !IsVersionRoot(root))
            return std::nullopt;
        return ResourceData{*dataOffset, dataSize};
    }

  private:
    static bool IsVersionRoot(std::span<const std::uint8_t> root) {
        if (Le16(&root[0]) < kMinimalRootSize)
            return false;
        for (std::size_t i = 0; i <= kRootKey.size(); ++i) {
            const char16_t expected = i < kRootKey.size() ? kRootKey[i] : u'\0';
            if (Le16(&root[kRootKeyOffset + 2 * i]) != expected)
                return false;
        }
        return true;
    }

    // DOS header, PE signature, file header, optional header and section table. Gives the RVA
    // of the resource directory.
    bool ReadHeaders(std::uint32_t& resourceRva) {
        std::array<std::uint8_t, 64> dos;
        if (!file_.Read(0, dos) || dos[0] != 'M' || dos[1] != 'Z')
            return false;
        const std::uint64_t peOffset = Le32(&dos[0x3C]);

        std::array<std::uint8_t, 24> pe;  // "PE\0\0" and IMAGE_FILE_HEADER
        if (!file_.Read(peOffset, pe) || std::memcmp(pe.data(), "PE\0\0", 4) != 0)
            return false;
        const std::uint16_t sectionCount = Le16(&pe[6]);
        const std::uint16_t optionalSize = Le16(&pe[20]);

        // The data directories follow the fixed part, which differs between PE32 and PE32+.
        std::array<std::uint8_t, 2> magic;
        if (optionalSize < magic.size() || !file_.Read(peOffset + pe.size(), magic))
            return false;
        std::size_t countOffset = 0;
        switch (Le16(magic.data())) {
            case 0x10B:
                countOffset = 92;
                break;
            case 0x20B:
                countOffset = 108;
                break;
            default:
                return false;
        }
        constexpr std::size_t kResourceIndex = 2;
        const std::size_t resourceOffset = countOffset + 4 + 8 * kResourceIndex;
        if (optionalSize < resourceOffset + 8)
            return false;
        std::array<std::uint8_t, 4> count;
        std::array<std::uint8_t, 8> directory;
        if (!file_.Read(peOffset + pe.size() + countOffset, count) ||
            !file_.Read(peOffset + pe.size() + resourceOffset, directory)) {
            return false;
        }
        if (Le32(count.data()) <= kResourceIndex)
            return false;
        resourceRva = Le32(&directory[0]);
        if (resourceRva == 0)
            return false;

        const std::uint64_t tableOffset = peOffset + pe.size() + optionalSize;
        std::vector<std::uint8_t> table(std::size_t{sectionCount} * kSectionHeaderSize);
        if (!file_.Read(tableOffset, table))
            return false;
        sections_.clear();
        sections_.reserve(sectionCount);
        for (std::size_t i = 0; i < sectionCount; ++i) {
            const std::uint8_t* s = &table[i * kSectionHeaderSize];
            sections_.push_back({Le32(s + 12), Le32(s + 8), Le32(s + 16), Le32(s + 20)});
        }
        return true;
    }

    // The file offset of `count` bytes at `rva`, when they all lie in the file-backed part of
    // one section and in the file.
    std::optional<std::uint64_t> FileOffset(std::uint64_t rva, std::uint64_t count) const {
        for (const Section& s : sections_) {
            if (rva < s.virtualAddress)
                continue;
            const std::uint64_t into = rva - s.virtualAddress;
            const std::uint64_t backed =
                s.virtualSize == 0 ? s.rawSize : std::min(s.virtualSize, s.rawSize);
            if (into >= backed)
                continue;
            if (count > backed - into)
                return std::nullopt;
            const std::uint64_t offset = std::uint64_t{s.rawPointer} + into;
            if (!file_.Contains(offset, count))
                return std::nullopt;
            return offset;
        }
        return std::nullopt;
    }

    // Reads at an offset from the start of the resource directory.
    bool ReadInResources(std::uint32_t resourceRva, std::uint64_t offset,
                         std::span<std::uint8_t> out) {
        const auto at = FileOffset(std::uint64_t{resourceRva} + offset, out.size());
        return at && file_.Read(*at, out);
    }

    // Named and id entry counts of the directory at `offset`.
    std::optional<std::uint32_t> EntryCount(std::uint32_t resourceRva, std::uint64_t offset) {
        std::array<std::uint8_t, 16> header;
        if (!ReadInResources(resourceRva, offset, header))
            return std::nullopt;
        return std::uint32_t{Le16(&header[12])} + Le16(&header[14]);
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
            if (Le32(&entry[0]) == id)
                return Le32(&entry[4]);
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
        return Le32(&entry[4]);
    }

    ImageFile& file_;
    std::vector<Section> sections_;
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
    const std::uint8_t* p = block.data() + begin;
    std::size_t length = Le16(p);
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
    node.valueLength = Le16(p + 2);
    const bool isText = Le16(p + 4) == 1;
    node.key = begin + kNodeHeaderSize;
    std::size_t at = node.key;
    while (at + 2 <= node.end && Le16(block.data() + at) != 0)
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
        const auto unit = static_cast<char16_t>(Le16(block.data() + node.key + 2 * i));
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

constexpr char16_t kEmptyValue[1] = {u'\0'};

}  // namespace

std::uint32_t PeVersionApi::VersionInfoSize(const Text& path, std::uint32_t& handle) {
    handle = 0;
    ImageFile file(paths_.ToHost(path));
    if (!file.IsOpen())
        return 0;
    const auto data = PeImage(file).FindVersionResource();
    return data ? data->size : 0;
}

bool PeVersionApi::ReadVersionInfo(const Text& path, std::uint32_t /*handle*/,
                                      std::span<std::uint8_t> buffer) {
    if (buffer.empty())
        return false;
    ImageFile file(paths_.ToHost(path));
    if (!file.IsOpen())
        return false;
    const auto data = PeImage(file).FindVersionResource();
    if (!data)
        return false;
    const std::size_t count = std::min<std::size_t>(buffer.size(), data->size);
    return file.Read(data->offset, buffer.first(count));
}

bool PeVersionApi::QueryVersionValue(std::span<const std::uint8_t> block, const Text& subBlock,
                                 const void*& value, std::uint32_t& length) {
    auto node = ParseNode(block, 0, block.size(), true);
    if (!node)
        return false;

    TextView rest = subBlock;
    while (!rest.empty()) {
        const std::size_t separator = rest.find(u'\\');
        const TextView name = rest.substr(0, separator);
        rest = separator == TextView::npos ? TextView{} : rest.substr(separator + 1);
        if (name.empty())
            continue;
        node = FindChild(block, *node, name);
        if (!node)
            return false;
    }

    // A value belongs to its node: one that would start past the node's end is absent, and
    // an empty one there reads as the empty string.
    if (node->value < node->end) {
        value = block.data() + node->value;
    } else if (node->valueLength == 0) {
        value = kEmptyValue;
    } else {
        return false;
    }
    length = node->valueLength;
    return true;
}

}  // namespace tolvessa::host
