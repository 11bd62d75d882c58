// What the Authenticode image hash of a PE image covers, and the import hash (imphash): both
// read with the bounds checks of the PE reader, so a damaged image gives no value rather than a
// wrong one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inventory/pe_image.h"

namespace tolvessa {

struct ByteRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;  // one past the last byte
    bool operator==(const ByteRange&) const = default;
};

// The bytes the image hash is taken over: the ranges in file order, then `zeroPadding` zero
// bytes.
struct ImageHashPlan {
    std::vector<ByteRange> ranges;
    std::uint64_t zeroPadding = 0;
};

// The image hash covers the whole file except the optional header's CheckSum, the
// certificate-table directory entry and the certificate table. A file without a table is
// followed by zeros until its length is a multiple of 8, as signing tools pad a file before
// they append a table, so a file and its signed copy hash alike.
//
// Nothing when the image cannot be hashed soundly: not a PE image; no certificate-table
// directory entry; SizeOfHeaders past the end of the file or short of the directory entries;
// a section table or a section's raw data past the end of the file; a certificate table that
// starts inside the headers or inside a section's raw data, reaches past the end of the file,
// or does not end where the file ends (data after the table would be covered by no signature,
// and tools disagree on it).
std::optional<ImageHashPlan> PlanImageHash(ByteSource& file);

// The import list as incident-response tools join it for the imphash: for every import, in
// table order, "library.function" in lower case, the library without a ".dll", ".sys" or
// ".ocx" extension, functions imported by ordinal under their well-known name or "ord<N>",
// joined by commas. As those tools read a table, an import by ordinal 0, a function whose name
// is empty or holds a character no function name has, and a library with an empty name (with
// its imports) are left out, and a library name with a character no file name has is
// "*invalid*". The empty text for an image without imports.
//
// Nothing when the file is not a PE image or its import table is damaged: a descriptor, thunk
// array or name outside the file-backed part of the sections, a thunk that is neither an
// ordinal below 65536 nor a 32-bit RVA, or more libraries or thunks than any image has. There
// the tools differ among themselves (pefile, for one, reads an RVA outside every section as a
// file offset, skips a damaged library and goes on with the next, and stops after 8192 thunks),
// so no value is given rather than one of theirs.
std::optional<std::string> ImportHashText(ByteSource& file);

}  // namespace tolvessa
