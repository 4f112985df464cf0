// One side of an output sheet: a page object showing up to two input pages side by side,
// each carried as a Form XObject, and the content stream that places the forms.
#include "side.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "error.h"
#include "form.h"
#include "pagetree.h"

namespace qf {

namespace {

// The page box as the form's /Matrix lands it: extent and lower-left corner.
struct landed_box {
    double width, height, lx, ly;
};

// Extent and lower end of the interval [a, b] or [b, a]. With a = 0 the extent is b itself,
// so boxes at the origin keep their exact numbers.
void span_of(double a, double b, double& extent, double& low) {
    if (a <= b) {
        extent = b - a;
        low = a;
    } else {
        extent = a - b;
        low = b;
    }
}

landed_box land(const pageinfo& pi) {
    // Quarter turns swap the box's sides; see the matrices of the form builder.
    double xa = pi.x0, xb = pi.x1, ya = pi.y0, yb = pi.y1;
    switch (norm_rotate(pi.rotate)) {
    case 90:
        xa = pi.y0, xb = pi.y1, ya = 0, yb = pi.x1 - pi.x0;
        break;
    case 180:
        xa = 0, xb = pi.x1 - pi.x0, ya = 0, yb = pi.y1 - pi.y0;
        break;
    case 270:
        xa = 0, xb = pi.y1 - pi.y0, ya = pi.x0, yb = pi.x1;
        break;
    default: // 0 and angles that are not quarter turns are drawn unturned
        break;
    }
    landed_box b{};
    span_of(xa, xb, b.width, b.lx);
    span_of(ya, yb, b.height, b.ly);
    return b;
}

bool offset_slot_ok(const std::vector<std::int64_t>& xref_offs, std::int32_t num) {
    return num >= 0 && static_cast<std::uint64_t>(num) < xref_offs.size();
}

struct slot {
    std::int32_t page = 0; // 1-based; 0 or less for a blank slot
    std::int32_t form_obj = -1;
    const char* name = "";
    bool right = false;
    pageinfo pi{};
    std::vector<std::uint8_t> form;

    bool used() const { return page > 0; }
};

// Prepares a non-blank slot: its page record with the effective rotation, and its form.
bool build_slot(const doc& d, const renumber_map& map, slot& sl) {
    if (static_cast<std::uint64_t>(sl.page) > d.pages.size()) return false;
    sl.pi = d.pages[static_cast<std::size_t>(sl.page) - 1];
    const obj* page = find_obj(d, sl.pi.obj_num);
    if (!page) return false;
    std::optional<std::int32_t> own = obj_rotate_own(d, *page);
    sl.pi.rotate = norm_rotate(own ? *own : sl.pi.inherited_rotate);
    auto form = build_form_xobject(d, *page, sl.pi, map, sl.page);
    if (!form) return false;
    sl.form = std::move(*form);
    return true;
}

void append_num(buf& out, double v) {
    char t[64];
    num_text(v, t);
    buf_text(out, t);
}

} // namespace

placement slot_geometry(double sheet_w, double sheet_h, const pageinfo& pi, bool right) {
    const double half = sheet_w * 0.5;
    const landed_box b = land(pi);
    const double by_width = half / b.width;
    const double by_height = sheet_h / b.height;
    double s = by_width < by_height ? by_width : by_height;
    // Only a box without any extent gets here; it has nothing to show.
    if (!std::isfinite(s)) s = 0;

    placement p{};
    p.s = s;
    p.tx = (half - b.width * s) * 0.5;
    if (b.lx != 0) p.tx -= b.lx * s;
    if (right) p.tx += half;
    p.ty = (sheet_h - b.height * s) * 0.5;
    if (b.ly != 0) p.ty -= b.ly * s;
    return p;
}

void place_form(buf& side, const char* name, double s, double tx, double ty) {
    char st[64], txt[64], tyt[64];
    num_text(s, st);
    num_text(tx, txt);
    num_text(ty, tyt);
    char line[512];
    int n = bounded_format(line, sizeof line, "q %s 0 0 %s %s %s cm /%s Do Q\n", st, st, txt, tyt,
                           name);
    if (n <= 0) return;
    std::size_t used =
        static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
    buf_bytes(side, line, used);
}

std::int32_t emit_side(const doc& d, buf& out, std::vector<std::int64_t>& xref_offs, double sheet_w,
                       double sheet_h, side_numbers nums, std::int32_t left_page,
                       std::int32_t right_page, const renumber_map& map) {
    slot slots[2];
    slots[0].page = left_page;
    slots[0].form_obj = nums.fml_obj;
    slots[0].name = "FmL";
    slots[1].page = right_page;
    slots[1].form_obj = nums.fmr_obj;
    slots[1].name = "FmR";
    slots[1].right = true;

    // Everything that can fail happens before the first byte reaches the output, so a side
    // is appended whole or not at all.
    if (!offset_slot_ok(xref_offs, nums.page_obj) || !offset_slot_ok(xref_offs, nums.content_obj))
        return -1;
    for (slot& sl : slots) {
        if (!sl.used()) continue;
        if (!offset_slot_ok(xref_offs, sl.form_obj) || !build_slot(d, map, sl)) return -1;
    }

    buf content;
    for (const slot& sl : slots) {
        if (!sl.used()) continue;
        placement p = slot_geometry(sheet_w, sheet_h, sl.pi, sl.right);
        place_form(content, sl.name, p.s, p.tx, p.ty);
    }
    if (content.len == 0) buf_text(content, "% blank sheet\n");
    if (content.failed || !content.data) return -1;
    const std::size_t content_len = std::strlen(reinterpret_cast<const char*>(content.data));

    xref_offs[static_cast<std::size_t>(nums.page_obj)] = static_cast<std::int64_t>(out.len);
    buf_format(out, "%ld 0 obj\n", static_cast<long>(nums.page_obj));
    buf_text(out, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ");
    append_num(out, sheet_w);
    buf_text(out, " ");
    append_num(out, sheet_h);
    buf_text(out, "] /Contents ");
    buf_format(out, "%ld 0 R", static_cast<long>(nums.content_obj));
    buf_text(out, " /Resources << /XObject << ");
    for (const slot& sl : slots) {
        if (!sl.used()) continue;
        buf_format(out, "/%s %ld 0 R", sl.name, static_cast<long>(sl.form_obj));
    }
    buf_text(out, ">> >> >>\nendobj\n");

    for (const slot& sl : slots) {
        if (!sl.used()) continue;
        xref_offs[static_cast<std::size_t>(sl.form_obj)] = static_cast<std::int64_t>(out.len);
        buf_format(out, "%ld 0 obj\n", static_cast<long>(sl.form_obj));
        buf_bytes(out, sl.form.data(), sl.form.size());
        buf_text(out, "\nendobj\n");
    }

    xref_offs[static_cast<std::size_t>(nums.content_obj)] = static_cast<std::int64_t>(out.len);
    buf_format(out, "%ld 0 obj\n<< /Length %zu >>\nstream\n", static_cast<long>(nums.content_obj),
               content_len);
    buf_bytes(out, content.data, content_len);
    buf_text(out, "endstream\nendobj\n");
    return nums.page_obj;
}

} // namespace qf
