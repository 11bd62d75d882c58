#include "platform/win32/win32_signature_engine.h"

#include <windows.h>
// After windows.h:
#include <mscat.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_trust_api.h"
#include "platform/win32/wintrust_data.h"
#include "trust/catalog_list.h"

namespace tolvessa::win32 {

namespace {

// How the engine calls WinVerifyTrust on a WINTRUST_DATA.
using TrustCall = std::function<long(WINTRUST_DATA&)>;

// Runs WinVerifyTrust with the state kept (WTD_STATEACTION_VERIFY) and closes the state when it
// goes (WTD_STATEACTION_CLOSE), whatever the verdict.
class VerifiedTrustState {
  public:
    VerifiedTrustState(WINTRUST_DATA& data, TrustCall call) : data_(data), call_(std::move(call)) {
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        status_ = static_cast<std::uint32_t>(call_(data_));
    }
    ~VerifiedTrustState() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        call_(data_);
    }
    VerifiedTrustState(const VerifiedTrustState&) = delete;
    VerifiedTrustState& operator=(const VerifiedTrustState&) = delete;

    std::uint32_t Status() const { return status_; }

    // The simple display name of the first signer: the leaf of its chain, or, where no chain was
    // built, the certificate the message's stores hold for its issuer and serial number. The
    // provider data belongs to the state and lives as long as it does.
    Text SignerName() const {
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer =
            provider ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (!signer)
            return {};
        if (signer->csCertChain > 0 && signer->pasCertChain && signer->pasCertChain[0].pCert)
            return NameOf(signer->pasCertChain[0].pCert);
        if (!signer->psSigner)
            return {};
        CERT_INFO wanted{};
        wanted.Issuer = signer->psSigner->Issuer;
        wanted.SerialNumber = signer->psSigner->SerialNumber;
        for (DWORD i = 0; i < provider->chStores; ++i) {
            const ScopedCertificate carried(::CertGetSubjectCertificateFromStore(
                provider->pahStores[i], X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &wanted));
            if (carried)
                return NameOf(carried.get());
        }
        return {};
    }

  private:
    static Text NameOf(const CERT_CONTEXT* certificate) {
        const DWORD needed = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0,
                                                  nullptr, nullptr, 0);
        if (needed <= 1)
            return {};
        std::vector<wchar_t> name(needed, L'\0');
        const DWORD written = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0,
                                                   nullptr, name.data(), needed);
        return written > 1 ? FromWide(name.data(), written - 1) : Text();
    }

    WINTRUST_DATA& data_;
    TrustCall call_;
    std::uint32_t status_ = 0;
};

// Opens the file for a check: with the WOW64 redirection off for CreateFileW alone (the real
// System32), GENERIC_READ, OPEN_EXISTING. `error` gets CreateFileW's error, taken before the
// redirection is turned back on.
ScopedHandle OpenForCheck(const Text& path, DWORD share, DWORD flags, DWORD& error) {
    const ScopedWow64RedirectionOff realSystem32;
    ScopedHandle handle = OwnHandle(
        ::CreateFileW(Wide(path), GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr));
    error = handle ? ERROR_SUCCESS : ::GetLastError();
    return handle;
}

// The verifier's status for a file that could not be opened: the open's error as an HRESULT.
std::uint32_t OpenFailureStatus(DWORD error) {
    if (error == ERROR_SUCCESS)
        return static_cast<std::uint32_t>(E_FAIL);  // never 0, which would accept the file
    return static_cast<std::uint32_t>(HRESULT_FROM_WIN32(error));
}

// The common part of both checks: no UI, no revocation, nothing fetched from the network.
WINTRUST_DATA TrustData(DWORD unionChoice) {
    WINTRUST_DATA data{};
    data.cbStruct = kTrustDataSize;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = unionChoice;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    return data;
}

