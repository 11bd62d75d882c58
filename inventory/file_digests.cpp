#include "inventory/file_digests.h"

#include <algorithm>
#include <array>
#include <new>
#include <optional>

#include "inventory/file_bytes.h"
#include "inventory/image_hash.h"

namespace tolvessa {

namespace {

constexpr std::size_t kChunk = 1 << 16;
// The pieces a long file is read in.
constexpr std::size_t kStreamChunk = 1 << 20;

}  // namespace

const std::array<TextView, kDigestColumnCount> kDigestColumnCaptions = {
    u"SHA-1", u"SHA-256", u"PE SHA-1", u"PE SHA-256", u"Imphash"};

Text DigestCell(const FileDigests& digests, std::size_t index) {
    switch (index) {
        case 0:
            return DigestText(digests.sha1);
        case 1:
            return DigestText(digests.sha256);
        case 2:
            return DigestText(digests.peSha1);
        case 3:
            return DigestText(digests.peSha256);
        default:
            return DigestText(digests.imphash);
    }
}

namespace {

// The file's bytes through positioned reads, for a file too long to be held in memory: the
// length is the one taken when the file was opened, so bytes appended meanwhile are never read.
class FileSource : public ByteSource {
  public:
    FileSource(FileContentApi::File& file, std::uint64_t size) : file_(file), size_(size) {}
    std::uint64_t Size() override { return size_; }
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        return RangeFits(size_, offset, buffer.size()) && file_.ReadAt(offset, buffer);
    }

  private:
    FileContentApi::File& file_;
    std::uint64_t size_;
};

// The digest of a hasher, when there is one and it gives as many bytes as its algorithm has.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> Finished(Hasher* hasher) {
    if (!hasher)
        return std::nullopt;
    const std::vector<std::uint8_t> bytes = hasher->Finish();
    if (bytes.size() != N)
        return std::nullopt;
    std::array<std::uint8_t, N> digest;
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    return digest;
}

// The five digests over `source`, whose bytes come chunk by chunk from `chunkAt(at, length)`
// (nothing when they cannot be read: then every cell is empty).
template <typename ChunkAt>
FileDigests DigestsOver(ByteSource& source, HashApi& hashes, std::size_t chunkLength,
                        ChunkAt chunkAt) {
    FileDigests digests;
    const std::uint64_t size = source.Size();
    const std::optional<PeImage> image = PeImage::Parse(source);
    const std::optional<ImageHashPlan> plan = image ? image->HashPlan() : std::nullopt;
    if (const std::optional<std::string> imports =
            image ? ImportHashText(*image, source) : std::nullopt;
        imports && !imports->empty()) {
        Md5Context md5;
        Md5Init(md5);
        Md5Update(md5, reinterpret_cast<const std::uint8_t*>(imports->data()),
                  static_cast<std::uint32_t>(imports->size()));
        digests.imphash = Md5Final(md5);
    }

    const std::unique_ptr<Hasher> sha1 = hashes.NewHasher(HashAlgorithm::kSha1);
    const std::unique_ptr<Hasher> sha256 = hashes.NewHasher(HashAlgorithm::kSha256);
    std::unique_ptr<Hasher> peSha1;
    std::unique_ptr<Hasher> peSha256;
    if (plan) {
        peSha1 = hashes.NewHasher(HashAlgorithm::kSha1);
        peSha256 = hashes.NewHasher(HashAlgorithm::kSha256);
    }

    // One pass over the bytes: each chunk goes to the whole-file digests and, for the parts the
    // image hash covers, to the image digests while it is at hand.
    std::size_t range = 0;
    for (std::uint64_t at = 0; at < size;) {
        const std::uint64_t end = std::min<std::uint64_t>(size, at + chunkLength);
        const std::optional<std::span<const std::uint8_t>> read =
            chunkAt(at, static_cast<std::size_t>(end - at));
        if (!read)
            return FileDigests();
        const std::span<const std::uint8_t> chunk = *read;
        if (sha1)
            sha1->Update(chunk);
        if (sha256)
            sha256->Update(chunk);
        if (plan) {
            while (range < plan->ranges.size() && plan->ranges[range].begin < end) {
                const ByteRange& r = plan->ranges[range];
                const std::uint64_t from = std::max(r.begin, at);
                const std::uint64_t to = std::min(r.end, end);
                if (from < to) {
                    const auto part = chunk.subspan(static_cast<std::size_t>(from - at),
                                                    static_cast<std::size_t>(to - from));
                    if (peSha1)
                        peSha1->Update(part);
                    if (peSha256)
                        peSha256->Update(part);
                }
                if (r.end > end)
                    break;  // the range goes on in the next chunk
                ++range;
            }
        }
        at = end;
    }
    if (plan && plan->zeroPadding) {
        const std::array<std::uint8_t, 8> zeros{};
        const auto padding = std::span(zeros.data(), static_cast<std::size_t>(plan->zeroPadding));
        if (peSha1)
            peSha1->Update(padding);
        if (peSha256)
            peSha256->Update(padding);
    }

    digests.sha1 = Finished<20>(sha1.get());
    digests.sha256 = Finished<32>(sha256.get());
    digests.peSha1 = Finished<20>(peSha1.get());
    digests.peSha256 = Finished<32>(peSha256.get());
    return digests;
}

}  // namespace

FileDigests ReadFileOnce(FileContentApi& content, HashApi& hashes, const Text& path,
                         const ParseBytes& parse, std::uint64_t inMemoryLimit) {
    std::unique_ptr<FileContentApi::File> file = content.OpenForRead(path);
    if (!file)
        return FileDigests();

    // A file that is not mapped and is longer than the limit is read in pieces, at offsets, up to
    // the length it had when opened: never wholly in memory, and never past that length. Its
    // parsers read what they need of it at offsets too, from the same open file.
    std::unique_ptr<FileContentApi::View> view = file->MapWhole();
    std::optional<std::uint64_t> size;
    if (!view) {
        size = file->Size();
        if (size && *size > inMemoryLimit) {
            FileSource source(*file, *size);
            std::vector<std::uint8_t> buffer(kStreamChunk);
            FileDigests digests = DigestsOver(
                source, hashes, kStreamChunk,
                [&](std::uint64_t at,
                    std::size_t length) -> std::optional<std::span<const std::uint8_t>> {
                    const std::span<std::uint8_t> part(buffer.data(), length);
                    if (!file->ReadAt(at, part))
                        return std::nullopt;
                    return part;
                });
            if (parse && digests.ReadTheFile())
                parse(source, digests);
            return digests;
        }
    }
    const std::optional<FileBytes> loaded = FileBytes::Load(std::move(file), std::move(view), size);
    if (!loaded)
        return FileDigests();
    const std::span<const std::uint8_t> bytes = loaded->Bytes();
    MemorySource source(bytes);
    FileDigests digests = DigestsOver(
        source, hashes, kChunk,
        [&](std::uint64_t at, std::size_t length) -> std::optional<std::span<const std::uint8_t>> {
            return bytes.subspan(static_cast<std::size_t>(at), length);
        });
    if (parse && digests.ReadTheFile())
        parse(source, digests);
    return digests;
}

FileDigests ComputeFileDigests(FileContentApi& content, HashApi& hashes, const Text& path,
                               std::uint64_t inMemoryLimit) {
    return ReadFileOnce(content, hashes, path, nullptr, inMemoryLimit);
}

}  // namespace tolvessa
