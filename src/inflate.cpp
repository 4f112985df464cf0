// DEFLATE (RFC 1951) behind a zlib header (RFC 1950), decoded through lookup tables: a
// Huffman code is resolved with one or two table reads instead of bit by bit, and a fast loop
// handles the bulk of the data while plenty of input and output room remain. Near either end
// a careful loop takes over, so that truncated, malformed and full-output data give the same
// results as a decoder that reads one bit at a time. Also the reversal of PNG row filters.
#include "inflate.h"

#include "deflate_tables.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <span>

namespace qf {

namespace {

constexpr int max_code_bits = 15;
constexpr int max_literal_codes = 286; // a dynamic block's HLIT limit
constexpr int max_distance_codes = 30; // a dynamic block's HDIST limit
constexpr int fixed_literal_codes = 288;
constexpr int code_length_codes = 19;
constexpr std::uint64_t max_output = std::uint64_t{1} << 30;

using namespace deflate_format;

// ---- decoding tables --------------------------------------------------------------------
//
// An entry is 32 bits: bits 0-4 the number of code bits it stands for, bits 5-7 its kind,
// bits 8-11 the extra bits that follow (length and distance symbols), bits 16-31 its value
// (a literal byte, a base length or distance, a symbol, or a subtable's offset). A code longer
// than the table's root bits leads through a subtable entry whose bits 8-11 give the
// subtable's index bits.

enum entry_kind : std::uint32_t {
    kind_invalid = 0, // no code: invalid once 15 bits are there
    kind_literal = 1,
    kind_length = 2,
    kind_end = 3,
    kind_subtable = 4,
    kind_symbol = 5,     // distance symbols and code-length symbols
    kind_bad_symbol = 6, // a code for a symbol that must not occur (literal 286 and 287)
};

constexpr std::uint32_t make_entry(std::uint32_t bits, entry_kind kind, std::uint32_t extra,
                                   std::uint32_t value) {
    return bits | (static_cast<std::uint32_t>(kind) << 5) | (extra << 8) | (value << 16);
}
constexpr std::uint32_t entry_bits(std::uint32_t e) {
    return e & 31u;
}
constexpr entry_kind entry_kind_of(std::uint32_t e) {
    return static_cast<entry_kind>((e >> 5) & 7u);
}
constexpr std::uint32_t entry_extra(std::uint32_t e) {
    return (e >> 8) & 15u;
}
constexpr std::uint32_t entry_value(std::uint32_t e) {
    return e >> 16;
}

constexpr int literal_root = 9;
constexpr int distance_root = 7;
// Room for the root and every subtable: a subtable exists only for a code longer than the
// root, so there are at most as many subtables as symbols, each of at most 2^(15 - root).
constexpr std::size_t literal_table_size =
    (std::size_t{1} << literal_root) +
    fixed_literal_codes * (std::size_t{1} << (15 - literal_root));
constexpr std::size_t distance_table_size =
    (std::size_t{1} << distance_root) + 32 * (std::size_t{1} << (15 - distance_root));

enum class table_use { literals, distances, code_lengths };

// The entry of one symbol of a table.
constexpr std::uint32_t symbol_entry(table_use use, std::uint32_t sym, std::uint32_t bits) {
    if (use == table_use::literals) {
        if (sym < 256) return make_entry(bits, kind_literal, 0, sym);
        if (sym == 256) return make_entry(bits, kind_end, 0, 0);
        if (sym - 257 < length_base.size())
            return make_entry(bits, kind_length, length_extra[sym - 257], length_base[sym - 257]);
        return make_entry(bits, kind_bad_symbol, 0, sym);
    }
    if (use == table_use::distances) {
        if (sym < distance_base.size())
            return make_entry(bits, kind_symbol, distance_extra[sym], distance_base[sym]);
        return make_entry(bits, kind_bad_symbol, 0, sym);
    }
    return make_entry(bits, kind_symbol, 0, sym);
}

// Bytes with their bit order reversed.
constexpr std::array<std::uint8_t, 256> build_reversed_bytes() {
    std::array<std::uint8_t, 256> r{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t v = 0;
        for (int i = 0; i < 8; ++i) v |= ((b >> i) & 1u) << (7 - i);
        r[b] = static_cast<std::uint8_t>(v);
    }
    return r;
}
constexpr std::array<std::uint8_t, 256> reversed_bytes = build_reversed_bytes();

// The low `len` bits of `code` in reverse order (len up to 15).
constexpr std::uint32_t reverse_bits(std::uint32_t code, int len) {
    const std::uint32_t r16 = (static_cast<std::uint32_t>(reversed_bytes[code & 0xFFu]) << 8) |
                              reversed_bytes[(code >> 8) & 0xFFu];
    return r16 >> (16 - len);
}

// Checks the code lengths as a canonical code: 0 when complete or empty, the number of
// unassigned length-15 codes when incomplete, negative when over-subscribed.
constexpr int code_fullness(std::span<const std::uint8_t> lengths,
                            std::array<std::uint16_t, max_code_bits + 1>& counts) {
    // Two sets of counters, so that neighbouring equal lengths do not wait on each other.
    std::array<std::uint16_t, max_code_bits + 1> odd{};
    counts = {};
    std::size_t i = 0;
    for (; i + 1 < lengths.size(); i += 2) {
        ++counts[lengths[i] & 15u];
        ++odd[lengths[i + 1] & 15u];
    }
    if (i < lengths.size()) ++counts[lengths[i] & 15u];
    for (std::size_t len = 0; len <= max_code_bits; ++len)
        counts[len] = static_cast<std::uint16_t>(counts[len] + odd[len]);
    if (counts[0] == lengths.size()) return 0;
    int left = 1;
    for (int len = 1; len <= max_code_bits; ++len) {
        left = 2 * left - counts[static_cast<std::size_t>(len)];
        if (left < 0) return left;
    }
    return left;
}

// Fills `table` (root of 2^root entries, subtables after it) for the code given by `lengths`,
// whose counts per length code_fullness has found. Codes that were not assigned stay
// invalid. The lengths must not be over-subscribed.
constexpr void build_table(std::span<const std::uint8_t> lengths,
                           std::array<std::uint16_t, max_code_bits + 1> counts, int root,
                           table_use use, std::span<std::uint32_t> table) {
    // First canonical code of each length.
    std::array<std::uint32_t, max_code_bits + 2> next_code{};
    std::uint32_t code = 0;
    counts[0] = 0;
    for (int len = 1; len <= max_code_bits; ++len) {
        code = (code + counts[static_cast<std::size_t>(len - 1)]) << 1;
        next_code[static_cast<std::size_t>(len)] = code;
    }
    const std::uint32_t root_size = 1u << root;
    for (std::uint32_t i = 0; i < root_size; ++i) table[i] = make_entry(0, kind_invalid, 0, 0);
    int longer_than_root = 0;
    for (int len = root + 1; len <= max_code_bits; ++len)
        longer_than_root += counts[static_cast<std::size_t>(len)];

    // The longest code under each root prefix sets the size of its subtable.
    std::array<std::uint8_t, 1u << literal_root> longest{};
    std::array<std::uint32_t, max_code_bits + 2> scan = next_code;
    for (std::size_t sym = 0; longer_than_root > 0 && sym < lengths.size(); ++sym) {
        const int len = lengths[sym];
        if (len <= root) continue;
        const std::uint32_t reversed = reverse_bits(scan[static_cast<std::size_t>(len)]++, len);
        auto& l = longest[reversed & (root_size - 1)];
        if (len > l) l = static_cast<std::uint8_t>(len);
    }
    std::uint32_t used = root_size;
    for (std::uint32_t prefix = 0; longer_than_root > 0 && prefix < root_size; ++prefix) {
        if (longest[prefix] == 0) continue;
        const std::uint32_t sub_bits = longest[prefix] - static_cast<std::uint32_t>(root);
        table[prefix] = make_entry(static_cast<std::uint32_t>(root), kind_subtable, sub_bits, used);
        for (std::uint32_t i = 0; i < (1u << sub_bits); ++i)
            table[used + i] = make_entry(0, kind_invalid, 0, 0);
        used += 1u << sub_bits;
    }

    for (std::size_t sym = 0; sym < lengths.size(); ++sym) {
        const int len = lengths[sym];
        if (len == 0) continue;
        const std::uint32_t reversed =
            reverse_bits(next_code[static_cast<std::size_t>(len)]++, len);
        if (len <= root) {
            const std::uint32_t e =
                symbol_entry(use, static_cast<std::uint32_t>(sym), static_cast<std::uint32_t>(len));
            for (std::uint32_t i = reversed; i < root_size; i += 1u << len) table[i] = e;
        } else {
            const std::uint32_t link = table[reversed & (root_size - 1)];
            const std::uint32_t sub_bits = entry_extra(link);
            const std::uint32_t base = entry_value(link);
            const int rest = len - root;
            const std::uint32_t e = symbol_entry(use, static_cast<std::uint32_t>(sym),
                                                 static_cast<std::uint32_t>(rest));
            for (std::uint32_t i = reversed >> root; i < (1u << sub_bits); i += 1u << rest)
                table[base + i] = e;
        }
    }
}

struct fixed_tables {
    std::array<std::uint32_t, literal_table_size> literal{};
    std::array<std::uint32_t, distance_table_size> distance{};
};

// The fixed codes of RFC 1951 section 3.2.6, built by the compiler. Only 30 of the 32
// five-bit distance codes get a symbol: codes 30 and 31 are no code at all, so they are
// invalid once 15 bits are there, like any bits that are no code.
constexpr fixed_tables build_fixed_tables() {
    fixed_tables t{};
    std::array<std::uint8_t, fixed_literal_codes> lengths{};
    for (std::size_t sym = 0; sym < lengths.size(); ++sym)
        lengths[sym] = sym < 144 ? 8 : sym < 256 ? 9 : sym < 280 ? 7 : 8;
    std::array<std::uint16_t, max_code_bits + 1> counts{};
    code_fullness(lengths, counts);
    build_table(lengths, counts, literal_root, table_use::literals, t.literal);
    std::array<std::uint8_t, max_distance_codes> distance_lengths{};
    for (auto& len : distance_lengths) len = 5;
    code_fullness(distance_lengths, counts);
    build_table(distance_lengths, counts, distance_root, table_use::distances, t.distance);
    return t;
}

constexpr fixed_tables fixed = build_fixed_tables();
static_assert(entry_kind_of(fixed.literal[0]) == kind_end && entry_bits(fixed.literal[0]) == 7,
              "code 0000000 is the end of a fixed block");
static_assert(entry_kind_of(fixed.distance[0x1F]) == kind_invalid, "distance code 31 is no code");

// ---- bit input ----------------------------------------------------------------------------

// State of one decoding call. Bits are held in a 64-bit word, the oldest in bit 0; `held` of
// them are real input. The output is bounded by max_output and fits 32 bits.
struct inflate_ctx {
    std::uint8_t* dst = nullptr;
    std::uint32_t dst_cap = 0;
    std::uint32_t dst_len = 0;
    const std::uint8_t* src = nullptr;
    const std::uint8_t* src_end = nullptr;
    std::uint64_t bitbuf = 0;
    int held = 0;
};

std::uint64_t load_le64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}

// Tops the bits up to at least 56 while 8 bytes of input remain: the bits loaded beyond the
// whole bytes counted are those of the next bytes, so loading them again later changes nothing.
inline void refill_fast(inflate_ctx& s) {
    s.bitbuf |= load_le64(s.src) << s.held;
    s.src += (63 - s.held) >> 3;
    s.held |= 56;
}

// Byte by byte, up to `need` bits (at most 57) or the end of the input.
inline void refill_careful(inflate_ctx& s, int need) {
    while (s.held < need && s.held <= 56 && s.src < s.src_end) {
        s.bitbuf |= static_cast<std::uint64_t>(*s.src++) << s.held;
        s.held += 8;
    }
    // Nothing beyond the real bits may show: past the end they read as zeros.
    if (s.held < 64) s.bitbuf &= (std::uint64_t{1} << s.held) - 1u;
}

inline void consume(inflate_ctx& s, int n) {
    s.bitbuf >>= n;
    s.held -= n;
}

inline std::uint32_t peek(const inflate_ctx& s, int n) {
    return static_cast<std::uint32_t>(s.bitbuf & ((std::uint64_t{1} << n) - 1u));
}

// Results of the careful steps besides a symbol's entry.
constexpr int output_full = 1;
constexpr int invalid_code = -10;
constexpr int distance_too_far = -11;
constexpr int input_exhausted = -12;

// The entry of the next code, found with every check: a code needs its bits to be there, and
// bits that are no code are invalid only once 15 of them are there (until then more input
// could have made them a longer code). Consumes the code's bits; returns the entry, or
// input_exhausted / invalid_code.
inline std::int64_t decode_careful(inflate_ctx& s, const std::uint32_t* table, int root) {
    refill_careful(s, 57);
    std::uint32_t e = table[peek(s, root)];
    int used = 0;
    if (entry_kind_of(e) == kind_subtable) {
        used = root;
        const int sub_bits = static_cast<int>(entry_extra(e));
        e = table[entry_value(e) +
                  (static_cast<std::uint32_t>(s.bitbuf >> root) & ((1u << sub_bits) - 1u))];
    }
    if (entry_kind_of(e) == kind_invalid)
        return s.held >= max_code_bits ? invalid_code : input_exhausted;
    const int total = used + static_cast<int>(entry_bits(e));
    if (total > s.held) return input_exhausted;
    consume(s, total);
    return e;
}

inline bool take_careful(inflate_ctx& s, int n, std::uint32_t& value) {
    refill_careful(s, n);
    if (s.held < n) return false;
    value = n ? peek(s, n) : 0;
    consume(s, n);
    return true;
}

// ---- Huffman-coded blocks -----------------------------------------------------------------

// Bytes of slack the fast loop needs: the 8 bytes a refill reads, and the longest match plus
// the 8-byte steps of a copy of output.
constexpr std::ptrdiff_t fast_input_margin = 8;
constexpr std::uint32_t fast_output_margin = 258 + 8;

// Copies a match; the source may overlap the destination (a repeating pattern).
inline void copy_match(std::uint8_t* to, std::uint32_t dist, std::uint32_t length) {
    const std::uint8_t* from = to - dist;
    if (dist >= 8) {
        // 8 bytes at a time; may write up to 7 bytes past the match, inside the margin.
        for (std::uint32_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
    } else {
        for (std::uint32_t i = 0; i < length; ++i) to[i] = from[i];
    }
}

// One Huffman-coded block through its end-of-block code. 0 at the end of the block, or
// output_full, invalid_code, distance_too_far, input_exhausted.
int codes(inflate_ctx& s, const std::uint32_t* literal, const std::uint32_t* distance) {
    constexpr std::uint32_t literal_mask = (1u << literal_root) - 1u;
    constexpr std::uint32_t distance_mask = (1u << distance_root) - 1u;
    for (;;) {
        // The fast loop: with 56 bits held, a length code (15 bits) with its extra bits (5)
        // and a distance code (15) with its extra bits (13) are always there.
        while (s.src_end - s.src >= fast_input_margin &&
               s.dst_cap - s.dst_len >= fast_output_margin) {
            refill_fast(s);
            std::uint32_t e = literal[s.bitbuf & literal_mask];
            if (entry_kind_of(e) == kind_subtable) {
                consume(s, literal_root);
                e = literal[entry_value(e) +
                            (static_cast<std::uint32_t>(s.bitbuf) & ((1u << entry_extra(e)) - 1u))];
            }
            const entry_kind kind = entry_kind_of(e);
            if (kind == kind_literal) {
                consume(s, static_cast<int>(entry_bits(e)));
                s.dst[s.dst_len++] = static_cast<std::uint8_t>(entry_value(e));
                continue;
            }
            if (kind != kind_length) {
                if (kind == kind_end) {
                    consume(s, static_cast<int>(entry_bits(e)));
                    return 0;
                }
                return invalid_code;
            }
            consume(s, static_cast<int>(entry_bits(e)));
            const int lbits = static_cast<int>(entry_extra(e));
            const std::uint32_t length = entry_value(e) + peek(s, lbits);
            consume(s, lbits);

            std::uint32_t d = distance[s.bitbuf & distance_mask];
            if (entry_kind_of(d) == kind_subtable) {
                consume(s, distance_root);
                d = distance[entry_value(d) + (static_cast<std::uint32_t>(s.bitbuf) &
                                               ((1u << entry_extra(d)) - 1u))];
            }
            if (entry_kind_of(d) != kind_symbol) return invalid_code;
            consume(s, static_cast<int>(entry_bits(d)));
            const int dbits = static_cast<int>(entry_extra(d));
            const std::uint32_t dist = entry_value(d) + peek(s, dbits);
            consume(s, dbits);
            if (dist > s.dst_len) return distance_too_far;
            copy_match(s.dst + s.dst_len, dist, length);
            s.dst_len += length;
        }

        // The careful step, one symbol at a time, near the end of the input or the output.
        const std::int64_t le = decode_careful(s, literal, literal_root);
        if (le < 0) return static_cast<int>(le);
        const auto e = static_cast<std::uint32_t>(le);
        const entry_kind kind = entry_kind_of(e);
        if (kind == kind_literal) {
            if (s.dst_len == s.dst_cap) return output_full;
            s.dst[s.dst_len++] = static_cast<std::uint8_t>(entry_value(e));
            continue;
        }
        if (kind == kind_end) return 0;
        if (kind != kind_length) return invalid_code; // symbols 286 and 287
        std::uint32_t extra = 0;
        if (!take_careful(s, static_cast<int>(entry_extra(e)), extra)) return input_exhausted;
        const std::uint32_t length = entry_value(e) + extra;

        const std::int64_t de = decode_careful(s, distance, distance_root);
        if (de < 0) return static_cast<int>(de);
        const auto d = static_cast<std::uint32_t>(de);
        if (entry_kind_of(d) != kind_symbol) return invalid_code;
        if (!take_careful(s, static_cast<int>(entry_extra(d)), extra)) return input_exhausted;
        const std::uint32_t dist = entry_value(d) + extra;

        if (dist > s.dst_len) return distance_too_far;
        if (std::uint64_t{s.dst_len} + length > s.dst_cap) return output_full;
        // Byte by byte: near the end of the output there is no room for 8-byte steps.
        std::uint8_t* to = s.dst + s.dst_len;
        const std::uint8_t* from = to - dist;
        for (std::uint32_t i = 0; i < length; ++i) to[i] = from[i];
        s.dst_len += length;
    }
}

enum class block_result { done, malformed, failed, full };

// Maps the result of `codes` onto the outcomes of a block.
block_result codes_outcome(int result) {
    if (result == 0) return block_result::done;
    if (result == output_full) return block_result::full;
    if (result == input_exhausted) return block_result::failed;
    return block_result::malformed;
}

// Returns the bits held beyond the current byte to the input, so that byte-aligned data is
// read from the right place.
void align_to_byte(inflate_ctx& s) {
    consume(s, s.held & 7);
    s.src -= s.held >> 3;
    s.bitbuf = 0;
    s.held = 0;
}

block_result stored_block(inflate_ctx& s) {
    // The block starts at the next whole byte; the held bits are the rest of the current one.
    align_to_byte(s);
    if (s.src_end - s.src < 4) return block_result::failed;
    const std::uint8_t* p = s.src;
    const std::uint32_t len = p[0] | (std::uint32_t{p[1]} << 8);
    const std::uint32_t nlen = p[2] | (std::uint32_t{p[3]} << 8);
    if (len != (~nlen & 0xFFFFu)) return block_result::malformed;
    s.src += 4;
    if (static_cast<std::uint64_t>(s.src_end - s.src) < len) return block_result::failed;
    if (std::uint64_t{s.dst_len} + len > s.dst_cap) return block_result::full;
    if (len > 0) std::memcpy(s.dst + s.dst_len, s.src, len);
    s.src += len;
    s.dst_len += len;
    return block_result::done;
}

// A code from a dynamic header is usable when it is complete, or when it is incomplete only
// as a single one-bit code (all lengths 0 or 1).
bool usable_code(int fullness, const std::array<std::uint16_t, max_code_bits + 1>& counts,
                 std::size_t n) {
    if (fullness < 0) return false;
    if (fullness == 0) return true;
    return static_cast<std::size_t>(counts[0]) + counts[1] == n;
}

struct dynamic_tables {
    std::array<std::uint32_t, literal_table_size> literal;
    std::array<std::uint32_t, distance_table_size> distance;
};

block_result dynamic_block(inflate_ctx& s, dynamic_tables& t) {
    std::uint32_t hlit = 0, hdist = 0, hclen = 0;
    if (!take_careful(s, 5, hlit) || !take_careful(s, 5, hdist) || !take_careful(s, 4, hclen))
        return block_result::failed;
    const std::size_t n_literal = hlit + 257;
    const std::size_t n_distance = hdist + 1;
    const std::size_t n_code_length = hclen + 4;
    if (n_literal > max_literal_codes || n_distance > max_distance_codes)
        return block_result::malformed;

    std::array<std::uint8_t, max_literal_codes + max_distance_codes> lengths{};
    for (std::size_t i = 0; i < n_code_length; ++i) {
        std::uint32_t len = 0;
        if (!take_careful(s, 3, len)) return block_result::failed;
        lengths[code_length_order[i]] = static_cast<std::uint8_t>(len);
    }
    std::array<std::uint16_t, max_code_bits + 1> counts{};
    const auto code_length_lengths =
        std::span<const std::uint8_t>(lengths).first(code_length_codes);
    if (code_fullness(code_length_lengths, counts) != 0) return block_result::malformed;
    // The code-length code is at most 7 bits long: a root of 7 bits holds all of it.
    std::array<std::uint32_t, 1u << 7> code_length_table{};
    build_table(code_length_lengths, counts, 7, table_use::code_lengths, code_length_table);

    const std::size_t total = n_literal + n_distance;
    std::size_t index = 0;
    std::array<std::uint8_t, max_literal_codes + max_distance_codes> code_lengths{};
    while (index < total) {
        const std::int64_t e = decode_careful(s, code_length_table.data(), 7);
        if (e == input_exhausted) return block_result::failed;
        if (e < 0) return block_result::malformed;
        const std::uint32_t sym = entry_value(static_cast<std::uint32_t>(e));
        if (sym < 16) {
            code_lengths[index++] = static_cast<std::uint8_t>(sym);
            continue;
        }
        std::uint8_t repeated = 0;
        std::uint32_t extra = 0;
        std::size_t times = 0;
        if (sym == 16) {
            if (index == 0) return block_result::malformed;
            repeated = code_lengths[index - 1];
            if (!take_careful(s, 2, extra)) return block_result::failed;
            times = 3 + extra;
        } else if (sym == 17) {
            if (!take_careful(s, 3, extra)) return block_result::failed;
            times = 3 + extra;
        } else {
            if (!take_careful(s, 7, extra)) return block_result::failed;
            times = 11 + extra;
        }
        if (times > total - index) return block_result::malformed;
        for (std::size_t i = 0; i < times; ++i) code_lengths[index++] = repeated;
    }
    if (code_lengths[256] == 0) return block_result::malformed;

    const auto all = std::span<const std::uint8_t>(code_lengths);
    if (!usable_code(code_fullness(all.first(n_literal), counts), counts, n_literal))
        return block_result::malformed;
    build_table(all.first(n_literal), counts, literal_root, table_use::literals, t.literal);
    // All-zero distance lengths are accepted: literals only.
    if (!usable_code(code_fullness(all.subspan(n_literal, n_distance), counts), counts, n_distance))
        return block_result::malformed;
    build_table(all.subspan(n_literal, n_distance), counts, distance_root, table_use::distances,
                t.distance);

    return codes_outcome(codes(s, t.literal.data(), t.distance.data()));
}

} // namespace

int inflate_decompress(const std::uint8_t* in, std::uint64_t in_len, std::uint8_t* out,
                       std::uint64_t out_cap, std::uint64_t* out_len) {
    if (out_len == nullptr) return -1;
    *out_len = 0;
    if (in == nullptr || in_len < 2 || out_cap > max_output) return -1;
    if (out == nullptr && out_cap > 0) return -1;
    // Method 8 (deflate) and no preset dictionary; window size and check bits are not examined.
    if ((in[0] & 0x0F) != 8 || (in[1] & 0x20) != 0) return -1;

    inflate_ctx s;
    s.dst = out;
    s.dst_cap = static_cast<std::uint32_t>(out_cap);
    s.src = in + 2;
    s.src_end = in + in_len;
    dynamic_tables tables;

    for (;;) {
        std::uint32_t header = 0;
        if (!take_careful(s, 3, header)) return -1;
        const bool final_block = (header & 1u) != 0;
        block_result r = block_result::malformed; // BTYPE 3
        switch (header >> 1) {
        case 0:
            r = stored_block(s);
            break;
        case 1:
            r = codes_outcome(codes(s, fixed.literal.data(), fixed.distance.data()));
            break;
        case 2:
            r = dynamic_block(s, tables);
            break;
        default:
            break;
        }
        if (r == block_result::failed) return -1;
        if (r == block_result::full) return inflate_output_full;
        // Malformed data ends decoding with the bytes written before the fault.
        if (r == block_result::malformed || final_block) {
            *out_len = s.dst_len;
            return 0;
        }
    }
}

int inflate_growing(const std::uint8_t* in, std::uint64_t in_len, std::uint64_t first_cap,
                    std::uint64_t max_cap, std::vector<std::uint8_t>& out) {
    std::uint64_t cap = first_cap < max_cap ? first_cap : max_cap;
    for (;;) {
        out.clear();
        out.shrink_to_fit(); // the failed attempt's buffer goes before the next one comes
        out.resize(static_cast<std::size_t>(cap));
        std::uint64_t n = 0;
        const int r = inflate_decompress(in, in_len, out.data(), cap, &n);
        if (r == 0) {
            out.resize(static_cast<std::size_t>(n));
            return 0;
        }
        out.clear();
        out.shrink_to_fit();
        if (r != inflate_output_full || cap >= max_cap) return r;
        cap = cap > max_cap / 4 ? max_cap : cap * 4;
    }
}

namespace {

std::uint8_t paeth(std::uint8_t left, std::uint8_t up, std::uint8_t upper_left) {
    int p = left + up - upper_left;
    int pa = p > left ? p - left : left - p;
    int pb = p > up ? p - up : up - p;
    int pc = p > upper_left ? p - upper_left : upper_left - p;
    if (pa <= pb && pa <= pc) return left;
    if (pb <= pc) return up;
    return upper_left;
}

} // namespace

// Rows of `columns` + 1 bytes (a filter tag, then one byte per sample) become rows of
// `columns` bytes packed from the start. Each tag's removal moves the rest of the buffer one
// place toward the start with the last byte kept; that is done here in one pass, with the same
// final bytes.
int inflate_png_unfilter(std::uint8_t* buf, std::uint64_t len, int columns) {
    if (columns <= 0) return -1;
    const std::uint64_t width = static_cast<std::uint64_t>(columns);
    const std::uint64_t stride = width + 1;
    const std::uint64_t rows = len / stride;
    if (rows == 0) return 0;

    int result = 0;
    std::uint64_t done = 0; // rows whose tag has been removed
    for (; done < rows; ++done) {
        const std::uint64_t from = done * stride;
        const std::uint8_t tag = buf[from];
        if (tag > 4) {
            result = -1;
            break;
        }
        // Writing at done * width never overtakes reading at from + 1 + j.
        std::uint8_t* row = buf + done * width;
        const std::uint8_t* prev = done > 0 ? row - width : nullptr;
        for (std::uint64_t j = 0; j < width; ++j) {
            std::uint8_t sample = buf[from + 1 + j];
            std::uint8_t left = j > 0 ? row[j - 1] : 0;
            std::uint8_t up = prev ? prev[j] : 0;
            std::uint8_t upper_left = prev && j > 0 ? prev[j - 1] : 0;
            switch (tag) {
            case 1:
                sample = static_cast<std::uint8_t>(sample + left);
                break;
            case 2:
                sample = static_cast<std::uint8_t>(sample + up);
                break;
            case 3:
                sample = static_cast<std::uint8_t>(sample + (left + up) / 2);
                break;
            case 4:
                sample = static_cast<std::uint8_t>(sample + paeth(left, up, upper_left));
                break;
            default:
                break;
            }
            row[j] = sample;
        }
    }

    // The bytes after the last removed tag end up `done` places toward the start, and the
    // `done` places freed at the end repeat the buffer's last byte.
    if (done > 0) {
        const std::uint64_t tail_from = done * stride;
        const std::uint64_t tail_to = done * width;
        std::memmove(buf + tail_to, buf + tail_from, len - tail_from);
        std::memset(buf + (len - done), buf[len - 1], done);
    }
    return result;
}

} // namespace qf
