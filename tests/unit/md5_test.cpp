#include "inventory/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/unit/fake_files.h"

namespace tolvessa {
namespace {

// Reference digests below come from an independent MD5 implementation.

std::vector<std::uint8_t> Pattern(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return bytes;
}

std::string Hex(const Md5Digest& digest) {
    return TextToUtf8(Md5DigestToHex(digest));
}

std::string DigestInPieces(const std::vector<std::uint8_t>& bytes,
                           const std::vector<std::size_t>& pieces) {
    Md5Context context;
    Md5Init(context);
    std::size_t offset = 0;
    for (const std::size_t piece : pieces) {
        Md5Update(context, bytes.data() + offset, static_cast<std::uint32_t>(piece));
        offset += piece;
    }
    Md5Update(context, bytes.data() + offset, static_cast<std::uint32_t>(bytes.size() - offset));
    return Hex(Md5Final(context));
}

std::string DigestOf(std::string_view text) {
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return DigestInPieces(bytes, {});
}

const std::string kZeroHex(32, '0');
const std::string kEmptyHex = "D41D8CD98F00B204E9800998ECF8427E";

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        std::string_view input;
        std::string_view digest;
    } cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DigestOf(c.input), c.digest) << '"' << c.input << '"';
    }
}

// Around 56 bytes the length no longer fits in the last block and the padding takes one more.
TEST(Md5, LengthsAroundThePaddingBoundaries) {
    const struct {
        std::size_t length;
        std::string_view digest;
    } cases[] = {
        {1, "89E74E640B8C46257A29DE0616794D5D"},   {55, "C9E512626618C9980EF21A96597AF94C"},
        {56, "ECDE7CAA08E9F5657C863DF107CAC60A"},  {57, "B17B1A018DD6A4D1EDDA8ACA15F17846"},
        {63, "2F0301069E1C40AF7F6C8F843B1B13F2"},  {64, "B6BF87C24B1BC334E2541387A92B981B"},
        {65, "F168246F08B6134D66BD2A10343FA9F1"},  {119, "D5DC3D8264DE3AA24DEE105910EE27FE"},
        {120, "BCC139B3848923904860D1EEFD6E5923"}, {121, "10AAC7FE9E1DEF45870B0AA1C3A2FAF0"},
        {128, "3E85B70FFC8DF5C735ECF2A8F14F1BEE"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DigestInPieces(Pattern(c.length), {}), c.digest) << c.length << " bytes";
    }
}

TEST(Md5, PiecesGiveTheDigestOfOneCall) {
    const std::vector<std::uint8_t> bytes = Pattern(1000);
    const std::string whole = "2B1E78D5765DE9E10495A01412A1CF22";
    ASSERT_EQ(DigestInPieces(bytes, {}), whole);

    // Each piece size repeated up to the end; empty pieces in between.
    for (const std::size_t size : {1, 63, 64, 65, 127, 999}) {
        std::vector<std::size_t> pieces;
        for (std::size_t fed = 0; fed + size <= bytes.size(); fed += size) {
            pieces.push_back(size);
            pieces.push_back(0);
        }
        EXPECT_EQ(DigestInPieces(bytes, pieces), whole) << "pieces of " << size;
    }

    std::mt19937 random(1321);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::size_t> pieces;
        std::size_t fed = 0;
        for (;;) {
            const std::size_t piece = std::uniform_int_distribution<std::size_t>(0, 200)(random);
            if (fed + piece > bytes.size())
                break;
            pieces.push_back(piece);
            fed += piece;
        }
        EXPECT_EQ(DigestInPieces(bytes, pieces), whole) << "random split " << round;
    }
}

TEST(Md5, InitClearsAStaleContext) {
    Md5Context context;
    std::memset(&context, 0xAA, sizeof context);
    Md5Init(context);
    EXPECT_EQ(context.count[0], 0u);
    EXPECT_EQ(context.count[1], 0u);
    for (const std::uint8_t byte : context.buffer)
        ASSERT_EQ(byte, 0);
    Md5Update(context, reinterpret_cast<const std::uint8_t*>("abc"), 3);
    EXPECT_EQ(Hex(Md5Final(context)), "900150983CD24FB0D6963F7D28E17F72");
}

// The bit count is 64 bits wide in two words: the low word wraps into the high one.
TEST(Md5, BitCountCarriesIntoTheHighWord) {
    const struct {
        std::uint32_t low, high;  // before
        std::uint32_t length;
        std::uint32_t lowAfter, highAfter;
    } cases[] = {
        {0, 0, 1000, 8000, 0},
        {0xFFFFFFF0u, 0, 5, 0x18, 1},
        {0xFFFFFFF8u, 7, 1, 0, 8},
        {0xFFFFFC00u, 0, 200, 0x240, 1},
        {0x7FFFFFF8u, 0, 1, 0x80000000u, 0},
    };
    const std::vector<std::uint8_t> bytes = Pattern(1000);
    for (const auto& c : cases) {
        Md5Context context;
        Md5Init(context);
        context.count[0] = c.low;
        context.count[1] = c.high;
        Md5Update(context, bytes.data(), c.length);
        EXPECT_EQ(context.count[0], c.lowAfter) << std::hex << c.low << " + " << c.length;
        EXPECT_EQ(context.count[1], c.highAfter) << std::hex << c.low << " + " << c.length;
    }

    // 0xFFFFFFF0 bits leave 62 bytes in the buffer: 2 complete it, the last 3 start the next.
    Md5Context context;
    Md5Init(context);
    context.count[0] = 0xFFFFFFF0u;
    Md5Update(context, bytes.data(), 5);
    EXPECT_EQ(std::vector<std::uint8_t>(context.buffer, context.buffer + 3),
              std::vector<std::uint8_t>(bytes.begin() + 2, bytes.begin() + 5));
}

