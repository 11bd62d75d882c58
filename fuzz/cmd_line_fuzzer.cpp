// The program's command line split into arguments. The input's first byte picks how the
// platform steps from one character to the next; the rest is the command line as UTF-16 (it
// ends at its first NUL, as the platform's does).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "shell/cmd_line.h"

namespace tolvessa::fuzz {
namespace {

constexpr TextView kModulePath = u"C:\\Tools\\Tolvessa\\tolvessa.exe";

bool IsCombiningMark(char16_t c) {
    return c >= 0x300 && c <= 0x36F;
}

// CharNextW as it behaves for plain text, for text with combining marks (a base character and
// its marks are one step), and for surrogate pairs (one step each).
const char16_t* NextUnit(const char16_t* at) {
    return *at == 0 ? at : at + 1;
}

const char16_t* NextWithMarks(const char16_t* at) {
    if (*at == 0)
        return at;
    ++at;
    while (IsCombiningMark(*at))
        ++at;
    return at;
}

const char16_t* NextWithPairs(const char16_t* at) {
    if (*at == 0)
        return at;
    if (*at >= 0xD800 && *at <= 0xDBFF && at[1] >= 0xDC00 && at[1] <= 0xDFFF)
        return at + 2;
    return at + 1;
}

// The command line in memory, stepped by one of the CharNextW behaviours above.
class FuzzCmdLine : public CmdLineApi {
  public:
    FuzzCmdLine(const Text& line, std::uint8_t stepping) : line_(line) {
        switch (stepping % 3) {
            case 0:
                step_ = NextUnit;
                break;
            case 1:
                step_ = NextWithMarks;
                break;
            default:
                step_ = NextWithPairs;
                break;
        }
    }
    const char16_t* CommandLine() override { return line_.c_str(); }
    const char16_t* NextCharacter(const char16_t* position) override { return step_(position); }
    Text ModulePath() override { return Text(kModulePath); }

  private:
    const Text& line_;
    const char16_t* (*step_)(const char16_t*) = NextUnit;
};

// Splits at runs of characters 1 to 32: what the shell does with a line without quotes.
std::vector<Text> SplitAtBlanks(const Text& line) {
    std::vector<Text> parts;
    Text part;
    bool inPart = false;
    for (const char16_t c : line) {
        if (c >= 1 && c <= 32) {
            if (inPart)
                parts.push_back(part);
            part.clear();
            inPart = false;
        } else {
            part.push_back(c);
            inPart = true;
        }
    }
    if (inPart)
        parts.push_back(part);
    return parts;
}

}  // namespace
}  // namespace tolvessa::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    using namespace tolvessa::fuzz;
    if (size == 0)
        return 0;
    Text line = UnitsOf(std::span(data + 1, size - 1));
    line.resize(std::char_traits<char16_t>::length(line.c_str()));
    FuzzCmdLine platform(line, data[0]);
    const char16_t* const begin = line.c_str();
    const char16_t* const end = begin + line.size();

    // Every token measured, then read into a buffer of exactly that size (ASan sees a write past
    // it), the cursor never leaving the line.
    std::vector<Text> tokens;
    const char16_t* cursor = platform.CommandLine();
    for (;;) {
        const char16_t* measure = cursor;
        std::size_t length = 12345;
        const bool found = NextCmdLineToken(platform, measure, nullptr, &length);
        FUZZ_CHECK(measure >= cursor && measure <= end);
        if (!found) {
            FUZZ_CHECK(length == 0 && measure == end);
            break;
        }
        // Every character of the token stands for at least one the cursor passed.
        FUZZ_CHECK(length <= static_cast<std::size_t>(measure - cursor));
        std::vector<char16_t> buffer(length);
        std::size_t again = 0;
        FUZZ_CHECK(NextCmdLineToken(platform, cursor, buffer.data(), &again));
        FUZZ_CHECK(again == length && cursor == measure);
        FUZZ_CHECK(*cursor == 0 || (*cursor >= 1 && *cursor <= 32));
        tokens.emplace_back(buffer.begin(), buffer.end());
    }

    const int count = CmdLineArgCount(platform);
    FUZZ_CHECK(count == (tokens.empty() ? 0 : static_cast<int>(tokens.size()) - 1));
    // Each argument is read from the start of the line: the first few and the last few say as
    // much as all of them, without a walk over the line per token.
    constexpr int kEnds = 8;
    for (int i = 1; i <= count; ++i) {
        if (i > kEnds && i <= count - kEnds)
            i = count - kEnds + 1;
        FUZZ_CHECK(CmdLineArg(platform, i) == tokens[static_cast<std::size_t>(i)]);
    }
    FUZZ_CHECK(CmdLineArg(platform, count + 1).empty());
    FUZZ_CHECK(CmdLineArg(platform, 0) == kModulePath);

    // Without quotes, backslashes stand for themselves and only blanks split.
    if (data[0] % 3 == 0 && line.find(u'"') == Text::npos)
        FUZZ_CHECK(tokens == SplitAtBlanks(line));
    return 0;
}
