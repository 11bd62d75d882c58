// Host build of the driver scan: reads a recorded module table, resolves every kernel path to a
// file under the mapped drives and prints one row per module with its file details: the ten
// cells of the window's row, the digests of the file, and the verdict on its signature
// ("Signature", "Signer", "Catalog"), all computed by the digest workers as in the window; with
// vulnerable-driver lists loaded, a "Known Vulnerable" line too. The exports are written once
// every row is complete.
//
//   tolvessa_scan [--layout 32|64] [--drive-c DIR] [--hide-microsoft] [--log REPORT]
//                 [--catalogs DIR] [--roots PEM] [--vulnlist LIST]... [--csv FILE] [--json FILE]
//                 TABLE
//   tolvessa_scan [--layout 32|64] --record TABLE KERNEL_PATH...
//
// A table is in the layout a 32-bit process gets (the default) or a 64-bit one's.
// --catalogs names a folder searched for catalog files (*.cat) at any depth, as the CatRoot
// folder of a mounted Windows volume; without it no file is found in a catalog. --roots names a
// PEM file of the trusted roots; without it the system's trust store is used.
// --log writes the report instead of printing the rows (the rows are then completed only for the
// exports and the lists).
//
// The exit code of a scan is the or-ed flags of the unattended mode: 1 the table could not be
// read, 2 a report or export could not be written, 4 a row matched a vulnerable-driver list,
// 8 a list named could not be read or is no list. Exports are written even when the table was
// unread (with no rows), as the unattended mode does. Usage errors also exit with 2, and a
// recording that could not be written with 1.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/host_inventory.h"
#include "platform/host/openssl_signature_engine.h"
#include "platform/host/posix_file.h"
#include "platform/host/posix_report_file.h"
#include "platform/host/recorded_snapshot.h"
#include "report/exports.h"
#include "shell/file_facts.h"
#include "shell/log_mode.h"
#include "tolvessa_product.h"
#include "tools/scan_worker.h"
#include "trust/vulnerable_lists.h"

namespace {

using tolvessa::Text;

int Usage() {
    std::fprintf(stderr,
                 "usage: tolvessa_scan [--layout 32|64] [--drive-c DIR] [--hide-microsoft] "
                 "[--log REPORT]\n"
                 "                     [--catalogs DIR] [--roots PEM] [--vulnlist LIST]... "
                 "[--csv FILE] [--json FILE] TABLE\n"
                 "       tolvessa_scan [--layout 32|64] --record TABLE KERNEL_PATH...\n"
                 "exit code: the sum of 1 (table unread), 2 (report or export unwritten), 4 "
                 "(a driver on a list), 8 (a list unread); 2 also for a usage error\n");
    return 2;
}

struct Options {
    std::string driveC;
    bool hide = false;
    std::string recordTo;
    std::string logTo;
    std::string catalogs;
    std::string roots;
    std::vector<std::string> lists;
    std::string csv;
    std::string json;
    tolvessa::ModuleTableLayout layout = tolvessa::ModuleTableLayout::k32Bit;
    std::vector<std::string> rest;
};

// Nothing on a usage error.
std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--layout" && hasValue) {
            const std::string bits = argv[++i];
            if (bits != "32" && bits != "64")
                return std::nullopt;
            o.layout = bits == "64" ? tolvessa::ModuleTableLayout::k64Bit
                                    : tolvessa::ModuleTableLayout::k32Bit;
        } else if (arg == "--drive-c" && hasValue) {
            o.driveC = argv[++i];
        } else if (arg == "--hide-microsoft") {
            o.hide = true;
        } else if (arg == "--log" && hasValue) {
            o.logTo = argv[++i];
        } else if (arg == "--record" && hasValue) {
            o.recordTo = argv[++i];
        } else if (arg == "--catalogs" && hasValue) {
            o.catalogs = argv[++i];
        } else if (arg == "--roots" && hasValue) {
            o.roots = argv[++i];
        } else if (arg == "--vulnlist" && hasValue) {
            o.lists.emplace_back(argv[++i]);
        } else if (arg == "--csv" && hasValue) {
            o.csv = argv[++i];
        } else if (arg == "--json" && hasValue) {
            o.json = argv[++i];
        } else {
            o.rest.push_back(arg);
        }
    }
    return o;
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

// The whole file, or why it could not be read.
struct FileBytes {
    std::vector<std::uint8_t> bytes;
    std::string error;
};

