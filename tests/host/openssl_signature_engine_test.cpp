// The verdict of every signed image and catalog fixture on the host engine (see
// tests/fixtures/trust/make_signed_images.py), with the test root as the trust store: the
// embedded signature first, then the catalogs of a CatRoot-like folder, found by the image hashes
// the digests step computes.
#include "platform/host/openssl_signature_engine.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/file_content.h"
#include "platform/host/openssl_hash.h"
#include "platform/host/openssl_signed_data.h"
#include "platform/host/pe_version.h"
#include "temp_dir.h"
#include "trust/file_trust.h"

namespace tolvessa::host {
namespace {

using V = SignatureVerdict;
using Bytes = std::vector<std::uint8_t>;

const std::string kImages = TOLVESSA_TRUST_FIXTURE_DIR;
const std::string kTestRoot = kImages + "/test_root.pem";
const std::string kStrayRoot = kImages + "/stray_root.pem";
const std::string kCatRoot = kImages + "/catroot";
const std::string kCatalogFolder = kCatRoot + "/{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";

constexpr const char16_t* kSigner = u"Tolvessa Test Signer";

Text Path(const std::string& name) {
    return Utf8ToText(kImages + "/" + name);
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The digests step and the verdict, as a worker runs them on one file.
class Worker {
  public:
    explicit Worker(std::shared_ptr<const HostCatalogs> catalogs,
                    const std::string& caBundle = kTestRoot)
        : engine_(paths_, caBundle, std::move(catalogs)) {}

    FileDigests Digests(const Text& path) { return ComputeFileDigests(content_, hashes_, path); }
    FileTrust Judge(const Text& path) { return JudgeFile(engine_, path, Digests(path)); }
    OpenSslSignatureEngine& Engine() { return engine_; }

  private:
    HostPaths paths_;
    PosixFileContent content_{paths_};
    OpenSslHashApi hashes_;
    OpenSslSignatureEngine engine_;
};

std::shared_ptr<const HostCatalogs> TestCatalogs(const std::string& caBundle = kTestRoot) {
    return std::make_shared<const HostCatalogs>(kCatRoot, caBundle);
}

struct Case {
    const char* image;
    V verdict;
    const char16_t* signer;
    const char16_t* catalog;
};

void ExpectTrust(const FileTrust& trust, const Case& c) {
    SCOPED_TRACE(c.image);
    EXPECT_EQ(TextToUtf8(VerdictText(trust.verdict)), TextToUtf8(VerdictText(c.verdict)));
    EXPECT_EQ(TextToUtf8(trust.signer), TextToUtf8(c.signer));
    EXPECT_EQ(TextToUtf8(trust.catalog), TextToUtf8(c.catalog));
}

const Case kEmbeddedCases[] = {
    {"unsigned", V::kUnsigned, u"", u""},
    {"signed", V::kEmbedded, kSigner, u""},
    {"signed_sha1", V::kEmbedded, kSigner, u""},
    // The message verifies, the image digest does not.
    {"tampered", V::kInvalid, kSigner, u""},
    {"no_cn", V::kEmbedded, u"Corvane Test Organisation", u""},
    // The first entry is checked, and named.
    {"two_entries", V::kEmbedded, kSigner, u""},
    {"short_length", V::kUnsigned, u"", u""},
    {"past_end", V::kUnsigned, u"", u""},
    {"untrusted", V::kUntrusted, u"Tolvessa Stray Signer", u""},
    {"server_usage", V::kUntrusted, u"Tolvessa Server Only", u""},
};

TEST(HostSignatureEngineTest, EmbeddedSignatures) {
    Worker worker(TestCatalogs());
    for (const Case& c : kEmbeddedCases) {
        for (const char* bits : {"_32.exe", "_64.exe"}) {
            const std::string image = std::string(c.image) + bits;
            ExpectTrust(worker.Judge(Path(image)), {image.c_str(), c.verdict, c.signer, c.catalog});
        }
    }
}

// "Verify File Signature" and the verdict agree on every image: "Embedded" exactly when the
// command calls the file signed, by the signer it names when it names one.
TEST(HostSignatureEngineTest, AgreesWithTheVerifyCommand) {
    HostPaths paths;
    OpenSslTrustApi command(paths, kTestRoot);
    Worker worker(TestCatalogs());
    int images = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kImages)) {
        if (entry.path().extension() != ".exe")
            continue;
        ++images;
        const Text path = Utf8ToText(entry.path().string());
        SCOPED_TRACE(entry.path().filename().string());
        const FileTrust trust = worker.Judge(path);
        const bool isSigned = IsFileSigned(command, path);
        EXPECT_EQ(trust.verdict == V::kEmbedded, isSigned);
        const Text named = GetSignerName(command, path);
        if (isSigned && !named.empty()) {
            EXPECT_EQ(TextToUtf8(trust.signer), TextToUtf8(named));
        }
    }
    EXPECT_GE(images, 29);
}

const Case kCatalogCases[] = {
    {"catalog_member_64.exe", V::kCatalog, kSigner, u"tolvessa_test.cat"},
    // Listed by its SHA-256 image hash only.
    {"catalog_member_32.exe", V::kCatalog, kSigner, u"tolvessa_test.cat"},
    // Listed by its SHA-1 image hash only, in a catalog two folders down.
    {"catalog_sha1_only_64.exe", V::kCatalog, kSigner, u"sha1_only.cat"},
    {"catalog_stray_64.exe", V::kUntrusted, u"Tolvessa Stray Signer", u"stray.cat"},
    {"catalog_server_64.exe", V::kUntrusted, u"Tolvessa Server Only", u"server_usage.cat"},
    // The catalog changed after it was signed.
    {"catalog_broken_64.exe", V::kInvalid, kSigner, u"broken.cat"},
    // The file changed after it was listed.
    {"catalog_changed_64.exe", V::kUnsigned, u"", u""},
    // Its catalog was never signed.
    {"catalog_unsigned_cat_64.exe", V::kUnsigned, u"", u""},
    // Listed too, but its embedded signature comes first.
    {"catalog_signed_64.exe", V::kEmbedded, kSigner, u""},
    {"unsigned_64.exe", V::kUnsigned, u"", u""},
};

TEST(HostSignatureEngineTest, CatalogSignatures) {
    const auto catalogs = TestCatalogs();
    Worker worker(catalogs);
    for (const Case& c : kCatalogCases)
        ExpectTrust(worker.Judge(Path(c.image)), c);
    EXPECT_EQ(catalogs->Index().CatalogCount(), 6u);
    std::vector<Text> skipped = catalogs->Index().Skipped();
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(skipped, (std::vector<Text>{u"garbage.cat", u"truncated.cat"}));
}

// A member is found by whichever of the two image hashes the digests step could give.
TEST(HostSignatureEngineTest, LooksUpEitherImageHash) {
    Worker worker(TestCatalogs());
    const Text member = Path("catalog_member_64.exe");
    const Text sha1Only = Path("catalog_sha1_only_64.exe");
    FileDigests digests = worker.Digests(member);
    ASSERT_TRUE(digests.peSha1);
    ASSERT_TRUE(digests.peSha256);

    FileDigests onlySha1 = digests;
    onlySha1.peSha256.reset();
    FileDigests onlySha256 = digests;
    onlySha256.peSha1.reset();
    for (const FileDigests& some : {digests, onlySha1, onlySha256}) {
        const auto found = worker.Engine().CheckCatalogs(member, some);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->status, trust_status::kTrusted);
        EXPECT_EQ(found->catalog, u"tolvessa_test.cat");
    }
    EXPECT_FALSE(worker.Engine().CheckCatalogs(member, FileDigests{}));

