// The Windows side of the signature check: WinVerifyTrust for the verdict; imagehlp, the signed
// message and the certificate name calls of crypt32 for the signer; and the command's message
// boxes.
#pragma once

#include "inventory/file_queries.h"
#include "trust/file_trust.h"
#include "trust/verify_signature.h"

namespace tolvessa::win32 {

// The calls of TrustApi as Windows makes them. File access sees the real System32 of a 64-bit
// system.
class Win32TrustApi : public TrustApi {
  public:
    // WinVerifyTrust(INVALID_HANDLE_VALUE, WINTRUST_ACTION_GENERIC_VERIFY_V2, data): no UI, no
    // revocation checks, the file by its path, no state kept. Catalogs are not consulted.
    std::uint32_t VerifyTrust(const Text& path) override;

    // CreateFileW: GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, random access.
    std::unique_ptr<File> OpenForRead(const Text& path) override;
    // ImageEnumerateCertificates, every type.
    std::optional<std::uint32_t> EnumerateCertificates(File& file) override;
    // ImageGetCertificateHeader.
    bool ReadCertificateHeader(File& file, std::uint32_t index,
                               std::span<std::uint8_t> buffer) override;
    // ImageGetCertificateData with the buffer's dwLength field as the in/out length.
    bool ReadCertificateData(File& file, std::uint32_t index,
                             std::span<std::uint8_t> buffer) override;
    // CryptVerifyMessageSignature, PKCS #7 and X.509 encodings, signer 0.
    std::unique_ptr<Certificate> VerifyMessageSignature(
        std::span<const std::uint8_t> message) override;
    // CertGetNameStringW, CERT_NAME_SIMPLE_DISPLAY_TYPE.
    std::uint32_t SimpleDisplayName(Certificate& certificate, std::span<char16_t> buffer) override;
};

// IsFileSigned and GetSignerName on this system.
bool IsFileSigned(const Text& path);
Text GetSignerName(const Text& path);

// A message box under the program's convention: no owner, the application title as caption,
// topmost and brought to the foreground, the kind's icon, an OK button.
void ShowMessage(MessageKind kind, const Text& text);

// The "Verify File Signature" command on this system: the existence test over `files`, the
// system's verifier and signer name, and real message boxes. `files` must outlive the result.
SignatureCommand Win32SignatureCommand(FileAttributeApi& files);

}  // namespace tolvessa::win32
