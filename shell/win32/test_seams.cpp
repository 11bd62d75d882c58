#include "shell/win32/test_seams.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_inventory.h"

namespace tolvessa::win32 {

namespace {

// The variable's value, or the empty text when it is not set or longer than `longest`.
Text Variable(const wchar_t* name, DWORD longest = MAX_PATH) {
    std::wstring value(longest + 1, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(name, value.data(), longest + 1);
    return n == 0 || n > longest ? Text() : FromWide(value.data(), n);
}

// Recorded tables read in turn: the first scan reads the first, the second scan the second, and
// every later scan the last, so a test can have a later round fail (a file that is not there).
class RecordedTableSequence : public AnsiModuleTable {
  public:
    explicit RecordedTableSequence(std::vector<Text> files) : files_(std::move(files)) {}

    bool TakeSnapshot(const SnapshotVisitor& visit) override {
        const Text& file = files_[std::min(taken_, files_.size() - 1)];
        ++taken_;
        return RecordedModuleTable(file).TakeSnapshot(visit);
    }

  private:
    std::vector<Text> files_;
    std::size_t taken_ = 0;
};

// "a|b|c" into its parts ("|" is in no Windows path).
std::vector<Text> SplitAtBars(const Text& text) {
    std::vector<Text> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t bar = text.find(u'|', from);
        parts.push_back(text.substr(from, bar == Text::npos ? Text::npos : bar - from));
        if (bar == Text::npos)
            return parts;
        from = bar + 1;
    }
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
    const Text table = Variable(L"TOLVESSA_MODULE_TABLE", 8 * MAX_PATH);
    if (table.empty())
        moduleTable_ = std::make_unique<Win32ModuleTable>();
    else if (table.find(u'|') == Text::npos)
        moduleTable_ = std::make_unique<RecordedModuleTable>(table);
    else
        moduleTable_ = std::make_unique<RecordedTableSequence>(SplitAtBars(table));
    const Text log = Variable(L"TOLVESSA_SHELL_LOG");
    if (log.empty())
        shell_ = std::make_unique<Win32Shell>();
    else
        shell_ = std::make_unique<LoggingShell>(log);
}

}  // namespace tolvessa::win32
