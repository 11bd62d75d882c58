#include "shell/digest_pool.h"

#include <algorithm>

namespace tolvessa {

unsigned DefaultDigestWorkers() {
    return std::max(1u, std::thread::hardware_concurrency());
}

DigestPool::DigestPool(unsigned workers, Compute compute, Ready ready)
    : DigestPool(
          workers,
          [compute = std::move(compute)]() -> Work {
              return [compute](const Text& path, FactsWanted) {
                  FileFacts facts;
                  facts.digests = compute(path);
                  return facts;
              };
          },
          std::move(ready)) {}

DigestPool::DigestPool(unsigned workers, MakeWork makeWork, Ready ready)
    : makeWork_(std::move(makeWork)), ready_(std::move(ready)) {
    workers_.reserve(std::max(1u, workers));
    for (unsigned i = 0; i < std::max(1u, workers); ++i)
        workers_.emplace_back([this] { RunWorker(); });
}

DigestPool::~DigestPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
        ++generation_;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void DigestPool::Submit(std::size_t row, Text path, FactsWanted wanted) {
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back({generation_, row, std::move(path), wanted});
    }
    wake_.notify_one();
}

void DigestPool::Cancel() {
    const std::lock_guard lock(mutex_);
    jobs_.clear();
    results_.clear();
    ++generation_;
    idle_.notify_all();
}

std::vector<DigestResult> DigestPool::TakeResults() {
    const std::lock_guard lock(mutex_);
    std::vector<DigestResult> taken;
    taken.swap(results_);
    return taken;
}

void DigestPool::WaitIdle() {
    std::unique_lock lock(mutex_);
    const std::uint64_t generation = generation_;
    idle_.wait(lock, [&] { return generation_ != generation || (jobs_.empty() && running_ == 0); });
}

void DigestPool::RunWorker() {
    // Made before the lock is taken: making it may take its time (a catalog context). A worker
    // whose work cannot be made still takes its jobs and gives them empty results, so no job
    // waits for ever.
    Work work;
    try {
        work = makeWork_();
    } catch (...) {
        work = nullptr;
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        ++running_;
        lock.unlock();
        DigestResult result;
        // A job that fails (memory runs out, a platform call throws) leaves its cells empty;
        // nothing it throws leaves the worker, whose end would end the program.
        try {
            if (work)
                static_cast<FileFacts&>(result) = work(job.path, job.wanted);
        } catch (...) {
            static_cast<FileFacts&>(result) = FileFacts();
        }
        result.row = job.row;
        lock.lock();
        const bool current = job.generation == generation_ && !stopping_;
        if (current)
            results_.push_back(std::move(result));
        if (current && ready_) {
            // Woken outside the lock: the callback may take its time posting.
            lock.unlock();
            ready_();
            lock.lock();
        }
        // The job ends once its result is queued and announced: WaitIdle then finds both done.
        --running_;
        idle_.notify_all();
    }
}

}  // namespace tolvessa
