// Content stream filters: a page's content stream is decoded here when every filter in its
// chain is one we can undo, and is otherwise carried into the form as stored, with its
// /Filter and /DecodeParms text copied into the form's dictionary.
#include "filters.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string_view>

#include "inflate.h"
#include "lex.h"
#include "token.h"

namespace qf {

namespace {

using byte_vec = std::vector<std::uint8_t>;

constexpr std::size_t max_chain = 8;
constexpr std::size_t max_filter_name = 31;

// Largest buffer the inflater accepts, and the bound on every stage's output: the content's
// length is a 32-bit count, so no stage may produce more than this.
constexpr std::uint64_t stage_output_limit = std::uint64_t{1} << 30;

// DEFLATE cannot expand data more than 1032-fold: its densest code is a 258-byte match in two
// bits (one-bit length and distance codes, RFC 1951 3.2.5/3.2.7).
constexpr std::uint64_t deflate_max_expansion = 1032;

enum class stage_kind { flate, hex, ascii85, run_length, unknown };

struct stage_name {
    std::string_view name;
    stage_kind kind;
};

constexpr std::array<stage_name, 8> stage_names{{
    {"FlateDecode", stage_kind::flate},
    {"Fl", stage_kind::flate},
    {"ASCIIHexDecode", stage_kind::hex},
    {"AHx", stage_kind::hex},
    {"ASCII85Decode", stage_kind::ascii85},
    {"A85", stage_kind::ascii85},
    {"RunLengthDecode", stage_kind::run_length},
    {"RL", stage_kind::run_length},
}};

stage_kind stage_of(std::string_view name) {
    for (const auto& s : stage_names)
        if (s.name == name) return s.kind;
    return stage_kind::unknown;
}

// Where a filter name, or a value copied for the form's dictionary, stops.
constexpr bool ends_value(std::uint8_t c) {
    return is_std_ws(c) || c == '>' || c == '/';
}
// Inside a /Filter array a name also stops at a bracket.
constexpr bool ends_array_name(std::uint8_t c) {
    return ends_value(c) || c == '[' || c == ']';
}

std::string_view text_at(bytes text, std::int32_t from, std::int32_t to) {
    return {reinterpret_cast<const char*>(text.data()) + from, static_cast<std::size_t>(to - from)};
}

// Room for n more bytes; false when the stage's output would pass the limit. Growth doubles
// but stops at the limit, so a stage never holds a block larger than its largest output.
bool make_room(byte_vec& out, std::size_t n) {
    if (n > stage_output_limit - out.size()) return false;
    const std::size_t needed = out.size() + n;
    if (needed > out.capacity())
        out.reserve(
            std::min<std::size_t>(std::max(needed, 2 * out.capacity()), stage_output_limit));
    return true;
}

// Appends n bytes; false when the stage's output would pass the limit.
bool put(byte_vec& out, const std::uint8_t* p, std::size_t n) {
    if (!make_room(out, n)) return false;
    out.insert(out.end(), p, p + n);
    return true;
}

bool put_repeated(byte_vec& out, std::size_t n, std::uint8_t value) {
    if (!make_room(out, n)) return false;
    out.insert(out.end(), n, value);
    return true;
}

// Set when a stage stopped because the call's decoding budget ran out.
struct stage_budget {
    std::uint64_t* left = nullptr; // null: no budget
    bool exceeded = false;

