#include "inventory/image_hash.h"

#include <algorithm>
#include <array>

#include "inventory/ordinal_names.h"

namespace tolvessa {

namespace {

constexpr std::uint32_t kImportDirectory = 1;
constexpr std::uint64_t kImportDescriptorSize = 20;
// Bounds that no real image comes near; they end the walk of a damaged one.
constexpr std::size_t kMaxImportLibraries = 4096;
constexpr std::size_t kMaxImports = 65536;
constexpr std::size_t kMaxNameLength = 512;

}  // namespace

std::optional<ImageHashPlan> PlanImageHash(ByteSource& file) {
    const std::uint64_t size = file.Size();
    const std::optional<PeHeaders> headers = ReadPeHeaders(file);
    if (!headers)
        return std::nullopt;
    const std::optional<PeDataDirectory> table =
        ReadDataDirectory(file, *headers, kPeCertificateDirectory);
    if (!table)
        return std::nullopt;
    const std::uint64_t headersEnd = headers->sizeOfHeaders;
    if (headersEnd > size || headersEnd < table->entryOffset + kPeDataDirectorySize)
        return std::nullopt;
    const std::optional<std::vector<PeSection>> sections = ReadSectionTable(file, *headers);
    if (!sections)
        return std::nullopt;
    std::uint64_t sectionsEnd = headersEnd;
    for (const PeSection& section : *sections) {
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
    plan.ranges = {{0, headers->checksumOffset},
                   {headers->checksumOffset + 4, table->entryOffset},
                   {table->entryOffset + kPeDataDirectorySize, hashedEnd}};
    std::erase_if(plan.ranges, [](const ByteRange& r) { return r.begin == r.end; });
    return plan;
}

namespace {

// A zero-terminated name at a file offset, cut after kMaxNameLength bytes as the usual readers
// cut it; nothing when the file ends before its zero (or its cut).
std::optional<std::string> ReadName(ByteSource& file, std::uint64_t offset) {
    std::string name;
    std::array<std::uint8_t, 64> chunk{};
    const std::uint64_t size = file.Size();
    while (name.size() < kMaxNameLength && offset < size) {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - offset));
        if (!ReadBytes(file, offset, std::span(chunk.data(), take)))
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

// Library names as the usual readers accept them; any other is "*invalid*" in the list, as
// there.
bool ValidLibraryName(std::string_view name) {
    constexpr std::string_view kAllowed = "!#$%&'()-@^_`{}~+,.;=[]\\/";
    return std::all_of(name.begin(), name.end(), [&](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               kAllowed.find(c) != std::string_view::npos;
    });
}

// Function names as the usual readers accept them; they leave any other out of the list.
bool ValidFunctionName(std::string_view name) {
    constexpr std::string_view kAllowed = "._?@$()<>";
    return std::all_of(name.begin(), name.end(), [&](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               kAllowed.find(c) != std::string_view::npos;
    });
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

std::optional<std::string> ImportHashText(ByteSource& file) {
    const std::uint64_t size = file.Size();
    const std::optional<PeHeaders> headers = ReadPeHeaders(file);
    if (!headers)
        return std::nullopt;
    const std::optional<PeDataDirectory> directory =
        ReadDataDirectory(file, *headers, kImportDirectory);
    if (!directory || directory->virtualAddress == 0)
        return std::string();  // no import table
    const std::optional<std::vector<PeSection>> sections = ReadSectionTable(file, *headers);
    if (!sections)
        return std::nullopt;
    const auto offsetOf = [&](std::uint64_t rva, std::uint64_t count) {
        return RvaToFileOffset(*sections, size, rva, count);
    };
    const bool pe32Plus = headers->IsPe32Plus();
    const std::size_t thunkSize = pe32Plus ? 8 : 4;
    const std::uint64_t ordinalFlag = pe32Plus ? std::uint64_t{1} << 63 : std::uint64_t{1} << 31;

    // An import as the thunk names it: a function name, or an ordinal (name empty).
    struct Import {
        std::uint16_t ordinal = 0;
        std::string name;
    };

    std::string text;
    std::size_t thunks = 0;
    for (std::size_t library = 0;; ++library) {
        if (library >= kMaxImportLibraries)
            return std::nullopt;
        const auto at = offsetOf(directory->virtualAddress + library * kImportDescriptorSize,
                                 kImportDescriptorSize);
        std::array<std::uint8_t, kImportDescriptorSize> descriptor{};
        if (!at || !ReadBytes(file, *at, descriptor))
            return std::nullopt;
        if (std::all_of(descriptor.begin(), descriptor.end(), [](auto b) { return b == 0; }))
            break;
        const std::uint32_t lookupRva = Read32(descriptor, 0);
        const std::uint32_t nameRva = Read32(descriptor, 12);
        const std::uint32_t addressRva = Read32(descriptor, 16);
        const std::uint32_t thunksRva = lookupRva != 0 ? lookupRva : addressRva;

        // The imports the list keeps. The usual readers leave out an import by ordinal 0, a
        // function with an empty name and one whose name no function has; a thunk that is
        // neither a 16-bit ordinal nor an RVA makes the table damaged.
        std::vector<Import> imports;
        for (std::uint64_t index = 0;; ++index) {
            if (thunks >= kMaxImports)
                return std::nullopt;
            ++thunks;
            const auto thunkAt = offsetOf(thunksRva + index * thunkSize, thunkSize);
            std::array<std::uint8_t, 8> thunk{};
            if (!thunkAt || !ReadBytes(file, *thunkAt, std::span(thunk.data(), thunkSize)))
                return std::nullopt;
            const std::uint64_t value = pe32Plus ? Read64(thunk, 0) : Read32(thunk, 0);
            if (value == 0)
                break;
            if ((value & ordinalFlag) != 0) {
                if ((value & 0x7FFFFFFF) > 0xFFFF)
                    return std::nullopt;
                if (const auto ordinal = static_cast<std::uint16_t>(value); ordinal != 0)
                    imports.push_back({ordinal, {}});
                continue;
            }
            // The hint/name entry: a 16-bit hint, then the name. An RVA wider than 32 bits
            // lies in no section, so such a thunk finds no name.
            const auto nameAt = offsetOf(value + 2, 1);
            std::optional<std::string> name = nameAt ? ReadName(file, *nameAt) : std::nullopt;
            if (!name)
                return std::nullopt;
            if (!name->empty() && ValidFunctionName(*name))
                imports.push_back({0, std::move(*name)});
        }
        // A library none of whose imports is kept is left out whole, its name unread.
        if (imports.empty())
            continue;

        const auto nameAt = offsetOf(nameRva, 1);
        const std::optional<std::string> dll = nameAt ? ReadName(file, *nameAt) : std::nullopt;
        if (!dll)
            return std::nullopt;
        if (dll->empty())
            continue;  // a library without a name is left out with its imports, as there
        const std::string dllLower = ValidLibraryName(*dll) ? Lower(*dll) : "*invalid*";
        std::string prefix = dllLower;
        if (const std::size_t dot = prefix.rfind('.'); dot != std::string::npos) {
            const std::string extension = prefix.substr(dot + 1);
            if (extension == "dll" || extension == "sys" || extension == "ocx")
                prefix.resize(dot);
        }
        for (const Import& import : imports) {
            std::string function = import.name;
            if (function.empty()) {
                const auto known = WellKnownOrdinalName(dllLower, import.ordinal);
                function = known ? std::string(*known) : "ord" + std::to_string(import.ordinal);
            }
            if (!text.empty())
                text += ',';
            text += prefix + "." + Lower(function);
        }
    }
    return text;
}

}  // namespace tolvessa
