#include "plan.h"

#include "error.h"

namespace qf {

namespace {

struct sheet_dims {
    double w, h;
};

// Landscape sheets in points, by size code.
constexpr sheet_dims a4 = {841.89, 595.28};
constexpr sheet_dims letter = {792, 612};
constexpr sheet_dims a3 = {1190.55, 841.89};
constexpr sheet_dims sized_sheets[] = {a4, letter, a3};

// A first page at least as wide as it is high goes onto Letter, a portrait one onto A4. The
// rotation is not considered.
sheet_dims automatic_sheet(const pageinfo& first) {
    return first.x1 - first.x0 >= first.y1 - first.y0 ? letter : a4;
}

} // namespace

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
    const sheet_dims dims = sheet_size < 0 ? automatic_sheet(d.pages.front())
                                           : sized_sheets[static_cast<std::size_t>(sheet_size)];
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
    // Nested and folded, sheet i carries the outermost remaining pages from both ends.
    const std::int64_t n = plan.nslots;
    const std::int64_t two_i = 2 * static_cast<std::int64_t>(i);
    auto slot = [page_count](std::int64_t page) {
        return page > page_count ? -1 : static_cast<std::int32_t>(page);
    };
    return {slot(n - two_i), slot(two_i + 1), slot(two_i + 2), slot(n - two_i - 1)};
}

} // namespace qf
