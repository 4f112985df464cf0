// The objects that the pages' resources reference, closed over their own references and
// carried into the output under new numbers after the sheet objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "doc.h"
#include "outbuf.h"
#include "renumber.h"

namespace qf {

// Numbers of the references found in text, in order, repeats kept.
std::vector<std::int32_t> scan_refs(bytes text);

// Fills the map with what the resources of the pages reference (with `placed`, only of the
// pages whose entry is non-zero, by page list index); 0, or -1 after setting a message.
int collect_carried(const doc& d, std::int32_t nsheets, renumber_map& map,
                    const std::vector<std::uint8_t>* placed = nullptr);

// Appends every carried object; xref_offs is indexed by output number.
void write_carried(const doc& d, buf& out, std::vector<std::int64_t>& xref_offs,
                   const renumber_map& map);

} // namespace qf
