#include "inventory/file_digests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/fake_files.h"
#include "tests/unit/test_image.h"

namespace tolvessa {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::FakeFiles;
using testing::TestImage;

// Hash engines that keep what each hasher was fed. A finished hasher's "digest" names its
// algorithm (every byte 0x01 for SHA-1, 0x56 for SHA-256), so a cell shows that a digest was
// made; what it was made of is checked on the bytes.
class RecordingHashes : public HashApi {
  public:
    struct Fed {
        HashAlgorithm algorithm;
        Bytes bytes;
    };

    bool haveSha256 = true;

    std::unique_ptr<Hasher> NewHasher(HashAlgorithm algorithm) override {
        if (algorithm == HashAlgorithm::kSha256 && !haveSha256)
            return nullptr;
        fed_.push_back(std::make_unique<Fed>(Fed{algorithm, {}}));
        return std::make_unique<RecordingHasher>(*fed_.back());
    }

    // What every hasher of `algorithm` was fed, in the order they were made.
    std::vector<Bytes> FedTo(HashAlgorithm algorithm) const {
        std::vector<Bytes> all;
        for (const auto& fed : fed_) {
            if (fed->algorithm == algorithm)
                all.push_back(fed->bytes);
        }
        return all;
    }

  private:
    class RecordingHasher : public Hasher {
      public:
        explicit RecordingHasher(Fed& fed) : fed_(fed) {}
        void Update(std::span<const std::uint8_t> bytes) override {
            fed_.bytes.insert(fed_.bytes.end(), bytes.begin(), bytes.end());
        }
        std::vector<std::uint8_t> Finish() override {
            if (fed_.algorithm == HashAlgorithm::kSha1)
                return std::vector<std::uint8_t>(20, 0x01);
            return std::vector<std::uint8_t>(32, 0x56);
        }

      private:
        Fed& fed_;
    };

    std::vector<std::unique_ptr<Fed>> fed_;
};

// The cells of those digests.
std::string Cell(const char* pair, std::size_t bytes) {
    std::string cell;
    for (std::size_t i = 0; i < bytes; ++i)
        cell += pair;
    return cell;
}
const std::string kSha1Mark = Cell("01", 20);
const std::string kSha256Mark = Cell("56", 32);

Bytes Pattern(std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 251);
    return bytes;
}

// The bytes of `image` outside [from, to), in order.
Bytes Without(const Bytes& image, const std::vector<std::pair<std::size_t, std::size_t>>& gaps) {
    Bytes kept;
    std::size_t at = 0;
    for (const auto& [from, to] : gaps) {
        kept.insert(kept.end(), image.begin() + static_cast<std::ptrdiff_t>(at),
                    image.begin() + static_cast<std::ptrdiff_t>(from));
        at = to;
    }
    kept.insert(kept.end(), image.begin() + static_cast<std::ptrdiff_t>(at), image.end());
    return kept;
}

