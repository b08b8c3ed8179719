// The engine's functions in the extension: the warp, morph frames, source
// points, field and fold flags for NumPy arrays, run with the interpreter's
// lock released so that Python threads warp at once.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <climits>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "io/flo.h"
#include "python/arguments.h"
#include "python/engine.h"
#include "raster/kinds.h"
#include "warp/morph.h"
#include "warp/warp.h"
#include "warp/warp_views.h"

namespace {

struct Settings {
    WarpParams params;
    WarpOptions options;
};

Settings settings_arg(py::handle p, py::handle a, py::handle b, py::handle threads, py::handle reference)
{
    Settings s;
    s.params.p = weight_arg("p", p, false);
    s.params.a = weight_arg("a", a, true);
    s.params.b = weight_arg("b", b, false);
    s.options.threads = static_cast<int>(whole_arg("threads", threads, 0, MAX_THREADS));
    s.options.kernel = PyObject_IsTrue(reference.ptr()) ? WARP_KERNEL_LITERAL : WARP_KERNEL_FAST;
    return s;
}

void outside_arg(py::handle outside)
{
    if (!outside.is_none())
        value_error("outside", "only None (black) is taken by this build");
}

std::string kind_text(const ImageView& view)
{
    static const char* const names[] = {"uint8", "uint16", "float32"};
    return std::string(names[view.type]) + " with " + std::to_string(view.channels)
         + (view.channels == 1 ? " channel" : " channels");
}

std::vector<py::ssize_t> shape_of(const py::array& a)
{
    return std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim());
}

// Raises the error a status other than WARP_OK stands for. The arguments
// were checked, so only a kind the engine does not handle can come back.
void check_status(WarpStatus status, const char* name, const ImageView& view)
{
    if (status != WARP_OK)
        throw py::type_error(std::string(name) + ": " + kind_text(view) + " is a kind the engine does not warp");
}

py::array warp(py::handle image, py::handle pairs, py::handle p, py::handle a, py::handle b, py::handle threads,
               py::handle outside, py::handle reference, py::handle out)
{
    ImageArg src = image_arg("image", image, true);
    const std::vector<Segment> segments = segments_arg(pairs);
    const Settings s = settings_arg(p, a, b, threads, reference);
    outside_arg(outside);
    ImageArg dst = result_arg("out", out, shape_of(src.array), src.array.dtype(), {&src});
    WarpStatus status = WARP_OK;
    {
        py::gil_scoped_release unlocked;
        for (size_t i = 0; i < src.views.size() && status == WARP_OK; ++i)
            status = warp_run(src.views[i], dst.views[i], segments.data(), static_cast<int>(segments.size()),
                              s.params, s.options);
    }
    check_status(status, "image", src.views[0]);
    return dst.array;
}

// The frames of one morph, each rendered on request. The engine's job keeps
// scratch from frame to frame, so one frame is rendered at a time.
class Morph {
public:
    Morph(py::handle first, py::handle second, py::handle pairs, py::handle frames, py::handle p, py::handle a,
          py::handle b, py::handle threads, py::handle outside, py::handle reference)
        : first_(image_arg("first", first, false)), second_(image_arg("second", second, false))
    {
        const ImageView& f = first_.views[0];
        const ImageView& s = second_.views[0];
        if (f.width != s.width || f.height != s.height)
            value_error("second", std::to_string(s.width) + " x " + std::to_string(s.height) + " pixels, but first is "
                                      + std::to_string(f.width) + " x " + std::to_string(f.height)
                                      + "; resize it first");
        const std::vector<Segment> segments = segments_arg(pairs);
        frames_ = static_cast<int>(whole_arg("frames", frames, 2, INT_MAX));
        const Settings settings = settings_arg(p, a, b, threads, reference);
        outside_arg(outside);
        job_.pairs = segments;
        job_.params = settings.params;
        job_.options = settings.options;
        // The frames are of the wider kind of the two, (H, W) when both
        // inputs are.
        const ImageKind kind = kind_wider(image_kind(f), image_kind(s));
        shape_ = {f.height, f.width};
        if (kind.channels > 1 || first_.array.ndim() == 3 || second_.array.ndim() == 3)
            shape_.push_back(kind.channels);
        dtype_ = dtype_of(kind.type);
        if (!morph_job_init(&job_, f, s)) {
            if (!image_same_layout(f, s) || f.type != SAMPLE_U8 || f.channels != 3)
                throw py::type_error("first, second: " + kind_text(f) + " and " + kind_text(s)
                                     + " are kinds the engine does not morph");
            throw std::bad_alloc();
        }
    }

    int frames() const { return frames_; }

    py::array frame(py::handle index, py::handle out)
    {
        const int i = static_cast<int>(whole_arg("i", index, 0, frames_ - 1));
        ImageArg dst = result_arg("out", out, shape_, dtype_, {&first_, &second_});
        bool done;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> one_at_a_time(mutex_);
            done = morph_render(&job_, i, frames_, dst.views[0]);
        }
        if (!done)
            throw std::runtime_error("the engine refused a checked frame");
        return dst.array;
    }

private:
    ImageArg first_, second_;
    int frames_ = 0;
    std::vector<py::ssize_t> shape_;
    py::dtype dtype_;
    MorphJob job_;
    std::mutex mutex_;
};

