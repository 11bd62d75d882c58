// The digests beyond MD5 on Windows: CNG's engines, and every digest of the fixture images
// against the values other tools computed.
#include <gtest/gtest.h>

#include "platform/win32/cng_hash.h"
#include "platform/win32/win32_inventory.h"
#include "tests/unit/digest_checks.h"

namespace tolvessa::win32 {
namespace {

TEST(CngHashTest, KnownAnswers) {
    CngHashApi hashes;
    testing::ExpectKnownAnswers(hashes);
}

TEST(Win32FileDigestsTest, FixturesGiveTheValuesOfOtherTools) {
    CngHashApi hashes;
    Win32FileContent content;
    testing::ExpectFixtureDigests(content, hashes, TOLVESSA_DIGEST_FIXTURE_DIR);
}

}  // namespace
}  // namespace tolvessa::win32
