#include "shell/win32/main_commands.h"

#include "report/driver_report.h"
#include "shell/win32/main_menus.h"
#include "shell/win32/main_window.h"

namespace tolvessa::win32 {

namespace {

// The handler of each menu item and button, by its id.
struct Command {
    UINT id;
    void (*run)(TForm2& form, FileCommands& commands);
};

template <void (TForm2::*Handler)()>
constexpr Command On(UINT id) {
    return {id, [](TForm2& form, FileCommands&) { (form.*Handler)(); }};
}
template <void (FileCommands::*Handler)()>
constexpr Command OnFile(UINT id) {
    return {id, [](TForm2&, FileCommands& commands) { (commands.*Handler)(); }};
}
template <ClipboardItem Item>
constexpr Command OnCopy(UINT id) {
    return {id, [](TForm2& form, FileCommands&) { form.CopyToClipboard(Item); }};
}

constexpr Command kCommands[] = {
    On<&TForm2::Button1Click>(kButton1),
    On<&TForm2::Button4Click>(kButton4),
    On<&TForm2::OpenChangelog1Click>(kOpenChangelog1),
    On<&TForm2::OpenEULA1Click>(kOpenEULA1),
    On<&TForm2::Close1Click>(kClose1),
    On<&TForm2::HighlightSuspiciousModules2Click>(kHighlightSuspiciousModules2),
    On<&TForm2::HideMicrosoftDrivers2Click>(kHideMicrosoftDrivers2),
    On<&TForm2::Homepage1Click>(kHomepage1),
    On<&TForm2::About1Click>(kAbout1),
    On<&TForm2::ShowHashesandSignatures2Click>(kShowHashesandSignatures2),
    On<&TForm2::LoadVulnerableDriverList1Click>(kLoadVulnerableDriverList1),
    On<&TForm2::Sha256CopyClick>(kSha256Copy),
    On<&TForm2::PeSha256CopyClick>(kPeSha256Copy),
    OnCopy<ClipboardItem::kEntireLine>(kEntireLine1),
    OnCopy<ClipboardItem::kFileName>(kImageName1),
    OnCopy<ClipboardItem::kAddress>(kBaseAddress1),
    OnCopy<ClipboardItem::kPublisher>(kPublisher1),
    OnCopy<ClipboardItem::kDescription>(kDescription1),
    OnCopy<ClipboardItem::kMd5Hash>(kMD5hash2),
    OnFile<&FileCommands::VerifyFileSignature1Click>(kVerifyFileSignature1),
    OnFile<&FileCommands::ShowProperties1Click>(kShowProperties1),
    OnFile<&FileCommands::OpenContainingFolder1Click>(kOpenContainingFolder1),
    OnFile<&FileCommands::Filename1Click>(kFilename1),
    OnFile<&FileCommands::Publisher2Click>(kPublisher2),
    OnFile<&FileCommands::MD5Hash1Click>(kMD5Hash1),
    OnFile<&FileCommands::CopyallDriversto1Click>(kCopyallDriversto1),
    OnFile<&FileCommands::CopyselectedDriverto1Click>(kCopyselectedDriverto1),
    OnFile<&FileCommands::DeleteonReboot1Click>(kDeleteonReboot1),
    OnFile<&FileCommands::DeleteFileonReboot1Click>(kDeleteFileonReboot1),
};

}  // namespace

bool RunMainCommand(TForm2& form, FileCommands& commands, UINT id) {
    for (const Command& command : kCommands) {
        if (command.id == id) {
            command.run(form, commands);
            return true;
        }
    }
    return false;
}

}  // namespace tolvessa::win32
