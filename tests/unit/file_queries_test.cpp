#include "inventory/file_queries.h"

#include <gtest/gtest.h>

#include <map>

namespace tolvessa {
namespace {

using Api = FileAttributeApi;

// Answers from a table; counts the calls that only some paths may make.
class FakeAttributes : public FileAttributeApi {
  public:
    Attributes attributes;
    std::optional<std::uint32_t> found;
    std::uint32_t openError = 0;
    int findCalls = 0;
    int openCalls = 0;

    Attributes ReadAttributes(const Text&) override { return attributes; }
    std::optional<std::uint32_t> FindAttributes(const Text&) override {
        ++findCalls;
        return found;
    }
    std::uint32_t TryOpenForRead(const Text&) override {
        ++openCalls;
        return openError;
    }
};

struct ExistsCase {
    const char* name;
    std::uint32_t value;
    std::uint32_t lastError;
    std::optional<std::uint32_t> found;
    std::uint32_t openError;
    bool exists;
    bool hidden;
    int findCalls;
    int openCalls;
};

class FileExistsTest : public ::testing::TestWithParam<ExistsCase> {};

TEST_P(FileExistsTest, FollowsTheAttributeRules) {
    const ExistsCase& c = GetParam();
    FakeAttributes api;
    api.attributes = {c.value, c.lastError};
    api.found = c.found;
    api.openError = c.openError;
    EXPECT_EQ(FileExistsOnDisk(api, u"x"), c.exists);
    EXPECT_EQ(api.findCalls, c.findCalls);
    EXPECT_EQ(api.openCalls, c.openCalls);
    EXPECT_EQ(IsFileHidden(api, u"x"), c.hidden);
}

constexpr std::uint32_t kBad = Api::kInvalidAttributes;

INSTANTIATE_TEST_SUITE_P(
    Table, FileExistsTest,
    ::testing::Values(ExistsCase{"plain_file", 0x20, 0, {}, 0, true, false, 0, 0},
                      ExistsCase{"hidden_file", 0x22, 0, {}, 0, true, true, 0, 0},
                      ExistsCase{"directory", 0x10, 0, {}, 0, false, false, 0, 0},
                      ExistsCase{"hidden_directory", 0x12, 0, {}, 0, false, false, 0, 0},
                      ExistsCase{"not_found", kBad, 2, 0x20u, 0, false, false, 0, 0},
                      ExistsCase{"path_not_found", kBad, 3, 0x20u, 0, false, false, 0, 0},
                      ExistsCase{"invalid_name", kBad, 123, 0x20u, 0, false, false, 0, 0},
                      // Access denied and the like: the directory search decides.
                      ExistsCase{"denied_found_file", kBad, 5, 0x20u, 0, true, false, 1, 0},
                      ExistsCase{"denied_found_dir", kBad, 5, 0x10u, 0, false, false, 1, 0},
                      ExistsCase{"denied_not_found", kBad, 5, {}, 0, false, false, 1, 0},
                      ExistsCase{"sharing_found_file", kBad, 32, 0x22u, 0, true, false, 1, 0},
                      // Reparse points: a folder never; a file when it opens or is merely locked.
                      ExistsCase{"reparse_dir", 0x410, 0, {}, 0, false, false, 0, 0},
                      ExistsCase{"reparse_opens", 0x420, 0, {}, 0, true, false, 0, 1},
                      ExistsCase{"reparse_hidden_opens", 0x422, 0, {}, 0, true, true, 0, 1},
                      ExistsCase{"reparse_sharing", 0x420, 0, {}, 32, true, false, 0, 1},
                      ExistsCase{"reparse_dangling", 0x420, 0, {}, 2, false, false, 0, 1},
                      ExistsCase{"reparse_denied", 0x420, 0, {}, 5, false, false, 0, 1}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tolvessa
