// Each phase and the whole conversion in memory, without disk I/O, in bytes per second
// of input.

#include "engine/assemble.h"
#include "engine/convert.h"
#include "engine/rewrite.h"
#include "engine/source.h"
#include "engine/steps.h"
#include "report_generator.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

using velmora::NoProgress;

const std::string& Report(std::size_t megabytes) {
    static std::string cached;
    static std::size_t cachedSize = 0;
    if (cachedSize != megabytes) {
        cached = velmora::bench::MakeReport(megabytes << 20);
        cachedSize = megabytes;
    }
    return cached;
}

void PrepareSource(benchmark::State& state) {
    const std::string& report = Report(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::string copy = report;
        state.ResumeTiming();
        benchmark::DoNotOptimize(velmora::PrepareSourceText(std::move(copy)));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * report.size()));
}

void Normalise(benchmark::State& state) {
    const std::string& report = Report(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::string copy = report;
        state.ResumeTiming();
        benchmark::DoNotOptimize(velmora::detail::NormaliseSource(std::move(copy)));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * report.size()));
}

void RefusalTest(benchmark::State& state) {
    const std::string& report = Report(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(velmora::detail::IsRefusedReport(report));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * report.size()));
}

void Rewrite(benchmark::State& state) {
    const std::string normalised =
        velmora::PrepareSourceText(Report(static_cast<std::size_t>(state.range(0)))).text;
    NoProgress none;
    for (auto _ : state) {
        auto rewritten = velmora::RewriteDefinitionLists(normalised, none);
        benchmark::DoNotOptimize(rewritten);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * normalised.size()));
}

void Assemble(benchmark::State& state) {
    NoProgress none;
    const std::string normalised =
        velmora::PrepareSourceText(Report(static_cast<std::size_t>(state.range(0)))).text;
    const std::string rewritten = velmora::RewriteDefinitionLists(normalised, none).Value();
    for (auto _ : state) {
        auto output = velmora::AssembleIndentedText(rewritten, none, 0.0f);
        benchmark::DoNotOptimize(output);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rewritten.size()));
}

void WholeConversion(benchmark::State& state) {
    const std::string& report = Report(static_cast<std::size_t>(state.range(0)));
    NoProgress none;
    for (auto _ : state) {
        state.PauseTiming();
        std::string copy = report;
        std::string output;
        state.ResumeTiming();
        auto outcome = velmora::ConvertText(std::move(copy), output, none);
        if (!outcome.Ok() || output.empty()) {
            state.SkipWithError("the report did not convert");
        }
        benchmark::DoNotOptimize(output);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * report.size()));
}

BENCHMARK(PrepareSource)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(Normalise)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(RefusalTest)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(Rewrite)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(Assemble)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeConversion)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
