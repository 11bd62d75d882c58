// Launches through the shell (ShellExecuteW and friends), with no owner window and no working
// folder; their answer is not looked at.
#pragma once

#include "inventory/text.h"

namespace tolvessa::win32 {

// Asks the shell to carry out `verb` on `file` with the given show value.
//
// Test seam: when the environment variable TOLVESSA_SHELL_LOG names a file, nothing is
// launched; a line "verb<TAB>file<TAB>parameters<TAB>show" (UTF-8) is appended to that file, so
// an end-to-end test can see what would have been handed to the shell.
void ShellLaunch(const Text& verb, const Text& file, const Text& parameters, int show);

// The seam itself: when TOLVESSA_SHELL_LOG names a file, appends the request to it and returns
// true (nothing is to be launched); otherwise returns false.
bool LogInsteadOfLaunching(const Text& verb, const Text& file, const Text& parameters, int show);

// A message box under the program's convention: no owner, the application title as caption,
// topmost and brought to the foreground; `flags` add the icon and buttons. MB_SYSTEMMODAL is
// MB_APPLMODAL with the topmost style; without an owner window it disables nothing, and Wine
// honours it where it ignores MB_TOPMOST. The answer (IDOK, IDYES, IDNO).
int ApplicationMessageBox(const Text& text, unsigned flags);

// The executable's folder: the text of its full path (at most 261 characters) up to and
// including its last "\" or ":".
Text ExecutableFolder();

}  // namespace tolvessa::win32
