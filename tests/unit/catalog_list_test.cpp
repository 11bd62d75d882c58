// The trust list of a catalog read from its DER bytes, and the index that finds a file's catalog
// by its image hashes.
#include "trust/catalog_list.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "trust/file_trust.h"

namespace tolvessa {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- DER, built as catalog tools write it ----

Bytes Tlv(std::uint8_t tag, const Bytes& content) {
    Bytes out{tag};
    const std::size_t length = content.size();
    if (length < 0x80) {
        out.push_back(static_cast<std::uint8_t>(length));
    } else if (length < 0x100) {
        out.insert(out.end(), {0x81, static_cast<std::uint8_t>(length)});
    } else {
        out.insert(out.end(), {0x82, static_cast<std::uint8_t>(length >> 8),
                               static_cast<std::uint8_t>(length)});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Seq(std::initializer_list<Bytes> parts) {
    return Tlv(0x30, Cat(parts));
}
Bytes Set(std::initializer_list<Bytes> parts) {
    return Tlv(0x31, Cat(parts));
}
Bytes Octets(const Bytes& content) {
    return Tlv(0x04, content);
}

const Bytes kCatalogListOid =
    Tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0C, 0x01, 0x01});
const Bytes kMemberV1Oid = Tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0C, 0x01, 0x02});
const Bytes kMemberV2Oid = Tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0C, 0x01, 0x03});
const Bytes kMemberInfoOid =
    Tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0C, 0x02, 0x02});
const Bytes kIndirectDataOid =
    Tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04});
const Bytes kPeImageDataOid =
    Tlv(0x06, {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F});
