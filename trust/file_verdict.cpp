#include "trust/file_verdict.h"

#include "trust/file_trust.h"

namespace tolvessa {

namespace {

constexpr std::uint32_t kExplicitDistrust = 0x800B0111;   // TRUST_E_EXPLICIT_DISTRUST
constexpr std::uint32_t kRevoked = 0x800B010C;            // CERT_E_REVOKED
constexpr std::uint32_t kUntrustedTestRoot = 0x800B010D;  // CERT_E_UNTRUSTEDTESTROOT

// The statuses that mean "the file is there, but it could not be read for the check": the
// HRESULT forms (0x8007xxxx, FACILITY_WIN32) of the Win32 errors of an open or a read that fails
// on an existing file. Whatever gives them (WinVerifyTrust, the engine's own open of the file,
// the host's open mapped from errno), the row says "Unreadable", never "Invalid". Not among
// them: "file not found" and "path not found" (the file is gone: no signature of any kind), and
// the FACILITY_WIN32 codes that are about the call rather than the file (E_INVALIDARG 0x80070057,
// E_OUTOFMEMORY 0x8007000E, E_HANDLE 0x80070006), which stay "Invalid" like every status not
// known here.
constexpr std::uint32_t kUnreadableStatuses[] = {
    trust_status::kAccessDenied,      // 5     ERROR_ACCESS_DENIED: the file's ACL, or a folder
    0x80070015,                       // 21    ERROR_NOT_READY: the device is not ready
    0x80070017,                       // 23    ERROR_CRC: a data error on the medium
    0x80070019,                       // 25    ERROR_SEEK
    0x8007001E,                       // 30    ERROR_READ_FAULT
    0x8007001F,                       // 31    ERROR_GEN_FAILURE: the device does not work
    trust_status::kSharingViolation,  // 32    ERROR_SHARING_VIOLATION: held open, not shared
    trust_status::kLockViolation,     // 33    ERROR_LOCK_VIOLATION: a locked byte range
    0x8007003B,                       // 59    ERROR_UNEXP_NET_ERR
    0x80070040,                       // 64    ERROR_NETNAME_DELETED: the share went away
    0x800700E1,                       // 225   ERROR_VIRUS_INFECTED: refused by the virus scanner
    0x800700E2,                       // 226   ERROR_VIRUS_DELETED
    0x800703EE,                       // 1006  ERROR_FILE_INVALID: the volume changed under it
    trust_status::kDeviceError,       // 1117  ERROR_IO_DEVICE
    0x80070570,                       // 1392  ERROR_FILE_CORRUPT
    0x80070571,                       // 1393  ERROR_DISK_CORRUPT
    0x80070780,                       // 1920  ERROR_CANT_ACCESS_FILE
};

}  // namespace

bool IsUnreadableStatus(std::uint32_t status) {
    for (const std::uint32_t unreadable : kUnreadableStatuses) {
        if (status == unreadable)
            return true;
    }
    return false;
}

TextView VerdictText(SignatureVerdict verdict) {
    switch (verdict) {
        case SignatureVerdict::kEmbedded:
            return u"Embedded";
        case SignatureVerdict::kCatalog:
            return u"Catalog";
        case SignatureVerdict::kInvalid:
            return u"Invalid";
        case SignatureVerdict::kUntrusted:
            return u"Untrusted";
        case SignatureVerdict::kUnreadable:
            return u"Unreadable";
        case SignatureVerdict::kUnsigned:
            break;
    }
    return u"Unsigned";
}

std::optional<SignatureVerdict> VerdictOfStatus(std::uint32_t status, SignatureVerdict valid) {
    if (IsUnreadableStatus(status))
        return SignatureVerdict::kUnreadable;
    switch (status) {
        case trust_status::kTrusted:
            return valid;
        case trust_status::kNoSignature:
        case trust_status::kSubjectFormUnknown:
        case trust_status::kFileNotFound:
        case trust_status::kPathNotFound:
            return std::nullopt;
        case trust_status::kUntrustedRoot:
        case trust_status::kChaining:
        case trust_status::kWrongUsage:
        case trust_status::kExpired:
        case kExplicitDistrust:
        case kRevoked:
        case kUntrustedTestRoot:
            return SignatureVerdict::kUntrusted;
        default:
            // A digest that does not match, a message that does not verify, or a failure not
            // known here (and not a file that could not be read): a signature is there and
            // cannot be confirmed.
            return SignatureVerdict::kInvalid;
    }
}

FileTrust JudgeFile(SignatureEngine& engine, const Text& path, const FileDigests& digests,
                    ByteSource* bytes) {
    const SignatureEngine::Answer embedded =
        bytes ? engine.CheckEmbeddedIn(path, *bytes, digests) : engine.CheckEmbedded(path);
    const std::optional<SignatureVerdict> own =
        VerdictOfStatus(embedded.status, SignatureVerdict::kEmbedded);
    const bool unreadable = own == SignatureVerdict::kUnreadable;
    if (own && !unreadable)
        return {*own, embedded.signer, Text()};
    // A file the check could not read is looked up in the catalogs only by the image hash that
    // the digests step computed: without the digests there is nothing to look up.
    if (unreadable && !digests.ReadTheFile())
        return {SignatureVerdict::kUnreadable, Text(), Text()};
    if (const std::optional<SignatureEngine::Answer> listed = engine.CheckCatalogs(path, digests)) {
        if (const auto verdict = VerdictOfStatus(listed->status, SignatureVerdict::kCatalog))
            return {*verdict, listed->signer, listed->catalog};
    }
    if (unreadable)
        return {SignatureVerdict::kUnreadable, Text(), Text()};
    return {};
}

}  // namespace tolvessa
