// Paper: named sheet sizes, custom sizes and lengths with units, and the automatic choices.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qf {

// A sheet in points (1/72 inch), always landscape: w >= h.
struct sheet_dims {
    double w = 0, h = 0;
    const char* name = "custom"; // the standard name, or "custom"
};

// The classic sheet size codes: 0 A4, 1 Letter, 2 A3.
sheet_dims classic_sheet(std::int32_t code);

// The classic automatic choice: Letter for a first page at least as wide as high, else A4.
sheet_dims classic_automatic_sheet(double page_w, double page_h);

// The standard size nearest to a page of w × h, whichever way the page is turned.
sheet_dims nearest_standard_sheet(double page_w, double page_h);

// A length: a number with an optional unit pt (the default), mm, cm or in; never negative.
std::optional<double> parse_length(std::string_view text);

// "a4", "letter", … (any case), or a custom "WxH[unit]" such as "300x200mm" or "600x400";
// laid out landscape. nullopt for anything else, and for "auto", which is the caller's.
std::optional<sheet_dims> parse_sheet(std::string_view text);

} // namespace qf
