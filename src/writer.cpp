// The booklet file writer: builds the whole output PDF in memory (header, catalog, page tree,
// sheet sides, carried objects, classic cross-reference table, trailer) and only then creates
// the output file, so a failed build never touches the output path.
#include "writer.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "carried.h"
#include "error.h"
#include "impose.h"
#include "objpack.h"
#include "outbuf.h"
#include "outfile.h"
#include "plan.h"
#include "renumber.h"
#include "side.h"

namespace qf {

namespace {

// Output numbering: 1 catalog, 2 page tree, then ten numbers per sheet (eight used: front page,
// its left and right forms, its content, then the same for the back), then the carried objects,
// then the own forms of pages drawn with annotations.
constexpr std::int64_t numbers_per_sheet = 10;
constexpr std::int64_t first_sheet_obj = 3;

// Every cross-reference entry line is exactly this long ("oooooooooo ggggg n \n").
constexpr std::uint64_t xref_entry_len = 20;

void append_page_tree(buf& out, std::int32_t nsheets) {
    buf_text(out, "2 0 obj\n<< /Type /Pages /Count ");
    buf_format(out, "%ld", static_cast<long>(2 * static_cast<std::int64_t>(nsheets)));
    buf_text(out, " /Kids [");
    for (std::int64_t i = 0; i < nsheets; ++i) {
        const std::int64_t front = first_sheet_obj + numbers_per_sheet * i;
        if (i > 0) buf_text(out, " ");
        buf_format(out, "%ld 0 R %ld 0 R", static_cast<long>(front), static_cast<long>(front + 4));
    }
    buf_text(out, "]>>\nendobj\n");
}

void append_xref_and_trailer(buf& out, const std::vector<std::int64_t>& xref_offs,
                             std::int64_t max_num) {
    const auto xref_pos = static_cast<long long>(out.len);
    buf_format(out, "xref\n0 %lld\n", static_cast<long long>(max_num + 1));
    buf_text(out, "0000000000 65535 f \n");
    for (std::int64_t k = 1; k <= max_num; ++k) {
        const std::int64_t off = xref_offs[static_cast<std::size_t>(k)];
        if (off >= 0)
            buf_format(out, "%010lld 00000 n \n", static_cast<long long>(off));
        else
            buf_text(out, "0000000000 65535 f \n");
    }
    buf_format(out, "trailer\n<< /Size %lld /Root 1 0 R >>\nstartxref %lld\n",
               static_cast<long long>(max_num + 1), xref_pos);
    buf_text(out, "%%EOF\n");
}

// The cross-reference table alone takes one line per object number, so numbering that
// would not fit the file is refused before anything is built.
bool numbering_fits(std::int64_t max_num, const char* out_path) {
    return output_size_ok(static_cast<std::uint64_t>(max_num + 1) * xref_entry_len, out_path);
}

} // namespace

bool output_size_ok(std::uint64_t len, const char* out_path) {
    if (len < output_len_limit) return true;
    set_error("output file too large (2 GiB or more): %s", out_path);
    return false;
}

int write_output(bytes content, const char* out_path, bool with_reason) {
    // A failed output buffer has no storage and so no length.
    if (content.empty()) {
        set_error("failed to build output");
        return 0;
    }
    if (!output_size_ok(content.size(), out_path)) return 0;
    return write_file_safely(content, out_path, with_reason);
}

bool build_booklet(const doc& d, const impose_plan& plan, const char* out_name, buf& out) {
    const auto nsheets = static_cast<std::int64_t>(plan.sheets.size());
    if (!numbering_fits(numbers_per_sheet * nsheets, out_name)) return false;

    // Only the pages the plan places bring their resources along.
    const std::vector<std::uint8_t> placed = placed_pages(plan, d.pages.size());

    const std::vector<page_annotations>* annotations =
        plan.annotations.empty() ? nullptr : &plan.annotations;
    renumber_map map;
    if (collect_carried(d, static_cast<std::int32_t>(nsheets), map, &placed, annotations) != 0)
        return false;
    const auto n_carried = static_cast<std::int64_t>(map.old_nums.size());
    // A page drawn with annotations keeps its own form under a number after the carried
    // objects; the slot's form then paints it and the annotations over it.
    std::vector<std::int32_t> page_forms;
    std::int64_t max_num = numbers_per_sheet * nsheets + n_carried;
    if (annotations) {
        page_forms.assign(d.pages.size(), 0);
        // The planner reads annotations of placed pages only.
        for (std::size_t i = 0; i < annotations->size() && i < page_forms.size(); ++i)
            if (!(*annotations)[i].drawn.empty() && max_num < INT32_MAX)
                page_forms[i] = static_cast<std::int32_t>(++max_num);
    }
    if (!numbering_fits(max_num, out_name)) return false;
    std::vector<std::uint8_t> page_forms_written(page_forms.size(), 0);

    std::vector<std::int64_t> xref_offs(static_cast<std::size_t>(max_num + 4), -1);
    buf_release(out);
    if (!buf_reserve_first(out)) {
        set_error("out of memory");
        return false;
    }

    buf_text(out, "%PDF-1.4\n");
    // A comment of bytes above 127 marks the file as binary for transfer programs.
    buf_text(out, "%\xE2\xE3\xCF\xD3\n");

    xref_offs[1] = static_cast<std::int64_t>(out.len);
    buf_text(out, "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    xref_offs[2] = static_cast<std::int64_t>(out.len);
    append_page_tree(out, static_cast<std::int32_t>(nsheets));

    std::map<std::string, std::int32_t> shared_contents;
    const side_style style{plan.sheet.w,
                           plan.sheet.h,
                           plan.fold_marks ? plan.fold_mark_len : 0,
                           plan.compress,
                           plan.compress ? &shared_contents : nullptr,
                           annotations,
                           page_forms.empty() ? nullptr : &page_forms,
                           page_forms.empty() ? nullptr : &page_forms_written};
    for (std::int64_t i = 0; i < nsheets; ++i) {
        const sheet_plan& sh = plan.sheets[static_cast<std::size_t>(i)];
        const auto base = static_cast<std::int32_t>(first_sheet_obj + numbers_per_sheet * i);
        const side_numbers front{base, base + 1, base + 2, base + 3};
        const side_numbers back{base + 4, base + 5, base + 6, base + 7};
        if (emit_side(d, out, xref_offs, style, front, sh.front, map) < 0 ||
            emit_side(d, out, xref_offs, style, back, sh.back, map) < 0) {
            if (!error_is_set()) set_error("failed to build output (damaged page tree or content)");
            return false;
        }
        // A file past the limit is refused anyway: no need to build the rest of it first.
        if (!output_size_ok(out.len, out_name)) return false;
    }

    write_carried(d, out, xref_offs, map, plan.compress);
    append_xref_and_trailer(out, xref_offs, max_num);
    if (out.failed || out.len == 0) {
        set_error("failed to build output");
        return false;
    }
    if (plan.compress) {
        // Compact: small objects into compressed object streams, a cross-reference stream.
        const std::vector<std::uint8_t> packed = pack_objects(out, xref_offs, max_num);
        if (packed.empty()) return false;
        buf_release(out);
        buf_bytes(out, packed.data(), packed.size());
        if (out.failed) {
            set_error("out of memory");
            return false;
        }
    }
    return true;
}

int booklet_doc(const doc& d, const char* out_path, std::int32_t sheet_size) {
    // A side may fail without a message of its own; starting empty tells that case apart.
    clear_error();

    // The classic entry checks and sheet choice; the rest is the default layout.
    booklet_plan classic;
    if (!make_plan(d, out_path, sheet_size, classic)) return 0;
    layout_options layout;
    layout.sheet_from = sheet_choice::given;
    layout.sheet = {classic.sheet_w, classic.sheet_h};
    impose_plan plan;
    if (plan_imposition(d, layout, plan) != plan_status::ok) return 0;

    buf out;
    if (!build_booklet(d, plan, out_path, out)) return 0;
    if (!write_output(bytes(out.data, static_cast<std::size_t>(out.len)), out_path)) return 0;
    clear_error();
    return 1;
}

} // namespace qf
