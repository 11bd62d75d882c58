#include "commands/file_commands.h"

#include <exception>

namespace tolvessa {

namespace {

// Runs a handler's body: a failure on the way (out of memory, a platform call that raised) ends
// the command quietly, since nothing may raise out into the window procedure.
template <typename Body>
void Guarded(Body body) {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace

std::optional<Text> DriverListView::SelectedCell(DriverColumn column) {
    const std::optional<std::size_t> selected = selection_ ? selection_() : std::nullopt;
    if (!selected)
        return std::nullopt;
    return Cell(*selected, column);
}

std::optional<Text> DriverListView::Cell(std::size_t row, DriverColumn column) {
    if (row >= list_.Count())
        return std::nullopt;
    return list_.Row(row)[column];
}

bool ShowFileProperties(CommandUi& ui, CommandFiles& files, const Text& path) {
    if (!files.FileExists(path))
        return false;
    return ui.ShowPropertySheet(ui.ShellPath(path));
}

void SearchOnWeb(CommandUi& ui, TextView text) {
    LaunchBrowser(ui, WebSearchAddress(text));
}

void LaunchBrowser(CommandUi& ui, const Text& url) {
    // One quoted argument, so nothing in the address can become a browser option or split it.
    // Neither a quote nor a backslash belongs in an address; encoded, neither can end the quoted
    // argument early.
    Text quoted = u"\"";
    for (const char16_t c : url) {
        if (c == u'"')
            quoted += u"%22";
        else if (c == u'\\')
            quoted += u"%5C";
        else
            quoted += c;
    }
    quoted += u'"';
    ui.ShellOpen(u"iexplore.exe", quoted);
}

std::optional<Text> FileCommands::SelectedExistingFile() {
    std::optional<Text> path = list_.SelectedCell(kImageName);
    if (path && !files_.FileExists(*path)) {
        ui_.ShowMessage(MessageKind::kWarning, Text(kCannotFindFileText));
        return std::nullopt;
    }
    return path;
}

void FileCommands::ShowProperties1Click() {
    Guarded([&] {
        const std::optional<Text> path = SelectedExistingFile();
        if (!path)
            return;
        // The property sheet lives on by itself; whether it opened is not looked at.
        ShowFileProperties(ui_, files_, *path);
    });
}

void FileCommands::OpenContainingFolder1Click() {
    Guarded([&] {
        const std::optional<Text> path = list_.SelectedCell(kImageName);
        if (!path)
            return;
        const Text folder = FolderPart(*path);
        if (!files_.FolderExists(folder)) {
            ui_.ShowMessage(MessageKind::kWarning, Text(kCannotFindFolderText));
            return;
        }
        ui_.ShellOpen(ui_.ShellPath(folder), Text());
    });
}

void FileCommands::VerifyFileSignature1Click() {
    Guarded([&] {
        const std::optional<Text> path = SelectedExistingFile();
        if (!path)
            return;
        // The signer is asked for only once the verdict says the file is signed.
        if (IsFileSigned(trust_, *path)) {
            ui_.ShowMessage(MessageKind::kInformation,
                            Text(kSignedByText) + GetSignerName(trust_, *path));
            return;
        }
        ui_.ShowMessage(MessageKind::kInformation, Text(kNotSignedText));
    });
}

void FileCommands::SearchSelectedCell(DriverColumn column) {
    Guarded([&] {
        const std::optional<Text> cell = list_.SelectedCell(column);
        if (cell)
            SearchOnWeb(ui_, *cell);
    });
}

void FileCommands::Filename1Click() {
    SearchSelectedCell(kImageName);
}

void FileCommands::Publisher2Click() {
    SearchSelectedCell(kPublisher);
}

void FileCommands::MD5Hash1Click() {
    SearchSelectedCell(kMd5Hash);
}

void FileCommands::CopyallDriversto1Click() {
    Guarded([&] {
        if (list_.RowCount() == 0)
            return;
        const std::optional<Text> picked = ui_.BrowseForFolder(Text(kSelectFolderTitle));
        if (!picked)
            return;
        const Text folder = WithTrailingBackslash(*picked);
        // The picker does not block the main window: the list may have changed while it was
        // open, so the rows are counted now, once.
        const std::size_t count = list_.RowCount();
        for (std::size_t row = 0; row < count; ++row) {
            ui_.PumpMessages();
            if (ui_.StopRequested())
                break;
            // A refresh handled by the pump may have emptied or shortened the list: stop at the
            // rows that are left.
            const std::optional<Text> path = list_.Cell(row, kImageName);
            if (!path)
                break;
            Guarded([&] {
                if (files_.FileExists(*path))
                    files_.CopyNoOverwrite(*path, folder + FileNamePart(*path));
            });
        }
    });
}

void FileCommands::CopyselectedDriverto1Click() {
    Guarded([&] {
        if (!SelectedExistingFile())
            return;
        const std::optional<Text> picked = ui_.BrowseForFolder(Text(kSelectFolderTitle));
        if (!picked)
            return;
        const Text folder = WithTrailingBackslash(*picked);
        // The selection may have moved while the picker was open: the row selected now is the
        // one copied, without a second existence test.
        const std::optional<Text> source = list_.SelectedCell(kImageName);
        if (!source)
            return;
        files_.CopyNoOverwrite(*source, folder + FileNamePart(*source));
    });
}

void FileCommands::DeleteSelected(bool (CommandFiles::*operation)(const Text&), TextView success,
                                  TextView failure) {
    Guarded([&] {
        // Asked before anything else, with or without a selection.
        if (!ui_.AskYesNo(Text(kConfirmDeleteText)))
            return;
        const std::optional<Text> path = SelectedExistingFile();
        if (!path)
            return;
        if ((files_.*operation)(*path))
            ui_.ShowMessage(MessageKind::kInformation, Text(success));
        else
            ui_.ShowMessage(MessageKind::kWarning, Text(failure));
    });
}

void FileCommands::DeleteonReboot1Click() {
    DeleteSelected(&CommandFiles::ForceDelete, kDeletedText, kDeleteFailedText);
}

void FileCommands::DeleteFileonReboot1Click() {
    DeleteSelected(&CommandFiles::MarkForDeletion, kMarkedText, kMarkFailedText);
}

}  // namespace tolvessa
