// The digests beyond MD5 on the host: OpenSSL's engines, and every digest of the fixture images
// against the values other tools computed, mapped and read.
#include <gtest/gtest.h>

#include "platform/host/file_content.h"
#include "platform/host/openssl_hash.h"
#include "tests/unit/digest_checks.h"

namespace tolvessa::host {
namespace {

TEST(OpenSslHashTest, KnownAnswers) {
    OpenSslHashApi hashes;
    testing::ExpectKnownAnswers(hashes);
}

TEST(FileDigestsTest, FixturesGiveTheValuesOfOtherTools) {
    const HostPaths paths;
    OpenSslHashApi hashes;
    for (const auto mapping :
         {PosixFileContent::Mapping::kAllowed, PosixFileContent::Mapping::kRefused}) {
        PosixFileContent content(paths, mapping);
        testing::ExpectFixtureDigests(content, hashes, TOLVESSA_DIGEST_FIXTURE_DIR);
    }
    // Read in pieces at offsets, as a file too long to be held in memory is.
    PosixFileContent content(paths, PosixFileContent::Mapping::kRefused);
    testing::ExpectFixtureDigests(content, hashes, TOLVESSA_DIGEST_FIXTURE_DIR, 0);
}

TEST(FileDigestsTest, AFileThatCannotBeOpenedGivesEmptyCells) {
    const HostPaths paths;
    OpenSslHashApi hashes;
    PosixFileContent content(paths);
    EXPECT_EQ(ComputeFileDigests(content, hashes, u"Z:\\no\\such\\file.sys"), FileDigests{});
}

}  // namespace
}  // namespace tolvessa::host
