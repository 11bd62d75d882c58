#include "commands/file_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/unit/fake_inventory.h"

namespace tolvessa {
namespace {

using Log = std::vector<std::string>;

std::string U8(const Text& text) {
    return TextToUtf8(text);
}

// Boxes, picker, shell and pump, with scripted answers; every call goes into the shared log.
class ScriptedUi : public CommandUi {
  public:
    explicit ScriptedUi(Log& log) : log_(log) {}

    std::deque<bool> answers;                  // for the questions, in order
    std::deque<std::optional<Text>> pickings;  // for the picker, in order
    std::function<void()> whilePickerOpen;
    std::function<void(int pump)> duringPump;  // pump counted from 1
    bool closing = false;                      // the window is being closed
    bool sheetOpens = true;

    void ShowMessage(MessageKind kind, const Text& text) override {
        log_.push_back((kind == MessageKind::kWarning ? "warning: " : "information: ") + U8(text));
    }
    bool AskYesNo(const Text& text) override {
        log_.push_back("question: " + U8(text));
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question";
            return false;
        }
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    std::optional<Text> BrowseForFolder(const Text& title) override {
        log_.push_back("picker: " + U8(title));
        if (whilePickerOpen)
            whilePickerOpen();
        if (pickings.empty()) {
            ADD_FAILURE() << "unexpected picker";
            return std::nullopt;
        }
        std::optional<Text> picked = pickings.front();
        pickings.pop_front();
        return picked;
    }
    bool ShowPropertySheet(const Text& path) override {
        log_.push_back("properties: " + U8(path));
        return sheetOpens;
    }
    void ShellOpen(const Text& file, const Text& parameters) override {
        log_.push_back("open: " + U8(file) + " | " + U8(parameters));
    }
    // The shell's view of a folder, when a test gives one: (folder, alias).
    std::optional<SystemFolderAlias> alias;
    Text ShellPath(const Text& path) override {
        return alias ? AliasSystemFolder(path, *alias) : path;
    }
    void PumpMessages() override {
        log_.push_back("pump");
        if (duringPump)
            duringPump(++pumps_);
    }
    bool StopRequested() override { return closing; }

  private:
    Log& log_;
    int pumps_ = 0;
};

// Files and folders by name; a copy never lands on a name that is taken.
class FakeFiles : public CommandFiles {
  public:
    explicit FakeFiles(Log& log) : log_(log) {}

    std::set<Text> files;
    std::set<Text> folders;
    bool deletes = true;
    bool marks = true;

    bool FileExists(const Text& path) override {
        log_.push_back("file? " + U8(path));
        return files.count(path) != 0;
    }
    bool FolderExists(const Text& path) override {
        log_.push_back("folder? " + U8(path));
        return folders.count(path) != 0;
    }
    bool CopyNoOverwrite(const Text& source, const Text& destination) override {
        log_.push_back("copy " + U8(source) + " -> " + U8(destination));
        return files.insert(destination).second;
    }
    bool ForceDelete(const Text& path) override {
        log_.push_back("delete " + U8(path));
        if (deletes)
            files.erase(path);
        return deletes;
    }
    bool MarkForDeletion(const Text& path) override {
        log_.push_back("mark " + U8(path));
        return marks;
    }

  private:
    Log& log_;
};

// The verifier's verdict by path; the signer's certificate table cannot be had (the name is then
// empty), which the signer-name tests cover on their own.
class ScriptedTrust : public TrustApi {
  public:
    explicit ScriptedTrust(Log& log) : log_(log) {}

    std::uint32_t status = trust_status::kTrusted;

    std::uint32_t VerifyTrust(const Text& path) override {
        log_.push_back("verify " + U8(path));
        return status;
    }
    std::unique_ptr<File> OpenForRead(const Text& path) override {
        log_.push_back("open " + U8(path));
        return nullptr;
    }
    std::optional<std::uint32_t> EnumerateCertificates(File&) override { return std::nullopt; }
    bool ReadCertificateHeader(File&, std::uint32_t, std::span<std::uint8_t>) override {
        return false;
    }
    bool ReadCertificateData(File&, std::uint32_t, std::span<std::uint8_t>) override {
        return false;
    }
    std::unique_ptr<Certificate> VerifyMessageSignature(std::span<const std::uint8_t>) override {
        return nullptr;
    }
    std::uint32_t SimpleDisplayName(Certificate&, std::span<char16_t>) override { return 0; }

