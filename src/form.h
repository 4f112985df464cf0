// An input page as a Form XObject of the output.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <string>

#include "annots.h"
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

// The start of a page form's dictionary: its type, the page's visible box as /BBox and the
// /Matrix that turns it upright by `pi.rotate`.
std::string form_dict_start(const pageinfo& pi);

// The body of a form that shows a page as it prints: the page's own form (object `page_form`
// of the output, built with no turn) and then each annotation's appearance (carried under the
// numbers `map` gives), in the page's space, turned upright like the page.
std::vector<std::uint8_t> build_annotated_form(const pageinfo& pi, std::int32_t page_form,
                                               const page_annotations& annots,
                                               const renumber_map& map);

} // namespace qf
