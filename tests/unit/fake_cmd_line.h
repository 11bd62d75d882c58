// A command line held in memory for the command-line tests, stepped by a chosen CharNextW.
#pragma once

#include <optional>
#include <utility>

#include "shell/cmd_line.h"

namespace tolvessa::testing {

// CharNextW as it behaves for plain text: one code unit a step, none at the end.
inline const char16_t* NextUnit(const char16_t* at) {
    return *at == 0 ? at : at + 1;
}

class FakeCmdLine : public CmdLineApi {
  public:
    using Step = const char16_t* (*)(const char16_t*);

    // `line` nothing: the platform hands out no command line at all.
    FakeCmdLine(std::optional<Text> line, Text modulePath, Step step = NextUnit)
        : line_(std::move(line)), modulePath_(std::move(modulePath)), step_(step) {}

    const char16_t* CommandLine() override { return line_ ? line_->c_str() : nullptr; }
    const char16_t* NextCharacter(const char16_t* position) override { return step_(position); }
    Text ModulePath() override { return modulePath_; }

  private:
    std::optional<Text> line_;
    Text modulePath_;
    Step step_;
};

}  // namespace tolvessa::testing
