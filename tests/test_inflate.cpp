// The inflater against zlib's compressor, hand-built DEFLATE streams for each failure class,
// and the PNG predictor reversal.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "inflate.h"
#include "inflate_reference.h"

namespace {

using byte_vec = std::vector<std::uint8_t>;

struct decoded {
    int result = 0;
    std::uint64_t len = 0;
    byte_vec out; // the first `len` bytes written
};

// Decodes into a buffer of exactly `cap` bytes (an empty vector for 0), so that ASan sees any
// write past the capacity. out_len starts as garbage to show that it is always set.
decoded inflate_into(const byte_vec& in, std::uint64_t cap) {
    byte_vec buf(cap);
    decoded d;
    d.len = 0xDEADBEEF;
    d.result = qf::inflate_decompress(in.data(), in.size(), buf.data(), cap, &d.len);
    if (d.len <= buf.size()) d.out.assign(buf.begin(), buf.begin() + static_cast<long>(d.len));
    return d;
}

byte_vec to_bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

// ---- zlib as the reference compressor ----

byte_vec zlib_compress(const byte_vec& data, int level, int strategy, int window_bits = 15,
                       int mem_level = 8) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, window_bits, mem_level, strategy), Z_OK);
    byte_vec out(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Compresses in chunks with a flush between them: sync and full flushes end in an empty stored
// block, a partial flush in an empty fixed-code block.
byte_vec zlib_compress_flushed(const byte_vec& data, std::size_t chunk, int flush) {
    z_stream z{};
    EXPECT_EQ(deflateInit(&z, 6), Z_OK);
    byte_vec out(deflateBound(&z, data.size()) + 64 * (data.size() / chunk + 2));
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    std::size_t pos = 0;
    do {
        std::size_t n = std::min(chunk, data.size() - pos);
        z.next_in = const_cast<Bytef*>(data.data() + pos);
        z.avail_in = static_cast<uInt>(n);
        pos += n;
        EXPECT_EQ(deflate(&z, pos == data.size() ? Z_FINISH : flush),
                  pos == data.size() ? Z_STREAM_END : Z_OK);
    } while (pos < data.size());
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// ---- test data ----

byte_vec text_like(std::size_t n, unsigned seed) {
    static const char* const words[] = {
        "the ",    "booklet ", "page ", "sheet ", "fold ",   "stream ", "object ", "BT ",
        "/F1 12 ", "Tf ",      "ET\n",  "q ",     "Q\n",     "0 0 1 ",  "rg ",     "re f\n",
        "(Hello ", "world) ",  "Tj\n",  "cm ",    "1.0000 ", "of ",     "and ",    "quire "};
    std::mt19937 rng(seed);
    byte_vec out;
    out.reserve(n);
    while (out.size() < n) {
        const char* w = words[rng() % std::size(words)];
        for (const char* p = w; *p && out.size() < n; ++p) out.push_back(*p);
    }
    return out;
}

byte_vec random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    byte_vec out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

// Long runs and short periods: many matches of length 258 and distance 1.
byte_vec repetitive(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    byte_vec out;
    out.reserve(n);
    while (out.size() < n) {
        std::size_t run = 1 + rng() % 2000;
        std::size_t period = 1 + rng() % 5;
        byte_vec pattern(period);
        for (auto& b : pattern) b = static_cast<std::uint8_t>(rng() % 4);
        for (std::size_t i = 0; i < run && out.size() < n; ++i) out.push_back(pattern[i % period]);
    }
    return out;
}

void expect_round_trip(const byte_vec& data, const byte_vec& z, const std::string& what) {
    decoded exact = inflate_into(z, data.size());
    ASSERT_EQ(exact.result, 0) << what;
    ASSERT_EQ(exact.len, data.size()) << what;
    ASSERT_TRUE(exact.out == data) << what;
    decoded roomy = inflate_into(z, data.size() + 1000);
    ASSERT_EQ(roomy.result, 0) << what;
    ASSERT_TRUE(roomy.out == data) << what;
}

// ---- hand-built DEFLATE streams ----

// Writes bits in stream order: values least significant bit first, Huffman codes most
// significant bit first (RFC 1951 section 3.1.1).
struct bit_writer {
    std::vector<std::uint8_t> bits;

    bit_writer& put(std::uint32_t value, int n) {
        for (int i = 0; i < n; ++i) bits.push_back((value >> i) & 1u);
        return *this;
    }
    bit_writer& put_code(std::uint32_t code, int len) {
        for (int i = len - 1; i >= 0; --i) bits.push_back((code >> i) & 1u);
        return *this;
    }
    bit_writer& align() {
        while (bits.size() % 8) bits.push_back(0);
        return *this;
    }
    bit_writer& put_bytes(const byte_vec& b) {
        align();
        for (std::uint8_t v : b) put(v, 8);
        return *this;
    }
    // A zlib stream: header 78 01, the bits padded to a byte, no Adler-32.
    byte_vec stream() const {
        byte_vec out = {0x78, 0x01};
        for (std::size_t i = 0; i < bits.size(); i += 8) {
            std::uint8_t v = 0;
            for (std::size_t j = 0; j < 8 && i + j < bits.size(); ++j)
                v = static_cast<std::uint8_t>(v | (bits[i + j] << j));
            out.push_back(v);
        }
        return out;
    }
};

// Canonical codes from code lengths (RFC 1951 section 3.2.2).
std::vector<std::uint32_t> canonical_codes(const std::vector<int>& lengths) {
    std::array<std::uint32_t, 16> count{}, next{};
    for (int l : lengths) count[static_cast<std::size_t>(l)]++;
    count[0] = 0;
    std::uint32_t code = 0;
    for (std::size_t bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<std::uint32_t> codes(lengths.size());
    for (std::size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i]) codes[i] = next[static_cast<std::size_t>(lengths[i])]++;
    return codes;
}

constexpr int length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int dist_base[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                               33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                               1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Emits the symbols of a Huffman-coded block with given literal/length and distance lengths.
struct huffman_writer {
    bit_writer& w;
    std::vector<int> lit_len, dist_len;
    std::vector<std::uint32_t> lit_code, dist_code;

    huffman_writer(bit_writer& writer, std::vector<int> lit, std::vector<int> dist)
        : w(writer), lit_len(std::move(lit)), dist_len(std::move(dist)),
          lit_code(canonical_codes(lit_len)), dist_code(canonical_codes(dist_len)) {}

    huffman_writer& symbol(int sym) {
        w.put_code(lit_code.at(static_cast<std::size_t>(sym)),
                   lit_len.at(static_cast<std::size_t>(sym)));
        return *this;
    }
    huffman_writer& distance_symbol(int sym) {
        w.put_code(dist_code.at(static_cast<std::size_t>(sym)),
                   dist_len.at(static_cast<std::size_t>(sym)));
        return *this;
    }
    huffman_writer& literals(std::string_view s) {
        for (unsigned char c : s) symbol(c);
        return *this;
    }
    huffman_writer& match(int length, int distance) {
        int ls = 28;
        while (length_base[ls] > length) --ls;
        symbol(257 + ls);
        w.put(static_cast<std::uint32_t>(length - length_base[ls]), length_extra[ls]);
        int ds = 29;
        while (dist_base[ds] > distance) --ds;
        distance_symbol(ds);
        w.put(static_cast<std::uint32_t>(distance - dist_base[ds]), dist_extra[ds]);
        return *this;
    }
    huffman_writer& end() { return symbol(256); }
};

// The fixed codes, with all 32 five-bit distance codes so that 30 and 31 can be written.
huffman_writer fixed_block(bit_writer& w, bool final_block) {
    w.put(final_block ? 1 : 0, 1).put(1, 2);
    std::vector<int> lit(288);
    for (int i = 0; i < 288; ++i)
        lit[static_cast<std::size_t>(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return huffman_writer(w, lit, std::vector<int>(32, 5));
}

void stored_block(bit_writer& w, bool final_block, std::string_view data) {
    w.put(final_block ? 1 : 0, 1).put(0, 2).align();
    auto n = static_cast<std::uint32_t>(data.size());
    w.put(n, 16).put(~n & 0xFFFFu, 16).put_bytes(to_bytes(data));
}

// The order of the code-length code's lengths in a dynamic header.
constexpr int cl_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct cl_symbol {
    int sym;
    std::uint32_t extra = 0; // repeat count minus its base, for 16, 17 and 18
};

// A complete code-length code: symbols 0..12 four bits, 13..18 five bits.
std::vector<int> default_cl_lengths() {
    std::vector<int> l(19, 4);
    for (int s = 13; s < 19; ++s) l[static_cast<std::size_t>(s)] = 5;
    return l;
}

// Writes a dynamic block header field by field, so that malformed ones can be written too.
// n_lit and n_dist are the counts (HLIT + 257, HDIST + 1), n_cl how many code-length code
// lengths are stored.
void dynamic_header(bit_writer& w, bool final_block, int n_lit, int n_dist, int n_cl,
                    const std::vector<int>& cl_lengths, const std::vector<cl_symbol>& seq) {
    w.put(final_block ? 1 : 0, 1).put(2, 2);
    w.put(static_cast<std::uint32_t>(n_lit - 257), 5)
        .put(static_cast<std::uint32_t>(n_dist - 1), 5)
        .put(static_cast<std::uint32_t>(n_cl - 4), 4);
    for (int i = 0; i < n_cl; ++i)
        w.put(static_cast<std::uint32_t>(cl_lengths[static_cast<std::size_t>(cl_order[i])]), 3);
    auto codes = canonical_codes(cl_lengths);
    for (const cl_symbol& c : seq) {
        auto s = static_cast<std::size_t>(c.sym);
        w.put_code(codes.at(s), cl_lengths.at(s));
        if (c.sym == 16) w.put(c.extra, 2);
        if (c.sym == 17) w.put(c.extra, 3);
        if (c.sym == 18) w.put(c.extra, 7);
    }
}

std::vector<cl_symbol> plain_lengths(const std::vector<int>& lit, const std::vector<int>& dist) {
    std::vector<cl_symbol> seq;
    for (int l : lit) seq.push_back({l});
    for (int l : dist) seq.push_back({l});
    return seq;
}

// A well-formed dynamic header for the given lengths, every length written as itself.
huffman_writer dynamic_block(bit_writer& w, bool final_block, std::vector<int> lit,
                             std::vector<int> dist) {
    dynamic_header(w, final_block, static_cast<int>(lit.size()), static_cast<int>(dist.size()), 19,
                   default_cl_lengths(), plain_lengths(lit, dist));
    return huffman_writer(w, std::move(lit), std::move(dist));
}

// Literal/length lengths with the given nonzero entries, for at least 257 symbols (HLIT 0).
std::vector<int> lit_lengths(std::initializer_list<std::pair<int, int>> nonzero) {
    std::size_t n = 257;
    for (auto [sym, len] : nonzero) n = std::max(n, static_cast<std::size_t>(sym) + 1);
    std::vector<int> l(n);
    for (auto [sym, len] : nonzero) l[static_cast<std::size_t>(sym)] = len;
    return l;
}

} // namespace

// ---- agreement with zlib ----

TEST(InflateZlib, EveryLevelAndStrategyRoundTrips) {
    struct strategy_case {
        int strategy;
        const char* name;
    };
    const strategy_case strategies[] = {{Z_DEFAULT_STRATEGY, "default"},
                                        {Z_FILTERED, "filtered"},
                                        {Z_HUFFMAN_ONLY, "huffman-only"},
                                        {Z_RLE, "rle"},
                                        {Z_FIXED, "fixed"}};
    struct data_case {
        const char* name;
        byte_vec data;
    };
    // 70000 bytes: more than one stored block of at most 65535 bytes at level 0.
    const data_case inputs[] = {
        {"empty", {}},
        {"one byte", {0x41}},
        {"three bytes", to_bytes("abc")},
        {"text 3000", text_like(3000, 1)},
        {"text 70000", text_like(70000, 2)},
        {"random 70000", random_bytes(70000, 3)},
        {"repetitive 70000", repetitive(70000, 4)},
        {"all zero 70000", byte_vec(70000, 0)},
    };
    for (const auto& s : strategies)
        for (int level = 0; level <= 9; ++level)
            for (const auto& in : inputs) {
                std::string what =
                    std::string(s.name) + " level " + std::to_string(level) + " " + in.name;
                expect_round_trip(in.data, zlib_compress(in.data, level, s.strategy), what);
            }
}

TEST(InflateZlib, SeveralMebibytes) {
    struct big_case {
        const char* name;
        byte_vec data;
        int level;
        int strategy;
    };
    const big_case cases[] = {
        {"text default", text_like(3 << 20, 5), 6, Z_DEFAULT_STRATEGY},
        {"random fast filtered", random_bytes(2 << 20, 6), 1, Z_FILTERED},
        {"random stored", random_bytes(2 << 20, 7), 0, Z_DEFAULT_STRATEGY},
        {"repetitive rle", repetitive(4 << 20, 8), 6, Z_RLE},
        {"text fixed", text_like(1 << 20, 9), 9, Z_FIXED},
    };
    for (const auto& c : cases)
        expect_round_trip(c.data, zlib_compress(c.data, c.level, c.strategy), c.name);
}

// The window size nibble and the memory level change the header byte and the block splitting.
TEST(InflateZlib, WindowSizesAndMemoryLevels) {
    const byte_vec data = text_like(200000, 10);
    for (int window_bits : {9, 10, 12, 15})
        for (int mem_level : {1, 5, 9})
            expect_round_trip(
                data, zlib_compress(data, 6, Z_DEFAULT_STRATEGY, window_bits, mem_level),
                "window " + std::to_string(window_bits) + " mem " + std::to_string(mem_level));
}

// Flushes leave empty stored blocks (LEN 0) and empty fixed-code blocks between the data.
TEST(InflateZlib, FlushedStreamsWithEmptyBlocks) {
    const byte_vec data = text_like(50000, 11);
    for (int flush : {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_PARTIAL_FLUSH, Z_BLOCK})
        for (std::size_t chunk : {1u, 777u, 20000u})
            expect_round_trip(data, zlib_compress_flushed(data, chunk, flush),
                              "flush " + std::to_string(flush) + " chunk " + std::to_string(chunk));
}

// Every cut before the end of the final block fails; the Adler-32 trailer is not needed.
TEST(InflateZlib, EveryTruncationFailsAndTheTrailerIsOptional) {
    const byte_vec data = text_like(2500, 12);
    const byte_vec mixed = repetitive(2500, 13);
    struct cut_case {
        const char* name;
        const byte_vec& data;
        int level;
        int strategy;
    };
    const cut_case cases[] = {{"stored", data, 0, Z_DEFAULT_STRATEGY},
                              {"fixed", data, 6, Z_FIXED},
                              {"dynamic", data, 9, Z_DEFAULT_STRATEGY},
                              {"rle", mixed, 6, Z_RLE},
                              {"huffman-only", mixed, 6, Z_HUFFMAN_ONLY}};
    for (const auto& c : cases) {
        const byte_vec z = zlib_compress(c.data, c.level, c.strategy);
        ASSERT_GT(z.size(), 6u);
        const std::size_t deflate_end = z.size() - 4; // before the Adler-32 trailer
        for (std::size_t n = 0; n < z.size(); ++n) {
            byte_vec cut(z.begin(), z.begin() + static_cast<long>(n));
            decoded d = inflate_into(cut, c.data.size());
            if (n < deflate_end) {
                ASSERT_EQ(d.result, -1) << c.name << " cut at " << n;
                ASSERT_EQ(d.len, 0u) << c.name << " cut at " << n;
            } else {
                ASSERT_EQ(d.result, 0) << c.name << " cut at " << n;
                ASSERT_TRUE(d.out == c.data) << c.name << " cut at " << n;
            }
        }
    }
}

TEST(InflateZlib, TrailingGarbageAndWrongTrailerAreIgnored) {
    const byte_vec data = text_like(10000, 14);
    byte_vec z = zlib_compress(data, 6, Z_DEFAULT_STRATEGY);
    byte_vec wrong_trailer = z;
    for (std::size_t i = wrong_trailer.size() - 4; i < wrong_trailer.size(); ++i)
        wrong_trailer[i] ^= 0x5A;
    byte_vec garbage = z;
    byte_vec noise = random_bytes(300, 15);
    garbage.insert(garbage.end(), noise.begin(), noise.end());
    for (const byte_vec* in : {&wrong_trailer, &garbage}) {
        decoded d = inflate_into(*in, data.size());
        EXPECT_EQ(d.result, 0);
        EXPECT_TRUE(d.out == data);
    }
}

// ---- header checks ----

TEST(InflateHeader, Rejections) {
    bit_writer w;
    stored_block(w, true, "hi");
    const byte_vec stream = w.stream();
    auto with_header = [&](std::uint8_t b0, std::uint8_t b1) {
        byte_vec v = stream;
        v[0] = b0;
        v[1] = b1;
        return v;
    };
    struct header_case {
        const char* name;
        byte_vec in;
        int result;
    };
    const header_case cases[] = {
        {"no bytes", {}, -1},
        {"one byte", {0x78}, -1},
        {"only the two header bytes", {0x78, 0x9C}, -1},
        {"method 9", with_header(0x79, 0x01), -1},
        {"method 7", with_header(0x77, 0x01), -1},
        {"method 15", with_header(0x7F, 0x01), -1},
        {"preset dictionary", with_header(0x78, 0x20), -1},
        {"preset dictionary among other flags", with_header(0x78, 0xBB), -1},
        {"wrong check bits accepted", with_header(0x78, 0x00), 0},
        {"window nibble not examined", with_header(0xF8, 0x00), 0},
        {"smallest window", with_header(0x08, 0x1D), 0},
        {"level flags not examined", with_header(0x78, 0xDA), 0},
    };
    for (const auto& c : cases) {
        decoded d = inflate_into(c.in, 16);
        EXPECT_EQ(d.result, c.result) << c.name;
        EXPECT_EQ(d.len, c.result == 0 ? 2u : 0u) << c.name;
        EXPECT_TRUE(d.out == (c.result == 0 ? to_bytes("hi") : byte_vec{})) << c.name;
    }
}

// The capacity limit is tested before decoding. The claimed capacities exceed the real buffer,
// which is safe only because this stream decodes to two bytes.
TEST(InflateHeader, CapacityLimitIsTwoToTheThirtieth) {
    bit_writer w;
    stored_block(w, true, "hi");
    const byte_vec in = w.stream();
    std::uint8_t real[16] = {};
    std::uint64_t len = 99;
    EXPECT_EQ(qf::inflate_decompress(in.data(), in.size(), real, (1ull << 30) + 1, &len), -1);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(qf::inflate_decompress(in.data(), in.size(), real, UINT64_MAX, &len), -1);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(qf::inflate_decompress(in.data(), in.size(), real, 1ull << 30, &len), 0);
    EXPECT_EQ(len, 2u);
    EXPECT_EQ(std::memcmp(real, "hi", 2), 0);
}

TEST(InflateHeader, NullPointersAreRefused) {
    bit_writer w;
    stored_block(w, true, "");
    const byte_vec empty_stream = w.stream();
    std::uint8_t out[4];
    std::uint64_t len = 7;
    EXPECT_EQ(qf::inflate_decompress(nullptr, 10, out, 4, &len), -1);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(qf::inflate_decompress(empty_stream.data(), empty_stream.size(), out, 4, nullptr),
              -1);
    len = 7;
    EXPECT_EQ(qf::inflate_decompress(empty_stream.data(), empty_stream.size(), nullptr, 4, &len),
              -1);
    EXPECT_EQ(len, 0u);
    // No buffer is needed for a stream without output.
    len = 7;
    EXPECT_EQ(qf::inflate_decompress(empty_stream.data(), empty_stream.size(), nullptr, 0, &len),
              0);
    EXPECT_EQ(len, 0u);
}

// ---- well-formed hand-built streams ----

TEST(InflateBlocks, HandBuiltStreamsDecode) {
    struct block_case {
        const char* name;
        byte_vec in;
        std::string expected;
    };
    std::vector<block_case> cases;
    auto add = [&](const char* name, const bit_writer& w, std::string expected) {
        cases.push_back({name, w.stream(), std::move(expected)});
    };
    {
        bit_writer w;
        stored_block(w, false, "");
        stored_block(w, false, "hi");
        stored_block(w, true, "");
        add("stored blocks with LEN 0 around data", w, "hi");
    }
    {
        bit_writer w;
        stored_block(w, true, "");
        add("a lone empty stored block", w, "");
    }
    {
        bit_writer w;
        fixed_block(w, true).literals("z").match(258, 1).end();
        add("distance 1 length 258", w, std::string(259, 'z'));
    }
    {
        bit_writer w;
        fixed_block(w, true).literals("abc").match(3, 3).match(10, 6).end();
        add("distance equal to the bytes written, overlapping match", w,
            std::string("abcabc") + "abcabcabca");
    }
    {
        bit_writer w;
        fixed_block(w, false).literals("ab").end();
        fixed_block(w, false).end();
        fixed_block(w, false).literals("cd").end();
        // A stored block after a Huffman-coded one starts at the next byte boundary.
        stored_block(w, true, "ef");
        add("fixed, empty fixed, fixed, stored", w, "abcdef");
    }
    {
        // Literals only: a, b and end of block; HDIST 1 with its one length 0.
        bit_writer w;
        dynamic_block(w, true, lit_lengths({{'a', 1}, {'b', 2}, {256, 2}}), {0})
            .literals("abba")
            .end();
        add("dynamic, the one distance length 0", w, "abba");
    }
    {
        bit_writer w;
        dynamic_block(w, true, lit_lengths({{'a', 1}, {'b', 2}, {256, 2}}), std::vector<int>(30, 0))
            .literals("baab")
            .end();
        add("dynamic, thirty distance lengths 0", w, "baab");
    }
    {
        // The distance code is one code of one bit, for distance 1.
        bit_writer w;
        dynamic_block(w, true, lit_lengths({{'a', 1}, {256, 2}, {257, 2}}), {1})
            .literals("a")
            .match(3, 1)
            .literals("a")
            .end();
        add("dynamic, a single one-bit distance code", w, "aaaaa");
    }
    {
        // The literal/length code is one one-bit code: the block can only end.
        bit_writer w;
        dynamic_block(w, false, lit_lengths({{256, 1}}), {0}).end();
        stored_block(w, true, "ok");
        add("dynamic, a single one-bit literal/length code", w, "ok");
    }
    {
        // Lengths written with all three repeat codes: 97 zeros, 3 for 'a', repeated for
        // 'b' 'c' 'd', 155 zeros, then 1 for end of block.
        bit_writer w;
        dynamic_header(w, true, 257, 1, 19, default_cl_lengths(),
                       {{18, 86}, {3}, {16, 0}, {18, 127}, {17, 7}, {17, 4}, {1}, {0}});
        huffman_writer(w, lit_lengths({{'a', 3}, {'b', 3}, {'c', 3}, {'d', 3}, {256, 1}}), {0})
            .literals("dcba")
            .end();
        add("dynamic, lengths with repeat codes", w, "dcba");
    }
    {
        // Every length symbol and the largest distances, in a block of 33000 bytes.
        bit_writer w;
        auto h = fixed_block(w, true);
        std::string expected;
        for (int i = 0; i < 32800; ++i) expected.push_back(static_cast<char>('A' + i % 23));
        h.literals(expected);
        for (int length = 3; length <= 258; ++length) {
            int distance = 32768 - length * 7;
            h.match(length, distance);
            for (int i = 0; i < length; ++i)
                expected.push_back(expected[expected.size() - static_cast<std::size_t>(distance)]);
        }
        h.match(258, 32768);
        for (int i = 0; i < 258; ++i) expected.push_back(expected[expected.size() - 32768]);
        h.end();
        add("fixed, every length and large distances", w, expected);
    }
    for (const auto& c : cases) {
        decoded d = inflate_into(c.in, c.expected.size());
        EXPECT_EQ(d.result, 0) << c.name;
        EXPECT_EQ(std::string(d.out.begin(), d.out.end()), c.expected) << c.name;
    }
}

// ---- malformed data: result 0 with the bytes before the fault ----

TEST(InflateBlocks, MalformedDataKeepsTheBytesBeforeTheFault) {
    struct malformed_case {
        const char* name;
        byte_vec in;
        std::string before;
    };
    std::vector<malformed_case> cases;
    auto add = [&](const char* name, bit_writer& w, std::string before) {
        w.put(0, 32); // enough bits for every code to be read out to 15 bits
        cases.push_back({name, w.stream(), std::move(before)});
    };
    const std::vector<int> cl = default_cl_lengths();
    {
        bit_writer w;
        stored_block(w, false, "ab");
        fixed_block(w, false).literals("cd").end();
        w.put(0, 1).put(3, 2);
        add("third block with BTYPE 3", w, "abcd");
    }
    {
        bit_writer w;
        w.put(1, 1).put(3, 2);
        add("final block with BTYPE 3", w, "");
    }
    {
        bit_writer w;
        stored_block(w, false, "ok");
        w.put(1, 1).put(0, 2).align().put(2, 16).put(0xFFFF, 16).put_bytes(to_bytes("xy"));
        add("NLEN not the complement of LEN", w, "ok");
    }
    {
        bit_writer w;
        stored_block(w, false, "ok");
        w.put(1, 1).put(0, 2).align().put(0x0002, 16).put(0x00FD, 16).put_bytes(to_bytes("xy"));
        add("NLEN complementing only the low byte", w, "ok");
    }
    {
        bit_writer w;
        fixed_block(w, true).literals("abc").match(3, 4).end();
        add("distance one past the bytes written", w, "abc");
    }
    {
        bit_writer w;
        fixed_block(w, true).match(3, 1).end();
        add("match before any byte", w, "");
    }
    {
        bit_writer w;
        fixed_block(w, true).literals("x").symbol(257).distance_symbol(30);
        add("fixed distance symbol 30", w, "x");
    }
    {
        bit_writer w;
        fixed_block(w, true).literals("xy").symbol(260).distance_symbol(31);
        add("fixed distance symbol 31", w, "xy");
    }
    {
        bit_writer w;
        fixed_block(w, false).literals("x").symbol(286);
        stored_block(w, true, "zz");
        add("fixed length symbol 286", w, "x");
    }
    {
        bit_writer w;
        fixed_block(w, false).literals("x").symbol(287);
        stored_block(w, true, "zz");
        add("fixed length symbol 287", w, "x");
    }
    // Each faulty dynamic block below would, without its check, decode "zz" or more before
    // the final stored block: the result must be the stored block before it alone.
    auto dynamic_fault = [&](const char* name, auto write_block) {
        bit_writer w;
        stored_block(w, false, "ok");
        write_block(w);
        stored_block(w, true, "zz");
        add(name, w, "ok");
    };
    const std::vector<int> ab_end = lit_lengths({{'z', 1}, {256, 1}});
    dynamic_fault("HLIT 287", [&](bit_writer& w) {
        std::vector<int> lit = ab_end;
        lit.resize(287);
        dynamic_block(w, false, lit, {0}).literals("zz").end();
    });
    dynamic_fault("HDIST 31", [&](bit_writer& w) {
        dynamic_block(w, false, ab_end, std::vector<int>(31, 0)).literals("zz").end();
    });
    dynamic_fault("HDIST 32", [&](bit_writer& w) {
        dynamic_block(w, false, ab_end, std::vector<int>(32, 0)).literals("zz").end();
    });
    dynamic_fault("code-length code incomplete", [&](bit_writer& w) {
        // Symbols 0 and 1 only, with codes 0 and 10: enough to write every length here.
        std::vector<int> incomplete(19, 0);
        incomplete[0] = 1;
        incomplete[1] = 2;
        dynamic_header(w, false, 257, 1, 19, incomplete, plain_lengths(ab_end, {0}));
        huffman_writer(w, ab_end, {0}).literals("zz").end();
    });
    dynamic_fault("code-length code a single one-bit code", [&](bit_writer& w) {
        std::vector<int> single(19, 0);
        single[0] = 1;
        dynamic_header(w, false, 257, 1, 19, single, {});
    });
    dynamic_fault("code-length code over-subscribed", [&](bit_writer& w) {
        std::vector<int> over(19, 0);
        over[0] = over[1] = over[2] = 1;
        dynamic_header(w, false, 257, 1, 19, over, plain_lengths(ab_end, {0}));
    });
    dynamic_fault("code-length code without codes", [&](bit_writer& w) {
        // Constructs as complete, but no input matches it.
        dynamic_header(w, false, 257, 1, 4, std::vector<int>(19, 0), {});
    });
    dynamic_fault("repeat code 16 first", [&](bit_writer& w) {
        // Read as three zeros, the rest would be a valid header.
        std::vector<cl_symbol> seq = {{16, 0}};
        for (std::size_t i = 3; i < ab_end.size(); ++i) seq.push_back({ab_end[i]});
        seq.push_back({0});
        dynamic_header(w, false, 257, 1, 19, cl, seq);
        huffman_writer(w, ab_end, {0}).literals("zz").end();
    });
    dynamic_fault("zero run past the last length", [&](bit_writer& w) {
        // 257 + 1 lengths: 138 + 118 zeros, 1 for end of block, then 3 zeros for 1 place.
        dynamic_header(w, false, 257, 1, 19, cl, {{18, 127}, {18, 107}, {1}, {17, 0}});
        huffman_writer(w, lit_lengths({{256, 1}}), {0}).end();
    });
    dynamic_fault("repeat past the last length", [&](bit_writer& w) {
        dynamic_header(w, false, 257, 1, 19, cl, {{18, 127}, {18, 107}, {1}, {16, 0}});
        huffman_writer(w, lit_lengths({{256, 1}}), {1}).end();
    });
    dynamic_fault("no code for end of block", [&](bit_writer& w) {
        dynamic_block(w, false, lit_lengths({{'z', 1}, {'y', 1}}), {0}).literals("zz");
    });
    dynamic_fault("literal/length code over-subscribed", [&](bit_writer& w) {
        dynamic_block(w, false, lit_lengths({{'z', 1}, {'b', 1}, {256, 1}}), {0});
    });
    dynamic_fault("literal/length code incomplete", [&](bit_writer& w) {
        dynamic_block(w, false, lit_lengths({{'z', 2}, {256, 1}}), {0}).literals("zz").end();
    });
    dynamic_fault("literal/length code a single two-bit code", [&](bit_writer& w) {
        dynamic_block(w, false, lit_lengths({{256, 2}}), {0}).end();
        stored_block(w, false, "zz");
    });
    const std::vector<int> z_end_match = lit_lengths({{'z', 1}, {256, 2}, {257, 2}});
    dynamic_fault("distance code over-subscribed", [&](bit_writer& w) {
        dynamic_block(w, false, z_end_match, {1, 1, 1});
    });
    dynamic_fault("distance code a single two-bit code", [&](bit_writer& w) {
        dynamic_block(w, false, z_end_match, {2}).literals("z").match(3, 1).end();
    });
    dynamic_fault("distance code incomplete", [&](bit_writer& w) {
        dynamic_block(w, false, z_end_match, {1, 2}).literals("z").match(3, 1).end();
    });
    {
        // With only one one-bit code, a 1 bit matches no code of any length.
        bit_writer w;
        stored_block(w, false, "ok");
        dynamic_block(w, true, lit_lengths({{256, 1}}), {0});
        w.put(1, 1);
        add("literal/length bits matching no code", w, "ok");
    }
    {
        bit_writer w;
        dynamic_block(w, true, lit_lengths({{'a', 1}, {256, 2}, {257, 2}}), {1})
            .literals("aa")
            .symbol(257);
        w.put(1, 1);
        add("distance bits matching no code", w, "aa");
    }
    {
        // A literal-only block has no distance code, so a length symbol cannot be finished.
        bit_writer w;
        dynamic_block(w, true, lit_lengths({{'a', 1}, {256, 2}, {257, 2}}), {0})
            .literals("a")
            .symbol(257);
        add("match in a block without distance codes", w, "a");
    }
    for (const auto& c : cases) {
        decoded d = inflate_into(c.in, 64);
        EXPECT_EQ(d.result, 0) << c.name;
        EXPECT_EQ(std::string(d.out.begin(), d.out.end()), c.before) << c.name;
    }
}

// ---- exhausted input: -1 with the output length 0 ----

TEST(InflateBlocks, ExhaustedInputFails) {
    struct truncated_case {
        const char* name;
        byte_vec in;
    };
    std::vector<truncated_case> cases;
    auto add = [&](const char* name, const bit_writer& w) { cases.push_back({name, w.stream()}); };
    {
        bit_writer w;
        stored_block(w, false, "ok");
        add("no block after a non-final one", w);
    }
    {
        bit_writer w;
        w.put(1, 1).put(0, 2).align().put(2, 16).put(0xFFFD, 8);
        add("stored header cut", w);
    }
    {
        bit_writer w;
        w.put(1, 1).put(0, 2).align().put(3, 16).put(0xFFFC, 16).put_bytes(to_bytes("ab"));
        add("stored data cut", w);
    }
    {
        bit_writer w;
        fixed_block(w, true).literals("abc");
        add("fixed block without end of block", w);
    }
    {
        // The counts are read before they are tested: HLIT 287 ends the input first.
        bit_writer w;
        stored_block(w, false, "ok");
        w.put(1, 1).put(2, 2).put(30, 5).put(0, 1);
        add("dynamic header cut after an invalid HLIT", w);
    }
    {
        // A code that matches nothing, cut before its fifteenth bit.
        bit_writer w;
        fixed_block(w, true).literals("x").symbol(257).distance_symbol(30);
        add("invalid distance code cut short", w);
    }
    {
        bit_writer w;
        dynamic_header(w, true, 257, 1, 19, default_cl_lengths(), {{18, 127}});
        add("dynamic lengths cut", w);
    }
    for (const auto& c : cases) {
        decoded d = inflate_into(c.in, 64);
        EXPECT_EQ(d.result, -1) << c.name;
        EXPECT_EQ(d.len, 0u) << c.name;
    }
}

// ---- output capacity ----

TEST(InflateBlocks, ExactCapacitySucceedsOneByteLessFails) {
    struct capacity_case {
        const char* name;
        byte_vec in;
        std::size_t size;
    };
    std::vector<capacity_case> cases;
    {
        bit_writer w;
        stored_block(w, true, "stored");
        cases.push_back({"stored block", w.stream(), 6});
    }
    {
        bit_writer w;
        fixed_block(w, true).literals("literal").end();
        cases.push_back({"last byte a literal", w.stream(), 7});
    }
    {
        bit_writer w;
        fixed_block(w, true).literals("m").match(258, 1).end();
        cases.push_back({"last bytes a match", w.stream(), 259});
    }
    const byte_vec text = text_like(5000, 16);
    cases.push_back({"zlib dynamic", zlib_compress(text, 9, Z_DEFAULT_STRATEGY), text.size()});
    cases.push_back({"zlib stored", zlib_compress(text, 0, Z_DEFAULT_STRATEGY), text.size()});
    const byte_vec runs = repetitive(5000, 17);
    cases.push_back({"zlib rle", zlib_compress(runs, 9, Z_RLE), runs.size()});
    for (const auto& c : cases) {
        decoded exact = inflate_into(c.in, c.size);
        EXPECT_EQ(exact.result, 0) << c.name;
        EXPECT_EQ(exact.len, c.size) << c.name;
        for (std::size_t cap : {c.size - 1, c.size / 2, std::size_t{0}}) {
            decoded small = inflate_into(c.in, cap);
            EXPECT_EQ(small.result, qf::inflate_output_full) << c.name << " capacity " << cap;
            EXPECT_EQ(small.len, 0u) << c.name << " capacity " << cap;
        }
    }
}

// ---- the fixed tables are constants shared by concurrent calls ----

TEST(InflateThreads, TwoThreadsDecodeFixedBlocksAtOnce) {
    const byte_vec a = text_like(40000, 18);
    const byte_vec b = repetitive(40000, 19);
    const byte_vec za = zlib_compress(a, 6, Z_FIXED);
    const byte_vec zb = zlib_compress(b, 6, Z_FIXED);
    auto worker = [](const byte_vec* z, const byte_vec* expected, int* failures) {
        for (int i = 0; i < 30; ++i) {
            decoded d = inflate_into(*z, expected->size());
            if (d.result != 0 || d.out != *expected) ++*failures;
        }
    };
    int failures_a = 0, failures_b = 0;
    std::thread ta(worker, &za, &a, &failures_a);
    std::thread tb(worker, &zb, &b, &failures_b);
    ta.join();
    tb.join();
    EXPECT_EQ(failures_a, 0);
    EXPECT_EQ(failures_b, 0);
}

// ---- PNG predictor reversal ----

namespace {

// The reversal as documented: each tag is removed by moving the whole rest of the buffer one
// place toward the start (the last byte keeps its value), then the row is reversed.
int reference_unfilter(byte_vec& buf, int columns) {
    if (columns <= 0) return -1;
    const std::size_t c = static_cast<std::size_t>(columns);
    const std::size_t rows = buf.size() / (c + 1);
    for (std::size_t i = 0; i < rows; ++i) {
        std::uint8_t tag = buf[i * c];
        if (tag > 4) return -1;
        std::memmove(buf.data() + i * c, buf.data() + i * c + 1, buf.size() - i * c - 1);
        for (std::size_t j = 0; j < c; ++j) {
            int left = j ? buf[i * c + j - 1] : 0;
            int up = i ? buf[(i - 1) * c + j] : 0;
            int ul = i && j ? buf[(i - 1) * c + j - 1] : 0;
            int add = 0;
            if (tag == 1) add = left;
            if (tag == 2) add = up;
            if (tag == 3) add = (left + up) / 2;
            if (tag == 4) {
                int p = left + up - ul, pa = std::abs(p - left), pb = std::abs(p - up),
                    pc = std::abs(p - ul);
                add = pa <= pb && pa <= pc ? left : pb <= pc ? up : ul;
            }
            buf[i * c + j] = static_cast<std::uint8_t>(buf[i * c + j] + add);
        }
    }
    return 0;
}

// PNG's forward filter for one-byte pixels, from the unfiltered image.
byte_vec png_filter(const byte_vec& image, std::size_t columns, const std::vector<int>& tags) {
    byte_vec out;
    const std::size_t rows = image.size() / columns;
    for (std::size_t i = 0; i < rows; ++i) {
        int tag = tags[i % tags.size()];
        out.push_back(static_cast<std::uint8_t>(tag));
        for (std::size_t j = 0; j < columns; ++j) {
            int x = image[i * columns + j];
            int a = j ? image[i * columns + j - 1] : 0;
            int b = i ? image[(i - 1) * columns + j] : 0;
            int c = i && j ? image[(i - 1) * columns + j - 1] : 0;
            int pred = 0;
            if (tag == 1) pred = a;
            if (tag == 2) pred = b;
            if (tag == 3) pred = (a + b) / 2;
            if (tag == 4) {
                int p = a + b - c;
                int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            out.push_back(static_cast<std::uint8_t>(x - pred));
        }
    }
    return out;
}

} // namespace

TEST(PngUnfilter, Cases) {
    struct png_case {
        const char* name;
        byte_vec in;
        int columns;
        int result;
        byte_vec after; // the whole buffer afterwards
    };
    const png_case cases[] = {
        {"two rows tagged None",
         {0, 0x41, 0x42, 0, 0x43, 0x44},
         2,
         0,
         {0x41, 0x42, 0x43, 0x44, 0x44, 0x44}},
        {"first row Sub", {1, 0x41, 0x42}, 2, 0, {0x41, 0x83, 0x42}},
        {"first row Up unchanged", {2, 5, 6}, 2, 0, {5, 6, 6}},
        {"first row Average halves left", {3, 0x40, 0x10, 0x20}, 3, 0, {0x40, 0x30, 0x38, 0x20}},
        {"first row Paeth is Sub", {4, 0x41, 0x42}, 2, 0, {0x41, 0x83, 0x42}},
        {"four rows Up",
         {2, 1, 2, 2, 3, 4, 2, 5, 6, 2, 7, 8},
         2,
         0,
         {1, 2, 4, 6, 9, 12, 16, 20, 8, 8, 8, 8}},
        {"partial last row stays bytes", {0, 1, 2, 1, 3, 4, 9}, 2, 0, {1, 2, 3, 7, 9, 9, 9}},
        {"Sub wraps modulo 256", {1, 0xF0, 0x20, 0x01}, 3, 0, {0xF0, 0x10, 0x11, 0x01}},
        {"Average sums before halving",
         {0, 200, 250, 3, 10, 20},
         2,
         0,
         {200, 250, 110, 200, 20, 20}},
        {"Paeth picks upper-left", {0, 60, 10, 4, 40, 0}, 2, 0, {60, 10, 100, 60, 0, 0}},
        {"Paeth tie between up and upper-left goes to up",
         {0, 20, 10, 4, 5, 0},
         2,
         0,
         {20, 10, 25, 10, 0, 0}},
        {"Paeth tie between left and upper-left goes to left",
         {0, 0, 50, 60, 4, 0, 236, 0},
         3,
         0,
         {0, 50, 60, 0, 30, 30, 0, 0}},
        {"tag 5 in the second row", {0, 1, 2, 5, 3, 4}, 2, -1, {1, 2, 5, 3, 4, 4}},
        {"tag 255 in the first row", {255, 1, 2, 0, 3, 4}, 2, -1, {255, 1, 2, 0, 3, 4}},
        {"tag 9 in the third row of one column",
         {0, 7, 1, 8, 9, 5, 1, 2},
         1,
         -1,
         {7, 8, 9, 5, 1, 2, 2, 2}},
        {"length below one row", {0, 1, 2}, 3, 0, {0, 1, 2}},
        {"length 0", {}, 1, 0, {}},
        {"columns 0", {0, 1, 2}, 0, -1, {0, 1, 2}},
        {"columns negative", {0, 1, 2}, -3, -1, {0, 1, 2}},
        {"one column", {1, 5, 2, 6, 3, 7, 4, 8}, 1, 0, {5, 11, 12, 20, 8, 8, 8, 8}},
    };
    for (const auto& c : cases) {
        byte_vec buf = c.in;
        EXPECT_EQ(qf::inflate_png_unfilter(buf.data(), buf.size(), c.columns), c.result) << c.name;
        EXPECT_EQ(buf, c.after) << c.name;
    }
}

TEST(PngUnfilter, UndoesPngFiltersOfEveryType) {
    std::mt19937 rng(20);
    const std::vector<std::vector<int>> tag_patterns = {{0}, {1}, {2}, {3}, {4}, {4, 3, 2, 1, 0}};
    for (std::size_t columns : {1u, 2u, 7u, 64u})
        for (const auto& tags : tag_patterns) {
            byte_vec image(columns * 23);
            for (std::size_t i = 0; i < image.size(); ++i)
                image[i] = static_cast<std::uint8_t>(rng() % 3 ? (i * 37) % 251 : rng());
            byte_vec buf = png_filter(image, columns, tags);
            ASSERT_EQ(qf::inflate_png_unfilter(buf.data(), buf.size(), static_cast<int>(columns)),
                      0);
            buf.resize(image.size());
            EXPECT_EQ(buf, image) << "columns " << columns << " first tag " << tags[0];
        }
}

// Whole-buffer contents, including what is left after the rows and after a bad tag, match
// removing each tag by moving the rest of the buffer.
TEST(PngUnfilter, BufferContentsMatchTagByTagRemoval) {
    std::mt19937 rng(21);
    for (int round = 0; round < 3000; ++round) {
        int columns = 1 + static_cast<int>(rng() % 9);
        byte_vec buf(rng() % 70);
        for (auto& b : buf) b = static_cast<std::uint8_t>(rng());
        for (std::size_t i = 0; i < buf.size(); i += static_cast<std::size_t>(columns) + 1)
            buf[i] = static_cast<std::uint8_t>(rng() % 40 ? rng() % 5 : 5 + rng() % 251);
        byte_vec expected = buf;
        int expected_result = reference_unfilter(expected, columns);
        int result = qf::inflate_png_unfilter(buf.data(), buf.size(), columns);
        ASSERT_EQ(result, expected_result) << "round " << round;
        ASSERT_EQ(buf, expected) << "round " << round;
    }
}

// ---- the table-driven decoder against the bit-serial one ----

// Both decoders over many streams, whole, cut at many points, with bits flipped and bytes
// changed, into buffers of many sizes: the same result (a full output is -2 for the library,
// -1 for the reference) and the same bytes.
TEST(InflateOracle, TableDrivenMatchesBitSerialOnDamagedStreams) {
    std::vector<byte_vec> streams;
    for (int level : {0, 1, 6, 9})
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) {
            streams.push_back(
                zlib_compress(text_like(3000 + 997 * level, 40u + level), level, strategy));
            streams.push_back(zlib_compress(repetitive(2500, 50u + level), level, strategy));
        }
    streams.push_back(zlib_compress(random_bytes(4000, 60), 6, Z_DEFAULT_STRATEGY));
    streams.push_back(zlib_compress(text_like(200000, 61), 6, Z_DEFAULT_STRATEGY));

    std::mt19937 rng(1234);
    std::size_t compared = 0;
    auto compare = [&compared](const byte_vec& in, std::uint64_t cap) {
        byte_vec a(cap), b(cap);
        std::uint64_t alen = 7, blen = 9;
        int ra = qf::inflate_decompress(in.data(), in.size(), a.data(), cap, &alen);
        const int rb = qft::reference_inflate(in.data(), in.size(), b.data(), cap, &blen);
        if (ra == qf::inflate_output_full) ra = -1;
        ++compared;
        if (ra != rb || alen != blen) return false;
        return std::equal(a.begin(), a.begin() + static_cast<long>(alen), b.begin());
    };
    for (std::size_t k = 0; k < streams.size(); ++k) {
        const byte_vec& z = streams[k];
        SCOPED_TRACE(testing::Message() << "stream " << k);
        std::uint64_t full = 0;
        {
            byte_vec big(1 << 20);
            ASSERT_EQ(qf::inflate_decompress(z.data(), z.size(), big.data(), big.size(), &full), 0);
        }
        for (std::uint64_t cap : {full, full + 300, full - 1, full / 2, std::uint64_t{300}})
            EXPECT_TRUE(compare(z, cap)) << "capacity " << cap;
        // Cut short at every position of small streams, at 200 places of large ones.
        const std::size_t step = std::max<std::size_t>(1, z.size() / 200);
        for (std::size_t cut = 0; cut < z.size(); cut += step) {
            const byte_vec head(z.begin(), z.begin() + static_cast<long>(cut));
            EXPECT_TRUE(compare(head, full + 300)) << "cut at " << cut;
        }
        // Damaged: flipped bits and replaced bytes, decoded into several capacities.
        for (int round = 0; round < 300; ++round) {
            byte_vec damaged = z;
            const int changes = 1 + static_cast<int>(rng() % 4);
            for (int c = 0; c < changes; ++c) {
                const std::size_t at = 2 + rng() % (damaged.size() - 2);
                if (rng() % 2)
                    damaged[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                else
                    damaged[at] = static_cast<std::uint8_t>(rng());
            }
            const std::uint64_t cap = rng() % 3 == 0 ? rng() % (full + 1) : full + 400;
            EXPECT_TRUE(compare(damaged, cap)) << "round " << round;
        }
    }
    // Random bytes behind a valid header: mostly malformed codes and exhausted input.
    for (int round = 0; round < 3000; ++round) {
        byte_vec junk = random_bytes(1 + rng() % 300, static_cast<unsigned>(round));
        junk.insert(junk.begin(), {0x78, 0x9C});
        EXPECT_TRUE(compare(junk, rng() % 2000)) << "junk " << round;
    }
    EXPECT_GT(compared, 10000u);
}
