// SHA-1 and SHA-256 on a POSIX host, from OpenSSL.
#pragma once

#include "inventory/file_digests.h"

namespace tolvessa::host {

class OpenSslHashApi : public HashApi {
  public:
    std::unique_ptr<Hasher> NewHasher(HashAlgorithm algorithm) override;
};

}  // namespace tolvessa::host
