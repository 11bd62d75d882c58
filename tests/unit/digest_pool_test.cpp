// The digest workers: every result lands for its own row of the current list, a cancelled
// list's results never come out, and the pool ends cleanly with work still queued or running.
#include "shell/digest_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tolvessa {
namespace {

// A short path carried in a digest's bytes (UTF-16LE, zero after its end), and back.
Sha256Digest Carried(const Text& path) {
    Sha256Digest bytes{};
    for (std::size_t i = 0; i < path.size() && 2 * i + 1 < bytes.size(); ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(path[i]);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(path[i] >> 8);
    }
    return bytes;
}

Text CarriedPath(const std::optional<Sha256Digest>& bytes) {
    Text path;
    for (std::size_t i = 0; bytes && 2 * i + 1 < bytes->size(); ++i) {
        const auto unit = static_cast<char16_t>((*bytes)[2 * i] | (*bytes)[2 * i + 1] << 8);
        if (unit == 0)
            break;
        path.push_back(unit);
    }
    return path;
}

// The "digest" of a path: the path itself in the SHA-256 digest.
FileDigests Echo(const Text& path) {
    FileDigests d;
    d.sha256 = Carried(path);
    return d;
}

Text PathOf(std::size_t row) {
    return u"C:\\d\\" + DecimalText(row) + u".sys";
}

std::map<std::size_t, Text> Collect(DigestPool& pool) {
    std::map<std::size_t, Text> got;
    for (DigestResult& r : pool.TakeResults()) {
        EXPECT_FALSE(got.count(r.row)) << "row " << r.row << " twice";
        got[r.row] = CarriedPath(r.digests.sha256);
    }
    return got;
}

// Lets jobs through one at a time, or all, on the test's word.
class Gate {
  public:
    void Open() {
        {
            const std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void Pass() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    // Waits until `n` jobs are held at the gate.
    void AwaitWaiting(int n) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return waiting_ >= n; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int waiting_ = 0;
};

TEST(DigestPoolTest, EveryRowGetsItsOwnResultAndTheWindowIsWokenForEach) {
    for (const unsigned workers : {1u, 2u, 4u}) {
        std::atomic<int> woken = 0;
        DigestPool pool(workers, Echo, [&] { ++woken; });
        for (std::size_t row = 0; row < 100; ++row)
            pool.Submit(row, PathOf(row));
        pool.WaitIdle();
        const auto got = Collect(pool);
        ASSERT_EQ(got.size(), 100u) << workers;
        for (const auto& [row, value] : got)
            EXPECT_EQ(value, PathOf(row));
        EXPECT_EQ(woken.load(), 100);
        EXPECT_TRUE(pool.TakeResults().empty());
    }
}

TEST(DigestPoolTest, ACancelledListGivesNoResultsNotEvenFromRunningJobs) {
    Gate gate;
    std::atomic<int> computed = 0;
    DigestPool pool(
        2,
        [&](const Text& path) {
            gate.Pass();
            ++computed;
            return Echo(path);
        },
        nullptr);
    for (std::size_t row = 0; row < 10; ++row)
        pool.Submit(row, PathOf(row));
    gate.AwaitWaiting(2);  // two jobs running, eight queued
    pool.Cancel();
    // The next list's rows, while the old jobs still run.
    pool.Submit(0, u"new 0");
    pool.Submit(1, u"new 1");
    gate.Open();
    pool.WaitIdle();
    const auto got = Collect(pool);
    EXPECT_EQ(got, (std::map<std::size_t, Text>{{0, u"new 0"}, {1, u"new 1"}}));
    // The queued jobs of the old list were never started.
    EXPECT_EQ(computed.load(), 4);
}

TEST(DigestPoolTest, ManyListsInQuickSuccessionLeaveOnlyTheLastOnesResults) {
    DigestPool pool(DefaultDigestWorkers(), Echo, nullptr);
    for (int list = 0; list < 200; ++list) {
        for (std::size_t row = 0; row < 5; ++row)
            pool.Submit(row, u"old");
        if (list % 7 == 0)
            std::this_thread::yield();
        pool.Cancel();
    }
    for (std::size_t row = 0; row < 5; ++row)
        pool.Submit(row, PathOf(row));
    pool.WaitIdle();
    const auto got = Collect(pool);
    ASSERT_EQ(got.size(), 5u);
    for (const auto& [row, value] : got)
        EXPECT_EQ(value, PathOf(row));
}

TEST(DigestPoolTest, EndsWithJobsQueuedAndRunningAndWakesNobodyAfterwards) {
    Gate gate;
    std::atomic<int> woken = 0;
    std::atomic<int> computed = 0;
    std::thread opener;
    {
        DigestPool pool(
            2,
            [&](const Text& path) {
                gate.Pass();
                ++computed;
                return Echo(path);
            },
            [&] { ++woken; });
        for (std::size_t row = 0; row < 50; ++row)
            pool.Submit(row, PathOf(row));
        gate.AwaitWaiting(2);
        opener = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            gate.Open();
        });
        // The pool ends while two jobs are held: it waits for them and drops the rest.
    }
    opener.join();
    EXPECT_EQ(computed.load(), 2);
    EXPECT_EQ(woken.load(), 0);
}

TEST(DigestPoolTest, WaitIdleReturnsAtOnceWithoutWorkAndAtLeastOneWorkerRuns) {
    DigestPool pool(0, Echo, nullptr);
    pool.WaitIdle();
    pool.Submit(3, u"x");
    pool.WaitIdle();
    const auto got = Collect(pool);
    EXPECT_EQ(got, (std::map<std::size_t, Text>{{3, u"x"}}));
    EXPECT_GE(DefaultDigestWorkers(), 1u);
}

// Each worker makes its own work on its own thread and keeps it for every job it takes; each job
// gets what it asked for, on the same worker's work.
TEST(DigestPoolTest, EachWorkerMakesItsWorkOnceOnItsOwnThreadAndJobsGetWhatTheyAsk) {
    std::mutex mutex;
    std::map<std::thread::id, int> made;  // by the thread that made it
    {
        DigestPool pool(
            3,
            [&]() -> DigestPool::Work {
                const std::thread::id maker = std::this_thread::get_id();
                {
                    const std::lock_guard lock(mutex);
                    ++made[maker];
                }
                return [maker](const Text& path, FactsWanted wanted) {
                    EXPECT_EQ(std::this_thread::get_id(), maker);
                    FileFacts facts;
                    facts.digests.sha256 = Carried(path);
                    if (wanted.verdict)
                        facts.trust = FileTrust{SignatureVerdict::kCatalog, u"S", path};
                    if (wanted.identity)
                        facts.identity.originalFilename = path + u".orig";
                    return facts;
                };
            },
            nullptr);
        for (std::size_t row = 0; row < 60; ++row)
            pool.Submit(row, PathOf(row), FactsWanted{row % 2 == 0, row % 3 == 0});
        pool.WaitIdle();
        const std::vector<DigestResult> results = pool.TakeResults();
        ASSERT_EQ(results.size(), 60u);
        for (const DigestResult& r : results) {
            SCOPED_TRACE(r.row);
            EXPECT_EQ(CarriedPath(r.digests.sha256), PathOf(r.row));
            EXPECT_EQ(r.trust.has_value(), r.row % 2 == 0);
            if (r.trust) {
                EXPECT_EQ(r.trust->catalog, PathOf(r.row));
            }
            EXPECT_EQ(r.identity.originalFilename,
                      r.row % 3 == 0 ? PathOf(r.row) + u".orig" : Text());
        }
    }
    EXPECT_EQ(made.size(), 3u);
    for (const auto& [thread, count] : made)
        EXPECT_EQ(count, 1);
}

// A job that throws leaves its row's cells empty; the worker lives on, every other row gets its
// result, the window is woken for each and WaitIdle returns.
TEST(DigestPoolTest, AJobThatThrowsGivesAnEmptyResultAndTheWorkerGoesOn) {
    for (const unsigned workers : {1u, 3u}) {
        std::atomic<int> woken = 0;
        DigestPool pool(
            workers,
            [](const Text& path) {
                if (path == PathOf(2))
                    throw std::bad_alloc();
                if (path == PathOf(5))
                    throw std::runtime_error("platform");
                if (path == PathOf(7))
                    throw 7;  // not even an exception class
                return Echo(path);
            },
            [&] { ++woken; });
        for (std::size_t row = 0; row < 12; ++row)
            pool.Submit(row, PathOf(row));
        pool.WaitIdle();
        const auto got = Collect(pool);
        ASSERT_EQ(got.size(), 12u) << workers;
        for (const auto& [row, value] : got) {
            const bool failed = row == 2 || row == 5 || row == 7;
            EXPECT_EQ(value, failed ? Text() : PathOf(row)) << row;
        }
        EXPECT_EQ(woken.load(), 12);
        // The same workers take the next list.
        pool.Submit(0, u"after");
        pool.WaitIdle();
        EXPECT_EQ(Collect(pool), (std::map<std::size_t, Text>{{0, u"after"}}));
    }
}

// A worker whose work cannot be made gives empty results rather than ending the program.
TEST(DigestPoolTest, AWorkerWhoseWorkCannotBeMadeStillEndsItsJobs) {
    DigestPool pool(
        1, []() -> DigestPool::Work { throw std::bad_alloc(); }, nullptr);
    pool.Submit(0, PathOf(0), FactsWanted{true, true});
    pool.Submit(1, PathOf(1));
    pool.WaitIdle();
    const std::vector<DigestResult> results = pool.TakeResults();
    ASSERT_EQ(results.size(), 2u);
    for (const DigestResult& r : results) {
        EXPECT_EQ(r.digests, FileDigests());
        EXPECT_FALSE(r.trust.has_value());
    }
}

}  // namespace
}  // namespace tolvessa
