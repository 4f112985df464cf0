#include "deflate.h"

#include "deflate_tables.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <numeric>

namespace qf {

namespace {

constexpr std::uint32_t window_size = 32768;
constexpr std::uint32_t window_mask = window_size - 1;
constexpr std::uint32_t min_match = 3;
constexpr std::uint32_t max_match = 258;
constexpr int hash_bits = 15;
constexpr std::uint32_t hash_size = 1u << hash_bits;
// How hard the match finder tries: comparable to the usual default of zlib-style encoders.
constexpr int max_chain = 128;
constexpr std::uint32_t good_length = 8;   // a match this long quarters the search that follows
constexpr std::uint32_t nice_length = 128; // a match this long ends the search
constexpr std::uint32_t max_lazy = 16;     // no lazy look-ahead after a match this long
// Symbols per block: large enough for the code tables to pay off, small enough to follow
// changes in the data.
constexpr std::size_t block_symbols = 16384;

constexpr int literal_codes = 286;
constexpr int distance_codes = 30;
constexpr int max_bits = 15;

using namespace deflate_format;

// Length (3..258) to its symbol's index (0..28), and distance to its symbol, by table.
struct symbol_maps {
    std::array<std::uint8_t, 259> length_symbol{};
    std::array<std::uint8_t, 512> distance_symbol{}; // distances 1..256 direct, then >> 7
};

constexpr symbol_maps build_symbol_maps() {
    symbol_maps m{};
    for (std::size_t s = 0; s < length_base.size(); ++s) {
        const std::uint32_t last =
            s + 1 < length_base.size() ? length_base[s + 1] - 1u : length_base[s];
        for (std::uint32_t len = length_base[s]; len <= last && len <= 258; ++len)
            m.length_symbol[len] = static_cast<std::uint8_t>(s);
    }
    m.length_symbol[258] = 28;
    for (std::size_t s = 0; s < distance_base.size(); ++s) {
        const std::uint32_t first = distance_base[s];
        const std::uint32_t last = first + (1u << distance_extra[s]) - 1u;
        for (std::uint32_t dist = first; dist <= last; ++dist) {
            if (dist <= 256)
                m.distance_symbol[dist - 1] = static_cast<std::uint8_t>(s);
            else
                m.distance_symbol[256 + ((dist - 1) >> 7)] = static_cast<std::uint8_t>(s);
        }
    }
    return m;
}
constexpr symbol_maps maps = build_symbol_maps();

inline std::uint32_t distance_symbol(std::uint32_t dist) {
    return dist <= 256 ? maps.distance_symbol[dist - 1]
                       : maps.distance_symbol[256 + ((dist - 1) >> 7)];
}

// ---- bit output -----------------------------------------------------------------------------

struct bit_writer {
    std::vector<std::uint8_t>& out;
    std::uint64_t acc = 0;
    int count = 0;

