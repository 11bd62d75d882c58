// Embedded signatures. The input is read three ways: as an image file, whose certificate table
// is read from memory and whose signature the host verifier judges and names; as a PKCS #7
// signed message on its own; and as a DER certificate to be named.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_file.h"
#include "platform/host/openssl_trust.h"
#include "trust/certificate_table.h"
#include "trust/file_trust.h"

#ifndef TOLVESSA_FUZZ_TRUST_ROOT
#error "TOLVESSA_FUZZ_TRUST_ROOT names the PEM file of roots the verifier trusts"
#endif

namespace tolvessa::fuzz {
namespace {

constexpr std::uint32_t kVerdicts[] = {
    trust_status::kTrusted,      trust_status::kFileNotFound,
    trust_status::kNoSignature,  trust_status::kSubjectFormUnknown,
    trust_status::kBadMessage,   trust_status::kBadSignature,
    trust_status::kBadAlgorithm, trust_status::kBadDigest,
    trust_status::kExpired,      trust_status::kUntrustedRoot,
    trust_status::kChaining,     trust_status::kWrongUsage,
};

bool IsVerdict(std::uint32_t status) {
    for (const std::uint32_t known : kVerdicts) {
        if (status == known)
            return true;
    }
    return false;
}

// The table read from memory: entries at 8-byte steps from its start, each at least a header
// long and inside the table, the table inside the file. Gives the entries, or nothing.
std::optional<std::vector<CertificateEntry>> CheckTable(std::span<const std::uint8_t> bytes,
                                                        bool& isImage) {
    MemorySource memory(bytes);
    const std::optional<PeCertificateLayout> layout = ReadCertificateLayout(memory);
    isImage = layout.has_value();
    if (!layout)
        return std::nullopt;
    FUZZ_CHECK(layout->checksumOffset + 4 <= bytes.size());
    FUZZ_CHECK(layout->directoryOffset + 8 <= bytes.size());
    auto entries = ReadCertificateEntries(memory, *layout);
    if (!entries)
        return std::nullopt;
    if (layout->tableSize == 0)
        FUZZ_CHECK(entries->empty());
    const std::uint64_t tableEnd = std::uint64_t{layout->tableOffset} + layout->tableSize;
    FUZZ_CHECK(entries->empty() || tableEnd <= bytes.size());
    std::uint64_t previous = 0;
    for (const CertificateEntry& e : *entries) {
        FUZZ_CHECK(e.offset >= layout->tableOffset && (e.offset - layout->tableOffset) % 8 == 0);
        FUZZ_CHECK(e.offset >= previous);
        FUZZ_CHECK(e.length >= kCertificateHeaderSize && e.offset + e.length <= tableEnd);
        FUZZ_CHECK(CertificateEntryFits(memory, e.offset, e.length));
        previous = e.offset + e.length;
    }
    return entries;
}

// A signer's name asked for with no room, with room for the NUL only, and with room for all.
void CheckNames(host::OpenSslTrustApi& api, TrustApi::Certificate& signer) {
    const std::uint32_t needed = api.SimpleDisplayName(signer, {});
    FUZZ_CHECK(needed >= 1);
    char16_t one = u'x';
    FUZZ_CHECK(api.SimpleDisplayName(signer, std::span(&one, 1)) == needed && one == u'\0');
    std::vector<char16_t> name(needed, u'x');
    FUZZ_CHECK(api.SimpleDisplayName(signer, name) == needed && name.back() == u'\0');
}

}  // namespace
}  // namespace tolvessa::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    using namespace tolvessa::fuzz;
    static const ScratchFile scratch;
    const std::span<const std::uint8_t> bytes(data, size);
    host::OpenSslTrustApi api(scratch.Paths(), TOLVESSA_FUZZ_TRUST_ROOT);
    const Text& path = scratch.Path();

    bool isImage = false;
    const auto entries = CheckTable(bytes, isImage);

    const auto written = scratch.Write(bytes);
    const std::uint32_t verdict = api.VerifyTrust(path);
    FUZZ_CHECK(IsVerdict(verdict) && verdict != trust_status::kFileNotFound);
    FUZZ_CHECK(IsFileSigned(api, path) == (verdict == trust_status::kTrusted));
    if (!isImage)
        FUZZ_CHECK(verdict == trust_status::kSubjectFormUnknown);
    else if (!entries || entries->empty())
        FUZZ_CHECK(verdict == trust_status::kNoSignature);
    const Text signer = GetSignerName(api, path);
    if (!signer.empty())
        FUZZ_CHECK(entries && entries->size() == 1);

    if (const auto certificate = api.VerifyMessageSignature(bytes))
        CheckNames(api, *certificate);

    const Text name = host::SimpleDisplayNameOfCertificate(bytes);
    FUZZ_CHECK(name.size() <= size);
    return 0;
}
