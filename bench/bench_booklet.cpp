// Time of a whole booklet: loading a document and building the booklet file (written to
// /dev/null). Not part of the test suite.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_docs.h"
#include "doc.h"
#include "load.h"
#include "writer.h"

namespace {

std::vector<std::uint8_t> read_fixture(const std::string& name) {
    std::ifstream f(std::string(QF_BENCH_FIXTURES) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void run_booklet(benchmark::State& state, const std::vector<std::uint8_t>& input) {
    for (auto _ : state) {
        qf::doc d;
        if (qf::doc_load_bytes(input, "bench.pdf", d) != 0 ||
            !qf::booklet_doc(d, "/dev/null", -1)) {
            state.SkipWithError("booklet failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(input.size()));
}

void BM_Fixture(benchmark::State& state, const char* name) {
    run_booklet(state, read_fixture(name));
}
BENCHMARK_CAPTURE(BM_Fixture, pages500, "pages500.pdf")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Fixture, groff_gs, "groff_gs.pdf")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Fixture, groff_gs_objstm, "groff_gs_objstm.pdf")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Fixture, images, "images.pdf")->Unit(benchmark::kMillisecond);

void BM_Synthetic(benchmark::State& state) {
    run_booklet(state, qfb::synthetic(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_Synthetic)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
