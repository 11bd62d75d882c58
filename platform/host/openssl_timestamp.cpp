#include "platform/host/openssl_timestamp.h"

#include <openssl/cms.h>
#include <openssl/objects.h>
#include <openssl/ts.h>

#include <cstring>

#include "trust/file_trust.h"

namespace tolvessa::host {

namespace {

constexpr const char* kRfc3161TimestampOid = "1.3.6.1.4.1.311.3.3.1";
constexpr const char* kLifetimeSigningOid = "1.3.6.1.4.1.311.10.3.13";

using CmsPtr = std::unique_ptr<CMS_ContentInfo, OpenSslFree<CMS_ContentInfo_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, OpenSslFree<TS_TST_INFO_free>>;
using SignerInfoPtr = std::unique_ptr<PKCS7_SIGNER_INFO, OpenSslFree<PKCS7_SIGNER_INFO_free>>;
using KeyUsagesPtr = std::unique_ptr<EXTENDED_KEY_USAGE, OpenSslFree<EXTENDED_KEY_USAGE_free>>;

struct CertificateStackFree {
    void operator()(STACK_OF(X509) * certificates) const {
        sk_X509_pop_free(certificates, X509_free);
    }
};
using CertificateStackPtr = std::unique_ptr<STACK_OF(X509), CertificateStackFree>;

// A stack whose certificates are owned elsewhere: only the stack is freed.
struct BorrowedStackFree {
    void operator()(STACK_OF(X509) * certificates) const { sk_X509_free(certificates); }
};
using BorrowedStackPtr = std::unique_ptr<STACK_OF(X509), BorrowedStackFree>;

struct OpenSslBytesFree {
    void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};
using OpenSslBytesPtr = std::unique_ptr<unsigned char, OpenSslBytesFree>;

std::span<const std::uint8_t> Bytes(const ASN1_STRING* value) {
    if (!value || ASN1_STRING_length(value) <= 0)
        return {};
    return {ASN1_STRING_get0_data(value), static_cast<std::size_t>(ASN1_STRING_length(value))};
}

// The digests a timestamp may use; nothing for others.
const EVP_MD* TimestampDigest(const ASN1_OBJECT* algorithm) {
    switch (OBJ_obj2nid(algorithm)) {
        case NID_sha1:
            return EVP_sha1();
        case NID_sha256:
            return EVP_sha256();
        case NID_sha384:
            return EVP_sha384();
        case NID_sha512:
            return EVP_sha512();
        default:
            return nullptr;
    }
}

bool DigestMatches(const EVP_MD* algorithm, std::span<const std::uint8_t> data,
                   const ASN1_STRING* expected) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!algorithm || data.empty() ||
        EVP_Digest(data.data(), data.size(), digest, &length, algorithm, nullptr) != 1)
        return false;
    const std::span<const std::uint8_t> want = Bytes(expected);
    return want.size() == length && std::memcmp(want.data(), digest, length) == 0;
}

// The value `index` of the first attribute named `object` in `attributes`, when it has the ASN.1
// type `type`; null otherwise.
const ASN1_TYPE* AttributeValue(const STACK_OF(X509_ATTRIBUTE) * attributes,
                                const ASN1_OBJECT* object, int type) {
    const int at = X509at_get_attr_by_OBJ(attributes, object, -1);
    if (at < 0)
        return nullptr;
    X509_ATTRIBUTE* attribute = X509at_get_attr(attributes, at);
    const ASN1_TYPE* value = attribute ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
    return value && ASN1_TYPE_get(value) == type ? value : nullptr;
}

std::optional<std::time_t> ToTime(const ASN1_TIME* time) {
    std::tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return std::nullopt;
    const std::time_t seconds = timegm(&parts);
    if (seconds == static_cast<std::time_t>(-1))
        return std::nullopt;
    return seconds;
}

// Whether the certificate of a timestamp's signer names time stamping among its usages, and its
// chain ends at a trusted root at the time the timestamp states. Windows judges a countersigner
// as of that time too: CRYPT_PROVIDER_SGNR, which "provides information about a signer or
// countersigner", has "sftVerifyAsOf: The current time, or the time stamp."
// (learn.microsoft.com/windows/win32/api/wintrust/ns-wintrust-crypt_provider_sgnr). So a
// timestamp made while its authority's certificate was valid stays valid after it expires.
bool TrustedTimestampSigner(X509* signer, STACK_OF(X509) * carried, std::time_t at,
                            const TrustStore& store) {
    if ((X509_get_extension_flags(signer) & EXFLAG_XKUSAGE) == 0 ||
        (X509_get_extended_key_usage(signer) & XKU_TIMESTAMP) == 0)
        return false;
    return store.Verify(signer, carried, at) == trust_status::kTrusted;
}

