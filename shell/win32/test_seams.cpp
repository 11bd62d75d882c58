#include "shell/win32/test_seams.h"

#include <windows.h>

#include <string>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_inventory.h"

namespace tolvessa::win32 {

namespace {

// The variable's value, or the empty text when it is not set or longer than a path.
Text Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD n = ::GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    return n == 0 || n > MAX_PATH ? Text() : FromWide(value, n);
}

class LoggingShell : public Shell {
  public:
    explicit LoggingShell(Text log) : log_(std::move(log)) {}

    void Launch(const Text& verb, const Text& file, const Text& parameters, int show) override {
        Append(verb, file, parameters, show);
    }
    bool ShowProperties(const Text& path) override {
        Append(u"properties", path, u"", SW_SHOWNORMAL);
        return true;
    }

  private:
    void Append(const Text& verb, const Text& file, const Text& parameters, int show) const {
        ScopedHandle out =
            OwnHandle(::CreateFileW(Wide(log_), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out)
            return;
        const std::string line = TextToUtf8(verb + u"\t" + file + u"\t" + parameters + u"\t" +
                                            DecimalText(static_cast<unsigned>(show)) + u"\n");
        DWORD written = 0;
        ::WriteFile(out.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

    Text log_;
};

class ClaimedWow64HandOver : public Win32HandOver {
  public:
    bool RunsUnderWow64() override { return true; }
};

}  // namespace

TestSeams::TestSeams() {
    if (Variable(L"TOLVESSA_HAND_OVER_AS_WOW64") == u"1")
        handOver_ = std::make_unique<ClaimedWow64HandOver>();
    else
        handOver_ = std::make_unique<Win32HandOver>();
    const Text table = Variable(L"TOLVESSA_MODULE_TABLE");
    if (table.empty())
        moduleTable_ = std::make_unique<Win32ModuleTable>();
    else
        moduleTable_ = std::make_unique<RecordedModuleTable>(table);
    const Text log = Variable(L"TOLVESSA_SHELL_LOG");
    if (log.empty())
        shell_ = std::make_unique<Win32Shell>();
    else
        shell_ = std::make_unique<LoggingShell>(log);
}

}  // namespace tolvessa::win32
