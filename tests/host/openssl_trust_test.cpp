// The OpenSSL verifier and signer name on the signed images made at test time (see
// tests/fixtures/trust/make_signed_images.py), with the test root as the trust store.
#include "platform/host/openssl_trust.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "commands/file_commands.h"
#include "platform/host/posix_file_attributes.h"
#include "platform/host/posix_file_commands.h"
#include "temp_dir.h"

namespace tolvessa::host {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace status = trust_status;

const std::string kImages = TOLVESSA_TRUST_FIXTURE_DIR;
const std::string kTestRoot = kImages + "/test_root.pem";

Text Path(const std::string& name) {
    return Utf8ToText(kImages + "/" + name);
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

struct ImageCase {
    const char* image;  // without the _32/_64 suffix
    std::uint32_t status;
    const char16_t* signer;
    const char16_t* box;  // what "Verify File Signature" shows
};

// Test names carry the case; the parameter prints as its name too.
void PrintTo(const ImageCase& c, std::ostream* os) {
    *os << c.image;
}

// "Verify File Signature" on one listed file: the boxes it shows are recorded.
class BoxRecorder : public CommandUi, public CommandList {
  public:
    explicit BoxRecorder(Text path) : path_(std::move(path)) {}
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
    std::size_t RowCount() override { return 1; }
    std::optional<Text> Cell(std::size_t, DriverColumn) override { return path_; }

  private:
    Text path_;
};

class SignedImageTest : public ::testing::TestWithParam<ImageCase> {
  protected:
    HostPaths paths_;
    OpenSslTrustApi trust_{paths_, kTestRoot};
    PosixFileAttributes attributes_{paths_};
    PosixFileOperations operations_{paths_, {}};
    PlatformFiles files_{attributes_, operations_};
};

TEST_P(SignedImageTest, GivesTheVerdictNameAndBoxOfTheCase) {
    const ImageCase& c = GetParam();
    for (const char* bits : {"_32.exe", "_64.exe"}) {
        const Text path = Path(std::string(c.image) + bits);
        SCOPED_TRACE(TextToUtf8(path));
        EXPECT_EQ(trust_.VerifyTrust(path), c.status) << std::hex << trust_.VerifyTrust(path);
        EXPECT_EQ(TextToUtf8(GetSignerName(trust_, path)), TextToUtf8(c.signer));

        BoxRecorder boxes(path);
        FileCommands({boxes, files_, trust_}, boxes).VerifyFileSignature1Click();
        const auto& shown = boxes.shown;
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].first, MessageKind::kInformation);
        EXPECT_EQ(TextToUtf8(shown[0].second), TextToUtf8(c.box));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, SignedImageTest,
    ::testing::Values(
        ImageCase{"unsigned", status::kNoSignature, u"", u"File is not digitally signed."},
        ImageCase{"signed", status::kTrusted, u"Tolvessa Test Signer",
                  u"File is signed by Tolvessa Test Signer"},
        ImageCase{"signed_sha1", status::kTrusted, u"Tolvessa Test Signer",
                  u"File is signed by Tolvessa Test Signer"},
        // The message still verifies, so the name is there; the image digest is not.
        ImageCase{"tampered", status::kBadDigest, u"Tolvessa Test Signer",
                  u"File is not digitally signed."},
        ImageCase{"no_cn", status::kTrusted, u"Corvane Test Organisation",
                  u"File is signed by Corvane Test Organisation"},
        // The first entry is verified; a name needs exactly one.
        ImageCase{"two_entries", status::kTrusted, u"", u"File is signed by "},
        ImageCase{"short_length", status::kNoSignature, u"", u"File is not digitally signed."},
        ImageCase{"past_end", status::kNoSignature, u"", u"File is not digitally signed."},
        ImageCase{"untrusted", status::kUntrustedRoot, u"Tolvessa Stray Signer",
                  u"File is not digitally signed."},
        ImageCase{"server_usage", status::kWrongUsage, u"Tolvessa Server Only",
                  u"File is not digitally signed."}),
    [](const auto& testCase) { return std::string(testCase.param.image); });

TEST(OpenSslTrustTest, TheTrustStoreDecidesAboutTheRoot) {
    HostPaths paths;
    const Text signedImage = Path("signed_32.exe");
    const Text strayImage = Path("untrusted_64.exe");
    // The system's store holds neither test root; a bundle that cannot be read trusts none.
    OpenSslTrustApi system(paths);
    EXPECT_NE(system.VerifyTrust(signedImage), status::kTrusted);
    EXPECT_NE(system.VerifyTrust(strayImage), status::kTrusted);
    OpenSslTrustApi missing(paths, kImages + "/no-such-bundle.pem");
    EXPECT_NE(missing.VerifyTrust(signedImage), status::kTrusted);
    // Trusting the stray root turns the verdicts round.
    OpenSslTrustApi stray(paths, kImages + "/stray_root.pem");
    EXPECT_EQ(stray.VerifyTrust(strayImage), status::kTrusted);
    EXPECT_NE(stray.VerifyTrust(signedImage), status::kTrusted);
}

// One byte changed at a place of the signed image: the digest leaves out exactly the CheckSum
// field, the directory entry of the table (not checked here: changing it moves the table) and
// the table; every other byte counts.
TEST(OpenSslTrustTest, TheDigestCoversEveryByteButTheLeftOutOnes) {
    const Bytes original = ReadAll(kImages + "/signed_64.exe");
    MemorySource source(original);
    const auto layout = ReadCertificateLayout(source);
    ASSERT_TRUE(layout);
    const std::uint64_t table = layout->tableOffset;
    // The message's outer SEQUENCE has a two-byte length (30 82 hi lo); its last byte is in the
    // signature value, which ends the only SignerInfo. The entry's dwLength may cover padding.
    ASSERT_EQ(original.at(table + 8), 0x30);
    ASSERT_EQ(original.at(table + 9), 0x82);
    const std::uint64_t messageEnd =
        table + 8 + 4 + (std::uint64_t{original.at(table + 10)} << 8 | original.at(table + 11));

    struct Case {
        const char* name;
        std::uint64_t at;
        std::uint32_t status;
    };
    const Case cases[] = {
        {"MZ stub", 0x4E, status::kBadDigest},
        {"CheckSum", layout->checksumOffset, status::kTrusted},
        {"CheckSum last byte", layout->checksumOffset + 3, status::kTrusted},
        {"byte before CheckSum", layout->checksumOffset - 1, status::kBadDigest},
        {"byte after CheckSum", layout->checksumOffset + 4, status::kBadDigest},
        {"byte before the directory entry", layout->directoryOffset - 1, status::kBadDigest},
        {"byte after the directory entry", layout->directoryOffset + 8, status::kBadDigest},
        {"last byte before the table", table - 1, status::kBadDigest},
        {"last byte of the signature value", messageEnd - 1, status::kBadSignature},
    };
    HostPaths paths;
    OpenSslTrustApi trust(paths, kTestRoot);
    testing::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes changed = original;
        changed.at(c.at) ^= 0x20;
        const auto file = dir.Path() / "changed.exe";
        WriteAll(file, changed);
        EXPECT_EQ(trust.VerifyTrust(Utf8ToText(file.string())), c.status)
            << std::hex << trust.VerifyTrust(Utf8ToText(file.string()));
    }
}

