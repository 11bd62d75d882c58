#include "inventory/pe_image.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tolvessa {

namespace {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kLfanewOffset = 0x3C;
constexpr std::size_t kSignatureSize = 4;
constexpr std::size_t kFileHeaderSize = 20;

// Offsets inside the optional header. CheckSum and SizeOfHeaders sit at the same place in both
// forms; NumberOfRvaAndSizes and the directories after it move by the wider ImageBase and
// stack and heap sizes of PE32+.
constexpr std::size_t kSectionAlignmentOffset = 32;
constexpr std::size_t kFileAlignmentOffset = 36;
constexpr std::size_t kSizeOfImageOffset = 56;
constexpr std::size_t kSizeOfHeadersOffset = 60;
constexpr std::size_t kChecksumOffset = 64;
constexpr std::size_t kDllCharacteristicsOffset = 70;
constexpr std::size_t kPe32DirectoryCountOffset = 92;
constexpr std::size_t kPe32PlusDirectoryCountOffset = 108;
constexpr std::size_t kLargestFixedPart = kPe32PlusDirectoryCountOffset + 4;

}  // namespace

bool MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (!RangeFits(bytes_.size(), offset, buffer.size()))
        return false;
    if (!buffer.empty())
        std::memcpy(buffer.data(), bytes_.data() + offset, buffer.size());
    return true;
}

bool ReadBytes(ByteSource& source, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    return RangeFits(source.Size(), offset, buffer.size()) && source.ReadAt(offset, buffer);
}

std::optional<PeHeaders> ReadPeHeaders(ByteSource& source) {
    std::array<std::uint8_t, kDosHeaderSize> dos{};
    if (!ReadBytes(source, 0, dos) || dos[0] != 'M' || dos[1] != 'Z')
        return std::nullopt;

    PeHeaders headers;
    headers.signatureOffset = Read32(dos, kLfanewOffset);
    std::array<std::uint8_t, kSignatureSize + kFileHeaderSize + 2> head{};  // and the magic
    if (!ReadBytes(source, headers.signatureOffset, head) ||
        std::memcmp(head.data(), "PE\0\0", kSignatureSize) != 0) {
        return std::nullopt;
    }
    headers.machine = Read16(head, kSignatureSize);
    headers.sectionCount = Read16(head, kSignatureSize + 2);
    headers.timeDateStamp = Read32(head, kSignatureSize + 4);
    headers.optionalHeaderSize = Read16(head, kSignatureSize + 16);
    headers.characteristics = Read16(head, kSignatureSize + 18);
    headers.optionalHeaderOffset = headers.signatureOffset + kSignatureSize + kFileHeaderSize;
    headers.magic = Read16(head, kSignatureSize + kFileHeaderSize);

    std::size_t countOffset = 0;
    if (headers.magic == kPe32Magic)
        countOffset = kPe32DirectoryCountOffset;
    else if (headers.magic == kPe32PlusMagic)
        countOffset = kPe32PlusDirectoryCountOffset;
    else
        return std::nullopt;
    const std::size_t fixedSize = countOffset + 4;
    if (headers.optionalHeaderSize < fixedSize)
        return std::nullopt;

    std::array<std::uint8_t, kLargestFixedPart> optional{};
    if (!ReadBytes(source, headers.optionalHeaderOffset, std::span(optional).first(fixedSize)))
        return std::nullopt;
    headers.sectionAlignment = Read32(optional, kSectionAlignmentOffset);
    headers.fileAlignment = Read32(optional, kFileAlignmentOffset);
    headers.sizeOfImage = Read32(optional, kSizeOfImageOffset);
    headers.sizeOfHeaders = Read32(optional, kSizeOfHeadersOffset);
    headers.dllCharacteristics = Read16(optional, kDllCharacteristicsOffset);
    headers.checksumOffset = headers.optionalHeaderOffset + kChecksumOffset;
    headers.directoryCount = Read32(optional, countOffset);
    headers.directoriesOffset = headers.optionalHeaderOffset + fixedSize;
    headers.sectionTableOffset = headers.optionalHeaderOffset + headers.optionalHeaderSize;
    return headers;
}

