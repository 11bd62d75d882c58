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

// Timestamp attributes that are not what they claim, on the signature of ts_valid_64.exe: each
// proves nothing, and is read without reading past what it holds.
TEST(TimestampFixturesTest, AttributesThatAreNoTimestampProveNothing) {
    const Bytes message = EmbeddedMessage(ReadAll(kImages + "/ts_valid_64.exe"));
    const TrustStore store(kPastRoot);
    ASSERT_EQ(ProvenTime(message, kPastRoot), "2020-06-01 12:00:00");

    // A countersignature naming the message's own signer, whose messageDigest attribute is of
    // type `digestType`; its DER.
    const auto countersignature = [](const SignedMessage& signedMessage, int digestType) {
        PKCS7_SIGNER_INFO* outer =
            sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(signedMessage.pkcs7.get()), 0);
        const std::unique_ptr<PKCS7_SIGNER_INFO, OpenSslFree<PKCS7_SIGNER_INFO_free>> counter(
            PKCS7_SIGNER_INFO_new());
        X509_NAME_set(&counter->issuer_and_serial->issuer, outer->issuer_and_serial->issuer);
        ASN1_INTEGER_free(counter->issuer_and_serial->serial);
        counter->issuer_and_serial->serial = ASN1_INTEGER_dup(outer->issuer_and_serial->serial);
        X509_ALGOR_set0(counter->digest_alg, OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
        X509_ALGOR_set0(counter->digest_enc_alg, OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL,
                        nullptr);
        ASN1_OCTET_STRING_set(counter->enc_digest, reinterpret_cast<const unsigned char*>("sig"),
                              3);
        ASN1_STRING* digest = ASN1_STRING_type_new(digestType);
        ASN1_STRING_set(digest, "\x01\x02", 2);
        if (digestType == V_ASN1_BOOLEAN)
            PKCS7_add_signed_attribute(counter.get(), NID_pkcs9_messageDigest, V_ASN1_BOOLEAN,
                                       reinterpret_cast<void*>(1));
        else
            PKCS7_add_signed_attribute(counter.get(), NID_pkcs9_messageDigest, digestType, digest);
        if (digestType == V_ASN1_BOOLEAN)
            ASN1_STRING_free(digest);
        unsigned char* der = nullptr;
        const int length = i2d_PKCS7_SIGNER_INFO(counter.get(), &der);
        Bytes bytes(der, der + std::max(length, 0));
        OPENSSL_free(der);
        EXPECT_GT(length, 0);
        return bytes;
    };

    // Replaces signer 0's unauthenticated attributes with one attribute `nid` (or the RFC 3161
    // token's when 0) holding `value` of ASN.1 type `type` (a SEQUENCE given by its DER).
    const auto withAttribute = [&](int nid, int type, const Bytes& value) {
        std::optional<SignedMessage> decoded = DecodeSignedMessage(message);
        PKCS7_SIGNER_INFO* outer =
            sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(decoded->pkcs7.get()), 0);
        sk_X509_ATTRIBUTE_pop_free(outer->unauth_attr, X509_ATTRIBUTE_free);
        outer->unauth_attr = nullptr;
        ASN1_STRING* string =
            ASN1_STRING_type_new(type == V_ASN1_SEQUENCE ? V_ASN1_SEQUENCE : V_ASN1_OCTET_STRING);
        ASN1_STRING_set(string, value.data(), static_cast<int>(value.size()));
        const ObjectPtr token(OBJ_txt2obj("1.3.6.1.4.1.311.3.3.1", 1));
        X509_ATTRIBUTE* attribute = X509_ATTRIBUTE_create_by_OBJ(
            nullptr, nid ? OBJ_nid2obj(nid) : token.get(), type, string, -1);
        ASN1_STRING_free(string);
        sk_X509_ATTRIBUTE_push(outer->unauth_attr = sk_X509_ATTRIBUTE_new_null(), attribute);
        return TimeText(TimestampTime(*decoded, store));
    };

    const std::optional<SignedMessage> decoded = DecodeSignedMessage(message);
    ASSERT_TRUE(decoded);
    const Bytes garbage = {0x30, 0x03, 0x02, 0x01, 0x05};  // SEQUENCE { INTEGER 5 }
    EXPECT_EQ(withAttribute(0, V_ASN1_OCTET_STRING, {0x01, 0x02}), "none");
    EXPECT_EQ(withAttribute(0, V_ASN1_SEQUENCE, garbage), "none");
    EXPECT_EQ(withAttribute(NID_pkcs9_countersignature, V_ASN1_OCTET_STRING, {0x01}), "none");
    EXPECT_EQ(withAttribute(NID_pkcs9_countersignature, V_ASN1_SEQUENCE, garbage), "none");
    // A messageDigest that is no OCTET STRING is no digest to compare.
    for (const int type : {V_ASN1_BOOLEAN, V_ASN1_INTEGER, V_ASN1_OCTET_STRING}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(withAttribute(NID_pkcs9_countersignature, V_ASN1_SEQUENCE,
                                countersignature(*decoded, type)),
                  "none");
    }
}

}  // namespace
}  // namespace tolvessa::host