struct CatalogAdminReleaser {
    void operator()(HCATADMIN admin) const { ::CryptCATAdminReleaseContext(admin, 0); }
};
using ScopedCatalogAdmin = std::unique_ptr<void, CatalogAdminReleaser>;

// A catalog context that the enumeration handed out, released with its administrator context.
class ScopedCatalogInfo {
  public:
    ScopedCatalogInfo(HCATADMIN admin, HCATINFO info) : admin_(admin), info_(info) {}
    ~ScopedCatalogInfo() {
        if (info_)
            ::CryptCATAdminReleaseCatalogContext(admin_, info_, 0);
    }
    ScopedCatalogInfo(const ScopedCatalogInfo&) = delete;
    ScopedCatalogInfo& operator=(const ScopedCatalogInfo&) = delete;

    HCATINFO get() const { return info_; }
    // Hands the context back to the enumeration, which releases it or goes on from it: the
    // next one (or nothing) becomes this object's.
    void Next(BYTE* hash, DWORD size) {
        HCATINFO previous = info_;
        info_ = nullptr;
        info_ = ::CryptCATAdminEnumCatalogFromHash(admin_, hash, size, 0, &previous);
    }

  private:
    HCATADMIN admin_;
    HCATINFO info_;
};

// Resolved at run time: CryptCATAdminAcquireContext2 (Windows 8 and later) and
// CryptCATAdminCalcHashFromFileHandle2 (Windows 8 and later; Wine 8 has none).
using AcquireContext2Function = BOOL(WINAPI*)(HCATADMIN*, const GUID*, PCWSTR,
                                              PCCERT_STRONG_SIGN_PARA, DWORD);
using CalcHash2Function = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);

// A worker never looks at more catalogs for one hash than this.
constexpr int kMaxCatalogsPerHash = 32;

Text FileNameOf(const wchar_t* path) {
    const Text full = FromWide(path);
    const std::size_t slash = full.find_last_of(u"\\/");
    return slash == Text::npos ? full : full.substr(slash + 1);
}

static_assert(offsetof(WINTRUST_CATALOG_INFO, hCatAdmin) > 0,
              "WINTRUST_CATALOG_INFO with the catalog administrator context expected");

}  // namespace

struct Win32SignatureEngine::CatalogAdmins {
    ScopedCatalogAdmin sha256;
    ScopedCatalogAdmin sha1;
};

Win32SignatureEngine::Win32SignatureEngine() : admins_(std::make_unique<CatalogAdmins>()) {}

Win32SignatureEngine::~Win32SignatureEngine() = default;

long Win32SignatureEngine::VerifyTrustCall(void* data) {
    GUID action = kGenericVerifyV2;
    return ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, data);
}

SignatureEngine::Answer Win32SignatureEngine::CheckEmbedded(const Text& path) {
    DWORD error = ERROR_SUCCESS;
    const ScopedHandle handle = OpenForCheck(path, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, error);
    if (!handle)
        return {OpenFailureStatus(error), {}, {}};
    WINTRUST_FILE_INFO file{};
    file.cbStruct = kFileInfoSize;
    file.pcwszFilePath = Wide(path);
    file.hFile = handle.get();
    WINTRUST_DATA data = TrustData(WTD_CHOICE_FILE);
    data.pFile = &file;

    Answer answer;
    {
        const VerifiedTrustState state(data,
                                       [this](WINTRUST_DATA& d) { return VerifyTrustCall(&d); });
        answer = {state.Status(), state.SignerName(), {}};
    }
    // Where the verifier stopped before it loaded the signer (Wine does so on a digest that does
    // not match), the signer as "Verify File Signature" names it.
    switch (answer.status) {
        case trust_status::kTrusted:
        case trust_status::kNoSignature:
        case trust_status::kSubjectFormUnknown:
        case trust_status::kFileNotFound:
        case trust_status::kPathNotFound:
            break;
        default:
            if (answer.signer.empty() && !IsUnreadableStatus(answer.status)) {
                Win32TrustApi command;
                answer.signer = GetSignerName(command, path);
            }
            break;
    }
    return answer;
}

