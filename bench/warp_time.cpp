// The engine alone, for bench/python_bench.py: warp_run on the very samples
// the Python module is given, read from a raw file, into a result made once.
//   warp_time RAW WIDTH HEIGHT CHANNELS PAIRS RUNS THREADS
// RAW holds HEIGHT rows of WIDTH pixels of CHANNELS 8-bit samples, packed;
// PAIRS is a pairs file. Prints the wall-clock seconds of each run, one a
// line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/segment_file.h"
#include "raster/image.h"
#include "warp/warp.h"

int main(int argc, char** argv)
{
    if (argc != 8) {
        std::fprintf(stderr, "usage: warp_time RAW WIDTH HEIGHT CHANNELS PAIRS RUNS THREADS\n");
        return 2;
    }
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]), channels = std::atoi(argv[4]);
    const int runs = std::atoi(argv[6]);
    ImageBuffer src, dst;
    if (!image_buffer_make(&src, w, h, channels, SAMPLE_U8) || !image_buffer_make(&dst, w, h, channels, SAMPLE_U8)) {
        std::fprintf(stderr, "warp_time: no %d x %d x %d image\n", w, h, channels);
        return 1;
    }
    std::FILE* raw = std::fopen(argv[1], "rb");
    const size_t bytes = static_cast<size_t>(w) * h * channels;
    if (!raw || std::fread(src.data.get(), 1, bytes, raw) != bytes) {
        std::fprintf(stderr, "warp_time: %s: not %zu bytes of samples\n", argv[1], bytes);
        return 1;
    }
    std::fclose(raw);
    std::vector<Segment> segments;
    std::string message;
    if (!read_segment_file(argv[5], &segments, &message)) {
        std::fprintf(stderr, "warp_time: %s\n", message.c_str());
        return 1;
    }
    WarpOptions options;
    options.threads = std::atoi(argv[7]);
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const WarpStatus status = warp_run(src.view, dst.view, segments.data(), static_cast<int>(segments.size()),
                                           WarpParams(), options);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (status != WARP_OK) {
            std::fprintf(stderr, "warp_time: the engine refused the image (status %d)\n", status);
            return 1;
        }
        std::printf("%.6f\n", took.count());
    }
    return 0;
}
