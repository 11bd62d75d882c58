// The unattended run: "-log <file>" on the command line scans, writes the report into the file
// and closes the window.
#pragma once

#include <functional>

#include "inventory/text.h"

namespace tolvessa {

// How long the window stays up after writing a report.
inline constexpr unsigned kLogModePauseMilliseconds = 1000;

// What log mode does, supplied by the main window.
struct LogModeActions {
    std::function<int()> argCount;       // arguments after the program's name
    std::function<Text(int index)> arg;  // the empty text past the last argument
    std::function<void()> scan;          // fills the driver list
    std::function<void(const Text& fileName)> writeReport;
    std::function<void(unsigned milliseconds)> pause;
    std::function<void()> close;  // asks the window to close
};

// Goes through the arguments once, in order. Each argument that is exactly "-log" scans, writes
// the report into the argument after it (the empty text when there is none, which writes no
// file), pauses and closes; then the arguments go on from the one after "-log", so a file name
// that reads "-log" starts another round. True when any "-log" was found.
bool RunLogMode(const LogModeActions& actions);

}  // namespace tolvessa
