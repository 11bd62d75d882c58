// The words for what a vulnerable-driver list matched, as the "Known Vulnerable" cell and the
// reports show them.
#pragma once

#include <vector>

#include "inventory/row_findings.h"
#include "inventory/text.h"

namespace tolvessa {

// "LOLDrivers" or "SiPolicy".
TextView ListFormatText(ListFormat format);
// "file hash", "image hash", "name and version".
TextView MatchedByText(MatchedBy by);
// "MD5", "SHA-1", "SHA-256"; empty for kNone.
TextView MatchedAlgorithmText(MatchedAlgorithm algorithm);
// What matched, in words: "image hash SHA-256", "name and version".
Text MatchedText(const VulnerableMatch& match);

// The "Known Vulnerable" cell of a row: per list entry (or rule), in the order of the matches,
// "<list> <id>[ (<category>)]: <what matched>[, <what matched>...]", the entries joined by
// "; "; empty when there is no match. For example
// "LOLDrivers 0b1c...-9f (vulnerable driver): file hash SHA-256, image hash SHA-256".
Text KnownVulnerableText(const std::vector<VulnerableMatch>& matches);

}  // namespace tolvessa
