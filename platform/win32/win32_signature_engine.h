// The signature engine of a file's row: WinVerifyTrust on its embedded signature, then the
// system's catalogs.
#pragma once

#include <memory>
#include <optional>

#include "trust/file_verdict.h"

namespace tolvessa::win32 {

// The signature engine of one worker thread. It keeps the worker's catalog administrator
// contexts (SHA-256 and SHA-1), acquired at its first catalog look-up and released with it: a
// worker makes one engine and keeps it, and no two threads use one engine at once. The file is
// opened with the WOW64 redirection off for the open alone, so a 32-bit process on a 64-bit
// system sees the real System32; the verifier and the catalog calls then get the open handle and
// run with the redirection on, so the DLLs they load on the worker's thread are the process's own.
class Win32SignatureEngine : public SignatureEngine {
  public:
    Win32SignatureEngine();
    ~Win32SignatureEngine() override;
    Win32SignatureEngine(const Win32SignatureEngine&) = delete;
    Win32SignatureEngine& operator=(const Win32SignatureEngine&) = delete;

    // CreateFileW (GENERIC_READ, FILE_SHARE_READ, as the verifier opens a file itself), then
    // WinVerifyTrust(WINTRUST_ACTION_GENERIC_VERIFY_V2) on that handle with the path: no UI, no
    // revocation checks, no network retrieval; the state verified, the signer's name read from
    // its provider data (the first signer's certificate), the state closed. A signature that
    // fails without a signer in the provider data is named as GetSignerName names it. A file
    // that cannot be opened gives CreateFileW's error as an HRESULT (0x8007xxxx): "not found",
    // or one that IsUnreadableStatus knows.
    Answer CheckEmbedded(const Text& path) override;

    // The catalogs that list the file: with the SHA-256 context, then the SHA-1 one, the file's
    // hash for that context (CryptCATAdminCalcHashFromFileHandle2 on the file's handle where the
    // system has it and the file can be opened, else the image hash in `digests`) is looked up
    // with CryptCATAdminEnumCatalogFromHash, and each catalog found is checked by WinVerifyTrust
    // in catalog mode (the hash as the member tag, in upper-case hex, the member's handle and
    // path); the first catalog that passes, else the first found. Nothing when no catalog lists
    // the file or no catalog context can be had.
    std::optional<Answer> CheckCatalogs(const Text& path, const FileDigests& digests) override;

  protected:
    // Every WinVerifyTrust call of the engine goes through here (`data` is its WINTRUST_DATA),
    // so a test can look at each call as it is made.
    virtual long VerifyTrustCall(void* data);

  private:
    struct CatalogAdmins;
    std::unique_ptr<CatalogAdmins> admins_;
    bool acquired_ = false;
};

}  // namespace tolvessa::win32
