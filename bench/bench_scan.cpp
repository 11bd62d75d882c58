// A whole driver scan over real image files against hashing the same files alone.
//
// The recorded module table lists 300+ of Wine's own PE images under "\SystemRoot\system32\",
// with C: mapped to a folder whose windows\system32 leads to Wine's image folder, and after them
// copies of the signed test images (embedded signatures, catalog members, a tampered and an
// untrusted one) under "\??\C:\Tools\". The scan resolves every path, asks the file queries,
// reads three version strings (ten version reads each) and hashes every file; the reference maps
// each file and hashes it with OpenSSL's MD5. The benchmarks run in interleaved rounds; the
// ratios printed at the end compare medians.
//
//   bench_scan [--rounds=N] [--modules=N] [--trust-images=DIR] [Google Benchmark flags]
//
// --trust-images names the folder of the signed test images and their catalogs (the build's
// tests/fixtures/trust/images by default); without it the verdicts are those of the unsigned
// Wine images alone.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <fcntl.h>
#include <openssl/md5.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/host/host_inventory.h"
#include "platform/host/openssl_hash.h"
#include "platform/host/openssl_signature_engine.h"
#include "platform/host/recorded_snapshot.h"
#include "shell/digest_pool.h"
#include "tools/scan_worker.h"

namespace fs = std::filesystem;

namespace {

const char* const kImageFolders[] = {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
                                     "/usr/lib/i386-linux-gnu/wine/i386-windows"};

// The signed test images listed after Wine's: every verdict but "Unsigned" among them.
const char* const kSignedImages[] = {"signed_64.exe",         "signed_32.exe",
                                     "signed_sha1_64.exe",    "tampered_64.exe",
                                     "untrusted_64.exe",      "catalog_member_64.exe",
                                     "catalog_member_32.exe", "catalog_sha1_only_64.exe",
                                     "catalog_stray_64.exe",  "catalog_broken_64.exe"};

#ifdef TOLVESSA_TRUST_FIXTURE_DIR
const char* const kDefaultTrustImages = TOLVESSA_TRUST_FIXTURE_DIR;
#else
const char* const kDefaultTrustImages = "";
#endif

struct Setup {
    fs::path root;                   // stands for C:
    std::vector<std::string> files;  // host paths of the listed images
    std::vector<std::uint8_t> table;
    std::uint64_t bytes = 0;
    std::size_t signedImages = 0;  // of the files, the signed test images (listed last)
    std::string catalogs;          // the catalog folder of the signature engine
    std::string roots;             // its trusted roots (empty: the system's)
};

Setup& TheSetup() {
    static Setup setup;
    return setup;
}

bool Prepare(std::size_t modules, const fs::path& trustImages) {
    Setup& s = TheSetup();
    fs::path images;
    for (const char* folder : kImageFolders) {
        if (fs::is_directory(folder)) {
            images = folder;
            break;
        }
    }
    if (images.empty()) {
        std::fprintf(stderr, "no Wine image folder found; install wine64\n");
        return false;
    }
    std::vector<fs::path> candidates;
    for (const auto& entry : fs::directory_iterator(images)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".dll" || ext == ".sys" || ext == ".exe")) {
            candidates.push_back(entry.path());
        }
    }
    std::sort(candidates.begin(), candidates.end());
    if (candidates.size() < modules) {
        std::fprintf(stderr, "only %zu images in %s\n", candidates.size(), images.c_str());
        return false;
    }
    // Spread the choice over the whole folder, small and large files alike.
    std::vector<tolvessa::ModuleEntry> entries;
    for (std::size_t i = 0; i < modules; ++i) {
        const fs::path& file = candidates[i * candidates.size() / modules];
        tolvessa::ModuleEntry e;
        e.imageBase = 0xFFFFF80000000000u + i * 0x10000u;
        e.imageSize = static_cast<std::uint32_t>(fs::file_size(file));
        e.loadOrderIndex = static_cast<std::uint16_t>(i);
        e.fullPathName = "\\SystemRoot\\system32\\" + file.filename().string();
        entries.push_back(e);
        s.files.push_back(file.string());
        s.bytes += fs::file_size(file);
    }
    char pattern[] = "/tmp/tolvessa-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return false;
    s.root = pattern;
    fs::create_directories(s.root / "windows");
    fs::create_directory_symlink(images, s.root / "windows" / "system32");

    // The signed test images, copied under C:\Tools.
    s.catalogs = (s.root / "catroot").string();  // none unless the test images are there
    if (!trustImages.empty() && fs::is_regular_file(trustImages / kSignedImages[0])) {
        fs::create_directories(s.root / "Tools");
        for (const char* name : kSignedImages) {
            const fs::path copy = s.root / "Tools" / name;
            std::error_code error;
            if (!fs::copy_file(trustImages / name, copy, error)) {
                std::fprintf(stderr, "cannot copy %s: %s\n", name, error.message().c_str());
                return false;
            }
            tolvessa::ModuleEntry e;
            e.imageBase = 0xFFFFF80000000000u + entries.size() * 0x10000u;
            e.imageSize = static_cast<std::uint32_t>(fs::file_size(copy));
            e.loadOrderIndex = static_cast<std::uint16_t>(entries.size());
            e.fullPathName = std::string("\\??\\C:\\Tools\\") + name;
            entries.push_back(e);
            s.files.push_back(copy.string());
            s.bytes += fs::file_size(copy);
            ++s.signedImages;
        }
        s.catalogs = (trustImages / "catroot").string();
        s.roots = (trustImages / "test_root.pem").string();
    } else {
        std::fprintf(stderr,
                     "no signed test images in \"%s\" (build tolvessa_trust_fixtures or pass "
                     "--trust-images=DIR): the verdicts are of unsigned files only\n",
                     trustImages.c_str());
    }
    s.table = tolvessa::EncodeModuleSnapshot(entries, tolvessa::ModuleTableLayout::k64Bit);
    return true;
}

