// The /Resources dictionary that applies to a page, on the page or up its ancestors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "doc.h"

namespace qf {

// The dictionary text from its "<<" through its ">>", copied byte for byte, or nullopt.
std::optional<std::string> get_resources_inherited(const doc& d, const obj* start,
                                                   std::int32_t first_ancestor);

} // namespace qf
