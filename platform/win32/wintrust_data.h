// The WinVerifyTrust structures as the trust API and the signature engine fill them, and the
// owner of a certificate context.
#pragma once

#include <windows.h>
// After windows.h:
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <memory>

namespace tolvessa::win32 {

// WINTRUST_ACTION_GENERIC_VERIFY_V2: the Authenticode policy.
inline constexpr GUID kGenericVerifyV2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

// The structure sizes the verifier is given: WINTRUST_DATA up to and with dwUIContext (the form
// without signature settings), and WINTRUST_FILE_INFO whole.
inline constexpr DWORD kTrustDataSize = offsetof(WINTRUST_DATA, dwUIContext) + sizeof(DWORD);
inline constexpr DWORD kFileInfoSize = sizeof(WINTRUST_FILE_INFO);
#if !defined(_WIN64)
static_assert(kTrustDataSize == 48);
static_assert(kFileInfoSize == 16);
#endif

struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const {
        ::CertFreeCertificateContext(certificate);
    }
};
using ScopedCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;

}  // namespace tolvessa::win32
