// Kernel names of image files turned into paths. The input's first byte picks the Windows
// directory; the rest is the kernel's path as UTF-16. A U+FFFF unit in it splits off a Windows
// directory of the input's own instead.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.h"
#include "inventory/kernel_path.h"
#include "platform/host/host_system.h"

namespace tolvessa::fuzz {
namespace {

// As GetWindowsDirectoryW may report it: the usual, a root, a short name, blanks around it,
// NULs after it, nothing at all, longer than a path may be.
const std::array<Text, 7> kWindowsDirs = {
    Text(u"C:\\Windows"),
    Text(u"C:\\"),
    Text(u"D:\\WINNT"),
    Text(u"  E:\\Win Dir\\  "),
    Text(u"C:\\Windows\0garbage", 18),
    Text(),
    Text(300, u'x'),
};

constexpr TextView kSystemRoot = u"\\SystemRoot\\";

// The host's directories with the Windows directory taken from the input.
host::HostSystem Platform(Text windowsDir) {
    host::HostSystem p;
    p.windowsDirectory = std::move(windowsDir);
    p.systemDirectory = u"C:\\Windows\\system32";
    return p;
}

// An upper-casing that does not keep the length.
class GrowingCase : public host::HostSystem {
  public:
    Text UpperCase(TextView text) override { return Text(text) + u"!"; }
};

bool HasAnyPattern(PathApi& platform, const Text& path) {
    return path.find(u"\\??\\") != Text::npos || path.find(u"\\\\") != Text::npos ||
           path.find(u"\\?\\") != Text::npos ||
           platform.UpperCase(path).find(platform.UpperCase(kSystemRoot)) != Text::npos;
}

}  // namespace
}  // namespace tolvessa::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tolvessa;
    using namespace tolvessa::fuzz;
    if (size == 0)
        return 0;
    Text path = UnitsOf(std::span(data + 1, size - 1));
    Text windowsDir = kWindowsDirs[data[0] % kWindowsDirs.size()];
    if (const auto split = path.find(u'\xFFFF'); split != Text::npos) {
        windowsDir = path.substr(0, split);
        path.erase(0, split + 1);
    }
    host::HostSystem platform = Platform(windowsDir);

    FUZZ_CHECK(host::UpperCaseKeepLength(path).size() == path.size());

    const Text w = WindowsDirPrefix(platform);
    FUZZ_CHECK(!w.empty() && w.back() == u'\\');
    FUZZ_CHECK(w.find(u'\0') == Text::npos);
    FUZZ_CHECK(w.size() <= 261);

    const Text resolved = ResolveKernelPath(platform, path);
    // Passes only remove text, but for the drive put in front and the one \SystemRoot\ (12
    // characters) that becomes the directory after its drive.
    const std::size_t tail = w.size() >= 2 ? w.size() - 2 : 0;
    FUZZ_CHECK(resolved.size() <= path.size() + 2 + (tail > 12 ? tail - 12 : 0));
    // A path with none of the patterns and no leading backslash is already a file-system path.
    if (!HasAnyPattern(platform, path) && (path.empty() || path.front() != u'\\'))
        FUZZ_CHECK(resolved == path);
    FUZZ_CHECK(ResolveKernelPath(platform, path) == resolved);

    // An upper-casing that changes the length leaves the text as it was.
    GrowingCase growing;
    growing.windowsDirectory = platform.windowsDirectory;
    FUZZ_CHECK(ReplaceFirstIgnoringCase(growing, path, kSystemRoot, u"X") == path);
    const Text once = ReplaceFirstIgnoringCase(platform, path, kSystemRoot, u"");
    FUZZ_CHECK(once.size() == path.size() || once.size() + kSystemRoot.size() == path.size());
    return 0;
}
