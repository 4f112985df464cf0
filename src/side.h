// One side of one output sheet: its page object, its forms and the content placing them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "annots.h"
#include "doc.h"
#include "geometry.h"
#include "layout.h"
#include "outbuf.h"
#include "renumber.h"

namespace qf {

struct side_numbers {
    std::int32_t page_obj, fml_obj, fmr_obj, content_obj;
};

// What every side of a booklet shares.
struct side_style {
    double sheet_w = 0, sheet_h = 0;
    double fold_mark_len = 0; // 0: no fold marks
    bool compress = false;    // see build_form_xobject; the side's own content too
    // When set, sides whose content is the same share one content stream: content text to
    // the object written for it.
    std::map<std::string, std::int32_t>* shared_contents = nullptr;
    // When set, the annotations drawn on each page (by page index), and for the pages that
    // have any, the output number of the page's own form (0 for the others).
    const std::vector<page_annotations>* annotations = nullptr;
    const std::vector<std::int32_t>* page_forms = nullptr;
    // By page index: whether the page's own form has been written (a page placed twice
    // shares it).
    std::vector<std::uint8_t>* page_forms_written = nullptr;
};

// Appends "q s 0 0 s tx ty cm /name Do Q\n".
void place_form(buf& side, const char* name, double s, double tx, double ty);

// Returns page_obj, or -1 (nothing appended to `out`).
std::int32_t emit_side(const doc& d, buf& out, std::vector<std::int64_t>& xref_offs,
                       const side_style& style, side_numbers nums, const side_plan& side,
                       const renumber_map& map);

} // namespace qf
