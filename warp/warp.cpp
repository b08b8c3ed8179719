#include "warp/warp.h"

#include <vector>

#include "warp/kernels.h"

WarpStatus warp_run(const ImageView& src, const ImageView& dst, const Segment* segments, int n,
                    const WarpParams& params, const WarpOptions& options, WarpReport* report)
{
    if (!image_view_valid(src))
        return WARP_INVALID_SOURCE;
    if (!image_view_valid(dst))
        return WARP_INVALID_RESULT;
    if (!image_same_layout(src, dst))
        return WARP_LAYOUT_MISMATCH;
    if (!segments || n < 0)
        n = 0;
    // Source points are written only where both rows were given.
    WarpOptions checked = options;
    if (!checked.points_x || !checked.points_y)
        checked.points_x = checked.points_y = nullptr;
    WarpReport ignored;
    WarpReport* out = report ? report : &ignored;
    *out = WarpReport();
    if (checked.kernel == WARP_KERNEL_FAST) {
        warp_fast(src, dst, segments, n, params, checked, out);
        return WARP_OK;
    }
    // The literal kernel goes column by column: its rows of points are
    // complete only at the end, so a row sink gets them from w * h points
    // kept here when the caller keeps none.
    std::vector<double> own_x, own_y;
    if (checked.rows && !checked.points_x) {
        const size_t pixels = static_cast<size_t>(src.width) * src.height;
        own_x.resize(pixels);
        own_y.resize(pixels);
        checked.points_x = own_x.data();
        checked.points_y = own_y.data();
    }
    warp_literal(src, dst, segments, n, params, checked, out);
    if (checked.rows)
        for (int y = 0; y < src.height; ++y) {
            const std::ptrdiff_t start = static_cast<std::ptrdiff_t>(y) * src.width;
            checked.rows->row(checked.rows->context, y, checked.points_x + start, checked.points_y + start);
        }
    return WARP_OK;
}
