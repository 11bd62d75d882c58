// The signature engine of the host, on OpenSSL: a file's embedded signature by the host verifier,
// and the catalogs of a folder, read and checked once, in which files are looked up by their
// image hashes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/host/host_paths.h"
#include "platform/host/openssl_trust.h"
#include "trust/catalog_list.h"
#include "trust/file_verdict.h"

namespace tolvessa::host {

class TrustStore;

// Checks one catalog file's bytes and adds it to `index` under `name`, or notes it there as
// skipped when it is no catalog: not a PKCS #7 signed-data message whose content has the content
// type of a certificate trust list (1.3.6.1.4.1.311.10.1), or a list that ParseCatalogList cannot
// read. The status it is added with, as the platform would give it for its members:
//   0               the signature over the list's contents verifies, the signer's chain ends at a
//                   root of `store`, and the signer may sign code;
//   kNoSignature    the message names no signer (an unsigned catalog lists nothing);
//   kBadSignature   the signature does not verify (the catalog changed after signing);
//   kUntrustedRoot, kChaining, kExpired, kWrongUsage  as for an embedded signature.
// The signer's name comes from the certificate the message carries for signer 0.
void AddCatalog(CatalogIndex& index, Text name, std::span<const std::uint8_t> bytes,
                const TrustStore& store);

// The catalogs (files named *.cat, in any case) in a folder and all folders below it, as the
// CatRoot folder of a Windows volume holds them; read and checked at the first use, in the order
// of their paths, then shared by every engine that uses them.
class HostCatalogs {
  public:
    // `folder` is a host path (a folder that does not exist holds no catalogs); `caBundle` as
    // for OpenSslTrustApi.
    HostCatalogs(std::string folder, std::string caBundle);

    // Safe to call from several threads at once: the first call reads the catalogs, the others
    // wait for it. Catalog files that cannot be read (or are larger than kMaxCatalogSize) are
    // noted as skipped.
    const CatalogIndex& Index() const;

    static constexpr std::uint64_t kMaxCatalogSize = std::uint64_t{256} << 20;

  private:
    std::string folder_;
    std::string caBundle_;
    mutable std::once_flag loaded_;
    mutable CatalogIndex index_;
};

// The engine of one worker. The catalogs may be shared by many engines.
class OpenSslSignatureEngine : public SignatureEngine {
  public:
    // `paths` must outlive the engine.
    OpenSslSignatureEngine(const HostPaths& paths, std::string caBundle,
                           std::shared_ptr<const HostCatalogs> catalogs);

    // OpenSslTrustApi::CheckEmbedded.
    Answer CheckEmbedded(const Text& path) override;
    // OpenSslTrustApi::CheckEmbeddedIn over the bytes of the one pass: the file is not read again.
    Answer CheckEmbeddedIn(const Text& path, ByteSource& bytes,
                           const FileDigests& digests) override;
    // The catalogs' answer for the file's image hashes (digests.peSha256, digests.peSha1); the
    // file itself is not read again.
    std::optional<Answer> CheckCatalogs(const Text& path, const FileDigests& digests) override;

  private:
    OpenSslTrustApi trust_;
    std::shared_ptr<const HostCatalogs> catalogs_;
};

}  // namespace tolvessa::host
