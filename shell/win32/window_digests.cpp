#include "shell/win32/window_digests.h"

#include "platform/win32/win32_inventory.h"
#include "platform/win32/win32_signature_engine.h"

namespace tolvessa::win32 {

std::unique_ptr<DigestPool> StartWindowDigests(HWND window, UINT readyMessage,
                                               FileContentApi& content, HashApi& hashes) {
    return std::make_unique<DigestPool>(
        DefaultDigestWorkers(),
        [&content, &hashes]() -> DigestPool::Work {
            auto engine = std::make_shared<Win32SignatureEngine>();
            auto versions = std::make_shared<Win32VersionApi>();
            return [&content, &hashes, engine, versions](const Text& path, FactsWanted wanted) {
                return GatherFileFacts(content, hashes, *versions, engine.get(), path, wanted);
            };
        },
        [window, readyMessage] { ::PostMessageW(window, readyMessage, 0, 0); });
}

}  // namespace tolvessa::win32
