// An inventory held in memory: a module table of chosen entries and a table of files behind the
// platform interfaces, for tests that need a list filled by the real scan.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "inventory/driver_scan.h"
#include "inventory/pe_image.h"

namespace tolvessa::testing {

// One file as the fakes report it.
struct FakeFile {
    bool hidden = false;
    Text company, description, version;
    // The file's bytes; nothing makes it a file that cannot be opened for reading.
    std::optional<std::string> content = std::string();
    // False: the attribute calls do not find it, while its version strings are still there.
    bool exists = true;
};

using FakeFiles = std::map<Text, FakeFile>;

// The module table: the given entries (or raw table bytes), paths decoded as UTF-8.
class FakeModuleTable : public ModuleTableApi {
  public:
    std::vector<ModuleEntry> entries;
    std::optional<std::vector<std::uint8_t>> bytes;  // takes the place of `entries` when set
    bool fails = false;
    ModuleTableLayout layout = ModuleTableLayout::k32Bit;

    bool TakeSnapshot(const SnapshotVisitor& visit) override {
        if (fails)
            return false;
        const std::vector<std::uint8_t> table =
            bytes ? *bytes : EncodeModuleSnapshot(entries, layout);
        visit(ModuleSnapshot(table, layout));
        return true;
    }
    Text DecodeAnsi(std::string_view ansi) override { return Utf8ToText(ansi); }
};

// Fixed directories; upper-cases ASCII letters only.
class FakePaths : public PathApi {
  public:
    Text windowsDirectory = u"C:\\Windows";
    Text systemDirectory = u"C:\\Windows\\system32";

    Text WindowsDirectory() override { return windowsDirectory; }
    Text SystemDirectory() override { return systemDirectory; }
    Text UpperCase(TextView text) override {
        Text out(text);
        for (char16_t& c : out) {
            if (c >= u'a' && c <= u'z')
                c = static_cast<char16_t>(c - u'a' + u'A');
        }
        return out;
    }
};

// Attributes by path: a file that exists is found, hidden or not; anything else is not found.
class FakeAttributes : public FileAttributeApi {
  public:
    explicit FakeAttributes(const FakeFiles& files) : files_(files) {}

    std::function<void(const Text& path)> beforeRead;  // runs first in every attribute read
    int reads = 0;

    Attributes ReadAttributes(const Text& path) override {
        ++reads;
        if (beforeRead)
            beforeRead(path);
        const auto it = files_.find(path);
        if (it == files_.end() || !it->second.exists)
            return {kInvalidAttributes, kErrorFileNotFound};
        return {it->second.hidden ? kHidden : 0u, 0};
    }
    std::optional<std::uint32_t> FindAttributes(const Text&) override { return std::nullopt; }
    std::uint32_t TryOpenForRead(const Text&) override { return kErrorFileNotFound; }

  private:
    const FakeFiles& files_;
};

// Version data by path, laid out as: language and code page (0409, 04B0), then the company name,
// the description and the product version, each as UTF-16 up to a NUL. Values are answered with
// spans inside the block the data was read into.
class FakeVersions : public VersionApi {
  public:
    static constexpr std::uint16_t kLanguage = 0x0409;
    static constexpr std::uint16_t kCodePage = 0x04B0;

    explicit FakeVersions(const FakeFiles& files) : files_(files) {}

    std::vector<Text> sizeQueries;  // the path of every size query, in order

