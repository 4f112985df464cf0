// Carried objects: everything the pages' resources reference, directly or through other
// carried objects, copied into the output after the sheet objects under new numbers.
#include "carried.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <unordered_set>

#include "deflate.h"
#include "error.h"
#include "lex.h"
#include "resources.h"
#include "token.h"

namespace qf {

namespace {

constexpr std::int64_t max_body_len = 268435455; // 2^28 - 1

// The text whose references the closure follows: the dictionary range, or for an object whose
// body is not a dictionary, its whole body. Empty when there is none.
bytes closure_range(const doc& d, const obj& o) {
    dict_range r = dict_range_of(d, o);
    if (!r.ok) r = o.in_objstm ? dict_range{} : body_range_of(d, o);
    if (!r.ok || r.to <= r.from) return {};
    return r.buf.subspan(static_cast<std::size_t>(r.from), static_cast<std::size_t>(r.to - r.from));
}

// The body written for a carried object: its object-stream text, a stream's dictionary, or
// the text between the header and endobj with trailing white space cut. Empty when there is
// none.
bytes write_range(const doc& d, const obj& o) {
    if (o.in_objstm) {
        if (!o.text || o.text_len <= 0) return {};
        return {o.text, static_cast<std::size_t>(o.text_len)};
    }
    if (o.has_stream) {
        const dict_range r = dict_range_of(d, o);
        if (!r.ok || r.to <= r.from) return {};
        return r.buf.subspan(static_cast<std::size_t>(r.from),
                             static_cast<std::size_t>(r.to - r.from));
    }
    // Anything else: its body with the trailing blanks cut.
    const dict_range r = body_range_of(d, o);
    if (!r.ok) return {};
    const bytes in = r.buf;
    const std::int32_t start = r.from;
    std::int32_t end = r.to;
    while (end > start) {
        std::uint8_t c = in[static_cast<std::size_t>(end - 1)];
        if (c != '\t' && c != '\n' && c != '\r' && c != ' ') break;
        --end;
    }
    std::int64_t body_len = static_cast<std::int64_t>(end) - start;
    if (body_len < 1 || body_len > max_body_len) return {};
    return in.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(body_len));
}

// The carry list with membership flags: one flag per number from 0 to highest, a set for the
// numbers outside that range (wrapped, negative, or naming no object).
struct carry_set {
    std::vector<std::int32_t> order;
    std::vector<std::uint8_t> seen;
    std::unordered_set<std::int32_t> seen_outside;

    explicit carry_set(std::int32_t highest)
        : seen(static_cast<std::size_t>(highest < 0 ? 0 : highest) + 1, 0) {}

    // True when num was new and has been appended.
    bool add(std::int32_t num) {
        if (num >= 0 && static_cast<std::size_t>(num) < seen.size()) {
            auto& flag = seen[static_cast<std::size_t>(num)];
            if (flag) return false;
            flag = 1;
        } else if (!seen_outside.insert(num).second) {
            return false;
        }
        order.push_back(num);
        return true;
    }
};

int collect_into(const doc& d, std::int32_t nsheets, renumber_map& map,
                 const std::vector<std::uint8_t>* placed,
                 const std::vector<page_annotations>* annotations) {
    // Resource references, in order of first appearance over the pages; then the appearance
    // streams of the page's annotations.
    carry_set carry(d.highest);
    for (std::size_t i = 0; i < d.pages.size(); ++i) {
        if (placed && (i >= placed->size() || !(*placed)[i])) continue;
        const pageinfo& page = d.pages[i];
        const obj* o = find_obj(d, page.obj_num);
        if (!o) continue;
        std::optional<std::string> res = get_resources_inherited(d, o, page.parent_num);
        if (res && !res->empty())
            for (std::int32_t num :
                 scan_refs(bytes(reinterpret_cast<const std::uint8_t*>(res->data()), res->size())))
                carry.add(num);
        if (annotations && i < annotations->size())
            for (const printed_annotation& a : (*annotations)[i].drawn)
                if (a.appearance > 0) carry.add(a.appearance);
    }
    if (carry.order.empty()) return 0;

    // Closure in breadth-first order: walking the list while it grows examines each pass's
    // additions after the entries of the pass before, each object's references in order.
    // The flags bound the work: every number is examined at most once.
    for (std::size_t k = 0; k < carry.order.size(); ++k) {
        const obj* o = find_obj(d, carry.order[k]);
        if (!o) continue;
        for (std::int32_t num : scan_refs(closure_range(d, *o))) carry.add(num);
    }

    std::int64_t first_new = 10 * static_cast<std::int64_t>(nsheets) + 1;
    if (first_new + static_cast<std::int64_t>(carry.order.size()) - 1 > INT32_MAX) {
        // More objects than an output number can name.
        set_error("out of memory");
        return -1;
    }
    map.old_nums.reserve(carry.order.size());
    map.new_nums.reserve(carry.order.size());
    for (std::size_t k = 0; k < carry.order.size(); ++k)
        map_add(map, carry.order[k],
                static_cast<std::int32_t>(first_new + static_cast<std::int64_t>(k)));
    return 0;
}

void append(buf& out, bytes b) {
    if (!b.empty()) buf_bytes(out, b.data(), b.size());
}

} // namespace

