#include "trust/verify_signature.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace tolvessa {
namespace {

struct Shown {
    MessageKind kind;
    Text text;
    bool operator==(const Shown&) const = default;
};

// The command's collaborators as plain answers, with every call recorded.
struct Recorder {
    bool exists = true;
    bool signedFile = true;
    Text name = u"Tolvessa Test Signer";
    std::vector<std::string> calls;
    std::vector<Shown> shown;

    SignatureCommand Command() {
        SignatureCommand c;
        c.fileExists = [this](const Text& p) {
            calls.push_back("exists " + TextToUtf8(p));
            return exists;
        };
        c.isFileSigned = [this](const Text& p) {
            calls.push_back("signed " + TextToUtf8(p));
            return signedFile;
        };
        c.signerName = [this](const Text& p) {
            calls.push_back("name " + TextToUtf8(p));
            return name;
        };
        c.showMessage = [this](MessageKind k, const Text& t) { shown.push_back({k, t}); };
        return c;
    }
};

const Text kPath = u"C:\\Windows\\system32\\drivers\\beep.sys";
const std::string kPath8 = "C:\\Windows\\system32\\drivers\\beep.sys";

TEST(VerifyFileSignatureTest, DoesNothingWithoutASelectedRow) {
    Recorder r;
    VerifyFileSignature(std::nullopt, r.Command());
    EXPECT_TRUE(r.calls.empty());
    EXPECT_TRUE(r.shown.empty());
}

struct OutcomeCase {
    const char* name;
    bool exists;
    bool signedFile;
    Text signer;
    std::vector<std::string> calls;
    Shown shown;
};

// Test names carry the case; the parameter prints as its name too.
void PrintTo(const OutcomeCase& c, std::ostream* os) {
    *os << c.name;
}

class VerifyFileSignatureOutcomeTest : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(VerifyFileSignatureOutcomeTest, ShowsExactlyOneBox) {
    const OutcomeCase& c = GetParam();
    Recorder r;
    r.exists = c.exists;
    r.signedFile = c.signedFile;
    r.name = c.signer;
    VerifyFileSignature(kPath, r.Command());
    EXPECT_EQ(r.calls, c.calls);
    ASSERT_EQ(r.shown.size(), 1u);
    EXPECT_EQ(r.shown[0].kind, c.shown.kind);
    EXPECT_EQ(TextToUtf8(r.shown[0].text), TextToUtf8(c.shown.text));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, VerifyFileSignatureOutcomeTest,
    ::testing::Values(OutcomeCase{"FileGone",
                                  false,
                                  true,
                                  u"x",
                                  {"exists " + kPath8},
                                  {MessageKind::kWarning, u"Cannot find the file on disk."}},
                      OutcomeCase{"NotSigned",
                                  true,
                                  false,
                                  u"x",
                                  {"exists " + kPath8, "signed " + kPath8},
                                  {MessageKind::kInformation, u"File is not digitally signed."}},
                      OutcomeCase{
                          "SignedWithName",
                          true,
                          true,
                          u"Tolvessa Test Signer",
                          {"exists " + kPath8, "signed " + kPath8, "name " + kPath8},
                          {MessageKind::kInformation, u"File is signed by Tolvessa Test Signer"}},
                      OutcomeCase{"SignedWithoutName",
                                  true,
                                  true,
                                  u"",
                                  {"exists " + kPath8, "signed " + kPath8, "name " + kPath8},
                                  {MessageKind::kInformation, u"File is signed by "}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// The platform's pieces behind MakeSignatureCommand: attributes and the verifier's status.
class FixedAttributes : public FileAttributeApi {
  public:
    std::uint32_t value = 0x20;  // an archived file
    Attributes ReadAttributes(const Text&) override { return {value, kErrorFileNotFound}; }
    std::optional<std::uint32_t> FindAttributes(const Text&) override { return std::nullopt; }
    std::uint32_t TryOpenForRead(const Text&) override { return kErrorFileNotFound; }
};

class StatusOnlyTrust : public TrustApi {
  public:
    std::uint32_t status = 0;
    int opens = 0;
    std::uint32_t VerifyTrust(const Text&) override { return status; }
    std::unique_ptr<File> OpenForRead(const Text&) override {
        ++opens;
        return nullptr;
    }
    std::optional<std::uint32_t> EnumerateCertificates(File&) override { return std::nullopt; }
    bool ReadCertificateHeader(File&, std::uint32_t, std::span<std::uint8_t>) override {
        return false;
    }
    bool ReadCertificateData(File&, std::uint32_t, std::span<std::uint8_t>) override {
        return false;
    }
    std::unique_ptr<Certificate> VerifyMessageSignature(std::span<const std::uint8_t>) override {
        return nullptr;
    }
    std::uint32_t SimpleDisplayName(Certificate&, std::span<char16_t>) override { return 0; }
};

TEST(MakeSignatureCommandTest, JoinsTheFileQueryTheVerifierAndTheSignerName) {
    struct Case {
        std::uint32_t attributes;
        std::uint32_t status;
        Shown shown;
        int opens;  // GetSignerName runs only for a signed file
    };
    const Case cases[] = {
        {FileAttributeApi::kInvalidAttributes,
         0,
         {MessageKind::kWarning, Text(kFileNotFoundText)},
         0},
        {FileAttributeApi::kDirectory, 0, {MessageKind::kWarning, Text(kFileNotFoundText)}, 0},
        {0x20, trust_status::kBadDigest, {MessageKind::kInformation, Text(kNotSignedText)}, 0},
        {0x20, 0, {MessageKind::kInformation, Text(kSignedByText)}, 1},
    };
    for (const Case& c : cases) {
        FixedAttributes files;
        files.value = c.attributes;
        StatusOnlyTrust trust;
        trust.status = c.status;
        std::vector<Shown> shown;
        VerifyFileSignature(kPath,
                            MakeSignatureCommand(files, trust, [&](MessageKind k, const Text& t) {
                                shown.push_back({k, t});
                            }));
        EXPECT_EQ(shown, std::vector<Shown>{c.shown}) << c.attributes << " " << c.status;
        EXPECT_EQ(trust.opens, c.opens);
    }
}

}  // namespace
}  // namespace tolvessa