    FileDigests sha1Member = worker.Digests(sha1Only);
    EXPECT_TRUE(worker.Engine().CheckCatalogs(sha1Only, sha1Member));
    sha1Member.peSha1.reset();
    EXPECT_FALSE(worker.Engine().CheckCatalogs(sha1Only, sha1Member));
}

TEST(HostSignatureEngineTest, WithoutCatalogsNothingIsListed) {
    const testing::TempDir empty;
    const std::string emptyFolder = empty.Path().string();
    for (const std::string& folder : {emptyFolder, emptyFolder + "/missing", std::string()}) {
        const auto catalogs = std::make_shared<const HostCatalogs>(folder, kTestRoot);
        Worker worker(catalogs);
        ExpectTrust(worker.Judge(Path("catalog_member_64.exe")),
                    {"catalog_member_64.exe", V::kUnsigned, u"", u""});
        ExpectTrust(worker.Judge(Path("signed_64.exe")),
                    {"signed_64.exe", V::kEmbedded, kSigner, u""});
        EXPECT_EQ(catalogs->Index().CatalogCount(), 0u);
        EXPECT_TRUE(catalogs->Index().Skipped().empty());
    }
    Worker noCatalogs(nullptr);
    ExpectTrust(noCatalogs.Judge(Path("catalog_member_64.exe")),
                {"catalog_member_64.exe", V::kUnsigned, u"", u""});
}

