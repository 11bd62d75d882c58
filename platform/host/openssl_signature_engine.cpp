#include "platform/host/openssl_signature_engine.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/host/openssl_signed_data.h"
#include "platform/host/openssl_timestamp.h"
#include "platform/host/posix_file.h"
#include "trust/file_trust.h"

namespace tolvessa::host {

namespace {

constexpr const char* kCertificateTrustListOid = "1.3.6.1.4.1.311.10.1";

SignatureCheck CheckCatalogSignature(const SignedMessage& message, const TrustStore& store) {
    if (SignerCount(message) < 1)
        return {trust_status::kNoSignature, {}};
    X509* signer = VerifySignature(message);
    if (!signer) {
        X509* carried = CarriedSigner(message);
        return {trust_status::kBadSignature, carried ? SimpleDisplayName(carried) : Text()};
    }
    const Text name = SimpleDisplayName(signer);
    const std::uint32_t chain =
        store.Verify(signer, message.pkcs7->d.sign->cert, SignerChainTime(message, signer, store));
    if (chain != trust_status::kTrusted)
        return {chain, name};
    if (!MaySignCode(signer))
        return {trust_status::kWrongUsage, name};
    return {trust_status::kTrusted, name};
}

bool IsCatalogName(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c | 0x20); });
    return extension == ".cat";
}

// The catalog files below `folder`, in the order of their paths.
std::vector<std::filesystem::path> CatalogFiles(const std::string& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    std::filesystem::recursive_directory_iterator walk(
        folder, std::filesystem::directory_options::skip_permission_denied, error);
    for (; !error && walk != std::filesystem::recursive_directory_iterator();
         walk.increment(error)) {
        if (walk->is_regular_file(error) && IsCatalogName(walk->path()))
            files.push_back(walk->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::optional<std::vector<std::uint8_t>> ReadCatalogFile(const std::filesystem::path& path) {
    const PosixFile file = PosixFile::OpenRegularForRead(path.string());
    const std::optional<std::uint64_t> size = file ? file.Size() : std::nullopt;
    if (!size || *size > HostCatalogs::kMaxCatalogSize)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
    if (!file.ReadAt(0, bytes))
        return std::nullopt;
    return bytes;
}

}  // namespace

void AddCatalog(CatalogIndex& index, Text name, std::span<const std::uint8_t> bytes,
                const TrustStore& store) {
    const ErrorQueueGuard errors;
    const std::optional<SignedMessage> message = DecodeSignedMessage(bytes);
    if (!message || !HasContentType(*message, kCertificateTrustListOid)) {
        index.Skip(std::move(name));
        return;
    }
    const std::optional<CatalogList> list =
        ParseCatalogList(std::span(ASN1_STRING_get0_data(message->content),
                                   static_cast<std::size_t>(ASN1_STRING_length(message->content))));
    if (!list) {
        index.Skip(std::move(name));
        return;
    }
    SignatureCheck check = CheckCatalogSignature(*message, store);
    index.Add(std::move(name), check.status, std::move(check.signer), *list);
}

HostCatalogs::HostCatalogs(std::string folder, std::string caBundle)
    : folder_(std::move(folder)), caBundle_(std::move(caBundle)) {}

const CatalogIndex& HostCatalogs::Index() const {
    std::call_once(loaded_, [this] {
        const TrustStore store(caBundle_);
        for (const std::filesystem::path& path : CatalogFiles(folder_)) {
            Text name = Utf8ToText(path.filename().string());
            if (const auto bytes = ReadCatalogFile(path))
                AddCatalog(index_, std::move(name), *bytes, store);
            else
                index_.Skip(std::move(name));
        }
    });
    return index_;
}

OpenSslSignatureEngine::OpenSslSignatureEngine(const HostPaths& paths, std::string caBundle,
                                               std::shared_ptr<const HostCatalogs> catalogs)
    : trust_(paths, std::move(caBundle)), catalogs_(std::move(catalogs)) {}

SignatureEngine::Answer OpenSslSignatureEngine::CheckEmbedded(const Text& path) {
    SignatureCheck check = trust_.CheckEmbedded(path);
    return {check.status, std::move(check.signer), {}};
}

SignatureEngine::Answer OpenSslSignatureEngine::CheckEmbeddedIn(const Text&, ByteSource& bytes,
                                                                const FileDigests& digests) {
    SignatureCheck check = trust_.CheckEmbeddedIn(bytes, &digests);
    return {check.status, std::move(check.signer), {}};
}

std::optional<SignatureEngine::Answer> OpenSslSignatureEngine::CheckCatalogs(
    const Text&, const FileDigests& digests) {
    if (!catalogs_ || (!digests.peSha1 && !digests.peSha256))
        return std::nullopt;
    const std::span<const std::uint8_t> sha1 = digests.peSha1
                                                   ? std::span<const std::uint8_t>(*digests.peSha1)
                                                   : std::span<const std::uint8_t>();
    const std::span<const std::uint8_t> sha256 =
        digests.peSha256 ? std::span<const std::uint8_t>(*digests.peSha256)
                         : std::span<const std::uint8_t>();
    return catalogs_->Index().Find(sha1, sha256);
}

}  // namespace tolvessa::host