// The digest covers what the image hash plan covers: a table that does not end the file leaves
// bytes that signing tools never hashed, so such a file is refused even when the bytes before the
// table, moved behind it, would hash as before.
TEST(OpenSslTrustTest, BytesAfterTheTableAreCoveredByNoSignature) {
    const Bytes original = ReadAll(kImages + "/signed_64.exe");
    MemorySource source(original);
    const auto layout = ReadCertificateLayout(source);
    ASSERT_TRUE(layout);
    const std::uint32_t table = layout->tableOffset;
    ASSERT_EQ(std::uint64_t{table} + layout->tableSize, original.size());

    // The 8 bytes before the table moved behind it, and the entry pointing 8 bytes earlier.
    Bytes moved(original.begin(), original.begin() + table - 8);
    moved.insert(moved.end(), original.begin() + table, original.end());
    moved.insert(moved.end(), original.begin() + table - 8, original.begin() + table);
    Write32(moved, layout->directoryOffset, table - 8);
    // And the same 8 bytes added once more after the untouched table.
    Bytes appended = original;
    appended.insert(appended.end(), original.begin() + table - 8, original.begin() + table);

    HostPaths paths;
    OpenSslTrustApi trust(paths, kTestRoot);
    testing::TempDir dir;
    for (const auto& [name, bytes] : {std::pair{"moved.exe", moved}, {"appended.exe", appended}}) {
        SCOPED_TRACE(name);
        const auto file = dir.Path() / name;
        WriteAll(file, bytes);
        EXPECT_EQ(trust.VerifyTrust(Utf8ToText(file.string())), status::kBadDigest)
            << std::hex << trust.VerifyTrust(Utf8ToText(file.string()));
        // The message itself still verifies, so its signer is named.
        EXPECT_EQ(GetSignerName(trust, Utf8ToText(file.string())), u"Tolvessa Test Signer");
    }
}