  private:
    Log& log_;
};

// The list as plain rows that a test may change at any moment; counts asks for missing rows.
class FakeList : public CommandList {
  public:
    std::vector<DriverRow> rows;
    std::optional<std::size_t> selected;
    int missingRowReads = 0;

    std::optional<Text> SelectedCell(DriverColumn column) override {
        if (!selected)
            return std::nullopt;
        return rows.at(*selected)[column];
    }
    std::size_t RowCount() override { return rows.size(); }
    std::optional<Text> Cell(std::size_t row, DriverColumn column) override {
        if (row >= rows.size()) {
            ++missingRowReads;
            return std::nullopt;
        }
        return rows[row][column];
    }
};

DriverRow Row(const char16_t* path, const char16_t* publisher = u"", const char16_t* md5 = u"") {
    DriverRow row;
    row[kImageName] = path;
    row[kPublisher] = publisher;
    row[kMd5Hash] = md5;
    return row;
}

const std::string kQuestion = "question: Are you sure you want to delete the file ?";
const std::string kNoFile = "warning: Cannot find the file on disk.";
const std::string kPicker = "picker: Select a folder";

class FileCommandsTest : public ::testing::Test {
  protected:
    Log log;
    ScriptedUi ui{log};
    FakeFiles files{log};
    ScriptedTrust trust{log};
    FakeList list;
    FileCommands commands{{ui, files, trust}, list};
};

using Handler = void (FileCommands::*)();

struct NoSelectionCase {
    const char* name;
    Handler handler;
    Log expected;
};

class NoSelectionTest : public FileCommandsTest,
                        public ::testing::WithParamInterface<NoSelectionCase> {};

TEST_P(NoSelectionTest, OnlyTheDeletionsAskAndThenNothingHappens) {
    list.rows = {Row(u"C:\\d\\a.sys", u"Acme", u"00FF")};
    files.files = {u"C:\\d\\a.sys"};
    files.folders = {u"C:\\d\\"};
    ui.answers = {true};
    (commands.*GetParam().handler)();
    EXPECT_EQ(log, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, NoSelectionTest,
    ::testing::Values(
        NoSelectionCase{"ShowProperties", &FileCommands::ShowProperties1Click, {}},
        NoSelectionCase{"OpenContainingFolder", &FileCommands::OpenContainingFolder1Click, {}},
        NoSelectionCase{"SearchFileName", &FileCommands::Filename1Click, {}},
        NoSelectionCase{"SearchPublisher", &FileCommands::Publisher2Click, {}},
        NoSelectionCase{"SearchMd5", &FileCommands::MD5Hash1Click, {}},
        NoSelectionCase{"CopySelected", &FileCommands::CopyselectedDriverto1Click, {}},
        NoSelectionCase{"VerifySignature", &FileCommands::VerifyFileSignature1Click, {}},
        NoSelectionCase{"DeleteFile", &FileCommands::DeleteonReboot1Click, {kQuestion}},
        NoSelectionCase{
            "DeleteFileOnReboot", &FileCommands::DeleteFileonReboot1Click, {kQuestion}}),
    [](const auto& param) { return std::string(param.param.name); });

struct DeletionCase {
    const char* name;
    Handler handler;
    bool yes;
    bool exists;
    bool succeeds;
    Log expected;
};

class DeletionTest : public FileCommandsTest, public ::testing::WithParamInterface<DeletionCase> {};

TEST_P(DeletionTest, AsksFirstThenTestsThenReports) {
    const DeletionCase& c = GetParam();
    list.rows = {Row(u"C:\\other.sys"), Row(u"C:\\d\\a.sys")};
    list.selected = 1;
    if (c.exists)
        files.files = {u"C:\\d\\a.sys"};
    files.deletes = files.marks = c.succeeds;
    ui.answers = {c.yes};
    (commands.*c.handler)();
    EXPECT_EQ(log, c.expected);
}

const Handler kDelete = &FileCommands::DeleteonReboot1Click;
const Handler kOnReboot = &FileCommands::DeleteFileonReboot1Click;

INSTANTIATE_TEST_SUITE_P(
    Outcomes, DeletionTest,
    ::testing::Values(DeletionCase{"DeleteAnsweredNo", kDelete, false, true, true, {kQuestion}},
                      DeletionCase{"DeleteMissingFile",
                                   kDelete,
                                   true,
                                   false,
                                   true,
                                   {kQuestion, "file? C:\\d\\a.sys", kNoFile}},
                      DeletionCase{"Deleted",
                                   kDelete,
                                   true,
                                   true,
                                   true,
                                   {kQuestion, "file? C:\\d\\a.sys", "delete C:\\d\\a.sys",
                                    "information: File has been deleted successfully."}},
                      DeletionCase{"DeleteFailed",
                                   kDelete,
                                   true,
                                   true,
                                   false,
                                   {kQuestion, "file? C:\\d\\a.sys", "delete C:\\d\\a.sys",
                                    "warning: Failed to delete the file."}},
                      DeletionCase{"RebootAnsweredNo", kOnReboot, false, true, true, {kQuestion}},
                      DeletionCase{"RebootMissingFile",
                                   kOnReboot,
                                   true,
                                   false,
                                   true,
                                   {kQuestion, "file? C:\\d\\a.sys", kNoFile}},
                      DeletionCase{"Marked",
                                   kOnReboot,
                                   true,
                                   true,
                                   true,
                                   {kQuestion, "file? C:\\d\\a.sys", "mark C:\\d\\a.sys",
                                    "information: File will be deleted on the next reboot."}},
                      DeletionCase{"MarkFailed",
                                   kOnReboot,
                                   true,
                                   true,
                                   false,
                                   {kQuestion, "file? C:\\d\\a.sys", "mark C:\\d\\a.sys",
                                    "warning: Failed to mark the file for deletion."}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(FileCommandsTest, DeletingTwiceFindsTheFileGoneTheSecondTime) {
    list.rows = {Row(u"C:\\d\\a.sys")};
    list.selected = 0;
    files.files = {u"C:\\d\\a.sys"};
    ui.answers = {true, true};
    commands.DeleteonReboot1Click();
    log.clear();
    commands.DeleteonReboot1Click();
    EXPECT_EQ(log, (Log{kQuestion, "file? C:\\d\\a.sys", kNoFile}));
    // The row keeps its cells.
    EXPECT_EQ(list.rows[0][kImageName], u"C:\\d\\a.sys");
}

TEST_F(FileCommandsTest, ShowPropertiesOfAnExistingFile) {
    list.rows = {Row(u"C:\\d\\a.sys")};
    list.selected = 0;
    files.files = {u"C:\\d\\a.sys"};
    ui.sheetOpens = false;  // a failure of the sheet is silent
    commands.ShowProperties1Click();
    EXPECT_EQ(log, (Log{"file? C:\\d\\a.sys", "file? C:\\d\\a.sys", "properties: C:\\d\\a.sys"}));
}

TEST_F(FileCommandsTest, ShowPropertiesOfAMissingFileWarns) {
    list.rows = {Row(u"C:\\d\\a.sys")};
    list.selected = 0;
    commands.ShowProperties1Click();
    EXPECT_EQ(log, (Log{"file? C:\\d\\a.sys", kNoFile}));
}

TEST_F(FileCommandsTest, ShowFilePropertiesAnswersWithoutAnyMessage) {
    files.files = {u"C:\\d\\a.sys"};
    EXPECT_FALSE(ShowFileProperties(ui, files, u"C:\\d\\gone.sys"));
    EXPECT_TRUE(ShowFileProperties(ui, files, u"C:\\d\\a.sys"));
    ui.sheetOpens = false;
    EXPECT_FALSE(ShowFileProperties(ui, files, u"C:\\d\\a.sys"));
    EXPECT_EQ(log, (Log{"file? C:\\d\\gone.sys", "file? C:\\d\\a.sys", "properties: C:\\d\\a.sys",
                        "file? C:\\d\\a.sys", "properties: C:\\d\\a.sys"}));
}

// Where the shell sees another system folder (a 32-bit program on 64-bit Windows), the property
// sheet and the folder are launched by the alias, while the program's own existence tests keep
// the path of the list; a path elsewhere, and the web search, go out unchanged.
TEST_F(FileCommandsTest, ShellLaunchesReachTheRealSystemFolderByItsAlias) {
    ui.alias = SystemFolderAlias{u"C:\\windows\\system32", u"C:\\windows\\Sysnative"};
    list.rows = {Row(u"C:\\Windows\\System32\\drivers\\x.sys"), Row(u"C:\\Tools\\y.sys")};
    files.files = {u"C:\\Windows\\System32\\drivers\\x.sys", u"C:\\Tools\\y.sys"};
    files.folders = {u"C:\\Windows\\System32\\drivers\\", u"C:\\Tools\\"};
    for (std::size_t row : {0u, 1u}) {
        list.selected = row;
        commands.ShowProperties1Click();
        commands.OpenContainingFolder1Click();
    }
    list.selected = 0;
    commands.Filename1Click();
    EXPECT_EQ(
        log,
        (Log{"file? C:\\Windows\\System32\\drivers\\x.sys",
             "file? C:\\Windows\\System32\\drivers\\x.sys",
             "properties: C:\\windows\\Sysnative\\drivers\\x.sys",
             "folder? C:\\Windows\\System32\\drivers\\",
             "open: C:\\windows\\Sysnative\\drivers\\ | ", "file? C:\\Tools\\y.sys",
             "file? C:\\Tools\\y.sys", "properties: C:\\Tools\\y.sys", "folder? C:\\Tools\\",
             "open: C:\\Tools\\ | ",
             "open: iexplore.exe | "
             "\"https://www.google.com/search?q=C%3A%5CWindows%5CSystem32%5Cdrivers%5Cx.sys\""}));
}

struct VerifyCase {
    const char* name;
    bool exists;
    std::uint32_t status;
    Log expected;
};

class VerifySignatureTest : public FileCommandsTest,
                            public ::testing::WithParamInterface<VerifyCase> {};

// One box each time: the existence test first, the verdict next, the signer only for a signed
// file (its table cannot be read here, so the name is empty).
TEST_P(VerifySignatureTest, ShowsExactlyOneBox) {
    list.rows = {Row(u"C:\\d\\beep.sys")};
    list.selected = 0;
    if (GetParam().exists)
        files.files = {u"C:\\d\\beep.sys"};
    trust.status = GetParam().status;
    commands.VerifyFileSignature1Click();
    EXPECT_EQ(log, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, VerifySignatureTest,
    ::testing::Values(
        VerifyCase{"FileGone", false, trust_status::kTrusted, {"file? C:\\d\\beep.sys", kNoFile}},
        VerifyCase{"NotSigned",
                   true,
                   trust_status::kNoSignature,
                   {"file? C:\\d\\beep.sys", "verify C:\\d\\beep.sys",
                    "information: File is not digitally signed."}},
        VerifyCase{"ChangedAfterSigning",
                   true,
                   trust_status::kBadDigest,
                   {"file? C:\\d\\beep.sys", "verify C:\\d\\beep.sys",
                    "information: File is not digitally signed."}},
        VerifyCase{"SignedWithoutName",
                   true,
                   trust_status::kTrusted,
                   {"file? C:\\d\\beep.sys", "verify C:\\d\\beep.sys", "open C:\\d\\beep.sys",
                    "information: File is signed by "}}),
    [](const auto& param) { return std::string(param.param.name); });

struct FolderCase {
    const char* name;
    const char16_t* path;
    bool folderExists;
    Log expected;
};

class OpenFolderTest : public FileCommandsTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(OpenFolderTest, OpensTheFolderPartWithoutLookingAtTheFile) {
    list.rows = {Row(GetParam().path)};
    list.selected = 0;
    if (GetParam().folderExists)
        files.folders = {FolderPart(GetParam().path)};
    commands.OpenContainingFolder1Click();
    EXPECT_EQ(log, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, OpenFolderTest,
    ::testing::Values(
        // The file itself is missing (FakeFiles holds no files): the folder opens all the same.
        FolderCase{"FolderOfAMissingFile",
                   u"C:\\Windows\\system32\\drivers\\gone.sys",
                   true,
                   {"folder? C:\\Windows\\system32\\drivers\\",
                    "open: C:\\Windows\\system32\\drivers\\ | "}},
        FolderCase{"MissingFolder",
                   u"C:\\nowhere\\a.sys",
                   false,
                   {"folder? C:\\nowhere\\", "warning: Cannot find the folder on disk."}},
        FolderCase{"NoFolderPart",
                   u"ntoskrnl.exe",
                   false,
                   {"folder? ", "warning: Cannot find the folder on disk."}}),
    [](const auto& param) { return std::string(param.param.name); });

struct SearchCase {
    const char* name;
    Handler handler;
    DriverRow row;
    const char* parameters;
};

class SearchTest : public FileCommandsTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SearchTest, StartsTheBrowserWithTheQuotedEncodedAddress) {
    list.rows = {Row(u"C:\\x\\first.sys", u"First"), GetParam().row};
    list.selected = 1;
    (commands.*GetParam().handler)();
    EXPECT_EQ(log, (Log{std::string("open: iexplore.exe | ") + GetParam().parameters}));
}

INSTANTIATE_TEST_SUITE_P(
    Cells, SearchTest,
    ::testing::Values(
        SearchCase{"FileNameIsTheWholePath", &FileCommands::Filename1Click,
                   Row(u"C:\\Program Files\\My Driver.sys", u"Acme", u"ABCD"),
                   "\"https://www.google.com/search?q=C%3A%5CProgram%20Files%5CMy%20Driver.sys\""},
        SearchCase{
            "Publisher", &FileCommands::Publisher2Click,
            Row(u"C:\\a.sys", u"Acme & Sons \"Ltd\" -new-window", u"ABCD"),
            "\"https://www.google.com/search?q=Acme%20%26%20Sons%20%22Ltd%22%20-new-window\""},
        SearchCase{"Md5", &FileCommands::MD5Hash1Click,
                   Row(u"C:\\a.sys", u"Acme", u"9E107D9D372BB6826BD81D3542A419D6"),
                   "\"https://www.google.com/search?q=9E107D9D372BB6826BD81D3542A419D6\""},
        SearchCase{"EmptyMd5OfAMissingFile", &FileCommands::MD5Hash1Click,
                   Row(u"C:\\gone.sys", u"", u""), "\"https://www.google.com/search?q=\""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(FileCommandsTest, LaunchBrowserKeepsTheAddressOneArgument) {
    LaunchBrowser(ui, u"https://h/a\"b\\");
    EXPECT_EQ(log, (Log{"open: iexplore.exe | \"https://h/a%22b%5C\""}));
}

TEST_F(FileCommandsTest, CopyAllWithoutRowsShowsNoPicker) {
    commands.CopyallDriversto1Click();
    EXPECT_EQ(log, Log{});
}

TEST_F(FileCommandsTest, CopyAllEndsWhenThePickerIsCancelled) {
    list.rows = {Row(u"C:\\d\\a.sys")};
    files.files = {u"C:\\d\\a.sys"};
    ui.pickings = {std::nullopt};
    commands.CopyallDriversto1Click();
    EXPECT_EQ(log, Log{kPicker});
}

TEST_F(FileCommandsTest, CopyAllPumpsBeforeEachRowAndSkipsMissingFilesSilently) {
    list.rows = {Row(u"C:\\d\\a.sys"), Row(u"C:\\gone\\b.sys"), Row(u"C:\\e\\a.sys"),
                 Row(u"c.sys")};
    files.files = {u"C:\\d\\a.sys", u"C:\\e\\a.sys", u"c.sys"};
    ui.pickings = {u"D:\\out"};
    commands.CopyallDriversto1Click();
    EXPECT_EQ(log, (Log{kPicker, "pump", "file? C:\\d\\a.sys",
                        "copy C:\\d\\a.sys -> D:\\out\\a.sys", "pump", "file? C:\\gone\\b.sys",
                        // Same name as the first: the copy is refused, and nothing is said.
                        "pump", "file? C:\\e\\a.sys", "copy C:\\e\\a.sys -> D:\\out\\a.sys", "pump",
                        "file? c.sys", "copy c.sys -> D:\\out\\c.sys"}));
    EXPECT_EQ(list.missingRowReads, 0);
}

TEST_F(FileCommandsTest, CopyAllKeepsAPickedFolderThatEndsInABackslash) {
    list.rows = {Row(u"C:\\d\\a.sys")};
    files.files = {u"C:\\d\\a.sys"};
    ui.pickings = {u"D:\\"};
    commands.CopyallDriversto1Click();
    EXPECT_EQ(log.back(), "copy C:\\d\\a.sys -> D:\\a.sys");
}

TEST_F(FileCommandsTest, CopyAllCountsTheRowsAfterThePicker) {
    list.rows = {Row(u"C:\\d\\a.sys")};
    files.files = {u"C:\\d\\a.sys", u"C:\\d\\b.sys"};
    ui.pickings = {u"D:\\out"};
    ui.whilePickerOpen = [&] { list.rows.push_back(Row(u"C:\\d\\b.sys")); };
    commands.CopyallDriversto1Click();
    EXPECT_EQ(log.back(), "copy C:\\d\\b.sys -> D:\\out\\b.sys");
    EXPECT_EQ(std::count(log.begin(), log.end(), "pump"), 2);
}

TEST_F(FileCommandsTest, CopyAllStopsAtTheRowsLeftWhenTheListShrinksDuringThePump) {
    for (const char16_t* p : {u"C:\\d\\a.sys", u"C:\\d\\b.sys", u"C:\\d\\c.sys", u"C:\\d\\e.sys"})
        list.rows.push_back(Row(p));
    files.files = {u"C:\\d\\a.sys", u"C:\\d\\b.sys", u"C:\\d\\c.sys", u"C:\\d\\e.sys"};
    ui.pickings = {u"D:\\out"};
    // A refresh handled by the second pump leaves two rows, the second of them new.
    ui.duringPump = [&](int pump) {
        if (pump == 2)
            list.rows = {Row(u"C:\\d\\a.sys"), Row(u"C:\\d\\e.sys")};
    };
    commands.CopyallDriversto1Click();
    EXPECT_EQ(log,
              (Log{kPicker, "pump", "file? C:\\d\\a.sys", "copy C:\\d\\a.sys -> D:\\out\\a.sys",
                   "pump", "file? C:\\d\\e.sys", "copy C:\\d\\e.sys -> D:\\out\\e.sys", "pump"}));
    // One look past the end tells the loop to stop; nothing is asked after it.
    EXPECT_EQ(list.missingRowReads, 1);
}

TEST_F(FileCommandsTest, CopyAllOverAListEmptiedDuringTheFirstPumpCopiesNothing) {
    list.rows = {Row(u"C:\\d\\a.sys"), Row(u"C:\\d\\b.sys")};
    files.files = {u"C:\\d\\a.sys", u"C:\\d\\b.sys"};
    ui.pickings = {u"D:\\out"};
    ui.duringPump = [&](int) { list.rows.clear(); };
    commands.CopyallDriversto1Click();
    EXPECT_EQ(log, (Log{kPicker, "pump"}));
}

TEST_F(FileCommandsTest, CopyAllEndsWhenTheWindowIsClosedDuringThePump) {
    list.rows = {Row(u"C:\\d\\a.sys"), Row(u"C:\\d\\b.sys")};
    files.files = {u"C:\\d\\a.sys", u"C:\\d\\b.sys"};
    ui.pickings = {u"D:\\out"};
    ui.duringPump = [&](int pump) { ui.closing = pump == 2; };
    commands.CopyallDriversto1Click();
    EXPECT_EQ(log, (Log{kPicker, "pump", "file? C:\\d\\a.sys",
                        "copy C:\\d\\a.sys -> D:\\out\\a.sys", "pump"}));
}

// The real list behind the view: a refresh that empties it during the copy is seen as such.
TEST(DriverListViewTest, CopyAllOverARealListClearedDuringThePump) {
    DriverList driverList;
    testing::FakeInventory inventory;
    for (const char* path : {"C:\\d\\a.sys", "C:\\d\\b.sys", "C:\\d\\c.sys"}) {
        inventory.files[AsciiText(path)].hidden = true;
        inventory.AddEntry(path);
    }
    ASSERT_EQ(inventory.ScanInto(driverList), ScanResult::kCompleted);
    ASSERT_EQ(driverList.Count(), 3u);

    std::optional<std::size_t> selection = 2;
    DriverListView view(driverList, [&] { return selection; });
    EXPECT_EQ(view.SelectedCell(kImageName), u"C:\\d\\c.sys");
    EXPECT_EQ(view.Cell(3, kImageName), std::nullopt);

    Log log;
    ScriptedUi ui(log);
    FakeFiles files(log);
    files.files = {u"C:\\d\\a.sys", u"C:\\d\\b.sys", u"C:\\d\\c.sys"};
    ui.pickings = {u"D:\\out"};
    ui.duringPump = [&](int pump) {
        if (pump == 2)
            driverList.Clear();
    };
    ScriptedTrust trust(log);
    FileCommands({ui, files, trust}, view).CopyallDriversto1Click();
    EXPECT_EQ(log, (Log{kPicker, "pump", "file? C:\\d\\a.sys",
                        "copy C:\\d\\a.sys -> D:\\out\\a.sys", "pump"}));
    // A selection left pointing past the emptied list reads as no selection.
    EXPECT_EQ(view.SelectedCell(kImageName), std::nullopt);
}

TEST_F(FileCommandsTest, CopySelectedTestsTheFileBeforeThePicker) {
    list.rows = {Row(u"C:\\d\\gone.sys")};
    list.selected = 0;
    commands.CopyselectedDriverto1Click();
    EXPECT_EQ(log, (Log{"file? C:\\d\\gone.sys", kNoFile}));
}

TEST_F(FileCommandsTest, CopySelectedIntoThePickedFolder) {
    list.rows = {Row(u"C:\\d\\a.sys")};
    list.selected = 0;
    files.files = {u"C:\\d\\a.sys"};
    ui.pickings = {u"D:\\out"};
    commands.CopyselectedDriverto1Click();
    EXPECT_EQ(log, (Log{"file? C:\\d\\a.sys", kPicker, "copy C:\\d\\a.sys -> D:\\out\\a.sys"}));
}

TEST_F(FileCommandsTest, CopySelectedCancelledCopiesNothing) {
    list.rows = {Row(u"C:\\d\\a.sys")};
    list.selected = 0;
    files.files = {u"C:\\d\\a.sys"};
    ui.pickings = {std::nullopt};
    commands.CopyselectedDriverto1Click();
    EXPECT_EQ(log, (Log{"file? C:\\d\\a.sys", kPicker}));
}

TEST_F(FileCommandsTest, CopySelectedTakesTheRowSelectedWhenThePickerCloses) {
    list.rows = {Row(u"C:\\d\\a.sys"), Row(u"C:\\gone\\b.sys")};
    list.selected = 0;
    files.files = {u"C:\\d\\a.sys"};
    ui.pickings = {u"D:\\out\\"};
    ui.whilePickerOpen = [&] { list.selected = 1; };
    commands.CopyselectedDriverto1Click();
    // No second existence test: the copy is tried, and its failure would be silent.
    EXPECT_EQ(log, (Log{"file? C:\\d\\a.sys", kPicker, "copy C:\\gone\\b.sys -> D:\\out\\b.sys"}));
}

TEST_F(FileCommandsTest, CopySelectedWithTheSelectionGoneAfterThePickerDoesNothing) {
    list.rows = {Row(u"C:\\d\\a.sys")};
    list.selected = 0;
    files.files = {u"C:\\d\\a.sys"};
    ui.pickings = {u"D:\\out"};
    ui.whilePickerOpen = [&] { list.selected.reset(); };
    commands.CopyselectedDriverto1Click();
    EXPECT_EQ(log, (Log{"file? C:\\d\\a.sys", kPicker}));
}

// A platform call that raises ends the command there; nothing reaches the window procedure.
TEST_F(FileCommandsTest, ARaisingCopyIsIgnoredAndCopyAllGoesOn) {
    class RaisingFiles : public FakeFiles {
      public:
        using FakeFiles::FakeFiles;
        bool CopyNoOverwrite(const Text& source, const Text& destination) override {
            FakeFiles::CopyNoOverwrite(source, destination);
            if (source == u"C:\\d\\a.sys")
                throw std::runtime_error("disk gone");
            return true;
        }
    } raising(log);
    raising.files = {u"C:\\d\\a.sys", u"C:\\d\\b.sys"};
    list.rows = {Row(u"C:\\d\\a.sys"), Row(u"C:\\d\\b.sys")};
    ui.pickings = {u"D:\\out"};
    EXPECT_NO_THROW(FileCommands({ui, raising, trust}, list).CopyallDriversto1Click());
    EXPECT_EQ(log.back(), "copy C:\\d\\b.sys -> D:\\out\\b.sys");
}

}  // namespace
}  // namespace tolvessa
