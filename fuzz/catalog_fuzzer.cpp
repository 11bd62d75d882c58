// Catalog files. The input is read two ways: as the DER of a catalog's certificate trust list,
// whose members are then indexed and looked up; and as a whole catalog file (a PKCS #7 signed
// message around the list), checked and indexed as the host engine reads a catalog folder.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.h"
#include "platform/host/openssl_signature_engine.h"
#include "platform/host/openssl_signed_data.h"
#include "trust/catalog_list.h"
#include "trust/file_trust.h"

#ifndef TOLVESSA_FUZZ_CATALOG_ROOT
#error "TOLVESSA_FUZZ_CATALOG_ROOT names the PEM file of the root that signed the seed catalogs"
#endif

namespace tolvessa::fuzz {
namespace {

// What a list read from `size` bytes can hold, and that the index finds every member by its hash.
void CheckList(const CatalogList& list, std::size_t size) {
    CatalogIndex index;
    index.Add(u"input.cat", trust_status::kTrusted, u"Signer", list);
    for (const CatalogMember& member : list.members) {
        FUZZ_CHECK(member.tag.size() <= size / 2 + 1);
        FUZZ_CHECK(member.tag.empty() || member.tag.back() != u'\0');
        switch (member.algorithm) {
            case MemberHash::kSha1:
                FUZZ_CHECK(member.digest.size() == 20);
                break;
            case MemberHash::kSha256:
                FUZZ_CHECK(member.digest.size() == 32);
                break;
            case MemberHash::kOther:
                FUZZ_CHECK(member.digest.empty());
                continue;
        }
        FUZZ_CHECK(DigestBytes(DigestHex(member.digest)) == member.digest);
        const std::span<const std::uint8_t> digest(member.digest);
        const auto found =
            member.algorithm == MemberHash::kSha1 ? index.Find(digest, {}) : index.Find({}, digest);
        FUZZ_CHECK(found && found->catalog == u"input.cat" && found->signer == u"Signer");
        const bool tagNamesDigest = DigestBytes(member.tag) == member.digest;
        // A member whose tag names its own digest is sound; another one, listing the same
        // digest, may come first only when it is sound too.
        if (!tagNamesDigest)
            FUZZ_CHECK(found->status == trust_status::kTrusted ||
                       found->status == trust_status::kBadDigest);
        else
            FUZZ_CHECK(found->status == trust_status::kTrusted);
    }
}

}  // namespace
}  // namespace tolvessa::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    using namespace tolvessa::fuzz;
    const std::span<const std::uint8_t> bytes(data, size);

    if (const auto list = ParseCatalogList(bytes))
        CheckList(*list, size);

    static const host::TrustStore store(TOLVESSA_FUZZ_CATALOG_ROOT);
    CatalogIndex index;
    host::AddCatalog(index, u"input.cat", bytes, store);
    FUZZ_CHECK(index.CatalogCount() + index.Skipped().size() == 1);
    return 0;
}
