// The DER reader under the catalog reader: element headers, their lengths, and how a broken
// element stops the reading.
#include "trust/der_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvessa {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DerReaderTest, ReadsElementsOneAfterAnother) {
    const Bytes bytes = {0x02, 0x01, 0x05, 0x04, 0x00, 0x30, 0x03, 0x06, 0x01, 0x2A};
    DerReader reader(bytes);
    EXPECT_TRUE(reader.Peek(der_tag::kInteger));
    EXPECT_FALSE(reader.Peek(der_tag::kSequence));
    const std::optional<DerElement> integer = reader.Next();
    ASSERT_TRUE(integer);
    EXPECT_EQ(integer->tag, der_tag::kInteger);
    EXPECT_EQ(Bytes(integer->content.begin(), integer->content.end()), Bytes{0x05});
    const std::optional<DerBytes> empty = reader.Take(der_tag::kOctetString);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    const std::optional<DerBytes> sequence = reader.Take(der_tag::kSequence);
    ASSERT_TRUE(sequence);
    EXPECT_EQ(Bytes(sequence->begin(), sequence->end()), (Bytes{0x06, 0x01, 0x2A}));
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.Failed());
    // Past the end is a failure, as any other element that is not there.
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.Failed());
}

TEST(DerReaderTest, LengthsInShortAndLongForm) {
    struct Case {
        const char* name;
        Bytes header;
        std::size_t contentLength;  // of the content that follows the header
        bool reads;
    } const cases[] = {
        {"short", {0x04, 0x7F}, 0x7F, true},
        {"one length byte", {0x04, 0x81, 0x80}, 0x80, true},
        {"two length bytes", {0x04, 0x82, 0x01, 0x00}, 0x100, true},
        {"four length bytes", {0x04, 0x84, 0x00, 0x00, 0x01, 0x02}, 0x102, true},
        {"five length bytes", {0x04, 0x85, 0x00, 0x00, 0x00, 0x01, 0x02}, 0x102, false},
        {"indefinite length", {0x30, 0x80}, 4, false},
        {"content past the end", {0x04, 0x05}, 4, false},
        {"long form past the end", {0x04, 0x82, 0x01, 0x00}, 0xFF, false},
        {"length bytes cut", {0x04, 0x82, 0x01}, 0, false},
        {"high tag number", {0x1F, 0x01}, 1, false},
        {"tag alone", {0x04}, 0, false},
    };
    for (const Case& c : cases) {
        Bytes bytes = c.header;
        bytes.resize(bytes.size() + c.contentLength, 0xAB);
        DerReader reader(bytes);
        const std::optional<DerElement> element = reader.Next();
        EXPECT_EQ(element.has_value(), c.reads) << c.name;
        EXPECT_EQ(reader.Failed(), !c.reads) << c.name;
        if (element) {
            EXPECT_EQ(element->content.size(), c.contentLength) << c.name;
            EXPECT_TRUE(reader.AtEnd()) << c.name;
        }
    }
}

TEST(DerReaderTest, AFailureStopsTheReader) {
    // An INTEGER where an OCTET STRING is wanted: the reader fails and reads nothing more,
    // not even the good element after it.
    const Bytes bytes = {0x02, 0x01, 0x05, 0x04, 0x01, 0x07};
    DerReader reader(bytes);
    EXPECT_FALSE(reader.Take(der_tag::kOctetString));
    EXPECT_TRUE(reader.Failed());
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.Peek(der_tag::kOctetString));
    EXPECT_FALSE(reader.Next());
}

TEST(DerReaderTest, SkipOptionalPassesOverOnlyTheWantedTag) {
    const Bytes bytes = {0x02, 0x01, 0x05, 0x04, 0x00};
    DerReader reader(bytes);
    EXPECT_TRUE(reader.SkipOptional(der_tag::kOctetString));  // not there: nothing skipped
    EXPECT_TRUE(reader.SkipOptional(der_tag::kInteger));
    EXPECT_TRUE(reader.Peek(der_tag::kOctetString));
    // A wanted element that cannot be read is a failure.
    const Bytes broken = {0x02, 0x05, 0x01};
    DerReader brokenReader(broken);
    EXPECT_FALSE(brokenReader.SkipOptional(der_tag::kInteger));
    EXPECT_TRUE(brokenReader.Failed());
}

TEST(DerReaderTest, AlgorithmOidTakesTheOidWithOrWithoutParameters) {
    const std::array<std::uint8_t, 5> sha1 = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
    struct Case {
        const char* name;
        Bytes content;  // of the AlgorithmIdentifier SEQUENCE
        bool reads;
    } const cases[] = {
        {"no parameters", {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A}, true},
        {"NULL parameters", {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00}, true},
        {"two parameters",
         {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x05, 0x00},
         false},
        {"broken parameters", {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x02}, false},
        {"no OID first", {0x05, 0x00, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A}, false},
        {"empty", {}, false},
    };
    for (const Case& c : cases) {
        const std::optional<DerBytes> oid = AlgorithmOid(c.content);
        EXPECT_EQ(oid.has_value(), c.reads) << c.name;
        if (oid) {
            EXPECT_TRUE(IsOid(*oid, sha1)) << c.name;
            EXPECT_FALSE(IsOid(oid->first(4), sha1)) << c.name;
        }
    }
}

}  // namespace
}  // namespace tolvessa
