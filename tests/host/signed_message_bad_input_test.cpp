// Signatures that are not what they claim: signed data left out, digest algorithms that are
// none, messages and certificates cut short. No signature, no signer, no name, and nothing left
// behind (the host suite also runs under LeakSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/openssl_trust.h"
#include "temp_dir.h"
#include "trust/certificate_table.h"
#include "trust/der_reader.h"

namespace tolvessa::host {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace status = trust_status;

const std::string kImages = TOLVESSA_TRUST_FIXTURE_DIR;

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// DER: a tag and its content, with the length in the short or the two-byte long form.
Bytes Der(std::uint8_t tag, const Bytes& content) {
    Bytes out;
    out.reserve(content.size() + 4);
    out.push_back(tag);
    if (content.size() < 0x80) {
        out.push_back(static_cast<std::uint8_t>(content.size()));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<std::uint8_t>(content.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Bytes kSignedDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const Bytes kDataOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
const Bytes kSha256Oid = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
// 1.2.840.113549.1.12.1, a password-based encryption scheme: no digest, and as long as SHA-256's.
const Bytes kNotADigestOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x0C, 0x01};

// The signed message of the first (only) table entry of `image`.
Bytes MessageOf(const Bytes& image) {
    MemorySource source(image);
    const auto layout = ReadCertificateLayout(source);
    const auto entries = layout ? ReadCertificateEntries(source, *layout) : std::nullopt;
    if (!entries || entries->size() != 1)
        return {};
    const CertificateEntry& e = entries->front();
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(e.offset + kCertificateHeaderSize),
                 image.begin() + static_cast<std::ptrdiff_t>(e.offset + e.length));
}

// `image` with its certificate table replaced by one PKCS #7 entry holding `message`.
Bytes WithMessage(const Bytes& image, const Bytes& message) {
    MemorySource source(image);
    const auto layout = ReadCertificateLayout(source);
    if (!layout)
        return {};
    Bytes out(image.begin(), image.begin() + layout->tableOffset);
    Bytes entry(kCertificateHeaderSize, 0);
    Write32(entry, 0, static_cast<std::uint32_t>(kCertificateHeaderSize + message.size()));
    Write16(entry, 4, kCertificateRevision2);
    Write16(entry, 6, kCertificateTypePkcsSignedData);
    entry.insert(entry.end(), message.begin(), message.end());
    while (entry.size() % 8 != 0)
        entry.push_back(0);
    out.insert(out.end(), entry.begin(), entry.end());
    Write32(out, layout->directoryOffset + 4, static_cast<std::uint32_t>(entry.size()));
    return out;
}

Bytes Replaced(Bytes bytes, const Bytes& from, const Bytes& to) {
    const auto at = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
    if (at != bytes.end())
        std::copy(to.begin(), to.end(), at);
    return bytes;
}

// Signed data over `content` (a content info), with no digest algorithm, certificate or signer.
Bytes SignedDataOver(const Bytes& content) {
    return Der(0x30, Cat({kSignedDataOid, Der(0xA0, Der(0x30, Cat({Der(0x02, {1}), Der(0x31, {}),
                                                                   content, Der(0x31, {})})))}));
}

const Bytes kPlainData = Der(0x30, kDataOid);

struct MessageCase {
    const char* name;
    Bytes message;
    std::uint32_t verdict;
};

class SignedMessageBadInputTest : public ::testing::Test {
  protected:
    SignedMessageBadInputTest() {
        image_ = ReadAll(kImages + "/signed_32.exe");
        message_ = MessageOf(image_);
    }

    Bytes image_;
    Bytes message_;
    HostPaths paths_;
    OpenSslTrustApi trust_{paths_, kImages + "/test_root.pem"};
    testing::TempDir dir_;
};

TEST_F(SignedMessageBadInputTest, BrokenMessagesHaveNoSignerAndNoName) {
    ASSERT_GT(message_.size(), 1000u);
    ASSERT_NE(std::search(message_.begin(), message_.end(), kSha256Oid.begin(), kSha256Oid.end()),
              message_.end());
    const MessageCase cases[] = {
        // The signed data itself is optional in the grammar.
        {"signed data left out", Der(0x30, kSignedDataOid), status::kBadMessage},
        {"signed data over plain data", SignedDataOver(kPlainData), status::kBadMessage},
        // Content types PKCS #7 defines itself carry no raw value to hash.
        {"signed data inside signed data", SignedDataOver(SignedDataOver(kPlainData)),
         status::kBadMessage},
        // The first use of SHA-256 is the message's list of digest algorithms.
        {"digest algorithm that is not a digest", Replaced(message_, kSha256Oid, kNotADigestOid),
         status::kBadSignature},
        {"no message at all", {}, status::kBadMessage},
        {"message cut in half", Bytes(message_.begin(), message_.begin() + message_.size() / 2),
         status::kBadMessage},
        {"outer length of 2 GiB", Cat({{0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF}, message_}),
         status::kBadMessage},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(trust_.VerifyMessageSignature(c.message), nullptr);
        const auto file = dir_.Path() / "image.exe";
        const Bytes image = WithMessage(image_, c.message);
        ASSERT_FALSE(image.empty());
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        EXPECT_EQ(trust_.VerifyTrust(Utf8ToText(file.string())), c.verdict);
        EXPECT_EQ(GetSignerName(trust_, Utf8ToText(file.string())), u"");
    }
}

// The length of the DER element at the start of `bytes` (tag, length, content); 0 when there
// is none.
std::size_t DerLength(const Bytes& bytes) {
    const std::optional<DerElement> element = DerReader(bytes).Next();
    if (!element)
        return 0;
    return static_cast<std::size_t>(element->content.data() + element->content.size() -
                                    bytes.data());
}

TEST_F(SignedMessageBadInputTest, EveryPrefixOfAMessageOrCertificateIsRefused) {
    // The table entry is padded to 8 bytes; the message proper ends before that.
    const std::size_t length = DerLength(message_);
    ASSERT_LE(length, message_.size());
    ASSERT_NE(trust_.VerifyMessageSignature(std::span(message_).first(length)), nullptr);
    for (std::size_t cut = 0; cut < length; ++cut) {
        ASSERT_EQ(trust_.VerifyMessageSignature(std::span(message_).first(cut)), nullptr)
            << "cut at " << cut;
    }

    const Bytes certificate = ReadAll(kImages + "/name_cn.der");
    ASSERT_EQ(SimpleDisplayNameOfCertificate(certificate), u"Corvane Common");
    for (std::size_t cut = 0; cut < certificate.size(); ++cut) {
        ASSERT_EQ(SimpleDisplayNameOfCertificate(std::span(certificate).first(cut)), u"")
            << "cut at " << cut;
    }
}

}  // namespace
}  // namespace tolvessa::host
