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

// The box of the appearance stream `num` as it draws: its /BBox transformed by its /Matrix
// (PDF 32000-1, 12.5.5); nullopt when it has none or it is empty.
std::optional<box_of> appearance_box(const doc& d, std::int32_t num) {
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
    box_of box{INFINITY, INFINITY, -INFINITY, -INFINITY};
    for (const auto& [x, y] :
         {std::pair{(*bbox)[0], (*bbox)[1]}, std::pair{(*bbox)[2], (*bbox)[1]},
          std::pair{(*bbox)[0], (*bbox)[3]}, std::pair{(*bbox)[2], (*bbox)[3]}}) {
        const double tx = m[0] * x + m[2] * y + m[4];
        const double ty = m[1] * x + m[3] * y + m[5];
        box = {std::min(box.x0, tx), std::min(box.y0, ty), std::max(box.x1, tx),
               std::max(box.y1, ty)};
    }
    if (!(box.x1 - box.x0 > 0) || !(box.y1 - box.y0 > 0)) return std::nullopt;
    return box;
}

// The appearance stream `num`, whose box as it draws is `box`, fitted to `rect`.
std::optional<printed_annotation> placed_on(std::int32_t num, const box_of& box,
                                            const box_of& rect) {
    printed_annotation p;
    p.appearance = num;
    p.a = (rect.x1 - rect.x0) / (box.x1 - box.x0);
    p.d = (rect.y1 - rect.y0) / (box.y1 - box.y0);
    p.e = rect.x0 - box.x0 * p.a;
    p.f = rect.y0 - box.y0 * p.d;
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

// What the document's interactive form says for all its fields.
struct form_defaults {
    bool need_appearances = false;
    std::string default_appearance; // /DA: the font, size and colour of text
};

struct annotation_memo::outcomes {
    // Each object is read once in a call: pages listed twice, /Annots arrays and annotations
    // shared by pages.
    std::unordered_map<std::int32_t, page_annotations> pages, arrays;
    std::unordered_map<std::int32_t, annotation_outcome> annotations;
    std::optional<form_defaults> form; // read when a field first needs it
    // Parent fields by number: a field with many widgets is read once for all of them; and
    // the boxes of appearance streams, which check boxes share.
    std::unordered_map<std::int32_t, std::optional<dict_view>> parents;
    std::unordered_map<std::int32_t, std::optional<box_of>> appearance_boxes;
};

namespace {

// Form fields that inherit from their parents look this far up.
constexpr int max_field_levels = 16;

// A field attribute of the widget, or of the nearest field above it that has it.
std::optional<value_at> field_value(const doc& d, const dict_view& widget, std::string_view key,
                                    annotation_memo::outcomes& memo) {
    std::optional<dict_view> field = widget;
    for (int level = 0; field && level < max_field_levels; ++level) {
        if (dict_find(*field, key)) return entry_value(d, *field, key);
        const dict_entry* parent = dict_find(*field, "Parent");
        const std::optional<reference> ref =
            parent ? reference_at(field->text, parent->value, parent->value_end) : std::nullopt;
        if (!ref) return std::nullopt; // a parent is always an object of its own
        const auto [at, added] = memo.parents.try_emplace(ref->num);
        if (added) at->second = entry_dict(d, *field, "Parent");
        field = at->second;
    }
    return std::nullopt;
}

const form_defaults& form_of(const doc& d, annotation_memo::outcomes& memo) {
    if (memo.form) return *memo.form;
    form_defaults form;
    const obj* catalog = find_obj(d, d.catalog);
    const dict_range r = catalog ? dict_range_of(d, *catalog) : dict_range{};
    const std::optional<dict_view> root = r.ok ? read_dict(r.buf, r.from, r.to) : std::nullopt;
    if (const std::optional<dict_view> acro =
            root ? entry_dict(d, *root, "AcroForm") : std::nullopt) {
        const std::optional<value_at> need = entry_value(d, *acro, "NeedAppearances");
        form.need_appearances = need && token_text(need->buf, need->first) == "true";
        if (const std::optional<value_at> da = entry_value(d, *acro, "DA"))
            form.default_appearance = string_of(da->buf, da->first).value_or("");
    }
    return *(memo.form = std::move(form));
}

// Text as WinAnsi bytes: UTF-16BE (after its byte order mark) or PDFDocEncoding. Characters
// WinAnsi lacks become "?".
std::string win_ansi(const std::string& text) {
    if (text.size() < 2 || static_cast<std::uint8_t>(text[0]) != 0xFE ||
        static_cast<std::uint8_t>(text[1]) != 0xFF)
        return text; // PDFDocEncoding agrees with WinAnsi on ASCII and Latin-1 letters
    // The WinAnsi bytes 0x80 to 0x9F that stand for characters above U+00FF.
    constexpr std::pair<std::uint16_t, char> specials[] = {
        {0x20AC, '\x80'}, {0x201A, '\x82'}, {0x0192, '\x83'}, {0x201E, '\x84'}, {0x2026, '\x85'},
        {0x2020, '\x86'}, {0x2021, '\x87'}, {0x02C6, '\x88'}, {0x2030, '\x89'}, {0x0160, '\x8A'},
        {0x2039, '\x8B'}, {0x0152, '\x8C'}, {0x017D, '\x8E'}, {0x2018, '\x91'}, {0x2019, '\x92'},
        {0x201C, '\x93'}, {0x201D, '\x94'}, {0x2022, '\x95'}, {0x2013, '\x96'}, {0x2014, '\x97'},
        {0x02DC, '\x98'}, {0x2122, '\x99'}, {0x0161, '\x9A'}, {0x203A, '\x9B'}, {0x0153, '\x9C'},
        {0x017E, '\x9E'}, {0x0178, '\x9F'}};
    std::string out;
    for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
        const auto unit = static_cast<std::uint16_t>(static_cast<std::uint8_t>(text[i]) << 8 |
                                                     static_cast<std::uint8_t>(text[i + 1]));
        char c = '?';
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) c = static_cast<char>(unit);
        for (const auto& [code, byte] : specials)
            if (code == unit) c = byte;
        out.push_back(c);
    }
    return out;
}

