// Checks shared by the host and Windows tests of the digests: the platform's hash engines
// against published answers, and ComputeFileDigests against the values other tools computed for
// the digest fixtures (tests/fixtures/digests).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "inventory/file_digests.h"

namespace tolvessa::testing {

inline std::string HexOf(const std::vector<std::uint8_t>& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : digest) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

// FIPS 180 examples, fed in pieces of odd sizes.
inline void ExpectKnownAnswers(HashApi& hashes) {
    const std::string million(1000000, 'a');
    struct Case {
        HashAlgorithm algorithm;
        std::string input;
        const char* digest;
    } const cases[] = {
        {HashAlgorithm::kSha1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {HashAlgorithm::kSha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {HashAlgorithm::kSha1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {HashAlgorithm::kSha1, million, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {HashAlgorithm::kSha256, "",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {HashAlgorithm::kSha256, "abc",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {HashAlgorithm::kSha256, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {HashAlgorithm::kSha256, million,
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        const std::unique_ptr<Hasher> hasher = hashes.NewHasher(c.algorithm);
        ASSERT_TRUE(hasher);
        std::size_t at = 0;
        for (std::size_t step = 1; at < c.input.size(); step = step * 3 + 1) {
            const std::size_t take = std::min(step, c.input.size() - at);
            hasher->Update(
                std::span(reinterpret_cast<const std::uint8_t*>(c.input.data()) + at, take));
            at += take;
        }
        EXPECT_EQ(HexOf(hasher->Finish()), c.digest) << c.input.substr(0, 16);
    }
}

// The five values of every fixture, as expected.txt in the fixture folder lists them ("-" for
// the empty text). `folder` is the fixture folder as a host path; the files are opened as
// "Z:" + that path, which names them both under Wine and through the host's drive mapping.
inline void ExpectFixtureDigests(FileContentApi& content, HashApi& hashes,
                                 const std::string& folder,
                                 std::uint64_t inMemoryLimit = kDigestsInMemoryLimit) {
    std::ifstream list(folder + "/expected.txt");
    ASSERT_TRUE(list.good()) << folder;
    std::size_t files = 0;
    for (std::string line; std::getline(list, line);) {
        std::istringstream fields(line);
        std::string name;
        std::string expected[5];
        fields >> name >> expected[0] >> expected[1] >> expected[2] >> expected[3] >> expected[4];
        for (std::string& value : expected) {
            if (value == "-")
                value.clear();
        }
        std::string windows = "Z:" + folder + "/" + name;
        for (char& c : windows) {
            if (c == '/')
                c = '\\';
        }
        const FileDigests got =
            ComputeFileDigests(content, hashes, Utf8ToText(windows), inMemoryLimit);
        EXPECT_EQ(TextToUtf8(DigestText(got.sha1)), expected[0]) << name;
        EXPECT_EQ(TextToUtf8(DigestText(got.sha256)), expected[1]) << name;
        EXPECT_EQ(TextToUtf8(DigestText(got.peSha1)), expected[2]) << name;
        EXPECT_EQ(TextToUtf8(DigestText(got.peSha256)), expected[3]) << name;
        EXPECT_EQ(TextToUtf8(DigestText(got.imphash)), expected[4]) << name;
        ++files;
    }
    EXPECT_GE(files, 23u);
}

}  // namespace tolvessa::testing
