// The MD5 engine checked against OpenSSL's, and the digest of real files through
// PosixFileContent.
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "inventory/md5.h"
#include "platform/host/file_content.h"
#include "platform/host/host_paths.h"

namespace tolvessa::host {
namespace {

using EvpContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string HexOf(const std::uint8_t* digest, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::size_t i = 0; i < size; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 0x0F]);
    }
    return hex;
}

std::string OpensslMd5(const std::uint8_t* data, std::size_t size) {
    EvpContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), data, size) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest, &digestSize) != 1) {
        ADD_FAILURE() << "OpenSSL MD5 failed";
        return {};
    }
    return HexOf(digest, digestSize);
}

std::string OpensslMd5(const std::vector<std::uint8_t>& bytes) {
    return OpensslMd5(bytes.data(), bytes.size());
}

std::string Hex(const Md5Digest& digest) {
    return HexOf(digest.data(), digest.size());
}

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::mt19937& random) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

const std::string kZeroHex(32, '0');

TEST(Md5AgainstOpenssl, RandomDataWholeAndInPieces) {
    std::mt19937 random(20240601);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 300; ++length)
        lengths.push_back(length);
    for (const std::size_t length : {4095, 4096, 65536 + 63, (1 << 20) + 13}) {
        lengths.push_back(length);
    }
    for (const std::size_t length : lengths) {
        const std::vector<std::uint8_t> bytes = RandomBytes(length, random);
        const std::string expected = OpensslMd5(bytes);

        Md5Context whole;
        Md5Init(whole);
        Md5Update(whole, bytes.data(), static_cast<std::uint32_t>(length));
        EXPECT_EQ(Hex(Md5Final(whole)), expected) << length << " bytes in one call";

        Md5Context pieces;
        Md5Init(pieces);
        for (std::size_t fed = 0; fed < length;) {
            const std::size_t piece = std::min<std::size_t>(
                length - fed, std::uniform_int_distribution<std::size_t>(0, 150)(random));
            Md5Update(pieces, bytes.data() + fed, static_cast<std::uint32_t>(piece));
            fed += piece;
        }
        EXPECT_EQ(Hex(Md5Final(pieces)), expected) << length << " bytes in pieces";
    }
}

// An anonymous private mapping: untouched pages read as zeros and cost no memory.
class AnonymousMemory {
  public:
    explicit AnonymousMemory(std::size_t size)
        : size_(size),
          address_(
              ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {}
    AnonymousMemory(const AnonymousMemory&) = delete;
    AnonymousMemory& operator=(const AnonymousMemory&) = delete;
    ~AnonymousMemory() {
        if (address_ != MAP_FAILED)
            ::munmap(address_, size_);
    }
    std::uint8_t* data() const {
        return address_ == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(address_);
    }

  private:
    std::size_t size_;
    void* address_;
};

// 2^29 bytes and more in one call: the bit count no longer fits in the low word, and the
// length's top bits go straight into the high one.
TEST(Md5AgainstOpenssl, OneUpdateOfMoreThan512MiB) {
    const std::uint32_t length = (1u << 29) + 13;
    const AnonymousMemory memory(length);
    ASSERT_NE(memory.data(), nullptr);
    memory.data()[0] = 0x5A;
    memory.data()[length - 1] = 0xA5;

    Md5Context context;
    Md5Init(context);
    Md5Update(context, memory.data(), length);
    EXPECT_EQ(context.count[0], 13u * 8);
    EXPECT_EQ(context.count[1], 1u);
    EXPECT_EQ(Hex(Md5Final(context)), OpensslMd5(memory.data(), length));
}

// One file content whose only file is a view over `bytes`.
class ViewOnly : public FileContentApi {
  public:
    explicit ViewOnly(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::unique_ptr<File> OpenForRead(const Text&) override {
        return std::make_unique<WholeFile>(bytes_);
    }

  private:
    class SpanView : public View {
      public:
        explicit SpanView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
        std::span<const std::uint8_t> Bytes() const override { return bytes_; }

      private:
        std::span<const std::uint8_t> bytes_;
    };

    class WholeFile : public File {
      public:
        explicit WholeFile(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
        std::unique_ptr<View> MapWhole() override { return std::make_unique<SpanView>(bytes_); }
        std::optional<std::size_t> Read(std::span<std::uint8_t>) override { return std::nullopt; }

      private:
        std::span<const std::uint8_t> bytes_;
    };

    std::span<const std::uint8_t> bytes_;
};

// A view of 4 GiB and more goes to Md5Update in several calls. Hashing it twice takes about
// 12 s in a Release build, so it runs on request only:
//   tolvessa_host_tests --gtest_also_run_disabled_tests --gtest_filter='*MoreThan4GiB*'
TEST(Md5AgainstOpenssl, DISABLED_FileViewOfMoreThan4GiB) {
    if constexpr (sizeof(std::size_t) < 8) {
        GTEST_SKIP() << "a view this large needs a 64-bit address space";
    } else {
        const std::size_t length = (std::size_t{1} << 32) + 100;
        const AnonymousMemory memory(length);
        ASSERT_NE(memory.data(), nullptr);
        for (const std::size_t at :
             {std::size_t{0}, std::size_t{0xFFFFFFC0u} - 1, std::size_t{0xFFFFFFC0u}, length - 1}) {
            memory.data()[at] = static_cast<std::uint8_t>(at | 1);
        }
        ViewOnly content({memory.data(), length});
        EXPECT_EQ(Hex(Md5File(content, u"big")), OpensslMd5(memory.data(), length));
    }
}

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "md5-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

class FileMd5HexTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.path().empty());
        paths_.MapDrive(u'T', folder_.path().string());
    }

