// Timestamps on the host engine: real Windows files whose signers and time-stamping authorities
// have all expired (the samples folder beside the checkout, with Microsoft's code roots), and the
// timestamp fixtures of tests/fixtures/trust/make_signed_images.py, whose certificates were valid
// in the past (with their past root).
#include "platform/host/openssl_timestamp.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/host/file_content.h"
#include "platform/host/openssl_hash.h"
#include "platform/host/openssl_signature_engine.h"
#include "temp_dir.h"
#include "trust/certificate_table.h"
#include "trust/file_trust.h"

namespace tolvessa::host {
namespace {

using V = SignatureVerdict;
using Bytes = std::vector<std::uint8_t>;

const std::string kSamples = TOLVESSA_WINDOWS_SAMPLES_DIR;
const std::string kMicrosoftRoots = kSamples + "/microsoft-code-roots.pem";
const std::string kImages = TOLVESSA_TRUST_FIXTURE_DIR;
const std::string kTestRoot = kImages + "/test_root.pem";
const std::string kPastRoot = kImages + "/past_root.pem";

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The signed message of the first entry of an image's certificate table; empty when it has none.
Bytes EmbeddedMessage(const Bytes& image) {
    MemorySource source(image);
    const std::optional<PeCertificateLayout> layout = ReadCertificateLayout(source);
    if (!layout)
        return {};
    const auto entries = ReadCertificateEntries(source, *layout);
    if (!entries || entries->empty())
        return {};
    const CertificateEntry& entry = entries->front();
    const auto begin = image.begin() + static_cast<std::ptrdiff_t>(entry.offset) + 8;
    return Bytes(begin, begin + (entry.length - 8));
}

// A time as "YYYY-MM-DD hh:mm:ss" UTC, or "none".
std::string TimeText(std::optional<std::time_t> time) {
    if (!time)
        return "none";
    std::tm parts{};
    gmtime_r(&*time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::string ProvenTime(const Bytes& message, const std::string& roots) {
    const std::optional<SignedMessage> decoded = DecodeSignedMessage(message);
    if (!decoded)
        return "no message";
    return TimeText(TimestampTime(*decoded, TrustStore(roots)));
}

// The digests step and the verdict, as a worker runs them on one file.
class Worker {
  public:
    Worker(const std::string& roots, std::shared_ptr<const HostCatalogs> catalogs)
        : engine_(paths_, roots, std::move(catalogs)), caBundle_(roots) {}

    FileTrust Judge(const std::string& path) {
        const Text file = Utf8ToText(path);
        return JudgeFile(engine_, file, ComputeFileDigests(content_, hashes_, file));
    }
    SignatureCheck Embedded(const std::string& path) {
        return OpenSslTrustApi(paths_, caBundle_).CheckEmbedded(Utf8ToText(path));
    }

  private:
    HostPaths paths_;
    PosixFileContent content_{paths_};
    OpenSslHashApi hashes_;
    OpenSslSignatureEngine engine_;
    std::string caBundle_;
};

class WindowsSamplesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(kMicrosoftRoots))
            GTEST_SKIP() << "no Windows samples at " << kSamples;
    }
};

// The time of each timestamp, as the token or countersignature states it: an RFC 3161 token in
// the catalog (with an attribute certificate beside the authority's) and in the DLL, a PKCS #9
// countersignature of 2009 in the driver. Every authority's certificate has expired since.
TEST_F(WindowsSamplesTest, TheirTimestampsProveTheirTimes) {
    EXPECT_EQ(ProvenTime(ReadAll(kSamples + "/win11-24h2-package.cat"), kMicrosoftRoots),
              "2025-08-09 21:02:23");
    EXPECT_EQ(ProvenTime(EmbeddedMessage(ReadAll(kSamples + "/win11-DXCore.dll")), kMicrosoftRoots),
              "2025-07-15 23:47:21");
    EXPECT_EQ(
        ProvenTime(EmbeddedMessage(ReadAll(kSamples + "/win7-x64-pciide.sys")), kMicrosoftRoots),
        "2009-07-14 01:45:55");
    // An authority the store does not trust proves nothing.
    EXPECT_EQ(ProvenTime(EmbeddedMessage(ReadAll(kSamples + "/win11-DXCore.dll")), kTestRoot),
              "none");
}

TEST_F(WindowsSamplesTest, AreTrustedAsWindowsTrustsThem) {
    const testing::TempDir dir;
    // DXCore.dll without its signature: no certificate table, the same image hash, so only its
    // catalog speaks for it.
    Bytes image = ReadAll(kSamples + "/win11-DXCore.dll");
    MemorySource source(image);
    const std::optional<PeCertificateLayout> layout = ReadCertificateLayout(source);
    ASSERT_TRUE(layout && layout->tableSize > 0);
    image.resize(layout->tableOffset);
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(layout->directoryOffset), 8, 0);
    const std::string stripped = (dir.Path() / "DXCore.dll").string();
    std::ofstream(stripped, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));

    Worker worker(kMicrosoftRoots, std::make_shared<const HostCatalogs>(kSamples, kMicrosoftRoots));
    struct Case {
        std::string path;
        V verdict;
        const char* catalog;
    };
    for (const Case& c : {Case{kSamples + "/win11-DXCore.dll", V::kEmbedded, ""},
                          Case{kSamples + "/win7-x64-pciide.sys", V::kEmbedded, ""},
                          Case{stripped, V::kCatalog, "win11-24h2-package.cat"}}) {
        SCOPED_TRACE(c.path);
        const FileTrust trust = worker.Judge(c.path);
        EXPECT_EQ(TextToUtf8(VerdictText(trust.verdict)), TextToUtf8(VerdictText(c.verdict)));
        EXPECT_EQ(TextToUtf8(trust.signer), "Microsoft Windows");
        EXPECT_EQ(TextToUtf8(trust.catalog), c.catalog);
    }
}

