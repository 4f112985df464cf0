// Throughput of the inflater on zlib-compressed text, random and repetitive data, and of the
// PNG predictor reversal. Not part of the test suite.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "inflate.h"

namespace {

using byte_vec = std::vector<std::uint8_t>;

byte_vec make_input(int kind, std::size_t n) {
    std::mt19937 rng(42);
    byte_vec out;
    out.reserve(n);
    static const char* const words[] = {"0 0 1 rg ", "BT ", "/F1 12 Tf ",         "(booklet) Tj ",
                                        "ET\n",      "q ",  "1 0 0 1 72 720 cm ", "Q\n"};
    while (out.size() < n) {
        if (kind == 0) {
            for (const char* p = words[rng() % 8]; *p && out.size() < n; ++p) out.push_back(*p);
        } else if (kind == 1) {
            out.push_back(static_cast<std::uint8_t>(rng() % 64));
        } else {
            std::size_t run = 1 + rng() % 1000;
            auto b = static_cast<std::uint8_t>(rng() % 4);
            for (std::size_t i = 0; i < run && out.size() < n; ++i) out.push_back(b);
        }
    }
    return out;
}

byte_vec compress(const byte_vec& data, int level, int strategy) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy);
    byte_vec out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// range(0): 0 text, 1 random six-bit bytes (Huffman-coded, not stored), 2 runs; range(1): zlib
// strategy.
void BM_inflate(benchmark::State& state) {
    const byte_vec data = make_input(static_cast<int>(state.range(0)), 4 << 20);
    const byte_vec z = compress(data, 6, static_cast<int>(state.range(1)));
    byte_vec out(data.size());
    for (auto _ : state) {
        std::uint64_t len = 0;
        int r = qf::inflate_decompress(z.data(), z.size(), out.data(), out.size(), &len);
        if (r != 0 || len != data.size()) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_inflate)
    ->ArgsProduct({{0, 1, 2}, {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}})
    ->Unit(benchmark::kMillisecond);

void BM_png_unfilter(benchmark::State& state) {
    const int columns = static_cast<int>(state.range(0));
    byte_vec filtered = make_input(1, 4 << 20);
    for (std::size_t i = 0; i < filtered.size(); i += static_cast<std::size_t>(columns) + 1)
        filtered[i] = static_cast<std::uint8_t>(i % 5);
    byte_vec buf;
    for (auto _ : state) {
        state.PauseTiming();
        buf = filtered;
        state.ResumeTiming();
        benchmark::DoNotOptimize(qf::inflate_png_unfilter(buf.data(), buf.size(), columns));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * filtered.size()));
}
BENCHMARK(BM_png_unfilter)->Arg(4)->Arg(600)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
