// What the window's thread makes of a worker's result (the row's findings from the loaded
// lists) and the loading of a list file.
#include "shell/file_facts.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "tests/unit/fake_inventory.h"
#include "tests/unit/list_fixtures.h"
#include "trust/file_trust.h"

namespace tolvessa {
namespace {

constexpr char kCsvHeader[] =
    "Id,Category,KnownVulnerableSamples_MD5,KnownVulnerableSamples_SHA1,"
    "KnownVulnerableSamples_SHA256,KnownVulnerableSamples_Authentihash_MD5,"
    "KnownVulnerableSamples_Authentihash_SHA1,KnownVulnerableSamples_Authentihash_SHA256\n";
constexpr char kListedSha256[] = "5f6560365c0248fb638df7a2cf0dbca599fa6b279aacb02df8cf185b9a369600";

Sha256Digest ListedSha256() {
    Sha256Digest digest{};
    const std::string_view hex = kListedSha256;
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] =
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    return digest;
}

std::string OneEntryList() {
    return std::string(kCsvHeader) + "id-7,vulnerable driver,,,\"" + kListedSha256 + "\",,,\n";
}

TEST(LoadListFileTest, ReadsInShortReadsAndSaysWhyAFileGaveNoList) {
    testing::FakeInventory inventory;
    inventory.files[u"C:\\lists\\good.csv"].content = OneEntryList();
    inventory.files[u"C:\\lists\\empty.csv"].content = std::string();
    inventory.files[u"C:\\lists\\words.xml"].content = std::string("<SiPolicy><oops></SiPolicy>");
    inventory.files[u"C:\\lists\\gone.csv"].content = std::nullopt;  // cannot be opened

    struct Case {
        Text path;
        bool loaded;
        std::string why;  // a part of the error
    };
    const Case cases[] = {
        {u"C:\\lists\\good.csv", true, ""},
        {u"C:\\lists\\gone.csv", false, "cannot be opened"},
        {u"C:\\lists\\missing.csv", false, "cannot be opened"},
        {u"C:\\lists\\empty.csv", false, ""},
        {u"C:\\lists\\words.xml", false, ""},
    };
    VulnerableLists lists;
    std::size_t loaded = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(TextToUtf8(c.path));
        const ListLoadReport report = LoadListFile(lists, inventory.content, c.path);
        EXPECT_EQ(report.source, c.path);
        EXPECT_EQ(report.error.empty(), c.loaded) << TextToUtf8(report.error);
        EXPECT_NE(TextToUtf8(report.error).find(c.why), std::string::npos);
        loaded += c.loaded ? 1 : 0;
        EXPECT_EQ(lists.Count(), loaded);
        if (!c.loaded) {
            const std::string message = TextToUtf8(ListLoadFailureText(report));
            EXPECT_NE(message.find(TextToUtf8(c.path)), std::string::npos) << message;
            EXPECT_NE(message.find(TextToUtf8(report.error)), std::string::npos) << message;
        }
    }
    FileIdentity identity;
    identity.sha256 = AsciiText(kListedSha256);
    ASSERT_EQ(lists.Match(identity).size(), 1u);
    EXPECT_EQ(lists.Match(identity)[0].id, u"id-7");
}

