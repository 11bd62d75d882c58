// SHA-1 and SHA-256 on Windows, from CNG (BCrypt).
#pragma once

#include "inventory/file_digests.h"

namespace tolvessa::win32 {

// The algorithm providers are opened once, on first use, and shared by every thread; each
// hasher has its own hash object.
class CngHashApi : public HashApi {
  public:
    std::unique_ptr<Hasher> NewHasher(HashAlgorithm algorithm) override;
};

}  // namespace tolvessa::win32