// Each digest over its own bytes, whichever way the file comes and however its hashed parts
// fall across the chunks of the walk (these files span several).
TEST(ComputeFileDigestsTest, EachDigestGetsItsBytesOnceInOrder) {
    TestImage signedImage(true, Pattern(200000));
    const std::size_t signedEntry = signedImage.DirectoryAt(kPeCertificateDirectory);
    const std::size_t table = signedImage.AppendCertificateTable(0x70000);  // past two chunks
    TestImage unsignedImage(false, Pattern(3 * 65536));
    unsignedImage.bytes.resize(unsignedImage.bytes.size() + 3, 0xEE);  // 5 zeros to pad
    const std::size_t unsignedEntry = unsignedImage.DirectoryAt(kPeCertificateDirectory);
    const std::size_t checksum = TestImage::kChecksumAt;

    Bytes unsignedHashed = Without(unsignedImage.bytes,
                                   {{checksum, checksum + 4}, {unsignedEntry, unsignedEntry + 8}});
    unsignedHashed.resize(unsignedHashed.size() + 5, 0);
    struct Case {
        const char* name;
        Bytes content;
        std::optional<Bytes> imageHashed;  // none: no image hash
    };
    const Case cases[] = {
        {"signed PE32+", signedImage.bytes,
         Without(signedImage.bytes, {{checksum, checksum + 4},
                                     {signedEntry, signedEntry + 8},
                                     {table, signedImage.bytes.size()}})},
        {"unsigned PE32, padded", unsignedImage.bytes, unsignedHashed},
        {"not an image", Pattern(150000), std::nullopt},
        {"empty", Bytes{}, std::nullopt},
    };
    // How the file is read: mapped, read whole in short reads, or (as a file too long to be
    // held in memory) read in pieces at offsets; the last two also while bytes are appended to
    // the file, which are never digested.
    struct Way {
        const char* name;
        bool mappable;
        std::uint64_t inMemoryLimit;
        bool grows;
    };
    const Way ways[] = {
        {"mapped", true, kDigestsInMemoryLimit, false},
        {"read in short reads", false, kDigestsInMemoryLimit, false},
        {"read in pieces at offsets", false, 0, false},
        {"read in short reads while it grows", false, kDigestsInMemoryLimit, true},
        {"read in pieces at offsets while it grows", false, 0, true},
    };
    for (const Case& c : cases) {
        for (const Way& way : ways) {
            if (way.mappable && c.content.empty())
                continue;  // a file of length 0 is never mapped
            SCOPED_TRACE(std::string(c.name) + ", " + way.name);
            FakeFiles files;
            files.Add("f.sys", {.content = c.content,
                                .mappable = way.mappable,
                                .readLimit = 4099,
                                .appendedAfterSize = way.grows ? Pattern(70000) : Bytes()});
            RecordingHashes hashes;
            const FileDigests digests =
                ComputeFileDigests(files, hashes, u"f.sys", way.inMemoryLimit);

            for (const auto algorithm : {HashAlgorithm::kSha1, HashAlgorithm::kSha256}) {
                std::vector<Bytes> expected = {c.content};
                if (c.imageHashed)
                    expected.push_back(*c.imageHashed);
                const std::vector<Bytes> fed = hashes.FedTo(algorithm);
                std::string lengths;  // what a failure shows rather than megabytes
                for (const Bytes& bytes : fed)
                    lengths += std::to_string(bytes.size()) + " ";
                ASSERT_EQ(fed.size(), expected.size()) << lengths;
                for (const Bytes& bytes : expected) {
                    EXPECT_EQ(std::count(fed.begin(), fed.end(), bytes), 1)
                        << bytes.size() << " bytes expected; fed: " << lengths;
                }
            }
            const std::string pe1 = c.imageHashed ? kSha1Mark : "";
            const std::string pe256 = c.imageHashed ? kSha256Mark : "";
            EXPECT_EQ(TextToUtf8(DigestText(digests.sha1)), kSha1Mark);
            EXPECT_EQ(TextToUtf8(DigestText(digests.sha256)), kSha256Mark);
            EXPECT_EQ(TextToUtf8(DigestText(digests.peSha1)), pe1);
            EXPECT_EQ(TextToUtf8(DigestText(digests.peSha256)), pe256);
            EXPECT_EQ(digests.imphash, std::nullopt);  // no import table
            EXPECT_EQ(files.openFiles, 0);
            EXPECT_EQ(files.openViews, 0);
        }
    }
}

// A file that cannot be read whole has no digest at all, never one of a part of it.
TEST(ComputeFileDigestsTest, AFileNotReadWholeHasEmptyCells) {
    TestImage image(false, Pattern(200000));
    image.AppendCertificateTable(0x100);
    const struct {
        const char* name;
        std::optional<FakeFiles::Entry> entry;  // none: the file cannot be opened
    } cases[] = {
        {"cannot open", std::nullopt},
        {"read error at once", FakeFiles::Entry{.content = image.bytes, .failReadsAfter = 0}},
        {"read error after the first chunk",
         FakeFiles::Entry{.content = image.bytes, .failReadsAfter = 70000}},
        {"read error before the last byte",
         FakeFiles::Entry{
             .content = image.bytes, .readLimit = 4099, .failReadsAfter = image.bytes.size() - 1}},
        {"read claims more than asked",
         FakeFiles::Entry{.content = image.bytes, .overReport = true}},
        {"shortened while read",
         FakeFiles::Entry{.content = image.bytes, .readLimit = 4099, .shortenedAfterSize = 150000}},
    };
    for (const auto& c : cases) {
        // Read whole into memory, and in pieces at offsets.
        for (const std::uint64_t inMemoryLimit : {kDigestsInMemoryLimit, std::uint64_t{0}}) {
            SCOPED_TRACE(std::string(c.name) + (inMemoryLimit ? ", whole" : ", in pieces"));
            FakeFiles files;
            if (c.entry)
                files.Add("f.sys", *c.entry);
            RecordingHashes hashes;
            EXPECT_EQ(ComputeFileDigests(files, hashes, u"f.sys", inMemoryLimit), FileDigests{});
            EXPECT_EQ(files.openFiles, 0);
        }
    }
}

TEST(ComputeFileDigestsTest, AnAlgorithmTheEngineLacksLeavesItsCellsEmpty) {
    TestImage image(true, Pattern(1000));
    FakeFiles files;
    files.Add("f.sys", {.content = image.bytes, .mappable = true});
    RecordingHashes hashes;
    hashes.haveSha256 = false;
    const FileDigests digests = ComputeFileDigests(files, hashes, u"f.sys");
    EXPECT_EQ(TextToUtf8(DigestText(digests.sha1)), kSha1Mark);
    EXPECT_EQ(TextToUtf8(DigestText(digests.peSha1)), kSha1Mark);
    EXPECT_EQ(digests.sha256, std::nullopt);
    EXPECT_EQ(digests.peSha256, std::nullopt);
}

}  // namespace
}  // namespace tolvessa
