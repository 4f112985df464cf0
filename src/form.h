// An input page as a Form XObject of the output.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "doc.h"
#include "renumber.h"

namespace qf {

// The form object's body, from its dictionary to the closing "\nendstream", or nullopt
// (with a message set for the content failures). `pi.rotate` holds the effective rotation.
// With `compress`, content in one stream goes in as it is stored (never decoded), and content
// that is plain (stored without a filter, or joined from an array) is compressed.
std::optional<std::vector<std::uint8_t>>
build_form_xobject(const doc& d, const obj& page, const pageinfo& pi, const renumber_map& map,
                   std::int32_t page_number, bool compress = false);

} // namespace qf
