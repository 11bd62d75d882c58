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

    std::uint32_t VersionInfoSize(const Text&, std::uint32_t& handle) override {
        handle = 0;
        return static_cast<std::uint32_t>(block_.size());
    }
    bool ReadVersionInfo(const Text&, std::uint32_t, std::span<std::uint8_t> buffer) override {
        const std::size_t n = std::min(buffer.size(), block_.size());
        if (n != 0)
            std::memcpy(buffer.data(), block_.data(), n);
        return true;
    }
    bool QueryVersionValue(std::span<const std::uint8_t> block, const Text& subBlock,
                           const void*& value, std::uint32_t& length) override {
        return lookup_.QueryVersionValue(block, subBlock, value, length);
    }

  private:
    std::span<const std::uint8_t> block_;
    host::PeVersionApi lookup_;
};

// Bytes of `block` from `value` on; 0 when `value` does not point inside it.
std::size_t BytesFrom(std::span<const std::uint8_t> block, const void* value) {
    const auto begin = reinterpret_cast<std::uintptr_t>(block.data());
    const auto at = reinterpret_cast<std::uintptr_t>(value);
    return at < begin || at - begin >= block.size() ? 0 : block.size() - (at - begin);
}

const TextView kKeys[] = {u"CompanyName", u"FileDescription", u"ProductVersion", u"Comments"};

// A value found in version data lies inside it, or is the empty string of a node without one.
void LookUpEverywhere(host::PeVersionApi& api, std::span<const std::uint8_t> block) {
    std::vector<Text> subBlocks = {u"\\", u"\\VarFileInfo\\Translation", u"\\\\StringFileInfo"};
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (api.QueryVersionValue(block, u"\\VarFileInfo\\Translation", value, length)) {
        const auto* p = static_cast<const std::uint8_t*>(value);
        if (BytesFrom(block, p) >= 4) {
            const auto language = static_cast<std::uint16_t>(p[0] | p[1] << 8);
            const auto codePage = static_cast<std::uint16_t>(p[2] | p[3] << 8);
            for (const TextView key : kKeys)
                subBlocks.push_back(StringFileInfoPath(language, codePage, key));
        }
    }
    for (const Text& subBlock : subBlocks) {
        value = nullptr;
        if (!api.QueryVersionValue(block, subBlock, value, length))
            continue;
        FUZZ_CHECK(BytesFrom(block, value) != 0 || *static_cast<const char16_t*>(value) == u'\0');
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
    std::uint32_t handle = 7;
    const std::uint32_t versionSize = api.VersionInfoSize(image, handle);
    FUZZ_CHECK(handle == 0 && versionSize <= size);
    if (versionSize != 0) {
        std::vector<std::uint8_t> buffer(versionSize);
        FUZZ_CHECK(api.ReadVersionInfo(image, handle, buffer));
        // Only data that starts as a VS_VERSION_INFO root counts as version data.
        FUZZ_CHECK(buffer.size() >= 38 && buffer[6] == 'V' && buffer[7] == 0 && buffer[36] == 0 &&
                   buffer[37] == 0);
        LookUpEverywhere(api, buffer);
    }
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
