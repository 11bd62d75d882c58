#include "shell/win32/unattended_run.h"

#include <utility>

#include "report/exports.h"
#include "shell/cmd_line.h"
#include "shell/win32/export.h"
#include "shell/win32/list_files.h"
#include "shell/win32/win32_process.h"
#include "tolvessa_product.h"

namespace tolvessa::win32 {

LogModeOutcome RunUnattended(LogModeActions actions, const UnattendedSource& source) {
    const Text title = TOLVESSA_U(TOLVESSA_TITLE);
    const Text hostName = TOLVESSA_U(TOLVESSA_HOST_NAME);
    Win32CmdLine cmdLine;
    actions.argCount = [&cmdLine] { return CmdLineArgCount(cmdLine); };
    actions.arg = [&cmdLine](int index) { return CmdLineArg(cmdLine, index); };
    actions.writeReport = [&](const Text& fileName) {
        return WriteDriverReport(source.files, fileName, source.list, title, hostName,
                                 source.statusText());
    };
    actions.pause = [](unsigned milliseconds) { ::Sleep(milliseconds); };
    actions.defaultLists = [] { return ListsBesideProgram(); };
    actions.writeExport = [&source](ExportKind kind, const Text& fileName) {
        return WriteExportFile(source.files, fileName,
                               ExportText(kind, ModuleRecords(source.list), source.listTaken));
    };
    actions.anyVulnerable = [&source] { return source.list.AnyVulnerable(); };
    return RunLogMode(actions);
}

}  // namespace tolvessa::win32
