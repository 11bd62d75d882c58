// The shell and the message boxes: launches through ShellExecuteW and ShellExecuteExW with no
// owner window and no working folder, and the program's one message-box entry point.
#pragma once

#include <optional>

#include "commands/file_commands.h"
#include "commands/file_routines.h"
#include "inventory/text.h"

namespace tolvessa::win32 {

// What the program hands to the shell. Every launch of the program goes through one of these.
class Shell {
  public:
    virtual ~Shell() = default;
    // Asks the shell to carry out `verb` on `file` with the parameters and show value; the
    // answer is not looked at.
    virtual void Launch(const Text& verb, const Text& file, const Text& parameters, int show) = 0;
    // The property sheet of a file (the verb "properties", show normal): the success flag.
    virtual bool ShowProperties(const Text& path) = 0;
};

// The system's shell: ShellExecuteW, and ShellExecuteExW with SEE_MASK_INVOKEIDLIST,
// SEE_MASK_NOCLOSEPROCESS and SEE_MASK_FLAG_NO_UI for the property sheet.
class Win32Shell : public Shell {
  public:
    void Launch(const Text& verb, const Text& file, const Text& parameters, int show) override;
    bool ShowProperties(const Text& path) override;
};

// The message box of the program: no owner, the application title as caption, topmost and
// brought to the foreground; `flags` add the icon and buttons. MB_SYSTEMMODAL is MB_APPLMODAL
// with the topmost style; without an owner window it disables nothing, and Wine honours it where
// it ignores MB_TOPMOST. The answer (IDOK, IDYES, IDNO).
int ApplicationMessageBox(const Text& text, unsigned flags);

// The kind's icon and an OK button.
void ShowMessage(MessageKind kind, const Text& text);
// The question icon, Yes and No, Yes the default: false only for No.
bool AskYesNo(const Text& text);

// Where a 32-bit process on 64-bit Windows reaches the real system folder through the shell (or
// the trust verifier, which also runs with the redirection on): GetSystemDirectoryW and the
// Windows folder's "Sysnative". Nothing for any other process, whose shell sees the system
// folder as its file calls do.
std::optional<SystemFolderAlias> ShellSystemFolderAlias();

// The running executable's full path (GetModuleFileNameW, at most 261 characters).
Text ExecutablePath();

// The executable's folder: the text of its full path (at most 261 characters) up to and
// including its last "\" or ":".
Text ExecutableFolder();

}  // namespace tolvessa::win32