    std::string HexFor(const std::string& windowsPath, PosixFileContent::Mapping mapping) {
        PosixFileContent content(paths_, mapping);
        return TextToUtf8(FileMd5Hex(content, Utf8ToText(windowsPath)));
    }

    TempFolder folder_;
    HostPaths paths_;
};

TEST_F(FileMd5HexTest, RegularFilesMappedOrRead) {
    std::mt19937 random(7);
    for (const std::size_t size : {0, 1, 63, 64, 65, 4096, 3 * (1 << 20) + 7}) {
        const std::vector<std::uint8_t> bytes = RandomBytes(size, random);
        WriteFile(folder_.path() / "file.bin", bytes);
        const std::string expected = OpensslMd5(bytes);
        EXPECT_EQ(HexFor("T:\\file.bin", PosixFileContent::Mapping::kAllowed), expected)
            << size << " bytes, mapped";
        EXPECT_EQ(HexFor("T:\\file.bin", PosixFileContent::Mapping::kRefused), expected)
            << size << " bytes, read";
    }
}

TEST_F(FileMd5HexTest, WindowsPathInAnotherCase) {
    std::filesystem::create_directory(folder_.path() / "drivers");
    const std::vector<std::uint8_t> bytes = {'a', 'b', 'c'};
    WriteFile(folder_.path() / "drivers" / "tolv.sys", bytes);
    EXPECT_EQ(HexFor("t:\\Drivers\\TOLV.SYS", PosixFileContent::Mapping::kAllowed),
              "900150983CD24FB0D6963F7D28E17F72");
}

TEST_F(FileMd5HexTest, MissingFileGivesZeros) {
    for (const char* path : {"T:\\absent.sys", "T:\\no folder\\absent.sys", "Q:\\unmapped.sys"}) {
        EXPECT_EQ(HexFor(path, PosixFileContent::Mapping::kAllowed), kZeroHex) << path;
    }
}

// None of these may block or be read as content: a FIFO without a writer would wait in open or
// read as empty, /dev/null reads as empty.
TEST_F(FileMd5HexTest, NonRegularFilesGiveZerosWithoutBlocking) {
    const std::filesystem::path fifo = folder_.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(folder_.path() / "folder");
    for (const char* path : {"T:\\pipe", "T:\\folder", "Z:\\dev\\null"}) {
        std::promise<std::string> result;
        std::future<std::string> done = result.get_future();
        std::thread worker(
            [&] { result.set_value(HexFor(path, PosixFileContent::Mapping::kAllowed)); });
        if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << path << " blocked";
            // Release a reader waiting on the FIFO: a writer comes and goes.
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
        worker.join();
        EXPECT_EQ(done.get(), kZeroHex) << path;
    }
}

TEST_F(FileMd5HexTest, UnreadableFileGivesZeros) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root can read a file whatever its mode";
    WriteFile(folder_.path() / "locked.sys", {1, 2, 3});
    ASSERT_EQ(::chmod((folder_.path() / "locked.sys").c_str(), 0), 0);
    EXPECT_EQ(HexFor("T:\\locked.sys", PosixFileContent::Mapping::kAllowed), kZeroHex);
}

}  // namespace
}  // namespace tolvessa::host