// (H, W) from a shape of two or three whole numbers.
void size_arg(py::handle shape, int* w, int* h)
{
    const char* name = "shape";
    if (py::isinstance<py::array>(shape) || !py::isinstance<py::sequence>(shape) || py::isinstance<py::str>(shape))
        throw py::type_error(std::string(name) + ": a tuple (H, W) or (H, W, C) expected, not "
                             + std::string(py::str(py::type::handle_of(shape).attr("__name__")))
                             + (py::isinstance<py::array>(shape) ? "; pass image.shape" : ""));
    py::sequence items = py::reinterpret_borrow<py::sequence>(shape);
    if (items.size() < 2 || items.size() > 3)
        value_error(name, std::string(py::repr(shape)) + " is not (H, W) or (H, W, C)");
    *h = static_cast<int>(whole_arg("shape", items[0], 1, INT_MAX));
    *w = static_cast<int>(whole_arg("shape", items[1], 1, INT_MAX));
}

// Runs the warp of a w x h image for its source points alone: the rows go to
// `sink`, and when points_x and points_y are set, w * h points to them.
void run_for_points(int w, int h, const std::vector<Segment>& segments, const Settings& s, const WarpRowSink* sink,
                    double* points_x, double* points_y)
{
    ImageBuffer src, dst;
    if (!image_buffer_make(&src, w, h, 3, SAMPLE_U8) || !image_buffer_make(&dst, w, h, 3, SAMPLE_U8))
        throw std::bad_alloc();
    WarpOptions options = s.options;
    options.rows = sink;
    options.points_x = points_x;
    options.points_y = points_y;
    WarpStatus status;
    {
        py::gil_scoped_release unlocked;
        status = warp_run(src.view, dst.view, segments.data(), static_cast<int>(segments.size()), s.params, options);
    }
    check_status(status, "shape", src.view);
}

// An (H, W, 2) array of T filled row by row from the warp's rows by `fill`.
template <typename T>
py::array points_array(py::handle shape, py::handle pairs, py::handle p, py::handle a, py::handle b,
                       py::handle threads, py::handle reference,
                       void (*fill)(const double* sx, const double* sy, int w, int y, T* row))
{
    int w, h;
    size_arg(shape, &w, &h);
    if (static_cast<long long>(w) * h > INT_MAX)
        value_error("shape", std::to_string(h) + " x " + std::to_string(w) + " pixels, more than the engine takes");
    const std::vector<Segment> segments = segments_arg(pairs);
    const Settings s = settings_arg(p, a, b, threads, reference);
    py::array_t<T> result({static_cast<py::ssize_t>(h), static_cast<py::ssize_t>(w), static_cast<py::ssize_t>(2)});
    struct Target {
        T* data;
        int w;
        void (*fill)(const double*, const double*, int, int, T*);
    } target = {result.mutable_data(), w, fill};
    const WarpRowSink sink = {[](void* context, int y, const double* sx, const double* sy) {
                                  const Target& t = *static_cast<Target*>(context);
                                  t.fill(sx, sy, t.w, y, t.data + static_cast<std::ptrdiff_t>(y) * t.w * 2);
                              },
                              &target};
    run_for_points(w, h, segments, s, &sink, nullptr, nullptr);
    return std::move(result);
}

void interleave_points(const double* sx, const double* sy, int w, int, double* row)
{
    for (int x = 0; x < w; ++x) {
        row[2 * x] = sx[x];
        row[2 * x + 1] = sy[x];
    }
}

py::array source_points(py::handle shape, py::handle pairs, py::handle p, py::handle a, py::handle b,
                        py::handle threads, py::handle reference)
{
    return points_array<double>(shape, pairs, p, a, b, threads, reference, interleave_points);
}

py::array field(py::handle shape, py::handle pairs, py::handle p, py::handle a, py::handle b, py::handle threads,
                py::handle reference)
{
    return points_array<float>(shape, pairs, p, a, b, threads, reference, field_row);
}

py::array folds(py::handle shape, py::handle pairs, py::handle p, py::handle a, py::handle b, py::handle threads,
                py::handle reference)
{
    int w, h;
    size_arg(shape, &w, &h);
    const std::vector<Segment> segments = segments_arg(pairs);
    const Settings s = settings_arg(p, a, b, threads, reference);
    const size_t pixels = static_cast<size_t>(w) * h;
    std::vector<double> sx(pixels), sy(pixels);
    run_for_points(w, h, segments, s, nullptr, sx.data(), sy.data());
    py::array_t<uint8_t> flags({static_cast<py::ssize_t>(h), static_cast<py::ssize_t>(w)});
    uint8_t* data = flags.mutable_data();
    {
        py::gil_scoped_release unlocked;
        analyse_folds(sx.data(), sy.data(), w, h, w, h, data);
    }
    return std::move(flags);
}

}  // namespace

void add_engine(py::module_& m)
{
    m.def("warp", warp);
    py::class_<Morph>(m, "Morph")
        .def(py::init<py::handle, py::handle, py::handle, py::handle, py::handle, py::handle, py::handle,
                      py::handle, py::handle, py::handle>())
        .def_property_readonly("frames", &Morph::frames)
        .def("frame", &Morph::frame);
    m.def("source_points", source_points);
    m.def("field", field);
    m.def("folds", folds);
    m.def("engine_target", warp_target_name);
}
