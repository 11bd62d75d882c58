#include "platform/host/openssl_trust.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/host/posix_file.h"

namespace tolvessa::host {

namespace {

// ---- Owners of OpenSSL objects ----

template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};

using Pkcs7Ptr = std::unique_ptr<PKCS7, OpenSslFree<PKCS7_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO_free>>;
using BioChainPtr = std::unique_ptr<BIO, OpenSslFree<BIO_free_all>>;
using StorePtr = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslFree<EVP_MD_CTX_free>>;
using AlgorPtr = std::unique_ptr<X509_ALGOR, OpenSslFree<X509_ALGOR_free>>;
using ObjectPtr = std::unique_ptr<ASN1_OBJECT, OpenSslFree<ASN1_OBJECT_free>>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, OpenSslFree<GENERAL_NAMES_free>>;

struct AnySequenceFree {
    void operator()(STACK_OF(ASN1_TYPE) * items) const {
        sk_ASN1_TYPE_pop_free(items, ASN1_TYPE_free);
    }
};
using AnySequencePtr = std::unique_ptr<STACK_OF(ASN1_TYPE), AnySequenceFree>;

// The stack of PKCS7_get0_signers holds references owned by the message: only the stack is freed.
struct SignerStackFree {
    void operator()(STACK_OF(X509) * signers) const { sk_X509_free(signers); }
};
using SignerStackPtr = std::unique_ptr<STACK_OF(X509), SignerStackFree>;

struct OpenSslBytesFree {
    void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};
using OpenSslBytesPtr = std::unique_ptr<unsigned char, OpenSslBytesFree>;

// OpenSSL keeps the reasons of failed calls in a per-thread queue; every check leaves it empty.
class ErrorQueueGuard {
  public:
    ErrorQueueGuard() = default;
    ErrorQueueGuard(const ErrorQueueGuard&) = delete;
    ErrorQueueGuard& operator=(const ErrorQueueGuard&) = delete;
    ~ErrorQueueGuard() { ERR_clear_error(); }
};

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

Text StringText(const ASN1_STRING* value) {
    unsigned char* raw = nullptr;
    const int length = ASN1_STRING_to_UTF8(&raw, value);
    const OpenSslBytesPtr utf8(raw);
    if (length < 0 || !utf8)
        return {};
    return Utf8ToText(std::string_view(reinterpret_cast<const char*>(utf8.get()),
                                       static_cast<std::size_t>(length)));
}

Text SimpleDisplayName(X509* certificate) {
    const X509_NAME* subject = X509_get_subject_name(certificate);
    for (const int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                          NID_pkcs9_emailAddress}) {
        const int index = X509_NAME_get_index_by_NID(subject, nid, -1);
        if (index >= 0)
            return StringText(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    }

    const GeneralNamesPtr alternatives(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
    if (!alternatives)
        return {};
    const int count = sk_GENERAL_NAME_num(alternatives.get());
    for (int i = 0; i < count; ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
        if (name->type == GEN_EMAIL)
            return StringText(name->d.rfc822Name);
    }
    for (int i = 0; i < count; ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
        if (name->type == GEN_DNS)
            return StringText(name->d.dNSName);
        if (name->type == GEN_URI)
            return StringText(name->d.uniformResourceIdentifier);
    }
    return {};
}

// ---- Signed messages ----

constexpr const char* kSpcIndirectDataOid = "1.3.6.1.4.1.311.2.1.4";
constexpr const char* kSpcPeImageDataOid = "1.3.6.1.4.1.311.2.1.15";

bool IsObject(const ASN1_OBJECT* object, const char* dotted) {
    const ObjectPtr wanted(OBJ_txt2obj(dotted, 1));
    return object && wanted && OBJ_cmp(object, wanted.get()) == 0;
}

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

struct SignedMessage {
    Pkcs7Ptr pkcs7;
    // The DER of the content, for contents other than plain data.
    const ASN1_STRING* content = nullptr;
};

std::optional<SignedMessage> DecodeSignedMessage(std::span<const std::uint8_t> message) {
    if (message.empty() || message.size() > static_cast<std::size_t>(LONG_MAX))
        return std::nullopt;
    const unsigned char* at = message.data();
    SignedMessage decoded{Pkcs7Ptr(d2i_PKCS7(nullptr, &at, static_cast<long>(message.size()))),
                          nullptr};
    // The signed data itself is optional in the grammar, and so is everything inside it.
    if (!decoded.pkcs7 || !PKCS7_type_is_signed(decoded.pkcs7.get()) || !decoded.pkcs7->d.sign)
        return std::nullopt;
    const PKCS7* contents = decoded.pkcs7->d.sign->contents;
    if (!contents)
        return std::nullopt;
    if (!PKCS7_type_is_data(contents)) {
        // The union holds an ASN1_TYPE only for content types PKCS #7 does not define itself.
        switch (OBJ_obj2nid(contents->type)) {
            case NID_pkcs7_signed:
            case NID_pkcs7_enveloped:
            case NID_pkcs7_signedAndEnveloped:
            case NID_pkcs7_digest:
            case NID_pkcs7_encrypted:
                return std::nullopt;
            default:
                break;
        }
        const ASN1_TYPE* other = contents->d.other;
        if (!other || ASN1_TYPE_get(other) != V_ASN1_SEQUENCE)
            return std::nullopt;
        decoded.content = other->value.sequence;
    }
    return decoded;
}

// Verifies the signature of signer 0 over the content without judging its certificate; the
// content hashed for a non-data content is the inside of its outer SEQUENCE, as Authenticode
// signs it.
X509* VerifySignature(const SignedMessage& message) {
    BioChainPtr content;
    if (message.content) {
        const unsigned char* at = ASN1_STRING_get0_data(message.content);
        const long total = ASN1_STRING_length(message.content);
        const unsigned char* const end = at + total;
        long length = 0;
        int tag = 0;
        int cls = 0;
        const int form = ASN1_get_object(&at, &length, &tag, &cls, total);
        if ((form & 0x80) != 0 || form == 0x21 || tag != V_ASN1_SEQUENCE || length > end - at ||
            length > INT_MAX)
            return nullptr;
        // Behind a buffering filter: PKCS7_verify copies a plain memory BIO into one of its
        // own, which OpenSSL 3.0 does not free when the message names a digest it cannot make.
        BioPtr memory(BIO_new_mem_buf(at, static_cast<int>(length)));
        content.reset(BIO_new(BIO_f_buffer()));
        if (!memory || !content)
            return nullptr;
        BIO_push(content.get(), memory.release());
    }
    if (PKCS7_verify(message.pkcs7.get(), nullptr, nullptr, content.get(), nullptr,
                     PKCS7_NOVERIFY) != 1)
        return nullptr;
    const SignerStackPtr signers(PKCS7_get0_signers(message.pkcs7.get(), nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) < 1)
        return nullptr;
    return sk_X509_value(signers.get(), 0);
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

// Hashes the file without its CheckSum, its certificate-table directory entry and the table.
std::optional<std::vector<std::uint8_t>> ComputeImageDigest(ByteSource& file,
                                                            const PeCertificateLayout& layout,
                                                            const EVP_MD* algorithm) {
    const MdCtxPtr context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1)
        return std::nullopt;

    const std::uint64_t size = file.Size();
    const std::uint64_t tableEnd = std::uint64_t{layout.tableOffset} + layout.tableSize;
    const std::array<std::pair<std::uint64_t, std::uint64_t>, 4> ranges{{
        {0, layout.checksumOffset},
        {layout.checksumOffset + 4, layout.directoryOffset},
        {layout.directoryOffset + 8, layout.tableOffset},
        {tableEnd, size},
    }};
    std::vector<std::uint8_t> chunk(1 << 16);
    for (const auto& [begin, end] : ranges) {
        if (begin > end || end > size)
            return std::nullopt;
        for (std::uint64_t at = begin; at < end;) {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), end - at));
            const std::span<std::uint8_t> piece(chunk.data(), take);
            if (!file.ReadAt(at, piece) ||
                EVP_DigestUpdate(context.get(), piece.data(), piece.size()) != 1)
                return std::nullopt;
            at += take;
        }
    }
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1)
        return std::nullopt;
    digest.resize(length);
    return digest;
}

