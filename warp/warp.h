// The line-pair field warp (reverse mapping, bilinear sampling). warp_run is
// the engine: it fills every pixel of a result image the caller made (src's
// size and kind, any of raster/kinds.h) from src and the segment table, and
// prints nothing. Pairs
// with a first or second segment of computed length <= 0 are left out
// (docs/numerics.md). Images are the plain views of raster/image.h; the
// caller owns both.
#pragma once
#include <atomic>
#include <string>

#include "raster/image.h"
#include "raster/kinds.h"
#include "warp/segment.h"

// The weight of a pair at a pixel: pow(pow(|PQ|, p) / (a + dist), b).
struct WarpParams {
    double p = 0.5;
    double a = 1.0;
    double b = 1.0;
};

enum WarpKernel {
    WARP_KERNEL_FAST,     // per-pair values once, SIMD lanes, rows on threads
    WARP_KERNEL_LITERAL,  // the reference: the arithmetic in its literal order, one thread
};

// Receives the source points of whole rows as the warp makes them, so that
// anything computed from them can be done while the row is in cache, on the
// warp's threads, without storing w * h points.
struct WarpRowSink {
    // Called once for each row y, after its pixels are written, with the
    // source points of its w pixels (the doubles points_x/points_y receive),
    // valid only during the call. The fast kernel calls it from its worker
    // threads, rows in any order and possibly at the same time; the literal
    // kernel calls it for rows 0 to h - 1 in order once the whole result is
    // written.
    void (*row)(void* context, int y, const double* sx, const double* sy);
    void* context;
};

struct WarpOptions {
    WarpKernel kernel = WARP_KERNEL_FAST;
    int threads = 0;  // fast kernel only; 0: one per hardware thread
    // When set, increased by the number of pixels written as each row (fast
    // kernel) or column (literal kernel) is finished, from any thread.
    std::atomic<long long>* pixels_done = nullptr;
    // When set, each receives w * h doubles: the source point of pixel (x, y)
    // at [y * w + x], the doubles the sampler was given.
    double* points_x = nullptr;
    double* points_y = nullptr;
    // When set, receives each row's source points as it is finished.
    const WarpRowSink* rows = nullptr;
    // What a pixel whose source point lies outside the source becomes: by
    // default transparent where the result has alpha, black where it has
    // none (raster/kinds.h).
    OutsideColour outside;
};

struct WarpReport {
    long long nonfinite_points = 0;  // pixels whose source point is not finite
};

enum WarpStatus {
    WARP_OK,
    WARP_INVALID_SOURCE,    // src is not a valid view (image_view_valid)
    WARP_INVALID_RESULT,    // dst is not a valid view
    WARP_LAYOUT_MISMATCH,   // dst differs from src in size, channels or sample type
};

// Both kernels give the same source points and the same pixels, bit for bit,
// on every instruction set and thread count. report may be NULL. Nothing is
// written unless WARP_OK comes back.
WarpStatus warp_run(const ImageView& src, const ImageView& dst, const Segment* segments, int n,
                    const WarpParams& params, const WarpOptions& options, WarpReport* report = nullptr);

// How the fast kernel computes the quotients by a pair's divisors
// (docs/numerics.md, "Exact quotients"), and with newton also the weight's
// quotient and the end distance's square root ("Quotients and roots from
// estimates"). Every method gives the same doubles, so the choice is one of
// speed. It is made for each instruction set the first time a warp runs on
// it, by timing each method on a few rows, unless the environment variable
// TAVROSK_QUOTIENTS (divider, fma or newton) or warp_force_quotients names
// one. Instruction sets without fused multiply-adds always divide; newton
// exists on AVX3 only, and elsewhere runs as fma.
enum WarpQuotients {
    WARP_QUOTIENTS_AUTO,     // TAVROSK_QUOTIENTS, or measured
    WARP_QUOTIENTS_DIVIDER,  // the hardware's division and square root
    WARP_QUOTIENTS_FMA,      // the split reciprocal and fused multiply-adds
    WARP_QUOTIENTS_NEWTON,   // fma, and the estimates refined for the rest
};

// For tests and benchmarks, as Highway's SetSupportedTargetsForTest is for
// the instruction set: every warp started afterwards uses `method` where its
// instruction set has it (WARP_QUOTIENTS_AUTO: the variable or the
// measurement again). Not while a warp runs.
void warp_force_quotients(WarpQuotients method);

// Name of the instruction set the fast kernel runs on now (Highway's, as
// TAVROSK_TARGET takes it; tests force each one in turn through Highway's
// target mask).
const char* warp_target_name();

// The method the fast kernel uses on that instruction set: "divider", "fma"
// or "newton".
const char* warp_quotient_method();

// Both, with how each was chosen, as one line for the programs' --version:
// "fast kernel: AVX3, quotients by fma (measured)".
std::string warp_kernel_summary();