// ---- RFC 3161 time-stamp tokens ----

std::optional<std::time_t> TokenTime(const SignedMessage& message, const ASN1_TYPE* value,
                                     std::span<const std::uint8_t> stamped,
                                     const TrustStore& store) {
    if (ASN1_TYPE_get(value) != V_ASN1_SEQUENCE)
        return std::nullopt;
    const ASN1_STRING* der = value->value.sequence;
    const unsigned char* at = ASN1_STRING_get0_data(der);
    const CmsPtr token(d2i_CMS_ContentInfo(nullptr, &at, ASN1_STRING_length(der)));
    if (!token || OBJ_obj2nid(CMS_get0_type(token.get())) != NID_pkcs7_signed ||
        OBJ_obj2nid(CMS_get0_eContentType(token.get())) != NID_id_smime_ct_TSTInfo)
        return std::nullopt;
    ASN1_OCTET_STRING** content = CMS_get0_content(token.get());
    STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(token.get());
    if (!content || !*content || !signerInfos || sk_CMS_SignerInfo_num(signerInfos) != 1)
        return std::nullopt;

    // The token's own signature: its signed attributes over the TSTInfo, and their signature by
    // the certificate the token carries (CMS_get1_certs passes over attribute certificates).
    if (CMS_verify(token.get(), nullptr, nullptr, nullptr, nullptr,
                   CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1)
        return std::nullopt;
    const BorrowedStackPtr signers(CMS_get0_signers(token.get()));
    if (!signers || sk_X509_num(signers.get()) != 1)
        return std::nullopt;
    X509* signer = sk_X509_value(signers.get(), 0);

    const unsigned char* info = ASN1_STRING_get0_data(*content);
    const TstInfoPtr tst(d2i_TS_TST_INFO(nullptr, &info, ASN1_STRING_length(*content)));
    if (!tst)
        return std::nullopt;
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(tst.get());
    const X509_ALGOR* algorithm = imprint ? TS_MSG_IMPRINT_get_algo(imprint) : nullptr;
    if (!algorithm || !DigestMatches(TimestampDigest(algorithm->algorithm), stamped,
                                     TS_MSG_IMPRINT_get_msg(imprint)))
        return std::nullopt;
    const std::optional<std::time_t> time = ToTime(TS_TST_INFO_get_time(tst.get()));
    if (!time)
        return std::nullopt;

    // The authority's chain, helped by the token's certificates and the message's.
    CertificateStackPtr carried(CMS_get1_certs(token.get()));
    if (!carried)
        carried.reset(sk_X509_new_null());
    const STACK_OF(X509)* outer = message.pkcs7->d.sign->cert;
    for (int i = 0; carried && i < sk_X509_num(outer); ++i) {
        X509* certificate = sk_X509_value(outer, i);
        if (X509_up_ref(certificate) != 1)
            return std::nullopt;
        if (sk_X509_push(carried.get(), certificate) <= 0) {
            X509_free(certificate);
            return std::nullopt;
        }
    }
    if (!carried || !TrustedTimestampSigner(signer, carried.get(), *time, store))
        return std::nullopt;
    return time;
}

// ---- PKCS #9 countersignatures ----

std::optional<std::time_t> CountersignatureTime(const SignedMessage& message,
                                                const ASN1_TYPE* value,
                                                std::span<const std::uint8_t> stamped,
                                                const TrustStore& store) {
    if (ASN1_TYPE_get(value) != V_ASN1_SEQUENCE)
        return std::nullopt;
    const ASN1_STRING* der = value->value.sequence;
    const unsigned char* at = ASN1_STRING_get0_data(der);
    const SignerInfoPtr counter(d2i_PKCS7_SIGNER_INFO(nullptr, &at, ASN1_STRING_length(der)));
    if (!counter || !counter->auth_attr || !counter->issuer_and_serial || !counter->digest_alg ||
        !counter->enc_digest)
        return std::nullopt;
    STACK_OF(X509)* carried = message.pkcs7->d.sign->cert;
    X509* signer = X509_find_by_issuer_and_serial(carried, counter->issuer_and_serial->issuer,
                                                  counter->issuer_and_serial->serial);
    if (!signer)
        return std::nullopt;

    // The digest it signs is the one of the signature it stamps.
    const EVP_MD* algorithm = TimestampDigest(counter->digest_alg->algorithm);
    const ASN1_TYPE* digest = AttributeValue(
        counter->auth_attr, OBJ_nid2obj(NID_pkcs9_messageDigest), V_ASN1_OCTET_STRING);
    if (!digest || !DigestMatches(algorithm, stamped, digest->value.octet_string))
        return std::nullopt;

    // Its signature over the DER of its authenticated attributes, as a SET OF.
    unsigned char* encoded = nullptr;
    const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(counter->auth_attr), &encoded,
                                     ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    const OpenSslBytesPtr attributes(encoded);
    EVP_PKEY* key = X509_get0_pubkey(signer);
    const MdCtxPtr context(EVP_MD_CTX_new());
    const std::span<const std::uint8_t> signature = Bytes(counter->enc_digest);
    if (length <= 0 || !attributes || !key || !context || signature.empty() ||
        EVP_DigestVerifyInit(context.get(), nullptr, algorithm, nullptr, key) != 1 ||
        EVP_DigestVerify(context.get(), signature.data(), signature.size(), attributes.get(),
                         static_cast<std::size_t>(length)) != 1)
        return std::nullopt;

    const ASN1_OBJECT* signingTime = OBJ_nid2obj(NID_pkcs9_signingTime);
    const ASN1_TYPE* time = AttributeValue(counter->auth_attr, signingTime, V_ASN1_UTCTIME);
    if (!time)
        time = AttributeValue(counter->auth_attr, signingTime, V_ASN1_GENERALIZEDTIME);
    const std::optional<std::time_t> seconds =
        time ? ToTime(time->value.asn1_string) : std::nullopt;
    if (!seconds || !TrustedTimestampSigner(signer, carried, *seconds, store))
        return std::nullopt;
    return seconds;
}

}  // namespace

