// Literal and fast kernel, 1 and 50 pairs, 800 x 600 and 2400 x 1800, one
// thread and all threads. The counter ns/pixel-pair is wall time divided by
// width * height * pairs. The literal kernel at 2400 x 1800 with 50 pairs is
// left out: about 6.5 s per run and nothing the 800 x 600 figure does not say.
// BM_Views: the fast kernel on all threads alone, and with its source points
// made into the fold counts and map, the .flo field, or both. BM_Kinds: the
// fast kernel on one thread for every kind of image.
// The engine itself reads TAVROSK_TARGET=NAME (AVX3, AVX2, SSE4, ...:
// Highway's names, as the label shows them), which runs the fast kernel on
// that instruction set instead of the widest one the CPU has, and
// TAVROSK_QUOTIENTS=divider|fma|newton, which forces that method of quotients
// instead of the one measured at start; the label names both.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "io/flo.h"
#include "raster/kinds.h"
#include "raster/simd_target.h"
#include "warp/warp_views.h"
#include "warp/warp.h"

namespace {

// A fixed random table: first segments anywhere in the image, second ones
// moved a little, as a user's drawn pairs would be.
std::vector<Segment> table(int pairs, int w, int h)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> x(0, w), y(0, h), shift(-w / 20.0, w / 20.0);
    std::vector<Segment> segments;
    for (int k = 0; k < pairs; ++k) {
        Segment first = {x(rng), y(rng), x(rng), y(rng)};
        Segment second = {first.x1 + shift(rng), first.y1 + shift(rng), first.x2 + shift(rng),
                          first.y2 + shift(rng)};
        segments.push_back(first);
        segments.push_back(second);
    }
    return segments;
}

ImageBuffer source(int w, int h)
{
    ImageBuffer s;
    if (!image_buffer_make(&s, w, h, 3, SAMPLE_U8))
        std::abort();
    std::mt19937 rng(3);
    for (int y = 0; y < h; ++y) {
        unsigned char* row = image_row(s.view, y);
        for (int i = 0; i < w * 3; ++i)
            row[i] = static_cast<unsigned char>(rng());
    }
    return s;
}

ImageBuffer result(int w, int h)
{
    ImageBuffer r;
    if (!image_buffer_make(&r, w, h, 3, SAMPLE_U8))
        std::abort();
    return r;
}