// The size and colour a default appearance string (/DA) gives: "/Helv 12 Tf 0 0 1 rg".
void read_default_appearance(const std::string& da, made_appearance& made) {
    const bytes text(reinterpret_cast<const std::uint8_t*>(da.data()), da.size());
    const auto end = static_cast<std::int32_t>(da.size());
    std::vector<token> operands;
    for (token t = next_significant(text, 0, end); t.kind != token_kind::end;
         t = next_significant(text, t.to, end)) {
        if (t.kind != token_kind::keyword) {
            operands.push_back(t);
            continue;
        }
        const std::string_view op = token_text(text, t);
        const std::size_t wanted = op == "Tf" || op == "g" ? 1 : op == "rg" ? 3 : op == "k" ? 4 : 0;
        if (wanted > 0 && operands.size() >= wanted) {
            std::string values;
            bool numbers = true;
            for (std::size_t k = operands.size() - wanted; k < operands.size(); ++k) {
                numbers = numbers && number_of(text, operands[k]).has_value();
                values += std::string(token_text(text, operands[k])) + " ";
            }
            if (numbers && op == "Tf") made.font_size = *number_of(text, operands.back());
            if (numbers && op != "Tf") made.colour = values + std::string(op);
        }
        operands.clear();
    }
}

// Field flags (PDF 32000-1, tables 226, 227 and 228).
constexpr std::int32_t field_multiline = 1 << 12;
constexpr std::int32_t field_password = 1 << 13;
constexpr std::int32_t field_radio = 1 << 15;
constexpr std::int32_t field_push_button = 1 << 16;

// A text field's value, line by line.
void make_text(const std::string& value, std::int32_t flags, const box_of& rect,
               made_appearance& made) {
    // Size 0 asks for text that fits: a line as high as the field allows, 4 to 24 points; 12
    // points in a multi-line field.
    if (!(made.font_size > 0))
        made.font_size =
            flags & field_multiline ? 12.0 : std::clamp((rect.y1 - rect.y0 - 4) * 0.75, 4.0, 24.0);
    made.multiline = (flags & field_multiline) != 0;
    std::string all = win_ansi(value);
    // A password shows as many asterisks as it has characters, as readers echo it.
    if (flags & field_password) all.assign(all.size(), '*');
    for (std::size_t from = 0; from <= all.size();) {
        std::size_t to = all.find_first_of("\r\n", from);
        if (to == std::string::npos) to = all.size();
        made.lines.push_back(all.substr(from, to - from));
        if (!(flags & field_multiline)) break;
        from = to + 1;
    }
}

// A check box or radio button that is on: its caption (/MK /CA) in ZapfDingbats, a check mark
// or a dot unless it names another.
void make_mark(const doc& d, const dict_view& widget, std::int32_t flags, const box_of& rect,
               made_appearance& made) {
    std::string caption = flags & field_radio ? "l" : "4";
    if (const std::optional<dict_view> mk = entry_dict(d, widget, "MK"))
        if (const std::optional<value_at> ca = entry_value(d, *mk, "CA"))
            caption = string_of(ca->buf, ca->first).value_or(caption).substr(0, 1);
    made.symbol = true;
    if (!(made.font_size > 0))
        made.font_size = std::min(rect.x1 - rect.x0, rect.y1 - rect.y0) * 0.8;
    made.lines = {caption};
}

// A colour array of /MK (1 grey, 3 RGB or 4 CMYK numbers) as the operators that set it, for
// filling (`fill`) or stroking; empty for no colour.
std::string colour_operators(const doc& d, const dict_view& mk, std::string_view key, bool fill) {
    const std::optional<value_at> v = entry_value(d, mk, key);
    const std::optional<std::vector<value_at>> parts = v ? array_elements(d, *v, 5) : std::nullopt;
    if (!parts || (parts->size() != 1 && parts->size() != 3 && parts->size() != 4)) return {};
    std::string out;
    for (const value_at& part : *parts) {
        if (!number_of(part.buf, part.first)) return {};
        out += token_text(part.buf, part.first);
        out += ' ';
    }
    constexpr std::string_view fill_ops[] = {"g", "", "", "rg", "k"};
    constexpr std::string_view stroke_ops[] = {"G", "", "", "RG", "K"};
    out += (fill ? fill_ops : stroke_ops)[parts->size()];
    return out;
}

