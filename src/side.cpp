// One side of an output sheet: a page object showing up to two input pages side by side,
// each carried as a Form XObject, and the content stream that places the forms.
#include "side.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "deflate.h"
#include "error.h"
#include "form.h"
#include "pagetree.h"

namespace qf {

namespace {

bool offset_slot_ok(const std::vector<std::int64_t>& xref_offs, std::int32_t num) {
    return num >= 0 && static_cast<std::uint64_t>(num) < xref_offs.size();
}

struct slot {
    const slot_plan* plan = nullptr;
    std::int32_t form_obj = -1;
    const char* name = "";
    std::vector<std::uint8_t> form;
    // A page drawn with annotations: its own form, painted by `form`.
    std::int32_t page_form_obj = 0;
    std::vector<std::uint8_t> page_form;

    bool used() const { return plan->page > 0; }
};

// Builds a non-blank slot's form, with the page's effective rotation; with annotations to
// draw, a form that paints the page's own form and then them.
bool build_slot(const doc& d, const renumber_map& map, const side_style& style, slot& sl) {
    const std::int32_t page = sl.plan->page;
    if (static_cast<std::uint64_t>(page) > d.pages.size()) return false;
    const pageinfo pi = effective_pageinfo(d, page);
    const obj* page_obj = find_obj(d, pi.obj_num);
    if (!page_obj) return false;
    const auto index = static_cast<std::size_t>(page) - 1;
    if (style.page_forms && index < style.page_forms->size() && (*style.page_forms)[index] > 0) {
        sl.page_form_obj = (*style.page_forms)[index];
        if (!(*style.page_forms_written)[index]) {
            pageinfo upright_as_stored = pi;
            upright_as_stored.rotate = 0;
            auto own =
                build_form_xobject(d, *page_obj, upright_as_stored, map, page, style.compress);
            if (!own) return false;
            sl.page_form = std::move(*own);
        }
        sl.form = build_annotated_form(pi, sl.page_form_obj, (*style.annotations)[index], map);
        return true;
    }
    auto form = build_form_xobject(d, *page_obj, pi, map, page, style.compress);
    if (!form) return false;
    sl.form = std::move(*form);
    return true;
}

// Appends "N 0 obj\n<body>\nendobj\n" and records its offset.
void append_object(buf& out, std::vector<std::int64_t>& xref_offs, std::int32_t num,
                   const std::vector<std::uint8_t>& body) {
    xref_offs[static_cast<std::size_t>(num)] = static_cast<std::int64_t>(out.len);
    buf_format(out, "%ld 0 obj\n", static_cast<long>(num));
    buf_bytes(out, body.data(), body.size());
    buf_text(out, "\nendobj\n");
}

void append_numbers(buf& out, std::initializer_list<double> values) {
    char t[64];
    bool first = true;
    for (double v : values) {
        num_text(v, t);
        if (!first) buf_text(out, " ");
        buf_text(out, t);
        first = false;
    }
}

// "q a b c d e f cm /name Do Q\n".
void place_matrix(buf& side, const char* name, std::initializer_list<double> matrix) {
    buf_text(side, "q ");
    append_numbers(side, matrix);
    buf_format(side, " cm /%s Do Q\n", name);
}

// The slot's placement, inside a clipping rectangle when the page is cut.
void paint_slot(buf& content, const slot& sl) {
    const slot_plan& p = *sl.plan;
    if (p.clipped) {
        buf_text(content, "q ");
        append_numbers(content, {p.clip.x, p.clip.y, p.clip.w, p.clip.h});
        buf_text(content, " re W n\n");
    }
    place_matrix(content, sl.name, {p.a, p.b, p.c, p.d, p.e, p.f});
    if (p.clipped) buf_text(content, "Q\n");
}

// Short black strokes on the fold line at the top and bottom edges of the sheet.
void paint_fold_marks(buf& content, const side_style& style) {
    const double x = style.sheet_w * 0.5;
    buf_text(content, "q 0 G 0.5 w ");
    append_numbers(content, {x, 0});
    buf_text(content, " m ");
    append_numbers(content, {x, style.fold_mark_len});
    buf_text(content, " l S ");
    append_numbers(content, {x, style.sheet_h - style.fold_mark_len});
    buf_text(content, " m ");
    append_numbers(content, {x, style.sheet_h});
    buf_text(content, " l S Q\n");
}

} // namespace

void place_form(buf& side, const char* name, double s, double tx, double ty) {
    place_matrix(side, name, {s, 0, 0, s, tx, ty});
}

std::int32_t emit_side(const doc& d, buf& out, std::vector<std::int64_t>& xref_offs,
                       const side_style& style, side_numbers nums, const side_plan& side,
                       const renumber_map& map) {
    slot slots[2];
    slots[0].plan = &side.left;
    slots[0].form_obj = nums.fml_obj;
    slots[0].name = "FmL";
    slots[1].plan = &side.right;
    slots[1].form_obj = nums.fmr_obj;
    slots[1].name = "FmR";

    // Everything that can fail happens before the first byte reaches the output, so a side
    // is appended whole or not at all.
    if (!offset_slot_ok(xref_offs, nums.page_obj) || !offset_slot_ok(xref_offs, nums.content_obj))
        return -1;
    for (slot& sl : slots) {
        if (!sl.used()) continue;
        if (!offset_slot_ok(xref_offs, sl.form_obj) || !build_slot(d, map, style, sl) ||
            (sl.page_form_obj > 0 && !offset_slot_ok(xref_offs, sl.page_form_obj)))
            return -1;
    }

    buf content;
    for (const slot& sl : slots)
        if (sl.used()) paint_slot(content, sl);
    if (style.fold_mark_len > 0) paint_fold_marks(content, style);
    if (content.len == 0) buf_text(content, "% blank sheet\n");
    if (content.failed || !content.data) return -1;
    std::size_t content_len = std::strlen(reinterpret_cast<const char*>(content.data));
    const std::uint8_t* content_bytes = content.data;
    const char* content_filter = "";
    std::vector<std::uint8_t> packed;
    // Pages of one size, without creep, give every full side the same content.
    std::int32_t content_obj = nums.content_obj;
    bool content_shared = false;
    if (style.shared_contents) {
        const std::string key(reinterpret_cast<const char*>(content.data), content_len);
        const auto [at, added] = style.shared_contents->emplace(key, nums.content_obj);
        content_obj = at->second;
        content_shared = !added;
    }
    if (style.compress && !content_shared) {
        deflate_compress(bytes(content.data, content_len), packed);
        if (packed.size() < content_len) {
            content_bytes = packed.data();
            content_len = packed.size();
            content_filter = " /Filter /FlateDecode";
        }
    }

    xref_offs[static_cast<std::size_t>(nums.page_obj)] = static_cast<std::int64_t>(out.len);
    buf_format(out, "%ld 0 obj\n", static_cast<long>(nums.page_obj));
    buf_text(out, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ");
    append_numbers(out, {style.sheet_w, style.sheet_h});
    buf_text(out, "] /Contents ");
    buf_format(out, "%ld 0 R", static_cast<long>(content_obj));
    buf_text(out, " /Resources << /XObject << ");
    for (const slot& sl : slots) {
        if (!sl.used()) continue;
        buf_format(out, "/%s %ld 0 R", sl.name, static_cast<long>(sl.form_obj));
    }
    buf_text(out, ">> >> >>\nendobj\n");

    for (const slot& sl : slots) {
        if (!sl.used()) continue;
        append_object(out, xref_offs, sl.form_obj, sl.form);
        if (sl.page_form_obj <= 0) continue;
        auto& written = (*style.page_forms_written)[static_cast<std::size_t>(sl.plan->page) - 1];
        if (written) continue;
        append_object(out, xref_offs, sl.page_form_obj, sl.page_form);
        written = 1;
    }

    if (content_shared) return nums.page_obj;
    xref_offs[static_cast<std::size_t>(nums.content_obj)] = static_cast<std::int64_t>(out.len);
    buf_format(out, "%ld 0 obj\n<< /Length %zu%s >>\nstream\n", static_cast<long>(nums.content_obj),
               content_len, content_filter);
    buf_bytes(out, content_bytes, content_len);
    // Plain content ends with its own line end; compressed data gets one before the keyword.
    buf_text(out, *content_filter ? "\nendstream\nendobj\n" : "endstream\nendobj\n");
    return nums.page_obj;
}

} // namespace qf
