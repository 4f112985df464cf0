// DEFLATE compression (RFC 1951) in a zlib wrapper (RFC 1950), for the streams the library
// writes compressed.
#pragma once

#include <cstdint>
#include <vector>

#include "doc.h"

namespace qf {

// Appends the zlib stream of `in` to `out`: LZ77 over a 32 KiB window with hash chains and
// lazy matching, in blocks each written with whichever of dynamic Huffman codes, the fixed
// codes or no compression is smallest. Any reader that decodes /FlateDecode reads it.
void deflate_compress(bytes in, std::vector<std::uint8_t>& out);

} // namespace qf
