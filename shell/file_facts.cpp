#include "shell/file_facts.h"

#include "inventory/file_bytes.h"

namespace tolvessa {

FileFacts GatherFileFacts(FileContentApi& content, HashApi& hashes, VersionApi& versions,
                          SignatureEngine* engine, const Text& path, FactsWanted wanted) {
    // Each step that fails (memory runs out, a platform call throws) leaves its own cells empty
    // and the next step still runs.
    FileFacts facts;
    const bool verdict = wanted.verdict && engine;
    // The verdict and the identity from the bytes the digests were taken over, while they are
    // held: the file is read once. The catalogs are searched by the image hashes just computed.
    // `bytes` is null when the file could not be read in that pass: the steps then ask by path,
    // and so tell a file that is gone from one that may not be read.
    auto judge = [&](ByteSource* bytes) {
        if (verdict) {
            try {
                facts.trust = JudgeFile(*engine, path, facts.digests, bytes);
            } catch (...) {
                facts.trust.reset();
            }
        }
        if (wanted.identity) {
            try {
                facts.identity = ReadVersionIdentity(versions, path, bytes);
            } catch (...) {
                facts.identity = VersionIdentity();
            }
        }
    };
    bool judged = false;
    ParseBytes parse;
    if (verdict || wanted.identity) {
        parse = [&](ByteSource& bytes, const FileDigests& digests) {
            facts.digests = digests;
            judged = true;
            judge(&bytes);
        };
    }
    try {
        facts.digests = ReadFileOnce(content, hashes, path, parse);
    } catch (...) {
        facts.digests = FileDigests();
    }
    if (!judged)
        judge(nullptr);
    return facts;
}

RowFindings FindingsOf(const DriverRow& row, const FileFacts& facts, const VulnerableLists& lists) {
    RowFindings findings;
    findings.trust = facts.trust;
    findings.vulnerable =
        lists.Match(MakeFileIdentity(row[kMd5Hash], facts.digests, facts.identity));
    return findings;
}

void ApplyResults(DriverList& list, std::vector<DigestResult> results,
                  const VulnerableLists& lists) {
    for (DigestResult& result : results) {
        if (result.row >= list.Count())
            continue;
        RowFindings findings = FindingsOf(list.Row(result.row), result, lists);
        list.SetDigests(result.row, std::move(result.digests));
        list.SetFindings(result.row, std::move(findings));
    }
}

ListLoadReport LoadListFile(VulnerableLists& lists, FileContentApi& content, const Text& path) {
    auto unread = [&](Text why) {
        ListLoadReport report;
        report.source = path;
        report.error = std::move(why);
        return report;
    };
    const FileBytes::Limited file = FileBytes::LoadAtMost(content, path, kMaxListFileSize);
    if (file.tooLarge)
        return unread(u"the file is larger than " + DecimalText(kMaxListFileSize >> 20) + u" MiB");
    if (!file.bytes)
        return unread(u"the file cannot be opened or read");
    return lists.Load(file.bytes->Bytes(), path);
}

Text ListLoadFailureText(const ListLoadReport& report) {
    if (!report.error.empty()) {
        return u"The vulnerable driver list \"" + report.source + u"\" could not be loaded: " +
               report.error + u".";
    }
    return u"The vulnerable driver list \"" + report.source + u"\" is cut short: it ends " +
           report.cutAt + u". Only what comes before that is used (" + DecimalText(report.entries) +
           (report.entries == 1 ? u" entry)." : u" entries).");
}

}  // namespace tolvessa
