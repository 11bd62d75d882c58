// The parsed PE image: the input is a file's bytes. An image is made exactly when the header
// reader finds one; every offset and range it reports lies inside the file; its directories and
// sections are those the low-level readers give, in table order; the debug entries follow each
// other in the directory; the import walk and the resource walk end on any input (a hang is a
// finding) with names and data inside the file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.h"
#include "inventory/pe_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    const std::span<const std::uint8_t> bytes(data, size);
    MemorySource source(bytes);

    const std::optional<PeHeaders> headers = ReadPeHeaders(source);
    const std::optional<PeImage> image = PeImage::Parse(source);
    FUZZ_CHECK(image.has_value() == headers.has_value());
    if (!image)
        return 0;
    FUZZ_CHECK(image->FileSize() == size);
    FUZZ_CHECK(image->ChecksumOffset() + 4 <= size);

    for (std::uint32_t i = 0; i < kPeDirectoryLimit; ++i) {
        const auto directory = image->Directory(i);
        const auto expected = ReadDataDirectory(source, *headers, i);
        FUZZ_CHECK(directory.has_value() == expected.has_value());
        if (!directory)
            continue;
        FUZZ_CHECK(directory->entryOffset == expected->entryOffset &&
                   directory->virtualAddress == expected->virtualAddress &&
                   directory->size == expected->size);
        FUZZ_CHECK(RangeFits(size, directory->entryOffset, kPeDataDirectorySize));
    }
    FUZZ_CHECK(!image->Directory(kPeDirectoryLimit));

    const auto table = ReadSectionTable(source, *headers);
    FUZZ_CHECK(image->SectionTableInFile() == table.has_value());
    const auto sections = image->Sections();
    if (table) {
        FUZZ_CHECK(RangeFits(size, headers->sectionTableOffset,
                             std::uint64_t{headers->sectionCount} * kPeSectionHeaderSize));
        FUZZ_CHECK(sections.size() == table->size());
        for (std::size_t i = 0; i < sections.size(); ++i) {
            FUZZ_CHECK(sections[i].virtualAddress == (*table)[i].virtualAddress &&
                       sections[i].rawPointer == (*table)[i].rawPointer &&
                       sections[i].characteristics == (*table)[i].characteristics &&
                       sections[i].name == (*table)[i].name);
        }
    } else {
        FUZZ_CHECK(sections.empty() && !image->HashPlan());
    }
    // Every section's start and a byte inside it map into the file, or nowhere.
    for (const PeSection& section : sections) {
        for (const std::uint64_t rva :
             {std::uint64_t{section.virtualAddress},
              std::uint64_t{section.virtualAddress} + section.rawSize / 2}) {
            if (const auto at = image->FileOffset(rva, 4))
                FUZZ_CHECK(RangeFits(size, *at, 4));
        }
    }

    if (const auto& plan = image->HashPlan()) {
        std::uint64_t previousEnd = 0;
        for (const ByteRange& r : plan->ranges) {
            FUZZ_CHECK(r.begin >= previousEnd && r.begin < r.end && r.end <= size);
            previousEnd = r.end;
        }
    }

    const auto entries = image->DebugEntries();
    FUZZ_CHECK(entries.size() <= 256);
    FUZZ_CHECK(!image->DebugDirectoryDamaged() || entries.empty());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        FUZZ_CHECK(RangeFits(size, entries[i].entryOffset, kPeDebugEntrySize));
        if (i != 0)
            FUZZ_CHECK(entries[i].entryOffset == entries[i - 1].entryOffset + kPeDebugEntrySize);
        if (entries[i].dataOffset) {
            FUZZ_CHECK(*entries[i].dataOffset == entries[i].dataPointer);
            FUZZ_CHECK(RangeFits(size, *entries[i].dataOffset, entries[i].dataSize));
        }
    }

    if (const auto libraries = image->Imports(source)) {
        FUZZ_CHECK(libraries->empty() || image->SectionTableInFile());
        std::size_t imports = 0;
        for (const PeImportLibrary& library : *libraries) {
            imports += library.imports.size();
            if (library.name)
                FUZZ_CHECK(library.name->size() <= 512 &&
                           library.name->find('\0') == std::string::npos);
            for (const PeImport& import : library.imports) {
                FUZZ_CHECK(import.name.size() <= 512 &&
                           import.name.find('\0') == std::string::npos);
                FUZZ_CHECK(!import.byOrdinal || import.name.empty());
            }
        }
        FUZZ_CHECK(libraries->size() < 4096 && imports < 65536);
    }

    if (const auto version = image->VersionResource(source))
        FUZZ_CHECK(RangeFits(size, version->offset, version->size));
    return 0;
}
