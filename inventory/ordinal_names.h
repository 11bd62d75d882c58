// Names for functions imported by ordinal, where the library's ordinals are well known.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tolvessa {

// The function's name for `ordinal` of `library` (lower-case file name with its extension, such
// as "ws2_32.dll"); nothing when the library or the ordinal is not among the well-known ones.
std::optional<std::string_view> WellKnownOrdinalName(std::string_view library,
                                                     std::uint16_t ordinal);

}  // namespace tolvessa