    void put(std::uint32_t bits, int n) {
        acc |= static_cast<std::uint64_t>(bits) << count;
        count += n;
        if (count >= 32) {
            for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(acc >> (8 * i)));
            acc >>= 32;
            count -= 32;
        }
    }
    void align() {
        while (count > 0) {
            out.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            count = count > 8 ? count - 8 : 0;
        }
        acc = 0;
    }
};

// ---- Huffman codes --------------------------------------------------------------------------

// Code lengths for `freqs`, none longer than `limit`: a Huffman tree built by merging the two
// rarest, with the counts flattened and the tree built again while it is too deep.
void code_lengths(const std::uint32_t* freqs, int n, int limit, std::uint8_t* lengths) {
    std::fill(lengths, lengths + n, 0);
    std::vector<std::uint32_t> weight(freqs, freqs + n);
    for (;;) {
        std::vector<int> used;
        for (int i = 0; i < n; ++i)
            if (weight[static_cast<std::size_t>(i)] > 0) used.push_back(i);
        if (used.empty()) return;
        if (used.size() == 1) {
            lengths[used[0]] = 1;
            return;
        }
        std::sort(used.begin(), used.end(), [&weight](int a, int b) {
            return weight[static_cast<std::size_t>(a)] != weight[static_cast<std::size_t>(b)]
                       ? weight[static_cast<std::size_t>(a)] < weight[static_cast<std::size_t>(b)]
                       : a < b;
        });
        // Two queues: the sorted leaves and the merged nodes, which come out in order.
        const std::size_t leaves = used.size();
        std::vector<std::uint64_t> node_weight(2 * leaves);
        std::vector<std::size_t> parent(2 * leaves, 0);
        for (std::size_t i = 0; i < leaves; ++i)
            node_weight[i] = weight[static_cast<std::size_t>(used[i])];
        std::size_t next_leaf = 0, next_node = leaves, made = leaves;
        auto take = [&]() {
            if (next_leaf < leaves &&
                (next_node >= made || node_weight[next_leaf] <= node_weight[next_node]))
                return next_leaf++;
            return next_node++;
        };
        for (std::size_t k = 0; k + 1 < leaves; ++k) {
            const std::size_t a = take(), b = take();
            node_weight[made] = node_weight[a] + node_weight[b];
            parent[a] = parent[b] = made;
            ++made;
        }
        // Depths from the root (the last node made) down.
        std::vector<int> depth(made, 0);
        int deepest = 0;
        for (std::size_t i = made - 1; i-- > 0;) {
            depth[i] = depth[parent[i]] + 1;
            if (i < leaves) deepest = std::max(deepest, depth[i]);
        }
        if (deepest <= limit) {
            for (std::size_t i = 0; i < leaves; ++i)
                lengths[used[i]] = static_cast<std::uint8_t>(depth[i]);
            return;
        }
        for (int i : used) {
            auto& w = weight[static_cast<std::size_t>(i)];
            w = (w >> 1) | 1u;
        }
    }
}

// Canonical codes for the lengths, bit-reversed for writing lowest bit first.
void canonical_codes(const std::uint8_t* lengths, int n, std::uint16_t* codes) {
    std::array<std::uint16_t, max_bits + 2> count{}, next{};
    for (int i = 0; i < n; ++i) ++count[lengths[i]];
    count[0] = 0;
    std::uint16_t code = 0;
    for (int len = 1; len <= max_bits; ++len) {
        code = static_cast<std::uint16_t>((code + count[static_cast<std::size_t>(len - 1)]) << 1);
        next[static_cast<std::size_t>(len)] = code;
    }
    for (int i = 0; i < n; ++i) {
        const int len = lengths[i];
        if (len == 0) {
            codes[i] = 0;
            continue;
        }
        std::uint32_t c = next[static_cast<std::size_t>(len)]++;
        std::uint32_t r = 0;
        for (int b = 0; b < len; ++b) {
            r = (r << 1) | (c & 1u);
            c >>= 1;
        }
        codes[i] = static_cast<std::uint16_t>(r);
    }
}

// ---- symbols of one block -------------------------------------------------------------------

// A literal (dist 0) or a match.
struct symbol {
    std::uint16_t dist;
    std::uint16_t litlen; // the byte, or the match length
};

struct block {
    std::vector<symbol> symbols;
    std::array<std::uint32_t, literal_codes> literal_freq{};
    std::array<std::uint32_t, distance_codes> distance_freq{};
    std::size_t first = 0; // input position of the block's first byte
    std::size_t end = 0;   // one past its last byte

