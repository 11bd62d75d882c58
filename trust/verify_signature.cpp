#include "trust/verify_signature.h"

namespace tolvessa {

SignatureCommand MakeSignatureCommand(FileAttributeApi& files, TrustApi& trust,
                                      std::function<void(MessageKind, const Text&)> show) {
    SignatureCommand command;
    command.fileExists = [&files](const Text& path) { return FileExistsOnDisk(files, path); };
    command.isFileSigned = [&trust](const Text& path) { return IsFileSigned(trust, path); };
    command.signerName = [&trust](const Text& path) { return GetSignerName(trust, path); };
    command.showMessage = std::move(show);
    return command;
}

void VerifyFileSignature(const std::optional<Text>& imageName, const SignatureCommand& command) {
    if (!imageName)
        return;
    const Text& path = *imageName;
    if (!command.fileExists(path)) {
        command.showMessage(MessageKind::kWarning, Text(kFileNotFoundText));
        return;
    }
    if (command.isFileSigned(path)) {
        command.showMessage(MessageKind::kInformation,
                            Text(kSignedByText) + command.signerName(path));
        return;
    }
    command.showMessage(MessageKind::kInformation, Text(kNotSignedText));
}

}  // namespace tolvessa
