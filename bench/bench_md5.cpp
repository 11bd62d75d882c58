// MD5 throughput: ours (Md5Init/Md5Update/Md5Final) against OpenSSL's MD5 on the same buffers,
// and the whole-file digest through PosixFileContent, mapped and read. The benchmarks run in
// several interleaved rounds; the ratios printed at the end compare the median throughputs.
//
//   bench_md5 [--rounds=N] [Google Benchmark flags]
#define OPENSSL_SUPPRESS_DEPRECATED  // the low-level MD5_* calls, the fairest reference
#include <openssl/md5.h>
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "inventory/md5.h"
#include "platform/host/file_content.h"
#include "platform/host/host_paths.h"

namespace {

using tolvessa::Md5Context;
using tolvessa::Md5Digest;

constexpr std::size_t kSizes[] = {4 << 10, 64 << 10, 1 << 20, 16 << 20};
constexpr std::size_t kFileSize = 16 << 20;

const std::vector<std::uint8_t>& Data() {
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> bytes(kSizes[std::size(kSizes) - 1]);
        std::mt19937 random(1321);
        for (auto& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        return bytes;
    }();
    return data;
}

Md5Digest Ours(const std::uint8_t* data, std::size_t size) {
    Md5Context context;
    tolvessa::Md5Init(context);
    tolvessa::Md5Update(context, data, static_cast<std::uint32_t>(size));
    return tolvessa::Md5Final(context);
}

Md5Digest Openssl(const std::uint8_t* data, std::size_t size) {
    Md5Digest digest;
    MD5_CTX context;
    MD5_Init(&context);
    MD5_Update(&context, data, size);
    MD5_Final(digest.data(), &context);
    return digest;
}

void BM_Ours(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::uint8_t* data = Data().data();
    for (auto _ : state) {
        Md5Digest digest = Ours(data, size);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

void BM_Openssl(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::uint8_t* data = Data().data();
    for (auto _ : state) {
        Md5Digest digest = Openssl(data, size);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

// A file of the first kFileSize bytes of Data() in a folder of its own, mapped as drive T:.
class BenchFile {
  public:
    BenchFile() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "md5-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            return;
        folder_ = pattern;
        std::ofstream out(folder_ / "file.bin", std::ios::binary);
        out.write(reinterpret_cast<const char*>(Data().data()), kFileSize);
        if (out.good())
            paths_.MapDrive(u'T', folder_.string());
    }
    BenchFile(const BenchFile&) = delete;
    BenchFile& operator=(const BenchFile&) = delete;
    ~BenchFile() {
        std::error_code ignored;
        if (!folder_.empty())
            std::filesystem::remove_all(folder_, ignored);
    }
    const tolvessa::host::HostPaths& paths() const { return paths_; }

  private:
    std::filesystem::path folder_;
    tolvessa::host::HostPaths paths_;
};

BenchFile* g_file = nullptr;

void FileBenchmark(benchmark::State& state, tolvessa::host::PosixFileContent::Mapping mapping) {
    tolvessa::host::PosixFileContent content(g_file->paths(), mapping);
    const Md5Digest expected = Openssl(Data().data(), kFileSize);
    for (auto _ : state) {
        Md5Digest digest = tolvessa::Md5File(content, u"T:\\file.bin");
        if (digest != expected) {
            state.SkipWithError("wrong digest for the file");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kFileSize));
}

void BM_FileMapped(benchmark::State& state) {
    FileBenchmark(state, tolvessa::host::PosixFileContent::Mapping::kAllowed);
}

void BM_FileRead(benchmark::State& state) {
    FileBenchmark(state, tolvessa::host::PosixFileContent::Mapping::kRefused);
}

// Shows every run as usual and keeps the throughput of each (benchmark, size).
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end())
                continue;
            rates[run.run_name.function_name][run.run_name.args].push_back(rate->second.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double Median(const std::string& name, std::size_t size) const {
        const auto byName = rates.find(name);
        if (byName == rates.end())
            return 0;
        const auto bySize = byName->second.find(std::to_string(size));
        if (bySize == byName->second.end() || bySize->second.empty())
            return 0;
        std::vector<double> values = bySize->second;
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }

  private:
    std::map<std::string, std::map<std::string, std::vector<double>>> rates;
};

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rounds=", 9) == 0) {
            rounds = std::max(1, std::atoi(argv[i] + 9));
        } else {
            args.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    // A benchmark of a wrong digest would measure nothing worth comparing.
    for (const std::size_t size : {std::size_t{0}, std::size_t{55}, std::size_t{1000}, kSizes[3]}) {
        if (Ours(Data().data(), size) != Openssl(Data().data(), size)) {
            std::fprintf(stderr, "digests differ from OpenSSL's for %zu bytes\n", size);
            return 1;
        }
    }

    BenchFile file;
    g_file = &file;
    for (const std::size_t size : kSizes) {
        benchmark::RegisterBenchmark("ours", BM_Ours)->Arg(static_cast<std::int64_t>(size));
        benchmark::RegisterBenchmark("openssl", BM_Openssl)->Arg(static_cast<std::int64_t>(size));
    }
    benchmark::RegisterBenchmark("file_mapped", BM_FileMapped)
        ->Arg(static_cast<std::int64_t>(kFileSize));
    benchmark::RegisterBenchmark("file_read", BM_FileRead)
        ->Arg(static_cast<std::int64_t>(kFileSize));

    CollectingReporter reporter;
    for (int round = 0; round < rounds; ++round)
        benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nMedian throughput over %d rounds, ours / OpenSSL (MD5_Update):\n", rounds);
    std::printf("%10s %14s %14s %8s\n", "bytes", "ours MB/s", "OpenSSL MB/s", "ratio");
    for (const std::size_t size : kSizes) {
        const double ours = reporter.Median("ours", size);
        const double openssl = reporter.Median("openssl", size);
        if (ours <= 0 || openssl <= 0)
            continue;
        std::printf("%10zu %14.1f %14.1f %8.3f\n", size, ours / 1e6, openssl / 1e6, ours / openssl);
    }
    const double reference = reporter.Median("openssl", kFileSize);
    for (const char* name : {"file_mapped", "file_read"}) {
        const double rate = reporter.Median(name, kFileSize);
        if (rate <= 0 || reference <= 0)
            continue;
        std::printf("%-10s %14.1f %14.1f %8.3f  (Md5File on a cached %zu-byte file)\n", name,
                    rate / 1e6, reference / 1e6, rate / reference, kFileSize);
    }
    return 0;
}
