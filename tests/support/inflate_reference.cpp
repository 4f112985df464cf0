// The bit-serial DEFLATE decoder the library used before its table-driven one: kept as the
// oracle that the fast decoder must match byte for byte and result for result (its "output
// full" is the -1 of a failed call; the library's decoder reports it as -2).
#include "inflate_reference.h"

#include "deflate_tables.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <span>

namespace qft {

namespace {

constexpr int max_code_bits = 15;
constexpr int max_literal_codes = 286; // a dynamic block's HLIT limit
constexpr int max_distance_codes = 30; // a dynamic block's HDIST limit
constexpr int fixed_literal_codes = 288;
constexpr int code_length_codes = 19;
constexpr std::uint64_t max_output = std::uint64_t{1} << 30;

// Results of the inner operations besides a symbol (>= 0) or a finished block (0).
constexpr int output_full = 1;
constexpr int invalid_code = -10;
constexpr int distance_too_far = -11;
constexpr int input_exhausted = -12;

// The format's tables, shared with the library.
constexpr const auto& lens = qf::deflate_format::length_base;
constexpr const auto& lext = qf::deflate_format::length_extra;
constexpr const auto& dists = qf::deflate_format::distance_base;
constexpr const auto& dext = qf::deflate_format::distance_extra;
constexpr const auto& order = qf::deflate_format::code_length_order;

// Storage of one canonical code: counts[0] is the number of symbols without a code, counts[L]
// the number of codes of length L; symbols in canonical order (by length, then by value).
template <std::size_t N> struct huff_storage {
    std::array<std::int16_t, max_code_bits + 1> counts{};
    std::array<std::int16_t, N> symbols{};
};

// A read-only view of one canonical code, as the decoder uses it.
struct hufftable {
    std::span<const std::int16_t, max_code_bits + 1> counts;
    std::span<const std::int16_t> symbols;
};

template <std::size_t N> constexpr hufftable table_of(const huff_storage<N>& h) {
    return {h.counts, h.symbols};
}

// Fills counts and symbols from per-symbol code lengths (0 = no code). Returns 0 for a
// complete code or one without any codes, the number of unassigned length-15 codes for an
// incomplete code, and a negative number for an over-subscribed code (then unusable).
constexpr int construct(std::span<std::int16_t, max_code_bits + 1> counts,
                        std::span<std::int16_t> symbols, std::span<const std::int16_t> lengths) {
    for (auto& c : counts) c = 0;
    for (std::int16_t len : lengths) ++counts[static_cast<std::size_t>(len)];
    if (static_cast<std::size_t>(counts[0]) == lengths.size()) return 0;

    int left = 1;
    for (int len = 1; len <= max_code_bits; ++len) {
        left = 2 * left - counts[static_cast<std::size_t>(len)];
        if (left < 0) return left;
    }

    std::array<std::int16_t, max_code_bits + 1> offsets{};
    for (int len = 1; len < max_code_bits; ++len)
        offsets[static_cast<std::size_t>(len + 1)] = static_cast<std::int16_t>(
            offsets[static_cast<std::size_t>(len)] + counts[static_cast<std::size_t>(len)]);
    for (std::size_t sym = 0; sym < lengths.size(); ++sym) {
        if (lengths[sym] == 0) continue;
        auto& slot = offsets[static_cast<std::size_t>(lengths[sym])];
        symbols[static_cast<std::size_t>(slot)] = static_cast<std::int16_t>(sym);
        ++slot;
    }
    return left;
}

struct fixed_tables {
    huff_storage<fixed_literal_codes> literal;
    huff_storage<max_distance_codes> distance;
    int literal_result = 0;
    int distance_result = 0;
};

// The fixed codes of RFC 1951 section 3.2.6, built by the compiler so that no call ever
// writes shared state. Only 30 of the 32 five-bit distance codes get a symbol: codes 30 and
// 31 must decode as invalid.
constexpr fixed_tables build_fixed_tables() {
    fixed_tables t{};
    std::array<std::int16_t, fixed_literal_codes> lengths{};
    for (std::size_t sym = 0; sym < lengths.size(); ++sym)
        lengths[sym] = sym < 144 ? 8 : sym < 256 ? 9 : sym < 280 ? 7 : 8;
    t.literal_result = construct(t.literal.counts, t.literal.symbols, lengths);
    std::array<std::int16_t, max_distance_codes> distance_lengths{};
    for (auto& len : distance_lengths) len = 5;
    t.distance_result = construct(t.distance.counts, t.distance.symbols, distance_lengths);
    return t;
}

constexpr fixed_tables fixed = build_fixed_tables();
static_assert(fixed.literal_result == 0, "the fixed literal/length code is complete");
static_assert(fixed.distance_result > 0, "distance codes 30 and 31 stay unassigned");
static_assert(fixed.literal.counts[7] == 24 && fixed.literal.counts[8] == 152 &&
              fixed.literal.counts[9] == 112);
static_assert(fixed.literal.symbols[0] == 256 && fixed.literal.symbols[24] == 0);

// State of one decoding call. The input position is 64-bit so that no input length can wrap
// it; the output is bounded by max_output and fits 32 bits.
struct inflate_ctx {
    std::uint8_t* dst = nullptr;
    std::uint32_t dst_cap = 0;
    std::uint32_t dst_len = 0;
    const std::uint8_t* src = nullptr;
    std::uint64_t src_len = 0;
    std::uint64_t src_pos = 0;
    std::uint32_t bit_acc = 0; // bits taken but not used, the oldest in bit 0
    int bit_count = 0;
};

// Takes the next `need` (0..13) bits, the first stream bit lowest. False when the input is
// exhausted first; bytes are loaded one at a time, so fewer than 8 bits stay held after it.
inline bool bits(inflate_ctx& s, int need, std::uint32_t& value) {
    while (s.bit_count < need) {
        if (s.src_pos == s.src_len) return false;
        s.bit_acc |= static_cast<std::uint32_t>(s.src[s.src_pos]) << s.bit_count;
        ++s.src_pos;
        s.bit_count += 8;
    }
    value = s.bit_acc & ((std::uint32_t{1} << need) - 1u);
    s.bit_acc >>= need;
    s.bit_count -= need;
    return true;
}

// Decodes one symbol a bit at a time: at each length, the codes of that length are the
// `count` values starting at `first`, because canonical codes of one length are consecutive.
int decode(inflate_ctx& s, const hufftable& h) {
    int code = 0;
    int first = 0;
    int index = 0;
    for (int len = 1; len <= max_code_bits; ++len) {
        std::uint32_t bit = 0;
        if (!bits(s, 1, bit)) return input_exhausted;
        code |= static_cast<int>(bit);
        int count = h.counts[static_cast<std::size_t>(len)];
        if (code - count < first) {
            auto at = static_cast<std::size_t>(index + (code - first));
            return at < h.symbols.size() ? h.symbols[at] : invalid_code;
        }
        index += count;
        first = (first + count) * 2;
        code *= 2;
    }
    return invalid_code;
}

// Decodes the symbols of one Huffman-coded block through its end-of-block symbol.
int codes(inflate_ctx& s, const hufftable& literal, const hufftable& distance) {
    for (;;) {
        int sym = decode(s, literal);
        if (sym < 0) return sym;
        if (sym < 256) {
            if (s.dst_len == s.dst_cap) return output_full;
            s.dst[s.dst_len++] = static_cast<std::uint8_t>(sym);
            continue;
        }
        if (sym == 256) return 0;

        auto length_sym = static_cast<std::size_t>(sym - 257);
        if (length_sym >= lens.size()) return invalid_code; // symbols 286 and 287
        std::uint32_t extra = 0;
        if (!bits(s, lext[length_sym], extra)) return input_exhausted;
        std::uint32_t length = static_cast<std::uint32_t>(lens[length_sym]) + extra;

        int dsym = decode(s, distance);
        if (dsym < 0) return dsym;
        auto distance_sym = static_cast<std::size_t>(dsym);
        if (distance_sym >= dists.size()) return invalid_code;
        if (!bits(s, dext[distance_sym], extra)) return input_exhausted;
        std::uint32_t dist = static_cast<std::uint32_t>(dists[distance_sym]) + extra;

        if (dist > s.dst_len) return distance_too_far;
        if (std::uint64_t{s.dst_len} + length > s.dst_cap) return output_full;
        // Byte by byte: an overlapping match repeats its pattern.
        std::uint8_t* to = s.dst + s.dst_len;
        const std::uint8_t* from = to - dist;
        for (std::uint32_t i = 0; i < length; ++i) to[i] = from[i];
        s.dst_len += length;
    }
}

enum class block_result { done, malformed, failed };

// Maps the result of `codes` onto the three outcomes of a block.
block_result codes_outcome(int result) {
    if (result == 0) return block_result::done;
    if (result == output_full || result == input_exhausted) return block_result::failed;
    return block_result::malformed;
}

block_result stored_block(inflate_ctx& s) {
    // The block starts at the next whole byte; the held bits are the rest of the current one.
    s.bit_acc = 0;
    s.bit_count = 0;
    if (s.src_len - s.src_pos < 4) return block_result::failed;
    const std::uint8_t* p = s.src + s.src_pos;
    std::uint32_t len = p[0] | (std::uint32_t{p[1]} << 8);
    std::uint32_t nlen = p[2] | (std::uint32_t{p[3]} << 8);
    if (len != (~nlen & 0xFFFFu)) return block_result::malformed;
    s.src_pos += 4;
    if (s.src_len - s.src_pos < len) return block_result::failed;
    if (std::uint64_t{s.dst_len} + len > s.dst_cap) return block_result::failed;
    if (len > 0) std::memcpy(s.dst + s.dst_len, s.src + s.src_pos, len);
    s.src_pos += len;
    s.dst_len += len;
    return block_result::done;
}

// A code from a dynamic header is usable when it is complete, or when it is incomplete only
// as a single one-bit code (all lengths 0 or 1).
bool usable_code(int construct_result,
                 const std::span<const std::int16_t, max_code_bits + 1> counts, std::size_t n) {
    if (construct_result < 0) return false;
    if (construct_result == 0) return true;
    return static_cast<std::size_t>(counts[0]) + static_cast<std::size_t>(counts[1]) == n;
}

block_result dynamic_block(inflate_ctx& s) {
    std::uint32_t hlit = 0, hdist = 0, hclen = 0;
    if (!bits(s, 5, hlit) || !bits(s, 5, hdist) || !bits(s, 4, hclen)) return block_result::failed;
    std::size_t n_literal = hlit + 257;
    std::size_t n_distance = hdist + 1;
    std::size_t n_code_length = hclen + 4;
    if (n_literal > max_literal_codes || n_distance > max_distance_codes)
        return block_result::malformed;

    std::array<std::int16_t, max_literal_codes + max_distance_codes> lengths{};
    huff_storage<max_literal_codes> literal; // holds the code-length code first
    huff_storage<max_distance_codes> distance;

    for (std::size_t i = 0; i < n_code_length; ++i) {
        std::uint32_t len = 0;
        if (!bits(s, 3, len)) return block_result::failed;
        lengths[order[i]] = static_cast<std::int16_t>(len);
    }
    if (construct(literal.counts, literal.symbols,
                  std::span<const std::int16_t>(lengths).first(code_length_codes)) != 0)
        return block_result::malformed;
    const hufftable code_length_table = table_of(literal);

    std::size_t total = n_literal + n_distance;
    std::size_t index = 0;
    while (index < total) {
        int sym = decode(s, code_length_table);
        if (sym == input_exhausted) return block_result::failed;
        if (sym < 0) return block_result::malformed;
        if (sym < 16) {
            lengths[index++] = static_cast<std::int16_t>(sym);
            continue;
        }
        std::int16_t repeated = 0;
        std::uint32_t extra = 0;
        std::size_t times = 0;
        if (sym == 16) {
            if (index == 0) return block_result::malformed;
            repeated = lengths[index - 1];
            if (!bits(s, 2, extra)) return block_result::failed;
            times = 3 + extra;
        } else if (sym == 17) {
            if (!bits(s, 3, extra)) return block_result::failed;
            times = 3 + extra;
        } else {
            if (!bits(s, 7, extra)) return block_result::failed;
            times = 11 + extra;
        }
        if (times > total - index) return block_result::malformed;
        for (std::size_t i = 0; i < times; ++i) lengths[index++] = repeated;
    }
    if (lengths[256] == 0) return block_result::malformed;

    const auto all = std::span<const std::int16_t>(lengths);
    int result = construct(literal.counts, literal.symbols, all.first(n_literal));
    if (!usable_code(result, literal.counts, n_literal)) return block_result::malformed;
    // All-zero distance lengths construct as 0 and are accepted: literals only.
    result = construct(distance.counts, distance.symbols, all.subspan(n_literal, n_distance));
    if (!usable_code(result, distance.counts, n_distance)) return block_result::malformed;

    return codes_outcome(codes(s, table_of(literal), table_of(distance)));
}

} // namespace

int reference_inflate(const std::uint8_t* in, std::uint64_t in_len, std::uint8_t* out,
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
    s.src_len = in_len - 2;

    for (;;) {
        std::uint32_t header = 0;
        if (!bits(s, 3, header)) return -1;
        bool final_block = (header & 1u) != 0;
        block_result r = block_result::malformed; // BTYPE 3
        switch (header >> 1) {
        case 0:
            r = stored_block(s);
            break;
        case 1:
            r = codes_outcome(codes(s, table_of(fixed.literal), table_of(fixed.distance)));
            break;
        case 2:
            r = dynamic_block(s);
            break;
        default:
            break;
        }
        if (r == block_result::failed) return -1;
        // Malformed data ends decoding with the bytes written before the fault.
        if (r == block_result::malformed || final_block) {
            *out_len = s.dst_len;
            return 0;
        }
    }
}

} // namespace qft
