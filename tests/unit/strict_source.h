// Memory that fails the test when asked for a byte outside it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

#include "inventory/pe_image.h"

namespace tolvessa::testing {

class StrictSource : public ByteSource {
  public:
    explicit StrictSource(const std::vector<std::uint8_t>& bytes)
        : inner_(bytes), size_(bytes.size()) {}
    std::uint64_t Size() override { return size_; }
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        if (!RangeFits(size_, offset, buffer.size()))
            ADD_FAILURE() << "read of " << buffer.size() << " bytes at " << offset
                          << " outside a file of " << size_;
        return inner_.ReadAt(offset, buffer);
    }

  private:
    MemorySource inner_;
    std::uint64_t size_;
};

}  // namespace tolvessa::testing