// The catalogs' signers are judged by the same store as embedded signatures.
TEST(HostSignatureEngineTest, TheTrustStoreDecidesAboutCatalogs) {
    Worker worker(TestCatalogs(kStrayRoot), kStrayRoot);
    ExpectTrust(worker.Judge(Path("catalog_stray_64.exe")),
                {"catalog_stray_64.exe", V::kCatalog, u"Tolvessa Stray Signer", u"stray.cat"});
    ExpectTrust(worker.Judge(Path("catalog_member_64.exe")),
                {"catalog_member_64.exe", V::kUntrusted, kSigner, u"tolvessa_test.cat"});
}

// Catalog files are found by their extension in any case, in folders at any depth.
TEST(HostSignatureEngineTest, FindsCatalogsByExtensionAtAnyDepth) {
    const testing::TempDir root;
    const Bytes catalog = ReadAll(kCatalogFolder + "/tolvessa_test.cat");
    const std::string bytes(catalog.begin(), catalog.end());
    for (const char* name : {"a/b/c/UPPER.CAT", "a/not_a_catalog.txt", "Mixed.Cat"})
        root.Write(name, bytes);
    const auto catalogs = std::make_shared<const HostCatalogs>(root.Path().string(), kTestRoot);
    EXPECT_EQ(catalogs->Index().CatalogCount(), 2u);
    Worker worker(catalogs);
    // The first in the order of the paths.
    ExpectTrust(worker.Judge(Path("catalog_member_64.exe")),
                {"catalog_member_64.exe", V::kCatalog, kSigner, u"Mixed.Cat"});
}

// The catalog's own signature may use SHA-1 or SHA-256 message digests (the fixtures' folder has
// SHA-1 ones throughout).
TEST(HostSignatureEngineTest, ReadsCatalogsSignedWithSha256) {
    const testing::TempDir root;
    const Bytes catalog = ReadAll(kImages + "/sha256_signed.cat");
    ASSERT_FALSE(catalog.empty());
    root.Write("sha256_signed.cat", std::string(catalog.begin(), catalog.end()));
    Worker worker(std::make_shared<const HostCatalogs>(root.Path().string(), kTestRoot));
    ExpectTrust(worker.Judge(Path("catalog_member_64.exe")),
                {"catalog_member_64.exe", V::kCatalog, kSigner, u"sha256_signed.cat"});
}

// Workers share the catalogs: they are read once, by whichever worker needs them first, and every
// worker gets the same answers.
TEST(HostSignatureEngineTest, WorkersShareTheCatalogs) {
    const auto catalogs = TestCatalogs();
    std::vector<std::vector<FileTrust>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&catalogs, &result] {
            Worker worker(catalogs);
            for (const Case& c : kCatalogCases)
                result.push_back(worker.Judge(Path(c.image)));
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (const auto& result : results) {
        ASSERT_EQ(result.size(), std::size(kCatalogCases));
        for (std::size_t i = 0; i < result.size(); ++i)
            ExpectTrust(result[i], kCatalogCases[i]);
    }
}

