// The vulnerable-driver list fixtures of tests/fixtures/lists, and byte helpers for the tests
// that read them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/text.h"

namespace tolvessa::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes BytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// A fixture file's bytes; the test fails when it cannot be read.
inline Bytes ReadListFixture(std::string_view name) {
#ifdef _WIN32
    const std::string dir = std::string("Z:") + TOLVESSA_LIST_FIXTURE_DIR;  // the host's root
#else
    const std::string dir = TOLVESSA_LIST_FIXTURE_DIR;
#endif
    std::ifstream in(dir + "/" + std::string(name), std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(bytes.empty()) << "fixture " << name << " not read from " << dir;
    return bytes;
}

// UTF-8 bytes as UTF-16 of either byte order, with or without a byte-order mark.
inline Bytes ToUtf16(const Bytes& utf8, bool bigEndian, bool mark) {
    Text text =
        Utf8ToText(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
    if (mark)
        text.insert(text.begin(), u'\xFEFF');
    Bytes out;
    for (const char16_t unit : text) {
        const auto high = static_cast<std::uint8_t>(unit >> 8);
        const auto low = static_cast<std::uint8_t>(unit & 0xFF);
        out.push_back(bigEndian ? high : low);
        out.push_back(bigEndian ? low : high);
    }
    return out;
}

// Every `from` in `bytes` replaced by `to`.
inline Bytes Replaced(const Bytes& bytes, std::string_view from, std::string_view to) {
    std::string text(bytes.begin(), bytes.end());
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return BytesOf(text);
}

}  // namespace tolvessa::testing
