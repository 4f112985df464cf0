#include "impose.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "error.h"
#include "geometry.h"
#include "outbuf.h"
#include "pagetree.h"

namespace qf {

namespace {

// The booklet's pages in reading order: the selection padded with blanks (-1) to a multiple of
// four, after it or, with a cover, before its last page.
std::vector<std::int32_t> padded_pages(const std::vector<std::int32_t>& sequence, bool cover) {
    const std::size_t m = sequence.size();
    const std::size_t padded = (m + 3) & ~std::size_t{3};
    std::vector<std::int32_t> book(padded, -1);
    if (cover && m > 0) {
        std::copy(sequence.begin(), sequence.end() - 1, book.begin());
        book.back() = sequence.back();
    } else {
        std::copy(sequence.begin(), sequence.end(), book.begin());
    }
    return book;
}

// Pages cut at the edges of their slot, for the warning.
struct slot_counts {
    std::int32_t cut_pages = 0, first_cut = 0;
};

bool outside(const rect& inner, const rect& outer) {
    // A thousandth of a point is far below anything a printer shows.
    constexpr double tolerance = 1e-3;
    return inner.x < outer.x - tolerance || inner.y < outer.y - tolerance ||
           inner.x + inner.w > outer.x + outer.w + tolerance ||
           inner.y + inner.h > outer.y + outer.h + tolerance;
}

rect turned_half_round(const rect& r, double w, double h) {
    return {w - r.x - r.w, h - r.y - r.h, r.w, r.h};
}

// Geometry of the slot standing at `physical_right` on a side; on a turned side it is the
// other slot of the side as laid out, turned half round the sheet's centre.
void place_slot(const doc& d, const layout_options& opt, const sheet_dims& sheet, bool turned,
                bool physical_right, double creep_shift, slot_plan& sl, slot_counts& counts) {
    if (sl.page < 1) return;
    const pageinfo pi = effective_pageinfo(d, sl.page);
    const bool right = turned ? !physical_right : physical_right;
    const rect cell = slot_cell(sheet.w, sheet.h, right, opt.margin, opt.gutter);
    // Creep moves pages toward the fold: right on the left half, left on the right half.
    const double shift = right ? -creep_shift : creep_shift;
    const placement p = place_page(pi, cell, opt.scale, shift);

    // The page may paint in its cell, moved with it, but never across the fold.
    const double half = sheet.w * 0.5;
    rect bound = cell;
    bound.x += shift;
    if (right && bound.x < half) {
        bound.w -= half - bound.x;
        bound.x = half;
    }
    if (!right && bound.x + bound.w > half) bound.w = half - bound.x;

    sl.scale = p.s;
    sl.a = p.s, sl.b = 0, sl.c = 0, sl.d = p.s, sl.e = p.tx, sl.f = p.ty;
    sl.box = p.box;
    sl.turn = 0;
    sl.clipped = outside(p.box, bound);
    if (sl.clipped) {
        sl.clip = bound;
        if (counts.cut_pages++ == 0) counts.first_cut = sl.page;
    }
    if (turned) {
        sl.a = -p.s, sl.d = -p.s, sl.e = sheet.w - p.tx, sl.f = sheet.h - p.ty;
        sl.box = turned_half_round(sl.box, sheet.w, sheet.h);
        sl.clip = turned_half_round(sl.clip, sheet.w, sheet.h);
        sl.turn = 180;
    }
}

sheet_dims choose_sheet(const doc& d, const layout_options& opt) {
    if (opt.sheet_from == sheet_choice::given) return opt.sheet;
    const pageinfo& first = d.pages.front();
    return nearest_standard_sheet(first.x1 - first.x0, first.y1 - first.y0);
}

} // namespace

void plan_order(const std::vector<std::int32_t>& sequence, const layout_options& opt,
                impose_plan& plan) {
    const std::vector<std::int32_t> book = padded_pages(sequence, opt.cover);
    const auto total = static_cast<std::int64_t>(book.size());
    const std::int64_t per_signature =
        opt.signature > 0 ? 4 * static_cast<std::int64_t>(opt.signature) : total;
    plan.sheets.clear();
    plan.sheets.reserve(static_cast<std::size_t>(total / 4));
    plan.placed_pages = static_cast<std::int32_t>(sequence.size());
    plan.blanks = static_cast<std::int32_t>(total - static_cast<std::int64_t>(sequence.size()));
    plan.signatures = 0;
    for (std::int64_t start = 0; start < total; start += per_signature) {
        const std::int64_t n = std::min(per_signature, total - start);
        auto page_at = [&](std::int64_t position) {
            return book[static_cast<std::size_t>(start + position - 1)];
        };
        for (std::int64_t k = 0; k < n / 4; ++k) {
            const saddle_slots pos = saddle_positions(n, k);
            sheet_plan sh;
            sh.signature = plan.signatures;
            sh.sheet_in_signature = static_cast<std::int32_t>(k);
            sh.front.left.page = page_at(pos.front_left);
            sh.front.right.page = page_at(pos.front_right);
            sh.back.left.page = page_at(pos.back_left);
            sh.back.right.page = page_at(pos.back_right);
            // Right-to-left reading: every side mirrored, the spine on the right.
            if (opt.binding == binding_edge::right) {
                std::swap(sh.front.left, sh.front.right);
                std::swap(sh.back.left, sh.back.right);
            }
            // A printer that flips on the long edge prints the back upside down, so the back
            // is laid out turned half round: its two pages change places, each upside down.
            if (opt.flip == duplex_flip::long_edge) {
                sh.back.turned = true;
                std::swap(sh.back.left, sh.back.right);
            }
            plan.sheets.push_back(sh);
        }
        ++plan.signatures;
    }
}

namespace {

// The annotations every placed page prints, and a warning for those that cannot be drawn.
void plan_annotations(const doc& d, impose_plan& plan) {
    const std::vector<std::uint8_t> placed = placed_pages(plan, d.pages.size());
    plan.annotations.assign(d.pages.size(), page_annotations{});
    annotation_memo memo;
    std::int64_t unusable = 0;
    std::vector<std::int32_t> pages_with_unusable;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const obj* page = placed[i] ? find_obj(d, d.pages[i].obj_num) : nullptr;
        if (!page) continue;
        page_annotations& found = plan.annotations[i];
        found = printed_annotations(d, *page, memo);
        if (found.unusable == 0) continue;
        unusable += found.unusable;
        pages_with_unusable.push_back(static_cast<std::int32_t>(i) + 1);
    }
    if (unusable == 0) return;
    // A long list of pages says no more than its first few.
    constexpr std::size_t pages_named = 10;
    std::string pages;
    for (std::size_t i = 0; i < pages_with_unusable.size() && i < pages_named; ++i)
        pages += (i ? ", " : "") + std::to_string(pages_with_unusable[i]);
    if (pages_with_unusable.size() > pages_named) pages += ", ...";
    plan.warnings.push_back(format(
        "%lld annotation%s that should print %s no appearance to draw and %s left out (page%s %s)",
        static_cast<long long>(unusable), unusable == 1 ? "" : "s", unusable == 1 ? "has" : "have",
        unusable == 1 ? "is" : "are", pages_with_unusable.size() == 1 ? "" : "s", pages.c_str()));
}

} // namespace

