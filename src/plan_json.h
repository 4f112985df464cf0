// The plan as JSON text, for people and scripts.
#pragma once

#include <string>

#include "layout.h"

namespace qf {

// {"sheet": {"name", "width", "height"}, counts, "sheets": [{"signature", "front": {"left": P,
// "right": P, "turned", "placement": {...}}, "back": {...}}]} with 1-based input pages and
// null for a blank slot.
std::string plan_json(const impose_plan& plan);

} // namespace qf
