// One side of one output sheet: its page object, its forms and the content placing them.
#pragma once

#include <cstdint>
#include <vector>

#include "doc.h"
#include "outbuf.h"
#include "renumber.h"

namespace qf {

struct side_numbers {
    std::int32_t page_obj, fml_obj, fmr_obj, content_obj;
};

// Scale and translation that place a page (turned by its form's matrix) in one half.
struct placement {
    double s, tx, ty;
};
placement slot_geometry(double sheet_w, double sheet_h, const pageinfo& pi, bool right);

// Appends "q s 0 0 s tx ty cm /name Do Q\n".
void place_form(buf& side, const char* name, double s, double tx, double ty);

// Returns page_obj, or -1 (nothing appended to `out`).
std::int32_t emit_side(const doc& d, buf& out, std::vector<std::int64_t>& xref_offs, double sheet_w,
                       double sheet_h, side_numbers nums, std::int32_t left_page,
                       std::int32_t right_page, const renumber_map& map);

} // namespace qf