std::optional<PeDataDirectory> ReadDataDirectory(ByteSource& source, const PeHeaders& headers,
                                                 std::uint32_t index) {
    if (headers.directoryCount <= index)
        return std::nullopt;
    const std::uint64_t entryOffset =
        headers.directoriesOffset + std::uint64_t{index} * kPeDataDirectorySize;
    const std::uint64_t optionalEnd = headers.optionalHeaderOffset + headers.optionalHeaderSize;
    if (entryOffset + kPeDataDirectorySize > optionalEnd)
        return std::nullopt;
    std::array<std::uint8_t, kPeDataDirectorySize> entry{};
    if (!ReadBytes(source, entryOffset, entry))
        return std::nullopt;
    return PeDataDirectory{Read32(entry, 0), Read32(entry, 4), entryOffset};
}

std::optional<std::vector<PeSection>> ReadSectionTable(ByteSource& source,
                                                       const PeHeaders& headers) {
    std::vector<std::uint8_t> table(std::size_t{headers.sectionCount} * kPeSectionHeaderSize);
    if (!ReadBytes(source, headers.sectionTableOffset, table))
        return std::nullopt;
    std::vector<PeSection> sections;
    sections.reserve(headers.sectionCount);
    for (std::size_t at = 0; at < table.size(); at += kPeSectionHeaderSize) {
        PeSection& section = sections.emplace_back();
        std::copy_n(table.begin() + static_cast<std::ptrdiff_t>(at), section.name.size(),
                    section.name.begin());
        section.virtualSize = Read32(table, at + 8);
        section.virtualAddress = Read32(table, at + 12);
        section.rawSize = Read32(table, at + 16);
        section.rawPointer = Read32(table, at + 20);
        section.characteristics = Read32(table, at + 36);
    }
    return sections;
}

std::vector<PeSection> SectionsInFileOrder(std::vector<PeSection> sections) {
    std::stable_sort(sections.begin(), sections.end(), [](const PeSection& a, const PeSection& b) {
        return a.rawPointer < b.rawPointer;
    });
    return sections;
}

std::optional<std::uint64_t> RvaToFileOffset(std::span<const PeSection> sections,
                                             std::uint64_t fileSize, std::uint64_t rva,
                                             std::uint64_t count) {
    for (const PeSection& s : sections) {
        if (rva < s.virtualAddress)
            continue;
        const std::uint64_t into = rva - s.virtualAddress;
        const std::uint64_t backed =
            s.virtualSize == 0 ? s.rawSize : std::min(s.virtualSize, s.rawSize);
        if (into >= backed)
            continue;
        if (count > backed - into)
            return std::nullopt;
        const std::uint64_t offset = std::uint64_t{s.rawPointer} + into;
        if (!RangeFits(fileSize, offset, count))
            return std::nullopt;
        return offset;
    }
    return std::nullopt;
}

// ---- The parsed image ----

