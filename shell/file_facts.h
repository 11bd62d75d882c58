// The work of a digest worker on one file, over one build's platform: the digests, then the
// verdict on its signature and the version identity the vulnerable-driver lists match on, as a
// job asks; and what the window's thread makes of a result for the file's row.
#pragma once

#include "inventory/driver_scan.h"
#include "inventory/file_digests.h"
#include "inventory/md5.h"
#include "inventory/version_info.h"
#include "shell/digest_pool.h"
#include "trust/file_verdict.h"
#include "trust/vulnerable_lists.h"

namespace tolvessa {

// `engine` may be null when no job asks for a verdict (a job that does gets none).
FileFacts GatherFileFacts(FileContentApi& content, HashApi& hashes, VersionApi& versions,
                          SignatureEngine* engine, const Text& path, FactsWanted wanted);

// The findings of a row from its result: the verdict as computed, and the row's matches in
// `lists` (none when no list is loaded or the identity was not asked for).
RowFindings FindingsOf(const DriverRow& row, const FileFacts& facts, const VulnerableLists& lists);

// Puts the results of the current list into their rows.
void ApplyResults(DriverList& list, std::vector<DigestResult> results,
                  const VulnerableLists& lists);

// Reads a vulnerable-driver list file through `content` (FileBytes; at most kMaxListFileSize
// bytes, a larger one refused by its size before it is read) and loads it into `lists` under
// its path; a file that cannot be read is reported as such and loads nothing.
ListLoadReport LoadListFile(VulnerableLists& lists, FileContentApi& content, const Text& path);
inline constexpr std::size_t kMaxListFileSize = std::size_t{256} << 20;

// What an interactive run tells about a list that could not be loaded (its path and why), or
// that was cut short (its path, where it ends, and how many entries are used).
Text ListLoadFailureText(const ListLoadReport& report);

}  // namespace tolvessa
