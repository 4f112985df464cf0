// Slot geometry: how a page, turned upright by its form's matrix, is scaled and moved into the
// area of a sheet side it may fill.
#pragma once

#include "doc.h"
#include "layout.h"

namespace qf {

// Scale and translation that place a page (turned by its form's matrix) on the sheet, and the
// box it then covers.
struct placement {
    double s = 0, tx = 0, ty = 0;
    rect box;
};

// The page centred in `cell` at the scale the mode allows, then moved right by `shift`.
placement place_page(const pageinfo& pi, const rect& cell, scale_mode mode, double shift = 0);

// The classic layout: the page fitted to half the sheet with no margins, left or right.
placement slot_geometry(double sheet_w, double sheet_h, const pageinfo& pi, bool right);

// The area of a sheet side a slot's page is fitted into: its half inside the margins, less
// half the gutter at the fold.
rect slot_cell(double sheet_w, double sheet_h, bool right, double margin, double gutter);

} // namespace qf
