// The work of one digest worker of the host scanner: the file's digests, the verdict on its
// signature and its version identity, as a job asks, with readers and a signature engine of its
// own kept for all its files. bench_scan measures the same work.
#pragma once

#include <memory>
#include <string>

#include "platform/host/file_content.h"
#include "platform/host/host_paths.h"
#include "platform/host/openssl_hash.h"
#include "platform/host/openssl_signature_engine.h"
#include "platform/host/pe_version.h"
#include "shell/digest_pool.h"
#include "shell/file_facts.h"

namespace tolvessa::tools {

class ScanWorker {
  public:
    // `roots` as for OpenSslTrustApi; `catalogs` may be null (no file is found in a catalog).
    ScanWorker(const host::HostPaths& paths, const std::string& roots,
               std::shared_ptr<const host::HostCatalogs> catalogs)
        : content_(paths), versions_(paths), engine_(paths, roots, std::move(catalogs)) {}

    FileFacts Gather(const Text& path, FactsWanted wanted) {
        return GatherFileFacts(content_, hashes_, versions_, &engine_, path, wanted);
    }

  private:
    host::PosixFileContent content_;
    host::PeVersionApi versions_;
    host::OpenSslHashApi hashes_;
    host::OpenSslSignatureEngine engine_;
};

// What each worker thread of a DigestPool makes itself: a ScanWorker of its own. `paths` and
// `roots` must outlive the pool.
inline DigestPool::MakeWork ScanWorkers(const host::HostPaths& paths, const std::string& roots,
                                        std::shared_ptr<const host::HostCatalogs> catalogs) {
    return [&paths, &roots, catalogs = std::move(catalogs)]() -> DigestPool::Work {
        auto worker = std::make_shared<ScanWorker>(paths, roots, catalogs);
        return
            [worker](const Text& path, FactsWanted wanted) { return worker->Gather(path, wanted); };
    };
}

}  // namespace tolvessa::tools
