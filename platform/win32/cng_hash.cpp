#include "platform/win32/cng_hash.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <vector>

namespace tolvessa::win32 {

namespace {

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE algorithm) const {
        ::BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};
using ScopedAlgorithm = std::unique_ptr<void, AlgorithmCloser>;

struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE hash) const { ::BCryptDestroyHash(hash); }
};
using ScopedHash = std::unique_ptr<void, HashDestroyer>;

// The provider of an algorithm, opened on first use (thread-safe) and kept for the process.
BCRYPT_ALG_HANDLE Provider(HashAlgorithm algorithm) {
    const auto open = [](const wchar_t* id) {
        BCRYPT_ALG_HANDLE handle = nullptr;
        return ScopedAlgorithm(
            BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, id, nullptr, 0)) ? handle
                                                                                   : nullptr);
    };
    static const ScopedAlgorithm sha1 = open(BCRYPT_SHA1_ALGORITHM);
    static const ScopedAlgorithm sha256 = open(BCRYPT_SHA256_ALGORITHM);
    return algorithm == HashAlgorithm::kSha1 ? sha1.get() : sha256.get();
}

class CngHasher : public Hasher {
  public:
    // `object` is the memory the hash object lives in; it outlives the hash handle.
    CngHasher(std::vector<UCHAR> object, ScopedHash hash, ULONG length)
        : object_(std::move(object)), hash_(std::move(hash)), length_(length) {}

    void Update(std::span<const std::uint8_t> bytes) override {
        // BCryptHashData takes at most 4 GiB - 1 a call.
        while (hash_ && !bytes.empty()) {
            const ULONG take = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 0x40000000));
            if (!BCRYPT_SUCCESS(
                    ::BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes.data()), take, 0))) {
                hash_.reset();  // a failed update spoils the digest: Finish gives nothing
            }
            bytes = bytes.subspan(take);
        }
    }

    std::vector<std::uint8_t> Finish() override {
        std::vector<std::uint8_t> digest(length_);
        if (!hash_ || !BCRYPT_SUCCESS(::BCryptFinishHash(hash_.get(), digest.data(), length_, 0)))
            digest.clear();
        hash_.reset();
        return digest;
    }

  private:
    std::vector<UCHAR> object_;
    ScopedHash hash_;
    ULONG length_;
};

}  // namespace

std::unique_ptr<Hasher> CngHashApi::NewHasher(HashAlgorithm algorithm) {
    const BCRYPT_ALG_HANDLE provider = Provider(algorithm);
    if (!provider)
        return nullptr;
    ULONG length = 0;
    ULONG objectLength = 0;
    ULONG got = 0;
    if (!BCRYPT_SUCCESS(::BCryptGetProperty(provider, BCRYPT_HASH_LENGTH,
                                            reinterpret_cast<PUCHAR>(&length), sizeof length, &got,
                                            0)) ||
        !BCRYPT_SUCCESS(::BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH,
                                            reinterpret_cast<PUCHAR>(&objectLength),
                                            sizeof objectLength, &got, 0))) {
        return nullptr;
    }
    // The hash object lives in memory of our own (Windows Vista wants it given).
    std::vector<UCHAR> object(objectLength);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(
            ::BCryptCreateHash(provider, &hash, object.data(), objectLength, nullptr, 0, 0))) {
        return nullptr;
    }
    return std::make_unique<CngHasher>(std::move(object), ScopedHash(hash), length);
}

}  // namespace tolvessa::win32
