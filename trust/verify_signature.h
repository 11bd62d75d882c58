// "Verify File Signature" (VerifyFileSignature1Click): whether the selected file carries a valid
// embedded signature, and who signed it, told in one message box.
#pragma once

#include <functional>
#include <optional>

#include "inventory/file_queries.h"
#include "inventory/text.h"
#include "trust/file_trust.h"

namespace tolvessa {

// The message boxes of the commands: a warning icon for failures and files that cannot be
// found, an information icon for results.
enum class MessageKind { kWarning, kInformation };

inline constexpr TextView kFileNotFoundText = u"Cannot find the file on disk.";
inline constexpr TextView kNotSignedText = u"File is not digitally signed.";
inline constexpr TextView kSignedByText = u"File is signed by ";

// What the command asks of the program.
struct SignatureCommand {
    std::function<bool(const Text& path)> fileExists;    // FileExistsOnDisk
    std::function<bool(const Text& path)> isFileSigned;  // IsFileSigned
    std::function<Text(const Text& path)> signerName;    // GetSignerName
    std::function<void(MessageKind kind, const Text& text)> showMessage;
};

// The command over the platform's file attributes and trust calls, showing through `show`.
// Both objects must outlive the result.
SignatureCommand MakeSignatureCommand(FileAttributeApi& files, TrustApi& trust,
                                      std::function<void(MessageKind, const Text&)> show);

// `imageName` is the "Image Name" cell of the selected row, nothing when no row is selected
// (then nothing happens). A missing file gives the warning; otherwise the verdict decides
// between "File is signed by " + signer name (asked only for a signed file, and empty when it
// cannot be had) and "File is not digitally signed.", both information boxes.
void VerifyFileSignature(const std::optional<Text>& imageName, const SignatureCommand& command);

}  // namespace tolvessa
