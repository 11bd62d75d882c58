#include "platform/host/host_system.h"

#include <gtest/gtest.h>

namespace tolvessa::host {
namespace {

TEST(UpperCaseKeepLengthTest, UpperCasesLettersAndKeepsLength) {
    const struct {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"\\SystemRoot\\x.sys", u"\\SYSTEMROOT\\X.SYS"},
        {u"àéîõüÿ", u"ÀÉÎÕÜŸ"},
        {u"ß÷µ", u"ß÷µ"},  // no one-unit upper case: unchanged
        {u"ąčęłńšžź", u"ĄČĘŁŃŠŽŹ"},
        {u"αβγσς", u"ΑΒΓΣΣ"},
        {u"привет ёж", u"ПРИВЕТ ЁЖ"},
        {u"\U0001F600a", u"\U0001F600A"},  // surrogates untouched
    };
    for (const auto& c : cases) {
        const Text out = UpperCaseKeepLength(c.in);
        EXPECT_EQ(out, Text(c.out)) << TextToUtf8(c.in);
        EXPECT_EQ(out.size(), Text(c.in).size());
    }
}

TEST(HostSystemTest, ResolvesThroughItsDirectories) {
    HostSystem system;
    system.windowsDirectory = u"D:\\WINNT";
    EXPECT_EQ(ResolveKernelPath(system, u"\\systemroot\\System32\\x.sys"),
              u"D:\\WINNT\\System32\\x.sys");
    EXPECT_EQ(GetSystemDir(system), u"C:\\windows\\system32");
}

TEST(DecodeAnsiTest, HostCodePageIsUtf8) {
    EXPECT_EQ(DecodeAnsi("C:\\caf\xC3\xA9.sys"), u"C:\\café.sys");
    EXPECT_EQ(DecodeAnsi("\xFF"), u"\xFFFD");
}

}  // namespace
}  // namespace tolvessa::host
