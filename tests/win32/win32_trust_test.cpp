// The signature check through the real Win32 calls (under Wine here), on the same signed images
// as the host verifier's tests (see tests/fixtures/trust/make_signed_images.py).
#include <windows.h>
// After windows.h:
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "commands/file_commands.h"
#include "platform/win32/win32_file_commands.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_inventory.h"
#include "platform/win32/win32_trust_api.h"

namespace tolvessa::win32 {
namespace {

namespace status = trust_status;

// The images' folder as Windows sees it: Z: is the host's root.
Text ImagePath(const std::string& name) {
    Text path = u"Z:" + Utf8ToText(std::string(TOLVESSA_TRUST_FIXTURE_DIR) + "/" + name);
    for (char16_t& c : path) {
        if (c == u'/')
            c = u'\\';
    }
    return path;
}

std::string ReadAll(const Text& path) {
    ScopedHandle h = OwnHandle(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    std::string out(1 << 16, '\0');
    DWORD got = 0;
    if (!h || !::ReadFile(h.get(), out.data(), static_cast<DWORD>(out.size()), &got, nullptr))
        return {};
    out.resize(got);
    return out;
}

struct ImageCase {
    const char* image;  // without the _32/_64 suffix
    // The verdict, where Windows semantics fix it; nothing where Wine is laxer than Windows
    // (Wine accepts any root and any key usage).
    std::optional<std::uint32_t> status;
    const char16_t* signer;
    const char16_t* box;  // nullptr: depends on the verdict
};

// Test names carry the case; the parameter prints as its name too.
void PrintTo(const ImageCase& c, std::ostream* os) {
    *os << c.image;
}

// "Verify File Signature" on one listed file (or none): the boxes it shows are recorded.
class BoxRecorder : public CommandUi, public CommandList {
  public:
    explicit BoxRecorder(std::optional<Text> path) : path_(std::move(path)) {}
    std::vector<std::pair<MessageKind, Text>> shown;

    void ShowMessage(MessageKind kind, const Text& text) override {
        shown.emplace_back(kind, text);
    }
    bool AskYesNo(const Text&) override { return false; }
    std::optional<Text> BrowseForFolder(const Text&) override { return std::nullopt; }
    bool ShowPropertySheet(const Text&) override { return false; }
    void ShellOpen(const Text&, const Text&) override {}
    void PumpMessages() override {}

    std::optional<Text> SelectedCell(DriverColumn) override { return path_; }
    std::size_t RowCount() override { return path_ ? 1 : 0; }
    std::optional<Text> Cell(std::size_t, DriverColumn) override { return path_; }

  private:
    std::optional<Text> path_;
};

// The command over this system's verifier and files, on `path`: what it showed.
std::vector<std::pair<MessageKind, Text>> VerifyBoxes(const Text& path) {
    BoxRecorder boxes(path);
    Win32CommandFiles files;
    Win32TrustApi trust;
    FileCommands({boxes, files, trust}, boxes).VerifyFileSignature1Click();
    return boxes.shown;
}

class Win32SignedImageTest : public ::testing::TestWithParam<ImageCase> {};

// The same table as the host's, verdict for verdict and name for name.
TEST_P(Win32SignedImageTest, GivesTheVerdictNameAndBoxOfTheCase) {
    const ImageCase& c = GetParam();
    Win32TrustApi api;
    for (const char* bits : {"_32.exe", "_64.exe"}) {
        const Text path = ImagePath(std::string(c.image) + bits);
        SCOPED_TRACE(TextToUtf8(path));
        const std::uint32_t verdict = api.VerifyTrust(path);
        if (c.status) {
            EXPECT_EQ(verdict, *c.status) << std::hex << verdict;
        }
        EXPECT_EQ(IsFileSigned(api, path), verdict == 0);
        EXPECT_EQ(TextToUtf8(GetSignerName(api, path)), TextToUtf8(c.signer));

        const auto shown = VerifyBoxes(path);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].first, MessageKind::kInformation);
        const Text box = c.box          ? Text(c.box)
                         : verdict == 0 ? Text(kSignedByText) + c.signer
                                        : Text(kNotSignedText);
        EXPECT_EQ(TextToUtf8(shown[0].second), TextToUtf8(box));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, Win32SignedImageTest,
    ::testing::Values(
        ImageCase{"unsigned", status::kNoSignature, u"", u"File is not digitally signed."},
        ImageCase{"signed", status::kTrusted, u"Tolvessa Test Signer",
                  u"File is signed by Tolvessa Test Signer"},
        ImageCase{"signed_sha1", status::kTrusted, u"Tolvessa Test Signer",
                  u"File is signed by Tolvessa Test Signer"},
        ImageCase{"tampered", status::kBadDigest, u"Tolvessa Test Signer",
                  u"File is not digitally signed."},
        ImageCase{"no_cn", status::kTrusted, u"Corvane Test Organisation",
                  u"File is signed by Corvane Test Organisation"},
        ImageCase{"two_entries", status::kTrusted, u"", u"File is signed by "},
        ImageCase{"short_length", status::kNoSignature, u"", u"File is not digitally signed."},
        ImageCase{"past_end", status::kNoSignature, u"", u"File is not digitally signed."},
        ImageCase{"untrusted", std::nullopt, u"Tolvessa Stray Signer", nullptr},
        ImageCase{"server_usage", std::nullopt, u"Tolvessa Server Only", nullptr}),
    [](const auto& testCase) { return std::string(testCase.param.image); });

TEST(Win32TrustTest, AFileThatIsGoneGivesTheWarningAndNoName) {
    const Text gone = ImagePath("no_such_image.exe");
    const auto shown = VerifyBoxes(gone);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, MessageKind::kWarning);
    EXPECT_EQ(TextToUtf8(shown[0].second), "Cannot find the file on disk.");
    Win32TrustApi api;
    EXPECT_FALSE(IsFileSigned(api, gone));
    EXPECT_EQ(GetSignerName(api, gone), u"");
}

// A 32-bit process sees the drivers in the real System32 (Wine's are not signed).
TEST(Win32TrustTest, SeesTheRealSystem32) {
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    const Text driver = FromWide(system) + u"\\drivers\\mountmgr.sys";
    Win32TrustApi api;
    EXPECT_EQ(api.VerifyTrust(driver), status::kNoSignature) << std::hex << api.VerifyTrust(driver);
    const auto file = api.OpenForRead(driver);
    ASSERT_TRUE(file);
    EXPECT_EQ(api.EnumerateCertificates(*file), 0u);
}

// The imagehlp calls behind the signer's name run on the digest workers while "Verify File
// Signature" runs on the window's thread: many threads at once over the signed images, each
// answer checked, together with the window's command on the main thread. The calls share one
// lock; Wine's imagehlp keeps no state of its own between calls, so this is a check that every
// answer stays right under load, not a reproduction of a race.
TEST(Win32TrustTest, SignerNamesFromManyThreadsAtOnceAreEachRight) {
    const std::pair<const char*, const char16_t*> images[] = {
        {"signed_64.exe", u"Tolvessa Test Signer"},
        {"signed_sha1_32.exe", u"Tolvessa Test Signer"},
        {"tampered_64.exe", u"Tolvessa Test Signer"},
        {"no_cn_32.exe", u"Corvane Test Organisation"},
        {"untrusted_64.exe", u"Tolvessa Stray Signer"},
        {"unsigned_32.exe", u""},
        {"two_entries_64.exe", u""},
        {"past_end_32.exe", u""},
    };
    constexpr int kThreads = 8;
    constexpr int kRounds = 25;
    std::atomic<int> wrong = 0;
    std::atomic<int> asked = 0;
    std::atomic<bool> go = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            Win32TrustApi api;
            for (int round = 0; round < kRounds; ++round) {
                // Each thread starts at another image, so different files are read at once.
                const auto& [image, signer] = images[(t + round) % std::size(images)];
                if (GetSignerName(api, ImagePath(image)) != signer)
                    ++wrong;
                ++asked;
            }
        });
    }
    go = true;
    // The window's thread meanwhile: the command's box for a signed and an unsigned file.
    int boxes = 0;
    while (asked.load() < kThreads * kRounds) {
        const bool signedOne = boxes % 2 == 0;
        const auto shown = VerifyBoxes(ImagePath(signedOne ? "signed_32.exe" : "unsigned_64.exe"));
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(TextToUtf8(shown[0].second), signedOne ? "File is signed by Tolvessa Test Signer"
                                                         : "File is not digitally signed.");
        ++boxes;
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0) << "of " << kThreads * kRounds;
    EXPECT_GT(boxes, 0);
}

