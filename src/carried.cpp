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

namespace qf {

namespace {

constexpr std::int64_t max_body_len = 268435455; // 2^28 - 1

// Past the object header that starts at hdr_pos: the number, the generation when a digit
// follows, and "obj" with the white space after it when the keyword stands there.
std::int32_t after_header(bytes in, std::int32_t hdr_pos) {
    return skip_obj_header(in, hdr_pos, static_cast<std::int32_t>(in.size()));
}

// Where a dictionary range of the entry would end: the stream keyword, else endobj, else the
// end of the input.
std::int32_t range_end(const doc& d, const obj& o) {
    std::int32_t end = o.stream_pos > 0 ? o.stream_pos : o.endobj_pos > 0 ? o.endobj_pos : d.len;
    return end > d.len ? d.len : end;
}

// The text whose references the closure follows: the dictionary range, or for an object whose
// body is not a dictionary, everything after its header. Empty when there is none.
bytes closure_range(const doc& d, const obj& o) {
    dict_range r = dict_range_of(d, o);
    if (r.ok) {
        if (r.to <= r.from) return {};
        return r.buf.subspan(static_cast<std::size_t>(r.from),
                             static_cast<std::size_t>(r.to - r.from));
    }
    if (o.in_objstm || o.hdr_pos < 0 || o.hdr_pos >= d.len) return {};
    bytes in = d.input();
    std::int32_t from = after_header(in, o.hdr_pos);
    std::int32_t to = range_end(d, o);
    if (from >= to) return {};
    return in.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
}

// The body written for a carried object: its object-stream text, a stream's dictionary, or
// the text between the header and endobj with trailing white space cut. Empty when there is
// none.
bytes write_range(const doc& d, const obj& o) {
    if (o.in_objstm) {
        if (!o.text || o.text_len <= 0) return {};
        return {o.text, static_cast<std::size_t>(o.text_len)};
    }
    bytes in = d.input();
    if (o.has_stream) {
        if (o.dict_start < 0 || o.stream_pos > d.len || o.stream_pos - o.dict_start <= 0) return {};
        return in.subspan(static_cast<std::size_t>(o.dict_start),
                          static_cast<std::size_t>(o.stream_pos - o.dict_start));
    }
    if (o.hdr_pos < 0 || o.hdr_pos >= d.len) return {};
    std::int32_t start = after_header(in, o.hdr_pos);
    if (start >= d.len) return {};
    std::int32_t end = d.len;
    if (o.endobj_pos > start && o.endobj_pos <= d.len) {
        end = o.endobj_pos;
    } else {
        std::int32_t kw = find_kw(in, start, "endobj");
        if (kw >= 0) end = kw;
    }
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
                 const std::vector<std::uint8_t>* placed) {
    // Resource references, in order of first appearance over the pages.
    carry_set carry(d.highest);
    for (std::size_t i = 0; i < d.pages.size(); ++i) {
        if (placed && (i >= placed->size() || !(*placed)[i])) continue;
        const pageinfo& page = d.pages[i];
        const obj* o = find_obj(d, page.obj_num);
        if (!o) continue;
        std::optional<std::string> res = get_resources_inherited(d, o, page.parent_num);
        if (!res || res->empty()) continue;
        for (std::int32_t num :
             scan_refs(bytes(reinterpret_cast<const std::uint8_t*>(res->data()), res->size())))
            carry.add(num);
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
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (!is_digit(text[pos])) {
            ++pos;
            continue;
        }
        std::int32_t num = 0;
        std::size_t end = 0;
        if (match_ref(text, pos, num, end)) {
            refs.push_back(num);
            pos = end;
            continue;
        }
        // Not a reference: go on after the digit run, where a later number may begin one.
        while (pos < text.size() && is_digit(text[pos])) ++pos;
    }
    return refs;
}

int collect_carried(const doc& d, std::int32_t nsheets, renumber_map& map,
                    const std::vector<std::uint8_t>* placed) {
    map = renumber_map{};
    try {
        if (collect_into(d, nsheets, map, placed) == 0) return 0;
    } catch (const std::bad_alloc&) {
        set_error("out of memory");
    }
    map = renumber_map{};
    return -1;
}

std::optional<std::string> flate_dictionary(std::string_view dict, std::size_t length) {
    const bytes text(reinterpret_cast<const std::uint8_t*>(dict.data()), dict.size());
    const auto end = static_cast<std::int32_t>(dict.size());
    const std::int32_t open = skip_ws(text, 0, end);
    if (open + 1 >= end || text[static_cast<std::size_t>(open)] != '<' ||
        text[static_cast<std::size_t>(open) + 1] != '<')
        return std::nullopt;
    for (std::string_view key : {"Filter", "DecodeParms", "DP", "F"})
        if (find_name_top(text, open, end, key) >= 0) return std::nullopt;
    const std::int32_t key = find_name_top(text, open, end, "Length");
    if (key < 0) return std::nullopt;
    const std::int32_t value = skip_ws(text, key + 7, end);
    if (value >= end || !is_digit(text[static_cast<std::size_t>(value)])) return std::nullopt;
    std::int32_t num = 0;
    std::size_t value_end = 0;
    if (!match_ref(text, static_cast<std::size_t>(value), num, value_end)) {
        value_end = static_cast<std::size_t>(value);
        while (value_end < dict.size() && is_digit(text[value_end])) ++value_end;
    }
    std::string out;
    out.reserve(dict.size() + 32);
    out.append(dict.substr(0, static_cast<std::size_t>(open) + 2));
    out.append(" /Filter /FlateDecode");
    out.append(dict.substr(static_cast<std::size_t>(open) + 2,
                           static_cast<std::size_t>(value) - (static_cast<std::size_t>(open) + 2)));
    out.append(std::to_string(length));
    out.append(dict.substr(value_end));
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
