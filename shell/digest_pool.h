// What is learnt of a listed file beyond its row, computed off the window's thread: a few worker
// threads take (row, path) jobs, compute the digests beyond MD5, then (as asked) the verdict on
// the file's signature and the version identity the vulnerable-driver lists match on, and queue
// the results; the window's thread is woken to take them and put them in their rows. The
// workers never touch the list or a window.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "inventory/file_digests.h"
#include "inventory/row_findings.h"
#include "inventory/version_info.h"

namespace tolvessa {

// What a job asks beyond the digests, which every job computes.
struct FactsWanted {
    bool verdict = false;   // the signature's verdict (after the digests: catalogs need them)
    bool identity = false;  // the version-resource names and binary file version
};

struct FileFacts {
    FileDigests digests;
    std::optional<FileTrust> trust;  // when the verdict was asked for
    VersionIdentity identity;        // when the identity was asked for
};

struct DigestResult : FileFacts {
    std::size_t row = 0;
};

// One worker per core, at least one.
unsigned DefaultDigestWorkers();

class DigestPool {
  public:
    using Compute = std::function<FileDigests(const Text& path)>;
    // The work of one worker thread: made on that thread when it starts and kept until it ends,
    // so whatever it holds (a catalog context, a verifier's state) belongs to that worker alone.
    using Work = std::function<FileFacts(const Text& path, FactsWanted wanted)>;
    using MakeWork = std::function<Work()>;
    // Called on a worker thread after a result was queued: it may only wake the thread that
    // takes the results (post a message), never do the work itself.
    using Ready = std::function<void()>;

    // Workers that compute the digests alone, whatever a job asks.
    DigestPool(unsigned workers, Compute compute, Ready ready);
    DigestPool(unsigned workers, MakeWork makeWork, Ready ready);
    // Drops the jobs not started and waits for the running ones: no worker outlives the pool,
    // and no result is delivered after it.
    ~DigestPool();
    DigestPool(const DigestPool&) = delete;
    DigestPool& operator=(const DigestPool&) = delete;

    // Queues the digests of the file behind `row` of the current list.
    void Submit(std::size_t row, Text path, FactsWanted wanted = {});
    // The list is about to be emptied: the jobs not started are dropped, and the results of the
    // ones running or queued are never handed out.
    void Cancel();
    // The results that have come in for the current list since the last call, in the order
    // they came.
    std::vector<DigestResult> TakeResults();
    // Waits until every job of the current list has a result.
    void WaitIdle();

  private:
    struct Job {
        std::uint64_t generation;
        std::size_t row;
        Text path;
        FactsWanted wanted;
    };
    void RunWorker();

    MakeWork makeWork_;
    Ready ready_;
    std::mutex mutex_;
    std::condition_variable wake_;  // a job was queued, or the pool ends
    std::condition_variable idle_;  // a job has ended
    std::deque<Job> jobs_;
    std::vector<DigestResult> results_;
    std::uint64_t generation_ = 0;
    std::size_t running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace tolvessa