std::optional<std::time_t> TimestampTime(const SignedMessage& message, const TrustStore& store) {
    const STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(message.pkcs7.get());
    PKCS7_SIGNER_INFO* outer = infos && sk_PKCS7_SIGNER_INFO_num(infos) > 0
                                   ? sk_PKCS7_SIGNER_INFO_value(infos, 0)
                                   : nullptr;
    if (!outer || !outer->unauth_attr)
        return std::nullopt;
    const std::span<const std::uint8_t> stamped = Bytes(outer->enc_digest);
    if (stamped.empty())
        return std::nullopt;

    const ObjectPtr token(OBJ_txt2obj(kRfc3161TimestampOid, 1));
    const ASN1_OBJECT* countersignature = OBJ_nid2obj(NID_pkcs9_countersignature);
    struct Form {
        const ASN1_OBJECT* type;
        std::optional<std::time_t> (*time)(const SignedMessage&, const ASN1_TYPE*,
                                           std::span<const std::uint8_t>, const TrustStore&);
    };
    for (const Form form :
         {Form{token.get(), TokenTime}, Form{countersignature, CountersignatureTime}}) {
        if (!form.type)
            continue;
        for (int at = X509at_get_attr_by_OBJ(outer->unauth_attr, form.type, -1); at >= 0;
             at = X509at_get_attr_by_OBJ(outer->unauth_attr, form.type, at)) {
            X509_ATTRIBUTE* attribute = X509at_get_attr(outer->unauth_attr, at);
            const int values = attribute ? X509_ATTRIBUTE_count(attribute) : 0;
            for (int i = 0; i < values; ++i) {
                const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, i);
                if (!value)
                    continue;
                if (const std::optional<std::time_t> time =
                        form.time(message, value, stamped, store))
                    return time;
            }
        }
    }
    return std::nullopt;
}

bool IsLifetimeSigner(X509* signer) {
    const KeyUsagesPtr usages(static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(signer, NID_ext_key_usage, nullptr, nullptr)));
    if (!usages)
        return false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages.get()); ++i) {
        if (IsObject(sk_ASN1_OBJECT_value(usages.get(), i), kLifetimeSigningOid))
            return true;
    }
    return false;
}

std::optional<std::time_t> SignerChainTime(const SignedMessage& message, X509* signer,
                                           const TrustStore& store) {
    // "If this flag is not set, all time stamped signatures are considered valid forever.
    // Setting this flag limits the valid lifetime of the signature to the lifetime of the
    // signing certificate." (WTD_LIFETIME_SIGNING_FLAG, learn.microsoft.com/windows/win32/api/
    // wintrust/ns-wintrust-wintrust_data); the lifetime-signing usage in the signer's
    // certificate asks the same of its own signatures (wincrypt.h: "This OID limits the valid
    // lifetime of the signature to the lifetime of the certificate.").
    if (IsLifetimeSigner(signer))
        return std::nullopt;
    return TimestampTime(message, store);
}

}  // namespace tolvessa::host
