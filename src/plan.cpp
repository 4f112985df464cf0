#include "plan.h"

#include "error.h"
#include "impose.h"
#include "paper.h"

namespace qf {

int make_plan(const doc& d, const char* out_path, std::int32_t sheet_size, booklet_plan& plan) {
    if (!out_path) {
        set_error("NULL output path");
        return 0;
    }
    if (d.pages.empty()) {
        set_error("document has no pages");
        return 0;
    }
    if (sheet_size > 2) {
        set_error("sheet_size must be 0 (A4), 1 (Letter) or 2 (A3) (got %d)",
                  static_cast<int>(sheet_size));
        return 0;
    }
    const pageinfo& first = d.pages.front();
    const sheet_dims dims = sheet_size < 0
                                ? classic_automatic_sheet(first.x1 - first.x0, first.y1 - first.y0)
                                : classic_sheet(sheet_size);
    plan.sheet_w = dims.w;
    plan.sheet_h = dims.h;
    // Four slots to a sheet: the page count rounded up to a multiple of four.
    const std::int64_t rounded = (static_cast<std::int64_t>(d.pages.size()) + 3) & ~std::int64_t{3};
    plan.nslots = static_cast<std::int32_t>(rounded);
    plan.nsheets = static_cast<std::int32_t>(rounded / 4);
    return 1;
}

sheet_slots slots_of_sheet(const booklet_plan& plan, std::int32_t page_count, std::int32_t i) {
    if (i < 0 || i >= plan.nsheets) return {-1, -1, -1, -1};
    const saddle_slots pos = saddle_positions(plan.nslots, i);
    auto slot = [page_count](std::int64_t page) {
        return page > page_count ? -1 : static_cast<std::int32_t>(page);
    };
    return {slot(pos.front_left), slot(pos.front_right), slot(pos.back_left), slot(pos.back_right)};
}

} // namespace qf
