// UTF-16 text, the program's one text type, and the small formatting helpers the inventory needs.
#pragma once

#include <cstdint>
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

// Removes leading and trailing characters of code U+0020 and below.
TextView TrimBlanks(TextView text);

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD; nothing is dropped silently.
Text Utf8ToText(std::string_view utf8);
std::string TextToUtf8(TextView text);

// Literal helper for tests and tables: plain ASCII into Text.
inline Text AsciiText(std::string_view ascii) {
    return Text(ascii.begin(), ascii.end());
}

}  // namespace tolvessa
