#include "inventory/image_hash.h"

#include <algorithm>
#include <array>

#include "inventory/ordinal_names.h"

namespace tolvessa {

std::optional<ImageHashPlan> PlanImageHash(ByteSource& file) {
    const std::optional<PeImage> image = PeImage::Parse(file);
    if (!image)
        return std::nullopt;
    return image->HashPlan();
}

namespace {

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
    const std::optional<PeImage> image = PeImage::Parse(file);
    if (!image)
        return std::nullopt;
    return ImportHashText(*image, file);
}

std::optional<std::string> ImportHashText(const PeImage& image, ByteSource& file) {
    const std::optional<std::vector<PeImportLibrary>> libraries = image.Imports(file);
    if (!libraries)
        return std::nullopt;

    std::string text;
    for (const PeImportLibrary& library : *libraries) {
        // The imports the list keeps. The usual readers leave out an import by ordinal 0, a
        // function with an empty name and one whose name no function has.
        std::vector<const PeImport*> kept;
        for (const PeImport& import : library.imports) {
            if (import.byOrdinal ? import.ordinal != 0
                                 : !import.name.empty() && ValidFunctionName(import.name)) {
                kept.push_back(&import);
            }
        }
        // A library none of whose imports is kept is left out whole, its name unlooked at.
        if (kept.empty())
            continue;
        if (!library.name)
            return std::nullopt;
        if (library.name->empty())
            continue;  // a library without a name is left out with its imports, as there
        const std::string dllLower =
            ValidLibraryName(*library.name) ? Lower(*library.name) : "*invalid*";
        std::string prefix = dllLower;
        if (const std::size_t dot = prefix.rfind('.'); dot != std::string::npos) {
            const std::string extension = prefix.substr(dot + 1);
            if (extension == "dll" || extension == "sys" || extension == "ocx")
                prefix.resize(dot);
        }
        for (const PeImport* import : kept) {
            std::string function = import->name;
            if (import->byOrdinal) {
                const auto known = WellKnownOrdinalName(dllLower, import->ordinal);
                function = known ? std::string(*known) : "ord" + std::to_string(import->ordinal);
            }
            if (!text.empty())
                text += ',';
            text += prefix + "." + Lower(function);
        }
    }
    return text;
}

}  // namespace tolvessa
