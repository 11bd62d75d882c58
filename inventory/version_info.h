// Strings from the version resource of an image file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "inventory/pe_image.h"
#include "inventory/text.h"

namespace tolvessa {

// The size of a file's version data, and the value to hand on to ReadVersionInfo.
struct VersionDataSize {
    std::uint32_t size = 0;
    std::uint32_t handle = 0;
};

// A value found in version data.
struct VersionValue {
    // From the value's start to the end of the version data; empty for an empty value that the
    // platform keeps outside it.
    std::span<const std::uint8_t> bytes;
    // The value's length as the platform reports it (not relied upon).
    std::uint32_t length = 0;
};

// The bytes of `block` from `value` on; empty when `value` does not point inside the block.
std::span<const std::uint8_t> BytesFrom(std::span<const std::uint8_t> block, const void* value);

// The three version-information calls, as the platform offers them. On Windows these are
// GetFileVersionInfoSizeW, GetFileVersionInfoW and VerQueryValueW; elsewhere a PE reader.
class VersionApi {
  public:
    virtual ~VersionApi() = default;

    // Size in bytes of the file's version data; 0 when the file is missing, unreadable or has
    // no version resource. The handle is passed on unchanged to ReadVersionInfo.
    virtual VersionDataSize VersionInfoSize(const Text& path) = 0;

    // Fills `buffer` (as many bytes as the size query reported) with the version data.
    virtual bool ReadVersionInfo(const Text& path, std::uint32_t handle,
                                 std::span<std::uint8_t> buffer) = 0;

    // Looks up a sub-block ("\VarFileInfo\Translation", "\StringFileInfo\040904B0\CompanyName")
    // in version data filled by ReadVersionInfo; nothing when it is not there.
    virtual std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                                          const Text& subBlock) = 0;

    // The version data of a file whose bytes are at hand (the digest workers' one pass over it),
    // as ReadVersionInfo would fill it: empty when the bytes hold none. Nothing where the
    // platform reads version data by the file's path alone (GetFileVersionInfoW opens the file
    // itself): the caller then asks by path.
    virtual std::optional<std::vector<std::uint8_t>> VersionDataIn(ByteSource& /*bytes*/) {
        return std::nullopt;
    }
};

struct TFileVersionInfo {
    Text fCompanyName;
    Text fFileDescription;
    Text fFileVersion;
    Text fInternalName;
    Text fLegalCopyRight;
    Text fLegalTradeMark;
    Text fOriginalFileName;
    Text fProductName;
    Text fProductVersion;
    Text fComments;
};

// Reads all ten strings of the first translation. An empty path makes no call.
TFileVersionInfo ReadFileVersionInfo(VersionApi& api, const Text& path);

// One string each; the empty text when the string is missing or made of blanks only, otherwise
// the string exactly as stored (blanks around it included).
Text GetFileCompanyName(VersionApi& api, const Text& path);
Text GetFileDescription(VersionApi& api, const Text& path);
Text GetFileProductVersion(VersionApi& api, const Text& path);
// The name the file was built under, as code-integrity rules name files.
Text GetFileOriginalFilename(VersionApi& api, const Text& path);
// The FileVersion string (not the binary version of the fixed part).
Text GetFileVersionString(VersionApi& api, const Text& path);

// What code-integrity rules name a file by in its version resource: four strings of the first
// translation (the empty text when missing or made of blanks only) and the binary file version
// of the fixed file information (VS_FIXEDFILEINFO dwFileVersionMS in the high half,
// dwFileVersionLS in the low), nothing when the resource has no fixed file information.
struct VersionIdentity {
    Text originalFilename;
    Text internalName;
    Text fileDescription;
    Text productName;
    std::optional<std::uint64_t> fileVersion;
    bool operator==(const VersionIdentity&) const = default;
};

// Reads the version data once: from `bytes` (the file's bytes at hand) where the platform reads
// it from them (VersionDataIn), else by path. An empty path makes no call.
VersionIdentity ReadVersionIdentity(VersionApi& api, const Text& path, ByteSource* bytes = nullptr);

// The binary file version of the fixed file information ("\") in version data already read:
// nothing unless it is all there with its signature 0xFEEF04BD.
std::optional<std::uint64_t> FixedFileVersion(VersionApi& api, std::span<const std::uint8_t> block);

// "\StringFileInfo\" + language and code page as 4+4 uppercase hex digits + "\" + key.
Text StringFileInfoPath(std::uint16_t language, std::uint16_t codePage, TextView key);

}  // namespace tolvessa