TEST(Md5, FinalLeavesTheWholeContextZeroed) {
    for (const std::size_t length : {0, 70}) {
        Md5Context context;
        Md5Init(context);
        const std::vector<std::uint8_t> bytes = Pattern(length);
        Md5Update(context, bytes.data(), static_cast<std::uint32_t>(length));
        Md5Final(context);
        Md5Context zero;
        std::memset(&zero, 0, sizeof zero);
        EXPECT_EQ(std::memcmp(&context, &zero, sizeof context), 0) << length << " bytes";
    }
}

TEST(Md5, HexIsHighNibbleFirstInUpperCase) {
    const struct {
        Md5Digest digest;
        std::string_view hex;
    } cases[] = {
        {{0x0F}, "0F000000000000000000000000000000"},
        {{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32,
          0x10},
         "0123456789ABCDEFFEDCBA9876543210"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(c.digest), c.hex);
}

using testing::FakeFiles;

TEST(Md5File, DigestOfEachWayOfReadingAndFailing) {
    const std::vector<std::uint8_t> abc = {'a', 'b', 'c'};
    const std::string abcHex = "900150983CD24FB0D6963F7D28E17F72";
    const std::string patternHex = "2B1E78D5765DE9E10495A01412A1CF22";
    const struct {
        const char* name;
        std::optional<FakeFiles::Entry> entry;  // none: the file cannot be opened
        std::string hex;
    } cases[] = {
        {"cannot open", std::nullopt, kZeroHex},
        {"mapped", FakeFiles::Entry{.content = abc, .mappable = true}, abcHex},
        {"mapped, 1000 bytes", FakeFiles::Entry{.content = Pattern(1000), .mappable = true},
         patternHex},
        {"not mappable, read at once", FakeFiles::Entry{.content = abc}, abcHex},
        {"not mappable, read a byte at a time", FakeFiles::Entry{.content = abc, .readLimit = 1},
         abcHex},
        {"not mappable, short reads", FakeFiles::Entry{.content = Pattern(1000), .readLimit = 100},
         patternHex},
        {"empty", FakeFiles::Entry{}, kEmptyHex},
        {"read error at once", FakeFiles::Entry{.content = abc, .failReadsAfter = 0}, kZeroHex},
        {"read error part-way",
         FakeFiles::Entry{.content = Pattern(1000), .readLimit = 100, .failReadsAfter = 300},
         kZeroHex},
        {"read claims more than asked", FakeFiles::Entry{.content = abc, .overReport = true},
         kZeroHex},
        // Read as long as the file was when opened: bytes appended meanwhile are left out, and
        // a file shortened meanwhile has no digest.
        {"grows while read",
         FakeFiles::Entry{.content = Pattern(1000), .readLimit = 100, .appendedAfterSize = abc},
         patternHex},
        {"shortened while read",
         FakeFiles::Entry{.content = Pattern(1000), .readLimit = 100, .shortenedAfterSize = 500},
         kZeroHex},
        {"length not told, read to the end",
         FakeFiles::Entry{.content = Pattern(1000), .readLimit = 100, .tellsSize = false},
         patternHex},
    };
    for (const auto& c : cases) {
        FakeFiles files;
        if (c.entry)
            files.Add("C:\\f.sys", *c.entry);
        EXPECT_EQ(TextToUtf8(FileMd5Hex(files, u"C:\\f.sys")), c.hex) << c.name;
        EXPECT_EQ(files.openFiles, 0) << c.name;
        EXPECT_EQ(files.openViews, 0) << c.name;
    }
}

TEST(Md5File, ReleasesFileAndViewWhenReadingThrows) {
    const struct {
        const char* name;
        FakeFiles::Entry entry;
    } cases[] = {
        {"throw in Read", FakeFiles::Entry{.content = Pattern(10), .throwInRead = true}},
        {"throw in Bytes",
         FakeFiles::Entry{.content = Pattern(10), .mappable = true, .throwInBytes = true}},
    };
    for (const auto& c : cases) {
        FakeFiles files;
        files.Add("f", c.entry);
        EXPECT_THROW(Md5File(files, u"f"), std::runtime_error) << c.name;
        EXPECT_EQ(files.openFiles, 0) << c.name;
        EXPECT_EQ(files.openViews, 0) << c.name;
    }
}

}  // namespace
}  // namespace tolvessa
