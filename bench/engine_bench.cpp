// Each phase and the whole conversion in memory, without disk I/O, in bytes per second
// of input.

#include "bytes.h"
#include "phases.h"
#include "report_generator.h"
#include "rewriter.h"
#include "steps.h"
#include "velmora/convert.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

using velmora::NoProgress;

using velmora::bench::Shape;

const std::string& Document(Shape shape, std::size_t megabytes) {
    static std::string cached;
    static std::pair<Shape, std::size_t> cachedFor{Shape::Report, 0};
    if (cachedFor != std::pair{shape, megabytes}) {
        cached = velmora::bench::MakeDocument(shape, megabytes << 20);
        cachedFor = {shape, megabytes};
    }
    return cached;
}

const std::string& Report(std::size_t megabytes) {
    return Document(Shape::Report, megabytes);
}

// Times a phase that takes the text by value and works in place: each run gets a fresh
// copy, made outside the timing.
template <typename Phase> void InPlace(benchmark::State& state, Phase phase) {
    const std::string& report = Report(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::string copy = report;
        state.ResumeTiming();
        benchmark::DoNotOptimize(phase(std::move(copy)));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * report.size()));
}

void PrepareSource(benchmark::State& state) {
    InPlace(state, velmora::PrepareSourceText);
}

// The second argument is the kernel table: 0 words, 1 SSE2, 2 AVX2. The other benchmarks
// take the table VELMORA_KERNELS names, or the widest.
void Normalise(benchmark::State& state) {
    const velmora::detail::Kernels& usual = velmora::detail::ChosenKernels();
    const velmora::detail::Kernels* kernels =
        velmora::detail::KernelsNamed(velmora::detail::kKernelNames[state.range(1)]);
    if (kernels == nullptr) {
        state.SkipWithError("this processor cannot take that path");
        return;
    }
    velmora::detail::UseKernels(*kernels);
    InPlace(state, velmora::detail::NormaliseSource);
    velmora::detail::UseKernels(usual);
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

// The rewriting stage alone, as a conversion runs it, its pieces dropped.
void RewriterStage(benchmark::State& state) {
    struct Dropped final : velmora::detail::PieceSink {
        void Take(std::string_view piece) override { benchmark::DoNotOptimize(piece.data()); }
    };
    const std::string normalised =
        velmora::PrepareSourceText(Report(static_cast<std::size_t>(state.range(0)))).text;
    const std::string_view scoped = velmora::detail::ScopeToFirstList(normalised);
    NoProgress none;
    for (auto _ : state) {
        Dropped dropped;
        velmora::detail::Rewriter rewriter(none, dropped);
        for (std::size_t at = 0; at < scoped.size(); at += std::size_t{256} << 10) {
            rewriter.Feed(scoped.substr(at, std::size_t{256} << 10));
        }
        rewriter.Finish();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * scoped.size()));
}

void Assemble(benchmark::State& state) {
    NoProgress none;
    const std::string normalised =
        velmora::PrepareSourceText(Report(static_cast<std::size_t>(state.range(0)))).text;
    const std::string rewritten = velmora::RewriteDefinitionLists(normalised, none).value();
    for (auto _ : state) {
        auto output = velmora::AssembleIndentedText(rewritten, none, 0.0f);
        benchmark::DoNotOptimize(output);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * rewritten.size()));
}

// The whole conversion in memory; the first argument is the size in megabytes, the
// second the Shape.
void WholeConversion(benchmark::State& state) {
    const std::string& document =
        Document(static_cast<Shape>(state.range(1)), static_cast<std::size_t>(state.range(0)));
    NoProgress none;
    std::string output;
    if (!velmora::ConvertText(document, output, none).has_value()) {
        state.SkipWithError("the document did not convert");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::string copy = document;
        state.ResumeTiming();
        auto outcome = velmora::ConvertText(std::move(copy), output, none);
        benchmark::DoNotOptimize(outcome);
        benchmark::DoNotOptimize(output);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
}

void Shapes(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"MB", "shape"});
    for (const Shape shape : {Shape::Report, Shape::DeepNesting, Shape::FlatList, Shape::PlainText,
                              Shape::StrayBrackets}) {
        benchmark->Args({16, static_cast<int>(shape)});
    }
    benchmark->Args({1, static_cast<int>(Shape::Report)});
}

// Nesting as deep as the document allows, at growing sizes: the time per byte must stay
// the same (a 7 MB document nests 400,000 deep).
void DeepestTermSizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"MB", "shape"});
    for (const int megabytes : {1, 2, 4, 8}) {
        benchmark->Args({megabytes, static_cast<int>(Shape::DeepestTerm)});
    }
}

BENCHMARK(PrepareSource)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(Normalise)
    ->ArgNames({"MB", "path"})
    ->Args({1, 2})
    ->Args({16, 0})
    ->Args({16, 1})
    ->Args({16, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RefusalTest)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(Rewrite)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(RewriterStage)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(Assemble)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeConversion)->Apply(Shapes)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeConversion)->Apply(DeepestTermSizes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