// The platform's CertGetNameStringW on the certificates the host's name rules are tested on:
// the same names come out.
TEST(Win32TrustTest, ThePlatformNamesTheCertificatesAsTheHostRulesDo) {
    const std::pair<const char*, const char16_t*> cases[] = {
        {"cn", u"Corvane Common"},
        {"ou_over_o", u"Corvane Unit"},
        {"email", u"someone@corvane.example"},
        {"san_email", u"alt@corvane.example"},
        {"san_dns", u"host.corvane.example"},
        {"san_uri_first", u"http://corvane.example/x"},
        {"two_cn", u"First Name"},
        {"utf8", u"Zo\u00eb \u00dcn\u00efcode"},
        {"no_name", u""},
    };
    for (const auto& [name, expected] : cases) {
        const std::string der = ReadAll(ImagePath(std::string("name_") + name + ".der"));
        ASSERT_FALSE(der.empty()) << name;
        const std::unique_ptr<const CERT_CONTEXT, decltype(&::CertFreeCertificateContext)>
            certificate(::CertCreateCertificateContext(X509_ASN_ENCODING,
                                                       reinterpret_cast<const BYTE*>(der.data()),
                                                       static_cast<DWORD>(der.size())),
                        &::CertFreeCertificateContext);
        ASSERT_NE(certificate, nullptr) << name;
        wchar_t text[256] = {};
        const DWORD length = ::CertGetNameStringW(certificate.get(), CERT_NAME_SIMPLE_DISPLAY_TYPE,
                                                  0, nullptr, text, 256);
        EXPECT_EQ(length, std::char_traits<char16_t>::length(expected) + 1) << name;
        EXPECT_EQ(TextToUtf8(FromWide(text)), TextToUtf8(expected)) << name;
    }
}

}  // namespace
}  // namespace tolvessa::win32
