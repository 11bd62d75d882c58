#include "trust/file_trust.h"

#include <exception>
#include <vector>

namespace tolvessa {

bool IsFileSigned(TrustApi& api, const Text& path) {
    return api.VerifyTrust(path) == trust_status::kTrusted;
}

namespace {

// The steps of GetSignerName. The locals are declared in the reverse order of their release:
// the certificate goes first, then the buffer, then the file.
Text SignerNameSteps(TrustApi& api, const Text& path) {
    const std::unique_ptr<TrustApi::File> file = api.OpenForRead(path);
    if (!file)
        return {};

    if (api.EnumerateCertificates(*file) != 1u)
        return {};

    std::vector<std::uint8_t> buffer(kCertificateHeaderBufferSize, 0);
    Write32(buffer, 0, 0);
    Write16(buffer, 4, kCertificateRevision1);
    if (!api.ReadCertificateHeader(*file, 0, buffer))
        return {};

    // The only table entry starts the table. Its dwLength must cover the header and stay inside
    // the file before anything is read past the header.
    const std::uint32_t length = Read32(buffer, 0);
    const std::optional<PeCertificateLayout> layout = ReadCertificateLayout(*file);
    if (!layout || !CertificateEntryFits(*file, layout->tableOffset, length))
        return {};

    buffer.resize(std::size_t{length} + kCertificateBufferSlack);
    if (!api.ReadCertificateData(*file, 0, buffer))
        return {};

    const std::unique_ptr<TrustApi::Certificate> signer =
        api.VerifyMessageSignature(std::span<const std::uint8_t>(buffer).subspan(
            kCertificateHeaderSize, length - kCertificateHeaderSize));
    if (!signer)
        return {};

    const std::uint32_t needed = api.SimpleDisplayName(*signer, {});
    if (needed <= 1)
        return {};
    std::vector<char16_t> name(needed, u'\0');
    api.SimpleDisplayName(*signer, name);
    return Text(name.data(), needed - 1);
}

}  // namespace

Text GetSignerName(TrustApi& api, const Text& path) {
    try {
        return SignerNameSteps(api, path);
    } catch (const std::exception&) {
        // An entry too large for memory: no name, like every other failure.
        return {};
    }
}

}  // namespace tolvessa
