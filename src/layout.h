// The imposition plan: which input page goes into which slot of which sheet side, and where it
// lands. The planner (impose.h) makes it from the options; the writer writes any plan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "annots.h"
#include "pagesel.h"
#include "paper.h"

namespace qf {

enum class binding_edge : std::uint8_t { left, right };
enum class duplex_flip : std::uint8_t { short_edge, long_edge };
enum class scale_mode : std::uint8_t { fit, shrink, none };
enum class sheet_choice : std::uint8_t { given, nearest };

struct layout_options {
    sheet_choice sheet_from = sheet_choice::nearest;
    sheet_dims sheet{};         // with sheet_choice::given
    std::int32_t signature = 0; // sheets per signature; 0 makes one signature of all sheets
    binding_edge binding = binding_edge::left;
    duplex_flip flip = duplex_flip::short_edge;
    bool cover = false;
    std::vector<page_range> pages;            // empty: every page in order
    double margin = 0, gutter = 0, creep = 0; // points
    scale_mode scale = scale_mode::fit;
    bool fold_marks = false;
    bool compress = false; // content as stored or compressed; streams without a filter compressed
    bool annotations = false; // draw the annotations that print into their pages
};

struct rect {
    double x = 0, y = 0, w = 0, h = 0;
};

// A form painted on a side: "a b c d e f cm" maps the form's space (the page turned upright by
// its own /Matrix) onto the sheet.
struct slot_plan {
    std::int32_t page = -1; // 1-based input page; -1 for a blank slot
    double a = 0, b = 0, c = 0, d = 0, e = 0, f = 0;
    double scale = 0;      // of the page's own size
    rect box;              // where the visible page lands on the sheet
    std::int32_t turn = 0; // clockwise degrees the page is turned on the sheet, /Rotate included
    bool clipped = false;  // the page is cut to `clip`
    rect clip;
};

struct side_plan {
    slot_plan left, right; // as they stand on the printed side
    bool turned = false;   // the side is printed upside down (long-edge flip)
};

struct sheet_plan {
    side_plan front, back;
    std::int32_t signature = 0;          // 0-based
    std::int32_t sheet_in_signature = 0; // 0 is the outermost
};

struct impose_plan {
    sheet_dims sheet{};
    std::vector<sheet_plan> sheets;
    std::int32_t input_pages = 0;  // pages of the document
    std::int32_t placed_pages = 0; // pages of the selection
    std::int32_t signatures = 0;
    std::int32_t blanks = 0;
    bool fold_marks = false;
    double fold_mark_len = 0;
    bool compress = false;
    // With the annotations option: the annotations each placed page prints, by page index;
    // empty otherwise.
    std::vector<page_annotations> annotations;
    std::vector<std::string> warnings;
    const char* bad_option = ""; // the option a bad_option status is about
};

} // namespace qf