const Bytes kSha1Oid = Tlv(0x06, {0x2B, 0x0E, 0x03, 0x02, 0x1A});
const Bytes kSha256Oid = Tlv(0x06, {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01});
const Bytes kMd5Oid = Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05});
const Bytes kNull = {0x05, 0x00};
const Bytes kUtcTime = Tlv(0x17, {'2', '6', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z'});

Bytes Digest(std::size_t size, std::uint8_t first) {
    Bytes digest(size);
    for (std::size_t i = 0; i < size; ++i)
        digest[i] = static_cast<std::uint8_t>(first + i);
    return digest;
}
const Bytes kDigest1 = Digest(20, 0xA0);
const Bytes kDigest256 = Digest(32, 0x10);

Bytes Utf16Tag(const std::string& ascii, bool terminated = true) {
    Bytes out;
    for (const char c : ascii)
        out.insert(out.end(), {static_cast<std::uint8_t>(c), 0});
    if (terminated)
        out.insert(out.end(), {0, 0});
    return out;
}
std::string Hex(const Bytes& digest) {
    return TextToUtf8(DigestHex(digest));
}

Bytes IndirectData(const Bytes& algorithm, const Bytes& digest) {
    return Seq({Seq({kPeImageDataOid, Seq({Tlv(0x03, {0x00})})}),
                Seq({Seq({algorithm, kNull}), Octets(digest)})});
}
Bytes Attribute(const Bytes& oid, std::initializer_list<Bytes> values) {
    return Seq({oid, Set(values)});
}
const Bytes kMemberInfo =
    Attribute(kMemberInfoOid, {Seq({Tlv(0x1E, {0, '{', 0, '}'}), Tlv(0x02, {0x02, 0x00})})});

Bytes Member(const Bytes& identifier, std::initializer_list<Bytes> attributes) {
    return Seq({Octets(identifier), Set(attributes)});
}
Bytes HashMember(const Bytes& algorithm, const Bytes& digest) {
    return Member(Utf16Tag(Hex(digest)),
                  {kMemberInfo, Attribute(kIndirectDataOid, {IndirectData(algorithm, digest)})});
}

// A trust list as catalog tools write it, with the given members.
Bytes List(std::initializer_list<Bytes> members, const Bytes& format = kMemberV2Oid) {
    return Seq({Seq({kCatalogListOid}), Octets({1, 2, 3, 4}), kUtcTime, Seq({format, kNull}),
                Seq(members), Tlv(0xA0, Seq({Seq({kMemberInfoOid, Octets({0x30, 0x00})})}))});
}

TEST(CatalogListTest, ReadsTheMembersOfAList) {
    const auto list = ParseCatalogList(
        List({HashMember(kSha1Oid, kDigest1), HashMember(kSha256Oid, kDigest256)}));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->members.size(), 2u);
    EXPECT_EQ(list->members[0],
              (CatalogMember{Utf8ToText(Hex(kDigest1)), MemberHash::kSha1, kDigest1}));
    EXPECT_EQ(list->members[1],
              (CatalogMember{Utf8ToText(Hex(kDigest256)), MemberHash::kSha256, kDigest256}));
}

// The optional parts of the list, present or not.
TEST(CatalogListTest, TakesTheOptionalPartsInAnyMix) {
    const Bytes member = HashMember(kSha256Oid, kDigest256);
    const Bytes generalized =
        Tlv(0x18, {'2', '0', '2', '6', '0', '1', '0', '1', '0', '0', '0', '0', '0', '0', 'Z'});
    const struct {
        const char* name;
        Bytes list;
        std::size_t members;
    } cases[] = {
        {"bare", Seq({Seq({kCatalogListOid}), kUtcTime, Seq({kMemberV1Oid})}), 0},
        {"version_and_sequence_number",
         Seq({Tlv(0x02, {0x00}), Seq({kCatalogListOid}), Octets({9}), Tlv(0x02, {0x01, 0x00}),
              kUtcTime, Seq({kMemberV2Oid, kNull}), Seq({member})}),
         1},
        {"next_update_generalized",
         Seq({Seq({kCatalogListOid}), generalized, kUtcTime, Seq({kMemberV2Oid}), Seq({member})}),
         1},
        {"other_usages_too",
         Seq({Seq({kSha1Oid, kCatalogListOid}), kUtcTime, Seq({kMemberV2Oid}), Seq({member})}), 1},
        {"no_members", Seq({Seq({kCatalogListOid}), kUtcTime, Seq({kMemberV2Oid}), Seq({})}), 0},
        {"extensions_without_members",
         Seq({Seq({kCatalogListOid}), kUtcTime, Seq({kMemberV2Oid}), Tlv(0xA0, Seq({}))}), 0},
    };
    for (const auto& c : cases) {
        const auto list = ParseCatalogList(c.list);
        ASSERT_TRUE(list) << c.name;
        EXPECT_EQ(list->members.size(), c.members) << c.name;
    }
}

// What a member's attributes hold decides its digest; the list stays readable either way.
TEST(CatalogListTest, AMemberWithoutOneReadableDigestListsNoHash) {
    const Bytes indirect1 = Attribute(kIndirectDataOid, {IndirectData(kSha1Oid, kDigest1)});
    const Bytes tag = Utf16Tag(Hex(kDigest1));
    const struct {
        const char* name;
        Bytes member;
    } cases[] = {
        {"no_attributes", Seq({Octets(tag)})},
        {"member_info_only", Member(tag, {kMemberInfo})},
        {"indirect_data_twice", Member(tag, {indirect1, indirect1})},
        {"two_values",
         Member(tag, {Attribute(kIndirectDataOid, {IndirectData(kSha1Oid, kDigest1),
                                                   IndirectData(kSha1Oid, kDigest1)})})},
        {"no_values", Member(tag, {Attribute(kIndirectDataOid, {})})},
        {"value_not_a_sequence", Member(tag, {Attribute(kIndirectDataOid, {Octets(kDigest1)})})},
        {"md5", Member(tag, {Attribute(kIndirectDataOid, {IndirectData(kMd5Oid, Digest(16, 0))})})},
        {"sha1_of_32_bytes",
         Member(tag, {Attribute(kIndirectDataOid, {IndirectData(kSha1Oid, kDigest256)})})},
        {"sha256_of_20_bytes",
         Member(tag, {Attribute(kIndirectDataOid, {IndirectData(kSha256Oid, kDigest1)})})},
        {"digest_missing",
         Member(tag, {Attribute(kIndirectDataOid,
                                {Seq({Seq({kPeImageDataOid}), Seq({Seq({kSha1Oid})})})})})},
        {"digest_info_with_more",
         Member(tag, {Attribute(kIndirectDataOid,
                                {Seq({Seq({kPeImageDataOid}),
                                      Seq({Seq({kSha1Oid}), Octets(kDigest1), kNull})})})})},
        {"algorithm_with_two_parameters",
         Member(tag, {Attribute(kIndirectDataOid,
                                {Seq({Seq({kPeImageDataOid}),
                                      Seq({Seq({kSha1Oid, kNull, kNull}), Octets(kDigest1)})})})})},
    };
    for (const auto& c : cases) {
        const auto list = ParseCatalogList(List({c.member, HashMember(kSha256Oid, kDigest256)}));
        ASSERT_TRUE(list) << c.name;
        ASSERT_EQ(list->members.size(), 2u) << c.name;
        EXPECT_EQ(list->members[0].algorithm, MemberHash::kOther) << c.name;
        EXPECT_TRUE(list->members[0].digest.empty()) << c.name;
        EXPECT_EQ(TextToUtf8(list->members[0].tag), Hex(kDigest1)) << c.name;
        EXPECT_EQ(list->members[1].algorithm, MemberHash::kSha256) << c.name;
    }
}

TEST(CatalogListTest, ReadsTheTagAsUtf16) {
    const Bytes indirect = Attribute(kIndirectDataOid, {IndirectData(kSha1Oid, kDigest1)});
    const struct {
        const char* name;
        Bytes identifier;
        Text tag;
    } cases[] = {
        {"terminated", Utf16Tag("AB12"), u"AB12"},
        {"unterminated", Utf16Tag("ab12", false), u"ab12"},
        {"odd_length", {'A', 0, 'B'}, u"A\uFFFD"},
        {"empty", {}, u""},
        {"beyond_ascii", {0x3A, 0x26, 0, 0}, u"\u263A"},
    };
    for (const auto& c : cases) {
        const auto list = ParseCatalogList(List({Member(c.identifier, {indirect})}));
        ASSERT_TRUE(list) << c.name;
        ASSERT_EQ(list->members.size(), 1u) << c.name;
        EXPECT_EQ(list->members[0].tag, c.tag) << c.name;
        EXPECT_EQ(list->members[0].digest, kDigest1) << c.name;
    }
}

// Anything that is not a catalog's trust list, or not DER, is refused whole.
TEST(CatalogListTest, RefusesWhatIsNoCatalogList) {
    const Bytes member = HashMember(kSha256Oid, kDigest256);
    const Bytes usage = Seq({kCatalogListOid});
    const Bytes format = Seq({kMemberV2Oid, kNull});
    Bytes trailing = List({member});
    trailing.push_back(0x00);
    Bytes indefinite = List({member});
    indefinite[1] = 0x80;
    const struct {
        const char* name;
        Bytes list;
    } cases[] = {
        {"empty", {}},
        {"not_a_sequence", Set({usage, kUtcTime, format})},
        {"trailing_byte", trailing},
        {"indefinite_length", indefinite},
        {"length_past_the_end", Seq({Bytes{0x30, 0x03, 0x04, 0x05, 0x00}, kUtcTime, format})},
        {"five_length_bytes", {0x30, 0x85, 0, 0, 0, 0, 0}},
        {"high_tag_number", Seq({Tlv(0x1F, {0x05}), usage, kUtcTime, format})},
        {"no_usage", Seq({kUtcTime, format})},
        {"usage_not_catalog_list", Seq({Seq({kSha1Oid}), kUtcTime, format})},
        {"usage_holds_no_oid", Seq({Seq({kCatalogListOid, kNull}), kUtcTime, format})},
        {"no_time", Seq({usage, format})},
        {"no_subject_algorithm", Seq({usage, kUtcTime})},
        {"other_subject_algorithm", Seq({usage, kUtcTime, Seq({kSha1Oid, kNull})})},
        {"subject_algorithm_no_oid", Seq({usage, kUtcTime, Seq({kNull})})},
        {"members_not_sequences", Seq({usage, kUtcTime, format, Seq({Octets({1})})})},
        {"member_identifier_not_octets",
         Seq({usage, kUtcTime, format, Seq({Seq({kNull, Set({})})})})},
        {"member_attributes_not_a_set",
         Seq({usage, kUtcTime, format, Seq({Seq({Octets({1}), Seq({})})})})},
        {"member_with_more",
         Seq({usage, kUtcTime, format, Seq({Seq({Octets({1}), Set({}), kNull})})})},
        {"attribute_values_not_a_set",
         Seq({usage, kUtcTime, format,
              Seq({Seq({Octets({1}), Set({Seq({kIndirectDataOid, Seq({})})})})})})},
        {"attribute_without_type",
         Seq({usage, kUtcTime, format, Seq({Seq({Octets({1}), Set({Seq({Set({})})})})})})},
        {"value_cut_short",
         Seq({usage, kUtcTime, format,
              Seq({Seq({Octets({1}),
                        Set({Seq({kIndirectDataOid, Set({Bytes{0x30, 0x05, 0x00}})})})})})})},
        {"element_after_extensions",
         Seq({usage, kUtcTime, format, Seq({member}), Tlv(0xA0, Seq({})), kNull})},
        {"members_after_extensions",
         Seq({usage, kUtcTime, format, Tlv(0xA0, Seq({})), Seq({member})})},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(ParseCatalogList(c.list)) << c.name;
}

// Every strict prefix of a list claims more bytes than it has.
TEST(CatalogListTest, AListCutAnywhereIsRefused) {
    const Bytes whole = List({HashMember(kSha1Oid, kDigest1), HashMember(kSha256Oid, kDigest256)});
    ASSERT_TRUE(ParseCatalogList(whole));
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(ParseCatalogList(cut)) << size;
    }
}

TEST(CatalogListTest, DigestsInHexAndBack) {
    EXPECT_EQ(DigestHex(Bytes{0x00, 0x9F, 0xA5, 0xFF}), u"009FA5FF");
    EXPECT_EQ(DigestHex(Bytes{}), u"");
    EXPECT_EQ(DigestBytes(u"009fA5Ff"), (Bytes{0x00, 0x9F, 0xA5, 0xFF}));
    EXPECT_EQ(DigestBytes(u""), Bytes{});
    for (const TextView bad : {u"ABC", u"0G", u"+1", u" 0", u"\u0660\u0661"})
        EXPECT_FALSE(DigestBytes(bad)) << TextToUtf8(bad);
}

// ---- The index ----

CatalogList Listing(std::initializer_list<std::pair<MemberHash, Bytes>> members) {
    CatalogList list;
    for (const auto& [algorithm, digest] : members)
        list.members.push_back({DigestHex(digest), algorithm, digest});
    return list;
}

using Answer = SignatureEngine::Answer;

void ExpectAnswer(const std::optional<Answer>& found, std::uint32_t status, const char* catalog,
                  const char* signer) {
    ASSERT_TRUE(found);
    EXPECT_EQ(found->status, status);
    EXPECT_EQ(TextToUtf8(found->catalog), catalog);
    EXPECT_EQ(TextToUtf8(found->signer), signer);
}

TEST(CatalogIndexTest, FindsAFileByEitherHash) {
    const Bytes other1 = Digest(20, 0x01);
    const Bytes other256 = Digest(32, 0x02);
    CatalogIndex index;
    index.Add(u"one.cat", trust_status::kTrusted, u"Signer One",
              Listing({{MemberHash::kSha1, kDigest1}}));
    index.Add(u"two.cat", trust_status::kTrusted, u"Signer Two",
              Listing({{MemberHash::kSha256, kDigest256}}));
    EXPECT_EQ(index.CatalogCount(), 2u);

    ExpectAnswer(index.Find(kDigest1, {}), 0, "one.cat", "Signer One");
    ExpectAnswer(index.Find({}, kDigest256), 0, "two.cat", "Signer Two");
    ExpectAnswer(index.Find(other1, kDigest256), 0, "two.cat", "Signer Two");
    ExpectAnswer(index.Find(kDigest1, other256), 0, "one.cat", "Signer One");
    EXPECT_FALSE(index.Find(other1, other256));
    EXPECT_FALSE(index.Find({}, {}));
    // A hash is looked for among members of its own algorithm only.
    EXPECT_FALSE(index.Find(Bytes(kDigest256.begin(), kDigest256.begin() + 20), {}));
}

TEST(CatalogIndexTest, PrefersAPassingCatalogThenSha256ThenTheOrderOfAdding) {
    const std::pair<MemberHash, Bytes> by1{MemberHash::kSha1, kDigest1};
    const std::pair<MemberHash, Bytes> by256{MemberHash::kSha256, kDigest256};
    const std::uint32_t untrusted = trust_status::kUntrustedRoot;
    const std::uint32_t broken = trust_status::kBadSignature;
    const struct {
        const char* name;
        std::vector<std::pair<std::uint32_t, CatalogList>> catalogs;  // named c0, c1, ...
        const char* expected;
        std::uint32_t status;
    } cases[] = {
        {"sha256_before_sha1", {{0, Listing({by1})}, {0, Listing({by256})}}, "c1", 0},
        {"passing_sha1_over_failing_sha256",
         {{untrusted, Listing({by256})}, {0, Listing({by1})}},
         "c1",
         0},
        {"passing_over_an_earlier_failing",
         {{broken, Listing({by256})}, {0, Listing({by256})}},
         "c1",
         0},
        {"first_failure_when_none_passes",
         {{untrusted, Listing({by1})}, {broken, Listing({by256})}, {untrusted, Listing({by256})}},
         "c1",
         broken},
        {"first_of_two_passing", {{0, Listing({by256})}, {0, Listing({by256, by1})}}, "c0", 0},
    };
    for (const auto& c : cases) {
        CatalogIndex index;
        for (std::size_t i = 0; i < c.catalogs.size(); ++i) {
            const Text name = u"c" + DecimalText(i);
            index.Add(name, c.catalogs[i].first, name, c.catalogs[i].second);
        }
        SCOPED_TRACE(c.name);
        ExpectAnswer(index.Find(kDigest1, kDigest256), c.status, c.expected, c.expected);
    }
}

// A member whose tag names another hash than its digest is no sound listing of the file.
TEST(CatalogIndexTest, AMemberWhoseTagNamesAnotherHashIsABadDigest) {
    CatalogList list = Listing({{MemberHash::kSha256, kDigest256}});
    CatalogIndex index;
    list.members[0].tag = DigestHex(Digest(32, 0x77));
    index.Add(u"mismatch.cat", trust_status::kTrusted, u"S", list);
    list.members[0].tag = u"driver.sys";
    index.Add(u"named.cat", trust_status::kUntrustedRoot, u"S", list);
    ExpectAnswer(index.Find({}, kDigest256), trust_status::kBadDigest, "mismatch.cat", "S");

    // Lower-case hex is the same hash.
    CatalogIndex lower;
    list.members[0].tag = Utf8ToText("0x") + DigestHex(kDigest256);
    lower.Add(u"prefixed.cat", trust_status::kTrusted, u"S", list);
    std::string hex = Hex(kDigest256);
    for (char& c : hex)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    list.members[0].tag = Utf8ToText(hex);
    lower.Add(u"lower.cat", trust_status::kTrusted, u"S", list);
    ExpectAnswer(lower.Find({}, kDigest256), 0, "lower.cat", "S");
}

// Windows' own catalogs hold the digest's bytes as the tag, read here as UTF-16LE.
TEST(CatalogIndexTest, AMemberTaggedWithTheBytesOfItsDigestNamesIt) {
    const auto bytesTag = [](const Bytes& digest, std::size_t dropped) {
        Text tag;
        for (std::size_t i = 0; i + 1 < digest.size() - dropped; i += 2)
            tag.push_back(static_cast<char16_t>(digest[i] | (digest[i + 1] << 8)));
        return tag;
    };
    Bytes endsInNul = kDigest256;
    endsInNul[30] = endsInNul[31] = 0;
    const struct {
        const char* name;
        Bytes digest;
        Text tag;
        std::uint32_t status;
    } cases[] = {
        {"own_bytes_sha256", kDigest256, bytesTag(kDigest256, 0), 0},
        {"own_bytes_sha1", kDigest1, bytesTag(kDigest1, 0), 0},
        // The reader drops a tag's terminating NULs: a digest that ends in a zero unit.
        {"own_bytes_nul_dropped", endsInNul, bytesTag(endsInNul, 2), 0},
        {"other_bytes", kDigest256, bytesTag(Digest(32, 0x77), 0), trust_status::kBadDigest},
        {"own_bytes_cut_short", kDigest256, bytesTag(kDigest256, 4), trust_status::kBadDigest},
        {"empty", kDigest256, Text(), trust_status::kBadDigest},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const MemberHash algorithm =
            c.digest.size() == 20 ? MemberHash::kSha1 : MemberHash::kSha256;
        CatalogList list = Listing({{algorithm, c.digest}});
        list.members[0].tag = c.tag;
        CatalogIndex index;
        index.Add(u"windows.cat", trust_status::kTrusted, u"S", list);
        const Bytes none;
        ExpectAnswer(algorithm == MemberHash::kSha1 ? index.Find(c.digest, none)
                                                    : index.Find(none, c.digest),
                     c.status, "windows.cat", "S");
    }
}

TEST(CatalogIndexTest, LeavesOutMembersWithoutAHashAndCountsSkippedCatalogs) {
    CatalogList list = Listing({{MemberHash::kSha256, kDigest256}});
    list.members[0].algorithm = MemberHash::kOther;
    CatalogIndex index;
    index.Add(u"other.cat", trust_status::kTrusted, u"S", list);
    index.Skip(u"garbage.cat");
    index.Skip(u"cut.cat");
    EXPECT_FALSE(index.Find({}, kDigest256));
    EXPECT_EQ(index.CatalogCount(), 1u);
    EXPECT_EQ(index.Skipped(), (std::vector<Text>{u"garbage.cat", u"cut.cat"}));
}

}  // namespace
}  // namespace tolvessa