void BM_Scan(benchmark::State& state) {
    Setup& s = TheSetup();
    tolvessa::host::HostInventory inventory(s.root.string());
    tolvessa::host::InMemoryModuleTable table(s.table, tolvessa::ModuleTableLayout::k64Bit);
    tolvessa::host::FixedScanHost host;
    const tolvessa::InventoryPlatform platform = inventory.Platform(table);
    std::size_t rows = 0;
    for (auto _ : state) {
        tolvessa::DriverList list;
        tolvessa::ScanDrivers(list, platform, host);
        rows = list.Count();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s.bytes));
}

// One scan with the digest workers on, as the window runs it: each row whose file is there is
// queued as it comes in, and every result is waited for.
std::vector<tolvessa::DigestResult> ScanAndWait(tolvessa::DigestPool& pool,
                                                const tolvessa::InventoryPlatform& platform,
                                                tolvessa::ScanHost& host,
                                                tolvessa::FactsWanted wanted) {
    tolvessa::DriverList list;
    tolvessa::DriverList::Listener listener;
    listener.rowAppended = [&](std::size_t row) {
        if (list.FileExists(row))
            pool.Submit(row, list.Row(row)[tolvessa::kImageName], wanted);
    };
    list.SetListener(listener);
    pool.Cancel();
    tolvessa::ScanDrivers(list, platform, host);
    pool.WaitIdle();
    return pool.TakeResults();
}

// The scan with every digest: the rows as above, and the digest workers (one per core) working
// out SHA-1, SHA-256, the image hashes and the imphash of every listed file meanwhile, all
// waited for.
void BM_ScanWithDigests(benchmark::State& state) {
    Setup& s = TheSetup();
    tolvessa::host::HostInventory inventory(s.root.string());
    tolvessa::host::InMemoryModuleTable table(s.table, tolvessa::ModuleTableLayout::k64Bit);
    tolvessa::host::FixedScanHost host;
    const tolvessa::InventoryPlatform platform = inventory.Platform(table);
    tolvessa::host::OpenSslHashApi hashes;
    tolvessa::DigestPool pool(
        tolvessa::DefaultDigestWorkers(),
        [&](const tolvessa::Text& path) {
            return tolvessa::ComputeFileDigests(platform.content, hashes, path);
        },
        nullptr);
    std::size_t digests = 0;
    for (auto _ : state) {
        digests = ScanAndWait(pool, platform, host, {}).size();
        benchmark::DoNotOptimize(digests);
    }
    state.counters["digests"] = static_cast<double>(digests);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s.bytes));
}

// The scan with every digest and the verdict on every signature, as the window does it: the rows
// on this thread, the jobs on the workers' as the rows come in, all waited for. The catalogs are
// read once, at the first look-up, and kept, as a running program keeps them.
void ScanWithVerdicts(benchmark::State& state, unsigned workers) {
    Setup& s = TheSetup();
    tolvessa::host::HostInventory inventory(s.root.string());
    tolvessa::host::InMemoryModuleTable table(s.table, tolvessa::ModuleTableLayout::k64Bit);
    tolvessa::host::FixedScanHost host;
    const tolvessa::InventoryPlatform platform = inventory.Platform(table);
    tolvessa::DigestPool pool(
        workers,
        tolvessa::tools::ScanWorkers(
            inventory.Paths(), s.roots,
            std::make_shared<const tolvessa::host::HostCatalogs>(s.catalogs, s.roots)),
        nullptr);
    std::size_t verdicts = 0;
    std::size_t valid = 0;  // "Embedded" or "Catalog"
    for (auto _ : state) {
        verdicts = valid = 0;
        for (const tolvessa::DigestResult& result :
             ScanAndWait(pool, platform, host, {true, false})) {
            if (!result.trust)
                continue;
            ++verdicts;
            if (result.trust->verdict == tolvessa::SignatureVerdict::kEmbedded ||
                result.trust->verdict == tolvessa::SignatureVerdict::kCatalog)
                ++valid;
        }
        benchmark::DoNotOptimize(verdicts);
    }
    state.counters["verdicts"] = static_cast<double>(verdicts);
    state.counters["valid"] = static_cast<double>(valid);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s.bytes));
}

