#include "trust/catalog_list.h"

#include <algorithm>
#include <array>

#include "trust/file_trust.h"

namespace tolvessa {

namespace {

// ---- A small DER reader ----
// This code is also built for Windows, where the catalog calls of the platform read catalogs and
// OpenSSL is not there; and OpenSSL has no template for the trust list. So the trust list is read
// here, over bounds-checked spans, with the few DER rules it needs.

using Bytes = std::span<const std::uint8_t>;

namespace tag {
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kObjectId = 0x06;
inline constexpr std::uint8_t kUtcTime = 0x17;
inline constexpr std::uint8_t kGeneralizedTime = 0x18;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kSet = 0x31;
inline constexpr std::uint8_t kContext0 = 0xA0;
}  // namespace tag

struct Element {
    std::uint8_t tag = 0;
    Bytes content;
};

// The elements of a run of bytes, one after another. Once an element's header is malformed or its
// content reaches past the end, the reader fails and reads nothing more.
class DerReader {
  public:
    explicit DerReader(Bytes bytes) : rest_(bytes) {}

    bool AtEnd() const { return rest_.empty(); }
    bool Failed() const { return failed_; }

    // Whether the next element has `wanted` as its tag (the element itself is not checked).
    bool Peek(std::uint8_t wanted) const {
        return !failed_ && !rest_.empty() && rest_[0] == wanted;
    }

    std::optional<Element> Next() {
        if (failed_ || rest_.empty())
            return Fail();
        const std::uint8_t tagByte = rest_[0];
        if ((tagByte & 0x1F) == 0x1F || rest_.size() < 2)
            return Fail();  // high tag numbers: no trust list uses them
        std::size_t at = 2;
        std::size_t length = rest_[1];
        if (length & 0x80) {
            const std::size_t digits = length & 0x7F;
            // 0x80 is the indefinite length of BER, which DER does not have.
            if (digits == 0 || digits > 4 || rest_.size() < 2 + digits)
                return Fail();
            length = 0;
            for (std::size_t i = 0; i < digits; ++i)
                length = length << 8 | rest_[2 + i];
            at += digits;
        }
        if (length > rest_.size() - at)
            return Fail();
        const Element element{tagByte, rest_.subspan(at, length)};
        rest_ = rest_.subspan(at + length);
        return element;
    }

    // The content of the next element, which must have tag `wanted`.
    std::optional<Bytes> Take(std::uint8_t wanted) {
        const std::optional<Element> element = Next();
        if (!element || element->tag != wanted)
            return Fail();
        return element->content;
    }

    // Skips the next element when it has tag `wanted`; false only when it cannot be read.
    bool SkipOptional(std::uint8_t wanted) { return !Peek(wanted) || Next().has_value(); }

  private:
    std::nullopt_t Fail() {
        failed_ = true;
        rest_ = {};
        return std::nullopt;
    }

    Bytes rest_;
    bool failed_ = false;
};

// Encoded object identifiers (the contents of their OID elements).
constexpr std::array<std::uint8_t, 10> kCatalogListOid = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                                          0x82, 0x37, 0x0C, 0x01, 0x01};
constexpr std::array<std::uint8_t, 10> kMemberV1Oid = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                                       0x82, 0x37, 0x0C, 0x01, 0x02};
constexpr std::array<std::uint8_t, 10> kMemberV2Oid = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                                       0x82, 0x37, 0x0C, 0x01, 0x03};
constexpr std::array<std::uint8_t, 10> kIndirectDataOid = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                                           0x82, 0x37, 0x02, 0x01, 0x04};
constexpr std::array<std::uint8_t, 5> kSha1Oid = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
constexpr std::array<std::uint8_t, 9> kSha256Oid = {0x60, 0x86, 0x48, 0x01, 0x65,
                                                    0x03, 0x04, 0x02, 0x01};

template <std::size_t N>
bool Is(Bytes content, const std::array<std::uint8_t, N>& oid) {
    return std::equal(content.begin(), content.end(), oid.begin(), oid.end());
}

// AlgorithmIdentifier: SEQUENCE { OID, parameters OPTIONAL }; the OID's content.
std::optional<Bytes> AlgorithmOid(Bytes algorithm) {
    DerReader reader(algorithm);
    const std::optional<Bytes> oid = reader.Take(tag::kObjectId);
    if (!oid || (!reader.AtEnd() && !reader.Next()) || !reader.AtEnd())
        return std::nullopt;
    return oid;
}

