// The commands' Win32 side on real files and system calls (under Wine here: a 32-bit program in
// a 64-bit prefix, so the WOW64 redirection of System32 is in play).
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "commands/file_commands.h"
#include "platform/win32/win32_file_commands.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_trust_api.h"

namespace tolvessa::win32 {
namespace {

const Text kRealDriver = u"C:\\windows\\system32\\drivers\\mountmgr.sys";

// Removes a folder with everything below it, attributes cleared first.
void RemoveTree(const Text& path) {
    WIN32_FIND_DATAW data;
    const HANDLE found = ::FindFirstFileW(Wide(path + u"\\*"), &data);
    if (found != INVALID_HANDLE_VALUE) {
        ScopedFind closer(found);
        do {
            const Text name = FromWide(data.cFileName);
            if (name == u"." || name == u"..")
                continue;
            const Text child = path + u"\\" + name;
            ::SetFileAttributesW(Wide(child), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
                RemoveTree(child);
            else if (!::DeleteFileW(Wide(child)))
                ::RemoveDirectoryW(Wide(child));
        } while (::FindNextFileW(found, &data));
    }
    ::RemoveDirectoryW(Wide(path));
}

// A fresh folder under the temp folder, removed with its content afterwards.
class TempFolder {
  public:
    TempFolder() {
        wchar_t base[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, base);
        path_ = FromWide(base) + u"tolvessa-cmd-" + DecimalText(::GetCurrentProcessId()) + u"-" +
                DecimalText(++counter_);
        ::CreateDirectoryW(Wide(path_), nullptr);
    }
    ~TempFolder() { RemoveTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    Text Write(const Text& name, const std::string& bytes) const {
        const Text file = path_ + u"\\" + name;
        ScopedHandle h = OwnHandle(::CreateFileW(Wide(file), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!bytes.empty())
            ::WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        return file;
    }
    Text Folder(const Text& name) const {
        const Text folder = path_ + u"\\" + name;
        ::CreateDirectoryW(Wide(folder), nullptr);
        return folder;
    }
    const Text& Path() const { return path_; }

  private:
    static inline int counter_ = 0;
    Text path_;
};

std::string ReadAll(const Text& file) {
    ScopedHandle h = OwnHandle(::CreateFileW(Wide(file), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    std::string out(1 << 20, '\0');
    DWORD got = 0;
    if (!h || !::ReadFile(h.get(), out.data(), static_cast<DWORD>(out.size()), &got, nullptr))
        return "<unreadable>";
    out.resize(got);
    return out;
}

DWORD Attributes(const Text& path) {
    return ::GetFileAttributesW(Wide(path));
}

// The real Win32 interface, except that the picker answers from a script and the boxes are
// recorded instead of shown.
// What would have been handed to the shell, a line each: verb, file, parameters, show value.
class RecordingShell : public Shell {
  public:
    std::string lines;
    void Launch(const Text& verb, const Text& file, const Text& parameters, int show) override {
        lines += TextToUtf8(verb + u"\t" + file + u"\t" + parameters + u"\t") +
                 std::to_string(show) + "\n";
    }
    bool ShowProperties(const Text& path) override {
        Launch(u"properties", path, u"", SW_SHOWNORMAL);
        return true;
    }
};

struct WithRecordingShell {
    RecordingShell shell;
};

class QuietUi : private WithRecordingShell, public Win32CommandUi {
  public:
    QuietUi() : Win32CommandUi(nullptr, shell, [this] { ++pumps; }) {}
    const std::string& Launched() const { return shell.lines; }

    std::vector<Text> pickings;
    std::vector<std::string> messages;
    int pumps = 0;

    std::optional<Text> BrowseForFolder(const Text&) override {
        if (pickings.empty())
            return std::nullopt;
        Text picked = pickings.front();
        pickings.erase(pickings.begin());
        return picked;
    }
    void ShowMessage(MessageKind kind, const Text& text) override {
        messages.push_back((kind == MessageKind::kWarning ? "warning: " : "information: ") +
                           TextToUtf8(text));
    }
    bool AskYesNo(const Text&) override { return true; }
};

// The system's verifier (the commands here do not verify).
Win32TrustApi& Trust() {
    static Win32TrustApi trust;
    return trust;
}

class ListOfPaths : public CommandList {
  public:
    std::vector<Text> paths;
    std::optional<std::size_t> selected;

    std::optional<Text> SelectedCell(DriverColumn) override {
        return selected ? std::optional<Text>(paths.at(*selected)) : std::nullopt;
    }
    std::size_t RowCount() override { return paths.size(); }
    std::optional<Text> Cell(std::size_t row, DriverColumn) override {
        return row < paths.size() ? std::optional<Text>(paths[row]) : std::nullopt;
    }
};

TEST(Win32FileCommandsTest, FolderExistsOnDisk) {
    TempFolder temp;
    const Text file = temp.Write(u"a.sys", "a");
    Win32CommandFiles files;
    EXPECT_TRUE(files.FolderExists(temp.Path()));
    EXPECT_TRUE(files.FolderExists(temp.Path() + u"\\"));
    EXPECT_TRUE(files.FolderExists(u"C:\\windows\\system32\\drivers\\"));
    EXPECT_FALSE(files.FolderExists(file));
    EXPECT_FALSE(files.FolderExists(temp.Path() + u"\\missing\\"));
    EXPECT_FALSE(files.FolderExists(temp.Path() + u"\\missing\\deeper\\"));
    EXPECT_FALSE(files.FolderExists(u""));
    EXPECT_FALSE(files.FolderExists(u"C:\\bad<name>\\"));

    // A link to a folder: Wine shows a Unix symbolic link as a reparse point with the directory
    // bit, so it counts through the open with backup semantics. (CreateSymbolicLinkW does nothing
    // in Wine 8, so the test uses the host's own /bin link when it has one.)
    const Text link = u"Z:\\bin";
    if (Attributes(link) != (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "Z:\\bin is not a link to a folder here";
    EXPECT_TRUE(files.FolderExists(link));
}

TEST(Win32FileCommandsTest, CopiesNeverOverwriteAndReachTheRealSystem32) {
    TempFolder temp;
    const Text drivers = temp.Folder(u"drivers");
    const Text a = temp.Write(u"drivers\\a.sys", "new a");
    const Text b = temp.Write(u"drivers\\b.sys", "new b");
    const Text out = temp.Folder(u"out");
    temp.Write(u"out\\b.sys", "old b");

    QuietUi ui;
    Win32CommandFiles files;
    ListOfPaths list;
    list.paths = {a, drivers + u"\\missing.sys", b, kRealDriver};
    FileCommands commands({ui, files, Trust()}, list);
    for (int run = 0; run < 2; ++run) {
        ui.pickings = {out};
        commands.CopyallDriversto1Click();
        EXPECT_EQ(ReadAll(out + u"\\a.sys"), "new a");
        EXPECT_EQ(ReadAll(out + u"\\b.sys"), "old b");
        EXPECT_EQ(Attributes(out + u"\\missing.sys"), INVALID_FILE_ATTRIBUTES);
        // Only there with the redirection off: SysWOW64 holds no such driver.
        EXPECT_NE(Attributes(out + u"\\mountmgr.sys"), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(ui.pumps, 8);
    EXPECT_EQ(ui.messages, std::vector<std::string>{});

    // Copy Selected onto a file of the same name leaves it alone.
    const Text newer = temp.Write(u"drivers\\newer\\b.sys", "");
    list.paths = {a, b};
    list.selected = 1;
    ui.pickings = {out + u"\\"};
    commands.CopyselectedDriverto1Click();
    EXPECT_EQ(ReadAll(out + u"\\b.sys"), "old b");
    EXPECT_FALSE(Win32FileOperations().CopyNoOverwrite(a, out + u"\\b.sys"));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
}

TEST(Win32FileCommandsTest, ForceDeleteRemovesAReadOnlyHiddenSystemFile) {
    TempFolder temp;
    const Text file = temp.Write(u"a.sys", "a");
    ASSERT_TRUE(::SetFileAttributesW(
        Wide(file), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    // As it stands the file refuses to go.
    ASSERT_FALSE(Win32FileOperations().RemoveFile(file));
    ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    QuietUi ui;
    Win32CommandFiles files;
    ListOfPaths list;
    list.paths = {file};
    list.selected = 0;
    FileCommands commands({ui, files, Trust()}, list);
    commands.DeleteonReboot1Click();
    EXPECT_EQ(Attributes(file), INVALID_FILE_ATTRIBUTES);
    commands.DeleteonReboot1Click();
    EXPECT_EQ(ui.messages,
              (std::vector<std::string>{"information: File has been deleted successfully.",
                                        "warning: Cannot find the file on disk."}));
}

TEST(Win32FileCommandsTest, AFailedDeletionPutsTheAttributesBack) {
    TempFolder temp;
    const Text file = temp.Write(u"held.sys", "a");
    ASSERT_TRUE(::SetFileAttributesW(Wide(file), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    const DWORD before = Attributes(file);
    {
        // Held open by someone who does not share deletion.
        ScopedHandle holder =
            OwnHandle(::CreateFileW(Wide(file), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        Win32CommandFiles files;
        EXPECT_FALSE(files.ForceDelete(file));
        EXPECT_EQ(Attributes(file), before);
    }
    EXPECT_NE(Attributes(file) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_NE(Attributes(file) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

struct KeyCloser {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using ScopedKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

const wchar_t* const kSessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The value's strings, or nothing when there is no value.
std::optional<std::vector<Text>> PendingRenames(HKEY key) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type, nullptr, &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, L'\0');
    ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &type,
                       reinterpret_cast<BYTE*>(data.data()), &bytes);
    std::vector<Text> strings;
    const std::size_t end = bytes / sizeof(wchar_t);
    for (std::size_t i = 0; i < end;) {
        const std::size_t length = ::wcsnlen(&data[i], end - i);
        strings.push_back(FromWide(&data[i], length));
        i += length + 1;
    }
    return strings;
}

// Puts the value back as it was before the test.
class RestoredValue {
  public:
    explicit RestoredValue(HKEY key) : key_(key) {
        DWORD bytes = 0;
        present_ = ::RegQueryValueExW(key_, L"PendingFileRenameOperations", nullptr, &type_,
                                      nullptr, &bytes) == ERROR_SUCCESS;
        if (present_) {
            data_.resize(bytes);
            ::RegQueryValueExW(key_, L"PendingFileRenameOperations", nullptr, &type_, data_.data(),
                               &bytes);
        }
    }
    ~RestoredValue() {
        if (present_)
            ::RegSetValueExW(key_, L"PendingFileRenameOperations", 0, type_, data_.data(),
                             static_cast<DWORD>(data_.size()));
        else
            ::RegDeleteValueW(key_, L"PendingFileRenameOperations");
    }
    RestoredValue(const RestoredValue&) = delete;
    RestoredValue& operator=(const RestoredValue&) = delete;

  private:
    HKEY key_;
    bool present_ = false;
    DWORD type_ = REG_MULTI_SZ;
    std::vector<BYTE> data_;
};

TEST(Win32FileCommandsTest, DeleteOnRebootMakesThePendingRenameEntry) {
    HKEY opened = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, &opened),
              ERROR_SUCCESS);
    const ScopedKey key(opened);
    const RestoredValue restore(key.get());

    TempFolder temp;
    const Text file = temp.Write(u"later.sys", "a");
    QuietUi ui;
    Win32CommandFiles files;
    ListOfPaths list;
    list.paths = {file};
    list.selected = 0;
    FileCommands({ui, files, Trust()}, list).DeleteFileonReboot1Click();
    EXPECT_EQ(ui.messages,
              std::vector<std::string>{"information: File will be deleted on the next reboot."});
    EXPECT_NE(Attributes(file), INVALID_FILE_ATTRIBUTES);

    const auto strings = PendingRenames(key.get());
    ASSERT_TRUE(strings);
    // The source in its NT form, then the empty new name that stands for deletion.
    const Text source = u"\\??\\" + file;
    bool found = false;
    for (std::size_t i = 0; i + 1 < strings->size(); ++i) {
        if (::lstrcmpiW(Wide((*strings)[i]), Wide(source)) == 0 && (*strings)[i + 1].empty())
            found = true;
    }
    EXPECT_TRUE(found) << "no entry for " << TextToUtf8(source);
}

TEST(Win32FileCommandsTest, LaunchesGoToTheShell) {
    TempFolder temp;
    const Text file = temp.Write(u"my driver.sys", "a");
    QuietUi ui;
    Win32CommandFiles files;
    ListOfPaths list;
    list.paths = {file};
    list.selected = 0;
    FileCommands commands({ui, files, Trust()}, list);
    commands.ShowProperties1Click();
    commands.OpenContainingFolder1Click();
    commands.Filename1Click();
    const std::string path = TextToUtf8(file);
    std::string encoded;
    for (const char c : path) {
        if (c == ':')
            encoded += "%3A";
        else if (c == '\\')
            encoded += "%5C";
        else if (c == ' ')
            encoded += "%20";
        else
            encoded += c;
    }
    EXPECT_EQ(ui.Launched(),
              "properties\t" + path + "\t\t1\n" + "open\t" + TextToUtf8(temp.Path()) + "\\\t\t5\n" +
                  "open\tiexplore.exe\t\"https://www.google.com/search?q=" + encoded + "\"\t5\n");
    EXPECT_EQ(ui.messages, std::vector<std::string>{});
}

// A 32-bit process on 64-bit Windows (this one, under Wine's 64-bit prefix): the shell is handed
// the real system folder by its Sysnative alias; paths elsewhere go out as they are.
TEST(Win32FileCommandsTest, TheShellReachesTheRealSystemFolderByItsAlias) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    const auto alias = ShellSystemFolderAlias();
    if (!wow64) {
        EXPECT_FALSE(alias);
        GTEST_SKIP() << "not a 32-bit process on 64-bit Windows";
    }
    ASSERT_TRUE(alias);
    wchar_t system[MAX_PATH] = {};
    const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    wchar_t windows[MAX_PATH] = {};
    const UINT w = ::GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(alias->systemFolder, FromWide(system, n));
    const Text sysnative = FromWide(windows, w) + u"\\Sysnative";
    EXPECT_EQ(alias->alias, sysnative);

    QuietUi ui;
    EXPECT_EQ(TextToUtf8(ui.ShellPath(FromWide(system, n) + u"\\drivers\\mountmgr.sys")),
              TextToUtf8(sysnative + u"\\drivers\\mountmgr.sys"));
    EXPECT_EQ(ui.ShellPath(u"C:\\Tools\\a.sys"), u"C:\\Tools\\a.sys");
    // The alias reaches the file that the redirected name misses.
    EXPECT_NE(::GetFileAttributesW(Wide(sysnative + u"\\drivers\\mountmgr.sys")),
              INVALID_FILE_ATTRIBUTES);
}

// A 64-bit process sees the real system folder under its own name: the shell gets the path as
// listed, and the file is there by that name.
TEST(Win32FileCommandsTest, ASixtyFourBitProcessHandsTheShellThePathAsListed) {
    if (kMayRunUnderWow64)
        GTEST_SKIP() << "a 32-bit process";
    wchar_t system[MAX_PATH] = {};
    const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    const Text driver = FromWide(system, n) + u"\\drivers\\mountmgr.sys";
    QuietUi ui;
    EXPECT_EQ(TextToUtf8(ui.ShellPath(driver)), TextToUtf8(driver));
    EXPECT_NE(::GetFileAttributesW(Wide(driver)), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace tolvessa::win32
