// UTF-16 text, the program's one text type, and the small formatting helpers the inventory needs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tolvessa {

// Text is UTF-16 throughout, on every platform (wchar_t is 32 bits wide outside Windows).
using Text = std::u16string;
using TextView = std::u16string_view;

// Decimal digits without leading zeros.
Text DecimalText(std::uint64_t value);

// Uppercase hexadecimal; at least minDigits digits, zero-filled on the left.
Text HexText(std::uint64_t value, int minDigits = 1);

// Bytes as two uppercase hexadecimal digits each, in order.
Text HexBytesText(std::span<const std::uint8_t> bytes);

// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char32_t c);

// Exactly `length` hexadecimal digits of either case, in lower case; nothing for anything else.
std::optional<std::string> LowerHexDigits(std::string_view text, std::size_t length);
std::optional<std::string> LowerHexDigits(TextView text, std::size_t length);

// Removes leading and trailing characters of code U+0020 and below.
TextView TrimBlanks(TextView text);

// The ASCII letters A-Z as a-z; every other unit as it is.
constexpr char16_t FoldAsciiCase(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Equal but for the case of ASCII letters, as Windows compares the names of files: the letters
// of the ASCII range without regard to case, everything else exactly.
bool SameFileName(TextView a, TextView b);

// Appends a code point (up to U+10FFFF) as one UTF-16 unit or a surrogate pair.
void AppendCodePoint(Text& out, char32_t cp);

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD; nothing is dropped silently.
Text Utf8ToText(std::string_view utf8);
std::string TextToUtf8(TextView text);

// Literal helper for tests and tables: plain ASCII into Text.
inline Text AsciiText(std::string_view ascii) {
    return Text(ascii.begin(), ascii.end());
}

}  // namespace tolvessa
