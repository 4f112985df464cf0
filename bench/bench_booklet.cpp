// Time of a whole booklet: loading a document and building the booklet file (written to
// /dev/null). Not part of the test suite.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "doc.h"
#include "load.h"
#include "writer.h"

namespace {

std::vector<std::uint8_t> read_fixture(const std::string& name) {
    std::ifstream f(std::string(QF_BENCH_FIXTURES) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A document of n pages that share one font, each with its own image-like stream, so that the
// carried objects grow with the page count.
std::vector<std::uint8_t> synthetic(int n) {
    std::string out = "%PDF-1.4\n";
    std::vector<long> offs;
    auto add = [&](const std::string& body) {
        offs.push_back(static_cast<long>(out.size()));
        out += std::to_string(offs.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    add("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < n; ++i) kids += std::to_string(4 + 3 * i) + " 0 R ";
    add("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
    add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int i = 0; i < n; ++i) {
        const std::string content = "BT /F1 48 Tf 100 400 Td (" + std::to_string(i + 1) +
                                    ") Tj ET q 50 0 0 50 100 100 cm /Im1 Do Q";
        add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
            std::to_string(5 + 3 * i) +
            " 0 R /Resources << /Font << /F1 3 0 R >> /XObject << /Im1 " +
            std::to_string(6 + 3 * i) + " 0 R >> >> >>");
        add("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
            "\nendstream");
        add("<< /Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceGray "
            "/BitsPerComponent 8 /Length 4 >>\nstream\n\x10\x80\x80\x10\nendstream");
    }
    out += "trailer\n<< /Root 1 0 R >>\n%%EOF\n";
    return {out.begin(), out.end()};
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
    run_booklet(state, synthetic(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_Synthetic)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