// The results go to their rows: digests, verdict and matches; a result for a row the list no
// longer has is dropped; a row matches by its MD5 cell, its digests or its version identity.
TEST(ApplyResultsTest, EachResultToItsRowWithItsMatches) {
    testing::FakeInventory inventory;
    inventory.paths.systemDirectory = u"C:\\none";
    inventory.files[u"C:\\d\\a.sys"] = {false, u"Acme", u"A", u"1.0", std::string("aaaa"), true};
    inventory.files[u"C:\\d\\b.sys"] = {false, u"Acme", u"B", u"1.0", std::string("bbbb"), true};
    inventory.AddEntry("\\??\\C:\\d\\a.sys", 0, 0x1000, 0x100);
    inventory.AddEntry("\\??\\C:\\d\\b.sys", 1, 0x2000, 0x100);
    DriverList list;
    ASSERT_EQ(inventory.ScanInto(list), ScanResult::kCompleted);
    ASSERT_EQ(list.Count(), 2u);

    VulnerableLists lists;
    const testing::Bytes csv = testing::BytesOf(OneEntryList());
    ASSERT_TRUE(lists.Load(csv, u"drivers.csv").error.empty());
    const std::string md5OfB = TextToUtf8(list.Row(1)[kMd5Hash]);
    const testing::Bytes byMd5 =
        testing::BytesOf(std::string(kCsvHeader) + "id-md5,malicious,\"" + md5OfB + "\",,,,,\n");
    ASSERT_TRUE(lists.Load(byMd5, u"md5.csv").error.empty());

    std::vector<DigestResult> results(3);
    results[0].row = 0;
    results[0].digests.sha256 = ListedSha256();
    results[0].trust = FileTrust{SignatureVerdict::kUnsigned, u"", u""};
    results[1].row = 1;
    results[1].digests.sha1 = Sha1Digest{};
    results[2].row = 7;  // past the end: a list that was refreshed meanwhile
    std::vector<std::size_t> changed;
    DriverList::Listener listener;
    listener.digestsChanged = [&](std::size_t row) { changed.push_back(row); };
    list.SetListener(listener);
    ApplyResults(list, results, lists);

    EXPECT_EQ(list.Digests(0).sha256, ListedSha256());
    ASSERT_TRUE(list.Findings(0).trust);
    EXPECT_EQ(list.Findings(0).trust->verdict, SignatureVerdict::kUnsigned);
    ASSERT_EQ(list.Findings(0).vulnerable.size(), 1u);
    EXPECT_EQ(list.Findings(0).vulnerable[0].source, u"drivers.csv");
    EXPECT_EQ(list.Findings(0).vulnerable[0].by, MatchedBy::kFileHash);
    EXPECT_FALSE(list.Findings(1).trust);
    ASSERT_EQ(list.Findings(1).vulnerable.size(), 1u);
    EXPECT_EQ(list.Findings(1).vulnerable[0].id, u"id-md5");
    EXPECT_EQ(list.Findings(1).vulnerable[0].algorithm, MatchedAlgorithm::kMd5);
    EXPECT_TRUE(list.AnyVulnerable());
    EXPECT_EQ(changed, (std::vector<std::size_t>{0, 0, 1, 1}));

    // A new scan empties the findings with the rows.
    ASSERT_TRUE(list.Clear());
    EXPECT_FALSE(list.AnyVulnerable());
}

// Loading a list again under its name replaces it: its matches are not doubled, and a reload
// that fails keeps what was read before.
TEST(LoadListFileTest, ALoadedListLoadedAgainTakesItsOwnPlace) {
    testing::FakeInventory inventory;
    const Text path = u"C:\\lists\\drivers.csv";
    inventory.files[path].content = OneEntryList();
    VulnerableLists lists;
    FileIdentity identity;
    identity.sha256 = AsciiText(kListedSha256);
    ASSERT_TRUE(LoadListFile(lists, inventory.content, path).error.empty());
    ASSERT_TRUE(LoadListFile(lists, inventory.content, path).error.empty());
    EXPECT_EQ(lists.Count(), 1u);
    EXPECT_EQ(lists.Match(identity).size(), 1u);
    inventory.files[path].content = std::string("not a list");
    EXPECT_FALSE(LoadListFile(lists, inventory.content, path).error.empty());
    EXPECT_EQ(lists.Match(identity).size(), 1u);
    // Another file with the same entries is a list of its own.
    inventory.files[u"C:\\lists\\copy.csv"].content = OneEntryList();
    ASSERT_TRUE(LoadListFile(lists, inventory.content, u"C:\\lists\\copy.csv").error.empty());
    EXPECT_EQ(lists.Count(), 2u);
    EXPECT_EQ(lists.Match(identity).size(), 2u);
}

// A list file larger than the limit is refused by the size the file system tells, before a byte
// of it is mapped or read.
TEST(LoadListFileTest, ALargerFileIsRefusedBeforeItIsRead) {
    class Huge : public FileContentApi {
      public:
        int asked = 0;  // maps and reads
        std::unique_ptr<File> OpenForRead(const Text&) override {
            return std::make_unique<HugeFile>(asked);
        }

      private:
        class HugeFile : public File {
          public:
            explicit HugeFile(int& asked) : asked_(asked) {}
            std::unique_ptr<View> MapWhole() override {
                ++asked_;
                return nullptr;
            }
            std::optional<std::size_t> Read(std::span<std::uint8_t>) override {
                ++asked_;
                return 0;  // as if empty: a list that is read would be "empty"
            }
            std::optional<std::uint64_t> Size() override { return kMaxListFileSize + 1; }

          private:
            int& asked_;
        };
    };
    Huge content;
    VulnerableLists lists;
    const ListLoadReport report = LoadListFile(lists, content, u"C:\\lists\\huge.csv");
    EXPECT_EQ(report.error, u"the file is larger than 256 MiB");
    EXPECT_EQ(content.asked, 0);
    EXPECT_EQ(lists.Count(), 0u);
}

