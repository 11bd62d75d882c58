#include "platform/host/openssl_trust.h"

#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <optional>
#include <utility>
#include <vector>

#include "platform/host/openssl_signed_data.h"
#include "platform/host/openssl_timestamp.h"
#include "platform/host/posix_file.h"

namespace tolvessa::host {

namespace {

// ---- Files ----

class PosixTrustFile : public TrustApi::File {
  public:
    explicit PosixTrustFile(PosixFile file) : file_(std::move(file)) {}

    std::uint64_t Size() override { return file_.Size().value_or(0); }

    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        return file_.ReadAt(offset, buffer);
    }

  private:
    PosixFile file_;
};

// The status a Windows verifier gives for a file it cannot open, from the host's errno: the file
// is there but may not or cannot be read (IsUnreadableStatus), or, as before, not found.
std::uint32_t OpenFailureStatus(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return trust_status::kAccessDenied;
        case ETXTBSY:
            return trust_status::kSharingViolation;
        case EAGAIN:  // a mandatory lock
            return trust_status::kLockViolation;
        case EIO:
            return trust_status::kDeviceError;
        default:
            // No such file or folder, and what is not a regular file.
            return trust_status::kFileNotFound;
    }
}

std::unique_ptr<PosixTrustFile> OpenRegularFile(const std::string& hostPath) {
    PosixFile file = PosixFile::OpenRegularForRead(hostPath);
    if (!file)
        return nullptr;
    return std::make_unique<PosixTrustFile>(std::move(file));
}

// The table of an opened file, every time read anew.
std::optional<std::vector<CertificateEntry>> Entries(ByteSource& file) {
    const std::optional<PeCertificateLayout> layout = ReadCertificateLayout(file);
    if (!layout)
        return std::nullopt;
    return ReadCertificateEntries(file, *layout);
}

// ---- Certificates ----

class OpenSslCertificate : public TrustApi::Certificate {
  public:
    explicit OpenSslCertificate(X509Ptr certificate) : certificate_(std::move(certificate)) {}
    X509* Get() const { return certificate_.get(); }

  private:
    X509Ptr certificate_;
};

// ---- Authenticode content ----

constexpr const char* kSpcIndirectDataOid = "1.3.6.1.4.1.311.2.1.4";
constexpr const char* kSpcPeImageDataOid = "1.3.6.1.4.1.311.2.1.15";

struct AnySequenceFree {
    void operator()(STACK_OF(ASN1_TYPE) * items) const {
        sk_ASN1_TYPE_pop_free(items, ASN1_TYPE_free);
    }
};
using AnySequencePtr = std::unique_ptr<STACK_OF(ASN1_TYPE), AnySequenceFree>;

// The elements of a DER SEQUENCE.
AnySequencePtr SequenceItems(const ASN1_STRING* der) {
    if (!der)
        return nullptr;
    const unsigned char* at = ASN1_STRING_get0_data(der);
    return AnySequencePtr(d2i_ASN1_SEQUENCE_ANY(nullptr, &at, ASN1_STRING_length(der)));
}

const ASN1_TYPE* Item(const AnySequencePtr& items, int index, int type) {
    if (!items || sk_ASN1_TYPE_num(items.get()) <= index)
        return nullptr;
    const ASN1_TYPE* item = sk_ASN1_TYPE_value(items.get(), index);
    return ASN1_TYPE_get(item) == type ? item : nullptr;
}

// ---- The Authenticode image digest ----

struct ImageDigest {
    const EVP_MD* algorithm = nullptr;
    std::vector<std::uint8_t> value;
};

