// The signature check and the signer name (IsFileSigned, GetSignerName) over the platform's
// trust verifier, certificate table calls and message verification.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "inventory/text.h"
#include "trust/certificate_table.h"

namespace tolvessa {

// Results of the trust verifier; 0 is the only acceptance. The values are the platform's, so
// both sides of a check can be compared where they agree.
namespace trust_status {
inline constexpr std::uint32_t kTrusted = 0;
inline constexpr std::uint32_t kFileNotFound = 0x80070002;  // the file cannot be opened
inline constexpr std::uint32_t kPathNotFound = 0x80070003;  // nor its folder
// The file is there but cannot be read (see IsUnreadableStatus for all of them).
inline constexpr std::uint32_t kAccessDenied = 0x80070005;        // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kSharingViolation = 0x80070020;    // ERROR_SHARING_VIOLATION
inline constexpr std::uint32_t kLockViolation = 0x80070021;       // ERROR_LOCK_VIOLATION
inline constexpr std::uint32_t kDeviceError = 0x8007045D;         // ERROR_IO_DEVICE
inline constexpr std::uint32_t kNoSignature = 0x800B0100;         // TRUST_E_NOSIGNATURE
inline constexpr std::uint32_t kSubjectFormUnknown = 0x800B0003;  // TRUST_E_SUBJECT_FORM_UNKNOWN
inline constexpr std::uint32_t kBadMessage = 0x8009310B;          // CRYPT_E_ASN1_BADTAG
inline constexpr std::uint32_t kBadSignature = 0x80090006;        // NTE_BAD_SIGNATURE
inline constexpr std::uint32_t kBadAlgorithm = 0x80090008;        // NTE_BAD_ALGID
inline constexpr std::uint32_t kBadDigest = 0x80096010;           // TRUST_E_BAD_DIGEST
inline constexpr std::uint32_t kExpired = 0x800B0101;             // CERT_E_EXPIRED
inline constexpr std::uint32_t kUntrustedRoot = 0x800B0109;       // CERT_E_UNTRUSTEDROOT
inline constexpr std::uint32_t kChaining = 0x800B010A;            // CERT_E_CHAINING
inline constexpr std::uint32_t kWrongUsage = 0x800B0110;          // CERT_E_WRONG_USAGE
}  // namespace trust_status

// The calls behind the two operations (WinVerifyTrust; CreateFileW, ImageEnumerateCertificates,
// ImageGetCertificateHeader, ImageGetCertificateData, CryptVerifyMessageSignature,
// CertGetNameStringW, CertFreeCertificateContext and CloseHandle on Windows).
class TrustApi {
  public:
    // An open file; destroying it closes it. Its bytes can be read for the bounds checks.
    class File : public ByteSource {};
    // A signer's certificate; destroying it releases it.
    class Certificate {
      public:
        virtual ~Certificate() = default;
    };

    virtual ~TrustApi() = default;

    // The verdict on the file's embedded signature: 0 when it is present, intact and trusted.
    virtual std::uint32_t VerifyTrust(const Text& path) = 0;

    // Opens the file for reading (others may read too); nothing when it cannot be opened.
    virtual std::unique_ptr<File> OpenForRead(const Text& path) = 0;
    // The number of entries in the certificate table, of every type; nothing on failure.
    virtual std::optional<std::uint32_t> EnumerateCertificates(File& file) = 0;
    // Copies the 8-byte header of entry `index` to the start of `buffer`.
    virtual bool ReadCertificateHeader(File& file, std::uint32_t index,
                                       std::span<std::uint8_t> buffer) = 0;
    // Copies the whole entry `index`, header and data, to the start of `buffer`. The in/out length
    // is the buffer's own leading dwLength field: on input the room the caller vouches for, on
    // success the entry's length.
    virtual bool ReadCertificateData(File& file, std::uint32_t index,
                                     std::span<std::uint8_t> buffer) = 0;
    // Checks the signature of a PKCS #7 signed message (signer 0), not the trust in its
    // certificate; the signer's certificate, or nothing when the signature does not verify.
    virtual std::unique_ptr<Certificate> VerifyMessageSignature(
        std::span<const std::uint8_t> message) = 0;
    // The certificate's simple display name: returns its length in characters with the
    // terminating NUL; when `buffer` is not empty, writes as much of the name and a NUL as fits.
    virtual std::uint32_t SimpleDisplayName(Certificate& certificate,
                                            std::span<char16_t> buffer) = 0;
};

// True exactly when the verifier returns 0 for the file.
bool IsFileSigned(TrustApi& api, const Text& path);

// The simple display name of the certificate that signed the one entry of the file's certificate
// table; the empty text when the file cannot be opened, the table holds no or several entries or
// cannot be read, the entry's dwLength is shorter than its header or reaches past the end of the
// file, the message signature does not verify, or the name is empty. Certificate, buffer and file
// are released on every way out, in that order. Never raises.
Text GetSignerName(TrustApi& api, const Text& path);

// The header buffer's size: the header, with room to spare for the first bytes of the data.
inline constexpr std::size_t kCertificateHeaderBufferSize = 15;
// What the entry buffer holds beyond the entry's dwLength.
inline constexpr std::size_t kCertificateBufferSlack = 12;

}  // namespace tolvessa