// Changing any byte of a signed catalog's list either leaves it unreadable or breaks its
// signature: no changed list is ever trusted.
TEST(HostSignatureEngineTest, TheSignatureCoversEveryByteOfTheList) {
    const Bytes original = ReadAll(kCatalogFolder + "/tolvessa_test.cat");
    // The list starts with its SEQUENCE header (long form, two length bytes), then the subject
    // usage naming the catalog list.
    const Bytes usage = {0x30, 0x0C, 0x06, 0x0A, 0x2B, 0x06, 0x01,
                         0x04, 0x01, 0x82, 0x37, 0x0C, 0x01, 0x01};
    const auto found = std::search(original.begin(), original.end(), usage.begin(), usage.end());
    ASSERT_NE(found, original.end());
    const std::size_t start = static_cast<std::size_t>(found - original.begin()) - 4;
    ASSERT_EQ(original[start], 0x30);
    ASSERT_EQ(original[start + 1], 0x82);
    const std::size_t end =
        start + 4 + (std::size_t{original[start + 2]} << 8 | original[start + 3]);
    ASSERT_LE(end, original.size());

    const TrustStore store(kTestRoot);
    const std::optional<Sha256Digest> memberHash =
        Worker(nullptr).Digests(Path("catalog_member_64.exe")).peSha256;
    ASSERT_TRUE(memberHash);
    const Bytes member(memberHash->begin(), memberHash->end());
    {
        CatalogIndex index;
        AddCatalog(index, u"x.cat", original, store);
        const auto answer = index.Find({}, member);
        ASSERT_TRUE(answer);
        ASSERT_EQ(answer->status, trust_status::kTrusted);
    }
    int unreadable = 0;
    int refused = 0;
    for (std::size_t at = start; at < end; ++at) {
        Bytes changed = original;
        changed[at] ^= 0x04;
        CatalogIndex index;
        AddCatalog(index, u"x.cat", changed, store);
        if (!index.Skipped().empty()) {
            ++unreadable;
        } else if (const auto answer = index.Find({}, member)) {
            // Not found at all when the change hit the member's own hash.
            ++refused;
            ASSERT_EQ(answer->status, trust_status::kBadSignature) << at;
        }
    }
    // Both ways out are taken: the changes reach what they are meant to.
    EXPECT_GT(unreadable, 0);
    EXPECT_GT(refused, 0);
}

// A file this process may not read: run as an unprivileged user (a forked child of the test,
// which runs as root, drops to nobody; root reads any file whatever its mode). The embedded check
// says "access denied", and without the digests the verdict is "Unreadable"; with digests that
// were read (here by the parent) the catalogs are still asked, and their verdict wins.
TEST(HostSignatureEngineTest, AFileThatMayNotBeReadIsUnreadable) {
    const auto catalogs = TestCatalogs();
    ASSERT_EQ(catalogs->Index().CatalogCount(), 6u);  // read now, while they can be
    const testing::TempDir dir;
    std::filesystem::permissions(dir.Path(), std::filesystem::perms(0711));
    const auto locked = dir.Path() / "locked.sys";
    const auto member = dir.Path() / "member.sys";
    std::filesystem::copy_file(kImages + "/signed_64.exe", locked);
    std::filesystem::copy_file(kImages + "/catalog_member_64.exe", member);
    for (const auto& file : {locked, member})
        std::filesystem::permissions(file, std::filesystem::perms(0600));
    const Text lockedPath = Utf8ToText(locked.string());
    const Text memberPath = Utf8ToText(member.string());

    Worker owner(catalogs);
    ExpectTrust(owner.Judge(lockedPath), {"as its owner", V::kEmbedded, kSigner, u""});
    const FileDigests memberDigests = owner.Digests(memberPath);
    const FileDigests lockedDigests = owner.Digests(lockedPath);
    ASSERT_TRUE(memberDigests.peSha1);
    ASSERT_TRUE(lockedDigests.peSha1);

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(out[0]);
        const bool dropped =
            ::geteuid() != 0 || (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 &&
                                 ::setuid(65534) == 0 && ::geteuid() != 0);
        std::string said = "could not drop root";
        if (dropped) {
            Worker stranger(catalogs);
            const FileTrust alone = stranger.Judge(lockedPath);
            const FileTrust listed = JudgeFile(stranger.Engine(), memberPath, memberDigests);
            const FileTrust unlisted = JudgeFile(stranger.Engine(), lockedPath, lockedDigests);
            char status[16];
            std::snprintf(
                status, sizeof status, "%08X",
                static_cast<unsigned>(stranger.Engine().CheckEmbedded(lockedPath).status));
            said = status;
            for (const FileTrust* trust : {&alone, &listed, &unlisted}) {
                said += "|" + TextToUtf8(VerdictText(trust->verdict)) + "," +
                        TextToUtf8(trust->signer) + "," + TextToUtf8(trust->catalog);
            }
            said += "|" + TextToUtf8(DigestText(stranger.Digests(lockedPath).sha256));
        }
        const ssize_t written = ::write(out[1], said.data(), said.size());
        ::_exit(written == static_cast<ssize_t>(said.size()) ? 0 : 1);
    }
    ::close(out[1]);
    std::string heard;
    char buffer[512];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        heard.append(buffer, static_cast<std::size_t>(got));
    ::close(out[0]);
    int wait = 0;
    ASSERT_EQ(::waitpid(child, &wait, 0), child);
    EXPECT_TRUE(WIFEXITED(wait) && WEXITSTATUS(wait) == 0);
    EXPECT_EQ(heard,
              "80070005"                                         // E_ACCESSDENIED
              "|Unreadable,,"                                    // nothing read at all
              "|Catalog,Tolvessa Test Signer,tolvessa_test.cat"  // the catalog wins
              "|Unreadable,,"                                    // read, but no catalog has it
              "|");                                              // the digests read nothing
}

}  // namespace
}  // namespace tolvessa::host

