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

}  // namespace

const std::array<TextView, kDigestColumnCount> kDigestColumnCaptions = {
    u"SHA-1", u"SHA-256", u"PE SHA-1", u"PE SHA-256", u"Imphash"};

const Text& DigestCell(const FileDigests& digests, std::size_t index) {
    switch (index) {
        case 0:
            return digests.sha1;
        case 1:
            return digests.sha256;
        case 2:
            return digests.peSha1;
        case 3:
            return digests.peSha256;
        default:
            return digests.imphash;
    }
}

FileDigests ComputeFileDigests(FileContentApi& content, HashApi& hashes, const Text& path) {
    FileDigests digests;
    const std::optional<FileBytes> file = FileBytes::Load(content, path);
    if (!file)
        return digests;
    const std::span<const std::uint8_t> bytes = file->Bytes();

    MemorySource source(bytes);
    const std::optional<ImageHashPlan> plan = PlanImageHash(source);
    if (const std::optional<std::string> imports = ImportHashText(source);
        imports && !imports->empty()) {
        Md5Context md5;
        Md5Init(md5);
        Md5Update(md5, reinterpret_cast<const std::uint8_t*>(imports->data()),
                  static_cast<std::uint32_t>(imports->size()));
        digests.imphash = Md5DigestToHex(Md5Final(md5));
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
    for (std::uint64_t at = 0; at < bytes.size();) {
        const std::uint64_t end = std::min<std::uint64_t>(bytes.size(), at + kChunk);
        const auto chunk = bytes.subspan(at, end - at);
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
                    const auto part = bytes.subspan(from, to - from);
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

    if (sha1)
        digests.sha1 = HexBytesText(sha1->Finish());
    if (sha256)
        digests.sha256 = HexBytesText(sha256->Finish());
    if (peSha1)
        digests.peSha1 = HexBytesText(peSha1->Finish());
    if (peSha256)
        digests.peSha256 = HexBytesText(peSha256->Finish());
    return digests;
}

}  // namespace tolvessa
