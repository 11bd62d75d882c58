// The digest workers of the main window and their one way back to it.
#pragma once

#include <windows.h>

#include <memory>

#include "shell/digest_pool.h"
#include "shell/file_facts.h"

namespace tolvessa::win32 {

// A pool of DefaultDigestWorkers() workers. Each keeps its own signature engine (its own catalog
// contexts) and version reader; the file reader and the hash engine serve them all and must
// outlive the pool. A worker that queued a result posts `readyMessage` to `window`, and does
// nothing else with the window: the window's thread takes the results.
std::unique_ptr<DigestPool> StartWindowDigests(HWND window, UINT readyMessage,
                                               FileContentApi& content, HashApi& hashes);

}  // namespace tolvessa::win32