std::vector<std::int32_t> scan_refs(bytes text) {
    std::vector<std::int32_t> refs;
    for_each_ref(text, [&](std::size_t, std::size_t, std::int32_t num) { refs.push_back(num); });
    return refs;
}

int collect_carried(const doc& d, std::int32_t nsheets, renumber_map& map,
                    const std::vector<std::uint8_t>* placed,
                    const std::vector<page_annotations>* annotations) {
    map = renumber_map{};
    try {
        if (collect_into(d, nsheets, map, placed, annotations) == 0) return 0;
    } catch (const std::bad_alloc&) {
        set_error("out of memory");
    }
    map = renumber_map{};
    return -1;
}

std::optional<std::string> flate_dictionary(std::string_view dict, std::size_t length) {
    const bytes text(reinterpret_cast<const std::uint8_t*>(dict.data()), dict.size());
    const std::optional<dict_view> view =
        read_dict(text, 0, static_cast<std::int32_t>(text.size()));
    if (!view || !view->closed) return std::nullopt;
    for (std::string_view key : {"Filter", "DecodeParms", "DP", "F"})
        if (dict_find(*view, key)) return std::nullopt;
    const dict_entry* length_entry = dict_find(*view, "Length");
    if (!length_entry || length_entry->value.kind != token_kind::integer) return std::nullopt;
    // The filter goes right after the "<<"; the length's value (a number or a reference) is
    // replaced in place.
    const auto open_end = static_cast<std::size_t>(view->open) + 2;
    const auto value = static_cast<std::size_t>(length_entry->value.from);
    std::string out;
    out.reserve(dict.size() + 32);
    out.append(dict.substr(0, open_end));
    out.append(" /Filter /FlateDecode");
    out.append(dict.substr(open_end, value - open_end));
    out.append(std::to_string(length));
    out.append(dict.substr(static_cast<std::size_t>(length_entry->value_end)));
    return out;
}

void write_carried(const doc& d, buf& out, std::vector<std::int64_t>& xref_offs,
                   const renumber_map& map, bool compress) {
    try {
        for (std::size_t k = 0; k < map.old_nums.size() && k < map.new_nums.size(); ++k) {
            std::int32_t old_num = map.old_nums[k];
            std::int32_t new_num = map.new_nums[k];
            if (new_num <= 0) continue;
            const obj* o = find_obj(d, old_num);
            auto slot = static_cast<std::size_t>(new_num);
            if (slot >= xref_offs.size()) xref_offs.resize(slot + 1, -1);
            xref_offs[slot] = static_cast<std::int64_t>(out.len);
            buf_format(out, "%ld 0 obj\n", static_cast<long>(new_num));
            if (!o) {
                // A number no input object has: an empty object keeps its new number valid.
                buf_text(out, "\nendobj\n");
                continue;
            }
            bytes body = write_range(d, *o);
            std::string renumbered;
            if (!body.empty()) renumbered = remap_res_n(body, map);
            const bool has_data = o->has_stream && !o->in_objstm && o->data_start >= 0 &&
                                  o->data_start <= o->data_end && o->data_end <= d.len;
            const bytes data =
                has_data ? d.input().subspan(static_cast<std::size_t>(o->data_start),
                                             static_cast<std::size_t>(o->data_end - o->data_start))
                         : bytes();
            // The data is copied as it stands (no decoding, no renumbering), or, when it was
            // stored without a filter, compressed.
            std::vector<std::uint8_t> packed;
            if (compress && !data.empty()) {
                deflate_compress(data, packed);
                std::optional<std::string> dict;
                if (packed.size() < data.size()) dict = flate_dictionary(renumbered, packed.size());
                if (dict)
                    renumbered = std::move(*dict);
                else
                    packed.clear();
            }
            buf_text(out, renumbered);
            buf_text(out, "\n");
            if (o->has_stream && !o->in_objstm) {
                buf_text(out, "stream\n");
                if (!packed.empty())
                    append(out, bytes(packed));
                else if (has_data)
                    append(out, data);
                buf_text(out, "\nendstream\n");
            }
            buf_text(out, "endobj\n");
        }
    } catch (const std::bad_alloc&) {
        // Writing a body with its old numbers would point into the sheet objects; fail the
        // buffer instead, which the writer reports.
        buf_release(out);
        out.failed = true;
    }
}

} // namespace qf
