// Packing a finished PDF 1.4 file of ours into a compact PDF 1.5 one: objects that are not
// streams go into compressed object streams, and a compressed cross-reference stream replaces
// the cross-reference table.
#pragma once

#include <cstdint>
#include <vector>

#include "outbuf.h"

namespace qf {

// `file` is a whole file as the writer makes it (header, "N 0 obj" ... "endobj" objects at the
// offsets in `offsets` (-1: not written), then the table and trailer) whose catalog is object 1.
// Returns the packed file, or an empty buffer after setting a message when memory ran out.
std::vector<std::uint8_t> pack_objects(const buf& file, const std::vector<std::int64_t>& offsets,
                                       std::int64_t max_num);

} // namespace qf