std::optional<SignatureEngine::Answer> Win32SignatureEngine::CheckCatalogs(
    const Text& path, const FileDigests& digests) {
    if (!acquired_) {
        acquired_ = true;
        HCATADMIN admin = nullptr;
        const auto acquire2 = SystemFunction<AcquireContext2Function>(
            L"wintrust.dll", "CryptCATAdminAcquireContext2");
        if (acquire2 && acquire2(&admin, nullptr, L"SHA256", nullptr, 0))
            admins_->sha256.reset(admin);
        if (acquire2 && acquire2(&admin, nullptr, L"SHA1", nullptr, 0))
            admins_->sha1.reset(admin);
        if (!admins_->sha1 && ::CryptCATAdminAcquireContext(&admin, nullptr, 0))
            admins_->sha1.reset(admin);
    }

    // Without the file (held open by another program), the digests' image hash alone.
    DWORD unopened = ERROR_SUCCESS;
    const ScopedHandle file =
        OpenForCheck(path, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_SEQUENTIAL_SCAN, unopened);
    const auto calcHash2 =
        SystemFunction<CalcHash2Function>(L"wintrust.dll", "CryptCATAdminCalcHashFromFileHandle2");

    std::optional<Answer> first;
    // The digests step's image hashes, as bytes.
    const auto bytesOf = [](const auto& digest) {
        return digest ? std::vector<BYTE>(digest->begin(), digest->end()) : std::vector<BYTE>();
    };
    const std::array<std::pair<HCATADMIN, std::vector<BYTE>>, 2> lookups{
        {{admins_->sha256.get(), bytesOf(digests.peSha256)},
         {admins_->sha1.get(), bytesOf(digests.peSha1)}}};
    for (const auto& [admin, passedIn] : lookups) {
        if (!admin)
            continue;
        // The system's own hash for this context; the digests step's image hash without it.
        std::vector<BYTE> hash(64);
        DWORD size = static_cast<DWORD>(hash.size());
        if (calcHash2 && file && calcHash2(admin, file.get(), &size, hash.data(), 0) &&
            size <= hash.size()) {
            hash.resize(size);
        } else {
            hash = passedIn;
        }
        if (hash.empty())
            continue;
        const Text tag = DigestHex(hash);

        ScopedCatalogInfo catalog(
            admin, ::CryptCATAdminEnumCatalogFromHash(admin, hash.data(),
                                                      static_cast<DWORD>(hash.size()), 0, nullptr));
        for (int seen = 0; catalog.get() && seen < kMaxCatalogsPerHash; ++seen) {
            CATALOG_INFO info{};
            info.cbStruct = sizeof(info);
            if (::CryptCATCatalogInfoFromContext(catalog.get(), &info, 0)) {
                WINTRUST_CATALOG_INFO member{};
                member.cbStruct = sizeof(member);
                member.pcwszCatalogFilePath = info.wszCatalogFile;
                member.pcwszMemberTag = Wide(tag);
                member.pcwszMemberFilePath = Wide(path);
                member.hMemberFile = file.get();
                member.pbCalculatedFileHash = hash.data();
                member.cbCalculatedFileHash = static_cast<DWORD>(hash.size());
                member.hCatAdmin = admin;
                WINTRUST_DATA data = TrustData(WTD_CHOICE_CATALOG);
                data.pCatalog = &member;
                const VerifiedTrustState state(
                    data, [this](WINTRUST_DATA& d) { return VerifyTrustCall(&d); });
                Answer answer{state.Status(), state.SignerName(), FileNameOf(info.wszCatalogFile)};
                if (answer.status == trust_status::kTrusted)
                    return answer;
                if (!first)
                    first = std::move(answer);
            }
            catalog.Next(hash.data(), static_cast<DWORD>(hash.size()));
        }
    }
    return first;
}

}  // namespace tolvessa::win32
