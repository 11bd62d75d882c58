// The verdict of a row from the verifier's answers: embedded first, catalogs only without an
// embedded signature, each answer mapped to one of the five verdicts.
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
        digests.peSha256 = u"AB";
        EXPECT_EQ(JudgeFile(engine, u"C:\\d.sys", digests), c.expected) << c.name;
        EXPECT_EQ(engine.catalogLookups, c.lookups) << c.name;
        if (c.lookups) {
            EXPECT_EQ(engine.seen, digests) << c.name;
        }
    }
}

TEST(FileVerdictTest, TheFiveTexts) {
    EXPECT_EQ(VerdictText(V::kEmbedded), u"Embedded");
    EXPECT_EQ(VerdictText(V::kCatalog), u"Catalog");
    EXPECT_EQ(VerdictText(V::kUnsigned), u"Unsigned");
    EXPECT_EQ(VerdictText(V::kInvalid), u"Invalid");
    EXPECT_EQ(VerdictText(V::kUntrusted), u"Untrusted");
}

}  // namespace
}  // namespace tolvessa
