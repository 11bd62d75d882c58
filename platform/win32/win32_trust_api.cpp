#include "platform/win32/win32_trust_api.h"

#include <windows.h>
// After windows.h:
#include <imagehlp.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <mutex>

#include "commands/file_routines.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/wintrust_data.h"

namespace tolvessa::win32 {

namespace {

constexpr DWORD kVerifyMessageParaSize = sizeof(CRYPT_VERIFY_MESSAGE_PARA);
#if !defined(_WIN64)
static_assert(kVerifyMessageParaSize == 20);
#endif

constexpr DWORD kCertificateTypeAny = 0xFF;  // CERT_SECTION_TYPE_ANY

class Win32TrustFile : public TrustApi::File {
  public:
    explicit Win32TrustFile(ScopedHandle handle) : handle_(std::move(handle)) {}

    HANDLE Handle() const { return handle_.get(); }

    std::uint64_t Size() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(handle_.get(), &size) || size.QuadPart < 0)
            return 0;
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        return ReadFileAt(handle_.get(), offset, buffer);
    }

  private:
    ScopedHandle handle_;
};

// Every imagehlp function is single-threaded by its documentation, and this program calls them
// from the digest workers (a signer the verifier did not name) and from the window's thread
// ("Verify File Signature") alike: each call holds this one lock of the whole process.
std::mutex& ImagehlpLock() {
    static std::mutex lock;
    return lock;
}

HANDLE HandleOf(TrustApi::File& file) {
    return static_cast<Win32TrustFile&>(file).Handle();
}

class Win32Certificate : public TrustApi::Certificate {
  public:
    explicit Win32Certificate(ScopedCertificate certificate)
        : certificate_(std::move(certificate)) {}
    const CERT_CONTEXT* Get() const { return certificate_.get(); }

  private:
    ScopedCertificate certificate_;
};

}  // namespace

std::uint32_t Win32TrustApi::VerifyTrust(const Text& path) {
    // The verifier may load DLLs of its own: it runs with the WOW64 redirection on, and a
    // 32-bit process on 64-bit Windows names a file of the real System32 by its Sysnative alias.
    const std::optional<SystemFolderAlias> alias = ShellSystemFolderAlias();
    const Text checked = alias ? AliasSystemFolder(path, *alias) : path;
    WINTRUST_FILE_INFO file{};
    file.cbStruct = kFileInfoSize;
    file.pcwszFilePath = Wide(checked);

    WINTRUST_DATA data{};
    data.cbStruct = kTrustDataSize;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;

    GUID action = kGenericVerifyV2;
    return static_cast<std::uint32_t>(
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));
}

std::unique_ptr<TrustApi::File> Win32TrustApi::OpenForRead(const Text& path) {
    ScopedHandle handle;
    {
        const ScopedWow64RedirectionOff redirection;
        handle = OwnHandle(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING,
                                         FILE_FLAG_RANDOM_ACCESS | FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!handle)
        return nullptr;
    return std::make_unique<Win32TrustFile>(std::move(handle));
}

std::optional<std::uint32_t> Win32TrustApi::EnumerateCertificates(File& file) {
    DWORD found = 0;
    const std::lock_guard imagehlp(ImagehlpLock());
    if (!::ImageEnumerateCertificates(HandleOf(file), kCertificateTypeAny, &found, nullptr, 0))
        return std::nullopt;
    return found;
}

bool Win32TrustApi::ReadCertificateHeader(File& file, std::uint32_t index,
                                          std::span<std::uint8_t> buffer) {
    if (buffer.size() < sizeof(WIN_CERTIFICATE))
        return false;
    const std::lock_guard imagehlp(ImagehlpLock());
    return ::ImageGetCertificateHeader(HandleOf(file), index,
                                       reinterpret_cast<LPWIN_CERTIFICATE>(buffer.data())) != FALSE;
}

bool Win32TrustApi::ReadCertificateData(File& file, std::uint32_t index,
                                        std::span<std::uint8_t> buffer) {
    if (buffer.size() < sizeof(WIN_CERTIFICATE))
        return false;
    // The in/out length is the buffer's own dwLength field, which the call then overwrites with
    // the same entry's dwLength.
    auto* certificate = reinterpret_cast<LPWIN_CERTIFICATE>(buffer.data());
    const std::lock_guard imagehlp(ImagehlpLock());
    return ::ImageGetCertificateData(HandleOf(file), index, certificate, &certificate->dwLength) !=
           FALSE;
}

std::unique_ptr<TrustApi::Certificate> Win32TrustApi::VerifyMessageSignature(
    std::span<const std::uint8_t> message) {
    CRYPT_VERIFY_MESSAGE_PARA para{};
    para.cbSize = kVerifyMessageParaSize;
    para.dwMsgAndCertEncodingType = PKCS_7_ASN_ENCODING | X509_ASN_ENCODING;
    PCCERT_CONTEXT signer = nullptr;
    const BOOL verified = ::CryptVerifyMessageSignature(
        &para, 0, message.data(), static_cast<DWORD>(message.size()), nullptr, nullptr, &signer);
    ScopedCertificate owned(signer);
    if (!verified || !owned)
        return nullptr;
    return std::make_unique<Win32Certificate>(std::move(owned));
}

std::uint32_t Win32TrustApi::SimpleDisplayName(Certificate& certificate,
                                               std::span<char16_t> buffer) {
    return ::CertGetNameStringW(static_cast<Win32Certificate&>(certificate).Get(),
                                CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                buffer.empty() ? nullptr : reinterpret_cast<LPWSTR>(buffer.data()),
                                static_cast<DWORD>(buffer.size()));
}

}  // namespace tolvessa::win32