// A list cut short is loaded as far as it goes, and the message says so: the file, where it
// ends, how many entries are used.
TEST(LoadListFileTest, ACutListIsLoadedAndItsMessageSaysWhereItEnds) {
    testing::FakeInventory inventory;
    const Text path = u"C:\\lists\\cut.csv";
    inventory.files[path].content = OneEntryList() + "id-8,malicious,,,\"0123";
    VulnerableLists lists;
    const ListLoadReport report = LoadListFile(lists, inventory.content, path);
    EXPECT_EQ(report.error, u"");
    EXPECT_EQ(report.cutAt, u"inside a quoted cell opened on line 3, column 18");
    EXPECT_EQ(report.entries, 1u);
    EXPECT_EQ(lists.Count(), 1u);
    EXPECT_TRUE(lists.AnyUnread());
    EXPECT_EQ(
        ListLoadFailureText(report),
        u"The vulnerable driver list \"C:\\lists\\cut.csv\" is cut short: it ends inside a "
        u"quoted cell opened on line 3, column 18. Only what comes before that is used (1 entry).");
}

TEST(FindingsOfTest, NameAndVersionMatchOnlyWithTheIdentity) {
    VulnerableLists lists;
    ASSERT_TRUE(lists.Load(testing::ReadListFixture("sipolicy.xml"), u"policy.xml").error.empty());
    DriverRow row;
    FileFacts facts;
    EXPECT_TRUE(FindingsOf(row, facts, lists).vulnerable.empty());
    facts.identity.originalFilename = u"OLDIO.SYS";
    facts.identity.fileVersion = 0x0002000400000000;  // 2.4.0.0
    const RowFindings findings = FindingsOf(row, facts, lists);
    ASSERT_FALSE(findings.vulnerable.empty());
    EXPECT_EQ(findings.vulnerable[0].by, MatchedBy::kNameAndVersion);
    EXPECT_TRUE(FindingsOf(row, facts, VulnerableLists()).vulnerable.empty());
}

// Digest engines whose every hasher gives bytes 0xAB only, or that throw on demand.
class StubHashes : public HashApi {
  public:
    bool fail = false;
    std::unique_ptr<Hasher> NewHasher(HashAlgorithm algorithm) override {
        if (fail)
            throw std::bad_alloc();
        class One : public Hasher {
          public:
            explicit One(std::size_t size) : size_(size) {}
            void Update(std::span<const std::uint8_t>) override {}
            std::vector<std::uint8_t> Finish() override {
                return std::vector<std::uint8_t>(size_, 0xAB);
            }

          private:
            std::size_t size_;
        };
        return std::make_unique<One>(algorithm == HashAlgorithm::kSha1 ? 20 : 32);
    }
};

// A verifier that calls every embedded signature good, or throws on demand.
class StubEngine : public SignatureEngine {
  public:
    bool fail = false;
    Answer CheckEmbedded(const Text&) override {
        if (fail)
            throw std::runtime_error("verifier");
        return {trust_status::kTrusted, u"Signer", {}};
    }
    std::optional<Answer> CheckCatalogs(const Text&, const FileDigests&) override {
        return std::nullopt;
    }
};

// A step of a worker's job that throws leaves only its own cells empty; the other steps still
// give theirs, and nothing leaves GatherFileFacts.
TEST(GatherFileFactsTest, AStepThatThrowsLeavesOnlyItsOwnCellsEmpty) {
    testing::FakeInventory inventory;
    inventory.files[u"C:\\d\\a.sys"] = {false, u"Acme", u"A", u"1.0", std::string("aaaa"), true};
    struct Case {
        const char* name;
        bool hashesFail;
        bool engineFails;
    };
    for (const Case c : {Case{"all well", false, false}, Case{"hashes throw", true, false},
                         Case{"verifier throws", false, true}, Case{"both throw", true, true}}) {
        SCOPED_TRACE(c.name);
        StubHashes hashes;
        hashes.fail = c.hashesFail;
        StubEngine engine;
        engine.fail = c.engineFails;
        FileFacts facts;
        EXPECT_NO_THROW(facts = GatherFileFacts(inventory.content, hashes, inventory.versions,
                                                &engine, u"C:\\d\\a.sys", FactsWanted{true, true}));
        Sha256Digest stub;
        stub.fill(0xAB);
        EXPECT_EQ(facts.digests.sha256, c.hashesFail ? std::nullopt : std::optional(stub));
        EXPECT_EQ(facts.trust.has_value(), !c.engineFails);
        if (facts.trust) {
            EXPECT_EQ(facts.trust->signer, u"Signer");
        }
    }
}

