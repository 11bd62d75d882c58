// What the test build of the program (TolvessaTestable.exe) puts in place of the system's shell
// and module table, so the end-to-end tests can list files of their own and see what would have
// been launched. Compiled into the test build only: the product reads none of these variables.
//
//   TOLVESSA_MODULE_TABLE  a recorded module table (the kernel's layout) that every scan reads
//                          afresh; a file that cannot be read is a failed snapshot.
//   TOLVESSA_SHELL_LOG     nothing is launched; a line "verb<TAB>file<TAB>parameters<TAB>show"
//                          (UTF-8) is appended to this file for every launch.
#pragma once

#include <memory>

#include "inventory/module_snapshot.h"
#include "platform/win32/win32_shell.h"

namespace tolvessa::win32 {

class TestSeams {
  public:
    TestSeams();

    // The logging shell when TOLVESSA_SHELL_LOG is set, else the system's.
    Shell& TheShell() { return *shell_; }
    // The recorded table when TOLVESSA_MODULE_TABLE is set, else the kernel's.
    ModuleTableApi& ModuleTable() { return *moduleTable_; }

  private:
    std::unique_ptr<Shell> shell_;
    std::unique_ptr<ModuleTableApi> moduleTable_;
};

}  // namespace tolvessa::win32
