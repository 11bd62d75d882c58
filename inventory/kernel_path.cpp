#include "inventory/kernel_path.h"

namespace tolvessa {

namespace {
constexpr std::size_t kMaxPath = 260;
}

Text WindowsDirPrefix(PathApi& platform) {
    Text dir = platform.WindowsDirectory();
    const auto nul = dir.find(u'\0');
    if (nul != Text::npos)
        dir.resize(nul);
    if (dir.size() > kMaxPath)
        dir.resize(kMaxPath);
    Text w(TrimBlanks(dir));
    if (w.empty() || w.back() != u'\\')
        w.push_back(u'\\');
    return w;
}

Text ReplaceAll(TextView text, TextView pattern, TextView replacement) {
    if (pattern.empty())
        return Text(text);
    Text out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(pattern, from);
        if (at == TextView::npos)
            break;
        out.append(text.substr(from, at - from));
        out.append(replacement);
        from = at + pattern.size();
    }
    out.append(text.substr(from));
    return out;
}

Text ReplaceFirstIgnoringCase(PathApi& platform, TextView text, TextView pattern,
                              TextView replacement) {
    if (pattern.empty())
        return Text(text);
    const Text upperText = platform.UpperCase(text);
    const Text upperPattern = platform.UpperCase(pattern);
    // The upper-casing keeps the length; a platform that did not would make positions meaningless.
    if (upperText.size() != text.size() || upperPattern.size() != pattern.size()) {
        return Text(text);
    }
    const std::size_t at = upperText.find(upperPattern);
    if (at == Text::npos)
        return Text(text);
    Text out(text.substr(0, at));
    out.append(replacement);
    out.append(text.substr(at + pattern.size()));
    return out;
}

Text ResolveKernelPath(PathApi& platform, const Text& path) {
    const Text w = WindowsDirPrefix(platform);
    Text s = ReplaceAll(path, u"\\??\\", u"");
    if (!s.empty() && s.front() == u'\\') {
        Text drive;
        drive.push_back(w.front());
        drive.push_back(u':');
        s.insert(0, drive);
    }
    s = ReplaceAll(s, u"\\\\", u"\\");
    s = ReplaceAll(s, u"\\?\\", u"");
    const TextView wTail = w.size() >= 2 ? TextView(w).substr(2) : TextView();
    s = ReplaceFirstIgnoringCase(platform, s, u"\\SystemRoot\\", wTail);
    s = ReplaceAll(s, u"\\\\", u"\\");
    return s;
}

Text GetSystemDir(PathApi& platform) {
    return platform.SystemDirectory();
}

}  // namespace tolvessa
