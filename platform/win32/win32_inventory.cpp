#include "platform/win32/win32_inventory.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/win32/win32_handles.h"

namespace tolvessa::win32 {

namespace {

constexpr long kStatusSuccess = 0;
constexpr long kStatusInfoLengthMismatch = static_cast<long>(0xC0000004L);
constexpr unsigned long kSystemModuleInformation = 11;

}  // namespace

Text AnsiModuleTable::DecodeAnsi(std::string_view ansi) {
    return FromAnsi(ansi);
}

Win32ModuleTable::Win32ModuleTable()
    : Win32ModuleTable([](void* buffer, unsigned long length, unsigned long* returned) {
          using NtQuery = long(WINAPI*)(unsigned long, void*, unsigned long, unsigned long*);
          static const auto ntQuery =
              SystemFunction<NtQuery>(L"ntdll.dll", "NtQuerySystemInformation");
          return ntQuery ? ntQuery(kSystemModuleInformation, buffer, length, returned)
                         : kStatusInfoLengthMismatch + 1;
      }) {}

bool Win32ModuleTable::TakeSnapshot(const SnapshotVisitor& visit) {
    for (int attempt = 0; attempt < attempts_; ++attempt) {
        unsigned long size = 0;
        query_(nullptr, 0, &size);  // its status is not looked at: only the size counts
        if (size == 0)
            return false;
        ScopedVirtualMemory buffer(
            ::VirtualAlloc(nullptr, 2 * static_cast<SIZE_T>(size), MEM_COMMIT, PAGE_READWRITE));
        if (!buffer)
            return false;
        const long status = query_(buffer.get(), size, &size);
        if (status == kStatusSuccess) {
            visit(ModuleSnapshot(
                std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(buffer.get()), size),
                kNativeModuleTableLayout));
            return true;
        }
        // A module loaded between the two queries: the table grew; ask for its size again.
        if (status != kStatusInfoLengthMismatch)
            return false;
    }
    return false;
}

bool RecordedModuleTable::TakeSnapshot(const SnapshotVisitor& visit) {
    ScopedHandle h = OwnHandle(::CreateFileW(Wide(file_), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    if (!h)
        return false;
    const DWORD size = ::GetFileSize(h.get(), nullptr);
    if (size == INVALID_FILE_SIZE)
        return false;
    std::vector<std::uint8_t> bytes(size);
    DWORD got = 0;
    if (size && (!::ReadFile(h.get(), bytes.data(), size, &got, nullptr) || got != size)) {
        return false;
    }
    visit(ModuleSnapshot(bytes, kNativeModuleTableLayout));
    return true;
}

// File attributes --------------------------------------------------------------------------

// Every file call of this side turns the WOW64 redirection off for itself, so a 32-bit process on
// 64-bit Windows sees the real System32, where the drivers are.

FileAttributeApi::Attributes Win32FileAttributes::ReadAttributes(const Text& path) {
    const ScopedWow64RedirectionOff realSystem32;
    Attributes result;
    ::SetLastError(0);
    result.value = ::GetFileAttributesW(Wide(path));
    if (result.value == INVALID_FILE_ATTRIBUTES)
        result.lastError = ::GetLastError();
    return result;
}

std::optional<std::uint32_t> Win32FileAttributes::FindAttributes(const Text& path) {
    const ScopedWow64RedirectionOff realSystem32;
    WIN32_FIND_DATAW data;
    const HANDLE found = ::FindFirstFileW(Wide(path), &data);
    if (found == INVALID_HANDLE_VALUE)
        return std::nullopt;
    ScopedFind closer(found);
    return data.dwFileAttributes;
}

std::uint32_t Win32FileAttributes::TryOpenForRead(const Text& path) {
    const ScopedWow64RedirectionOff realSystem32;
    ScopedHandle file = OwnHandle(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    return file ? 0 : ::GetLastError();
}

// Version resources -------------------------------------------------------------------------

VersionDataSize Win32VersionApi::VersionInfoSize(const Text& path) {
    const ScopedWow64RedirectionOff realSystem32;
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(Wide(path), &handle);
    return {size, handle};
}

bool Win32VersionApi::ReadVersionInfo(const Text& path, std::uint32_t handle,
                                      std::span<std::uint8_t> buffer) {
    const ScopedWow64RedirectionOff realSystem32;
    return ::GetFileVersionInfoW(Wide(path), handle, static_cast<DWORD>(buffer.size()),
                                 buffer.data()) != FALSE;
}

std::optional<VersionValue> Win32VersionApi::QueryVersionValue(std::span<const std::uint8_t> block,
                                                               const Text& subBlock) {
    void* found = nullptr;
    UINT size = 0;
    if (!::VerQueryValueW(block.data(), Wide(subBlock), &found, &size))
        return std::nullopt;
    return VersionValue{BytesFrom(block, found), size};
}

// File content ------------------------------------------------------------------------------

namespace {

class Win32View : public FileContentApi::View {
  public:
    Win32View(ScopedHandle mapping, ScopedView view, std::size_t size)
        : mapping_(std::move(mapping)), view_(std::move(view)), size_(size) {}
    std::span<const std::uint8_t> Bytes() const override {
        return {static_cast<const std::uint8_t*>(view_.get()), size_};
    }

  private:
    // The view goes first, then the mapping handle.
    ScopedHandle mapping_;
    ScopedView view_;
    std::size_t size_;
};

// Whether the open file lies on another machine (a network share): there another client may
// shorten it under a view, which faults on the next read of the view. On a local volume the
// system refuses to shorten a file while a mapping of it exists (ERROR_USER_MAPPED_FILE).
bool OnRemoteVolume(HANDLE file) {
    using InformationByHandle = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    static const auto query =
        SystemFunction<InformationByHandle>(L"kernel32.dll", "GetFileInformationByHandleEx");
    FILE_REMOTE_PROTOCOL_INFO info{};
    info.StructureVersion = 1;
    info.StructureSize = sizeof info;
    // Succeeds for files on remote volumes only.
    return query && query(file, FileRemoteProtocolInfo, &info, sizeof info) != FALSE;
}

class Win32File : public FileContentApi::File {
  public:
    explicit Win32File(ScopedHandle file) : file_(std::move(file)) {}

    // The length is taken first and exactly that much is mapped: a file that grows meanwhile
    // gives a view of the length it had, and one shortened before the mapping is made gives no
    // mapping (a read-only mapping cannot reach past the end of its file). Files longer than
    // kMaxWholeView, and files on network shares, are read in pieces instead.
    std::unique_ptr<FileContentApi::View> MapWhole() override {
        const std::optional<std::uint64_t> size = Size();
        if (!size || *size == 0 || *size > FileContentApi::kMaxWholeView ||
            *size > std::numeric_limits<SIZE_T>::max()) {
            return nullptr;
        }
        if (OnRemoteVolume(file_.get()))
            return nullptr;
        ScopedHandle mapping(::CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY,
                                                  static_cast<DWORD>(*size >> 32),
                                                  static_cast<DWORD>(*size), nullptr));
        if (!mapping)
            return nullptr;
        ScopedView view(
            ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(*size)));
        if (!view)
            return nullptr;
        return std::make_unique<Win32View>(std::move(mapping), std::move(view),
                                           static_cast<std::size_t>(*size));
    }

    std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
        DWORD got = 0;
        if (!::ReadFile(file_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                        nullptr)) {
            return std::nullopt;
        }
        return got;
    }

    std::optional<std::uint64_t> Size() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file_.get(), &size) || size.QuadPart < 0)
            return std::nullopt;
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        return ReadFileAt(file_.get(), offset, buffer);
    }

  private:
    ScopedHandle file_;
};

}  // namespace

