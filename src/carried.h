// The objects that the pages' resources reference, closed over their own references and
// carried into the output under new numbers after the sheet objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "annots.h"
#include "doc.h"
#include "outbuf.h"
#include "renumber.h"

namespace qf {

// Numbers of the references found in text, in order, repeats kept.
std::vector<std::int32_t> scan_refs(bytes text);

// Fills the map with what the resources of the pages reference (with `placed`, only of the
// pages whose entry is non-zero, by page list index) and, with `annotations` (by page list
// index), the appearance streams drawn on them; 0, or -1 after setting a message.
int collect_carried(const doc& d, std::int32_t nsheets, renumber_map& map,
                    const std::vector<std::uint8_t>* placed = nullptr,
                    const std::vector<page_annotations>* annotations = nullptr);

// Appends every carried object; xref_offs is indexed by output number. With `compress`,
// streams stored without any filter are compressed (when that makes them smaller).
void write_carried(const doc& d, buf& out, std::vector<std::int64_t>& xref_offs,
                   const renumber_map& map, bool compress = false);

// The dictionary of a stream without a filter, rewritten for its compressed data of `length`
// bytes: /Filter /FlateDecode added, /Length set. nullopt when the stream must keep its bytes
// (it has a filter or decode parameters, or no readable /Length).
std::optional<std::string> flate_dictionary(std::string_view dict, std::size_t length);

} // namespace qf
