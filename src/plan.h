// Sheet size and booklet page order.
#pragma once

#include <cstdint>

#include "doc.h"

namespace qf {

struct booklet_plan {
    double sheet_w = 0, sheet_h = 0;
    std::int32_t nslots = 0, nsheets = 0;
};

// Page numbers (1-based) of one sheet's slots; -1 for a blank slot.
struct sheet_slots {
    std::int32_t front_left, front_right, back_left, back_right;
};

// Entry checks and plan; 0 after setting a message, 1 on success.
int make_plan(const doc& d, const char* out_path, std::int32_t sheet_size, booklet_plan& plan);

sheet_slots slots_of_sheet(const booklet_plan& plan, std::int32_t page_count, std::int32_t i);

} // namespace qf
