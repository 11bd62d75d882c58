// The vulnerable-driver lists of the main window: those beside the program, the one the user
// picks, and loading one with its failure told.
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

#include "inventory/text.h"
#include "shell/file_facts.h"
#include "shell/log_mode.h"
#include "trust/vulnerable_lists.h"

namespace tolvessa::win32 {

// The vulnerable-driver lists in the "vulnlists" folder beside the program: its files named
// *.csv or *.xml (in any case), in the order of their names.
std::vector<Text> ListsBesideProgram();

// "Load Vulnerable Driver List": the open dialog, owned by `owner`, for an existing *.csv or
// *.xml file (or any file); nothing when it is cancelled.
std::optional<Text> AskForListFile(HWND owner);

// Loads a list into `lists`. A list that could not be read or was cut short is told, when
// `tellFailure`, in a warning box owned by `owner` with the caption `caption`.
ListLoadResult LoadListTelling(HWND owner, const Text& caption, VulnerableLists& lists,
                               FileContentApi& content, const Text& fileName, bool tellFailure);

}  // namespace tolvessa::win32