// A list file as the program reads one: at most kMaxListFileSize bytes, a larger file refused
// by its size before a byte of it is read.
FileBytes ReadListFile(const std::string& path) {
    FileBytes result;
    const auto file = tolvessa::host::PosixFile::Open(path, O_RDONLY | O_NOCTTY);
    if (!file) {
        result.error = std::strerror(errno);
        return result;
    }
    if (!file.IsRegularFile()) {
        result.error = "not a regular file";
        return result;
    }
    const std::string tooLarge =
        "the file is larger than " + std::to_string(tolvessa::kMaxListFileSize >> 20) + " MiB";
    if (const std::optional<std::uint64_t> size = file.Size();
        size && *size > tolvessa::kMaxListFileSize) {
        result.error = tooLarge;
        return result;
    }
    std::uint8_t buffer[1 << 16];
    for (;;) {
        const std::optional<std::size_t> count = file.ReadSome(buffer);
        if (!count) {
            result.error = std::strerror(errno);
            return result;
        }
        if (*count == 0)
            return result;
        result.bytes.insert(result.bytes.end(), buffer, buffer + *count);
        if (result.bytes.size() > tolvessa::kMaxListFileSize) {
            result.bytes.clear();
            result.error = tooLarge;
            return result;
        }
    }
}

// Writes `bytes` as the whole file, replacing one that is there: empty when written, else why
// not.
std::string WriteWholeFile(const std::string& path, const std::string& bytes) {
    auto file = tolvessa::host::PosixFile::Open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!file || !file.WriteAll(bytes) || !file.Close())
        return std::strerror(errno);
    return {};
}

struct ListsLoaded {
    bool any = false;     // some list was loaded
    bool unread = false;  // some list could not be read or is no list
};

// Loads every list named, in order, and says on stderr what each came to.
ListsLoaded LoadLists(tolvessa::VulnerableLists& lists, const std::vector<std::string>& paths) {
    ListsLoaded loaded;
    for (const std::string& path : paths) {
        const FileBytes file = ReadListFile(path);
        if (!file.error.empty()) {
            std::fprintf(stderr, "cannot read the vulnerable-driver list %s: %s\n", path.c_str(),
                         file.error.c_str());
            loaded.unread = true;
            continue;
        }
        const tolvessa::ListLoadReport report = lists.Load(file.bytes, tolvessa::Utf8ToText(path));
        const std::string format = tolvessa::TextToUtf8(tolvessa::ListFormatText(report.format));
        if (!report.error.empty()) {
            std::fprintf(stderr, "%s is no %s list: %s\n", path.c_str(), format.c_str(),
                         tolvessa::TextToUtf8(report.error).c_str());
            loaded.unread = true;
            continue;
        }
        std::fprintf(stderr, "%s (%s): %zu entries, %zu rows skipped, %zu values ignored\n",
                     path.c_str(), format.c_str(), report.entries, report.skippedRows,
                     report.ignoredValues);
        if (!report.cutAt.empty()) {
            // Used as far as it goes, and still a list not read.
            std::fprintf(stderr, "%s is cut short: it ends %s\n", path.c_str(),
                         tolvessa::TextToUtf8(report.cutAt).c_str());
            loaded.unread = true;
        }
        loaded.any = true;
    }
    return loaded;
}

// The digests, verdicts and (when a list is loaded) list matches of every row whose file is
// there, all waited for.
void CompleteRows(tolvessa::DriverList& list, const tolvessa::host::HostPaths& paths,
                  const std::string& roots,
                  const std::shared_ptr<const tolvessa::host::HostCatalogs>& catalogs,
                  const tolvessa::VulnerableLists& lists, bool identity) {
    tolvessa::DigestPool pool(tolvessa::DefaultDigestWorkers(),
                              tolvessa::tools::ScanWorkers(paths, roots, catalogs), nullptr);
    for (std::size_t i = 0; i < list.Count(); ++i) {
        if (list.FileExists(i))
            pool.Submit(i, list.Row(i)[tolvessa::kImageName], {true, identity});
    }
    pool.WaitIdle();
    tolvessa::ApplyResults(list, pool.TakeResults(), lists);
}

void PrintRows(const std::vector<tolvessa::ModuleRecord>& records, bool withLists) {
    // Every cell of the exports; "Known Vulnerable", the last, only when a list is loaded.
    const std::size_t cells = tolvessa::kExportColumnCount - (withLists ? 0 : 1);
    for (const tolvessa::ModuleRecord& record : records) {
        const auto row = tolvessa::ExportCells(record);
        for (std::size_t c = 0; c < cells; ++c) {
            std::printf("%-13s %s\n",
                        tolvessa::TextToUtf8(tolvessa::kExportColumnCaptions[c]).c_str(),
                        tolvessa::TextToUtf8(row[c]).c_str());
        }
        std::printf("\n");
    }
    std::printf("%zu Modules Loaded\n", records.size());
}

