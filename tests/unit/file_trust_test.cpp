#include "trust/file_trust.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tolvessa {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A PE32 image of headers and 0x80 bytes of body, then a certificate table whose entry 0 carries
// `message` (the table holds `entries` copies of it).
Bytes SignedImage(const Bytes& message, int entries = 1) {
    constexpr std::uint32_t pe = 0x40, optional = pe + 24, directory = optional + 96 + 32;
    Bytes b(optional + 224 + 0x80, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Write32(b, 0x3C, pe);
    b[pe] = 'P';
    b[pe + 1] = 'E';
    Write16(b, pe + 4 + 16, 224);
    Write16(b, optional, 0x10B);
    Write32(b, optional + 92, 16);
    const std::uint32_t table = static_cast<std::uint32_t>(b.size());
    for (int i = 0; i < entries; ++i) {
        const std::size_t at = b.size();
        b.resize(at + 8);
        Write32(b, at, static_cast<std::uint32_t>(8 + message.size()));
        Write16(b, at + 4, kCertificateRevision2);
        Write16(b, at + 6, kCertificateTypePkcsSignedData);
        b.insert(b.end(), message.begin(), message.end());
        while (b.size() % 8)
            b.push_back(0);
    }
    Write32(b, directory, table);
    Write32(b, directory + 4, static_cast<std::uint32_t>(b.size() - table));
    return b;
}

// The platform calls over an image in memory. Each call is logged; each one can be made to
// fail, and the rest behave as the platform does.
class FakeTrustApi : public TrustApi {
  public:
    Bytes image;
    std::vector<std::string> log;
    bool openFails = false;
    bool enumerateFails = false;
    std::optional<std::uint32_t> countOverride;
    bool headerFails = false;
    std::optional<std::uint32_t> lengthOverride;  // dwLength that the header call reports
    bool dataFails = false;
    bool dataThrows = false;
    bool verifyFails = false;
    Text name = u"Corvane Signer";
    std::optional<std::uint32_t> nameLengthOverride;  // what the first name call returns

    // What the calls were given.
    Bytes headerBufferGiven;
    std::size_t dataBufferSize = 0;
    std::uint32_t dataLengthFieldGiven = 0;
    Bytes messageGiven;
    std::vector<std::size_t> nameSizesGiven;

    class FakeFile : public File {
      public:
        FakeFile(const Bytes& bytes, std::vector<std::string>& log) : bytes_(bytes), log_(log) {}
        ~FakeFile() override { log_.push_back("close"); }
        std::uint64_t Size() override { return bytes_.Size(); }
        bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
            return bytes_.ReadAt(offset, buffer);
        }

      private:
        MemorySource bytes_;
        std::vector<std::string>& log_;
    };

    class FakeCertificate : public Certificate {
      public:
        explicit FakeCertificate(std::vector<std::string>& log) : log_(log) {}
        ~FakeCertificate() override { log_.push_back("free"); }

      private:
        std::vector<std::string>& log_;
    };

    std::uint32_t VerifyTrust(const Text&) override { return 0; }

    std::unique_ptr<File> OpenForRead(const Text& path) override {
        log.push_back("open " + TextToUtf8(path));
        if (openFails)
            return nullptr;
        return std::make_unique<FakeFile>(image, log);
    }

    std::optional<std::uint32_t> EnumerateCertificates(File&) override {
        log.push_back("enumerate");
        if (enumerateFails)
            return std::nullopt;
        return countOverride.value_or(1);
    }

    bool ReadCertificateHeader(File& file, std::uint32_t index,
                               std::span<std::uint8_t> buffer) override {
        log.push_back("header " + std::to_string(index));
        headerBufferGiven.assign(buffer.begin(), buffer.end());
        if (headerFails)
            return false;
        if (!file.ReadAt(TableOffset(), buffer.first(8)))
            return false;
        if (lengthOverride)
            Write32(buffer, 0, *lengthOverride);
        return true;
    }

    bool ReadCertificateData(File& file, std::uint32_t index,
                             std::span<std::uint8_t> buffer) override {
        log.push_back("data " + std::to_string(index));
        if (dataThrows)
            throw std::bad_alloc();
        dataBufferSize = buffer.size();
        dataLengthFieldGiven = Read32(buffer, 0);
        if (dataFails)
            return false;
        const std::uint32_t length = Read32(image, TableOffset());
        if (dataLengthFieldGiven < length || buffer.size() < length)
            return false;
        return file.ReadAt(TableOffset(), buffer.first(length));
    }

    std::unique_ptr<Certificate> VerifyMessageSignature(
        std::span<const std::uint8_t> message) override {
        log.push_back("verify");
        messageGiven.assign(message.begin(), message.end());
        if (verifyFails)
            return nullptr;
        return std::make_unique<FakeCertificate>(log);
    }

    std::uint32_t SimpleDisplayName(Certificate&, std::span<char16_t> buffer) override {
        log.push_back("name " + std::to_string(buffer.size()));
        nameSizesGiven.push_back(buffer.size());
        if (buffer.empty() && nameLengthOverride)
            return *nameLengthOverride;
        const std::size_t copied = buffer.empty() ? 0 : std::min(name.size(), buffer.size() - 1);
        for (std::size_t i = 0; i < copied; ++i)
            buffer[i] = name[i];
        if (!buffer.empty())
            buffer[copied] = u'\0';
        return static_cast<std::uint32_t>(name.size() + 1);
    }

  private:
    std::uint32_t TableOffset() const { return Read32(image, 0x40 + 24 + 96 + 32); }
};

