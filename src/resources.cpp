#include "resources.h"

#include "lex.h"
#include "token.h"

namespace qf {

namespace {

// A page and at most 31 ancestors are searched; this also cuts /Parent cycles.
constexpr int search_budget = 32;

// Times in a row a comment or an object header may be stepped over before a referenced
// dictionary.
constexpr int max_prefix_steps = 8;

bytes range_bytes(const dict_range& r) {
    return r.buf.first(static_cast<std::size_t>(r.to));
}

std::optional<std::string> copy_dict(bytes b, std::int32_t open, std::int32_t end) {
    const std::int32_t close = walked_dict_close(b, open, end);
    if (close < 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(b.data()) + open,
                       static_cast<std::size_t>(close + 2 - open));
}

// Where the dictionary of a referenced entry begins: comments and an "N G obj" header that an
// object-stream text may carry are stepped over.
std::int32_t referenced_dict_start(bytes b, std::int32_t pos, std::int32_t end) {
    pos = skip_ws(b, pos, end);
    for (int step = 0; step < max_prefix_steps && pos < end; ++step) {
        if (b[pos] == '%') {
            while (pos < end && b[pos] != '\n') ++pos;
            pos = skip_ws(b, pos < end ? pos + 1 : end, end);
            continue;
        }
        if (!is_digit(b[pos])) break;
        bool has_obj = false;
        const std::int32_t t = skip_obj_header(b, pos, end, &has_obj);
        if (!has_obj) break; // a number without "obj" ends the stepping, at the number
        pos = t;
    }
    return pos;
}

// The dictionary that the current entry's first /Resources key gives, directly or through a
// reference; nullopt when that value is unusable.
std::optional<std::string> own_resources(const doc& d, const dict_range& r) {
    const bytes b = range_bytes(r);
    const std::int32_t end = r.to;
    constexpr std::string_view key_name = "Resources";
    const std::int32_t key = find_name(b, r.from, end, key_name);
    if (key < 0 || past_key(key, key_name) >= end) return std::nullopt;
    std::int32_t pos = skip_ws(b, past_key(key, key_name), end);
    if (dict_opens_at(b, pos, end)) return copy_dict(b, pos, end);
    std::int32_t num = 0;
    std::size_t ref_end = 0;
    if (pos >= end || !match_ref(b, static_cast<std::size_t>(pos), num, ref_end))
        return std::nullopt;
    const obj* target = num > 0 ? find_obj(d, num) : nullptr;
    if (!target) return std::nullopt;
    const dict_range tr = dict_range_of(d, *target);
    if (!tr.ok) return std::nullopt;
    const bytes tb = range_bytes(tr);
    const std::int32_t open = referenced_dict_start(tb, tr.from, tr.to);
    if (!dict_opens_at(tb, open, tr.to)) return std::nullopt;
    return copy_dict(tb, open, tr.to);
}

// The number after the entry's first /Parent key, or -1.
std::int32_t parent_of(const dict_range& r) {
    const bytes b = range_bytes(r);
    constexpr std::string_view key_name = "Parent";
    const std::int32_t key = find_name(b, r.from, r.to, key_name);
    if (key < 0) return -1;
    const std::int32_t value = skip_ws(b, past_key(key, key_name), r.to);
    std::int32_t num = 0;
    std::size_t ref_end = 0;
    if (value >= r.to || !match_ref(b, static_cast<std::size_t>(value), num, ref_end)) return -1;
    return num > 0 ? num : -1;
}

} // namespace

std::optional<std::string> get_resources_inherited(const doc& d, const obj* start,
                                                   std::int32_t first_ancestor) {
    if (!start) return std::nullopt;
    const obj* current = start;
    std::int32_t next = first_ancestor;
    for (int budget = search_budget;;) {
        const dict_range r = dict_range_of(d, *current);
        if (!r.ok) return std::nullopt;
        if (auto found = own_resources(d, r)) return found;
        // Nothing usable here: the listing /Pages node first, then each one's /Parent.
        if (next <= 0) return std::nullopt;
        current = find_obj(d, next);
        if (!current) return std::nullopt;
        const dict_range pr = dict_range_of(d, *current);
        if (!pr.ok) return std::nullopt;
        next = parent_of(pr);
        if (--budget == 0) return std::nullopt;
    }
}

} // namespace qf