namespace {

constexpr std::uint64_t kImportDescriptorSize = 20;
// Bounds that no real image comes near; they end the walk of a damaged one.
constexpr std::size_t kMaxImportLibraries = 4096;
constexpr std::size_t kMaxImports = 65536;
constexpr std::size_t kMaxNameLength = 512;
constexpr std::uint32_t kMaxDebugEntries = 256;

constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::uint32_t kResourceSubdirectoryBit = 0x80000000u;

// The directory entries that NumberOfRvaAndSizes, the optional header and the file all hold
// (at most kPeDirectoryLimit), read at once. Each holds whenever the one after it does, so they
// are the first n.
std::vector<PeDataDirectory> ReadDirectories(ByteSource& source, const PeHeaders& headers,
                                             std::uint64_t fileSize) {
    const std::uint64_t optionalEnd = headers.optionalHeaderOffset + headers.optionalHeaderSize;
    std::uint64_t count = std::min<std::uint64_t>(headers.directoryCount, kPeDirectoryLimit);
    const auto room = [&](std::uint64_t end) {
        return end < headers.directoriesOffset
                   ? 0
                   : (end - headers.directoriesOffset) / kPeDataDirectorySize;
    };
    count = std::min({count, room(optionalEnd), room(fileSize)});
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(count) * kPeDataDirectorySize);
    if (!ReadBytes(source, headers.directoriesOffset, entries))
        return {};
    std::vector<PeDataDirectory> directories;
    for (std::size_t at = 0; at < entries.size(); at += kPeDataDirectorySize) {
        directories.push_back(
            {Read32(entries, at), Read32(entries, at + 4), headers.directoriesOffset + at});
    }
    return directories;
}

std::optional<ImageHashPlan> PlanHash(const PeHeaders& headers,
                                      const std::optional<PeDataDirectory>& table,
                                      bool sectionTableInFile, std::span<const PeSection> sections,
                                      std::uint64_t size) {
    if (!table)
        return std::nullopt;
    const std::uint64_t headersEnd = headers.sizeOfHeaders;
    if (headersEnd > size || headersEnd < table->entryOffset + kPeDataDirectorySize)
        return std::nullopt;
    if (!sectionTableInFile)
        return std::nullopt;
    std::uint64_t sectionsEnd = headersEnd;
    for (const PeSection& section : sections) {
        if (section.rawSize == 0)
            continue;
        if (!RangeFits(size, section.rawPointer, section.rawSize))
            return std::nullopt;
        sectionsEnd = std::max<std::uint64_t>(sectionsEnd,
                                              std::uint64_t{section.rawPointer} + section.rawSize);
    }

    ImageHashPlan plan;
    std::uint64_t hashedEnd = size;
    if (table->size == 0) {
        plan.zeroPadding = (8 - size % 8) % 8;
    } else {
        const std::uint64_t tableBegin = table->virtualAddress;
        if (tableBegin < sectionsEnd || !RangeFits(size, tableBegin, table->size) ||
            tableBegin + table->size != size) {
            return std::nullopt;
        }
        hashedEnd = tableBegin;
    }
    // CheckSum lies in the optional header's fixed part, the directory entries after it.
    plan.ranges = {{0, headers.checksumOffset},
                   {headers.checksumOffset + 4, table->entryOffset},
                   {table->entryOffset + kPeDataDirectorySize, hashedEnd}};
    std::erase_if(plan.ranges, [](const ByteRange& r) { return r.begin == r.end; });
    return plan;
}

// A zero-terminated name at a file offset, cut after kMaxNameLength bytes as the usual readers
// cut it; nothing when the file ends before its zero (or its cut).
std::optional<std::string> ReadName(ByteSource& source, std::uint64_t offset) {
    std::string name;
    std::array<std::uint8_t, 64> chunk{};
    const std::uint64_t size = source.Size();
    while (name.size() < kMaxNameLength && offset < size) {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - offset));
        if (!ReadBytes(source, offset, std::span(chunk.data(), take)))
            return std::nullopt;
        for (std::size_t i = 0; i < take; ++i) {
            if (chunk[i] == 0)
                return name;
            name.push_back(static_cast<char>(chunk[i]));
            if (name.size() == kMaxNameLength)
                return name;
        }
        offset += take;
    }
    return std::nullopt;
}

}  // namespace