// The timestamp fixtures. The past signer was valid in 2020; the authority from 2019 to 2022.
struct FixtureCase {
    const char* image;
    const char* proven;    // the time the timestamp proves
    std::uint32_t status;  // of the embedded check
};

const FixtureCase kFixtureCases[] = {
    {"ts_valid_64.exe", "2020-06-01 12:00:00", trust_status::kTrusted},
    // A valid timestamp of a time the signer was no longer valid.
    {"ts_outside_64.exe", "2022-06-01 12:00:00", trust_status::kExpired},
    // The authority's chain ends at a root the store does not trust: judged now.
    {"ts_stray_tsa_64.exe", "none", trust_status::kExpired},
    // The token's signature no longer verifies: passed over, as if there were none.
    {"ts_changed_64.exe", "none", trust_status::kExpired},
    // A valid token, for another signature.
    {"ts_foreign_64.exe", "none", trust_status::kExpired},
    {"ts_none_64.exe", "none", trust_status::kExpired},
    // A lifetime signer's signature ends with its certificate, timestamp or not.
    {"ts_lifetime_64.exe", "2020-06-01 12:00:00", trust_status::kExpired},
};

TEST(TimestampFixturesTest, JudgeTheSignerAtTheTimeTheTimestampProves) {
    Worker worker(kPastRoot, nullptr);
    for (const FixtureCase& c : kFixtureCases) {
        SCOPED_TRACE(c.image);
        const std::string path = kImages + "/" + c.image;
        EXPECT_EQ(ProvenTime(EmbeddedMessage(ReadAll(path)), kPastRoot), c.proven);
        const SignatureCheck check = worker.Embedded(path);
        EXPECT_EQ(check.status, c.status);
        EXPECT_EQ(TextToUtf8(check.signer), "Tolvessa Past Signer");
        EXPECT_EQ(worker.Judge(path).verdict,
                  c.status == trust_status::kTrusted ? V::kEmbedded : V::kUntrusted);
    }
}

TEST(TimestampFixturesTest, JudgeACatalogsSignerAtTheTimeItsTimestampProves) {
    const TrustStore store(kPastRoot);
    for (const auto& [name, status] : {std::pair{"ts_valid.cat", trust_status::kTrusted},
                                       std::pair{"ts_none.cat", trust_status::kExpired}}) {
        SCOPED_TRACE(name);
        CatalogIndex index;
        AddCatalog(index, Utf8ToText(name), ReadAll(kImages + "/" + name), store);
        ASSERT_EQ(index.CatalogCount(), 1u);
        // The one member of both: a SHA-256 image hash of zeros.
        const std::optional<SignatureEngine::Answer> answer = index.Find({}, Bytes(32, 0));
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, status);
    }
}

}  // namespace
}  // namespace tolvessa::host
