// The Windows side of the signature check: WinVerifyTrust for the verdict; imagehlp, the signed
// message and the certificate name calls of crypt32 for the signer.
#pragma once

#include <memory>
#include <optional>

#include "trust/file_trust.h"

namespace tolvessa::win32 {

// The calls of TrustApi as Windows makes them. File access sees the real System32 of a 64-bit
// system.
class Win32TrustApi : public TrustApi {
  public:
    // WinVerifyTrust(INVALID_HANDLE_VALUE, WINTRUST_ACTION_GENERIC_VERIFY_V2, data): no UI, no
    // revocation checks, the file by its path, no state kept. Catalogs are not consulted. The
    // WOW64 redirection stays on; a 32-bit process on 64-bit Windows passes a path in the system
    // directory as its Sysnative alias (ShellSystemFolderAlias, AliasSystemFolder).
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

}  // namespace tolvessa::win32
