#include "platform/win32/win32_report_file.h"

#include <algorithm>

#include "platform/win32/win32_handles.h"

namespace tolvessa::win32 {

namespace {

class Win32File : public ReportFile {
  public:
    explicit Win32File(ScopedHandle file) : file_(std::move(file)) {}

    bool Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
            DWORD written = 0;
            if (!::WriteFile(file_.get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
                return false;
            }
            bytes.remove_prefix(written);
        }
        return true;
    }

  private:
    ScopedHandle file_;
};

}  // namespace

ScopedHandle CreateReportHandle(const Text& fileName, bool writeOnly) {
    const DWORD access = writeOnly ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
    return OwnHandle(::CreateFileW(Wide(fileName), access, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
}

namespace {

std::unique_ptr<ReportFile> CreateReportFile(const Text& fileName, bool writeOnly) {
    ScopedHandle file = CreateReportHandle(fileName, writeOnly);
    if (!file)
        return nullptr;
    return std::make_unique<Win32File>(std::move(file));
}

}  // namespace

std::unique_ptr<ReportFile> Win32ReportFile::CreateAlways(const Text& fileName) {
    return CreateReportFile(fileName, false);
}

std::unique_ptr<ReportFile> Win32ReportFile::CreateWriteOnly(const Text& fileName) {
    return CreateReportFile(fileName, true);
}

std::optional<std::string> Win32ReportFile::ToAnsi(TextView text) {
    if (text.empty())
        return std::string();
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::nullopt;
    std::string out(static_cast<std::size_t>(needed), '\0');
    if (::WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), needed, nullptr, nullptr) !=
        needed) {
        return std::nullopt;
    }
    return out;
}

bool Win32ReportFile::AnsiIsUtf8() {
    return ::GetACP() == kUtf8CodePage;
}

}  // namespace tolvessa::win32