    void literal(std::uint8_t b) {
        symbols.push_back({0, b});
        ++literal_freq[b];
    }
    void match(std::uint32_t length, std::uint32_t dist) {
        symbols.push_back({static_cast<std::uint16_t>(dist), static_cast<std::uint16_t>(length)});
        ++literal_freq[257 + maps.length_symbol[length]];
        ++distance_freq[distance_symbol(dist)];
    }
};

struct coded {
    std::array<std::uint8_t, literal_codes + 2> literal_len{};
    std::array<std::uint16_t, literal_codes + 2> literal_code{};
    std::array<std::uint8_t, distance_codes + 2> distance_len{};
    std::array<std::uint16_t, distance_codes + 2> distance_code{};
};

std::uint64_t symbols_cost(const block& b, const coded& c) {
    std::uint64_t bits = 0;
    for (int i = 0; i < literal_codes; ++i) {
        std::uint64_t per = c.literal_len[static_cast<std::size_t>(i)];
        if (i >= 257) per += length_extra[static_cast<std::size_t>(i - 257)];
        bits += per * b.literal_freq[static_cast<std::size_t>(i)];
    }
    for (int i = 0; i < distance_codes; ++i)
        bits += static_cast<std::uint64_t>(c.distance_len[static_cast<std::size_t>(i)] +
                                           distance_extra[static_cast<std::size_t>(i)]) *
                b.distance_freq[static_cast<std::size_t>(i)];
    return bits;
}

void write_symbols(bit_writer& w, const block& b, const coded& c) {
    for (const symbol& s : b.symbols) {
        if (s.dist == 0) {
            w.put(c.literal_code[s.litlen], c.literal_len[s.litlen]);
            continue;
        }
        const std::uint32_t ls = maps.length_symbol[s.litlen];
        w.put(c.literal_code[257 + ls], c.literal_len[257 + ls]);
        if (length_extra[ls]) w.put(s.litlen - length_base[ls], length_extra[ls]);
        const std::uint32_t ds = distance_symbol(s.dist);
        w.put(c.distance_code[ds], c.distance_len[ds]);
        if (distance_extra[ds]) w.put(s.dist - distance_base[ds], distance_extra[ds]);
    }
    w.put(c.literal_code[256], c.literal_len[256]);
}

coded fixed_codes() {
    coded c;
    for (int i = 0; i < literal_codes + 2; ++i)
        c.literal_len[static_cast<std::size_t>(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    for (auto& l : c.distance_len) l = 5;
    canonical_codes(c.literal_len.data(), literal_codes + 2, c.literal_code.data());
    canonical_codes(c.distance_len.data(), distance_codes + 2, c.distance_code.data());
    return c;
}

// The code lengths of a dynamic header, run-length coded with symbols 16, 17 and 18.
struct header_runs {
    std::vector<std::uint8_t> symbols, extra;
    std::array<std::uint32_t, 19> freq{};
};

header_runs run_length_code(const std::uint8_t* lengths, std::size_t n) {
    header_runs h;
    auto add = [&h](std::uint8_t sym, std::uint8_t extra) {
        h.symbols.push_back(sym);
        h.extra.push_back(extra);
        ++h.freq[sym];
    };
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t len = lengths[i];
        std::size_t run = 1;
        while (i + run < n && lengths[i + run] == len) ++run;
        i += run;
        if (len == 0) {
            while (run >= 11) {
                const std::size_t take = std::min<std::size_t>(run, 138);
                add(18, static_cast<std::uint8_t>(take - 11));
                run -= take;
            }
            if (run >= 3) {
                add(17, static_cast<std::uint8_t>(run - 3));
                run = 0;
            }
        } else {
            add(len, 0);
            --run;
            while (run >= 3) {
                const std::size_t take = std::min<std::size_t>(run, 6);
                add(16, static_cast<std::uint8_t>(take - 3));
                run -= take;
            }
        }
        while (run-- > 0) add(len, 0);
    }
    return h;
}

struct dynamic_header {
    coded codes;
    int hlit = 0, hdist = 0, hclen = 0;
    header_runs runs;
    std::array<std::uint8_t, 19> cl_len{};
    std::array<std::uint16_t, 19> cl_code{};
    std::uint64_t bits = 0; // the header's own size
};

dynamic_header dynamic_codes(const block& b) {
    dynamic_header d;
    code_lengths(b.literal_freq.data(), literal_codes, max_bits, d.codes.literal_len.data());
    code_lengths(b.distance_freq.data(), distance_codes, max_bits, d.codes.distance_len.data());
    // A block without matches still declares one distance code.
    if (std::all_of(d.codes.distance_len.begin(), d.codes.distance_len.begin() + distance_codes,
                    [](std::uint8_t l) { return l == 0; }))
        d.codes.distance_len[0] = 1;
    canonical_codes(d.codes.literal_len.data(), literal_codes, d.codes.literal_code.data());
    canonical_codes(d.codes.distance_len.data(), distance_codes, d.codes.distance_code.data());

    d.hlit = literal_codes;
    while (d.hlit > 257 && d.codes.literal_len[static_cast<std::size_t>(d.hlit - 1)] == 0) --d.hlit;
    d.hdist = distance_codes;
    while (d.hdist > 1 && d.codes.distance_len[static_cast<std::size_t>(d.hdist - 1)] == 0)
        --d.hdist;
    std::array<std::uint8_t, literal_codes + distance_codes> all{};
    std::copy_n(d.codes.literal_len.begin(), d.hlit, all.begin());
    std::copy_n(d.codes.distance_len.begin(), d.hdist, all.begin() + d.hlit);
    d.runs = run_length_code(all.data(), static_cast<std::size_t>(d.hlit + d.hdist));
    code_lengths(d.runs.freq.data(), 19, 7, d.cl_len.data());
    canonical_codes(d.cl_len.data(), 19, d.cl_code.data());
    d.hclen = 19;
    while (d.hclen > 4 && d.cl_len[code_length_order[static_cast<std::size_t>(d.hclen - 1)]] == 0)
        --d.hclen;

    d.bits = 5 + 5 + 4 + 3 * static_cast<std::uint64_t>(d.hclen);
    for (std::size_t i = 0; i < d.runs.symbols.size(); ++i) {
        const std::uint8_t sym = d.runs.symbols[i];
        d.bits += d.cl_len[sym] + (sym == 16 ? 2 : sym == 17 ? 3 : sym == 18 ? 7 : 0);
    }
    return d;
}

void write_block(bit_writer& w, block& b, bytes input, bool final_block) {
    static const coded fixed = fixed_codes();
    b.literal_freq[256] = 1; // the end-of-block code
    const dynamic_header dyn = dynamic_codes(b);
    const std::uint64_t dynamic_bits = 3 + dyn.bits + symbols_cost(b, dyn.codes);
    const std::uint64_t fixed_bits = 3 + symbols_cost(b, fixed);
    const std::size_t raw = b.end - b.first;
    // A stored block: alignment, four bytes of length, the bytes; one per 65535 bytes.
    const std::uint64_t stored_bits = (raw / 65535 + 1) * (3 + 7 + 32) + 8 * raw;

    if (stored_bits < dynamic_bits && stored_bits < fixed_bits) {
        std::size_t at = b.first;
        do {
            const std::size_t n = std::min<std::size_t>(65535, b.end - at);
            const bool last = final_block && at + n == b.end;
            w.put(last ? 1u : 0u, 3);
            w.align();
            w.put(static_cast<std::uint32_t>(n), 16);
            w.put(static_cast<std::uint32_t>(~n & 0xFFFFu), 16);
            w.align();
            w.out.insert(w.out.end(), input.begin() + static_cast<long>(at),
                         input.begin() + static_cast<long>(at + n));
            at += n;
        } while (at < b.end);
        return;
    }
    if (fixed_bits <= dynamic_bits) {
        w.put(final_block ? 3u : 2u, 3);
        write_symbols(w, b, fixed);
        return;
    }
    w.put(final_block ? 5u : 4u, 3);
    w.put(static_cast<std::uint32_t>(dyn.hlit - 257), 5);
    w.put(static_cast<std::uint32_t>(dyn.hdist - 1), 5);
    w.put(static_cast<std::uint32_t>(dyn.hclen - 4), 4);
    for (int i = 0; i < dyn.hclen; ++i)
        w.put(dyn.cl_len[code_length_order[static_cast<std::size_t>(i)]], 3);
    for (std::size_t i = 0; i < dyn.runs.symbols.size(); ++i) {
        const std::uint8_t sym = dyn.runs.symbols[i];
        w.put(dyn.cl_code[sym], dyn.cl_len[sym]);
        if (sym == 16) w.put(dyn.runs.extra[i], 2);
        if (sym == 17) w.put(dyn.runs.extra[i], 3);
        if (sym == 18) w.put(dyn.runs.extra[i], 7);
    }
    write_symbols(w, b, dyn.codes);
}

// ---- match finding --------------------------------------------------------------------------

struct matcher {
    bytes in;
    std::unique_ptr<std::int32_t[]> head{new std::int32_t[hash_size]};
    std::unique_ptr<std::int32_t[]> prev{new std::int32_t[window_size]};

    explicit matcher(bytes input) : in(input) { std::fill_n(head.get(), hash_size, -1); }

    std::uint32_t hash_at(std::size_t p) const {
        std::uint32_t v = static_cast<std::uint32_t>(in[p]) |
                          (static_cast<std::uint32_t>(in[p + 1]) << 8) |
                          (static_cast<std::uint32_t>(in[p + 2]) << 16);
        if (p + 3 < in.size()) v |= static_cast<std::uint32_t>(in[p + 3]) << 24;
        return (v * 2654435761u) >> (32 - hash_bits);
    }
    // Links position p (with at least three bytes from it) into its hash chain.
    void insert(std::size_t p) {
        const std::uint32_t h = hash_at(p);
        prev[p & window_mask] = head[h];
        head[h] = static_cast<std::int32_t>(p);
    }
    // The longest earlier match at p, longer than `better_than`; its length (0 for none).
    std::uint32_t longest(std::size_t p, std::uint32_t better_than, std::uint32_t& dist) const {
        const std::size_t avail = in.size() - p;
        const std::uint32_t limit =
            static_cast<std::uint32_t>(std::min<std::size_t>(avail, max_match));
        if (limit < min_match || better_than >= limit) return 0;
        std::uint32_t best = better_than;
        int chain = better_than >= good_length ? max_chain / 4 : max_chain;
        const std::uint8_t* here = in.data() + p;
        std::int32_t cand = prev[p & window_mask];
        while (cand >= 0 && chain-- > 0) {
            const std::size_t c = static_cast<std::size_t>(cand);
            if (p - c > window_size - 1) break;
            const std::uint8_t* there = in.data() + c;
            // The byte that would make the match longer than the best so far is checked first.
            if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
                std::uint32_t len = 2;
                // Eight bytes at a time while they fit; the first differing byte ends it.
                while (len + 8 <= limit) {
                    std::uint64_t a = 0, b = 0;
                    std::memcpy(&a, there + len, 8);
                    std::memcpy(&b, here + len, 8);
                    if (a != b) {
                        len += static_cast<std::uint32_t>(std::countr_zero(a ^ b)) / 8;
                        break;
                    }
                    len += 8;
                }
                if (len + 8 > limit)
                    while (len < limit && there[len] == here[len]) ++len;
                if (len > best) {
                    best = len;
                    dist = static_cast<std::uint32_t>(p - c);
                    if (len >= nice_length || len >= limit) break;
                }
            }
            const std::int32_t next = prev[c & window_mask];
            if (next >= cand) break; // the window has wrapped past it
            cand = next;
        }
        return best > better_than ? best : 0;
    }
};

std::uint32_t adler32(bytes data) {
    std::uint32_t a = 1, b = 0;
    std::size_t i = 0;
    while (i < data.size()) {
        // 5552 bytes keep the sums below 2^32 before the reduction.
        const std::size_t n = std::min<std::size_t>(5552, data.size() - i);
        for (std::size_t k = 0; k < n; ++k) {
            a += data[i + k];
            b += a;
        }
        a %= 65521u;
        b %= 65521u;
        i += n;
    }
    return (b << 16) | a;
}

} // namespace

