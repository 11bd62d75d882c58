// What the host's signature checks share, on OpenSSL: owners of OpenSSL objects, PKCS #7 signed
// messages whose content is signed the way Authenticode signs it, the trust store with the
// code-signing rules, and a certificate's simple display name.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "inventory/text.h"

namespace tolvessa::host {

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

// OpenSSL keeps the reasons of failed calls in a per-thread queue; every check leaves it empty.
class ErrorQueueGuard {
  public:
    ErrorQueueGuard() = default;
    ErrorQueueGuard(const ErrorQueueGuard&) = delete;
    ErrorQueueGuard& operator=(const ErrorQueueGuard&) = delete;
    ~ErrorQueueGuard() { ERR_clear_error(); }
};

// ---- Signed messages ----

struct SignedMessage {
    Pkcs7Ptr pkcs7;
    // The DER of the content, for contents other than plain data.
    const ASN1_STRING* content = nullptr;
};

// A PKCS #7 signed-data message with its content; nothing for anything else.
std::optional<SignedMessage> DecodeSignedMessage(std::span<const std::uint8_t> message);

// Whether the message's content has the content type `dotted`.
bool HasContentType(const SignedMessage& message, const char* dotted);
bool IsObject(const ASN1_OBJECT* object, const char* dotted);

// The number of signers the message names.
int SignerCount(const SignedMessage& message);

// Verifies the signature of signer 0 over the content without judging its certificate; the
// content hashed for a non-data content is the inside of its outer SEQUENCE, as Authenticode
// signs it. The signer's certificate (owned by the message), or null.
X509* VerifySignature(const SignedMessage& message);

// The certificate of signer 0 among those the message carries, found by issuer and serial number
// without verifying anything; null when it is not there. For naming the signer of a message whose
// signature does not verify.
X509* CarriedSigner(const SignedMessage& message);

// ---- Trust in a signer ----

// The roots a signer's chain must end at, loaded once; safe to use from several threads at once.
class TrustStore {
  public:
    // `caBundle` names a PEM file of trusted roots; empty means the system's trust store.
    explicit TrustStore(const std::string& caBundle);

    // 0 when the chain of `signer` (helped by the `carried` certificates) ends at a trusted root
    // and is valid at the time `at` (nothing: now); kUntrustedRoot when it ends elsewhere or no
    // roots could be loaded, kExpired for a certificate out of its validity at that time,
    // kChaining for the rest.
    std::uint32_t Verify(X509* signer, STACK_OF(X509) * carried,
                         std::optional<std::time_t> at = std::nullopt) const;

  private:
    StorePtr store_;
};

// Whether `signer` may sign code: an extended key usage, when present, names code signing (or any
// usage); a key usage, when present, allows digital signatures.
bool MaySignCode(X509* signer);

// The simple display name of a certificate (see SimpleDisplayNameOfCertificate).
Text SimpleDisplayName(X509* certificate);

}  // namespace tolvessa::host
