// What the Authenticode image hash covers, and the import walk of the imphash: the input is a
// file's bytes. The planned ranges must lie inside the file, in order, apart, and leave out the
// CheckSum field and the certificate-table directory entry, so no byte is hashed twice and none
// of those three is hashed at all; the import walk must end on any input (a hang is a finding)
// with the list in the form the imphash is taken of.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.h"
#include "inventory/image_hash.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    const std::span<const std::uint8_t> bytes(data, size);
    MemorySource source(bytes);
    const std::optional<PeImage> image = PeImage::Parse(source);
    if (!image) {
        FUZZ_CHECK(!PlanImageHash(source) && !ImportHashText(source));
        return 0;
    }

    if (const std::optional<ImageHashPlan>& plan = image->HashPlan()) {
        const PeHeaders* headers = &image->Headers();
        const auto table = image->CertificateTable();
        FUZZ_CHECK(table.has_value());
        const ByteRange excluded[] = {{headers->checksumOffset, headers->checksumOffset + 4},
                                      {table->entryOffset, table->entryOffset + 8}};
        std::uint64_t previousEnd = 0;
        std::uint64_t hashed = 0;
        for (const ByteRange& r : plan->ranges) {
            FUZZ_CHECK(r.begin < r.end && r.end <= size);
            FUZZ_CHECK(r.begin >= previousEnd);  // in order, apart: each byte at most once
            for (const ByteRange& e : excluded)
                FUZZ_CHECK(r.end <= e.begin || r.begin >= e.end);
            previousEnd = r.end;
            hashed += r.end - r.begin;
        }
        FUZZ_CHECK(plan->zeroPadding < 8);
        if (table->size == 0) {
            // No table: everything but the two fields, then zeros up to a multiple of 8.
            FUZZ_CHECK(hashed == size - 12);
            FUZZ_CHECK((size + plan->zeroPadding) % 8 == 0);
        } else {
            // A table: it ends the file and is left out whole, with no padding.
            FUZZ_CHECK(plan->zeroPadding == 0);
            FUZZ_CHECK(std::uint64_t{table->virtualAddress} + table->size == size);
            FUZZ_CHECK(hashed == size - 12 - table->size);
            FUZZ_CHECK(table->virtualAddress >= headers->sizeOfHeaders);
        }
    }

    if (const std::optional<std::string> text = ImportHashText(*image, source)) {
        for (const char c : *text)
            FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));
        // "library.function" items: a non-empty list names at least one library's function.
        FUZZ_CHECK(text->empty() || text->find('.') != std::string::npos);
    }
    return 0;
}
