// The trust verifier and certificate calls on a POSIX host, on OpenSSL: Authenticode checked in
// full (image digest, message signature, certificate chain, code-signing use), and the signer
// name by the platform's simple display name rules.
#pragma once

#include <string>

#include "inventory/file_digests.h"
#include "platform/host/host_paths.h"
#include "trust/file_trust.h"

namespace tolvessa::host {

// A signature's check: the verifier's status and, once the signer's certificate is known, its
// simple display name.
struct SignatureCheck {
    std::uint32_t status = 0;
    Text signer;
};

class OpenSslTrustApi : public TrustApi {
  public:
    // `caBundle` names a PEM file of trusted roots; empty means the system's trust store.
    // `paths` must outlive this object.
    explicit OpenSslTrustApi(const HostPaths& paths, std::string caBundle = {});

    // 0 only when all of these hold: the file is a PE image whose certificate table is well
    // formed; its first entry is a PKCS #7 signed message whose content is an
    // SpcIndirectDataContent for a PE image; the message signature verifies; the digest in that
    // content (SHA-1, SHA-256, SHA-384 or SHA-512) equals the image digest (the whole file
    // without the CheckSum field, the certificate-table directory entry and the table itself);
    // the signer's chain ends at a root of the trust store; and the signer may sign code (an
    // extended key usage, when present, names code signing; a key usage, when present, allows
    // digital signatures). Otherwise the platform's code for the first check that fails.
    std::uint32_t VerifyTrust(const Text& path) override;
    // The same check, with the name of the signer of the first entry of the table: given once
    // the message's signature verifies, and for a signature that does not, when the message
    // carries the signer's certificate.
    SignatureCheck CheckEmbedded(const Text& path);
    // The same check over a file's bytes already at hand. `digests`, when set, are the digests of
    // the one pass over those bytes: an image hash taken there (SHA-1 or SHA-256) is not taken
    // again.
    SignatureCheck CheckEmbeddedIn(ByteSource& file, const FileDigests* digests);

    std::unique_ptr<File> OpenForRead(const Text& path) override;
    std::optional<std::uint32_t> EnumerateCertificates(File& file) override;
    bool ReadCertificateHeader(File& file, std::uint32_t index,
                               std::span<std::uint8_t> buffer) override;
    bool ReadCertificateData(File& file, std::uint32_t index,
                             std::span<std::uint8_t> buffer) override;
    // The signature of the message over its content (for Authenticode, the bytes inside the
    // content's outer SEQUENCE), without judging the certificate.
    std::unique_ptr<Certificate> VerifyMessageSignature(
        std::span<const std::uint8_t> message) override;
    std::uint32_t SimpleDisplayName(Certificate& certificate, std::span<char16_t> buffer) override;

  private:
    const HostPaths& paths_;
    std::string caBundle_;
};

// The simple display name of a DER certificate, as the platform chooses it: the first of common
// name, organizational unit, organization, e-mail address found in the subject; else the first
// e-mail address of the subject alternative names; else their first DNS name or URI; else the
// empty text. The empty text also for a certificate that cannot be decoded.
Text SimpleDisplayNameOfCertificate(std::span<const std::uint8_t> der);

}  // namespace tolvessa::host
