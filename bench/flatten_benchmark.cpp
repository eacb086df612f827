// flattenIlluminationInPlace, as the program runs it, on generated
// photo-like images of 1, 6 and 24 megapixels (3:2, as from a camera).
// Reports megapixels per second as the counter "MP" (shown as MP/s) and
// pixels per second as items processed.
//
//   flatten_benchmark [Google Benchmark options]
#include "illumination.h"
#include "photo.h"

#include <benchmark/benchmark.h>

namespace {

void flattenPhoto(benchmark::State& state)
{
    const cv::Mat photo = drawPhoto(cv::Size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    cv::Mat image;
    for (auto _ : state) {
        state.PauseTiming();
        photo.copyTo(image);
        state.ResumeTiming();
        flattenIlluminationInPlace(image);
        benchmark::DoNotOptimize(image.data);
        benchmark::ClobberMemory();
    }
    const double pixels = static_cast<double>(photo.total());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(photo.total()));
    state.counters["MP"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(flattenPhoto)
    ->ArgNames({"width", "height"})
    ->Args({1224, 816})
    ->Args({3000, 2000})
    ->Args({6000, 4000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
