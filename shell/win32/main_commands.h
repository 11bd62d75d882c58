// Which handler each command of the main window runs: its menu items and its two buttons.
#pragma once

#include <windows.h>

#include "commands/file_commands.h"

namespace tolvessa::win32 {

class TForm2;

// Runs the handler of a menu item or button, by its id (MenuId, kButton1, kButton4): a
// handler of the window or one of the file commands on the selected row. False for an unknown
// id.
bool RunMainCommand(TForm2& form, FileCommands& commands, UINT id);

}  // namespace tolvessa::win32
