#include "platform/host/openssl_signed_data.h"

#include <openssl/objects.h>

#include <climits>

#include "trust/file_trust.h"

namespace tolvessa::host {

namespace {

// The stack of PKCS7_get0_signers holds references owned by the message: only the stack is freed.
struct SignerStackFree {
    void operator()(STACK_OF(X509) * signers) const { sk_X509_free(signers); }
};
using SignerStackPtr = std::unique_ptr<STACK_OF(X509), SignerStackFree>;

struct OpenSslBytesFree {
    void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};
using OpenSslBytesPtr = std::unique_ptr<unsigned char, OpenSslBytesFree>;

Text StringText(const ASN1_STRING* value) {
    unsigned char* raw = nullptr;
    const int length = ASN1_STRING_to_UTF8(&raw, value);
    const OpenSslBytesPtr utf8(raw);
    if (length < 0 || !utf8)
        return {};
    return Utf8ToText(std::string_view(reinterpret_cast<const char*>(utf8.get()),
                                       static_cast<std::size_t>(length)));
}

}  // namespace

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

bool IsObject(const ASN1_OBJECT* object, const char* dotted) {
    const ObjectPtr wanted(OBJ_txt2obj(dotted, 1));
    return object && wanted && OBJ_cmp(object, wanted.get()) == 0;
}

bool HasContentType(const SignedMessage& message, const char* dotted) {
    return message.content && IsObject(message.pkcs7->d.sign->contents->type, dotted);
}

int SignerCount(const SignedMessage& message) {
    const STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(message.pkcs7.get());
    return infos ? sk_PKCS7_SIGNER_INFO_num(infos) : 0;
}

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

X509* CarriedSigner(const SignedMessage& message) {
    if (SignerCount(message) < 1)
        return nullptr;
    const SignerStackPtr signers(PKCS7_get0_signers(message.pkcs7.get(), nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) < 1)
        return nullptr;
    return sk_X509_value(signers.get(), 0);
}

TrustStore::TrustStore(const std::string& caBundle) : store_(X509_STORE_new()) {
    if (!store_)
        return;
    const int loaded = caBundle.empty() ? X509_STORE_set_default_paths(store_.get())
                                        : X509_STORE_load_file(store_.get(), caBundle.c_str());
    if (loaded != 1)
        store_.reset();
    ERR_clear_error();
}

std::uint32_t TrustStore::Verify(X509* signer, STACK_OF(X509) * carried,
                                 std::optional<std::time_t> at) const {
    if (!store_)
        return trust_status::kUntrustedRoot;
    const StoreCtxPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store_.get(), signer, carried) != 1)
        return trust_status::kChaining;
    // The leaf's usage is judged by MaySignCode, for code signing; no other purpose applies.
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY);
    if (at)
        X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()), *at);
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

}  // namespace tolvessa::host
