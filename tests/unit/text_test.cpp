// The small text helpers that the readers and the file-name comparisons share.
#include "inventory/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace tolvessa {
namespace {

TEST(TextTest, HexDigitValueReadsBothCasesAndNothingElse) {
    const std::u32string_view digits = U"0123456789abcdefABCDEF";
    const int values[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                          11, 12, 13, 14, 15, 10, 11, 12, 13, 14, 15};
    for (std::size_t i = 0; i < digits.size(); ++i)
        EXPECT_EQ(HexDigitValue(digits[i]), values[i]) << static_cast<char>(digits[i]);
    for (const char32_t other : {U'/', U':', U'@', U'G', U'`', U'g', U' ', U'\0', U'\xFF10',
                                 static_cast<char32_t>(0xFFFFFF41)})
        EXPECT_EQ(HexDigitValue(other), -1) << static_cast<std::uint32_t>(other);
}

TEST(TextTest, LowerHexDigitsTakesExactlyTheLengthInEitherCase) {
    struct Case {
        std::string_view text;
        std::size_t length;
        std::optional<std::string> hex;
    } const cases[] = {
        {"00aF9b", 6, "00af9b"},      {"ABCDEF0123", 10, "abcdef0123"}, {"", 0, ""},
        {"00af9", 6, std::nullopt},    // too short
        {"00af9bc", 6, std::nullopt},  // too long
        {"00ag9b", 6, std::nullopt},   // not a digit
        {" 0af9b", 6, std::nullopt},   // blanks are the caller's
        {"0x0af9", 6, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LowerHexDigits(c.text, c.length), c.hex) << c.text;
        EXPECT_EQ(LowerHexDigits(TextView(AsciiText(c.text)), c.length), c.hex) << c.text;
    }
    // A narrow byte above 0x7F is no digit, whichever its sign.
    EXPECT_EQ(LowerHexDigits(std::string_view("\xC1\xC2"), 2), std::nullopt);
    // Nor a UTF-16 unit whose low byte is a digit's.
    EXPECT_EQ(LowerHexDigits(TextView(u"\u0141\u0130"), 2), std::nullopt);
}

TEST(TextTest, SameFileNameFoldsOnlyAsciiLetters) {
    struct Case {
        TextView a, b;
        bool same;
    } const cases[] = {
        {u"ntoskrnl.exe", u"NTOSKRNL.EXE", true},
        {u"Tolvessa64.exe", u"tolvessa64.EXE", true},
        {u"C:\\Windows\\System32", u"c:\\windows\\system32", true},
        {u"", u"", true},
        {u"a.sys", u"a.sys ", false},  // no trimming
        {u"a.sys", u"b.sys", false},
        {u"@.sys", u"`.sys", false},  // the neighbours of the letters stay apart
        {u"[.sys", u"{.sys", false},
        {u"\u00C9t\u00E9.sys", u"\u00E9t\u00E9.sys", false},  // letters beyond ASCII exactly
        {u"\u0130.sys", u"i.sys", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameFileName(c.a, c.b), c.same) << TextToUtf8(c.a) << " ~ " << TextToUtf8(c.b);
        EXPECT_EQ(SameFileName(c.b, c.a), c.same) << TextToUtf8(c.b) << " ~ " << TextToUtf8(c.a);
    }
    EXPECT_EQ(FoldAsciiCase(u'Q'), u'q');
    EXPECT_EQ(FoldAsciiCase(u'q'), u'q');
    EXPECT_EQ(FoldAsciiCase(u'\u00C9'), u'\u00C9');
}

TEST(TextTest, AppendCodePointWritesSurrogatePairsAboveTheBasicPlane) {
    Text text = u"x";
    AppendCodePoint(text, U'A');
    AppendCodePoint(text, U'\uFFFD');
    AppendCodePoint(text, U'\U00010000');
    AppendCodePoint(text, U'\U0001F600');
    AppendCodePoint(text, U'\U0010FFFF');
    EXPECT_EQ(text, u"xA\uFFFD\U00010000\U0001F600\U0010FFFF");
    EXPECT_EQ(Utf8ToText("\xF0\x9F\x98\x80"), u"\U0001F600");
}

}  // namespace
}  // namespace tolvessa
