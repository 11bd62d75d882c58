// Kernel paths no kernel should report: every character the passes do not look for is kept as
// it is, and nothing but the patterns is ever taken out.
#include <gtest/gtest.h>

#include <string>

#include "inventory/kernel_path.h"

namespace tolvessa {
namespace {

Text AsciiUpper(TextView text) {
    Text out(text);
    for (char16_t& c : out) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 32);
    }
    return out;
}

Text Repeat(TextView part, std::size_t times) {
    Text out;
    for (std::size_t i = 0; i < times; ++i)
        out += part;
    return out;
}

struct BadPathCase {
    const char* name;
    Text kernelPath;
    Text expected;
};

class KernelPathBadInputTest : public ::testing::TestWithParam<BadPathCase> {};

TEST_P(KernelPathBadInputTest, Resolves) {
    class : public PathApi {
        Text WindowsDirectory() override { return u"C:\\Windows"; }
        Text SystemDirectory() override { return u"C:\\Windows\\system32"; }
        Text UpperCase(TextView text) override { return AsciiUpper(text); }
    } platform;
    EXPECT_EQ(ResolveKernelPath(platform, GetParam().kernelPath), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KernelPathBadInputTest,
    ::testing::Values(
        BadPathCase{"only_dos_device_prefixes", Repeat(u"\\??\\", 3), u""},
        BadPathCase{"a_lone_backslash", u"\\", u"C:\\"},
        BadPathCase{"nul_inside_is_kept", Text(u"\\SystemRoot\\a\0b.sys", 19),
                    Text(u"C:\\Windows\\a\0b.sys", 18)},
        BadPathCase{"unpaired_surrogates_are_kept", u"\\SystemRoot\\\xD800x\xDC00.sys",
                    u"C:\\Windows\\\xD800x\xDC00.sys"},
        BadPathCase{"system_root_without_its_last_backslash", u"\\SystemRoot", u"C:\\SystemRoot"},
        // Linear passes: a hundred thousand prefixes go in one sweep.
        BadPathCase{"a_hundred_thousand_prefixes", Repeat(u"\\??\\", 100000) + u"x.sys", u"x.sys"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tolvessa