// The digest algorithm and value inside an SpcIndirectDataContent for a PE image.
std::optional<ImageDigest> IndirectDataDigest(const ASN1_STRING* content) {
    const AnySequencePtr indirect = SequenceItems(content);
    const ASN1_TYPE* data = Item(indirect, 0, V_ASN1_SEQUENCE);
    const ASN1_TYPE* digestInfo = Item(indirect, 1, V_ASN1_SEQUENCE);
    if (!data || !digestInfo)
        return std::nullopt;

    const AnySequencePtr dataItems = SequenceItems(data->value.sequence);
    const ASN1_TYPE* dataType = Item(dataItems, 0, V_ASN1_OBJECT);
    if (!dataType || !IsObject(dataType->value.object, kSpcPeImageDataOid))
        return std::nullopt;

    const AnySequencePtr digestItems = SequenceItems(digestInfo->value.sequence);
    const ASN1_TYPE* algorithmItem = Item(digestItems, 0, V_ASN1_SEQUENCE);
    const ASN1_TYPE* valueItem = Item(digestItems, 1, V_ASN1_OCTET_STRING);
    if (!algorithmItem || !valueItem)
        return std::nullopt;
    const unsigned char* at = ASN1_STRING_get0_data(algorithmItem->value.sequence);
    const AlgorPtr algorithm(
        d2i_X509_ALGOR(nullptr, &at, ASN1_STRING_length(algorithmItem->value.sequence)));
    if (!algorithm)
        return std::nullopt;

    ImageDigest digest;
    switch (OBJ_obj2nid(algorithm->algorithm)) {
        case NID_sha1:
        case NID_sha256:
        case NID_sha384:
        case NID_sha512:
            digest.algorithm = EVP_get_digestbyobj(algorithm->algorithm);
            break;
        default:
            break;
    }
    const ASN1_OCTET_STRING* value = valueItem->value.octet_string;
    const unsigned char* bytes = ASN1_STRING_get0_data(value);
    digest.value.assign(bytes, bytes + ASN1_STRING_length(value));
    return digest;
}

// Hashes what the image hash plan covers: the file without its CheckSum, its certificate-table
// directory entry and the table.
std::optional<std::vector<std::uint8_t>> ComputeImageDigest(ByteSource& file,
                                                            const ImageHashPlan& plan,
                                                            const EVP_MD* algorithm) {
    const MdCtxPtr context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1)
        return std::nullopt;

    std::vector<std::uint8_t> chunk(1 << 16);
    for (const ByteRange& range : plan.ranges) {
        for (std::uint64_t at = range.begin; at < range.end;) {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), range.end - at));
            const std::span<std::uint8_t> piece(chunk.data(), take);
            if (!file.ReadAt(at, piece) ||
                EVP_DigestUpdate(context.get(), piece.data(), piece.size()) != 1)
                return std::nullopt;
            at += take;
        }
    }
    const std::array<std::uint8_t, 8> zeros{};
    if (EVP_DigestUpdate(context.get(), zeros.data(), plan.zeroPadding) != 1)
        return std::nullopt;
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1)
        return std::nullopt;
    digest.resize(length);
    return digest;
}

// The image hash the one pass over the file already took with `algorithm`, when it took one: an
// image it could plan the hash of leaves out exactly what ComputeImageDigest leaves out (its
// certificate table ends the file), so both give the same value.
std::optional<std::vector<std::uint8_t>> ImageDigestOf(const FileDigests& digests,
                                                       const EVP_MD* algorithm) {
    if (EVP_MD_type(algorithm) == NID_sha256 && digests.peSha256)
        return std::vector<std::uint8_t>(digests.peSha256->begin(), digests.peSha256->end());
    if (EVP_MD_type(algorithm) == NID_sha1 && digests.peSha1)
        return std::vector<std::uint8_t>(digests.peSha1->begin(), digests.peSha1->end());
    return std::nullopt;
}

}  // namespace

OpenSslTrustApi::OpenSslTrustApi(const HostPaths& paths, std::string caBundle)
    : paths_(paths), caBundle_(std::move(caBundle)) {}

std::uint32_t OpenSslTrustApi::VerifyTrust(const Text& path) {
    return CheckEmbedded(path).status;
}

SignatureCheck OpenSslTrustApi::CheckEmbedded(const Text& path) {
    const std::unique_ptr<PosixTrustFile> file = OpenRegularFile(paths_.ToHost(path));
    if (!file)
        return {OpenFailureStatus(errno), {}};
    return CheckEmbeddedIn(*file, nullptr);
}