std::vector<std::uint8_t> placed_pages(const impose_plan& plan, std::size_t page_count) {
    std::vector<std::uint8_t> placed(page_count, 0);
    for (const sheet_plan& sh : plan.sheets)
        for (const slot_plan* sl : {&sh.front.left, &sh.front.right, &sh.back.left, &sh.back.right})
            if (sl->page >= 1 && static_cast<std::uint64_t>(sl->page) <= page_count)
                placed[static_cast<std::size_t>(sl->page) - 1] = 1;
    return placed;
}

plan_status plan_imposition(const doc& d, const layout_options& opt, impose_plan& plan) {
    plan = impose_plan{};
    if (d.pages.empty()) {
        set_error("document has no pages");
        return plan_status::failed;
    }
    plan.input_pages = static_cast<std::int32_t>(d.pages.size());
    std::vector<std::int32_t> sequence;
    std::string why;
    if (!resolve_page_ranges(opt.pages, plan.input_pages, sequence, why)) {
        set_error("pages: %s", why.c_str());
        plan.bad_option = "pages";
        return plan_status::bad_option;
    }

    plan.sheet = choose_sheet(d, opt);
    const rect cell = slot_cell(plan.sheet.w, plan.sheet.h, false, opt.margin, opt.gutter);
    if (!(cell.w > 0) || !(cell.h > 0)) {
        set_error("%s: margin %s pt and gutter %s pt leave no room for pages on a %s x %s pt sheet",
                  opt.margin > 0 ? "margin" : "gutter", num_str(opt.margin).c_str(),
                  num_str(opt.gutter).c_str(), num_str(plan.sheet.w).c_str(),
                  num_str(plan.sheet.h).c_str());
        plan.bad_option = opt.margin > 0 ? "margin" : "gutter";
        return plan_status::bad_option;
    }

    plan_order(sequence, opt, plan);

    slot_counts counts;
    std::vector<std::int32_t> sheets_in_signature(static_cast<std::size_t>(plan.signatures), 0);
    for (const sheet_plan& sh : plan.sheets)
        ++sheets_in_signature[static_cast<std::size_t>(sh.signature)];
    for (sheet_plan& sh : plan.sheets) {
        // Sheet i of S moves by creep × i / (S − 1): the outermost stays, the innermost moves
        // by the whole creep.
        const std::int32_t s = sheets_in_signature[static_cast<std::size_t>(sh.signature)];
        const double shift =
            opt.creep > 0 && s > 1 ? opt.creep * sh.sheet_in_signature / (s - 1) : 0;
        for (side_plan* side : {&sh.front, &sh.back}) {
            place_slot(d, opt, plan.sheet, side->turned, false, shift, side->left, counts);
            place_slot(d, opt, plan.sheet, side->turned, true, shift, side->right, counts);
        }
    }
    if (counts.cut_pages > 0)
        plan.warnings.push_back(
            format("%ld page%s larger than %s slot and cut at its edges (first: page %ld)",
                   static_cast<long>(counts.cut_pages), counts.cut_pages == 1 ? " is" : "s are",
                   counts.cut_pages == 1 ? "its" : "their", static_cast<long>(counts.first_cut)));

    if (opt.annotations) plan_annotations(d, plan);
    plan.fold_marks = opt.fold_marks;
    plan.compress = opt.compress;
    // Marks stand in the margin, long enough to see and to fold by.
    plan.fold_mark_len = std::clamp(opt.margin, 6.0, 18.0);
    return plan_status::ok;
}

} // namespace qf
