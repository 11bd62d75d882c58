// Host build of the driver scan: reads a recorded module table, resolves every kernel path to a
// file under the mapped drives and prints one row per module with its file details: the ten
// cells of the window's row, then the digests of the file (computed by the digest workers).
//
//   tolvessa_scan [--layout 32|64] [--drive-c DIR] [--hide-microsoft] [--log REPORT] TABLE
//   tolvessa_scan [--layout 32|64] --record TABLE KERNEL_PATH...
//
// A table is in the layout a 32-bit process gets (the default) or a 64-bit one's.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/host/host_inventory.h"
#include "platform/host/openssl_hash.h"
#include "platform/host/posix_report_file.h"
#include "platform/host/recorded_snapshot.h"
#include "shell/digest_pool.h"
#include "tolvessa_product.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: tolvessa_scan [--layout 32|64] [--drive-c DIR] [--hide-microsoft] "
                 "[--log REPORT] TABLE\n"
                 "       tolvessa_scan [--layout 32|64] --record TABLE KERNEL_PATH...\n");
    return 2;
}

// The modules at the addresses Wine's kernel gives them.
int Record(const std::string& file, const std::vector<std::string>& kernelPaths,
           tolvessa::ModuleTableLayout layout) {
    std::vector<tolvessa::ModuleEntry> entries;
    std::uint32_t base = 0x10000000;
    for (std::size_t i = 0; i < kernelPaths.size(); ++i) {
        tolvessa::ModuleEntry e;
        e.imageBase = base;
        e.imageSize = 0x200000;
        e.loadOrderIndex = static_cast<std::uint16_t>(i);
        e.fullPathName = kernelPaths[i];
        entries.push_back(e);
        base += 0x200000;
    }
    const auto bytes = tolvessa::EncodeModuleSnapshot(entries, layout);
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string driveC;
    bool hide = false;
    std::vector<std::string> rest;
    std::string recordTo;
    std::string logTo;
    auto layout = tolvessa::ModuleTableLayout::k32Bit;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--layout") && i + 1 < argc) {
            const std::string bits = argv[++i];
            if (bits != "32" && bits != "64")
                return Usage();
            layout = bits == "64" ? tolvessa::ModuleTableLayout::k64Bit
                                  : tolvessa::ModuleTableLayout::k32Bit;
        } else if (!std::strcmp(argv[i], "--drive-c") && i + 1 < argc) {
            driveC = argv[++i];
        } else if (!std::strcmp(argv[i], "--hide-microsoft")) {
            hide = true;
        } else if (!std::strcmp(argv[i], "--log") && i + 1 < argc) {
            logTo = argv[++i];
        } else if (!std::strcmp(argv[i], "--record") && i + 1 < argc) {
            recordTo = argv[++i];
        } else {
            rest.emplace_back(argv[i]);
        }
    }
    if (!recordTo.empty())
        return Record(recordTo, rest, layout);
    if (rest.size() != 1)
        return Usage();

    tolvessa::host::HostInventory inventory(driveC);
    tolvessa::DriverList list;
    tolvessa::host::RecordedModuleTable table(rest[0], layout);
    tolvessa::host::FixedScanHost host(hide);
    const auto result = tolvessa::ScanDrivers(list, inventory.Platform(table), host);
    if (result == tolvessa::ScanResult::kSnapshotFailed) {
        std::fprintf(stderr, "cannot read the module table %s\n", rest[0].c_str());
        return 1;
    }
    if (!logTo.empty()) {
        // The report as the unattended mode writes it: no refresh has set a status text.
        tolvessa::host::PosixReportFile reportFile(inventory.Paths());
        tolvessa::WriteDriverReport(reportFile, tolvessa::Utf8ToText(logTo), list,
                                    TOLVESSA_U(TOLVESSA_TITLE), TOLVESSA_U(TOLVESSA_HOST_NAME),
                                    u"");
        return 0;
    }
    // The digests of every file that is there, from the workers, all waited for.
    {
        tolvessa::host::OpenSslHashApi hashes;
        tolvessa::FileContentApi& content = inventory.Platform(table).content;
        tolvessa::DigestPool pool(
            tolvessa::DefaultDigestWorkers(),
            [&](const tolvessa::Text& path) {
                return tolvessa::ComputeFileDigests(content, hashes, path);
            },
            nullptr);
        for (std::size_t i = 0; i < list.Count(); ++i) {
            if (list.Row(i)[tolvessa::kExists] == u"True")
                pool.Submit(i, list.Row(i)[tolvessa::kImageName]);
        }
        pool.WaitIdle();
        for (tolvessa::DigestResult& done : pool.TakeResults())
            list.SetDigests(done.row, std::move(done.digests));
    }
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const tolvessa::DriverRow& row = list.Row(i);
        for (std::size_t c = 0; c < tolvessa::kColumnCount; ++c) {
            std::printf("%-13s %s\n", tolvessa::TextToUtf8(tolvessa::kColumnCaptions[c]).c_str(),
                        tolvessa::TextToUtf8(row[c]).c_str());
        }
        for (std::size_t d = 0; d < tolvessa::kDigestColumnCount; ++d) {
            std::printf("%-13s %s\n",
                        tolvessa::TextToUtf8(tolvessa::kDigestColumnCaptions[d]).c_str(),
                        tolvessa::TextToUtf8(tolvessa::DigestCell(list.Digests(i), d)).c_str());
        }
        std::printf("\n");
    }
    std::printf("%zu Modules Loaded\n", list.Count());
    return 0;
}