// Arguments: literal (0) or fast (1), width, height, pairs, threads (0: all).
void BM_Warp(benchmark::State& state)
{
    if (std::strstr(simd_target_note(), "ignored")) {
        state.SkipWithError(simd_target_note());
        return;
    }
    const bool fast = state.range(0) != 0;
    const int w = static_cast<int>(state.range(1)), h = static_cast<int>(state.range(2));
    const int pairs = static_cast<int>(state.range(3)), threads = static_cast<int>(state.range(4));
    const ImageBuffer src = source(w, h), dst = result(w, h);
    std::vector<Segment> segments = table(pairs, w, h);
    const int n = static_cast<int>(segments.size());
    WarpOptions options;
    options.kernel = fast ? WARP_KERNEL_FAST : WARP_KERNEL_LITERAL;
    options.threads = threads;
    for (auto _ : state) {
        warp_run(src.view, dst.view, segments.data(), n, WarpParams(), options);
        benchmark::ClobberMemory();
    }
    state.counters["ns/pixel-pair"] = benchmark::Counter(
        1e-9 * w * h * pairs, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(fast ? std::string(warp_target_name()) + " " + warp_quotient_method() : "literal");
}

void arguments(benchmark::internal::Benchmark* b)
{
    const int all = static_cast<int>(std::thread::hardware_concurrency());
    for (int fast : {0, 1})
        for (int size : {800, 2400})
            for (int pairs : {1, 50})
                for (int threads : {1, all}) {
                    if (!fast && threads != 1)
                        continue;  // the literal kernel runs on one thread only
                    if (!fast && size == 2400 && pairs == 50)
                        continue;
                    b->Args({fast, size, size * 3 / 4, pairs, threads});
                }
    if (all != 2)
        for (int size : {800})
            b->Args({1, size, size * 3 / 4, 50, 2});
}

BENCHMARK(BM_Warp)->Apply(arguments)->ArgNames({"fast", "w", "h", "pairs", "threads"})->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Arguments: channels, sample type (0: 8 bits, 1: 16 bits, 2: float), pairs,
// threads (0: all). The fast kernel at 800 x 600 on random samples, alpha
// included where there is one, so that nearly every pixel takes the
// premultiplied rule, the dearest; 3 channels of 8 bits is BM_Warp's case.
void BM_Kinds(benchmark::State& state)
{
    const int channels = static_cast<int>(state.range(0)), pairs = static_cast<int>(state.range(2));
    const SampleType type = static_cast<SampleType>(state.range(1));
    const int w = 800, h = 600;
    ImageBuffer src, dst;
    if (!image_buffer_make(&src, w, h, channels, type) || !image_buffer_make(&dst, w, h, channels, type))
        std::abort();
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * channels; ++i)
            set_pixel_sample(image_row(src.view, y), type, i, sample_full_value(type) * unit(rng));
    std::vector<Segment> segments = table(pairs, w, h);
    WarpOptions options;
    options.threads = static_cast<int>(state.range(3));
    for (auto _ : state) {
        warp_run(src.view, dst.view, segments.data(), static_cast<int>(segments.size()), WarpParams(), options);
        benchmark::ClobberMemory();
    }
    state.counters["ns/pixel-pair"] = benchmark::Counter(
        1e-9 * w * h * pairs, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(std::string(warp_target_name()) + " " + warp_quotient_method());
}

void kind_arguments(benchmark::internal::Benchmark* b)
{
    for (int pairs : {1, 50})
        for (int type : {0, 1, 2})
            for (int channels = 1; channels <= 4; ++channels)
                b->Args({channels, type, pairs, 1});
}

// Timed by the process's CPU time, which a loaded machine disturbs less
// than the wall clock; the ratios between kinds are the figures that count.
BENCHMARK(BM_Kinds)->Apply(kind_arguments)->ArgNames({"channels", "type", "pairs", "threads"})
    ->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

enum { VIEW_FOLDS = 1, VIEW_FIELD = 2 };

// Arguments: width, height, pairs, views (0: the plain warp, VIEW_FOLDS,
// VIEW_FIELD or both), and how: 0 from w * h points in arrays through
// analyse_folds, fold_map and write_flo, 1 on the warp's threads through
// WarpViews (with the field written by its ordered sink). Point and flag
// arrays and WarpViews' map are allocated once, as the plain warp's result
// is; fold_map makes a new image each time. The field goes to /dev/null.
void BM_Views(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    const int pairs = static_cast<int>(state.range(2)), views = static_cast<int>(state.range(3));
    const bool on_rows = state.range(4) != 0;
    const ImageBuffer src = source(w, h), dst = result(w, h);
    std::vector<Segment> segments = table(pairs, w, h);
    const int n = static_cast<int>(segments.size());
    std::FILE* null = std::fopen("/dev/null", "wb");
    std::FILE* field = views & VIEW_FIELD ? null : nullptr;
    const size_t pixels = views && !on_rows ? static_cast<size_t>(w) * h : 0;
    std::vector<double> px(pixels), py(pixels);
    std::vector<uint8_t> flags(views & VIEW_FOLDS ? pixels : 0);
    const ImageBuffer map = result(w, h);
    const ImageView* rows_map = views & VIEW_FOLDS && on_rows ? &map.view : nullptr;
    long long folds = 0;
    std::string problem;
    for (auto _ : state) {
        WarpOptions options;
        if (views && on_rows) {
            WarpViews rows;
            FieldRows field_rows;
            if (field)
                field_rows_start(&field_rows, field, w, h);
            rows.start(src.view, dst.view, rows_map, field ? &field_rows.sink : nullptr, &options);
            warp_run(src.view, dst.view, segments.data(), n, WarpParams(), options);
            if (!rows.finish(segments.data(), n))
                problem = rows.problem();
            if (field && !field_rows_finish(&field_rows))
                problem = field_rows.problem;
            folds = rows.counts().folds;
        } else {
            if (views) {
                options.points_x = px.data();
                options.points_y = py.data();
            }
            warp_run(src.view, dst.view, segments.data(), n, WarpParams(), options);
            if (views & VIEW_FOLDS) {
                folds = analyse_folds(px.data(), py.data(), w, h, w, h, flags.data()).folds;
                ImageBuffer drawn;
                fold_map(dst.view, flags.data(), segments.data(), n, &drawn);
            }
            if (field)
                write_flo(field, px.data(), py.data(), w, h, &problem);
        }
        benchmark::ClobberMemory();
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            break;
        }
    }
    static const char* const names[] = {"warp", "folds", "field", "folds+field"};
    std::string label = names[views];
    if (views)
        label += on_rows ? " on rows" : " from arrays";
    if (views & VIEW_FOLDS)
        label += " (" + std::to_string(folds) + " folds)";
    state.SetLabel(label);
    std::fclose(null);
}

void view_arguments(benchmark::internal::Benchmark* b)
{
    for (int size : {1600, 800})
        for (int pairs : {50, 1}) {
            b->Args({size, size * 3 / 4, pairs, 0, 0});
            for (int views : {1, 2, 3})
                for (int on_rows : {0, 1})
                    b->Args({size, size * 3 / 4, pairs, views, on_rows});
        }
}

// CPU time is that of every thread of the process: the work the views add,
// which a busy machine disturbs less than the wall time.
BENCHMARK(BM_Views)->Apply(view_arguments)->ArgNames({"w", "h", "pairs", "views", "rows"})->UseRealTime()
    ->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
