// The planner: page order (selection, cover, signatures, binding, duplex flip) and the geometry
// of every slot (sheet size, margins, gutter, creep, scaling).
#pragma once

#include <cstdint>
#include <vector>

#include "doc.h"
#include "layout.h"

namespace qf {

enum class plan_status : std::uint8_t { ok, bad_option, failed };

// The plan of a booklet of the loaded document. bad_option after setting a message that names
// the option at fault (a page outside the document, margins that leave no room).
plan_status plan_imposition(const doc& d, const layout_options& opt, impose_plan& plan);

// Page order alone: `sequence` holds the selected input pages (1-based). Fills plan.sheets with
// the pages of every slot (geometry left at zero), plan.signatures and plan.blanks.
void plan_order(const std::vector<std::int32_t>& sequence, const layout_options& opt,
                impose_plan& plan);

// By page index (page number - 1) of a document of `page_count` pages: 1 for the pages the plan
// places, 0 for the rest.
std::vector<std::uint8_t> placed_pages(const impose_plan& plan, std::size_t page_count);

// Positions (1-based) of sheet k's slots in a saddle-stitched signature of n pages (n a
// multiple of 4): front left, front right, back left, back right.
struct saddle_slots {
    std::int64_t front_left, front_right, back_left, back_right;
};
constexpr saddle_slots saddle_positions(std::int64_t n, std::int64_t k) {
    // Nested and folded, sheet k carries the outermost remaining pages from both ends.
    return {n - 2 * k, 2 * k + 1, 2 * k + 2, n - 2 * k - 1};
}

} // namespace qf
