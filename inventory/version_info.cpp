#include "inventory/version_info.h"

#include <cstddef>
#include <new>
#include <vector>

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

// Bytes of `block` from `value` on; 0 when `value` is null or does not point inside the block.
std::size_t BytesFrom(std::span<const std::uint8_t> block, const void* value) {
    if (value == nullptr || block.empty())
        return 0;
    const auto begin = reinterpret_cast<std::uintptr_t>(block.data());
    const auto at = reinterpret_cast<std::uintptr_t>(value);
    if (at < begin || at - begin >= block.size())
        return 0;
    return block.size() - (at - begin);
}

// The UTF-16 text at `value`, up to its first NUL or the end of the block, whichever is first.
// The units are put together byte by byte: the value need not be aligned.
Text TextAt(std::span<const std::uint8_t> block, const void* value) {
    const std::size_t available = BytesFrom(block, value) / 2;
    const auto* p = static_cast<const std::uint8_t*>(value);
    Text out;
    for (std::size_t i = 0; i < available; ++i) {
        const auto unit = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
        if (unit == u'\0')
            break;
        out.push_back(unit);
    }
    return out;
}

// One string of the first translation in version data already read into `block`.
Text QueryString(VersionApi& api, std::span<const std::uint8_t> block, TextView key) {
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (!api.QueryVersionValue(block, Text(kTranslationPath), value, length))
        return {};
    if (BytesFrom(block, value) < 4)
        return {};
    const auto* p = static_cast<const std::uint8_t*>(value);
    const auto language = static_cast<std::uint16_t>(p[0] | p[1] << 8);
    const auto codePage = static_cast<std::uint16_t>(p[2] | p[3] << 8);

    value = nullptr;
    length = 0;
    if (!api.QueryVersionValue(block, StringFileInfoPath(language, codePage, key), value, length)) {
        return {};
    }
    return TextAt(block, value);
}

Text Meaningful(Text field) {
    if (TrimBlanks(field).empty())
        return {};
    return field;
}

}  // namespace

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
    if (path.empty())
        return info;

    std::uint32_t handle = 0;
    const std::uint32_t size = api.VersionInfoSize(path, handle);
    if (size == 0)
        return info;
    // A size that cannot be had in memory is the same as no version data.
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return info;
    }

    // The data is read again before every key; a read that fails leaves only that string empty.
    for (const StringKey& entry : kStringKeys) {
        Text& field = info.*entry.field;
        field.clear();
        if (!api.ReadVersionInfo(path, handle, buffer))
            continue;
        field = QueryString(api, buffer, entry.key);
    }
    return info;
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

}  // namespace tolvessa
