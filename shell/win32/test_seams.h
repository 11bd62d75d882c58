// What the test build of the program (TolvessaTestable.exe) puts in place of the system's shell
// and module table, so the end-to-end tests can list files of their own and see what would have
// been launched. Compiled into the test build only: the product reads none of these variables.
//
//   TOLVESSA_MODULE_TABLE  a recorded module table (the kernel's layout) that every scan reads
//                          afresh; a file that cannot be read is a failed snapshot. Several
//                          files joined by "|" are read in turn, one per scan, the last one by
//                          every scan after it.
//   TOLVESSA_SHELL_LOG     nothing is launched; a line "verb<TAB>file<TAB>parameters<TAB>show"
//                          (UTF-8) is appended to this file for every launch.
//   TOLVESSA_HAND_OVER_AS_WOW64
//                          "1": the program takes itself for a 32-bit process on 64-bit
//                          Windows, whatever its build, so the hand-over to the 64-bit program
//                          beside it can be tried where 32-bit programs cannot run.
#pragma once

#include <memory>

#include "inventory/module_snapshot.h"
#include "platform/win32/win32_shell.h"
#include "shell/win32/win32_process.h"

namespace tolvessa::win32 {

class TestSeams {
  public:
    TestSeams();

    // The logging shell when TOLVESSA_SHELL_LOG is set, else the system's.
    Shell& TheShell() { return *shell_; }
    // The recorded table when TOLVESSA_MODULE_TABLE is set, else the kernel's.
    ModuleTableApi& ModuleTable() { return *moduleTable_; }
    // The system's, claiming WOW64 when TOLVESSA_HAND_OVER_AS_WOW64 is "1".
    HandOverApi& HandOver() { return *handOver_; }

  private:
    std::unique_ptr<HandOverApi> handOver_;
    std::unique_ptr<Shell> shell_;
    std::unique_ptr<ModuleTableApi> moduleTable_;
};

}  // namespace tolvessa::win32
