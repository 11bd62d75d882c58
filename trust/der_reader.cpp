#include "trust/der_reader.h"

namespace tolvessa {

std::optional<DerElement> DerReader::Next() {
    if (failed_ || rest_.empty())
        return Fail();
    const std::uint8_t tagByte = rest_[0];
    if ((tagByte & 0x1F) == 0x1F || rest_.size() < 2)
        return Fail();  // high tag numbers: nothing read here uses them
    std::size_t at = 2;
    std::size_t length = rest_[1];
    if (length & 0x80) {
        const std::size_t digits = length & 0x7F;
        // 0x80 is the indefinite length of BER, which DER does not have.
        if (digits == 0 || digits > 4 || rest_.size() < 2 + digits)
            return Fail();
        length = 0;
        for (std::size_t i = 0; i < digits; ++i)
            length = length << 8 | rest_[2 + i];
        at += digits;
    }
    if (length > rest_.size() - at)
        return Fail();
    const DerElement element{tagByte, rest_.subspan(at, length)};
    rest_ = rest_.subspan(at + length);
    return element;
}

std::optional<DerBytes> DerReader::Take(std::uint8_t wanted) {
    const std::optional<DerElement> element = Next();
    if (!element || element->tag != wanted)
        return Fail();
    return element->content;
}

std::nullopt_t DerReader::Fail() {
    failed_ = true;
    rest_ = {};
    return std::nullopt;
}

std::optional<DerBytes> AlgorithmOid(DerBytes algorithm) {
    DerReader reader(algorithm);
    const std::optional<DerBytes> oid = reader.Take(der_tag::kObjectId);
    if (!oid || (!reader.AtEnd() && !reader.Next()) || !reader.AtEnd())
        return std::nullopt;
    return oid;
}

}  // namespace tolvessa