namespace tolvessa::host {
namespace {

// The image files the one pass is checked on: the signed and catalog fixtures, the version
// fixtures and the real Windows samples.
std::vector<std::string> OnePassImages() {
    std::vector<std::string> files;
    for (const std::string& folder :
         {kImages, std::string(TOLVESSA_FIXTURE_DIR), std::string(TOLVESSA_WINDOWS_SAMPLES_DIR)}) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            const std::string extension = entry.path().extension().string();
            if (entry.is_regular_file() &&
                (extension == ".exe" || extension == ".dll" || extension == ".sys"))
                files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The worker's one pass over a file's bytes gives what the steps that open the file by path
// give: the same verdict, signer and catalog, and the same version identity.
TEST(HostOnePassTest, TheBytesOfTheOnePassGiveWhatThePathGives) {
    HostPaths paths;
    PosixFileContent content(paths);
    OpenSslHashApi hashes;
    PeVersionApi versions(paths);
    OpenSslSignatureEngine engine(paths, kTestRoot, TestCatalogs());
    int judged = 0;
    int named = 0;
    for (const std::string& file : OnePassImages()) {
        SCOPED_TRACE(file);
        const Text path = Utf8ToText(file);
        std::optional<FileTrust> fromBytes;
        std::optional<VersionIdentity> identityFromBytes;
        const FileDigests digests =
            ReadFileOnce(content, hashes, path, [&](ByteSource& bytes, const FileDigests& d) {
                fromBytes = JudgeFile(engine, path, d, &bytes);
                identityFromBytes = ReadVersionIdentity(versions, path, &bytes);
            });
        ASSERT_TRUE(fromBytes);
        ASSERT_TRUE(identityFromBytes);
        EXPECT_EQ(*fromBytes, JudgeFile(engine, path, digests));
        EXPECT_EQ(*identityFromBytes, ReadVersionIdentity(versions, path));
        ++judged;
        named += identityFromBytes->fileVersion ? 1 : 0;
    }
    EXPECT_GE(judged, 40);
    EXPECT_GE(named, 4);
}

// The verifier takes the image hash of the one pass where it has one for the signature's
// algorithm, and takes it itself where it has none.
TEST(HostOnePassTest, TheVerifierUsesTheImageHashOfTheOnePass) {
    HostPaths paths;
    PosixFileContent content(paths);
    OpenSslHashApi hashes;
    OpenSslTrustApi trust(paths, kTestRoot);
    struct Signed {
        const char* image;
        bool sha256;  // the signature's digest algorithm: SHA-256, else SHA-1
    };
    for (const Signed c : {Signed{"signed_64.exe", true}, Signed{"signed_sha1_64.exe", false}}) {
        SCOPED_TRACE(c.image);
        const Bytes bytes = ReadAll(kImages + "/" + c.image);
        const FileDigests digests = ComputeFileDigests(content, hashes, Path(c.image));
        ASSERT_TRUE(digests.peSha1 && digests.peSha256);
        MemorySource source(bytes);
        EXPECT_EQ(trust.CheckEmbeddedIn(source, nullptr).status, trust_status::kTrusted);
        EXPECT_EQ(trust.CheckEmbeddedIn(source, &digests).status, trust_status::kTrusted);

        FileDigests wrong256 = digests;
        wrong256.peSha256->front() ^= 1;
        FileDigests wrong1 = digests;
        wrong1.peSha1->front() ^= 1;
        EXPECT_EQ(trust.CheckEmbeddedIn(source, &wrong256).status,
                  c.sha256 ? trust_status::kBadDigest : trust_status::kTrusted);
        EXPECT_EQ(trust.CheckEmbeddedIn(source, &wrong1).status,
                  c.sha256 ? trust_status::kTrusted : trust_status::kBadDigest);

        FileDigests none = digests;
        none.peSha1.reset();
        none.peSha256.reset();
        EXPECT_EQ(trust.CheckEmbeddedIn(source, &none).status, trust_status::kTrusted);
    }
}

}  // namespace
}  // namespace tolvessa::host
