// The verdict of a row from the verifier's answers: embedded first, catalogs only without an
// embedded signature, each answer mapped to one of the six verdicts.
#include "trust/file_verdict.h"

#include <gtest/gtest.h>

#include "trust/file_trust.h"

namespace tolvessa {
namespace {

class FakeEngine : public SignatureEngine {
  public:
    Answer embedded;
    std::optional<Answer> catalog;
    int catalogLookups = 0;
    FileDigests seen;

    Answer CheckEmbedded(const Text&) override { return embedded; }
    std::optional<Answer> CheckCatalogs(const Text&, const FileDigests& digests) override {
        ++catalogLookups;
        seen = digests;
        return catalog;
    }
};

using V = SignatureVerdict;
using A = SignatureEngine::Answer;

TEST(FileVerdictTest, EmbeddedFirstThenTheCatalogs) {
    struct Case {
        const char* name;
        A embedded;
        std::optional<A> catalog;
        FileTrust expected;
        int lookups;
    } const cases[] = {
        {"embedded",
         {0, u"Signer", u""},
         A{0, u"Cat", u"x.cat"},
         {V::kEmbedded, u"Signer", u""},
         0},
        {"embedded_tampered",
         {trust_status::kBadDigest, u"", u""},
         std::nullopt,
         {V::kInvalid, u"", u""},
         0},
        {"embedded_bad_message",
         {trust_status::kBadMessage, u"", u""},
         std::nullopt,
         {V::kInvalid, u"", u""},
         0},
        {"embedded_untrusted_root",
         {trust_status::kUntrustedRoot, u"Stray", u""},
         std::nullopt,
         {V::kUntrusted, u"Stray", u""},
         0},
        {"embedded_wrong_usage",
         {trust_status::kWrongUsage, u"Server", u""},
         std::nullopt,
         {V::kUntrusted, u"Server", u""},
         0},
        {"catalog_member",
         {trust_status::kNoSignature, u"", u""},
         A{0, u"Catalog Signer", u"oem1.cat"},
         {V::kCatalog, u"Catalog Signer", u"oem1.cat"},
         1},
        {"catalog_untrusted",
         {trust_status::kNoSignature, u"", u""},
         A{trust_status::kUntrustedRoot, u"Stray", u"stray.cat"},
         {V::kUntrusted, u"Stray", u"stray.cat"},
         1},
        {"catalog_bad_signature",
         {trust_status::kSubjectFormUnknown, u"", u""},
         A{trust_status::kBadSignature, u"", u"bad.cat"},
         {V::kInvalid, u"", u"bad.cat"},
         1},
        {"in_no_catalog",
         {trust_status::kNoSignature, u"", u""},
         std::nullopt,
         {V::kUnsigned, u"", u""},
         1},
        {"unknown_failure", {0x80004005u, u"", u""}, std::nullopt, {V::kInvalid, u"", u""}, 0},
        // The answers the engines give besides.
        {"embedded_bad_signature",
         {trust_status::kBadSignature, u"Named", u""},
         std::nullopt,
         {V::kInvalid, u"Named", u""},
         0},
        {"embedded_unknown_digest",
         {trust_status::kBadAlgorithm, u"S", u""},
         std::nullopt,
         {V::kInvalid, u"S", u""},
         0},
        {"embedded_expired",
         {trust_status::kExpired, u"Old", u""},
         std::nullopt,
         {V::kUntrusted, u"Old", u""},
         0},
        {"embedded_chaining",
         {trust_status::kChaining, u"S", u""},
         std::nullopt,
         {V::kUntrusted, u"S", u""},
         0},
        {"embedded_explicitly_distrusted",
         {0x800B0111u, u"S", u""},
         std::nullopt,
         {V::kUntrusted, u"S", u""},
         0},
        {"file_gone",
         {trust_status::kFileNotFound, u"", u""},
         std::nullopt,
         {V::kUnsigned, u"", u""},
         1},
        {"catalog_member_bad_digest",
         {trust_status::kNoSignature, u"", u""},
         A{trust_status::kBadDigest, u"S", u"t.cat"},
         {V::kInvalid, u"S", u"t.cat"},
         1},
        {"catalog_wrong_usage",
         {trust_status::kNoSignature, u"", u""},
         A{trust_status::kWrongUsage, u"Server", u"s.cat"},
         {V::kUntrusted, u"Server", u"s.cat"},
         1},
        // A catalog that was never signed vouches for nothing.
        {"catalog_unsigned",
         {trust_status::kNoSignature, u"", u""},
         A{trust_status::kNoSignature, u"", u"u.cat"},
         {V::kUnsigned, u"", u""},
         1},
    };
    for (const Case& c : cases) {
        FakeEngine engine;
        engine.embedded = c.embedded;
        engine.catalog = c.catalog;
        FileDigests digests;
        digests.peSha256 = Sha256Digest{0xAB};
        EXPECT_EQ(JudgeFile(engine, u"C:\\d.sys", digests), c.expected) << c.name;
        EXPECT_EQ(engine.catalogLookups, c.lookups) << c.name;
        if (c.lookups) {
            EXPECT_EQ(engine.seen, digests) << c.name;
        }
    }
}

TEST(FileVerdictTest, TheSixTexts) {
    EXPECT_EQ(VerdictText(V::kEmbedded), u"Embedded");
    EXPECT_EQ(VerdictText(V::kCatalog), u"Catalog");
    EXPECT_EQ(VerdictText(V::kUnsigned), u"Unsigned");
    EXPECT_EQ(VerdictText(V::kInvalid), u"Invalid");
    EXPECT_EQ(VerdictText(V::kUntrusted), u"Untrusted");
    EXPECT_EQ(VerdictText(V::kUnreadable), u"Unreadable");
}

// The statuses of a file that is there but could not be read give "Unreadable"; "not found",
// "no signature" and the failures that are about the call, not the file, keep their meaning.
TEST(FileVerdictTest, StatusesOfAFileThatCouldNotBeRead) {
    const std::optional<V> unreadable = V::kUnreadable;
    const std::optional<V> invalid = V::kInvalid;
    const std::optional<V> none = std::nullopt;
    struct Case {
        std::uint32_t status;
        std::optional<V> verdict;
    } const cases[] = {
        {trust_status::kAccessDenied, unreadable},      // ERROR_ACCESS_DENIED
        {trust_status::kSharingViolation, unreadable},  // ERROR_SHARING_VIOLATION
        {trust_status::kLockViolation, unreadable},     // ERROR_LOCK_VIOLATION
        {0x8007001Eu, unreadable},                      // ERROR_READ_FAULT
        {0x80070017u, unreadable},                      // ERROR_CRC
        {0x80070015u, unreadable},                      // ERROR_NOT_READY
        {0x8007001Fu, unreadable},                      // ERROR_GEN_FAILURE
        {trust_status::kDeviceError, unreadable},       // ERROR_IO_DEVICE
        {0x80070570u, unreadable},                      // ERROR_FILE_CORRUPT
        {0x80070780u, unreadable},                      // ERROR_CANT_ACCESS_FILE
        {0x800700E1u, unreadable},                      // ERROR_VIRUS_INFECTED
        {0x80070040u, unreadable},                      // ERROR_NETNAME_DELETED
        {trust_status::kFileNotFound, none},            // gone: no signature of any kind
        {trust_status::kPathNotFound, none},            // its folder gone too
        {trust_status::kNoSignature, none},             // there, read, and unsigned
        {trust_status::kSubjectFormUnknown, none},      // there, read, and no PE image
        {0x80070057u, invalid},                         // E_INVALIDARG: about the call
        {0x8007000Eu, invalid},                         // E_OUTOFMEMORY
        {0x80070006u, invalid},                         // E_HANDLE
        {0x00000005u, invalid},                         // a bare Win32 code is no HRESULT
        {0x80000005u, invalid},                         // nor one of another facility
        {0xC0000022u, invalid},                         // an NTSTATUS
        {trust_status::kBadDigest, invalid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.status);
        EXPECT_EQ(IsUnreadableStatus(c.status), c.verdict == unreadable);
        EXPECT_EQ(VerdictOfStatus(c.status, V::kEmbedded), c.verdict);
        EXPECT_EQ(VerdictOfStatus(c.status, V::kCatalog), c.verdict);
    }
}

// A file the embedded check could not read: the catalogs are asked with the digests' image hash
// when the digests step did read the file, and their verdict wins; otherwise "Unreadable".
TEST(FileVerdictTest, AFileTheCheckCouldNotReadAsksTheCatalogsOnlyWithTheDigests) {
    FileDigests read;
    read.sha1 = Sha1Digest{0x11};
    read.sha256 = Sha256Digest{0x22};
    read.peSha1 = Sha1Digest{0x33};
    read.peSha256 = Sha256Digest{0x44};
    FileDigests readNoImage;  // read, but no PE image: no image hash to look up
    readNoImage.sha1 = Sha1Digest{0x11};
    readNoImage.sha256 = Sha256Digest{0x22};
    const FileDigests unread;
    const FileTrust unreadable{V::kUnreadable, u"", u""};
    struct Case {
        const char* name;
        std::uint32_t status;
        const FileDigests* digests;
        std::optional<A> catalog;
        FileTrust expected;
        int lookups;
    } const cases[] = {
        {"denied_not_read", trust_status::kAccessDenied, &unread, A{0, u"C", u"c.cat"}, unreadable,
         0},
        {"shared_not_read", trust_status::kSharingViolation, &unread, A{0, u"C", u"c.cat"},
         unreadable, 0},
        {"held_read_listed",
         trust_status::kSharingViolation,
         &read,
         A{0, u"C", u"c.cat"},
         {V::kCatalog, u"C", u"c.cat"},
         1},
        {"held_read_listed_untrusted",
         trust_status::kSharingViolation,
         &read,
         A{trust_status::kUntrustedRoot, u"Stray", u"s.cat"},
         {V::kUntrusted, u"Stray", u"s.cat"},
         1},
        {"held_read_unlisted", trust_status::kLockViolation, &read, std::nullopt, unreadable, 1},
        {"held_read_unsigned_catalog", trust_status::kSharingViolation, &read,
         A{trust_status::kNoSignature, u"", u"u.cat"}, unreadable, 1},
        {"held_read_no_image", trust_status::kSharingViolation, &readNoImage, std::nullopt,
         unreadable, 1},
        {"read_error_read_by_digests", trust_status::kDeviceError, &read, std::nullopt, unreadable,
         1},
        {"catalog_member_unreadable",
         trust_status::kNoSignature,
         &read,
         A{trust_status::kSharingViolation, u"", u"c.cat"},
         {V::kUnreadable, u"", u"c.cat"},
         1},
        {"path_gone",
         trust_status::kPathNotFound,
         &unread,
         std::nullopt,
         {V::kUnsigned, u"", u""},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeEngine engine;
        engine.embedded = {c.status, u"", u""};
        engine.catalog = c.catalog;
        EXPECT_EQ(JudgeFile(engine, u"C:\\d.sys", *c.digests), c.expected);
        EXPECT_EQ(engine.catalogLookups, c.lookups);
        if (c.lookups) {
            EXPECT_EQ(engine.seen, *c.digests);
        }
    }
}

}  // namespace
}  // namespace tolvessa