// The background and border a reader draws around a field it makes the appearance of.
void read_frame(const doc& d, const dict_view& widget, made_appearance& made) {
    if (const std::optional<dict_view> mk = entry_dict(d, widget, "MK")) {
        made.background = colour_operators(d, *mk, "BG", true);
        made.border = colour_operators(d, *mk, "BC", false);
    }
    if (const std::optional<dict_view> bs = entry_dict(d, widget, "BS"))
        if (const std::optional<value_at> w = entry_value(d, *bs, "W"))
            made.border_width = std::clamp(number_of(w->buf, w->first).value_or(1.0), 0.0, 12.0);
}

// A field's appearance, made where the form asks readers to make appearances and the field
// has none it can use: a text field's value, a check box's or radio button's mark when it is
// on. nullopt when this is no such field; no lines when the field shows nothing.
std::optional<made_appearance> made_for_field(const doc& d, const dict_view& widget,
                                              const box_of& rect, annotation_memo::outcomes& memo) {
    const std::optional<value_at> type = field_value(d, widget, "FT", memo);
    if (!type) return std::nullopt;
    const bool text = name_is(type->buf, type->first, "Tx");
    if (!text && !name_is(type->buf, type->first, "Btn")) return std::nullopt;
    const form_defaults& form = form_of(d, memo);
    if (!form.need_appearances) return std::nullopt;
    const std::optional<value_at> flags_value = field_value(d, widget, "Ff", memo);
    const std::int32_t flags =
        flags_value ? integer_of(flags_value->buf, flags_value->first).value_or(0) : 0;
    if (!text && (flags & field_push_button)) return std::nullopt;

    made_appearance made;
    made.x0 = rect.x0, made.y0 = rect.y0, made.x1 = rect.x1, made.y1 = rect.y1;
    read_frame(d, widget, made);
    const std::optional<value_at> da = field_value(d, widget, "DA", memo);
    read_default_appearance(da ? string_of(da->buf, da->first).value_or(form.default_appearance)
                               : form.default_appearance,
                            made);
    if (text) {
        const std::optional<value_at> value = field_value(d, widget, "V", memo);
        const std::optional<std::string> shown =
            value ? string_of(value->buf, value->first) : std::nullopt;
        if (shown) make_text(*shown, flags, rect, made);
        return made;
    }
    // A button is on in any state but Off: the widget's own /AS, else the field's value.
    const dict_entry* as = dict_find(widget, "AS");
    std::optional<value_at> state;
    if (as) state = value_at{widget.text, as->value, as->value_end, 0};
    if (!state) state = field_value(d, widget, "V", memo);
    if (state && state->first.kind == token_kind::name && !name_is(state->buf, state->first, "Off"))
        make_mark(d, widget, flags, rect, made);
    return made;
}

annotation_outcome read_annotation(const doc& d, const value_at& element,
                                   annotation_memo::outcomes& memo) {
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
    // A form that asks for appearances has them made also for fields whose state has none.
    if (rect && (!appearance || *appearance == 0)) {
        if (std::optional<made_appearance> made =
                made_for_field(d, *annot, normalised(*rect), memo)) {
            if (made->lines.empty() && made->background.empty() && made->border.empty()) return {};
            printed_annotation p;
            p.made = std::move(*made);
            return {kind::drawn, std::move(p)};
        }
    }
    if (!rect || !appearance) return {kind::unusable, {}};
    const box_of where = normalised(*rect);
    // A state without an appearance, or an empty rectangle, shows nothing: nothing is missed.
    if (*appearance == 0 || !(where.x1 > where.x0) || !(where.y1 > where.y0)) return {};
    const auto [box, added] = memo.appearance_boxes.try_emplace(*appearance);
    if (added) box->second = appearance_box(d, *appearance);
    const std::optional<printed_annotation> placed =
        box->second ? placed_on(*appearance, *box->second, where) : std::nullopt;
    if (placed) return {kind::drawn, *placed};
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
            if (added) at->second = read_annotation(d, element, memo);
            outcome = at->second;
        } else {
            outcome = read_annotation(d, element, memo);
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
    // Most pages have no annotations: a page whose bytes name no /Annots (nor hold a "#" that
    // could spell it) is not read as a dictionary.
    const std::string_view text =
        r.ok ? std::string_view(reinterpret_cast<const char*>(r.buf.data()) + r.from,
                                static_cast<std::size_t>(r.to - r.from))
             : std::string_view();
    const bool may_have_annots =
        text.find("/Annots") != std::string_view::npos || text.find('#') != std::string_view::npos;
    const std::optional<dict_view> page_dict =
        may_have_annots ? read_dict(r.buf, r.from, r.to) : std::nullopt;
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

} // namespace qf