TEST(OpenSslTrustTest, FilesThatAreNotImagesHaveNoSignatureAndNoName) {
    HostPaths paths;
    OpenSslTrustApi trust(paths, kTestRoot);
    testing::TempDir dir;
    const auto text = dir.Write("notes.txt", "MZ but nothing more");
    const auto truncated = dir.Path() / "truncated.exe";
    Bytes head = ReadAll(kImages + "/signed_32.exe");
    head.resize(0x90);
    WriteAll(truncated, head);

    EXPECT_EQ(trust.VerifyTrust(Utf8ToText(text.string())), status::kSubjectFormUnknown);
    EXPECT_EQ(trust.VerifyTrust(Utf8ToText(truncated.string())), status::kSubjectFormUnknown);
    EXPECT_EQ(trust.VerifyTrust(Utf8ToText((dir.Path() / "gone.exe").string())),
              status::kFileNotFound);
    EXPECT_EQ(trust.VerifyTrust(Utf8ToText(dir.Path().string())), status::kFileNotFound);
    EXPECT_EQ(GetSignerName(trust, Utf8ToText(text.string())), u"");
    EXPECT_EQ(GetSignerName(trust, Utf8ToText(truncated.string())), u"");
}

TEST(OpenSslTrustTest, FindsWindowsStylePathsOnAMappedDrive) {
    HostPaths paths;
    paths.MapDrive(u'C', kImages);
    OpenSslTrustApi trust(paths, kTestRoot);
    EXPECT_EQ(trust.VerifyTrust(u"C:\\SIGNED_32.EXE"), status::kTrusted);
    EXPECT_EQ(GetSignerName(trust, u"c:\\Signed_64.exe"), u"Tolvessa Test Signer");
}

TEST(OpenSslTrustTest, ReadsAnEntryOnlyIntoTheRoomItsLengthFieldVouchesFor) {
    HostPaths paths;
    OpenSslTrustApi trust(paths, kTestRoot);
    const auto file = trust.OpenForRead(Path("signed_32.exe"));
    ASSERT_TRUE(file);
    ASSERT_EQ(trust.EnumerateCertificates(*file), 1u);
    Bytes header(15, 0);
    ASSERT_TRUE(trust.ReadCertificateHeader(*file, 0, header));
    const std::uint32_t length = Read32(header, 0);
    EXPECT_EQ(Read16(header, 6), kCertificateTypePkcsSignedData);
    EXPECT_FALSE(trust.ReadCertificateHeader(*file, 1, header));

    Bytes buffer(length + 12, 0);
    Write32(buffer, 0, length - 1);
    EXPECT_FALSE(trust.ReadCertificateData(*file, 0, buffer));
    Write32(buffer, 0, length);
    ASSERT_TRUE(trust.ReadCertificateData(*file, 0, buffer));
    EXPECT_EQ(Read32(buffer, 0), length);
    // The bytes after the entry are left alone.
    EXPECT_EQ(Bytes(buffer.begin() + length, buffer.end()), Bytes(12, 0));
}

// The same certificates are named by the platform's CertGetNameStringW in the Windows build's
// tests; both must agree.
TEST(SimpleDisplayNameTest, FollowsThePlatformsOrderOfNames) {
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
        const Bytes der = ReadAll(kImages + "/name_" + name + ".der");
        ASSERT_FALSE(der.empty()) << name;
        EXPECT_EQ(TextToUtf8(SimpleDisplayNameOfCertificate(der)), TextToUtf8(expected)) << name;
    }
    const Bytes garbage = {0x30, 0x03, 0x02, 0x01, 0x00};
    EXPECT_EQ(SimpleDisplayNameOfCertificate(garbage), u"");
    EXPECT_EQ(SimpleDisplayNameOfCertificate({}), u"");
}

}  // namespace
}  // namespace tolvessa::host
