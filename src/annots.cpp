#include "annots.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "token.h"

namespace qf {

namespace {

// Annotation flags (PDF 32000-1, table 165).
constexpr std::int32_t flag_hidden = 2;
constexpr std::int32_t flag_print = 4;

// References followed in a row before a value is given up as a loop.
constexpr int max_reference_hops = 8;

// Entries of /Annots read from one page; a longer list is cut, not walked to its end.
constexpr std::size_t max_annotations_per_page = 100000;

// A value: its first token in the buffer it lies in.
struct value_at {
    bytes buf;
    token first;
    std::int32_t end = 0;
    std::int32_t num = 0; // the object it is the whole value of; 0 for a direct value
};

// The value itself when it is a reference "N G R": the referenced object's value.
std::optional<value_at> resolve(const doc& d, value_at v) {
    for (int hop = 0; hop < max_reference_hops; ++hop) {
        const std::optional<reference> ref = reference_at(v.buf, v.first, v.end);
        if (!ref) return v;
        const obj* o = find_obj(d, ref->num);
        if (!o) return std::nullopt;
        const dict_range body = body_range_of(d, *o);
        if (!body.ok) return std::nullopt;
        v = {body.buf, next_significant(body.buf, body.from, body.to), body.to, ref->num};
    }
    return std::nullopt;
}

std::optional<value_at> entry_value(const doc& d, const dict_view& dict, std::string_view key) {
    const dict_entry* e = dict_find(dict, key);
    if (!e) return std::nullopt;
    return resolve(d, {dict.text, e->value, e->value_end, 0});
}

std::optional<dict_view> dict_of(const value_at& v) {
    if (v.first.kind != token_kind::dict_open) return std::nullopt;
    return read_dict(v.buf, v.first.from, v.end);
}

std::optional<dict_view> entry_dict(const doc& d, const dict_view& dict, std::string_view key) {
    const std::optional<value_at> v = entry_value(d, dict, key);
    return v ? dict_of(*v) : std::nullopt;
}

// The elements of an array value, each resolved; nullopt when it is no array.
std::optional<std::vector<value_at>> array_elements(const doc& d, const value_at& v,
                                                    std::size_t max_count) {
    if (v.first.kind != token_kind::array_open) return std::nullopt;
    std::vector<value_at> elements;
    std::int32_t p = v.first.to;
    for (;;) {
        const token t = next_significant(v.buf, p, v.end);
        if (t.kind == token_kind::array_close) return elements;
        const std::int32_t element_end = object_end(v.buf, t, v.end);
        if (element_end < 0) return elements; // a damaged array: what came before it counts
        if (elements.size() == max_count) return elements;
        if (auto element = resolve(d, {v.buf, t, v.end, 0})) elements.push_back(*element);
        p = element_end;
    }
}

// Exactly n numbers in an array value (a rectangle, a matrix).
template <std::size_t n>
std::optional<std::array<double, n>> number_array(const doc& d, const std::optional<value_at>& v) {
    if (!v) return std::nullopt;
    const std::optional<std::vector<value_at>> elements = array_elements(d, *v, n + 1);
    if (!elements || elements->size() != n) return std::nullopt;
    std::array<double, n> numbers{};
    for (std::size_t i = 0; i < n; ++i) {
        const std::optional<double> x = number_of((*elements)[i].buf, (*elements)[i].first);
        if (!x) return std::nullopt;
        numbers[i] = *x;
    }
    return numbers;
}

struct box_of {
    double x0, y0, x1, y1;
};

box_of normalised(const std::array<double, 4>& r) {
    return {std::min(r[0], r[2]), std::min(r[1], r[3]), std::max(r[0], r[2]), std::max(r[1], r[3])};
}

// The appearance stream of the annotation: /AP /N, or the state of it that /AS names. 0 when
// it is in a state that has no appearance (a check box that shows nothing when off); nullopt
// when it has no usable appearance.
std::optional<std::int32_t> normal_appearance(const doc& d, const dict_view& annot) {
    const std::optional<dict_view> ap = entry_dict(d, annot, "AP");
    if (!ap) return std::nullopt;
    std::optional<value_at> normal = entry_value(d, *ap, "N");
    if (!normal) return std::nullopt;
    if (normal->num > 0) {
        const obj* o = find_obj(d, normal->num);
        if (o && o->has_stream) return normal->num;
    }
    // A dictionary of states: the one the annotation is in.
    const std::optional<dict_view> states = dict_of(*normal);
    const dict_entry* as = dict_find(annot, "AS");
    if (!states || !as || as->value.kind != token_kind::name) return std::nullopt;
    const std::string state_name = name_of(annot.text, as->value);
    if (!dict_find(*states, state_name)) return 0;
    const std::optional<value_at> state = entry_value(d, *states, state_name);
    if (!state || state->num <= 0) return std::nullopt;
    const obj* o = find_obj(d, state->num);
    if (!o || !o->has_stream) return std::nullopt;
    return state->num;
}

// The matrix that maps the appearance stream `num` onto `rect`: its /BBox, transformed by its
// /Matrix, fitted to the rectangle (PDF 32000-1, 12.5.5).
std::optional<printed_annotation> placed_on(const doc& d, std::int32_t num, const box_of& rect) {
    const obj* o = find_obj(d, num);
    if (!o) return std::nullopt;
    const dict_range r = dict_range_of(d, *o);
    if (!r.ok) return std::nullopt;
    const std::optional<dict_view> form = read_dict(r.buf, r.from, r.to);
    if (!form) return std::nullopt;
    const auto bbox = number_array<4>(d, entry_value(d, *form, "BBox"));
    if (!bbox) return std::nullopt;
    std::array<double, 6> m{1, 0, 0, 1, 0, 0};
    if (dict_find(*form, "Matrix")) {
        const auto given = number_array<6>(d, entry_value(d, *form, "Matrix"));
        if (!given) return std::nullopt;
        m = *given;
    }
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (const auto& [x, y] :
         {std::pair{(*bbox)[0], (*bbox)[1]}, std::pair{(*bbox)[2], (*bbox)[1]},
          std::pair{(*bbox)[0], (*bbox)[3]}, std::pair{(*bbox)[2], (*bbox)[3]}}) {
        const double tx = m[0] * x + m[2] * y + m[4];
        const double ty = m[1] * x + m[3] * y + m[5];
        x0 = std::min(x0, tx), y0 = std::min(y0, ty), x1 = std::max(x1, tx), y1 = std::max(y1, ty);
    }
    if (!(x1 - x0 > 0) || !(y1 - y0 > 0)) return std::nullopt;
    printed_annotation p;
    p.appearance = num;
    p.a = (rect.x1 - rect.x0) / (x1 - x0);
    p.d = (rect.y1 - rect.y0) / (y1 - y0);
    p.e = rect.x0 - x0 * p.a;
    p.f = rect.y0 - y0 * p.d;
    for (double v : {p.a, p.d, p.e, p.f})
        if (!std::isfinite(v)) return std::nullopt;
    return p;
}

} // namespace

// What one annotation gives.
struct annotation_outcome {
    enum class kind : std::uint8_t { not_printed, drawn, unusable } what = kind::not_printed;
    printed_annotation drawn;
};

struct annotation_memo::outcomes {
    // Each object is read once in a call: pages listed twice, /Annots arrays and annotations
    // shared by pages.
    std::unordered_map<std::int32_t, page_annotations> pages, arrays;
    std::unordered_map<std::int32_t, annotation_outcome> annotations;
};

namespace {

annotation_outcome read_annotation(const doc& d, const value_at& element) {
    using kind = annotation_outcome::kind;
    const std::optional<dict_view> annot = dict_of(element);
    if (!annot) return {};
    const dict_entry* subtype = dict_find(*annot, "Subtype");
    // Pop-ups show another annotation's text on screen; links have no appearance of their own.
    if (subtype && (name_is(annot->text, subtype->value, "Popup") ||
                    name_is(annot->text, subtype->value, "Link")))
        return {};
    const std::optional<value_at> flags_value = entry_value(d, *annot, "F");
    const std::optional<std::int32_t> flags =
        flags_value ? integer_of(flags_value->buf, flags_value->first) : std::nullopt;
    if (!flags || !(*flags & flag_print) || (*flags & flag_hidden)) return {};

    const auto rect = number_array<4>(d, entry_value(d, *annot, "Rect"));
    const std::optional<std::int32_t> appearance = normal_appearance(d, *annot);
    if (!rect || !appearance) return {kind::unusable, {}};
    const box_of where = normalised(*rect);
    // A state without an appearance, or an empty rectangle, shows nothing: nothing is missed.
    if (*appearance == 0 || !(where.x1 > where.x0) || !(where.y1 > where.y0)) return {};
    if (const std::optional<printed_annotation> placed = placed_on(d, *appearance, where))
        return {kind::drawn, *placed};
    return {kind::unusable, {}};
}

page_annotations read_annots(const doc& d, const value_at& annots,
                             annotation_memo::outcomes& memo) {
    page_annotations out;
    const auto elements = array_elements(d, annots, max_annotations_per_page);
    if (!elements) return out;
    for (const value_at& element : *elements) {
        annotation_outcome outcome;
        if (element.num > 0) {
            const auto [at, added] = memo.annotations.try_emplace(element.num);
            if (added) at->second = read_annotation(d, element);
            outcome = at->second;
        } else {
            outcome = read_annotation(d, element);
        }
        if (outcome.what == annotation_outcome::kind::drawn) out.drawn.push_back(outcome.drawn);
        if (outcome.what == annotation_outcome::kind::unusable) ++out.unusable;
    }
    return out;
}

} // namespace

annotation_memo::annotation_memo() : known(std::make_unique<outcomes>()) {}
annotation_memo::~annotation_memo() = default;

page_annotations printed_annotations(const doc& d, const obj& page, annotation_memo& memo) {
    annotation_memo::outcomes& known = *memo.known;
    if (const auto it = known.pages.find(page.num); it != known.pages.end()) return it->second;
    page_annotations out;
    const dict_range r = dict_range_of(d, page);
    const std::optional<dict_view> page_dict = r.ok ? read_dict(r.buf, r.from, r.to) : std::nullopt;
    const std::optional<value_at> annots =
        page_dict ? entry_value(d, *page_dict, "Annots") : std::nullopt;
    if (annots && annots->num > 0) {
        const auto [at, added] = known.arrays.try_emplace(annots->num);
        if (added) at->second = read_annots(d, *annots, known);
        out = at->second;
    } else if (annots) {
        out = read_annots(d, *annots, known);
    }
    known.pages.emplace(page.num, out);
    return out;
}

page_annotations printed_annotations(const doc& d, const obj& page) {
    annotation_memo memo;
    return printed_annotations(d, page, memo);
}

} // namespace qf
