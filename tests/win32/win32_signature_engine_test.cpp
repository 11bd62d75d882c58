// The signature engine through the real Win32 calls (under Wine here), on the signed images and
// catalogs of the host engine's tests (see tests/fixtures/trust/make_signed_images.py). Where
// Wine does less than Windows, the case says so and is skipped under Wine.
#include <windows.h>
// After windows.h:
#include <mscat.h>
#include <wintrust.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/cng_hash.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/win32_inventory.h"
#include "platform/win32/win32_signature_engine.h"
#include "platform/win32/win32_trust_api.h"

namespace tolvessa::win32 {
namespace {

using V = SignatureVerdict;

constexpr const char16_t* kSigner = u"Tolvessa Test Signer";

// A path below the images' folder as Windows sees it: Z: is the host's root.
Text ImagePath(const std::string& name) {
    Text path = u"Z:" + Utf8ToText(std::string(TOLVESSA_TRUST_FIXTURE_DIR) + "/" + name);
    for (char16_t& c : path) {
        if (c == u'/')
            c = u'\\';
    }
    return path;
}

bool RunsUnderWine() {
    return SystemFunction<const char*(CDECL*)()>(L"ntdll.dll", "wine_get_version") != nullptr;
}

// The digests step and the verdict, as a worker runs them on one file.
class Worker {
  public:
    FileDigests Digests(const Text& path) { return ComputeFileDigests(content_, hashes_, path); }
    FileTrust Judge(const Text& path) { return JudgeFile(engine_, path, Digests(path)); }

  private:
    Win32FileContent content_;
    CngHashApi hashes_;
    Win32SignatureEngine engine_;
};

struct Case {
    const char* image;
    V verdict;
    const char16_t* signer;
    const char16_t* catalog;
};

void ExpectTrust(const FileTrust& trust, const Case& c) {
    SCOPED_TRACE(c.image);
    EXPECT_EQ(TextToUtf8(VerdictText(trust.verdict)), TextToUtf8(VerdictText(c.verdict)));
    EXPECT_EQ(TextToUtf8(trust.signer), TextToUtf8(c.signer));
    EXPECT_EQ(TextToUtf8(trust.catalog), TextToUtf8(c.catalog));
}

// The test catalogs, added to the system's catalog folder with CryptCATAdminAddCatalog for as
// long as this lives (and removed first, should an earlier run have left them there).
class AddedCatalogs {
  public:
    // Adds the catalogs at `relativePaths`, after removing those at `stale` (by default, the same).
    explicit AddedCatalogs(const std::vector<std::string>& relativePaths,
                           std::optional<std::vector<std::string>> stale = std::nullopt) {
        HCATADMIN admin = nullptr;
        if (!::CryptCATAdminAcquireContext(&admin, nullptr, 0))
            return;
        admin_.reset(admin);
        for (const std::string& relative : stale.value_or(relativePaths))
            Remove(NameOf(relative));
        for (const std::string& relative : relativePaths) {
            Text name = NameOf(relative);
            Text path = ImagePath(relative);
            HCATINFO info =
                ::CryptCATAdminAddCatalog(admin_.get(), reinterpret_cast<wchar_t*>(path.data()),
                                          reinterpret_cast<wchar_t*>(name.data()), 0);
            if (!info)
                continue;
            ::CryptCATAdminReleaseCatalogContext(admin_.get(), info, 0);
            names_.push_back(std::move(name));
        }
    }
    ~AddedCatalogs() {
        for (const Text& name : names_)
            Remove(name);
    }
    AddedCatalogs(const AddedCatalogs&) = delete;
    AddedCatalogs& operator=(const AddedCatalogs&) = delete;

    std::size_t Count() const { return names_.size(); }

  private:
    static Text NameOf(const std::string& relative) {
        return Utf8ToText(relative.substr(relative.find_last_of('/') + 1));
    }
    void Remove(const Text& name) { ::CryptCATAdminRemoveCatalog(admin_.get(), Wide(name), 0); }

