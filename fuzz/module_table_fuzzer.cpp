// The module table as the kernel hands it over, read and turned into rows: the input is the
// table's bytes, read in both layouts (a 32-bit and a 64-bit process's). The files are fakes whose
// answers follow from the path alone, so the whole scan (path decoding, kernel path resolution, the
// drivers-folder retry, the filter, the file queries) runs on every entry the bytes hold.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "inventory/driver_scan.h"
#include "inventory/kernel_path.h"
#include "inventory/module_snapshot.h"
#include "platform/host/host_system.h"
#include "tests/unit/fake_inventory.h"

namespace tolvessa::fuzz {
namespace {

constexpr TextView kSystemDir = u"C:\\Windows\\system32";

// Bits of a hash of the path decide what the fake file system says about it.
std::uint32_t PathHash(const Text& path) {
    std::uint32_t h = 2166136261u;
    for (const char16_t c : path)
        h = (h ^ c) * 16777619u;
    return h;
}

host::HostSystem FixedPaths() {
    host::HostSystem p;
    p.windowsDirectory = u"C:\\Windows";
    p.systemDirectory = Text(kSystemDir);
    return p;
}

// The files behind the table: every path the scan can ask about for an entry (the resolved one
// and its drivers-folder candidate) exists or not, is hidden or not, and is Microsoft's or not
// as bits of its hash say.
struct FakeHost {
    testing::FakeInventory inventory;
    host::HostSystem paths = FixedPaths();
    testing::FakeScanHost window;

    FakeHost(std::span<const std::uint8_t> bytes, ModuleTableLayout layout) {
        inventory.modules.bytes.emplace(bytes.begin(), bytes.end());
        inventory.modules.layout = layout;
        const ModuleSnapshot snapshot(bytes, layout);
        for (std::size_t i = 0; i < snapshot.Count(); ++i) {
            const Text path = ResolveKernelPath(
                paths, inventory.modules.DecodeAnsi(snapshot.Entry(i).fullPathName));
            for (const Text& file : {path, Text(kSystemDir) + u"\\drivers\\" + path}) {
                const std::uint32_t h = PathHash(file);
                if ((h & 1) == 0)
                    continue;
                testing::FakeFile& fake = inventory.files[file];
                fake.hidden = (h & 2) != 0;
                fake.company = (h & 4) != 0 ? Text(u"Microsoft Corporation") : Text(u"Contoso");
                fake.description = file.substr(0, 8);
                fake.version = u"1.0";
            }
        }
        // The filter is read afresh for every entry: have it change on the way.
        window.onPump = [this] { window.hideMicrosoft = (window.pumps - 1) % 3 == 0; };
    }

    ScanResult Scan(DriverList& list) {
        return ScanDrivers(
            list,
            {inventory.modules, paths, inventory.attributes, inventory.versions, inventory.content},
            window);
    }
};

void CheckSnapshot(std::span<const std::uint8_t> bytes, ModuleTableLayout layout) {
    const ModuleTableFormat format = FormatOf(layout);
    const ModuleSnapshot snapshot(bytes, layout);
    const std::size_t count = snapshot.Count();
    if (bytes.size() < 4)
        FUZZ_CHECK(snapshot.ClaimedCount() == 0);
    if (bytes.size() < format.headerSize)
        FUZZ_CHECK(count == 0);
    FUZZ_CHECK(count <= snapshot.ClaimedCount());
    FUZZ_CHECK(format.headerSize + count * format.entrySize <= bytes.size() || count == 0);

    std::vector<ModuleEntry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        ModuleEntry entry = snapshot.Entry(i);
        FUZZ_CHECK(entry.fullPathName.size() <= ModuleEntry::kPathBytes);
        FUZZ_CHECK(entry.fullPathName.find('\0') == std::string::npos);
        entries.push_back(std::move(entry));
    }
    const ModuleEntry past = snapshot.Entry(count);
    FUZZ_CHECK(past.imageBase == 0 && past.imageSize == 0 && past.loadOrderIndex == 0 &&
               past.fullPathName.empty());

    // What is read can be recorded and read back unchanged.
    const std::vector<std::uint8_t> recorded = EncodeModuleSnapshot(entries, layout);
    const ModuleSnapshot again(recorded, layout);
    FUZZ_CHECK(again.ClaimedCount() == count && again.Count() == count);
    for (std::size_t i = 0; i < count; ++i) {
        const ModuleEntry e = again.Entry(i);
        FUZZ_CHECK(e.imageBase == entries[i].imageBase && e.imageSize == entries[i].imageSize &&
                   e.loadOrderIndex == entries[i].loadOrderIndex &&
                   e.fullPathName == entries[i].fullPathName);
    }
}

// The rows come in snapshot order, each made from one entry: its load order, its resolved path
// (possibly found in the drivers folder) and its addresses, the base with every digit of its
// layout.
void CheckRows(std::span<const std::uint8_t> bytes, ModuleTableLayout layout,
               const DriverList& list) {
    const ModuleSnapshot snapshot(bytes, layout);
    const std::size_t digits = FormatOf(layout).addressBytes * 2;
    host::HostSystem paths = FixedPaths();
    std::size_t next = 0;
    for (const DriverRow& row : list.Rows()) {
        FUZZ_CHECK(row[kBaseAddress].size() == 2 + digits && row[kBaseAddress].starts_with(u"0x"));
        FUZZ_CHECK(row[kImageSize].size() >= 3 && row[kImageSize].starts_with(u"0x"));
        const bool exists = row[kExists] == u"True";
        FUZZ_CHECK(exists || row[kExists] == u"False");
        if (!exists)
            FUZZ_CHECK(row[kMd5Hash].empty() && row[kHidden].empty());

        bool matched = false;
        while (!matched && next < snapshot.Count()) {
            const ModuleEntry entry = snapshot.Entry(next++);
            const Text path = ResolveKernelPath(paths, host::DecodeAnsi(entry.fullPathName));
            const Text inDrivers = Text(kSystemDir) + u"\\drivers\\" + path;
            matched =
                row[kLoadOrder] == DecimalText(entry.loadOrderIndex) &&
                row[kBaseAddress] == u"0x" + HexText(entry.imageBase, static_cast<int>(digits)) &&
                row[kImageSize] == u"0x" + HexText(entry.imageSize) &&
                (row[kImageName] == path || row[kImageName] == inDrivers);
        }
        FUZZ_CHECK(matched);
    }
}

void CheckScan(std::span<const std::uint8_t> bytes, ModuleTableLayout layout) {
    CheckSnapshot(bytes, layout);

    FakeHost host(bytes, layout);
    DriverList list;
    FUZZ_CHECK(host.Scan(list) == ScanResult::kCompleted);
    FUZZ_CHECK(list.Count() <= ModuleSnapshot(bytes, layout).Count());
    FUZZ_CHECK(!list.Scanning());
    CheckRows(bytes, layout, list);

    // A second scan of the same table never empties the list: it adds the same rows again.
    FakeHost again(bytes, layout);
    const std::size_t first = list.Count();
    FUZZ_CHECK(again.Scan(list) == ScanResult::kCompleted);
    FUZZ_CHECK(list.Count() == 2 * first);
    for (std::size_t i = 0; i < first; ++i)
        FUZZ_CHECK(list.Row(first + i) == list.Row(i));
}

}  // namespace
}  // namespace tolvessa::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    const std::span<const std::uint8_t> bytes(data, size);
    fuzz::CheckScan(bytes, ModuleTableLayout::k32Bit);
    fuzz::CheckScan(bytes, ModuleTableLayout::k64Bit);
    return 0;
}
