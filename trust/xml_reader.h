// A small XML reader, limited to what code-integrity policies (SiPolicy) need: elements and
// their attributes.
//
// Hand-written on purpose: the same reader runs in the Windows program and in the host build,
// and no XML library is available to the MinGW cross build here (Debian ships none for it).
// What it reads: the XML declaration, processing instructions and comments (skipped), elements
// with attributes in either quote style, the five predefined entities and numeric character
// references, CDATA sections (skipped), character data (checked, not kept). Encodings: UTF-8
// with or without a byte-order mark, UTF-16 of either byte order with its mark (policies are
// often saved that way), and UTF-16 without a mark when the document starts with '<'. The
// encoding named in the declaration is not consulted: the bytes decide. A document type
// declaration is refused (no entity of the document's own is ever expanded). Elements nest at
// most kMaxXmlDepth deep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "inventory/text.h"

namespace tolvessa {

inline constexpr std::size_t kMaxXmlDepth = 64;

struct XmlAttribute {
    Text name;   // as written, prefix included
    Text value;  // references replaced, white space characters turned into blanks
    bool operator==(const XmlAttribute&) const = default;
};

struct XmlElement {
    Text name;  // as written, prefix included
    std::vector<XmlAttribute> attributes;
    std::vector<XmlElement> children;
    // Its end tag (or the "/>" of an empty element) was read. Only an element of a document
    // that ends inside it (XmlResult::partial) is open.
    bool closed = false;

    // The name without its namespace prefix.
    TextView LocalName() const;
    // The value of the attribute named exactly `attributeName`; nothing when it is absent.
    std::optional<TextView> Attribute(TextView attributeName) const;
};

struct XmlResult {
    std::optional<XmlElement> root;  // the document element; nothing on an error
    Text error;                      // why the bytes are no document, with the line it was on
    // A document whose text ends inside its document element (a file cut short) is no document,
    // but what was read of it before the end is kept here: the elements still open at the end
    // are there with `closed` false, holding their children read before it; an element whose
    // start tag is cut is left out. Nothing for any other error.
    std::optional<XmlElement> partial;
    // Where such a text ends: "inside <Deny> opened on line 31, column 5".
    Text cutAt;
};

XmlResult ReadXml(std::span<const std::uint8_t> bytes);

// The bytes of an XML document as text: the encoding found from the byte-order mark or the
// first character, the mark dropped. Nothing for UTF-16 with an odd number of bytes.
std::optional<Text> DecodeXmlBytes(std::span<const std::uint8_t> bytes);

}  // namespace tolvessa