// Version data in the bytes at hand: the block is the file's bytes, laid out as FakeVersions
// lays out its data.
class BytesVersions : public testing::FakeVersions {
  public:
    using FakeVersions::FakeVersions;
    int fromBytes = 0;
    std::optional<std::vector<std::uint8_t>> VersionDataIn(ByteSource& bytes) override {
        ++fromBytes;
        std::vector<std::uint8_t> block(static_cast<std::size_t>(bytes.Size()));
        if (!bytes.ReadAt(0, block))
            return std::vector<std::uint8_t>();
        return block;
    }
};

// An engine that judges the bytes it is given and tells which way it was asked.
class BytesEngine : public SignatureEngine {
  public:
    std::vector<Text> byPath;
    std::vector<std::string> bytesSeen;
    std::vector<FileDigests> digestsSeen;
    Answer CheckEmbedded(const Text& path) override {
        byPath.push_back(path);
        return {trust_status::kFileNotFound, {}, {}};
    }
    Answer CheckEmbeddedIn(const Text&, ByteSource& bytes, const FileDigests& digests) override {
        std::string seen(static_cast<std::size_t>(bytes.Size()), '\0');
        EXPECT_TRUE(
            bytes.ReadAt(0, std::span(reinterpret_cast<std::uint8_t*>(seen.data()), seen.size())));
        bytesSeen.push_back(seen);
        digestsSeen.push_back(digests);
        return {trust_status::kTrusted, u"From the bytes", {}};
    }
    std::optional<Answer> CheckCatalogs(const Text&, const FileDigests&) override {
        return std::nullopt;
    }
};

// The version block FakeVersions makes of these strings.
std::string VersionBlock(TextView company, TextView description, TextView version) {
    std::string block;
    auto put16 = [&block](char16_t unit) {
        block.push_back(static_cast<char>(unit & 0xFF));
        block.push_back(static_cast<char>(unit >> 8));
    };
    put16(testing::FakeVersions::kLanguage);
    put16(testing::FakeVersions::kCodePage);
    for (const TextView value : {company, description, version}) {
        for (const char16_t unit : value)
            put16(unit);
        put16(0);
    }
    return block;
}

// A worker opens a file once: the digests, the verdict and the version identity come from the
// bytes of that one read. A file that cannot be read in it is judged and named by its path, so
// the steps still tell why.
TEST(GatherFileFactsTest, OneReadFeedsTheDigestsTheVerdictAndTheIdentity) {
    testing::FakeInventory inventory;
    const Text path = u"C:\\d\\a.sys";
    const std::string bytes = VersionBlock(u"Acme", u"From the bytes", u"2.0");
    inventory.files[path] = {false, u"Acme", u"From the path", u"1.0", bytes, true};
    inventory.files[u"C:\\d\\held.sys"] = {false,  u"Acme",      u"From the path",
                                           u"1.0", std::nullopt, true};
    StubHashes hashes;
    BytesVersions versions(inventory.files);
    BytesEngine engine;

    const FileFacts facts = GatherFileFacts(inventory.content, hashes, versions, &engine, path,
                                            FactsWanted{true, true});
    EXPECT_EQ(inventory.content.opened, std::vector<Text>{path});
    ASSERT_TRUE(facts.digests.sha256);
    EXPECT_TRUE(engine.byPath.empty());
    EXPECT_EQ(engine.bytesSeen, std::vector<std::string>{bytes});
    EXPECT_EQ(engine.digestsSeen, std::vector<FileDigests>{facts.digests});
    ASSERT_TRUE(facts.trust);
    EXPECT_EQ(facts.trust->verdict, SignatureVerdict::kEmbedded);
    EXPECT_EQ(facts.identity.fileDescription, u"From the bytes");
    EXPECT_EQ(versions.fromBytes, 1);
    EXPECT_TRUE(versions.sizeQueries.empty());

    const FileFacts held = GatherFileFacts(inventory.content, hashes, versions, &engine,
                                           u"C:\\d\\held.sys", FactsWanted{true, true});
    EXPECT_EQ(held.digests, FileDigests{});
    EXPECT_EQ(engine.byPath, std::vector<Text>{u"C:\\d\\held.sys"});
    EXPECT_EQ(engine.bytesSeen.size(), 1u);
    EXPECT_EQ(held.identity.fileDescription, u"From the path");
    EXPECT_EQ(versions.fromBytes, 1);
    EXPECT_EQ(versions.sizeQueries, std::vector<Text>{u"C:\\d\\held.sys"});
}

}  // namespace
}  // namespace tolvessa
