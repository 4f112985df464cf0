#include "lex.h"

#include "token.h"

#include <map>
#include <memory>

#include <algorithm>
#include <cstring>

namespace qf {

namespace {

std::int32_t size_of(bytes d) {
    return static_cast<std::int32_t>(d.size());
}

// A key name ends where the next byte cannot continue it.
bool ends_name(std::uint8_t c) {
    return !is_alnum(c) && c != '+' && c != '-' && c != '_';
}

// Whether the n bytes at pos equal s; the caller has checked that they lie in d.
bool bytes_equal(bytes d, std::int64_t pos, std::string_view s) {
    return s.empty() || std::memcmp(d.data() + pos, s.data(), s.size()) == 0;
}

// A key /name at p with its last byte before end: is the name not continued after it?
bool name_complete_at(bytes d, std::int64_t after_name, std::int64_t end) {
    return after_name == end || ends_name(d[static_cast<std::size_t>(after_name)]);
}

} // namespace

std::int32_t skip_ws(bytes d, std::int32_t pos, std::int32_t end) {
    if (pos < 0 || pos >= end) return pos;
    std::int32_t limit = std::min(end, size_of(d));
    while (pos < limit && is_pdf_ws(d[static_cast<std::size_t>(pos)])) ++pos;
    // Bytes past the buffer do not exist: a skip that runs out of them has reached end.
    return pos < limit ? pos : end;
}

std::int32_t find_kw(bytes d, std::int32_t from, std::string_view kw) {
    const std::int64_t len = d.size();
    const std::int64_t n = kw.size();
    if (n == 0) return -1;
    const auto first = static_cast<std::uint8_t>(kw[0]);
    for (std::int64_t i = std::max<std::int32_t>(from, 0); i + n <= len; ++i) {
        if (d[static_cast<std::size_t>(i)] != first || !bytes_equal(d, i, kw)) continue;
        if (i > 0 && is_alnum(d[static_cast<std::size_t>(i - 1)])) continue;
        if (i + n < len && is_alnum(d[static_cast<std::size_t>(i + n)])) continue;
        return static_cast<std::int32_t>(i);
    }
    return -1;
}

bool dict_opens_at(bytes d, std::int32_t pos, std::int32_t end) {
    const std::int64_t limit = std::min(end, size_of(d));
    return pos >= 0 && pos + 1 < limit && d[static_cast<std::size_t>(pos)] == '<' &&
           d[static_cast<std::size_t>(pos) + 1] == '<';
}

bool kw_at(bytes d, std::int32_t pos, std::string_view kw) {
    const std::int64_t len = d.size();
    const std::int64_t n = kw.size();
    if (pos < 0 || pos + n > len) return false;
    if (!bytes_equal(d, pos, kw)) return false;
    if (pos > 0 && is_alnum(d[static_cast<std::size_t>(pos - 1)])) return false;
    if (pos + n == len) return true;
    return !is_alnum(d[static_cast<std::size_t>(pos + n)]);
}

std::int32_t find_name(bytes d, std::int32_t from, std::int32_t end, std::string_view name) {
    const std::int64_t limit = std::min(end, size_of(d));
    const std::int64_t n = name.size();
    for (std::int64_t p = std::max<std::int32_t>(from, 0); p + n + 1 <= limit; ++p) {
        if (d[static_cast<std::size_t>(p)] != '/' || !bytes_equal(d, p + 1, name)) continue;
        if (name_complete_at(d, p + n + 1, limit)) return static_cast<std::int32_t>(p);
    }
    return -1;
}

std::int32_t find_name_top(bytes d, std::int32_t from, std::int32_t end, std::string_view key) {
    int depth = 0;
    for (token t = next_token(d, from, end); t.kind != token_kind::end;
         t = next_token(d, t.to, end)) {
        if (t.kind == token_kind::dict_open) ++depth;
        if (t.kind == token_kind::dict_close && depth > 0) --depth;
        if (t.kind == token_kind::name && depth <= 1 && name_is(d, t, key)) return t.from;
    }
    return -1;
}

int obj_type(bytes d, const obj& o) {
    const dict_range range = dict_range_in(d, o);
    if (!range.ok || range.to <= range.from) return 0;
    const std::int32_t from = range.from;
    const std::int32_t to = range.to;
    const bytes r = range.buf.first(static_cast<std::size_t>(to));
    auto at = [&](std::int64_t p) { return r[static_cast<std::size_t>(p)]; };

    for (std::int32_t p = find_name_top(r, from, to, "Type"); p >= 0;
         p = find_name_top(r, p + 1, to, "Type")) {
        const std::int64_t v = skip_ws(r, std::min(past_key(p, "Type"), to), to);
        if (v >= to || at(v) != '/' || v + 5 > to || !bytes_equal(r, v + 1, "Page")) continue;
        const std::int64_t after = v + 5;
        if (after == to || !is_alnum(at(after))) return 1;
        if (at(after) != 's') return 0;
        return after + 1 == to || !is_alnum(at(after + 1)) ? 2 : 0;
    }
    return 0;
}

namespace {

// The stream keyword right after the ">>" at close, or -1.
std::int32_t stream_kw_after(bytes d, std::int64_t close) {
    const std::int32_t s = skip_ws(d, static_cast<std::int32_t>(close + 2), size_of(d));
    return kw_at(d, s, "stream") ? s : -1;
}

} // namespace

std::int32_t dict_stream_kw(bytes d, std::int32_t pos) {
    const std::int32_t close = walked_dict_close(d, pos, size_of(d));
    return close < 0 ? -1 : stream_kw_after(d, close);
}

namespace {

// One walk of dict_stream_kws: where it stood, its brackets and its closings, and how it ended.
struct dict_walk {
    std::vector<std::pair<std::int64_t, std::int64_t>> brackets; // (position, depth after)
    std::vector<std::pair<std::int64_t, std::int64_t>> closes;   // (depth after, position) of >>
    std::int64_t end_pos = 0, end_depth = 0;
    std::int32_t joined = -1; // the earlier walk it ran into, or -1 when the input ended it
};

// The walk's depth just before it stands at p (0 before its first bracket).
std::int64_t depth_before(const dict_walk& w, std::int64_t p) {
    auto it = std::lower_bound(w.brackets.begin(), w.brackets.end(),
                               std::pair<std::int64_t, std::int64_t>{p, INT64_MIN});
    return it == w.brackets.begin() ? 0 : std::prev(it)->second;
}

// The first ">>" at or after p that brings the walk to `level`, or -1 before its end.
std::int64_t first_close(const dict_walk& w, std::int64_t level, std::int64_t p) {
    auto it = std::lower_bound(w.closes.begin(), w.closes.end(),
                               std::pair<std::int64_t, std::int64_t>{level, p});
    return it != w.closes.end() && it->first == level ? it->second : -1;
}

// Where the literal strings the walks enter end, for any opening position at once. A string
// walk steps over a backslash and the byte after it, so which bytes it sees as brackets does
// not depend on where it began: a byte is hidden when an odd run of backslashes stands right
// before it. Counting the brackets it sees (+1 for "(", -1 for ")") from the start of the
// input, the string opened at p ends at the first ")" after p that brings the count below its
// value just after p.
struct string_ends {
    std::vector<std::pair<std::int64_t, std::int64_t>> steps;  // (position, count after)
    std::vector<std::pair<std::int64_t, std::int64_t>> closes; // (count after, position)