// With as many workers as the window starts (one per core).
void BM_ScanWithVerdicts(benchmark::State& state) {
    ScanWithVerdicts(state, tolvessa::DefaultDigestWorkers());
}

// With one worker: all the work on two threads, one after the other for each file.
void BM_ScanWithVerdictsOneWorker(benchmark::State& state) {
    ScanWithVerdicts(state, 1);
}

void BM_OpensslHashOnly(benchmark::State& state) {
    Setup& s = TheSetup();
    for (auto _ : state) {
        for (const std::string& file : s.files) {
            unsigned char digest[MD5_DIGEST_LENGTH];
            MD5_CTX context;
            MD5_Init(&context);
            const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat st;
            if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > 0) {
                void* view = ::mmap(nullptr, st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
                if (view != MAP_FAILED) {
                    MD5_Update(&context, view, st.st_size);
                    ::munmap(view, st.st_size);
                }
            }
            if (fd >= 0)
                ::close(fd);
            MD5_Final(digest, &context);
            benchmark::DoNotOptimize(digest);
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s.bytes));
}

class MedianCollector : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            times_[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
            cpuTimes_[run.run_name.function_name].push_back(run.GetAdjustedCPUTime());
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Of the wall-clock times.
    double Median(const std::string& name) { return MedianOf(times_[name]); }
    // Of the CPU times: the process's for a benchmark that measures them, else its thread's.
    double MedianCpu(const std::string& name) { return MedianOf(cpuTimes_[name]); }

  private:
    static double MedianOf(std::vector<double>& v) {
        if (v.empty())
            return 0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    std::map<std::string, std::vector<double>> times_;
    std::map<std::string, std::vector<double>> cpuTimes_;
};

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    std::size_t modules = 320;
    fs::path trustImages = kDefaultTrustImages;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--trust-images=", 15)) {
            trustImages = argv[i] + 15;
        } else if (!std::strncmp(argv[i], "--rounds=", 9)) {
            rounds = std::max(1, std::atoi(argv[i] + 9));
        } else if (!std::strncmp(argv[i], "--modules=", 10)) {
            modules = static_cast<std::size_t>(std::max(1, std::atoi(argv[i] + 10)));
        } else {
            args.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (!Prepare(modules, trustImages))
        return 1;

    for (int r = 0; r < rounds; ++r) {
        benchmark::RegisterBenchmark("BM_Scan", BM_Scan)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_OpensslHashOnly", BM_OpensslHashOnly)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ScanWithDigests", BM_ScanWithDigests)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ScanWithVerdicts", BM_ScanWithVerdicts)
            ->MeasureProcessCPUTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ScanWithVerdictsOneWorker", BM_ScanWithVerdictsOneWorker)
            ->MeasureProcessCPUTime()
            ->Unit(benchmark::kMillisecond);
    }
    MedianCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double scan = reporter.Median("BM_Scan");
    const double hash = reporter.Median("BM_OpensslHashOnly");
    const double withDigests = reporter.Median("BM_ScanWithDigests");
    const double withVerdicts = reporter.Median("BM_ScanWithVerdicts");
    const double oneWorker = reporter.Median("BM_ScanWithVerdictsOneWorker");
    std::printf("\n%zu modules and %zu signed test images, %.1f MiB of image files\n", modules,
                TheSetup().signedImages, static_cast<double>(TheSetup().bytes) / (1 << 20));
    // A ratio is printed when both of its benchmarks ran (--benchmark_filter may leave some out).
    if (hash > 0 && scan > 0) {
        std::printf("scan / OpenSSL hashing alone (median of %d rounds): %.3f (target <= 1.10)\n",
                    rounds, scan / hash);
    }
    if (hash > 0 && withDigests > 0) {
        std::printf(
            "scan with every digest (%u workers on %u cores) / OpenSSL MD5 alone, one "
            "thread (median of %d rounds): %.3f (target <= 1.40)\n",
            tolvessa::DefaultDigestWorkers(), std::thread::hardware_concurrency(), rounds,
            withDigests / hash);
    }
    if (hash > 0 && withVerdicts > 0) {
        std::printf(
            "scan with digests and verdicts (%u workers on %u cores) / OpenSSL MD5 alone, one "
            "thread (median of %d rounds): %.3f (target <= 1.45)\n",
            tolvessa::DefaultDigestWorkers(), std::thread::hardware_concurrency(), rounds,
            withVerdicts / hash);
    }
    if (hash > 0 && oneWorker > 0) {
        std::printf("  the same with 1 worker (median of %d rounds): %.3f\n", rounds,
                    oneWorker / hash);
        // The work itself, whatever else the machine runs: the CPU time of all threads. The
        // ratio above comes near it when the scan's thread and the worker share one core.
        std::printf(
            "  its CPU time, all threads / OpenSSL MD5's (median of %d rounds): %.3f "
            "(target <= 2.70)\n",
            rounds,
            reporter.MedianCpu("BM_ScanWithVerdictsOneWorker") /
                reporter.MedianCpu("BM_OpensslHashOnly"));
    }
    std::error_code ignored;
    fs::remove_all(TheSetup().root, ignored);
    return 0;
}
