// The Win32 side of the platform interfaces, on real files and real system calls (under Wine
// here, a 64-bit prefix: the test program is 32-bit and runs under WOW64).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "inventory/driver_scan.h"
#include "inventory/file_bytes.h"
#include "inventory/file_digests.h"
#include "inventory/file_queries.h"
#include "inventory/md5.h"
#include "inventory/version_info.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_inventory.h"
#include "platform/win32/win32_report_file.h"
#include "report/exports.h"
#include "shell/file_facts.h"  // kMaxListFileSize
#include "tests/unit/fake_inventory.h"

namespace tolvessa::win32 {
namespace {

// A fresh folder under the temp folder, removed with its files afterwards.
class TempFolder {
  public:
    TempFolder() {
        wchar_t base[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, base);
        path_ = FromWide(base) + u"tolvessa-" + DecimalText(::GetCurrentProcessId()) + u"-" +
                DecimalText(++counter_);
        ::CreateDirectoryW(Wide(path_), nullptr);
    }
    ~TempFolder() {
        for (const Text& file : files_) {
            ::SetFileAttributesW(Wide(file), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(Wide(file));
        }
        ::RemoveDirectoryW(Wide(path_));
    }
    Text Write(const Text& name, const std::string& bytes) {
        const Text file = path_ + u"\\" + name;
        ScopedHandle h = OwnHandle(::CreateFileW(Wide(file), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!bytes.empty()) {
            ::WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
        files_.push_back(file);
        return file;
    }
    const Text& Path() const { return path_; }

  private:
    static inline int counter_ = 0;
    Text path_;
    std::vector<Text> files_;
};

std::string ReadAll(const Text& file) {
    ScopedHandle h = OwnHandle(::CreateFileW(Wide(file), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    std::string out(1 << 16, '\0');
    DWORD got = 0;
    if (!h || !::ReadFile(h.get(), out.data(), static_cast<DWORD>(out.size()), &got, nullptr)) {
        return "<unreadable>";
    }
    out.resize(got);
    return out;
}

Text ProgramPath() {
    Text path = u"Z:" + Utf8ToText(TOLVESSA_EXE_PATH);
    for (char16_t& c : path) {
        if (c == u'/')
            c = u'\\';
    }
    return path;
}

TEST(Win32ModuleTableTest, ReadsTheKernelModuleTable) {
    std::size_t count = 0;
    std::string firstPath;
    const bool ok = Win32ModuleTable().TakeSnapshot([&](const ModuleSnapshot& snapshot) {
        count = snapshot.Count();
        if (count)
            firstPath = snapshot.Entry(0).fullPathName;
    });
    ASSERT_TRUE(ok);
    EXPECT_GE(count, 1u);
    EXPECT_NE(firstPath.find("ntoskrnl.exe"), std::string::npos) << firstPath;
}

// The table in the layout of this build's process: every entry the count claims is whole, and
// each one's fields sit where the layout says (a path that names an image file, a base and a
// size that are not zero).
TEST(Win32ModuleTableTest, ReadsTheTableInThisBuildsLayout) {
    std::vector<ModuleEntry> entries;
    std::uint32_t claimed = 0;
    ModuleTableLayout layout = ModuleTableLayout::k32Bit;
    ASSERT_TRUE(Win32ModuleTable().TakeSnapshot([&](const ModuleSnapshot& snapshot) {
        claimed = snapshot.ClaimedCount();
        layout = snapshot.Layout();
        for (std::size_t i = 0; i < snapshot.Count(); ++i)
            entries.push_back(snapshot.Entry(i));
    }));
    EXPECT_EQ(layout, sizeof(void*) == 8 ? ModuleTableLayout::k64Bit : ModuleTableLayout::k32Bit);
    ASSERT_EQ(entries.size(), claimed);
    for (const ModuleEntry& e : entries) {
        EXPECT_EQ(e.fullPathName.rfind("\\", 0), 0u) << e.fullPathName;
        const std::string ext = e.fullPathName.substr(e.fullPathName.size() - 4);
        EXPECT_TRUE(ext == ".exe" || ext == ".dll" || ext == ".sys") << e.fullPathName;
        EXPECT_NE(e.imageBase, 0u) << e.fullPathName;
        EXPECT_NE(e.imageSize, 0u) << e.fullPathName;
        EXPECT_EQ(e.addressDigits, 2 * static_cast<int>(sizeof(void*)));
    }
}

// A table whose size query answers `sizes` in turn, and whose fill answers `statuses` in turn.
struct ScriptedQuery {
    std::vector<unsigned long> sizes;
    std::vector<long> statuses;
    std::vector<unsigned long> lengthsGiven;
    std::size_t sizeCalls = 0, fillCalls = 0;

    QuerySystemInformation Function() {
        return [this](void* buffer, unsigned long length, unsigned long* returned) -> long {
            if (!buffer) {
                *returned = sizes[std::min(sizeCalls++, sizes.size() - 1)];
                return static_cast<long>(0xC0000004L);
            }
            lengthsGiven.push_back(length);
            const long status = statuses[std::min(fillCalls++, statuses.size() - 1)];
            if (status == 0) {
                // One entry, fitted into the length given.
                auto* bytes = static_cast<std::uint8_t*>(buffer);
                std::fill(bytes, bytes + length, std::uint8_t{0});
                bytes[0] = 1;
                *returned = length;
            }
            return status;
        };
    }
};

TEST(Win32ModuleTableTest, TriesAgainWhenTheTableGrowsBetweenTheQueries) {
    const long kMismatch = static_cast<long>(0xC0000004L);
    struct Case {
        std::vector<long> statuses;
        bool ok;
        std::size_t fills;
    } cases[] = {
        {{0}, true, 1},
        {{kMismatch, 0}, true, 2},  // a module loaded in between, once
        {{kMismatch, kMismatch, kMismatch, kMismatch, kMismatch}, false, 5},  // gives up
        {{static_cast<long>(0xC0000022L)}, false, 1},  // access denied: no retry
    };
    for (const Case& c : cases) {
        ScriptedQuery query;
        const ModuleTableFormat format = FormatOf(kNativeModuleTableLayout);
        query.sizes = {static_cast<unsigned long>(format.headerSize + format.entrySize),
                       static_cast<unsigned long>(format.headerSize + 2 * format.entrySize)};
        query.statuses = c.statuses;
        bool visited = false;
        const bool ok =
            Win32ModuleTable(query.Function(), 5).TakeSnapshot([&](const ModuleSnapshot& snapshot) {
                visited = snapshot.Count() == 1;
            });
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(visited, c.ok);
        EXPECT_EQ(query.fillCalls, c.fills);
        // The fill is given the size just reported, never the doubled buffer size.
        for (std::size_t i = 0; i < query.lengthsGiven.size(); ++i) {
            EXPECT_EQ(query.lengthsGiven[i], query.sizes[std::min(i, query.sizes.size() - 1)]);
        }
    }
}

TEST(Win32FileQueriesTest, ExistsAndHidden) {
    TempFolder folder;
    const Text plain = folder.Write(u"plain.sys", "x");
    const Text hidden = folder.Write(u"hidden.sys", "x");
    ::SetFileAttributesW(Wide(hidden), FILE_ATTRIBUTE_HIDDEN);
    Win32FileAttributes api;
    EXPECT_TRUE(FileExistsOnDisk(api, plain));
    EXPECT_FALSE(IsFileHidden(api, plain));
    EXPECT_TRUE(IsFileHidden(api, hidden));
    EXPECT_FALSE(FileExistsOnDisk(api, folder.Path()));
    EXPECT_FALSE(FileExistsOnDisk(api, folder.Path() + u"\\missing.sys"));
    EXPECT_FALSE(FileExistsOnDisk(api, folder.Path() + u"\\no\\such\\file.sys"));
    EXPECT_EQ(api.ReadAttributes(folder.Path() + u"\\missing.sys").lastError, 2u);
}

TEST(Win32FileQueriesTest, RealSystem32OnlyWithRedirectionOff) {
    Win32FileAttributes api;
    const Text driver = u"C:\\windows\\system32\\drivers\\mountmgr.sys";
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    {
        ScopedWow64RedirectionOff realSystem32;
        EXPECT_TRUE(FileExistsOnDisk(api, driver));
    }
    // The guard puts redirection back: a 32-bit process under WOW64 sees SysWOW64 again.
    if (wow64) {
        EXPECT_FALSE(FileExistsOnDisk(api, driver));
    }
}

TEST(Win32VersionApiTest, ReadsTheProgramsOwnVersionResource) {
    Win32VersionApi api;
    const Text exe = ProgramPath();
    EXPECT_EQ(GetFileCompanyName(api, exe), u"Corvane Software");
    EXPECT_EQ(GetFileDescription(api, exe), u"Corvane Tolvessa");
    EXPECT_EQ(GetFileProductVersion(api, exe), u"1.3.0.0");
    EXPECT_EQ(ReadFileVersionInfo(api, exe).fLegalCopyRight,
              u"Copyright (C) 2016 Corvane Software");
    const TFileVersionInfo none = ReadFileVersionInfo(api, u"C:\\no\\such.dll");
    EXPECT_TRUE(none.fCompanyName.empty());
}

// An image of the version-resource fixtures, built for both bitnesses by the MinGW compilers.
Text VersionFixture(const std::string& name) {
    Text path = u"Z:" + Utf8ToText(std::string(TOLVESSA_FIXTURE_DIR) + "/" + name);
    for (char16_t& c : path) {
        if (c == u'/')
            c = u'\\';
    }
    return path;
}

// What block rules name a file by, through VerQueryValueW: the binary version of the fixed file
// information ("\\"), not the FileVersion string, and four strings.
TEST(Win32VersionApiTest, VersionIdentityIsTheFixedFileVersionAndFourNames) {
    Win32VersionApi api;
    const VersionIdentity own = ReadVersionIdentity(api, ProgramPath());
    EXPECT_EQ(own.fileVersion, std::optional<std::uint64_t>(0x0001000300000000));
    EXPECT_EQ(own.productName, u"Corvane Tolvessa");
    for (const char* kind : {"32.dll", "64.exe"}) {
        SCOPED_TRACE(kind);
        const VersionIdentity binary =
            ReadVersionIdentity(api, VersionFixture(std::string("version_binary_") + kind));
        EXPECT_EQ(binary, (VersionIdentity{u"oldio.sys", u"oldio-internal", u"Old I/O Port Driver",
                                           u"Old I/O Suite", 0x000200050000000C}));
        EXPECT_EQ(GetFileVersionString(api, VersionFixture(std::string("version_binary_") + kind)),
                  u"2.5");
        EXPECT_EQ(ReadVersionIdentity(api, VersionFixture(std::string("no_version_") + kind)),
                  VersionIdentity{});
    }
}

// The open file's size, from the file system: a list file over the limit is refused by it before
// a byte is mapped or read.
TEST(Win32FileContentTest, TheSizeOfTheOpenFileRefusesALargerListBeforeItIsRead) {
    class Counting : public FileContentApi {
      public:
        int asked = 0;
        std::unique_ptr<File> OpenForRead(const Text& path) override {
            std::unique_ptr<File> file = inner_.OpenForRead(path);
            return file ? std::make_unique<Counted>(std::move(file), asked) : nullptr;
        }

      private:
        class Counted : public File {
          public:
            Counted(std::unique_ptr<File> inner, int& asked)
                : inner_(std::move(inner)), asked_(asked) {}
            std::unique_ptr<View> MapWhole() override {
                ++asked_;
                return inner_->MapWhole();
            }
            std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
                ++asked_;
                return inner_->Read(buffer);
            }
            std::optional<std::uint64_t> Size() override { return inner_->Size(); }

          private:
            std::unique_ptr<File> inner_;
            int& asked_;
        };
        Win32FileContent inner_;
    };

    TempFolder folder;
    const Text small = folder.Write(u"small.csv", "Id,Category\r\n");
    const Text big = folder.Write(u"big.csv", "Id,Category\r\n");
    {
        // Past its end without writing: a sparse file where the file system has them.
        ScopedHandle h = OwnHandle(::CreateFileW(Wide(big), GENERIC_WRITE, 0, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(h);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(kMaxListFileSize) + 1;
        ASSERT_TRUE(::SetFilePointerEx(h.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(h.get()));
    }
    Win32FileContent plain;
    EXPECT_EQ(plain.OpenForRead(small)->Size(), std::optional<std::uint64_t>(13));
    EXPECT_EQ(plain.OpenForRead(big)->Size(), std::optional<std::uint64_t>(kMaxListFileSize + 1));

    Counting content;
    const FileBytes::Limited refused = FileBytes::LoadAtMost(content, big, kMaxListFileSize);
    EXPECT_TRUE(refused.tooLarge);
    EXPECT_FALSE(refused.bytes);
    EXPECT_EQ(content.asked, 0);
    const FileBytes::Limited read = FileBytes::LoadAtMost(content, small, kMaxListFileSize);
    ASSERT_TRUE(read.bytes);
    EXPECT_EQ(read.bytes->Bytes().size(), 13u);
}

TEST(Win32FileContentTest, DigestsMappedEmptyAndWriterHeldFiles) {
    TempFolder folder;
    Win32FileContent api;
    const Text abc = folder.Write(u"abc.bin", "abc");
    const Text empty = folder.Write(u"empty.bin", "");
    EXPECT_EQ(FileMd5Hex(api, abc), u"900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(FileMd5Hex(api, empty), u"D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(FileMd5Hex(api, folder.Path() + u"\\missing.bin"), Text(32, u'0'));

    // Held open for writing by another handle: the shared-read open fails, the
    // compatibility-mode retry reads it.
    ScopedHandle writer = OwnHandle(::CreateFileW(Wide(abc), GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_FALSE(OwnHandle(::CreateFileW(Wide(abc), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    EXPECT_EQ(FileMd5Hex(api, abc), u"900150983CD24FB0D6963F7D28E17F72");
}

// "Hashers" that give the MD5 of what they were fed, so every digest cell of a file can be
// checked against the MD5 of a part of it.
class Md5Hashes : public HashApi {
  public:
    // The MD5, followed by zeros to the algorithm's length.
    std::unique_ptr<Hasher> NewHasher(HashAlgorithm algorithm) override {
        class Md5Hasher : public Hasher {
          public:
            explicit Md5Hasher(std::size_t size) : size_(size) { Md5Init(context_); }
            void Update(std::span<const std::uint8_t> bytes) override {
                Md5Update(context_, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            }
            std::vector<std::uint8_t> Finish() override {
                const Md5Digest digest = Md5Final(context_);
                std::vector<std::uint8_t> padded(size_, 0);
                for (std::size_t i = 0; i < padded.size() && i < digest.size(); ++i)
                    padded[i] = digest[i];
                return padded;
            }

          private:
            Md5Context context_;
            std::size_t size_;
        };
        return std::make_unique<Md5Hasher>(algorithm == HashAlgorithm::kSha1 ? 20 : 32);
    }
};

// A file that another thread appends to while it is hashed, over and over, both ways of reading
// it (one view, and in pieces): the program never reads past the length it took first, so every
// digest is that of the file as it was at some moment, a whole number of blocks long. The
// moments where a length taken after the mapping would overrun the view are short: this checks
// the answers under load rather than reproducing that race.
TEST(Win32FileContentTest, AFileThatGrowsWhileHashedGivesTheDigestOfWhatItWas) {
    constexpr std::size_t kBlock = 64 * 1024;
    constexpr int kBlocks = 400;  // 25 MiB at most
    TempFolder folder;
    const auto block = [](int index) { return std::string(kBlock, static_cast<char>(index * 7)); };
    const Text file = folder.Write(u"growing.bin", block(0));
    // The MD5 of the file at every length it will have.
    std::set<Text> prefixes;
    {
        Md5Context md5;
        Md5Init(md5);
        for (int i = 0; i < kBlocks; ++i) {
            const std::string bytes = block(i);
            Md5Update(md5, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                      static_cast<std::uint32_t>(bytes.size()));
            Md5Context copy = md5;
            prefixes.insert(Md5DigestToHex(Md5Final(copy)));
        }
    }

    std::atomic<bool> done = false;
    std::thread appender([&] {
        ScopedHandle out = OwnHandle(::CreateFileW(Wide(file), FILE_APPEND_DATA,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        for (int i = 1; i < kBlocks && out; ++i) {
            const std::string bytes = block(i);
            DWORD written = 0;
            ::WriteFile(out.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        nullptr);
            ::Sleep(2);
        }
        done = true;
    });
    Win32FileContent api;
    Md5Hashes hashes;
    int checked = 0;
    // Until the file stops growing, at least a few times.
    for (int round = 0; round < 3 || (!done.load() && round < 500); ++round) {
        SCOPED_TRACE(round);
        EXPECT_TRUE(prefixes.count(FileMd5Hex(api, file)));
        // Held in memory, and read in pieces at offsets.
        for (const std::uint64_t limit : {kDigestsInMemoryLimit, std::uint64_t{0}}) {
            const FileDigests digests = ComputeFileDigests(api, hashes, file, limit);
            const Text sha1 = DigestText(digests.sha1);
            const Text sha256 = DigestText(digests.sha256);
            EXPECT_TRUE(prefixes.count(sha1.substr(0, 32))) << TextToUtf8(sha1);
            EXPECT_TRUE(prefixes.count(sha256.substr(0, 32))) << TextToUtf8(sha256);
        }
        ++checked;
    }
    appender.join();
    EXPECT_GE(checked, 3);
}

TEST(Win32PathsTest, DirectoriesAndUpperCasing) {
    Win32Paths paths;
    EXPECT_EQ(WindowsDirPrefix(paths), u"C:\\windows\\");
    EXPECT_EQ(GetSystemDir(paths), u"C:\\windows\\system32");
    EXPECT_EQ(ResolveKernelPath(paths, u"\\SystemRoot\\system32\\drivers\\null.sys"),
              u"C:\\windows\\system32\\drivers\\null.sys");
    EXPECT_EQ(paths.UpperCase(u"\\systemroot\\é"), u"\\SYSTEMROOT\\É");
}

TEST(Win32ReportFileTest, WritesAnsiReplacesAndRespectsSharing) {
    TempFolder folder;
    Win32ReportFile api;
    const Text file = folder.Write(u"report.log", "an older and much longer content");
    EXPECT_TRUE(WriteReportText(api, file, u"caf\u00E9\r\n"));
    const std::string expected = api.AnsiIsUtf8() ? "\xEF\xBB\xBF"
                                                    "caf\xC3\xA9\r\n"
                                                  : "caf\xE9\r\n";
    EXPECT_EQ(ReadAll(file), expected);

    // A file held open without sharing is left as it is.
    ScopedHandle holder =
        OwnHandle(::CreateFileW(Wide(file), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(WriteReportText(api, file, u"new"));
    holder.reset();
    EXPECT_EQ(ReadAll(file), expected);
    EXPECT_FALSE(WriteReportText(api, u"", u"x"));
}

// The exports' handle has no read access (a share that grants writing only takes them); the
// text report's has.
TEST(Win32ReportFileTest, ExportsAreOpenForWritingOnly) {
    TempFolder folder;
    const Text file = folder.Write(u"PC.csv", "an older and much longer content");
    char byte = 0;
    DWORD read = 0;
    {
        ScopedHandle exported = CreateReportHandle(file, true);
        ASSERT_TRUE(exported);
        ::SetLastError(0);
        EXPECT_FALSE(::ReadFile(exported.get(), &byte, 1, &read, nullptr));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        DWORD written = 0;
        EXPECT_TRUE(::WriteFile(exported.get(), "x", 1, &written, nullptr));
        // Shared with nobody, as the report is.
        EXPECT_FALSE(CreateReportHandle(file, true));
    }
    {
        ScopedHandle report = CreateReportHandle(file, false);
        ASSERT_TRUE(report);
        EXPECT_TRUE(::ReadFile(report.get(), &byte, 1, &read, nullptr));
    }
    Win32ReportFile api;
    EXPECT_TRUE(WriteExportFile(api, file, "a,b\r\n"));
    EXPECT_EQ(ReadAll(file), "a,b\r\n");
}

TEST(Win32InventoryTest, ScansWhatTheKernelReports) {
    Win32Inventory inventory;
    Win32ModuleTable kernel;
    DriverList list;
    testing::FakeScanHost host;
    EXPECT_EQ(ScanDrivers(list, inventory.Platform(kernel), host), ScanResult::kCompleted);
    ASSERT_GE(list.Count(), 1u);
    EXPECT_EQ(host.pumps, static_cast<int>(list.Count()));
    for (const DriverRow& row : list.Rows()) {
        EXPECT_EQ(row[kExists], u"True") << TextToUtf8(row[kImageName]);
    }

    DriverList filtered;
    testing::FakeScanHost hiding;
    hiding.hideMicrosoft = true;
    ScanDrivers(filtered, inventory.Platform(kernel), hiding);
    EXPECT_LT(filtered.Count(), list.Count());  // ntoskrnl.exe names Microsoft as its maker
}

TEST(PrivilegesTest, EveryPrivilegeOfTheTokenEndsUpEnabled) {
    EnableAllPrivileges();
    HANDLE raw = nullptr;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw));
    ScopedHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<std::uint8_t> buffer(size);
    ASSERT_TRUE(::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size));
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    ASSERT_GT(privileges->PrivilegeCount, 0u);
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        EXPECT_TRUE(privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED)
            << "privilege " << privileges->Privileges[i].Luid.LowPart << " left disabled";
    }
}

}  // namespace
}  // namespace tolvessa::win32
