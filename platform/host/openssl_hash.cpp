#include "platform/host/openssl_hash.h"

#include <openssl/evp.h>

namespace tolvessa::host {

namespace {

struct MdCtxFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

class OpenSslHasher : public Hasher {
  public:
    explicit OpenSslHasher(MdCtxPtr context) : context_(std::move(context)) {}

    void Update(std::span<const std::uint8_t> bytes) override {
        if (context_ && EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) != 1)
            context_.reset();  // a failed update spoils the digest: Finish gives nothing
    }

    std::vector<std::uint8_t> Finish() override {
        std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
        unsigned int length = 0;
        if (!context_ || EVP_DigestFinal_ex(context_.get(), digest.data(), &length) != 1)
            length = 0;
        context_.reset();
        digest.resize(length);
        return digest;
    }

  private:
    MdCtxPtr context_;
};

}  // namespace

std::unique_ptr<Hasher> OpenSslHashApi::NewHasher(HashAlgorithm algorithm) {
    MdCtxPtr context(EVP_MD_CTX_new());
    const EVP_MD* md = algorithm == HashAlgorithm::kSha1 ? EVP_sha1() : EVP_sha256();
    if (!context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1)
        return nullptr;
    return std::make_unique<OpenSslHasher>(std::move(context));
}

}  // namespace tolvessa::host
