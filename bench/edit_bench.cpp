// Preview updates a second while an end point is dragged in tavrosk-edit:
// a 1920 x 1080 image (two for a morph), 20 pairs, the preview worker of
// edit/preview.h on every core. Each update moves one end point by a pixel,
// as a drag does, asks the worker for the preview and waits for it, so the
// figure is the rate at which the window can show exact previews.
//   edit_bench [SECONDS_PER_CASE]   (default 3)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "edit/preview.h"
#include "raster/image.h"
#include "warp/warp.h"

static ImageBuffer make_image(int w, int h, unsigned seed)
{
    ImageBuffer image;
    if (!image_buffer_make(&image, w, h, 3, SAMPLE_U8))
        std::abort();
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y) {
        unsigned char* row = image_row(image.view, y);
        for (int x = 0; x < 3 * w; ++x)
            row[x] = static_cast<unsigned char>((x / 3 + y) * (seed + 1) + (rng() & 15));
    }
    return image;
}

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const int w = 1920, h = 1080, pairs = 20;
    const ImageBuffer first = make_image(w, h, 1), second = make_image(w, h, 2);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> ux(0, w), uy(0, h), d(-40, 40);
    std::vector<Segment> table;
    for (int k = 0; k < pairs; ++k) {
        Segment a = {ux(rng), uy(rng), 0, 0};
        a.x2 = a.x1 + 60 + d(rng);
        a.y2 = a.y1 + d(rng);
        table.push_back(a);
        table.push_back({a.x1 + d(rng), a.y1 + d(rng), a.x2 + d(rng), a.y2 + d(rng)});
    }
    std::printf("preview updates while dragging, %dx%d, %d pairs, %u hardware threads, kernel target %s\n", w, h,
                pairs, std::thread::hardware_concurrency(), warp_target_name());
    std::printf("%-36s %7s %8s %10s %8s\n", "case", "updates", "per s", "median ms", "max ms");
    struct Case {
        const char* name;
        EditMode mode;
        bool folds;
    };
    const Case cases[] = {
        {"warp", EDIT_WARP, false},
        {"warp, fold overlay", EDIT_WARP, true},
        {"morph, frame 5 of 11", EDIT_MORPH, false},
    };
    for (const Case& c : cases) {
        PreviewSetup setup;
        setup.mode = c.mode;
        setup.first = first.view;
        if (c.mode == EDIT_MORPH)
            setup.second = second.view;
        PreviewWorker worker;
        worker.start(setup);
        double exact_median = 0;
        // The exact preview, then the coarse one the window asks for while
        // dragging, chosen from the exact one's median time as the window does.
        for (int coarse = 0; coarse < 2; ++coarse) {
            PreviewRequest request;
            request.pairs = table;
            request.frame = 5;
            request.folds = c.folds;
            request.reduce = coarse ? coarse_factor(exact_median) : 1;
            PreviewResult result;
            std::vector<double> times;
            const auto start = std::chrono::steady_clock::now();
            double elapsed = 0;
            for (long generation = 1; elapsed < seconds; ++generation) {
                request.generation = generation + 1000000L * coarse;
                request.pairs[1].x2 = table[1].x2 + generation % 50;  // the drag
                const auto t0 = std::chrono::steady_clock::now();
                worker.request(request);
                while (!worker.take(&result))
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                const auto t1 = std::chrono::steady_clock::now();
                times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
                elapsed = std::chrono::duration<double>(t1 - start).count();
            }
            std::vector<double> sorted = times;
            std::sort(sorted.begin(), sorted.end());
            if (!coarse)
                exact_median = sorted[sorted.size() / 2];
            const std::string name = std::string(c.name) + (coarse ? ", coarse 1/" + std::to_string(request.reduce) : ", exact");
            std::printf("%-36s %7zu %8.1f %10.2f %8.2f\n", name.c_str(), times.size(), times.size() / elapsed,
                        sorted[sorted.size() / 2], sorted.back());
        }
        worker.stop();
    }
    return 0;
}
