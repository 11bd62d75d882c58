#include "trust/file_verdict.h"

#include "trust/file_trust.h"

namespace tolvessa {

namespace {

constexpr std::uint32_t kExplicitDistrust = 0x800B0111;   // TRUST_E_EXPLICIT_DISTRUST
constexpr std::uint32_t kRevoked = 0x800B010C;            // CERT_E_REVOKED
constexpr std::uint32_t kUntrustedTestRoot = 0x800B010D;  // CERT_E_UNTRUSTEDTESTROOT

}  // namespace

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
        case SignatureVerdict::kUnsigned:
            break;
    }
    return u"Unsigned";
}

std::optional<SignatureVerdict> VerdictOfStatus(std::uint32_t status, SignatureVerdict valid) {
    switch (status) {
        case trust_status::kTrusted:
            return valid;
        case trust_status::kNoSignature:
        case trust_status::kSubjectFormUnknown:
        case trust_status::kFileNotFound:
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
            // known here: a signature is there and cannot be confirmed.
            return SignatureVerdict::kInvalid;
    }
}

FileTrust JudgeFile(SignatureEngine& engine, const Text& path, const FileDigests& digests) {
    const SignatureEngine::Answer embedded = engine.CheckEmbedded(path);
    if (const auto verdict = VerdictOfStatus(embedded.status, SignatureVerdict::kEmbedded))
        return {*verdict, embedded.signer, Text()};
    if (const std::optional<SignatureEngine::Answer> listed = engine.CheckCatalogs(path, digests)) {
        if (const auto verdict = VerdictOfStatus(listed->status, SignatureVerdict::kCatalog))
            return {*verdict, listed->signer, listed->catalog};
    }
    return {};
}

}  // namespace tolvessa
