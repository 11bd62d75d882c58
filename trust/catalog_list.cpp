#include "trust/catalog_list.h"

#include <algorithm>
#include <array>

#include "trust/der_reader.h"
#include "trust/file_trust.h"

namespace tolvessa {

namespace {

// The trust list is read here with the DER reader rather than OpenSSL: this code is also built
// for Windows, where the catalog calls of the platform read catalogs and OpenSSL is not there;
// and OpenSSL has no template for the trust list.

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

// The digest of an SpcIndirectDataContent value:
// SEQUENCE { SEQUENCE { type OID, value OPTIONAL }, SEQUENCE { AlgorithmIdentifier, OCTET STRING }
// }.
void ReadIndirectData(const DerElement& value, CatalogMember& member) {
    if (value.tag != der_tag::kSequence)
        return;
    DerReader reader(value.content);
    const std::optional<DerBytes> data = reader.Take(der_tag::kSequence);
    const std::optional<DerBytes> digestInfo = reader.Take(der_tag::kSequence);
    if (!data || !digestInfo || !reader.AtEnd())
        return;
    DerReader digestReader(*digestInfo);
    const std::optional<DerBytes> algorithm = digestReader.Take(der_tag::kSequence);
    const std::optional<DerBytes> digest = digestReader.Take(der_tag::kOctetString);
    if (!algorithm || !digest || !digestReader.AtEnd())
        return;
    const std::optional<DerBytes> oid = AlgorithmOid(*algorithm);
    if (!oid)
        return;
    if (IsOid(*oid, kSha1Oid) && digest->size() == 20) {
        member.algorithm = MemberHash::kSha1;
    } else if (IsOid(*oid, kSha256Oid) && digest->size() == 32) {
        member.algorithm = MemberHash::kSha256;
    } else {
        return;
    }
    member.digest.assign(digest->begin(), digest->end());
}

Text TagText(DerBytes identifier) {
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
std::optional<CatalogMember> ReadMember(DerBytes entry) {
    DerReader reader(entry);
    const std::optional<DerBytes> identifier = reader.Take(der_tag::kOctetString);
    if (!identifier)
        return std::nullopt;
    CatalogMember member{TagText(*identifier), MemberHash::kOther, {}};
    if (reader.AtEnd())
        return member;
    const std::optional<DerBytes> attributes = reader.Take(der_tag::kSet);
    if (!attributes || !reader.AtEnd())
        return std::nullopt;

    int indirectAttributes = 0;
    std::optional<DerElement> indirectValue;
    DerReader attributeReader(*attributes);
    while (!attributeReader.AtEnd()) {
        // Attribute: SEQUENCE { type OID, values SET OF ANY }.
        const std::optional<DerBytes> attribute = attributeReader.Take(der_tag::kSequence);
        if (!attribute)
            return std::nullopt;
        DerReader parts(*attribute);
        const std::optional<DerBytes> type = parts.Take(der_tag::kObjectId);
        const std::optional<DerBytes> values = parts.Take(der_tag::kSet);
        if (!type || !values || !parts.AtEnd())
            return std::nullopt;
        DerReader valueReader(*values);
        int count = 0;
        std::optional<DerElement> first;
        while (!valueReader.AtEnd()) {
            const std::optional<DerElement> value = valueReader.Next();
            if (!value)
                return std::nullopt;
            if (count++ == 0)
                first = value;
        }
        if (IsOid(*type, kIndirectDataOid)) {
            ++indirectAttributes;
            indirectValue = count == 1 ? first : std::optional<DerElement>();
        }
    }
    if (indirectAttributes == 1 && indirectValue)
        ReadIndirectData(*indirectValue, member);
    return member;
}

// SEQUENCE OF OID, which must hold the catalog list's.
bool NamesCatalogList(DerBytes usage) {
    DerReader reader(usage);
    bool found = false;
    while (!reader.AtEnd()) {
        const std::optional<DerBytes> oid = reader.Take(der_tag::kObjectId);
        if (!oid)
            return false;
        found = found || IsOid(*oid, kCatalogListOid);
    }
    return found;
}

bool IsTime(const DerReader& reader) {
    return reader.Peek(der_tag::kUtcTime) || reader.Peek(der_tag::kGeneralizedTime);
}

std::string Key(MemberHash algorithm, std::span<const std::uint8_t> digest) {
    std::string key(1, static_cast<char>(algorithm));
    key.append(digest.begin(), digest.end());
    return key;
}

}  // namespace

std::optional<CatalogList> ParseCatalogList(std::span<const std::uint8_t> der) {
    DerReader outer(der);
    const std::optional<DerBytes> list = outer.Take(der_tag::kSequence);
    if (!list || !outer.AtEnd())
        return std::nullopt;

    DerReader reader(*list);
    if (!reader.SkipOptional(der_tag::kInteger))  // version, v1 by default
        return std::nullopt;
    const std::optional<DerBytes> usage = reader.Take(der_tag::kSequence);
    if (!usage || !NamesCatalogList(*usage))
        return std::nullopt;
    if (!reader.SkipOptional(der_tag::kOctetString) || !reader.SkipOptional(der_tag::kInteger))
        return std::nullopt;  // list identifier, sequence number
    if (!IsTime(reader) || !reader.Next())
        return std::nullopt;  // this update
    if (IsTime(reader) && !reader.Next())
        return std::nullopt;  // next update
    const std::optional<DerBytes> algorithm = reader.Take(der_tag::kSequence);
    const std::optional<DerBytes> format = algorithm ? AlgorithmOid(*algorithm) : std::nullopt;
    if (!format || !(IsOid(*format, kMemberV1Oid) || IsOid(*format, kMemberV2Oid)))
        return std::nullopt;

    CatalogList result;
    if (reader.Peek(der_tag::kSequence)) {
        const std::optional<DerBytes> trustedSubjects = reader.Take(der_tag::kSequence);
        if (!trustedSubjects)
            return std::nullopt;
        DerReader subjects(*trustedSubjects);
        while (!subjects.AtEnd()) {
            const std::optional<DerBytes> entry = subjects.Take(der_tag::kSequence);
            std::optional<CatalogMember> member = entry ? ReadMember(*entry) : std::nullopt;
            if (!member)
                return std::nullopt;
            result.members.push_back(std::move(*member));
        }
    }
    if (!reader.SkipOptional(der_tag::kContext0) || !reader.AtEnd() || reader.Failed())
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
        const int high = HexDigitValue(hex[2 * i]);
        const int low = HexDigitValue(hex[2 * i + 1]);
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
