#include "platform/win32/win32_handles.h"

#include <algorithm>

namespace tolvessa::win32 {

namespace {

using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
using Wow64Disable = BOOL(WINAPI*)(PVOID*);
using Wow64Revert = BOOL(WINAPI*)(PVOID);

}  // namespace

bool RunsUnderWow64() {
    if constexpr (!kMayRunUnderWow64)
        return false;
    // A system without the function has no WOW64 either.
    static const auto isWow64 = SystemFunction<IsWow64>(L"kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(::GetCurrentProcess(), &wow64) && wow64;
}

namespace {

thread_local int scopesLive = 0;
thread_local int scopesMade = 0;

}  // namespace

int Wow64RedirectionScopesLive() {
    return scopesLive;
}

int Wow64RedirectionScopesMade() {
    return scopesMade;
}

ScopedWow64RedirectionOff::ScopedWow64RedirectionOff() {
    ++scopesLive;
    ++scopesMade;
    if constexpr (!kMayRunUnderWow64)
        return;
    static const auto disable =
        SystemFunction<Wow64Disable>(L"kernel32.dll", "Wow64DisableWow64FsRedirection");
    if (disable)
        disabled_ = disable(&previous_) != FALSE;
}

ScopedWow64RedirectionOff::~ScopedWow64RedirectionOff() {
    --scopesLive;
    if constexpr (!kMayRunUnderWow64)
        return;
    static const auto revert =
        SystemFunction<Wow64Revert>(L"kernel32.dll", "Wow64RevertWow64FsRedirection");
    if (disabled_ && revert)
        revert(previous_);
}

BufferedPaint::BufferedPaint(HDC target, const RECT& area)
    : target_(target), area_(area), memory_(target) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (!memory_ || width <= 0 || height <= 0)
        return;
    bitmap_.reset(::CreateCompatibleBitmap(target, width, height));
    if (!bitmap_)
        return;
    previous_ = ::SelectObject(memory_.get(), bitmap_.get());
    // Draw in the target's coordinates.
    ::SetWindowOrgEx(memory_.get(), area.left, area.top, nullptr);
}

BufferedPaint::~BufferedPaint() {
    if (!bitmap_)
        return;
    ::BitBlt(target_, area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top,
             memory_.get(), area_.left, area_.top, SRCCOPY);
    ::SelectObject(memory_.get(), previous_);
}

std::string ToAnsi(const Text& text) {
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int needed =
        ::WideCharToMultiByte(CP_ACP, 0, Wide(text), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string out(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, Wide(text), length, out.data(), needed, nullptr, nullptr);
    return out;
}

Text FromAnsi(std::string_view bytes) {
    if (bytes.empty())
        return {};
    const int length = static_cast<int>(bytes.size());
    const int needed = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, out.data(), needed);
    return FromWide(out.data(), out.size());
}

bool ReadFileAt(HANDLE file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::uint64_t at = offset + done;
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(buffer.size() - done, std::size_t{1} << 20));
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data() + done, want, &got, &position) || got == 0)
            return false;
        done += got;
    }
    return true;
}

}  // namespace tolvessa::win32