    // Takes n bytes of work; false (and exceeded) when fewer are left.
    bool take(std::uint64_t n) {
        if (!left) return true;
        if (n > *left) {
            *left = 0;
            exceeded = true;
            return false;
        }
        *left -= n;
        return true;
    }
};

bool flate_stage(bytes in, byte_vec& out, stage_budget& budget) {
    // Room for six times the input first, then four times more each time, within the stage
    // limit; DEFLATE never expands more than 1032-fold, so no more room than that helps.
    const std::uint64_t first = 6 * static_cast<std::uint64_t>(in.size()) + 4096;
    if (first > stage_output_limit) return false;
    std::uint64_t last = first;
    while (last < deflate_max_expansion * in.size() && last * 4 <= stage_output_limit) last *= 4;
    // No more room than the budget has left: decoding past it is work for nothing.
    const bool bounded = budget.left && *budget.left < last;
    if (bounded) last = std::max(first, *budget.left);
    const int r = inflate_growing(in.data(), in.size(), first, last, out);
    if (r == inflate_output_full) {
        // The room was filled, perhaps several times over: that work counts.
        budget.take(last);
        if (bounded) budget.exceeded = true;
        return false;
    }
    return r == 0;
}

bool hex_stage(bytes in, byte_vec& out) {
    int high = -1;
    for (std::uint8_t c : in) {
        if (c == '>') break;
        if (is_std_ws(c)) continue;
        int v = hex_digit(c);
        if (v < 0) return false;
        if (high < 0) {
            high = v;
            continue;
        }
        auto b = static_cast<std::uint8_t>(high << 4 | v);
        if (!put(out, &b, 1)) return false;
        high = -1;
    }
    // An odd last digit stands for the high half of a byte whose low half is 0.
    if (high >= 0) {
        auto b = static_cast<std::uint8_t>(high << 4);
        if (!put(out, &b, 1)) return false;
    }
    return true;
}

bool put_group(byte_vec& out, std::uint32_t value, std::size_t count) {
    const std::uint8_t group[4] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return put(out, group, count);
}

bool ascii85_stage(bytes in, byte_vec& out) {
    std::uint32_t value = 0; // a group above 2^32 - 1 is bad data; it wraps unchecked
    int digits = 0;
    for (std::uint8_t c : in) {
        if (c == '~') break;
        if (is_std_ws(c)) continue;
        if (c == 'z' && digits == 0) {
            if (!put_repeated(out, 4, 0)) return false;
            continue;
        }
        if (c < '!' || c > 'u') return false;
        value = value * 85u + static_cast<std::uint32_t>(c - '!');
        if (++digits == 5) {
            if (!put_group(out, value, 4)) return false;
            value = 0;
            digits = 0;
        }
    }
    if (digits == 1) return false;
    if (digits > 1) {
        // A partial group of n digits is padded with "u" and stands for n - 1 bytes.
        for (int i = digits; i < 5; ++i) value = value * 85u + 84u;
        if (!put_group(out, value, static_cast<std::size_t>(digits - 1))) return false;
    }
    return true;
}

bool run_length_stage(bytes in, byte_vec& out) {
    std::size_t i = 0;
    while (i < in.size()) {
        std::uint8_t length = in[i++];
        if (length == 128) break;
        if (length < 128) {
            std::size_t want = std::size_t{length} + 1;
            std::size_t n = std::min(want, in.size() - i);
            if (!put(out, in.data() + i, n)) return false;
            i += n;
            if (n < want) break;
        } else {
            if (i >= in.size()) break;
            if (!put_repeated(out, 257 - std::size_t{length}, in[i])) return false;
            ++i;
        }
    }
    return true;
}

bool run_stage(stage_kind kind, bytes in, byte_vec& out, stage_budget& budget) {
    switch (kind) {
    case stage_kind::flate:
        return flate_stage(in, out, budget);
    case stage_kind::hex:
        return hex_stage(in, out);
    case stage_kind::ascii85:
        return ascii85_stage(in, out);
    case stage_kind::run_length:
        return run_length_stage(in, out);
    case stage_kind::unknown:
        break;
    }
    return false;
}

// PNG predictors (/Predictor 10 and up) with one byte per sample; /Colors and
// /BitsPerComponent are not read. `from` is just after the parameters key.
void reverse_predictor(bytes text, std::int32_t from, std::int32_t end, byte_vec& current) {
    std::int32_t v = skip_ws(text, from, end);
    if (!dict_opens_at(text, v, end)) return;
    std::int32_t predictor = -1;
    std::int32_t key = find_name(text, v, end, "Predictor");
    if (key >= 0) {
        std::int32_t cursor = past_key(key, "Predictor");
        predictor = parse_int_at(text, cursor);
    }
    key = find_name(text, v, end, "Columns");
    if (key < 0) return;
    std::int32_t cursor = past_key(key, "Columns");
    std::int32_t columns = parse_int_at(text, cursor);
    if (columns <= 0 || predictor < 10) return;
    std::uint64_t len = current.size();
    if (static_cast<std::uint64_t>(columns) >= len) return;
    std::uint64_t rows = len / (static_cast<std::uint64_t>(columns) + 1);
    if (inflate_png_unfilter(current.data(), len, columns) == 0)
        current.resize(static_cast<std::size_t>(rows * static_cast<std::uint64_t>(columns)));
}

// Where a stream dictionary's filter entries stand; filter_key < 0 when it has no filter.
struct filter_entries {
    std::int32_t end = 0;
    std::int32_t parms_key = -1;
    std::string_view parms_name; // DecodeParms, or its short form DP
    std::int32_t filter_key = -1;
    std::int32_t value = -1; // the "/" or "[" of the /Filter value
};

filter_entries find_filter_entries(bytes text, std::int32_t dict_start, std::int32_t dict_end) {
    filter_entries f;
    f.end = std::min(dict_end, static_cast<std::int32_t>(text.size()));
    for (std::string_view name : {"DecodeParms", "DP"}) {
        f.parms_key = find_name(text, dict_start, f.end, name);
        f.parms_name = name;
        if (f.parms_key >= 0) break;
    }
    const std::int32_t key = find_name(text, dict_start, f.end, "Filter");
    if (key < 0) return f;
    const std::int32_t v = skip_ws(text, past_key(key, "Filter"), f.end);
    // An indirect reference or null is taken as no filter.
    if (v >= f.end || (text[v] != '/' && text[v] != '[')) return f;
    f.filter_key = key;
    f.value = v;
    return f;
}

// The stream goes into the form as stored; its filter entries go into the form's dictionary.
int carry_encoded(bytes text, const filter_entries& f, streamout& out) {
    auto filter = copy_value_text(text, past_key(f.filter_key, "Filter"), f.end);
    if (!filter) return -1;
    std::optional<std::string> parms;
    if (f.parms_key >= 0) parms = copy_value_text(text, past_key(f.parms_key, f.parms_name), f.end);
    out.dict_tail = " /Filter " + *filter;
    // The short key DP is written out in full.
    if (parms) out.dict_tail += " /DecodeParms " + *parms;
    return 2;
}

} // namespace

std::optional<std::string> copy_value_text(bytes text, std::int32_t start, std::int32_t end) {
    end = std::min(end, static_cast<std::int32_t>(text.size()));
    if (start < 0 || start >= end) return std::nullopt;
    std::int32_t p = skip_ws(text, start, end);
    if (p >= end) return std::nullopt;

    if (dict_opens_at(text, p, end)) {
        const std::int32_t close = walked_dict_close(text, p, end);
        if (close < 0) return std::nullopt;
        return std::string(text_at(text, p, close + 2));
    }
    if (text[p] == '[') {
        for (std::int32_t i = p + 1; i < end; ++i) {
            if (text[i] != ']') continue;
            if (i == end - 1) return std::nullopt;
            return std::string(text_at(text, p, i + 1));
        }
        return std::nullopt;
    }
    if (text[p] != '/' && ends_value(text[p])) return std::nullopt;
    std::int32_t i = p + 1;
    while (i < end && !ends_value(text[i])) ++i;
    return std::string(text_at(text, p, i));
}

namespace {

// Starts `out` as the plain stored bytes and finds the filter entries; false when there is no
// filter to consider (the stored bytes are then the content).
bool start_content(bytes text, std::int32_t dict_start, std::int32_t dict_end,
                   const std::uint8_t* data, std::int32_t data_len, streamout& out,
                   filter_entries& f) {
    out = streamout{};
    out.data = data;
    out.len = data_len > 0 ? data_len : 0;
    if (dict_start < 0 || data_len <= 0) return false;
    f = find_filter_entries(text, dict_start, dict_end);
    return f.filter_key >= 0;
}

} // namespace

int content_carry(bytes text, std::int32_t dict_start, std::int32_t dict_end,
                  const std::uint8_t* data, std::int32_t data_len, streamout& out,
                  std::uint64_t* /*budget: nothing is decoded*/) {
    filter_entries f;
    if (!start_content(text, dict_start, dict_end, data, data_len, out, f)) return 1;
    return carry_encoded(text, f, out);
}

int content_decode(bytes text, std::int32_t dict_start, std::int32_t dict_end,
                   const std::uint8_t* data, std::int32_t data_len, streamout& out,
                   std::uint64_t* budget_left) {
    filter_entries f;
    if (!start_content(text, dict_start, dict_end, data, data_len, out, f)) return 1;
    const std::int32_t end = f.end, v = f.value;

    std::array<std::string_view, max_chain> chain;
    std::size_t chain_len = 0;
    if (text[v] == '/') {
        std::int32_t i = v + 1;
        while (i < end && !ends_value(text[i])) ++i;
        // No filter we know has a longer name: the stream is carried as it is, its /Filter
        // with it.
        if (static_cast<std::size_t>(i - (v + 1)) > max_filter_name)
            return carry_encoded(text, f, out);
        chain[chain_len++] = text_at(text, v + 1, i);
    } else {
        std::int32_t close = v + 1;
        while (close < end && text[close] != ']') ++close;
        std::int32_t i = v + 1;
        while (i < close) {
            if (text[i] != '/') {
                ++i;
                continue;
            }
            std::int32_t j = i + 1;
            while (j < close && !ends_array_name(text[j])) ++j;
            // A name longer than any we know, or more stages than we undo, cannot be decoded;
            // dropping it would write the stream without one of its filters.
            if (static_cast<std::size_t>(j - (i + 1)) > max_filter_name || chain_len == max_chain)
                return carry_encoded(text, f, out);
            chain[chain_len++] = text_at(text, i + 1, j);
            i = j;
        }
        if (chain_len == 0) return 1;
    }

    // A name we cannot undo sends the stream to be carried whatever the stages before it
    // produce; decoding those first would only spend time and memory (a few bytes through
    // repeated run-length stages can grow to the stage limit) on bytes that are dropped.
    for (std::size_t k = 0; k < chain_len; ++k)
        if (stage_of(chain[k]) == stage_kind::unknown) return carry_encoded(text, f, out);

    byte_vec current;
    bytes stage_input(data, static_cast<std::size_t>(data_len));
    stage_budget budget{budget_left};
    for (std::size_t k = 0; k < chain_len; ++k) {
        byte_vec next;
        const bool done =
            run_stage(stage_of(chain[k]), stage_input, next, budget) && budget.take(next.size());
        if (budget.exceeded) return content_over_budget;
        if (!done) return carry_encoded(text, f, out);
        current = std::move(next);
        stage_input = bytes(current);
    }

    if (!current.empty() && f.parms_key >= 0)
        reverse_predictor(text, past_key(f.parms_key, f.parms_name), end, current);

    out.decoded = std::move(current);
    out.data = out.decoded.data();
    out.len = static_cast<std::int32_t>(out.decoded.size());
    out.owned = true;
    return 1;
}

} // namespace qf