std::unique_ptr<FileContentApi::File> Win32FileContent::OpenForRead(const Text& path) {
    const ScopedWow64RedirectionOff realSystem32;
    ScopedHandle file = OwnHandle(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        // Compatibility sharing admits a file that another process holds open for writing.
        const std::string ansi = ToAnsi(path);
        OFSTRUCT unused = {};
        const HFILE opened =
            ansi.empty() ? HFILE_ERROR : ::OpenFile(ansi.c_str(), &unused, OF_READ);
        if (opened == HFILE_ERROR)
            return nullptr;
        file = OwnHandle(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(opened)));
    }
    if (!file)
        return nullptr;
    return std::make_unique<Win32File>(std::move(file));
}

// Directories -------------------------------------------------------------------------------

Text Win32Paths::WindowsDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return FromWide(buffer, ::wcsnlen(buffer, MAX_PATH));
}

Text Win32Paths::SystemDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT n = ::GetSystemDirectoryW(buffer, MAX_PATH + 1);
    return n == 0 || n > MAX_PATH + 1 ? Text() : FromWide(buffer, n);
}

Text Win32Paths::UpperCase(TextView text) {
    std::wstring copy(reinterpret_cast<const wchar_t*>(text.data()), text.size());
    if (!copy.empty())
        ::CharUpperBuffW(copy.data(), static_cast<DWORD>(copy.size()));
    return FromWide(copy.data(), copy.size());
}

// Privileges --------------------------------------------------------------------------------

void EnableAllPrivileges() {
    using RtlAdjust = long(WINAPI*)(unsigned long, BOOLEAN, BOOLEAN, BOOLEAN*);
    const auto adjust = SystemFunction<RtlAdjust>(L"ntdll.dll", "RtlAdjustPrivilege");
    if (!adjust)
        return;
    for (unsigned long value = 0; value <= 255; ++value) {
        BOOLEAN previous = FALSE;
        adjust(value, TRUE, FALSE, &previous);  // a privilege the token lacks simply fails
    }
}

}  // namespace tolvessa::win32
