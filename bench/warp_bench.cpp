// Literal and fast kernel, 1 and 50 pairs, 800 x 600 and 2400 x 1800, one
// thread and all threads. The counter ns/pixel-pair is wall time divided by
// width * height * pairs. The literal kernel at 2400 x 1800 with 50 pairs is
// left out: about 6.5 s per run and nothing the 800 x 600 figure does not say.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <thread>
#include <vector>

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

SDL_Surface* source(int w, int h)
{
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0);
    std::mt19937 rng(3);
    for (int y = 0; y < h; ++y) {
        Uint8* row = static_cast<Uint8*>(s->pixels) + y * s->pitch;
        for (int i = 0; i < w * 3; ++i)
            row[i] = static_cast<Uint8>(rng());
    }
    return s;
}

// Arguments: literal (0) or fast (1), width, height, pairs, threads (0: all).
void BM_Warp(benchmark::State& state)
{
    const bool fast = state.range(0) != 0;
    const int w = static_cast<int>(state.range(1)), h = static_cast<int>(state.range(2));
    const int pairs = static_cast<int>(state.range(3)), threads = static_cast<int>(state.range(4));
    SDL_Surface* src = source(w, h);
    SDL_Surface* dst = SDL_CreateRGBSurface(0, w, h, 32, 0, 0, 0, 0);
    std::vector<Segment> segments = table(pairs, w, h);
    const int n = static_cast<int>(segments.size());
    WarpOptions options;
    options.kernel = fast ? WARP_KERNEL_FAST : WARP_KERNEL_LITERAL;
    options.threads = threads;
    for (auto _ : state) {
        warp_run(src, dst, segments.data(), n, WarpParams(), options);
        benchmark::ClobberMemory();
    }
    state.counters["ns/pixel-pair"] = benchmark::Counter(
        1e-9 * w * h * pairs, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetLabel(fast ? warp_target_name() : "literal");
    SDL_FreeSurface(dst);
    SDL_FreeSurface(src);
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

}  // namespace

BENCHMARK_MAIN();
