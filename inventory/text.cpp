#include "inventory/text.h"

#include <algorithm>

namespace tolvessa {

namespace {

template <typename Char>
std::optional<std::string> LowerHex(std::basic_string_view<Char> text, std::size_t length) {
    if (text.size() != length)
        return std::nullopt;
    std::string out;
    out.reserve(length);
    for (const Char c : text) {
        const int digit = HexDigitValue(static_cast<char32_t>(c));
        if (digit < 0)
            return std::nullopt;
        out.push_back("0123456789abcdef"[digit]);
    }
    return out;
}

}  // namespace

Text DecimalText(std::uint64_t value) {
    char16_t digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    Text out;
    out.reserve(n);
    while (n > 0)
        out.push_back(digits[--n]);
    return out;
}

Text HexText(std::uint64_t value, int minDigits) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    char16_t digits[16];
    int n = 0;
    do {
        digits[n++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    Text out;
    for (int pad = minDigits - n; pad > 0; --pad)
        out.push_back(u'0');
    while (n > 0)
        out.push_back(digits[--n]);
    return out;
}

Text HexBytesText(std::span<const std::uint8_t> bytes) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    Text hex;
    hex.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0x0F]);
    }
    return hex;
}

int HexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9')
        return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f')
        return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return static_cast<int>(c - U'A') + 10;
    return -1;
}

std::optional<std::string> LowerHexDigits(std::string_view text, std::size_t length) {
    return LowerHex(text, length);
}

std::optional<std::string> LowerHexDigits(TextView text, std::size_t length) {
    return LowerHex(text, length);
}

TextView TrimBlanks(TextView text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && text[first] <= u' ')
        ++first;
    while (last > first && text[last - 1] <= u' ')
        --last;
    return text.substr(first, last - first);
}

bool SameFileName(TextView a, TextView b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return FoldAsciiCase(x) == FoldAsciiCase(y); });
}

void AppendCodePoint(Text& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

Text Utf8ToText(std::string_view utf8) {
    Text out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        char32_t cp = 0;
        std::size_t len = 0;
        char32_t min = 0;
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F, len = 2, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F, len = 3, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07, len = 4, min = 0x10000;
        } else {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k)
            cp = (cp << 6) | (s[i + k] & 0x3F);
        if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\xFFFD');
            i += k;
            continue;
        }
        i += len;
        AppendCodePoint(out, cp);
    }
    return out;
}

std::string TextToUtf8(TextView text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // a lone surrogate
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace tolvessa
