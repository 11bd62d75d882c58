// A small reader of DER (the distinguished encoding of ASN.1) over bounds-checked spans, with
// the few rules that the structures read here need: definite lengths of up to four length
// bytes, low tag numbers. This code is also built for Windows, where OpenSSL is not there.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tolvessa {

namespace der_tag {
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kObjectId = 0x06;
inline constexpr std::uint8_t kUtcTime = 0x17;
inline constexpr std::uint8_t kGeneralizedTime = 0x18;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kSet = 0x31;
inline constexpr std::uint8_t kContext0 = 0xA0;
}  // namespace der_tag

using DerBytes = std::span<const std::uint8_t>;

struct DerElement {
    std::uint8_t tag = 0;
    DerBytes content;
};

// The elements of a run of bytes, one after another. Once an element's header is malformed or
// its content reaches past the end, the reader fails and reads nothing more.
class DerReader {
  public:
    explicit DerReader(DerBytes bytes) : rest_(bytes) {}

    bool AtEnd() const { return rest_.empty(); }
    bool Failed() const { return failed_; }

    // Whether the next element has `wanted` as its tag (the element itself is not checked).
    bool Peek(std::uint8_t wanted) const {
        return !failed_ && !rest_.empty() && rest_[0] == wanted;
    }

    std::optional<DerElement> Next();

    // The content of the next element, which must have tag `wanted`.
    std::optional<DerBytes> Take(std::uint8_t wanted);

    // Skips the next element when it has tag `wanted`; false only when it cannot be read.
    bool SkipOptional(std::uint8_t wanted) { return !Peek(wanted) || Next().has_value(); }

  private:
    std::nullopt_t Fail();

    DerBytes rest_;
    bool failed_ = false;
};

// Whether the content of an OBJECT IDENTIFIER element is the encoded identifier `oid`.
template <std::size_t N>
bool IsOid(DerBytes content, const std::array<std::uint8_t, N>& oid) {
    return std::equal(content.begin(), content.end(), oid.begin(), oid.end());
}

// AlgorithmIdentifier: SEQUENCE { OID, parameters OPTIONAL }, given its content; the OID's
// content. Nothing for any other shape.
std::optional<DerBytes> AlgorithmOid(DerBytes algorithm);

}  // namespace tolvessa