    struct Releaser {
        void operator()(HCATADMIN admin) const { ::CryptCATAdminReleaseContext(admin, 0); }
    };
    std::unique_ptr<void, Releaser> admin_;
    std::vector<Text> names_;
};

const std::string kCatalogFolder = "catroot/{F750E6C3-38EE-11D1-85E5-00C04FC295EE}/";

// The catalogs a system catalog folder can hold: Windows does not add a file that is no catalog,
// and Wine's look-up would go round forever on one it cannot open.
std::vector<std::string> TestCatalogs() {
    return {kCatalogFolder + "tolvessa_test.cat",
            kCatalogFolder + "stray.cat",
            kCatalogFolder + "server_usage.cat",
            kCatalogFolder + "broken.cat",
            kCatalogFolder + "unsigned.cat",
            "catroot/{127D0A1D-4EF2-11D1-8608-00C04FC295EE}/nested/sha1_only.cat"};
}

// Every test starts without the test catalogs in the system's catalog folder, also after an
// earlier run that ended before it could remove them.
class Win32SignatureEngineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { AddedCatalogs none({}, TestCatalogs()); }
};

// The embedded cases whose verdict Wine gives as Windows does.
TEST_F(Win32SignatureEngineTest, EmbeddedSignatures) {
    const Case cases[] = {
        {"unsigned", V::kUnsigned, u"", u""},
        {"signed", V::kEmbedded, kSigner, u""},
        {"signed_sha1", V::kEmbedded, kSigner, u""},
        {"tampered", V::kInvalid, kSigner, u""},
        {"no_cn", V::kEmbedded, u"Corvane Test Organisation", u""},
        {"two_entries", V::kEmbedded, kSigner, u""},
        {"short_length", V::kUnsigned, u"", u""},
        {"past_end", V::kUnsigned, u"", u""},
    };
    Worker worker;
    for (const Case& c : cases) {
        for (const char* bits : {"_32.exe", "_64.exe"}) {
            const std::string image = std::string(c.image) + bits;
            ExpectTrust(worker.Judge(ImagePath(image)),
                        {image.c_str(), c.verdict, c.signer, c.catalog});
        }
    }
}

// Windows refuses a chain to an unknown root and a leaf that may not sign code.
TEST_F(Win32SignatureEngineTest, UntrustedEmbeddedSignatures) {
    if (RunsUnderWine())
        GTEST_SKIP() << "Wine 8's WinVerifyTrust accepts any root and any key usage";
    Worker worker;
    for (const char* bits : {"_32.exe", "_64.exe"}) {
        ExpectTrust(worker.Judge(ImagePath(std::string("untrusted") + bits)),
                    {"untrusted", V::kUntrusted, u"Tolvessa Stray Signer", u""});
        ExpectTrust(worker.Judge(ImagePath(std::string("server_usage") + bits)),
                    {"server_usage", V::kUntrusted, u"Tolvessa Server Only", u""});
    }
}

// "Verify File Signature" and the verdict agree on every image: "Embedded" exactly when the
// command calls the file signed, by the signer it names when it names one.
TEST_F(Win32SignatureEngineTest, AgreesWithTheVerifyCommand) {
    const Text pattern = ImagePath("*.exe");
    WIN32_FIND_DATAW found{};
    const ScopedFind find(::FindFirstFileW(Wide(pattern), &found));
    ASSERT_NE(find.get(), INVALID_HANDLE_VALUE);
    Win32TrustApi command;
    Worker worker;
    int images = 0;
    do {
        ++images;
        const Text path = ImagePath(TextToUtf8(FromWide(found.cFileName)));
        SCOPED_TRACE(TextToUtf8(path));
        const FileTrust trust = worker.Judge(path);
        const bool isSigned = IsFileSigned(command, path);
        EXPECT_EQ(trust.verdict == V::kEmbedded, isSigned);
        const Text named = GetSignerName(command, path);
        if (isSigned && !named.empty()) {
            EXPECT_EQ(TextToUtf8(trust.signer), TextToUtf8(named));
        }
    } while (::FindNextFileW(find.get(), &found));
    EXPECT_GE(images, 29);
}

// The catalog cases that Wine shows as Windows does: found by their SHA-1 image hash, the
// catalog's signer named.
const Case kCatalogCases[] = {
    {"catalog_member_64.exe", V::kCatalog, kSigner, u"tolvessa_test.cat"},
    {"catalog_sha1_only_64.exe", V::kCatalog, kSigner, u"sha1_only.cat"},
    {"catalog_changed_64.exe", V::kUnsigned, u"", u""},
    {"catalog_unsigned_cat_64.exe", V::kUnsigned, u"", u""},
    {"catalog_signed_64.exe", V::kEmbedded, kSigner, u""},
    {"unsigned_64.exe", V::kUnsigned, u"", u""},
};

TEST_F(Win32SignatureEngineTest, CatalogSignatures) {
    {
        Worker before;
        ExpectTrust(before.Judge(ImagePath("catalog_member_64.exe")),
                    {"no catalogs yet", V::kUnsigned, u"", u""});
    }
    const AddedCatalogs added(TestCatalogs());
    ASSERT_EQ(added.Count(), TestCatalogs().size());
    Worker worker;
    for (const Case& c : kCatalogCases)
        ExpectTrust(worker.Judge(ImagePath(c.image)), c);
}

// Each worker holds its own catalog contexts; workers on several threads get the same answers.
TEST_F(Win32SignatureEngineTest, EachWorkerHasItsOwnEngine) {
    const AddedCatalogs added(TestCatalogs());
    ASSERT_EQ(added.Count(), TestCatalogs().size());
    std::vector<std::vector<FileTrust>> results(3);
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&result] {
            Worker worker;
            for (int round = 0; round < 2; ++round) {
                for (const Case& c : kCatalogCases)
                    result.push_back(worker.Judge(ImagePath(c.image)));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (const auto& result : results) {
        ASSERT_EQ(result.size(), 2 * std::size(kCatalogCases));
        for (std::size_t i = 0; i < result.size(); ++i)
            ExpectTrust(result[i], kCatalogCases[i % std::size(kCatalogCases)]);
    }
}

// What Windows shows and Wine 8 cannot: members found by their SHA-256 hash, the trust in a
// catalog's signer, and a catalog changed after signing.
TEST_F(Win32SignatureEngineTest, CatalogCasesBeyondWine) {
    if (RunsUnderWine()) {
        GTEST_SKIP() << "Wine 8 looks catalogs up by SHA-1 hashes only, accepts any root and any "
                        "key usage for a catalog's signer, and does not check a catalog's list "
                        "against its signature";
    }
    const AddedCatalogs added(TestCatalogs());
    ASSERT_EQ(added.Count(), TestCatalogs().size());
    Worker worker;
    const Case cases[] = {
        {"catalog_member_32.exe", V::kCatalog, kSigner, u"tolvessa_test.cat"},
        {"catalog_stray_64.exe", V::kUntrusted, u"Tolvessa Stray Signer", u"stray.cat"},
        {"catalog_server_64.exe", V::kUntrusted, u"Tolvessa Server Only", u"server_usage.cat"},
        {"catalog_broken_64.exe", V::kInvalid, kSigner, u"broken.cat"},
    };
    for (const Case& c : cases)
        ExpectTrust(worker.Judge(ImagePath(c.image)), c);
}

// Opens a file for as long as it lives, as another program might: `share` as CreateFileW takes it.
class HeldFile {
  public:
    HeldFile(const Text& path, DWORD access, DWORD share)
        : handle_(OwnHandle(::CreateFileW(Wide(path), access, share, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr))) {}
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    ScopedHandle handle_;
};

// A file held open without sharing cannot be read at all: "Unreadable", nothing looked up. One
// held open for writing (others may read and write) is read by the digests step (its OpenFile
// retry) but not by the verifier, which admits no writers: the catalogs are asked with the
// digests' image hash, and their verdict wins.
TEST_F(Win32SignatureEngineTest, FilesHeldOpenByOthers) {
    const AddedCatalogs added(TestCatalogs());
    ASSERT_EQ(added.Count(), TestCatalogs().size());
    const Text member = ImagePath("catalog_member_64.exe");
    const Text unsigned64 = ImagePath("unsigned_64.exe");
    const Text signed64 = ImagePath("signed_64.exe");
    struct HeldCase {
        const char* name;
        Text path;
        DWORD access;
        DWORD share;
        bool digestsRead;
        Case expected;
    } const cases[] = {
        {"member, not shared", member, GENERIC_READ, 0, false, {"", V::kUnreadable, u"", u""}},
        {"signed, not shared", signed64, GENERIC_READ, 0, false, {"", V::kUnreadable, u"", u""}},
        {"member, held for writing",
         member,
         GENERIC_READ | GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE,
         true,
         {"", V::kCatalog, kSigner, u"tolvessa_test.cat"}},
        {"unsigned, held for writing",
         unsigned64,
         GENERIC_READ | GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE,
         true,
         {"", V::kUnreadable, u"", u""}},
    };
    Worker worker;
    for (const HeldCase& c : cases) {
        SCOPED_TRACE(c.name);
        const HeldFile held(c.path, c.access, c.share);
        ASSERT_TRUE(held);
        Win32SignatureEngine engine;
        EXPECT_EQ(engine.CheckEmbedded(c.path).status, trust_status::kSharingViolation);
        EXPECT_EQ(!worker.Digests(c.path).sha256, !c.digestsRead);
        ExpectTrust(worker.Judge(c.path),
                    {c.name, c.expected.verdict, c.expected.signer, c.expected.catalog});
    }
    // Let go, the same files are judged as ever.
    ExpectTrust(worker.Judge(member), {"member, free", V::kCatalog, kSigner, u"tolvessa_test.cat"});
    ExpectTrust(worker.Judge(signed64), {"signed, free", V::kEmbedded, kSigner, u""});
}

// The engine watched at each WinVerifyTrust call: the WOW64 redirection (off in a 32-bit
// process only, but its scopes are counted in every build) is never off while the verifier
// runs; it was off to open the file, whose handle the verifier gets with the path.
class WatchedEngine : public Win32SignatureEngine {
  public:
    struct Call {
        int scopesLive;
        DWORD unionChoice;
        bool handleGiven;
        Text path;
    };
    std::vector<Call> calls;

  protected:
    long VerifyTrustCall(void* data) override {
        const auto& trust = *static_cast<WINTRUST_DATA*>(data);
        Call call{Wow64RedirectionScopesLive(), trust.dwUnionChoice, false, {}};
        if (trust.dwUnionChoice == WTD_CHOICE_FILE) {
            call.handleGiven = trust.pFile->hFile && trust.pFile->hFile != INVALID_HANDLE_VALUE;
            call.path = FromWide(trust.pFile->pcwszFilePath);
        } else if (trust.dwUnionChoice == WTD_CHOICE_CATALOG) {
            call.handleGiven =
                trust.pCatalog->hMemberFile && trust.pCatalog->hMemberFile != INVALID_HANDLE_VALUE;
            call.path = FromWide(trust.pCatalog->pcwszMemberFilePath);
        }
        calls.push_back(call);
        return Win32SignatureEngine::VerifyTrustCall(data);
    }
};

TEST_F(Win32SignatureEngineTest, TheVerifierGetsTheHandleWithTheRedirectionOn) {
    const AddedCatalogs added(TestCatalogs());
    ASSERT_EQ(added.Count(), TestCatalogs().size());
    Win32FileContent content;
    CngHashApi hashes;
    for (const char* image : {"signed_64.exe", "catalog_member_64.exe"}) {
        SCOPED_TRACE(image);
        const Text path = ImagePath(image);
        const FileDigests digests = ComputeFileDigests(content, hashes, path);
        WatchedEngine engine;
        const int madeBefore = Wow64RedirectionScopesMade();
        const FileTrust trust = JudgeFile(engine, path, digests);
        EXPECT_TRUE(trust.verdict == V::kEmbedded || trust.verdict == V::kCatalog);
        // The embedded check's open, and the catalogs' one for a file without a signature.
        EXPECT_GE(Wow64RedirectionScopesMade() - madeBefore, trust.verdict == V::kCatalog ? 2 : 1);
        ASSERT_FALSE(engine.calls.empty());
        EXPECT_EQ(engine.calls.front().unionChoice, static_cast<DWORD>(WTD_CHOICE_FILE));
        bool sawCatalog = false;
        for (const WatchedEngine::Call& call : engine.calls) {
            EXPECT_EQ(call.scopesLive, 0);
            EXPECT_TRUE(call.handleGiven);
            EXPECT_EQ(TextToUtf8(call.path), TextToUtf8(path));
            sawCatalog = sawCatalog || call.unionChoice == WTD_CHOICE_CATALOG;
        }
        EXPECT_EQ(sawCatalog, trust.verdict == V::kCatalog);
    }
    EXPECT_EQ(Wow64RedirectionScopesLive(), 0);
}

}  // namespace
}  // namespace tolvessa::win32