const Bytes kMessage = {0x30, 0x82, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};

TEST(GetSignerNameTest, PassesTheCallsWhatThePlatformExpectsAndReleasesInOrder) {
    FakeTrustApi api;
    api.image = SignedImage(kMessage);

    EXPECT_EQ(GetSignerName(api, u"C:\\drivers\\a.sys"), u"Corvane Signer");

    const std::vector<std::string> expected = {"open C:\\drivers\\a.sys",
                                               "enumerate",
                                               "header 0",
                                               "data 0",
                                               "verify",
                                               "name 0",
                                               "name 15",
                                               "free",
                                               "close"};
    EXPECT_EQ(api.log, expected);
    // The 15-byte header buffer comes with dwLength 0 and revision 1.0.
    EXPECT_EQ(api.headerBufferGiven, (Bytes{0, 0, 0, 0, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // The grown buffer: dwLength + 12 bytes, its length field holding dwLength.
    const std::uint32_t length = static_cast<std::uint32_t>(8 + kMessage.size());
    EXPECT_EQ(api.dataBufferSize, length + 12);
    EXPECT_EQ(api.dataLengthFieldGiven, length);
    // The message is exactly the bCertificate bytes.
    EXPECT_EQ(api.messageGiven, kMessage);
}

struct FailureCase {
    const char* name;
    std::function<void(FakeTrustApi&)> arrange;
    std::vector<std::string> log;  // after "open"
};

// Test names carry the case; the parameter prints as its name too.
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class GetSignerNameFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(GetSignerNameFailureTest, GivesTheEmptyNameAndReleasesWhatWasTaken) {
    const FailureCase& c = GetParam();
    FakeTrustApi api;
    api.image = SignedImage(kMessage);
    c.arrange(api);

    EXPECT_EQ(GetSignerName(api, u"f"), u"");

    std::vector<std::string> expected = {"open f"};
    expected.insert(expected.end(), c.log.begin(), c.log.end());
    EXPECT_EQ(api.log, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, GetSignerNameFailureTest,
    ::testing::Values(
        FailureCase{"OpenFails", [](FakeTrustApi& a) { a.openFails = true; }, {}},
        FailureCase{"EnumerationFails",
                    [](FakeTrustApi& a) { a.enumerateFails = true; },
                    {"enumerate", "close"}},
        FailureCase{
            "NoEntry", [](FakeTrustApi& a) { a.countOverride = 0; }, {"enumerate", "close"}},
        FailureCase{
            "TwoEntries", [](FakeTrustApi& a) { a.countOverride = 2; }, {"enumerate", "close"}},
        FailureCase{"HeaderFails",
                    [](FakeTrustApi& a) { a.headerFails = true; },
                    {"enumerate", "header 0", "close"}},
        FailureCase{"LengthShorterThanHeader",
                    [](FakeTrustApi& a) { a.lengthOverride = 7; },
                    {"enumerate", "header 0", "close"}},
        FailureCase{"LengthZero",
                    [](FakeTrustApi& a) { a.lengthOverride = 0; },
                    {"enumerate", "header 0", "close"}},
        FailureCase{"LengthOneBytePastTheFile",
                    [](FakeTrustApi& a) {
                        // The entry ends where the file ends; one byte more reaches past it.
                        a.lengthOverride = static_cast<std::uint32_t>(
                            a.image.size() - Read32(a.image, 0x40 + 24 + 96 + 32) + 1);
                    },
                    {"enumerate", "header 0", "close"}},
        FailureCase{"LengthNearFourGigabytes",
                    [](FakeTrustApi& a) { a.lengthOverride = 0xFFFFFFF8u; },
                    {"enumerate", "header 0", "close"}},
        FailureCase{"DataFails",
                    [](FakeTrustApi& a) { a.dataFails = true; },
                    {"enumerate", "header 0", "data 0", "close"}},
        FailureCase{"DataRaises",
                    [](FakeTrustApi& a) { a.dataThrows = true; },
                    {"enumerate", "header 0", "data 0", "close"}},
        FailureCase{"SignatureDoesNotVerify",
                    [](FakeTrustApi& a) { a.verifyFails = true; },
                    {"enumerate", "header 0", "data 0", "verify", "close"}},
        // An empty name: only the length is asked for.
        FailureCase{"EmptyName",
                    [](FakeTrustApi& a) { a.name.clear(); },
                    {"enumerate", "header 0", "data 0", "verify", "name 0", "free", "close"}},
        FailureCase{"NameLengthZero",
                    [](FakeTrustApi& a) { a.nameLengthOverride = 0; },
                    {"enumerate", "header 0", "data 0", "verify", "name 0", "free", "close"}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(GetSignerNameTest, AcceptsAnEntryThatEndsExactlyAtTheEndOfTheFile) {
    FakeTrustApi api;
    api.image = SignedImage(Bytes(16, 0x5A));  // 24 bytes: the table ends at the file's end
    ASSERT_EQ(api.image.size() % 8, 0u);
    EXPECT_EQ(GetSignerName(api, u"f"), u"Corvane Signer");
    EXPECT_EQ(api.messageGiven, Bytes(16, 0x5A));
}

TEST(GetSignerNameTest, KeepsTheNameWrittenWithoutItsTerminator) {
    FakeTrustApi api;
    api.image = SignedImage(kMessage);
    api.name = u"\u00c9diteur \u00e9tabli";
    EXPECT_EQ(GetSignerName(api, u"f"), u"\u00c9diteur \u00e9tabli");
    EXPECT_EQ(api.nameSizesGiven, (std::vector<std::size_t>{0, api.name.size() + 1}));
}

TEST(IsFileSignedTest, TrueOnlyWhenTheVerifierReturnsZero) {
    struct Verdict : FakeTrustApi {
        std::uint32_t status = 0;
        std::uint32_t VerifyTrust(const Text&) override { return status; }
    };
    for (const std::uint32_t status :
         {trust_status::kTrusted, trust_status::kNoSignature, trust_status::kBadDigest,
          trust_status::kUntrustedRoot, std::uint32_t{1}}) {
        Verdict api;
        api.status = status;
        EXPECT_EQ(IsFileSigned(api, u"f"), status == 0) << std::hex << status;
    }
}

}  // namespace
}  // namespace tolvessa