std::optional<PeImage> PeImage::Parse(ByteSource& source) {
    const std::optional<PeHeaders> headers = ReadPeHeaders(source);
    if (!headers)
        return std::nullopt;
    PeImage image;
    image.fileSize_ = source.Size();
    image.headers_ = *headers;
    image.directories_ = ReadDirectories(source, *headers, image.fileSize_);
    if (auto sections = ReadSectionTable(source, *headers)) {
        image.sectionTableInFile_ = true;
        image.sections_ = std::move(*sections);
    }
    image.hashPlan_ = PlanHash(*headers, image.CertificateTable(), image.sectionTableInFile_,
                               image.sections_, image.fileSize_);

    const std::optional<PeDataDirectory> debug = image.Directory(kPeDebugDirectory);
    if (debug && debug->virtualAddress != 0 && debug->size != 0) {
        // The entries are read only once their count is known to be sound.
        const std::uint32_t count = debug->size / kPeDebugEntrySize;
        const auto at =
            count == 0 || count > kMaxDebugEntries
                ? std::nullopt
                : image.FileOffset(debug->virtualAddress, std::uint64_t{count} * kPeDebugEntrySize);
        std::vector<std::uint8_t> entries(at ? std::size_t{count} * kPeDebugEntrySize : 0);
        if (!at || !ReadBytes(source, *at, entries)) {
            image.debugDirectoryDamaged_ = true;
        } else {
            for (std::size_t i = 0; i < entries.size(); i += kPeDebugEntrySize) {
                PeDebugEntry& entry = image.debugEntries_.emplace_back();
                entry.timeDateStamp = Read32(entries, i + 4);
                entry.type = Read32(entries, i + 12);
                entry.dataSize = Read32(entries, i + 16);
                entry.dataRva = Read32(entries, i + 20);
                entry.dataPointer = Read32(entries, i + 24);
                entry.entryOffset = *at + i;
                if (RangeFits(image.fileSize_, entry.dataPointer, entry.dataSize))
                    entry.dataOffset = entry.dataPointer;
            }
        }
    }
    return image;
}

std::optional<PeDataDirectory> PeImage::Directory(std::uint32_t index) const {
    if (index >= directories_.size())
        return std::nullopt;
    return directories_[index];
}

std::optional<std::vector<PeImportLibrary>> PeImage::Imports(ByteSource& source) const {
    std::vector<PeImportLibrary> libraries;
    const std::optional<PeDataDirectory> directory = Directory(kPeImportDirectory);
    if (!directory || directory->virtualAddress == 0)
        return libraries;  // no import table
    if (!sectionTableInFile_)
        return std::nullopt;
    const bool pe32Plus = IsPe32Plus();
    const std::size_t thunkSize = pe32Plus ? 8 : 4;
    const std::uint64_t ordinalFlag = pe32Plus ? std::uint64_t{1} << 63 : std::uint64_t{1} << 31;

    std::size_t thunks = 0;
    for (std::size_t library = 0;; ++library) {
        if (library >= kMaxImportLibraries)
            return std::nullopt;
        const auto at = FileOffset(directory->virtualAddress + library * kImportDescriptorSize,
                                   kImportDescriptorSize);
        std::array<std::uint8_t, kImportDescriptorSize> descriptor{};
        if (!at || !ReadBytes(source, *at, descriptor))
            return std::nullopt;
        if (std::all_of(descriptor.begin(), descriptor.end(), [](auto b) { return b == 0; }))
            break;
        const std::uint32_t lookupRva = Read32(descriptor, 0);
        const std::uint32_t nameRva = Read32(descriptor, 12);
        const std::uint32_t addressRva = Read32(descriptor, 16);
        const std::uint32_t thunksRva = lookupRva != 0 ? lookupRva : addressRva;

        PeImportLibrary& entry = libraries.emplace_back();
        for (std::uint64_t index = 0;; ++index) {
            if (thunks >= kMaxImports)
                return std::nullopt;
            ++thunks;
            const auto thunkAt = FileOffset(thunksRva + index * thunkSize, thunkSize);
            std::array<std::uint8_t, 8> thunk{};
            if (!thunkAt || !ReadBytes(source, *thunkAt, std::span(thunk.data(), thunkSize)))
                return std::nullopt;
            const std::uint64_t value = pe32Plus ? Read64(thunk, 0) : Read32(thunk, 0);
            if (value == 0)
                break;
            if ((value & ordinalFlag) != 0) {
                if ((value & 0x7FFFFFFF) > 0xFFFF)
                    return std::nullopt;
                entry.imports.push_back({true, static_cast<std::uint16_t>(value), {}});
                continue;
            }
            // The hint/name entry: a 16-bit hint, then the name. An RVA wider than 32 bits
            // lies in no section, so such a thunk finds no name.
            const auto nameAt = FileOffset(value + 2, 1);
            std::optional<std::string> name = nameAt ? ReadName(source, *nameAt) : std::nullopt;
            if (!name)
                return std::nullopt;
            entry.imports.push_back({false, 0, std::move(*name)});
        }
        if (const auto nameAt = FileOffset(nameRva, 1))
            entry.name = ReadName(source, *nameAt);
    }
    return libraries;
}