void deflate_compress(bytes in, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + in.size() / 3 + 64);
    out.push_back(0x78); // deflate, 32 KiB window
    out.push_back(0x9C); // default compression level; the check bits make 0x789C divisible by 31
    bit_writer w{out};

    matcher m(in);
    block b;
    b.symbols.reserve(block_symbols + 2);
    const std::size_t n = in.size();
    std::size_t p = 0;
    // Lazy matching: a match found at p is held back while the next position may give a
    // longer one.
    std::uint32_t held_len = 0, held_dist = 0;
    auto flush = [&](bool final_block) {
        b.end = p;
        write_block(w, b, in, final_block);
        b.symbols.clear();
        b.literal_freq = {};
        b.distance_freq = {};
        b.first = p;
    };
    while (p < n) {
        std::uint32_t len = 0, dist = 0;
        if (p + min_match <= n) {
            m.insert(p);
            if (held_len < max_lazy) len = m.longest(p, std::max(held_len, min_match - 1), dist);
        }
        if (held_len > 0) {
            if (len > held_len) {
                // The match one byte later is longer: the held position becomes a literal.
                b.literal(in[p - 1]);
                held_len = len;
                held_dist = dist;
                ++p;
            } else {
                // Take the held match that began at p - 1; its other positions join the chains.
                const std::size_t start = p - 1;
                b.match(held_len, held_dist);
                const std::size_t end = start + held_len;
                for (std::size_t q = p + 1; q < end; ++q)
                    if (q + min_match <= n) m.insert(q);
                p = end;
                held_len = 0;
            }
        } else if (len > 0) {
            held_len = len;
            held_dist = dist;
            ++p;
        } else {
            b.literal(in[p]);
            ++p;
        }
        if (b.symbols.size() >= block_symbols && held_len == 0) flush(false);
    }
    // A held match always ends inside the input, so none is left here.
    flush(true);
    w.align();
    const std::uint32_t check = adler32(in);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(check >> shift));
}

} // namespace qf