// This host's name, the moment the list was taken (UTC) and the table layout's bits.
tolvessa::ExportContext ExportContextOf(std::time_t taken, tolvessa::ModuleTableLayout layout) {
    tolvessa::ExportContext context;
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) == 0)
        context.computerName = tolvessa::Utf8ToText(name);
    std::tm utc{};
    if (::gmtime_r(&taken, &utc)) {
        context.time = {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                        utc.tm_hour,        utc.tm_min,     utc.tm_sec};
    }
    context.bits = layout == tolvessa::ModuleTableLayout::k64Bit ? 64 : 32;
    return context;
}

// False (after saying why on stderr) when the file could not be written.
bool WriteExport(const char* kind, const std::string& path, const std::string& bytes) {
    const std::string error = WriteWholeFile(path, bytes);
    if (error.empty())
        return true;
    std::fprintf(stderr, "cannot write the %s export %s: %s\n", kind, path.c_str(), error.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options)
        return Usage();
    const Options& o = *options;
    if (!o.recordTo.empty())
        return Record(o.recordTo, o.rest, o.layout);
    if (o.rest.size() != 1)
        return Usage();

    // The lists first, as the program loads them before its scan.
    tolvessa::VulnerableLists lists;
    const ListsLoaded loaded = LoadLists(lists, o.lists);

    tolvessa::host::HostInventory inventory(o.driveC);
    tolvessa::DriverList list;
    tolvessa::host::RecordedModuleTable table(o.rest[0], o.layout);
    tolvessa::host::FixedScanHost host(o.hide);
    const std::time_t taken = std::time(nullptr);
    const bool tableRead = tolvessa::ScanDrivers(list, inventory.Platform(table), host) !=
                           tolvessa::ScanResult::kSnapshotFailed;
    if (!tableRead)
        std::fprintf(stderr, "cannot read the module table %s\n", o.rest[0].c_str());

    bool unwritten = false;
    if (!o.logTo.empty()) {
        // The report as the unattended mode writes it: no refresh has set a status text.
        tolvessa::host::PosixReportFile reportFile(inventory.Paths());
        if (!tolvessa::WriteDriverReport(reportFile, tolvessa::Utf8ToText(o.logTo), list,
                                         TOLVESSA_U(TOLVESSA_TITLE), TOLVESSA_U(TOLVESSA_HOST_NAME),
                                         u"")) {
            std::fprintf(stderr, "cannot write the report %s\n", o.logTo.c_str());
            unwritten = true;
        }
    }
    const bool exports = !o.csv.empty() || !o.json.empty();
    if (!o.logTo.empty() && !exports && !loaded.any)
        return tolvessa::CombineExitFlags(!tableRead, unwritten, false, loaded.unread);

    const auto catalogs = o.catalogs.empty() ? nullptr
                                             : std::make_shared<const tolvessa::host::HostCatalogs>(
                                                   o.catalogs, o.roots);
    if (tableRead)
        CompleteRows(list, inventory.Paths(), o.roots, catalogs, lists, loaded.any);
    if (catalogs) {
        // Read at the first look-up, or now when no file was looked up.
        const tolvessa::CatalogIndex& index = catalogs->Index();
        std::fprintf(stderr, "%s: %zu catalogs read, %zu files skipped as no catalog\n",
                     o.catalogs.c_str(), index.CatalogCount(), index.Skipped().size());
    }

    const std::vector<tolvessa::ModuleRecord> records = tolvessa::ModuleRecords(list);
    if (tableRead && o.logTo.empty())
        PrintRows(records, loaded.any);
    if (!o.csv.empty() && !WriteExport("CSV", o.csv, tolvessa::ExportCsv(records)))
        unwritten = true;
    if (!o.json.empty() &&
        !WriteExport("JSON", o.json,
                     tolvessa::ExportJson(ExportContextOf(taken, o.layout), records)))
        unwritten = true;

    bool matched = false;
    for (const tolvessa::ModuleRecord& record : records)
        matched = matched || !record.vulnerable.empty();
    return tolvessa::CombineExitFlags(!tableRead, unwritten, matched, loaded.unread);
}
