#include "inventory/version_info.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <optional>
#include <vector>

#include "inventory/pe_image.h"

namespace tolvessa {

namespace {

struct StringKey {
    TextView key;
    Text TFileVersionInfo::*field;
};

// The keys in the order they are read; the spelling is what gets looked up (the version API
// matches keys without regard to case).
constexpr StringKey kStringKeys[] = {
    {u"CompanyName", &TFileVersionInfo::fCompanyName},
    {u"FileDescription", &TFileVersionInfo::fFileDescription},
    {u"FileVersion", &TFileVersionInfo::fFileVersion},
    {u"InternalName", &TFileVersionInfo::fInternalName},
    {u"LegalCopyRight", &TFileVersionInfo::fLegalCopyRight},
    {u"LegalTradeMark", &TFileVersionInfo::fLegalTradeMark},
    {u"OriginalFileName", &TFileVersionInfo::fOriginalFileName},
    {u"ProductName", &TFileVersionInfo::fProductName},
    {u"ProductVersion", &TFileVersionInfo::fProductVersion},
    {u"Comments", &TFileVersionInfo::fComments},
};

constexpr TextView kTranslationPath = u"\\VarFileInfo\\Translation";

// A buffer the size of the file's version data, with the handle for reading it; nothing when
// the path is empty, the file has no version data, or a buffer of that size cannot be had in
// memory (the same as no version data).
struct VersionBuffer {
    std::vector<std::uint8_t> bytes;
    std::uint32_t handle = 0;
};

std::optional<VersionBuffer> NewVersionBuffer(VersionApi& api, const Text& path) {
    if (path.empty())
        return std::nullopt;
    const auto [size, handle] = api.VersionInfoSize(path);
    if (size == 0)
        return std::nullopt;
    VersionBuffer buffer;
    try {
        buffer.bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    buffer.handle = handle;
    return buffer;
}

// The bytes of a value that lie inside `block`, up to the end of the value's span.
std::span<const std::uint8_t> Inside(std::span<const std::uint8_t> block,
                                     std::span<const std::uint8_t> value) {
    const std::span<const std::uint8_t> rest = BytesFrom(block, value.data());
    return rest.first(std::min(rest.size(), value.size()));
}

// The UTF-16 text at the start of `bytes`, up to its first NUL or their end, whichever is first.
// The units are put together byte by byte: the value need not be aligned.
Text TextAt(std::span<const std::uint8_t> bytes) {
    Text out;
    for (std::size_t at = 0; at + 2 <= bytes.size(); at += 2) {
        const auto unit = static_cast<char16_t>(Read16(bytes, at));
        if (unit == u'\0')
            break;
        out.push_back(unit);
    }
    return out;
}

// One string of the first translation in version data already read into `block`.
Text QueryString(VersionApi& api, std::span<const std::uint8_t> block, TextView key) {
    const std::optional<VersionValue> translation =
        api.QueryVersionValue(block, Text(kTranslationPath));
    if (!translation)
        return {};
    const std::span<const std::uint8_t> languageAndCodePage = Inside(block, translation->bytes);
    if (languageAndCodePage.size() < 4)
        return {};
    const std::uint16_t language = Read16(languageAndCodePage, 0);
    const std::uint16_t codePage = Read16(languageAndCodePage, 2);

    const std::optional<VersionValue> value =
        api.QueryVersionValue(block, StringFileInfoPath(language, codePage, key));
    if (!value)
        return {};
    return TextAt(Inside(block, value->bytes));
}

Text Meaningful(Text field) {
    if (TrimBlanks(field).empty())
        return {};
    return field;
}

}  // namespace

std::span<const std::uint8_t> BytesFrom(std::span<const std::uint8_t> block, const void* value) {
    if (value == nullptr || block.empty())
        return {};
    const auto begin = reinterpret_cast<std::uintptr_t>(block.data());
    const auto at = reinterpret_cast<std::uintptr_t>(value);
    if (at < begin || at - begin >= block.size())
        return {};
    return block.subspan(at - begin);
}

Text StringFileInfoPath(std::uint16_t language, std::uint16_t codePage, TextView key) {
    Text path(u"\\StringFileInfo\\");
    path += HexText(language, 4);
    path += HexText(codePage, 4);
    path += u'\\';
    path += key;
    return path;
}

TFileVersionInfo ReadFileVersionInfo(VersionApi& api, const Text& path) {
    TFileVersionInfo info;
    std::optional<VersionBuffer> buffer = NewVersionBuffer(api, path);
    if (!buffer)
        return info;

    // The data is read again before every key; a read that fails leaves only that string empty.
    for (const StringKey& entry : kStringKeys) {
        Text& field = info.*entry.field;
        field.clear();
        if (!api.ReadVersionInfo(path, buffer->handle, buffer->bytes))
            continue;
        field = QueryString(api, buffer->bytes, entry.key);
    }
    return info;
}

std::optional<std::uint64_t> FixedFileVersion(VersionApi& api,
                                              std::span<const std::uint8_t> block) {
    // VS_FIXEDFILEINFO: dwSignature, dwStrucVersion, dwFileVersionMS, dwFileVersionLS, ... in 52
    // bytes.
    constexpr std::size_t kFixedFileInfoSize = 52;
    constexpr std::uint32_t kSignature = 0xFEEF04BD;
    const std::optional<VersionValue> value = api.QueryVersionValue(block, Text(u"\\"));
    if (!value)
        return std::nullopt;
    const std::span<const std::uint8_t> fixed = Inside(block, value->bytes);
    if (fixed.size() < kFixedFileInfoSize || Read32(fixed, 0) != kSignature)
        return std::nullopt;
    return static_cast<std::uint64_t>(Read32(fixed, 8)) << 32 | Read32(fixed, 12);
}

VersionIdentity ReadVersionIdentity(VersionApi& api, const Text& path, ByteSource* bytes) {
    VersionIdentity identity;
    if (path.empty())
        return identity;
    std::vector<std::uint8_t> buffer;
    if (std::optional<std::vector<std::uint8_t>> data =
            bytes ? api.VersionDataIn(*bytes) : std::nullopt) {
        buffer = std::move(*data);
    } else {
        std::optional<VersionBuffer> read = NewVersionBuffer(api, path);
        if (!read || !api.ReadVersionInfo(path, read->handle, read->bytes))
            return identity;
        buffer = std::move(read->bytes);
    }
    if (buffer.empty())
        return identity;
    identity.originalFilename = Meaningful(QueryString(api, buffer, u"OriginalFileName"));
    identity.internalName = Meaningful(QueryString(api, buffer, u"InternalName"));
    identity.fileDescription = Meaningful(QueryString(api, buffer, u"FileDescription"));
    identity.productName = Meaningful(QueryString(api, buffer, u"ProductName"));
    identity.fileVersion = FixedFileVersion(api, buffer);
    return identity;
}

Text GetFileCompanyName(VersionApi& api, const Text& path) {
    return Meaningful(ReadFileVersionInfo(api, path).fCompanyName);
}

Text GetFileDescription(VersionApi& api, const Text& path) {
    return Meaningful(ReadFileVersionInfo(api, path).fFileDescription);
}

Text GetFileProductVersion(VersionApi& api, const Text& path) {
    return Meaningful(ReadFileVersionInfo(api, path).fProductVersion);
}

Text GetFileOriginalFilename(VersionApi& api, const Text& path) {
    return Meaningful(ReadFileVersionInfo(api, path).fOriginalFileName);
}

Text GetFileVersionString(VersionApi& api, const Text& path) {
    return Meaningful(ReadFileVersionInfo(api, path).fFileVersion);
}

}  // namespace tolvessa
