#include "platform/host/host_system.h"

namespace tolvessa::host {

namespace {

char16_t UpperUnit(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 0x20);
    if (c < 0x80)
        return c;
    // Latin-1: à..þ except ÷; ÿ becomes Ÿ.
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    // Latin Extended-A: pairs, lower case on the odd code (with the run 0x139..0x148 and
    // 0x179..0x17E shifted by one), dotless i left alone.
    if (c >= 0x100 && c <= 0x137 && (c & 1) && c != 0x131)
        return static_cast<char16_t>(c - 1);
    if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && !(c & 1)) {
        return static_cast<char16_t>(c - 1);
    }
    if (c >= 0x14A && c <= 0x177 && (c & 1))
        return static_cast<char16_t>(c - 1);
    // Greek: α..ω except final sigma, which becomes Σ.
    if (c == 0x3C2)
        return 0x3A3;
    if (c >= 0x3B1 && c <= 0x3C9)
        return static_cast<char16_t>(c - 0x20);
    // Cyrillic: а..я and ѐ..џ.
    if (c >= 0x430 && c <= 0x44F)
        return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    return c;
}

}  // namespace

Text UpperCaseKeepLength(TextView text) {
    Text out(text);
    for (char16_t& c : out)
        c = UpperUnit(c);
    return out;
}

Text DecodeAnsi(std::string_view bytes) {
    return Utf8ToText(bytes);
}

Text HostSystem::UpperCase(TextView text) {
    return UpperCaseKeepLength(text);
}

}  // namespace tolvessa::host
