// Cost of the imposition options: the planner alone and planner plus writer (the booklet built
// in memory) on synthetic documents of 10,000 and 100,000 pages, with the default layout and
// with every option at once. Not part of the test suite.
#include <benchmark/benchmark.h>

#include <map>

#include "bench_docs.h"
#include "doc.h"
#include "impose.h"
#include "load.h"
#include "outbuf.h"
#include "writer.h"

namespace {

const qf::doc& document(int pages) {
    static std::map<int, qf::doc> loaded;
    auto it = loaded.find(pages);
    if (it == loaded.end()) {
        it = loaded.emplace(pages, qf::doc{}).first;
        qf::doc_load_bytes(qfb::synthetic(pages), "bench.pdf", it->second);
    }
    return it->second;
}

qf::layout_options layout(bool all_options) {
    qf::layout_options opt;
    if (!all_options) return opt;
    opt.signature = 4;
    opt.binding = qf::binding_edge::right;
    opt.flip = qf::duplex_flip::long_edge;
    opt.cover = true;
    std::string why;
    qf::parse_page_ranges("z-1", opt.pages, why);
    opt.margin = 20;
    opt.gutter = 14;
    opt.creep = 3;
    opt.scale = qf::scale_mode::shrink;
    opt.fold_marks = true;
    opt.annotations = true;
    return opt;
}

void BM_Plan(benchmark::State& state) {
    const qf::doc& d = document(static_cast<int>(state.range(0)));
    const qf::layout_options opt = layout(state.range(1) != 0);
    for (auto _ : state) {
        qf::impose_plan plan;
        if (qf::plan_imposition(d, opt, plan) != qf::plan_status::ok) {
            state.SkipWithError("plan failed");
            break;
        }
        benchmark::DoNotOptimize(plan.sheets.data());
    }
}
BENCHMARK(BM_Plan)
    ->ArgNames({"pages", "options"})
    ->ArgsProduct({{10000, 100000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

void BM_PlanAndWrite(benchmark::State& state) {
    const qf::doc& d = document(static_cast<int>(state.range(0)));
    const qf::layout_options opt = layout(state.range(1) != 0);
    for (auto _ : state) {
        qf::impose_plan plan;
        qf::buf out;
        if (qf::plan_imposition(d, opt, plan) != qf::plan_status::ok ||
            !qf::build_booklet(d, plan, "bench.pdf", out)) {
            state.SkipWithError("booklet failed");
            break;
        }
        benchmark::DoNotOptimize(out.data);
    }
}
BENCHMARK(BM_PlanAndWrite)
    ->ArgNames({"pages", "options"})
    ->ArgsProduct({{10000, 100000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