// ---- Trust in the signer ----

std::uint32_t VerifyChain(const std::string& caBundle, X509* signer, STACK_OF(X509) * carried) {
    const StorePtr store(X509_STORE_new());
    if (!store)
        return trust_status::kChaining;
    const int loaded = caBundle.empty() ? X509_STORE_set_default_paths(store.get())
                                        : X509_STORE_load_file(store.get(), caBundle.c_str());
    if (loaded != 1)
        return trust_status::kUntrustedRoot;

    const StoreCtxPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store.get(), signer, carried) != 1)
        return trust_status::kChaining;
    // The leaf's usage is judged below, for code signing; no other purpose applies.
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY);
    if (X509_verify_cert(context.get()) == 1)
        return trust_status::kTrusted;
    switch (X509_STORE_CTX_get_error(context.get())) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return trust_status::kUntrustedRoot;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return trust_status::kExpired;
        default:
            return trust_status::kChaining;
    }
}

bool MaySignCode(X509* signer) {
    const std::uint32_t flags = X509_get_extension_flags(signer);
    if ((flags & EXFLAG_XKUSAGE) != 0 &&
        (X509_get_extended_key_usage(signer) & (XKU_CODE_SIGN | XKU_ANYEKU)) == 0)
        return false;
    if ((flags & EXFLAG_KUSAGE) != 0 && (X509_get_key_usage(signer) & KU_DIGITAL_SIGNATURE) == 0)
        return false;
    return true;
}

}  // namespace

