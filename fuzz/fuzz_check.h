// What every fuzz target shares: a check that stops the run with a message when a property of
// the code under test does not hold (libFuzzer keeps the input that made it fail).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "inventory/pe_image.h"
#include "inventory/text.h"

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace tolvessa::fuzz {

// The bytes as little-endian UTF-16 code units; an odd last byte is dropped.
inline Text UnitsOf(std::span<const std::uint8_t> bytes) {
    Text text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(Read16(bytes, i)));
    return text;
}

}  // namespace tolvessa::fuzz