// The digest of an SpcIndirectDataContent value:
// SEQUENCE { SEQUENCE { type OID, value OPTIONAL }, SEQUENCE { AlgorithmIdentifier, OCTET STRING }
// }.
void ReadIndirectData(const Element& value, CatalogMember& member) {
    if (value.tag != tag::kSequence)
        return;
    DerReader reader(value.content);
    const std::optional<Bytes> data = reader.Take(tag::kSequence);
    const std::optional<Bytes> digestInfo = reader.Take(tag::kSequence);
    if (!data || !digestInfo || !reader.AtEnd())
        return;
    DerReader digestReader(*digestInfo);
    const std::optional<Bytes> algorithm = digestReader.Take(tag::kSequence);
    const std::optional<Bytes> digest = digestReader.Take(tag::kOctetString);
    if (!algorithm || !digest || !digestReader.AtEnd())
        return;
    const std::optional<Bytes> oid = AlgorithmOid(*algorithm);
    if (!oid)
        return;
    if (Is(*oid, kSha1Oid) && digest->size() == 20) {
        member.algorithm = MemberHash::kSha1;
    } else if (Is(*oid, kSha256Oid) && digest->size() == 32) {
        member.algorithm = MemberHash::kSha256;
    } else {
        return;
    }
    member.digest.assign(digest->begin(), digest->end());
}

Text TagText(Bytes identifier) {
    Text tag;
    tag.reserve(identifier.size() / 2 + 1);
    for (std::size_t i = 0; i + 1 < identifier.size(); i += 2)
        tag.push_back(static_cast<char16_t>(identifier[i] | identifier[i + 1] << 8));
    if (identifier.size() % 2 != 0)
        tag.push_back(u'\uFFFD');
    while (!tag.empty() && tag.back() == u'\0')
        tag.pop_back();
    return tag;
}

// SEQUENCE { subjectIdentifier OCTET STRING, attributes SET OF Attribute OPTIONAL }.
std::optional<CatalogMember> ReadMember(Bytes entry) {
    DerReader reader(entry);
    const std::optional<Bytes> identifier = reader.Take(tag::kOctetString);
    if (!identifier)
        return std::nullopt;
    CatalogMember member{TagText(*identifier), MemberHash::kOther, {}};
    if (reader.AtEnd())
        return member;
    const std::optional<Bytes> attributes = reader.Take(tag::kSet);
    if (!attributes || !reader.AtEnd())
        return std::nullopt;

    int indirectAttributes = 0;
    std::optional<Element> indirectValue;
    DerReader attributeReader(*attributes);
    while (!attributeReader.AtEnd()) {
        // Attribute: SEQUENCE { type OID, values SET OF ANY }.
        const std::optional<Bytes> attribute = attributeReader.Take(tag::kSequence);
        if (!attribute)
            return std::nullopt;
        DerReader parts(*attribute);
        const std::optional<Bytes> type = parts.Take(tag::kObjectId);
        const std::optional<Bytes> values = parts.Take(tag::kSet);
        if (!type || !values || !parts.AtEnd())
            return std::nullopt;
        DerReader valueReader(*values);
        int count = 0;
        std::optional<Element> first;
        while (!valueReader.AtEnd()) {
            const std::optional<Element> value = valueReader.Next();
            if (!value)
                return std::nullopt;
            if (count++ == 0)
                first = value;
        }
        if (Is(*type, kIndirectDataOid)) {
            ++indirectAttributes;
            indirectValue = count == 1 ? first : std::optional<Element>();
        }
    }
    if (indirectAttributes == 1 && indirectValue)
        ReadIndirectData(*indirectValue, member);
    return member;
}

// SEQUENCE OF OID, which must hold the catalog list's.
bool NamesCatalogList(Bytes usage) {
    DerReader reader(usage);
    bool found = false;
    while (!reader.AtEnd()) {
        const std::optional<Bytes> oid = reader.Take(tag::kObjectId);
        if (!oid)
            return false;
        found = found || Is(*oid, kCatalogListOid);
    }
    return found;
}

bool IsTime(const DerReader& reader) {
    return reader.Peek(tag::kUtcTime) || reader.Peek(tag::kGeneralizedTime);
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

std::string Key(MemberHash algorithm, std::span<const std::uint8_t> digest) {
    std::string key(1, static_cast<char>(algorithm));
    key.append(digest.begin(), digest.end());
    return key;
}

}  // namespace

