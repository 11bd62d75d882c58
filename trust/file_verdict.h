// The verdict on a file's signature, for its row: an embedded Authenticode signature first, then
// the system's catalogs, from the platform's verifier's answers.
#pragma once

#include <cstdint>
#include <optional>

#include "inventory/file_digests.h"
#include "inventory/row_findings.h"
#include "inventory/text.h"

namespace tolvessa {

// "Embedded", "Catalog", "Unsigned", "Invalid", "Untrusted", "Unreadable".
TextView VerdictText(SignatureVerdict verdict);

// Whether a verifier's status says that the file is there but could not be opened or read for
// the check (access denied, a sharing or lock violation, a read or device error), as opposed to
// "there is no such file" (kFileNotFound, kPathNotFound) and to anything about a signature. The
// table is in file_verdict.cpp.
bool IsUnreadableStatus(std::uint32_t status);

// The verdict of one verifier answer (the platform's status codes, see trust_status); nothing
// for "there is no signature of this kind" and for "there is no such file".
std::optional<SignatureVerdict> VerdictOfStatus(std::uint32_t status, SignatureVerdict valid);

// What the platform answers about one file: WinVerifyTrust and the system's catalogs on Windows
// (win32::Win32SignatureEngine), OpenSSL and a catalog folder on the host
// (host::OpenSslSignatureEngine). A worker makes one engine and keeps it for all its files; an
// engine is used by one thread at a time.
class SignatureEngine {
  public:
    struct Answer {
        std::uint32_t status = 0;  // the verifier's status, a trust_status code
        Text signer;               // the signer's simple display name, where known
        Text catalog;              // the catalog's file name, for a catalog's answer
    };
    virtual ~SignatureEngine() = default;
    // The embedded signature's check.
    virtual Answer CheckEmbedded(const Text& path) = 0;
    // The same check where the file's bytes are at hand from the one pass over it, with the
    // digests taken over them: an engine that can judge those bytes does so without reading the
    // file again; this one (WinVerifyTrust opens the file itself) checks the file by its path.
    virtual Answer CheckEmbeddedIn(const Text& path, ByteSource& /*bytes*/,
                                   const FileDigests& /*digests*/) {
        return CheckEmbedded(path);
    }
    // The catalog that lists the file by its image hash (digests.peSha256, digests.peSha1: the
    // digests step's, computed before), checked; nothing when no catalog lists it.
    virtual std::optional<Answer> CheckCatalogs(const Text& path, const FileDigests& digests) = 0;
};

// Embedded first; the catalogs only when there is no embedded signature. `digests` are the
// file's digests from ReadFileOnce (or ComputeFileDigests); `bytes`, when set, the bytes they
// were taken over, for CheckEmbeddedIn. When the embedded check could not read the file
// (IsUnreadableStatus) but the digests step did (its whole-file digests are there), the catalogs
// are still asked with the digests' image hashes and their verdict wins; otherwise the verdict
// is "Unreadable".
FileTrust JudgeFile(SignatureEngine& engine, const Text& path, const FileDigests& digests,
                    ByteSource* bytes = nullptr);

}  // namespace tolvessa
