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

// The bytes the Authenticode image hash is taken over: PeImage::HashPlan of the file, which says
// what the hash covers; nothing when the file is not a PE image or cannot be hashed soundly.
std::optional<ImageHashPlan> PlanImageHash(ByteSource& file);

// The import list (PeImage::Imports) as incident-response tools join it for the imphash: for every
// import, in table order, "library.function" in lower case, the library without a ".dll", ".sys" or
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
// The same for an image already parsed from `file`.
std::optional<std::string> ImportHashText(const PeImage& image, ByteSource& file);

}  // namespace tolvessa