std::optional<PeFileRange> PeImage::VersionResource(ByteSource& source) const {
    const std::optional<PeDataDirectory> resources = Directory(kPeResourceDirectory);
    if (!resources || resources->virtualAddress == 0 || !sectionTableInFile_)
        return std::nullopt;
    const std::uint64_t base = resources->virtualAddress;
    // Reads at an offset from the start of the resource directory.
    const auto read = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        const auto at = FileOffset(base + offset, out.size());
        return at && ReadBytes(source, *at, out);
    };
    // Named and id entry counts of the directory at `offset`.
    const auto entryCount = [&](std::uint64_t offset) -> std::optional<std::uint32_t> {
        std::array<std::uint8_t, 16> header{};
        if (!read(offset, header))
            return std::nullopt;
        return std::uint32_t{Read16(header, 12)} + Read16(header, 14);
    };
    // The OffsetToData of the first entry of the directory at `offset`.
    const auto firstEntry = [&](std::uint64_t offset) -> std::optional<std::uint32_t> {
        const auto count = entryCount(offset);
        std::array<std::uint8_t, 8> entry{};
        if (!count || *count == 0 || !read(offset + 16, entry))
            return std::nullopt;
        return Read32(entry, 4);
    };

    // The type entry with the numeric id of RT_VERSION in the root directory. A named entry
    // has its top bit set, so it never equals a numeric id.
    const auto types = entryCount(0);
    if (!types)
        return std::nullopt;
    std::optional<std::uint32_t> typeEntry;
    for (std::uint32_t i = 0; i < *types && !typeEntry; ++i) {
        std::array<std::uint8_t, 8> entry{};
        if (!read(16 + 8 * std::uint64_t{i}, entry))
            return std::nullopt;
        if (Read32(entry, 0) == kResourceTypeVersion)
            typeEntry = Read32(entry, 4);
    }
    // Then the first name or id, then the first language.
    if (!typeEntry || (*typeEntry & kResourceSubdirectoryBit) == 0)
        return std::nullopt;
    const auto nameEntry = firstEntry(*typeEntry & ~kResourceSubdirectoryBit);
    if (!nameEntry || (*nameEntry & kResourceSubdirectoryBit) == 0)
        return std::nullopt;
    const auto languageEntry = firstEntry(*nameEntry & ~kResourceSubdirectoryBit);
    if (!languageEntry || (*languageEntry & kResourceSubdirectoryBit) != 0)
        return std::nullopt;

    std::array<std::uint8_t, 16> dataEntry{};
    if (!read(*languageEntry, dataEntry))
        return std::nullopt;
    const std::uint32_t dataRva = Read32(dataEntry, 0);
    const std::uint32_t dataSize = Read32(dataEntry, 4);
    const auto dataOffset = FileOffset(dataRva, dataSize);
    if (!dataOffset)
        return std::nullopt;
    return PeFileRange{*dataOffset, dataSize};
}

}  // namespace tolvessa
