#include "platform/host/host_paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

namespace tolvessa::host {

namespace {

char16_t UpperDrive(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Finds `name` in `folder` without regard to ASCII case; the exact spelling when none matches.
std::string MatchInFolder(const std::string& folder, const std::string& name) {
    struct DirCloser {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    using DirPtr = std::unique_ptr<DIR, DirCloser>;
    DirPtr dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir)
        return name;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0)
            return entry->d_name;
    }
    return name;
}

}  // namespace

HostPaths::HostPaths() {
    drives_[u'Z'] = "/";
}

void HostPaths::MapDrive(char16_t letter, std::string folder) {
    drives_[UpperDrive(letter)] = std::move(folder);
}

std::string HostPaths::ToHost(const Text& path) const {
    if (path.empty() || path.find(u'\0') != Text::npos)
        return {};
    std::string prefix;
    TextView rest = path;
    if (path.size() >= 2 && path[1] == u':') {
        const auto drive = drives_.find(UpperDrive(path[0]));
        if (drive == drives_.end())
            return {};
        prefix = drive->second;
        rest = rest.substr(2);
        if (prefix.empty() || prefix.back() != '/')
            prefix.push_back('/');
    } else if (path[0] == u'\\' || path[0] == u'/') {
        prefix = "/";
    }

    std::vector<std::string> parts;
    std::string utf8 = TextToUtf8(rest);
    std::size_t start = 0;
    while (start <= utf8.size()) {
        std::size_t end = utf8.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = utf8.size();
        std::string part = utf8.substr(start, end - start);
        if (!part.empty() && part != ".")
            parts.push_back(std::move(part));
        start = end + 1;
    }

    std::string exact = prefix;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i)
            exact.push_back('/');
        exact += parts[i];
    }
    if (parts.empty() || Exists(exact))
        return exact;

    // Walk the components, matching each without regard to case, as Wine does.
    std::string folder = prefix;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string candidate = folder + parts[i];
        if (!Exists(candidate)) {
            std::string trimmed = folder;
            if (trimmed.size() > 1 && trimmed.back() == '/')
                trimmed.pop_back();
            candidate = folder + MatchInFolder(trimmed, parts[i]);
        }
        folder = candidate;
        if (i + 1 < parts.size())
            folder.push_back('/');
    }
    return folder;
}

}  // namespace tolvessa::host