std::optional<CatalogList> ParseCatalogList(std::span<const std::uint8_t> der) {
    DerReader outer(der);
    const std::optional<Bytes> list = outer.Take(tag::kSequence);
    if (!list || !outer.AtEnd())
        return std::nullopt;

    DerReader reader(*list);
    if (!reader.SkipOptional(tag::kInteger))  // version, v1 by default
        return std::nullopt;
    const std::optional<Bytes> usage = reader.Take(tag::kSequence);
    if (!usage || !NamesCatalogList(*usage))
        return std::nullopt;
    if (!reader.SkipOptional(tag::kOctetString) || !reader.SkipOptional(tag::kInteger))
        return std::nullopt;  // list identifier, sequence number
    if (!IsTime(reader) || !reader.Next())
        return std::nullopt;  // this update
    if (IsTime(reader) && !reader.Next())
        return std::nullopt;  // next update
    const std::optional<Bytes> algorithm = reader.Take(tag::kSequence);
    const std::optional<Bytes> format = algorithm ? AlgorithmOid(*algorithm) : std::nullopt;
    if (!format || !(Is(*format, kMemberV1Oid) || Is(*format, kMemberV2Oid)))
        return std::nullopt;

    CatalogList result;
    if (reader.Peek(tag::kSequence)) {
        const std::optional<Bytes> trustedSubjects = reader.Take(tag::kSequence);
        if (!trustedSubjects)
            return std::nullopt;
        DerReader subjects(*trustedSubjects);
        while (!subjects.AtEnd()) {
            const std::optional<Bytes> entry = subjects.Take(tag::kSequence);
            std::optional<CatalogMember> member = entry ? ReadMember(*entry) : std::nullopt;
            if (!member)
                return std::nullopt;
            result.members.push_back(std::move(*member));
        }
    }
    if (!reader.SkipOptional(tag::kContext0) || !reader.AtEnd() || reader.Failed())
        return std::nullopt;
    return result;
}

Text DigestHex(std::span<const std::uint8_t> digest) {
    return HexBytesText(digest);
}

std::optional<std::vector<std::uint8_t>> DigestBytes(TextView hex) {
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = HexValue(hex[2 * i]);
        const int low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return bytes;
}

namespace {

// Whether a member's tag names its digest: in hex, as catalog tools write it, or as the digest's
// own bytes, as Windows' catalogs hold it (read as UTF-16LE, its terminating NULs dropped).
bool TagNamesDigest(const Text& tag, const std::vector<std::uint8_t>& digest) {
    if (const std::optional<std::vector<std::uint8_t>> hex = DigestBytes(tag))
        return *hex == digest;
    if (tag.empty() || tag.size() * 2 > digest.size())
        return false;
    for (std::size_t i = 0; i < digest.size(); i += 2) {
        const char16_t unit = i / 2 < tag.size() ? tag[i / 2] : u'\0';
        const std::uint8_t high = i + 1 < digest.size() ? digest[i + 1] : 0;
        if (unit != static_cast<char16_t>(digest[i] | (high << 8)))
            return false;
    }
    return true;
}

}  // namespace

void CatalogIndex::Add(Text name, std::uint32_t status, Text signer, const CatalogList& list) {
    const auto catalog = static_cast<std::uint32_t>(catalogs_.size());
    catalogs_.push_back({std::move(name), status, std::move(signer)});
    for (const CatalogMember& member : list.members) {
        if (member.algorithm == MemberHash::kOther)
            continue;
        listings_[Key(member.algorithm, member.digest)].push_back(
            {catalog, TagNamesDigest(member.tag, member.digest)});
    }
}

void CatalogIndex::Skip(Text name) {
    skipped_.push_back(std::move(name));
}

std::optional<SignatureEngine::Answer> CatalogIndex::Find(
    std::span<const std::uint8_t> sha1, std::span<const std::uint8_t> sha256) const {
    std::optional<SignatureEngine::Answer> first;
    for (const auto& [algorithm, digest] :
         {std::pair{MemberHash::kSha256, sha256}, std::pair{MemberHash::kSha1, sha1}}) {
        if (digest.empty())
            continue;
        const auto found = listings_.find(Key(algorithm, digest));
        if (found == listings_.end())
            continue;
        for (const Listing& listing : found->second) {
            const Catalog& catalog = catalogs_[listing.catalog];
            std::uint32_t status = catalog.status;
            if (status == trust_status::kTrusted && !listing.tagNamesDigest)
                status = trust_status::kBadDigest;
            SignatureEngine::Answer answer{status, catalog.signer, catalog.name};
            if (status == trust_status::kTrusted)
                return answer;
            if (!first)
                first = std::move(answer);
        }
    }
    return first;
}

}  // namespace tolvessa