OpenSslTrustApi::OpenSslTrustApi(const HostPaths& paths, std::string caBundle)
    : paths_(paths), caBundle_(std::move(caBundle)) {}

std::uint32_t OpenSslTrustApi::VerifyTrust(const Text& path) {
    const ErrorQueueGuard errors;
    const std::unique_ptr<PosixTrustFile> file = OpenRegularFile(paths_.ToHost(path));
    if (!file)
        return trust_status::kFileNotFound;
    const std::optional<PeCertificateLayout> layout = ReadCertificateLayout(*file);
    if (!layout)
        return trust_status::kSubjectFormUnknown;
    const std::optional<std::vector<CertificateEntry>> entries =
        ReadCertificateEntries(*file, *layout);
    if (!entries || entries->empty() || entries->front().type != kCertificateTypePkcsSignedData)
        return trust_status::kNoSignature;

    const CertificateEntry& entry = entries->front();
    std::vector<std::uint8_t> message(entry.length - kCertificateHeaderSize);
    if (!file->ReadAt(entry.offset + kCertificateHeaderSize, message))
        return trust_status::kNoSignature;
    const std::optional<SignedMessage> decoded = DecodeSignedMessage(message);
    if (!decoded || !decoded->content ||
        !IsObject(decoded->pkcs7->d.sign->contents->type, kSpcIndirectDataOid))
        return trust_status::kBadMessage;
    const std::optional<ImageDigest> expected = IndirectDataDigest(decoded->content);
    if (!expected)
        return trust_status::kBadMessage;

    X509* signer = VerifySignature(*decoded);
    if (!signer)
        return trust_status::kBadSignature;

    if (!expected->algorithm)
        return trust_status::kBadAlgorithm;
    const std::optional<std::vector<std::uint8_t>> actual =
        ComputeImageDigest(*file, *layout, expected->algorithm);
    if (!actual || *actual != expected->value)
        return trust_status::kBadDigest;

    const std::uint32_t chain = VerifyChain(caBundle_, signer, decoded->pkcs7->d.sign->cert);
    if (chain != trust_status::kTrusted)
        return chain;
    if (!MaySignCode(signer))
        return trust_status::kWrongUsage;
    return trust_status::kTrusted;
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
