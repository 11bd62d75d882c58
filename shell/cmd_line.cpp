#include "shell/cmd_line.h"

namespace tolvessa {

namespace {

constexpr bool IsBlank(char16_t c) {
    return c >= 1 && c <= 32;
}

// Collects the token's characters, or only counts them when there is nowhere to put them.
class TokenSink {
  public:
    explicit TokenSink(char16_t* out) : out_(out) {}

    void Add(char16_t c) {
        if (out_)
            out_[count_] = c;
        ++count_;
    }
    std::size_t Count() const { return count_; }

  private:
    char16_t* out_;
    std::size_t count_ = 0;
};

}  // namespace

bool NextCmdLineToken(CmdLineApi& platform, const char16_t*& cursor, char16_t* out,
                      std::size_t* length) {
    if (length)
        *length = 0;
    if (!cursor)
        return false;
    while (IsBlank(*cursor))
        cursor = platform.NextCharacter(cursor);
    if (*cursor == 0)
        return false;

    TokenSink token(out);
    bool quoted = false;
    while (*cursor != 0) {
        const char16_t c = *cursor;
        if (c == u'\\') {
            std::size_t backslashes = 0;
            while (*cursor == u'\\') {
                ++backslashes;
                cursor = platform.NextCharacter(cursor);
            }
            if (*cursor == u'"') {
                for (std::size_t i = 0; i < backslashes / 2; ++i)
                    token.Add(u'\\');
                if (backslashes % 2 != 0) {
                    // An escaped quote: a character of the token, no change of quoting.
                    token.Add(*cursor);
                    cursor = platform.NextCharacter(cursor);
                }
            } else {
                for (std::size_t i = 0; i < backslashes; ++i)
                    token.Add(u'\\');
            }
        } else if (c == u'"') {
            quoted = !quoted;
            cursor = platform.NextCharacter(cursor);
        } else if (IsBlank(c) && !quoted) {
            break;
        } else {
            token.Add(c);
            cursor = platform.NextCharacter(cursor);
        }
    }
    if (length)
        *length = token.Count();
    return true;
}

int CmdLineArgCount(CmdLineApi& platform) {
    const char16_t* cursor = platform.CommandLine();
    NextCmdLineToken(platform, cursor, nullptr, nullptr);  // the program's name
    int count = 0;
    while (NextCmdLineToken(platform, cursor, nullptr, nullptr))
        ++count;
    return count;
}

Text CmdLineArg(CmdLineApi& platform, int index) {
    if (index <= 0)
        return platform.ModulePath();
    const char16_t* cursor = platform.CommandLine();
    for (int skip = 0; skip < index; ++skip) {
        if (!NextCmdLineToken(platform, cursor, nullptr, nullptr))
            return {};
    }
    const char16_t* measure = cursor;
    std::size_t length = 0;
    if (!NextCmdLineToken(platform, measure, nullptr, &length))
        return {};
    Text arg(length, u'\0');
    NextCmdLineToken(platform, cursor, arg.data(), nullptr);
    return arg;
}

}  // namespace tolvessa
