#include "paper.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace qf {

namespace {

constexpr double points_per_mm = 72.0 / 25.4;

// Landscape sizes in points. A4, Letter and A3 keep the exact numbers of the classic sheets.
constexpr sheet_dims standard_sheets[] = {
    {841.89, 595.28, "A4"},  {792, 612, "Letter"},  {1190.55, 841.89, "A3"}, {595.28, 419.53, "A5"},
    {1000.63, 708.66, "B4"}, {708.66, 498.9, "B5"}, {1008, 612, "Legal"},    {1224, 792, "Tabloid"},
};

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// A plain decimal number: digits with at most one point, nothing else (no sign, no exponent).
std::optional<double> parse_decimal(std::string_view text) {
    if (text.empty() || text.size() > 32) return std::nullopt;
    bool digit = false, point = false;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c == '.' && !point)
            point = true;
        else
            return std::nullopt;
    }
    if (!digit) return std::nullopt;
    const std::string copy(text);
    const double v = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

// Splits a trailing unit off; the factor turns the number into points.
std::string_view strip_unit(std::string_view text, double& factor) {
    struct unit {
        std::string_view suffix;
        double factor;
    };
    constexpr unit units[] = {
        {"pt", 1}, {"mm", points_per_mm}, {"cm", 10 * points_per_mm}, {"in", 72}};
    factor = 1;
    for (const unit& u : units) {
        if (text.size() > u.suffix.size() &&
            equals_nocase(text.substr(text.size() - u.suffix.size()), u.suffix)) {
            factor = u.factor;
            return text.substr(0, text.size() - u.suffix.size());
        }
    }
    return text;
}

sheet_dims landscape(sheet_dims s) {
    if (s.w < s.h) std::swap(s.w, s.h);
    return s;
}

} // namespace

sheet_dims classic_sheet(std::int32_t code) {
    return standard_sheets[code >= 0 && code <= 2 ? code : 0];
}

sheet_dims classic_automatic_sheet(double page_w, double page_h) {
    return page_w >= page_h ? standard_sheets[1] : standard_sheets[0];
}

sheet_dims nearest_standard_sheet(double page_w, double page_h) {
    // Compared side by side, short with short and long with long, on a logarithmic scale so
    // that the nearest size is the one that needs the least scaling.
    const double page_long = std::fmax(page_w, page_h), page_short = std::fmin(page_w, page_h);
    if (!(page_short > 0) || !std::isfinite(page_long)) return standard_sheets[0];
    const sheet_dims* best = &standard_sheets[0];
    double best_distance = INFINITY;
    for (const sheet_dims& s : standard_sheets) {
        const double distance =
            std::fabs(std::log(s.w / page_long)) + std::fabs(std::log(s.h / page_short));
        if (distance < best_distance) {
            best_distance = distance;
            best = &s;
        }
    }
    return *best;
}

std::optional<double> parse_length(std::string_view text) {
    double factor = 1;
    const std::optional<double> v = parse_decimal(strip_unit(text, factor));
    if (!v) return std::nullopt;
    return *v * factor;
}

std::optional<sheet_dims> parse_sheet(std::string_view text) {
    for (const sheet_dims& s : standard_sheets)
        if (equals_nocase(text, s.name)) return s;
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string_view::npos) return std::nullopt;
    double factor = 1;
    const std::string_view height_text = strip_unit(text.substr(x + 1), factor);
    const std::optional<double> w = parse_decimal(text.substr(0, x));
    const std::optional<double> h = parse_decimal(height_text);
    if (!w || !h || !(*w > 0) || !(*h > 0)) return std::nullopt;
    // Sheets beyond 200 inches are no paper; PDF viewers cap pages there too.
    constexpr double largest = 14400;
    if (*w * factor > largest || *h * factor > largest) return std::nullopt;
    return landscape({*w * factor, *h * factor, "custom"});
}

} // namespace qf
