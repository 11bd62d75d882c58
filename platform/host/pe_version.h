// The version calls over PE images on the host file system.
#pragma once

#include "inventory/pe_image.h"
#include "inventory/version_info.h"
#include "platform/host/host_paths.h"

namespace tolvessa::host {

// Where the RT_VERSION resource of an image already parsed from `file` lies, when the image has
// one that holds a VS_VERSION_INFO root.
std::optional<PeFileRange> FindVersionData(const PeImage& image, ByteSource& file);

// Reads the RT_VERSION resource of PE32 and PE32+ images and looks values up in it the way
// VerQueryValueW does for Unicode version data. Every call opens the file again and reads only
// the headers (PeImage: with the section table and debug directory), the resource directory
// entries on the way and the resource itself. Truncated or malformed images have no version
// data.
class PeVersionApi : public VersionApi {
  public:
    explicit PeVersionApi(const HostPaths& paths) : paths_(paths) {}

    // Size of the RT_VERSION resource; 0 when there is none, when it is not a VS_VERSION_INFO
    // block, or when the file is not a readable PE image. The handle is always 0.
    VersionDataSize VersionInfoSize(const Text& path) override;

    // Copies the first min(buffer size, resource size) bytes of the resource into `buffer`.
    bool ReadVersionInfo(const Text& path, std::uint32_t handle,
                         std::span<std::uint8_t> buffer) override;

    // Walks the {wLength, wValueLength, wType, szKey, value, children} tree. "\" (or a path
    // of separators only) gives the root's value, the VS_FIXEDFILEINFO. Keys match without
    // regard to ASCII case. The length is the node's wValueLength.
    std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                                  const Text& subBlock) override;

    // The RT_VERSION resource found in the bytes as above, without opening the file; empty when
    // there is none.
    std::optional<std::vector<std::uint8_t>> VersionDataIn(ByteSource& bytes) override;

  private:
    const HostPaths& paths_;
};

}  // namespace tolvessa::host