    explicit string_ends(bytes d) {
        std::int64_t count = 0;
        bool hidden = false;
        for (std::size_t x = 0; x < d.size(); ++x) {
            const std::uint8_t c = d[x];
            if (hidden) {
                hidden = false;
            } else if (c == '\\') {
                hidden = true;
            } else if (c == '(' || c == ')') {
                count += c == '(' ? 1 : -1;
                steps.emplace_back(static_cast<std::int64_t>(x), count);
                if (c == ')') closes.emplace_back(count, static_cast<std::int64_t>(x));
            }
        }
        std::sort(closes.begin(), closes.end());
    }

    // Past the string that opens at p, as walked_dict_close steps over it; -1 as it fails.
    std::int64_t past(std::int64_t p, std::int64_t len) const {
        auto step = std::upper_bound(steps.begin(), steps.end(),
                                     std::pair<std::int64_t, std::int64_t>{p, INT64_MAX});
        const std::int64_t count = step == steps.begin() ? 0 : std::prev(step)->second;
        auto end = std::lower_bound(closes.begin(), closes.end(),
                                    std::pair<std::int64_t, std::int64_t>{count - 1, p + 1});
        if (end == closes.end() || end->first != count - 1) return -1;
        return end->second + 1 < len ? end->second + 1 : -1;
    }
};

} // namespace

std::vector<std::int32_t> dict_stream_kws(bytes d, const std::vector<std::int32_t>& starts) {
    const std::int64_t len = d.size();
    const std::size_t n = starts.size();
    std::vector<std::int32_t> result(n, -1);
    std::vector<std::uint8_t> taken(n, 0);
    auto after_close = [&](std::int64_t p) { return stream_kw_after(d, p); };

    // A walk stands on positions; from a position it stands on, every walk goes on the same
    // way. So no position is walked twice: a walk that reaches a position an earlier walk stood
    // on joins it, and its waiting starts are answered from the earlier walk's closings.
    std::vector<std::uint64_t> stood((static_cast<std::size_t>(len) + 64) / 64, 0);
    auto has_stood = [&](std::int64_t p) {
        return (stood[static_cast<std::size_t>(p) >> 6] >> (p & 63)) & 1u;
    };
    std::unique_ptr<string_ends> strings;
    std::vector<dict_walk> walks;
    std::map<std::int64_t, std::pair<std::int64_t, std::int32_t>> runs;      // start: (end, walk)
    std::map<std::pair<std::int32_t, std::int64_t>, std::int64_t> after_end; // memo

    // The first ">>" bringing walk w to `level` after its end, through the walks it joined.
    auto close_after_end = [&](std::int32_t w, std::int64_t level) {
        std::vector<std::pair<std::int32_t, std::int64_t>> asked;
        std::int64_t found = -1;
        for (;;) {
            if (auto m = after_end.find({w, level}); m != after_end.end()) {
                found = m->second;
                break;
            }
            asked.emplace_back(w, level);
            const dict_walk& from = walks[static_cast<std::size_t>(w)];
            if (from.joined < 0) break;
            const dict_walk& into = walks[static_cast<std::size_t>(from.joined)];
            level = level - from.end_depth + depth_before(into, from.end_pos);
            w = from.joined;
            found = first_close(into, level, from.end_pos);
            if (found >= 0) break;
        }
        for (const auto& key : asked) after_end[key] = found;
        return found;
    };

    for (std::size_t first = 0; first < n; ++first) {
        if (taken[first] || starts[first] < 0 || starts[first] >= len) continue;
        const auto self = static_cast<std::int32_t>(walks.size());
        walks.emplace_back();
        dict_walk& walk = walks.back();
        // A start the walk stands on at depth D ends at the first ">>" back to D.
        std::map<std::int64_t, std::vector<std::size_t>> waiting;
        std::size_t next = first;
        std::int64_t depth = 0;
        std::int64_t p = starts[first];
        std::int64_t run_start = -1;
        auto close_run = [&](std::int64_t end) {
            if (run_start >= 0) runs[run_start] = {end, self};
            run_start = -1;
        };
        while (p < len) {
            if (has_stood(p)) {
                // Joined: the rest is the earlier walk's.
                close_run(p);
                const auto owner = std::prev(runs.upper_bound(p))->second.second;
                const dict_walk& into = walks[static_cast<std::size_t>(owner)];
                const std::int64_t offset = depth_before(into, p) - depth;
                for (const auto& [level, ks] : waiting) {
                    std::int64_t q = first_close(into, level + offset, p);
                    if (q < 0) q = close_after_end(owner, level + offset);
                    for (std::size_t k : ks) result[k] = q >= 0 ? after_close(q) : -1;
                }
                waiting.clear();
                walk.joined = owner;
                break;
            }
            stood[static_cast<std::size_t>(p) >> 6] |= std::uint64_t{1} << (p & 63);
            if (run_start < 0) run_start = p;
            while (next < n && starts[next] < p) ++next;
            while (next < n && starts[next] == p) {
                if (!taken[next]) {
                    taken[next] = 1;
                    waiting[depth].push_back(next);
                }
                ++next;
            }
            const walk_byte seen =
                dictionary_walk_at(d, static_cast<std::int32_t>(p), static_cast<std::int32_t>(len));
            if (seen == walk_byte::cut) {
                close_run(p + 1);
                break;
            }
            if (seen == walk_byte::other) {
                ++p;
                continue;
            }
            if (seen == walk_byte::string) {
                close_run(p + 1);
                // Strings can hold much of the input; many walks entering them would each read
                // to their ends, so their ends are found once for all.
                if (!strings) strings = std::make_unique<string_ends>(d);
                p = strings->past(p, len);
                if (p < 0) break;
                continue;
            }
            depth += seen == walk_byte::open ? 1 : -1;
            walk.brackets.emplace_back(p, depth);
            if (seen == walk_byte::close) {
                walk.closes.emplace_back(depth, p);
                if (auto w = waiting.find(depth); w != waiting.end()) {
                    const std::int32_t kw = after_close(p);
                    for (std::size_t k : w->second) result[k] = kw;
                    waiting.erase(w);
                }
            }
            close_run(p + 1);
            p += 2;
        }
        close_run(p < 0 ? len : std::min(p, len));
        // Starts still waiting ran into the end of the input: -1, as result[] already holds.
        walk.end_pos = p;
        walk.end_depth = depth;
        std::sort(walk.closes.begin(), walk.closes.end());
    }
    return result;
}

namespace {

// Decimal digits from p while below limit, wrapping in 32 bits. Returns the count of digits.
std::int32_t read_digits(bytes d, std::int32_t& p, std::int32_t limit, std::uint32_t& value) {
    std::int32_t count = 0;
    value = 0;
    while (p < limit && is_digit(d[static_cast<std::size_t>(p)])) {
        value = value * 10u + static_cast<std::uint32_t>(d[static_cast<std::size_t>(p)] - '0');
        ++p;
        ++count;
    }
    return count;
}

std::int32_t signed_value(std::uint32_t v, bool negative) {
    return static_cast<std::int32_t>(negative ? 0u - v : v);
}

} // namespace

std::int32_t parse_int_at(bytes d, std::int32_t& cursor) {
    const std::int32_t len = size_of(d);
    if (cursor < 0 || cursor >= len) return -1;
    std::int32_t p = skip_ws(d, cursor, len);
    if (p >= len) return -1;
    bool negative = false;
    if (d[static_cast<std::size_t>(p)] == '-') {
        negative = true;
        if (++p >= len) return -1;
    }
    std::uint32_t value = 0;
    if (read_digits(d, p, len, value) == 0) return -1;
    cursor = p;
    return signed_value(value, negative);
}

std::int32_t read_int_adv(bytes d, std::int32_t end, std::int32_t& cursor) {
    if (cursor < 0 || cursor >= end) return -1;
    // Reading stops at the buffer's end too; the cursor still moves to end as if the
    // missing bytes had been skipped, so a caller's loop up to end always finishes.
    const std::int32_t limit = std::min(end, size_of(d));
    std::int32_t p = cursor;
    while (p < limit && is_pdf_ws(d[static_cast<std::size_t>(p)])) ++p;
    if (p >= limit) {
        cursor = end;
        return -1;
    }
    bool negative = false;
    const std::uint8_t sign = d[static_cast<std::size_t>(p)];
    if (sign == '+' || sign == '-') {
        negative = sign == '-';
        if (++p >= limit) {
            cursor = end;
            return -1;
        }
    }
    std::uint32_t value = 0;
    if (read_digits(d, p, limit, value) == 0) {
        // Step over the offending byte, but leave a reference's "R" for the caller to see.
        cursor = d[static_cast<std::size_t>(p)] == 'R' ? p : p + 1;
        return -1;
    }
    cursor = p;
    return signed_value(value, negative);
}

std::int32_t skip_obj_header(bytes d, std::int32_t pos, std::int32_t end, bool* has_obj) {
    if (has_obj) *has_obj = false;
    pos = skip_ws(d, pos, end);
    parse_int_at(d, pos);
    pos = skip_ws(d, pos, end);
    if (pos >= 0 && pos < end && static_cast<std::size_t>(pos) < d.size() &&
        is_digit(d[static_cast<std::size_t>(pos)])) {
        parse_int_at(d, pos);
        pos = skip_ws(d, pos, end);
    }
    if (kw_at(d, pos, "obj")) {
        if (has_obj) *has_obj = true;
        pos = skip_ws(d, pos + 3, end);
    }
    return pos;
}

std::int32_t stream_data_start(bytes d, std::int32_t s) {
    const std::int32_t len = size_of(d);
    auto at = [&](std::int32_t p) { return d[static_cast<std::size_t>(p)]; };
    const std::int32_t c = s + 6;
    if (c >= len) return c;
    std::int32_t q = c;
    while (q < len && (at(q) == ' ' || at(q) == '\t')) ++q;
    if (q < len && at(q) == '\n') return q + 1;
    if (q < len && at(q) == '\r') return q + 1 < len && at(q + 1) == '\n' ? q + 2 : q + 1;
    return c + 1;
}

void parse_length(bytes d, std::int32_t from, std::int32_t end, std::int32_t& direct,
                  std::int32_t& objnum) {
    direct = -1;
    objnum = -1;
    const std::int32_t limit = std::min(end, size_of(d));
    const bytes bounded = d.first(static_cast<std::size_t>(std::max(limit, 0)));
    auto at = [&](std::int32_t p) { return d[static_cast<std::size_t>(p)]; };

    for (std::int32_t key = find_name(d, from, end, "Length"); key >= 0;
         key = find_name(d, key + 1, end, "Length")) {
        // The value starts one byte after the byte that ends the name.
        const std::int64_t start = static_cast<std::int64_t>(past_key(key, "Length")) + 1;
        if (start >= limit) return;
        std::int32_t p = skip_ws(d, static_cast<std::int32_t>(start), end);
        if (p >= limit) return;
        const std::uint8_t c = at(p);

        if (c == '[') {
            std::int32_t last = -1;
            std::int32_t cur = p + 1;
            while (cur < limit && at(cur) != ']') {
                const std::int32_t before = cur;
                const std::int32_t v = parse_int_at(bounded, cur);
                if (cur == before)
                    ++cur;
                else if (v >= 0)
                    last = v;
            }
            if (last >= 0) {
                direct = last;
                return;
            }
            continue;
        }
        if (!is_digit(c) && c != '-') continue;

        std::int32_t cur = p;
        const std::int32_t n = parse_int_at(d, cur);
        if (n < 0) continue;
        std::int32_t ref_num = 0;
        std::size_t ref_end = 0;
        const auto digits = static_cast<std::size_t>(c == '-' ? p + 1 : p);
        if (match_ref(bounded, digits, ref_num, ref_end))
            objnum = n;
        else
            direct = n;
        return;
    }
}

int sx_rng_cmp(const void* a, const void* b) {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x < y ? -1 : x > y ? 1 : 0;
}

} // namespace qf