    VersionDataSize VersionInfoSize(const Text& path) override {
        sizeQueries.push_back(path);
        const std::optional<std::vector<std::uint8_t>> data = Data(path);
        return {data ? static_cast<std::uint32_t>(data->size()) : 0u, 0};
    }
    bool ReadVersionInfo(const Text& path, std::uint32_t, std::span<std::uint8_t> buffer) override {
        const std::optional<std::vector<std::uint8_t>> data = Data(path);
        if (!data || data->size() > buffer.size())
            return false;
        std::copy(data->begin(), data->end(), buffer.begin());
        return true;
    }
    std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                                  const Text& subBlock) override {
        if (block.size() < 4)
            return std::nullopt;
        if (subBlock == u"\\VarFileInfo\\Translation")
            return VersionValue{block, 4};
        const TextView keys[] = {u"CompanyName", u"FileDescription", u"ProductVersion"};
        std::size_t at = 4;
        for (const TextView key : keys) {
            std::size_t end = at;
            while (end + 2 <= block.size() && Read16(block, end) != 0)
                end += 2;
            if (subBlock == StringFileInfoPath(kLanguage, kCodePage, key))
                return VersionValue{block.subspan(at), static_cast<std::uint32_t>(end - at) / 2};
            at = end + 2;
        }
        return std::nullopt;
    }

  private:
    std::optional<std::vector<std::uint8_t>> Data(const Text& path) const {
        const auto it = files_.find(path);
        if (it == files_.end())
            return std::nullopt;
        std::vector<std::uint8_t> data;
        auto put16 = [&data](std::uint16_t unit) {
            data.push_back(static_cast<std::uint8_t>(unit));
            data.push_back(static_cast<std::uint8_t>(unit >> 8));
        };
        put16(kLanguage);
        put16(kCodePage);
        for (const Text* value :
             {&it->second.company, &it->second.description, &it->second.version}) {
            for (const char16_t unit : *value)
                put16(unit);
            put16(0);
        }
        return data;
    }

    const FakeFiles& files_;
};

// File content by path; a file without content cannot be opened.
class FakeContent : public FileContentApi {
  public:
    explicit FakeContent(const FakeFiles& files) : files_(files) {}

    std::function<void(const Text& path)> beforeOpen;  // runs first in every open
    std::vector<Text> opened;                          // every path asked for, in order

    std::unique_ptr<File> OpenForRead(const Text& path) override {
        if (beforeOpen)
            beforeOpen(path);
        opened.push_back(path);
        const auto it = files_.find(path);
        if (it == files_.end() || !it->second.content)
            return nullptr;
        return std::make_unique<ReadOnly>(*it->second.content);
    }

  private:
    class ReadOnly : public File {
      public:
        explicit ReadOnly(std::string bytes) : bytes_(std::move(bytes)) {}
        std::unique_ptr<View> MapWhole() override { return nullptr; }
        std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
            const std::size_t n = std::min(buffer.size(), bytes_.size() - at_);
            std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), n, buffer.begin());
            at_ += n;
            return n;
        }

      private:
        std::string bytes_;
        std::size_t at_ = 0;
    };

    const FakeFiles& files_;
};

// The window's part: the filter mark and the message pump.
class FakeScanHost : public ScanHost {
  public:
    bool hideMicrosoft = false;
    int pumps = 0;
    int filterReads = 0;
    std::function<void()> onPump;  // runs in every pump, after it is counted

    bool HideMicrosoftDrivers() override {
        ++filterReads;
        return hideMicrosoft;
    }
    void PumpMessages() override {
        ++pumps;
        if (onPump)
            onPump();
    }
};

// The whole platform over one table of files.
class FakeInventory {
  public:
    FakeInventory() = default;
    FakeInventory(const FakeInventory&) = delete;
    FakeInventory& operator=(const FakeInventory&) = delete;

    FakeFiles files;
    FakeModuleTable modules;
    FakePaths paths;
    FakeAttributes attributes{files};
    FakeVersions versions{files};
    FakeContent content{files};

    InventoryPlatform Platform() { return {modules, paths, attributes, versions, content}; }

    void AddEntry(std::string path, std::uint16_t order = 0, std::uint64_t base = 0,
                  std::uint32_t size = 0) {
        ModuleEntry e;
        e.fullPathName = std::move(path);
        e.loadOrderIndex = order;
        e.imageBase = base;
        e.imageSize = size;
        modules.entries.push_back(std::move(e));
    }

    // A scan of the whole table into `list`, with a host that hides nothing.
    ScanResult ScanInto(DriverList& list) {
        FakeScanHost host;
        return ScanDrivers(list, Platform(), host);
    }
};

}  // namespace tolvessa::testing