SignatureCheck OpenSslTrustApi::CheckEmbeddedIn(ByteSource& file, const FileDigests* digests) {
    const ErrorQueueGuard errors;
    const std::optional<PeImage> image = PeImage::Parse(file);
    const std::optional<PeCertificateLayout> layout =
        image ? ReadCertificateLayout(*image) : std::nullopt;
    if (!layout)
        return {trust_status::kSubjectFormUnknown, {}};
    const std::optional<std::vector<CertificateEntry>> entries =
        ReadCertificateEntries(file, *layout);
    if (!entries || entries->empty() || entries->front().type != kCertificateTypePkcsSignedData)
        return {trust_status::kNoSignature, {}};

    const CertificateEntry& entry = entries->front();
    std::vector<std::uint8_t> message(entry.length - kCertificateHeaderSize);
    if (!file.ReadAt(entry.offset + kCertificateHeaderSize, message))
        return {trust_status::kNoSignature, {}};
    const std::optional<SignedMessage> decoded = DecodeSignedMessage(message);
    if (!decoded || !HasContentType(*decoded, kSpcIndirectDataOid))
        return {trust_status::kBadMessage, {}};
    const std::optional<ImageDigest> expected = IndirectDataDigest(decoded->content);
    if (!expected)
        return {trust_status::kBadMessage, {}};

    X509* signer = VerifySignature(*decoded);
    if (!signer) {
        X509* carried = CarriedSigner(*decoded);
        return {trust_status::kBadSignature, carried ? host::SimpleDisplayName(carried) : Text()};
    }
    const Text name = host::SimpleDisplayName(signer);

    if (!expected->algorithm)
        return {trust_status::kBadAlgorithm, name};
    std::optional<std::vector<std::uint8_t>> actual =
        digests ? ImageDigestOf(*digests, expected->algorithm) : std::nullopt;
    if (!actual) {
        const std::optional<ImageHashPlan>& plan = image->HashPlan();
        actual = plan ? ComputeImageDigest(file, *plan, expected->algorithm) : std::nullopt;
    }
    if (!actual || *actual != expected->value)
        return {trust_status::kBadDigest, name};

    const TrustStore store(caBundle_);
    const std::uint32_t chain = store.Verify(signer, decoded->pkcs7->d.sign->cert,
                                             SignerChainTime(*decoded, signer, store));
    if (chain != trust_status::kTrusted)
        return {chain, name};
    if (!MaySignCode(signer))
        return {trust_status::kWrongUsage, name};
    return {trust_status::kTrusted, name};
}

std::unique_ptr<TrustApi::File> OpenSslTrustApi::OpenForRead(const Text& path) {
    return OpenRegularFile(paths_.ToHost(path));
}

std::optional<std::uint32_t> OpenSslTrustApi::EnumerateCertificates(File& file) {
    const auto entries = Entries(file);
    if (!entries)
        return std::nullopt;
    return static_cast<std::uint32_t>(entries->size());
}

bool OpenSslTrustApi::ReadCertificateHeader(File& file, std::uint32_t index,
                                            std::span<std::uint8_t> buffer) {
    const auto entries = Entries(file);
    if (!entries || index >= entries->size() || buffer.size() < kCertificateHeaderSize)
        return false;
    return file.ReadAt((*entries)[index].offset, buffer.first(kCertificateHeaderSize));
}

bool OpenSslTrustApi::ReadCertificateData(File& file, std::uint32_t index,
                                          std::span<std::uint8_t> buffer) {
    const auto entries = Entries(file);
    if (!entries || index >= entries->size() || buffer.size() < 4)
        return false;
    const CertificateEntry& entry = (*entries)[index];
    // The length field vouches for the room; the span holds the caller to it.
    if (Read32(buffer, 0) < entry.length || buffer.size() < entry.length)
        return false;
    if (!file.ReadAt(entry.offset, buffer.first(entry.length)))
        return false;
    Write32(buffer, 0, entry.length);
    return true;
}

std::unique_ptr<TrustApi::Certificate> OpenSslTrustApi::VerifyMessageSignature(
    std::span<const std::uint8_t> message) {
    const ErrorQueueGuard errors;
    const std::optional<SignedMessage> decoded = DecodeSignedMessage(message);
    if (!decoded)
        return nullptr;
    X509* signer = VerifySignature(*decoded);
    if (!signer || X509_up_ref(signer) != 1)
        return nullptr;
    return std::make_unique<OpenSslCertificate>(X509Ptr(signer));
}

std::uint32_t OpenSslTrustApi::SimpleDisplayName(Certificate& certificate,
                                                 std::span<char16_t> buffer) {
    const ErrorQueueGuard errors;
    const Text name = host::SimpleDisplayName(static_cast<OpenSslCertificate&>(certificate).Get());
    if (!buffer.empty()) {
        const std::size_t copied = std::min(name.size(), buffer.size() - 1);
        std::copy_n(name.begin(), copied, buffer.begin());
        buffer[copied] = u'\0';
    }
    return static_cast<std::uint32_t>(name.size() + 1);
}

Text SimpleDisplayNameOfCertificate(std::span<const std::uint8_t> der) {
    const ErrorQueueGuard errors;
    if (der.size() > static_cast<std::size_t>(LONG_MAX))
        return {};
    const unsigned char* at = der.data();
    const X509Ptr certificate(d2i_X509(nullptr, &at, static_cast<long>(der.size())));
    return certificate ? SimpleDisplayName(certificate.get()) : Text{};
}

}  // namespace tolvessa::host
