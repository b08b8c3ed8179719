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

// The colour of pixels whose source point lies outside the image: None for
// the engine's default (transparent, or black without alpha), a number for
// a grey, or R, G, B with an optional alpha (opaque when left out), each a
// fraction of the full value: 1.0 is 255 in uint8, 65535 in uint16. Integer
// kinds take 0 to 1; floats any value, NaN too (a mark of "no data").
OutsideColour outside_arg(py::handle outside, SampleType type)
{
    const char* name = "outside";
    OutsideColour colour;
    if (outside.is_none())
        return colour;
    std::vector<double> v;
    if (PyNumber_Check(outside.ptr()) && !PyBool_Check(outside.ptr()) && !py::isinstance<py::array>(outside)) {
        v.assign(3, PyFloat_AsDouble(outside.ptr()));
        if (PyErr_Occurred()) {
            PyErr_Clear();
            throw py::type_error(std::string(name) + ": a number or 3 or 4 numbers expected");
        }
    } else {
        py::array a;
        try {
            a = py::module_::import("numpy").attr("asarray")(outside);
        } catch (py::error_already_set&) {
            throw py::type_error(std::string(name) + ": a number or 3 or 4 numbers expected");
        }
        const char k = a.dtype().kind();
        if (k != 'i' && k != 'u' && k != 'f')
            throw py::type_error(std::string(name) + ": a number or 3 or 4 numbers expected, not "
                                 + std::string(py::str(py::handle(a.dtype()))));
        if (a.ndim() != 1 || (a.shape(0) != 3 && a.shape(0) != 4))
            value_error(name, std::string(py::repr(outside)) + " is not one number nor R, G, B or R, G, B, A");
        py::array_t<double, py::array::c_style | py::array::forcecast> d = a;
        v.assign(d.data(), d.data() + d.shape(0));
    }
    const bool integers = type != SAMPLE_F32;
    for (double c : v)
        if (integers && !(c >= 0 && c <= 1))
            value_error(name, std::string(py::repr(outside)) + ": " + py::str(py::float_(c)).cast<std::string>()
                                  + " is not from 0 to 1, a fraction of the full value (1.0 is "
                                  + (type == SAMPLE_U8 ? "255" : "65535") + " in this dtype)");
    colour.r = v[0];
    colour.g = v[1];
    colour.b = v[2];
    colour.a = v.size() == 4 ? v[3] : 1.0;
    return colour;
}

std::vector<py::ssize_t> shape_of(const py::array& a)
{
    return std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim());
}

// The arguments were checked, so a status other than WARP_OK is a fault of
// this module: raised as RuntimeError rather than passed over.
void check_status(WarpStatus status)
{
    if (status != WARP_OK)
        throw std::runtime_error("the engine refused checked arguments (status " + std::to_string(status) + ")");
}

py::array warp(py::handle image, py::handle pairs, py::handle p, py::handle a, py::handle b, py::handle threads,
               py::handle outside, py::handle reference, py::handle out)
{
    ImageArg src = image_arg("image", image, true);
    const std::vector<Segment> segments = segments_arg(pairs);
    Settings s = settings_arg(p, a, b, threads, reference);
    s.options.outside = outside_arg(outside, src.views[0].type);
    ImageArg dst = result_arg("out", out, shape_of(src.array), src.array.dtype(), {&src});
    WarpStatus status = WARP_OK;
    {
        py::gil_scoped_release unlocked;
        for (size_t i = 0; i < src.views.size() && status == WARP_OK; ++i)
            status = warp_run(src.views[i], dst.views[i], segments.data(), static_cast<int>(segments.size()),
                              s.params, s.options);
    }
    check_status(status);
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
        // The frames are of the wider kind of the two, (H, W) when both
        // inputs are.
        const ImageKind kind = kind_wider(image_kind(f), image_kind(s));
        job_.pairs = segments;
        job_.params = settings.params;
        job_.options = settings.options;
        job_.options.outside = outside_arg(outside, kind.type);
        shape_ = {f.height, f.width};
        if (kind.channels > 1 || first_.array.ndim() == 3 || second_.array.ndim() == 3)
            shape_.push_back(kind.channels);
        dtype_ = dtype_of(kind.type);
        // The views were checked, so only memory can run out.
        if (!morph_job_init(&job_, f, s))
            throw std::bad_alloc();
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
    check_status(status);
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
