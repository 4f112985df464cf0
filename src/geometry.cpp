#include "geometry.h"

#include <cmath>

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

} // namespace

placement place_page(const pageinfo& pi, const rect& cell, scale_mode mode, double shift) {
    const landed_box b = land(pi);
    // The order of the operations below fixes the last digit of the classic output.
    const double by_width = cell.w / b.width;
    const double by_height = cell.h / b.height;
    double s = by_width < by_height ? by_width : by_height;
    // Only a box without any extent gets here; it has nothing to show.
    if (!std::isfinite(s)) s = 0;
    if (mode == scale_mode::shrink && s > 1) s = 1;
    if (mode == scale_mode::none) s = 1;

    placement p{};
    p.s = s;
    p.tx = (cell.w - b.width * s) * 0.5;
    if (b.lx != 0) p.tx -= b.lx * s;
    if (cell.x != 0) p.tx += cell.x;
    if (shift != 0) p.tx += shift;
    p.ty = (cell.h - b.height * s) * 0.5;
    if (b.ly != 0) p.ty -= b.ly * s;
    if (cell.y != 0) p.ty += cell.y;
    p.box = {p.tx + b.lx * s, p.ty + b.ly * s, b.width * s, b.height * s};
    return p;
}

rect slot_cell(double sheet_w, double sheet_h, bool right, double margin, double gutter) {
    const double half = sheet_w * 0.5;
    rect cell;
    cell.x = right ? half + gutter * 0.5 : margin;
    cell.y = margin;
    cell.w = half - margin - gutter * 0.5;
    cell.h = sheet_h - 2 * margin;
    return cell;
}

placement slot_geometry(double sheet_w, double sheet_h, const pageinfo& pi, bool right) {
    return place_page(pi, slot_cell(sheet_w, sheet_h, right, 0, 0), scale_mode::fit);
}

} // namespace qf
