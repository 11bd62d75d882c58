// Version strings of image files. The input is read two ways: as a whole file handed to the
// host PE reader (written to a temporary folder, then read through the three getters), and as
// version data already read, looked up directly.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_file.h"
#include "inventory/pe_image.h"
#include "inventory/version_info.h"
#include "platform/host/host_paths.h"
#include "platform/host/pe_version.h"

namespace tolvessa::fuzz {
namespace {

// The version calls over bytes that are already the version data.
class BlockVersionApi : public VersionApi {
  public:
    explicit BlockVersionApi(std::span<const std::uint8_t> block, const host::HostPaths& paths)
        : block_(block), lookup_(paths) {}

    VersionDataSize VersionInfoSize(const Text&) override {
        return {static_cast<std::uint32_t>(block_.size()), 0};
    }
    bool ReadVersionInfo(const Text&, std::uint32_t, std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min(buffer.size(), block_.size());
        if (n != 0)
            std::memcpy(buffer.data(), block_.data(), n);
        return true;
    }
    std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> block,
                                                  const Text& subBlock) override {
        return lookup_.QueryVersionValue(block, subBlock);
    }

  private:
    std::span<const std::uint8_t> block_;
    host::PeVersionApi lookup_;
};

const TextView kKeys[] = {u"CompanyName", u"FileDescription", u"ProductVersion", u"Comments"};

// A value found in version data lies inside it, or is the empty string of a node without one.
void LookUpEverywhere(host::PeVersionApi& api, std::span<const std::uint8_t> block) {
    std::vector<Text> subBlocks = {u"\\", u"\\VarFileInfo\\Translation", u"\\\\StringFileInfo"};
    if (const auto translation = api.QueryVersionValue(block, u"\\VarFileInfo\\Translation")) {
        const auto bytes = translation->bytes;
        if (bytes.size() >= 4) {
            for (const TextView key : kKeys)
                subBlocks.push_back(StringFileInfoPath(Read16(bytes, 0), Read16(bytes, 2), key));
        }
    }
    for (const Text& subBlock : subBlocks) {
        const auto value = api.QueryVersionValue(block, subBlock);
        if (!value)
            continue;
        // The bytes run from inside the data to its end, or there are none (an empty value).
        const auto rest = BytesFrom(block, value->bytes.data());
        FUZZ_CHECK(value->bytes.empty()
                       ? value->length == 0
                       : rest.data() == value->bytes.data() && rest.size() == value->bytes.size());
    }
}

constexpr Text TFileVersionInfo::*kFields[] = {
    &TFileVersionInfo::fCompanyName,      &TFileVersionInfo::fFileDescription,
    &TFileVersionInfo::fFileVersion,      &TFileVersionInfo::fInternalName,
    &TFileVersionInfo::fLegalCopyRight,   &TFileVersionInfo::fLegalTradeMark,
    &TFileVersionInfo::fOriginalFileName, &TFileVersionInfo::fProductName,
    &TFileVersionInfo::fProductVersion,   &TFileVersionInfo::fComments,
};

Text Meaningful(const Text& field) {
    return TrimBlanks(field).empty() ? Text() : field;
}

}  // namespace
}  // namespace tolvessa::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    using namespace tolvessa::fuzz;
    static const ScratchFile scratch;
    const std::span<const std::uint8_t> bytes(data, size);
    host::PeVersionApi api(scratch.Paths());
    const Text& image = scratch.Path();

    // As a file: the version data lies in it, is read whole into a buffer of exactly its size,
    // and the getters agree with the ten strings read at once.
    const auto written = scratch.Write(bytes);
    const auto [versionSize, handle] = api.VersionInfoSize(image);
    FUZZ_CHECK(handle == 0 && versionSize <= size);
    if (versionSize != 0) {
        std::vector<std::uint8_t> buffer(versionSize);
        FUZZ_CHECK(api.ReadVersionInfo(image, handle, buffer));
        // Only data that starts as a VS_VERSION_INFO root counts as version data.
        FUZZ_CHECK(buffer.size() >= 38 && buffer[6] == 'V' && buffer[7] == 0 && buffer[36] == 0 &&
                   buffer[37] == 0);
        LookUpEverywhere(api, buffer);
    }
    // The same image parsed from memory finds the same version data, where the file has it.
    MemorySource memory(bytes);
    const std::optional<PeImage> parsed = PeImage::Parse(memory);
    const auto found = parsed ? host::FindVersionData(*parsed, memory) : std::nullopt;
    FUZZ_CHECK(found ? found->size == versionSize && RangeFits(size, found->offset, found->size)
                     : versionSize == 0);
    const TFileVersionInfo info = ReadFileVersionInfo(api, image);
    if (versionSize == 0) {
        for (const Text TFileVersionInfo::*field : kFields)
            FUZZ_CHECK((info.*field).empty());
    }
    FUZZ_CHECK(GetFileCompanyName(api, image) == Meaningful(info.fCompanyName));
    FUZZ_CHECK(GetFileDescription(api, image) == Meaningful(info.fFileDescription));
    FUZZ_CHECK(GetFileProductVersion(api, image) == Meaningful(info.fProductVersion));

    // As version data, also at an odd address.
    std::vector<std::uint8_t> shifted(size + 1);
    if (size != 0)
        std::memcpy(shifted.data() + 1, data, size);
    const std::span<const std::uint8_t> odd = std::span(shifted).subspan(1);
    LookUpEverywhere(api, odd);
    BlockVersionApi blockApi(odd, scratch.Paths());
    const TFileVersionInfo fromBlock = ReadFileVersionInfo(blockApi, image);
    for (const Text TFileVersionInfo::*field : kFields)
        FUZZ_CHECK((fromBlock.*field).size() <= size / 2);
    return 0;
}
