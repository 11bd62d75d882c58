#include "trust/vulnerable_text.h"

#include <algorithm>

namespace tolvessa {

TextView ListFormatText(ListFormat format) {
    return format == ListFormat::kSiPolicy ? u"SiPolicy" : u"LOLDrivers";
}

TextView MatchedByText(MatchedBy by) {
    switch (by) {
        case MatchedBy::kFileHash:
            return u"file hash";
        case MatchedBy::kImageHash:
            return u"image hash";
        case MatchedBy::kNameAndVersion:
            break;
    }
    return u"name and version";
}

TextView MatchedAlgorithmText(MatchedAlgorithm algorithm) {
    switch (algorithm) {
        case MatchedAlgorithm::kMd5:
            return u"MD5";
        case MatchedAlgorithm::kSha1:
            return u"SHA-1";
        case MatchedAlgorithm::kSha256:
            return u"SHA-256";
        case MatchedAlgorithm::kNone:
            break;
    }
    return u"";
}

Text MatchedText(const VulnerableMatch& match) {
    Text text(MatchedByText(match.by));
    if (match.algorithm != MatchedAlgorithm::kNone) {
        text += u' ';
        text += MatchedAlgorithmText(match.algorithm);
    }
    return text;
}

Text KnownVulnerableText(const std::vector<VulnerableMatch>& matches) {
    struct Group {
        const VulnerableMatch* first;
        std::vector<Text> what;
    };
    std::vector<Group> groups;
    for (const VulnerableMatch& match : matches) {
        const auto same = [&match](const Group& group) {
            return group.first->source == match.source && group.first->format == match.format &&
                   group.first->id == match.id && group.first->category == match.category;
        };
        auto group = std::find_if(groups.begin(), groups.end(), same);
        if (group == groups.end())
            group = groups.insert(groups.end(), Group{&match, {}});
        Text what = MatchedText(match);
        if (std::find(group->what.begin(), group->what.end(), what) == group->what.end())
            group->what.push_back(std::move(what));
    }
    Text text;
    for (const Group& group : groups) {
        if (!text.empty())
            text += u"; ";
        text += ListFormatText(group.first->format);
        text += u' ';
        text += group.first->id;
        if (!group.first->category.empty())
            text += u" (" + group.first->category + u")";
        text += u":";
        for (std::size_t i = 0; i < group.what.size(); ++i)
            text += (i == 0 ? u" " : u", ") + group.what[i];
    }
    return text;
}

}  // namespace tolvessa
