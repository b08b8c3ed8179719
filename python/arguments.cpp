#include "python/arguments.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

void value_error(const char* name, const std::string& message)
{
    throw py::value_error(std::string(name) + ": " + message);
}

[[noreturn]] static void type_error(const char* name, const std::string& message)
{
    throw py::type_error(std::string(name) + ": " + message);
}

static std::string type_name(py::handle value)
{
    return py::str(py::type::handle_of(value).attr("__name__"));
}

static std::string dtype_text(const py::dtype& dtype)
{
    return py::str(static_cast<py::handle>(dtype));
}

static std::string shape_text(const std::vector<py::ssize_t>& shape)
{
    std::string text = "(";
    for (size_t i = 0; i < shape.size(); ++i)
        text += (i ? ", " : "") + std::to_string(shape[i]);
    return text + (shape.size() == 1 ? ",)" : ")");
}

static std::vector<py::ssize_t> shape_of(const py::array& a)
{
    return std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim());
}

static std::string shape_text(const py::array& a)
{
    return shape_text(shape_of(a));
}

py::dtype dtype_of(SampleType type)
{
    return type == SAMPLE_U8 ? py::dtype::of<uint8_t>() : type == SAMPLE_U16 ? py::dtype::of<uint16_t>()
                                                                            : py::dtype::of<float>();
}

static bool sample_type_of(const py::dtype& dtype, SampleType* type)
{
    // Native byte order only: the engine reads samples as the host stores them.
    if (dtype.equal(py::dtype::of<uint8_t>()))
        *type = SAMPLE_U8;
    else if (dtype.equal(py::dtype::of<uint16_t>()))
        *type = SAMPLE_U16;
    else if (dtype.equal(py::dtype::of<float>()))
        *type = SAMPLE_F32;
    else
        return false;
    return true;
}

// The first and one past the last byte an array's elements occupy.
struct Extent {
    const char* begin;
    const char* end;
};

static Extent extent_of(const py::array& a)
{
    const char* data = static_cast<const char*>(a.data());
    Extent e = {data, data + a.itemsize()};
    for (py::ssize_t i = 0; i < a.ndim(); ++i) {
        const py::ssize_t reach = (a.shape(i) - 1) * a.strides(i);
        (reach < 0 ? e.begin : e.end) += reach;
    }
    return e;
}

static bool overlap(const Extent& a, const Extent& b)
{
    return a.begin < b.end && b.begin < a.end;
}

// Whether the engine can read or write the array where it lies: samples
// aligned, each row's pixels packed, rows of an image apart, images of a
// batch apart.
static bool usable_layout(const py::array& a, int channels)
{
    const py::ssize_t item = a.itemsize();
    const int nd = static_cast<int>(a.ndim());
    const bool has_channels = nd >= 3;
    const py::ssize_t pixel = item * channels;
    if (reinterpret_cast<uintptr_t>(a.data()) % static_cast<uintptr_t>(item) != 0)
        return false;
    for (int i = 0; i < nd; ++i)
        if (a.strides(i) % item != 0)
            return false;
    if (has_channels && channels > 1 && a.strides(nd - 1) != item)
        return false;
    const int x_axis = has_channels ? nd - 2 : nd - 1;
    const py::ssize_t w = a.shape(x_axis), h = a.shape(x_axis - 1);
    if (w > 1 && a.strides(x_axis) != pixel)
        return false;
    const py::ssize_t row = w * pixel;
    const py::ssize_t rows_apart = std::abs(a.strides(x_axis - 1));
    if (h > 1 && rows_apart < row)
        return false;
    if (nd == 4 && a.shape(0) > 1 && std::abs(a.strides(0)) < (h - 1) * rows_apart + row)
        return false;
    return true;
}

// Checks the dimensions of an image array and gives its kind; throws on a
// fault.
static void check_image_shape(const char* name, const py::array& a, bool batch_allowed, int* channels,
                              SampleType* type)
{
    if (!sample_type_of(a.dtype(), type)) {
        const bool swapped = sample_type_of(py::dtype::from_args(a.dtype().attr("newbyteorder")()), type);
        type_error(name, "dtype " + dtype_text(a.dtype()) + " is not uint8, uint16 or float32"
                             + (swapped ? " in the machine's byte order" : ""));
    }
    const int nd = static_cast<int>(a.ndim());
    const std::string shapes = batch_allowed ? "(H, W), (H, W, C) or (N, H, W, C)" : "(H, W) or (H, W, C)";
    if (nd < 2 || nd > (batch_allowed ? 4 : 3))
        value_error(name, "shape " + shape_text(a) + " is not " + shapes + " with C from 1 to 4");
    *channels = nd == 2 ? 1 : static_cast<int>(std::min<py::ssize_t>(a.shape(nd - 1), 5));
    if (nd > 2 && (a.shape(nd - 1) < 1 || a.shape(nd - 1) > 4))
        value_error(name, "shape " + shape_text(a) + ": " + std::to_string(a.shape(nd - 1))
                              + " channels; an image has 1 to 4"
                              + (nd == 3 && batch_allowed ? " (a batch of grey images is (N, H, W, 1))" : ""));
    for (int i = 0; i < nd; ++i)
        if (a.shape(i) == 0)
            value_error(name, "shape " + shape_text(a) + " is empty");
    const int x_axis = nd >= 3 ? nd - 2 : nd - 1;
    const py::ssize_t w = a.shape(x_axis), h = a.shape(x_axis - 1);
    if (w > INT_MAX || h > INT_MAX || w * h > INT_MAX / *channels)
        value_error(name, "shape " + shape_text(a) + " holds more than " + std::to_string(INT_MAX)
                              + " samples an image, more than the engine takes");
}

// The views of a checked array: one per image of a batch.
static std::vector<ImageView> views_of(const py::array& a, int channels, SampleType type)
{
    const int nd = static_cast<int>(a.ndim());
    const int x_axis = nd >= 3 ? nd - 2 : nd - 1;
    const py::ssize_t n = nd == 4 ? a.shape(0) : 1;
    std::vector<ImageView> views(static_cast<size_t>(n));
    char* data = static_cast<char*>(const_cast<void*>(a.data()));
    for (py::ssize_t i = 0; i < n; ++i) {
        ImageView& v = views[static_cast<size_t>(i)];
        v.pixels = reinterpret_cast<unsigned char*>(data + (nd == 4 ? i * a.strides(0) : 0));
        v.width = static_cast<int>(a.shape(x_axis));
        v.height = static_cast<int>(a.shape(x_axis - 1));
        // One row needs no distance to the next; give it a row's bytes so
        // that the view is valid whatever the array says.
        v.stride = v.height > 1 ? a.strides(x_axis - 1)
                                : static_cast<std::ptrdiff_t>(v.width) * channels * sample_bytes(type);
        v.channels = channels;
        v.type = type;
    }
    return views;
}

// The array NumPy makes of `object` (itself when it is one).
static py::array as_array(const char* name, py::handle object)
{
    if (py::isinstance<py::array>(object))
        return py::reinterpret_borrow<py::array>(object);
    try {
        return py::module_::import("numpy").attr("asarray")(object);
    } catch (py::error_already_set& e) {
        type_error(name, std::string("not an array of numbers (") + e.what() + ")");
    }
}

ImageArg image_arg(const char* name, py::handle object, bool batch_allowed)
{
    ImageArg arg;
    arg.array = as_array(name, object);
    int channels;
    SampleType type;
    check_image_shape(name, arg.array, batch_allowed, &channels, &type);
    if (!usable_layout(arg.array, channels))
        arg.array = py::array::ensure(arg.array, py::array::c_style | py::array::forcecast);
    if (!arg.array)
        throw py::error_already_set();
    arg.views = views_of(arg.array, channels, type);
    return arg;
}

ImageArg result_arg(const char* name, py::handle out, const std::vector<py::ssize_t>& shape, const py::dtype& dtype,
                    const std::vector<const ImageArg*>& reads)
{
    ImageArg arg;
    if (out.is_none()) {
        arg.array = py::array(dtype, shape);
    } else {
        if (!py::isinstance<py::array>(out))
            type_error(name, "a NumPy array expected, not " + type_name(out));
        arg.array = py::reinterpret_borrow<py::array>(out);
        if (!arg.array.dtype().equal(dtype))
            type_error(name, "dtype " + dtype_text(arg.array.dtype()) + ", the result is "
                                 + dtype_text(dtype));
        if (shape_of(arg.array) != shape)
            value_error(name, "shape " + shape_text(arg.array) + ", the result is " + shape_text(shape));
        if (!arg.array.writeable())
            value_error(name, "is read-only");
    }
    int channels;
    SampleType type;
    check_image_shape(name, arg.array, true, &channels, &type);
    if (!usable_layout(arg.array, channels))
        value_error(name, "its pixels are not packed along each row, its rows or images overlap, or its samples "
                          "are not aligned; pass a C-contiguous array");
    const Extent written = extent_of(arg.array);
    for (const ImageArg* read : reads)
        if (overlap(written, extent_of(read->array)))
            value_error(name, "shares memory with an input; the result must go to an array of its own");
    arg.views = views_of(arg.array, channels, type);
    return arg;
}

std::vector<Segment> segments_arg(py::handle pairs)
{
    const char* name = "pairs";
    py::array a = as_array(name, pairs);
    const char kind = a.dtype().kind();
    if (kind != 'i' && kind != 'u' && kind != 'f')
        type_error(name, "dtype " + dtype_text(a.dtype()) + " is not a number type");
    py::array_t<double, py::array::c_style | py::array::forcecast> table = a;
    const bool by_pair = table.ndim() == 3 && table.shape(1) == 2 && table.shape(2) == 4;
    const bool by_line = table.ndim() == 2 && table.shape(1) == 4;
    if (!by_pair && !by_line)
        value_error(name, "shape " + shape_text(table) + " is not (n, 2, 4), a first and a second segment x1 y1 "
                                                           "x2 y2 a pair, or (2n, 4) as a pairs file lists them");
    const py::ssize_t count = by_pair ? 2 * table.shape(0) : table.shape(0);
    if (count == 0)
        value_error(name, "no pairs; a warp needs at least one");
    if (count == 1)
        value_error(name, "only one segment; a pair needs two");
    if (count % 2 != 0)
        value_error(name, std::to_string(count) + " segments, an odd count; every pair needs two");
    if (count > INT_MAX - 1)
        value_error(name, std::to_string(count) + " segments, more than the engine takes");
    std::vector<Segment> segments(static_cast<size_t>(count));
    const double* values = table.data();
    for (size_t k = 0; k < segments.size(); ++k) {
        const double* v = values + 4 * k;
        for (int c = 0; c < 4; ++c)
            if (!std::isfinite(v[c]))
                value_error(name, "pair " + std::to_string(k / 2) + ", " + (k % 2 ? "second" : "first")
                                      + " segment: " + py::str(py::float_(v[c])).cast<std::string>()
                                      + " is not a finite number");
        segments[k] = {v[0], v[1], v[2], v[3]};
    }
    return segments;
}

double weight_arg(const char* name, py::handle value, bool positive_only)
{
    if (PyBool_Check(value.ptr()))
        type_error(name, "a number expected, not bool");
    double v = PyFloat_AsDouble(value.ptr());
    if (v == -1.0 && PyErr_Occurred()) {
        // An integer too large for a double is a number, just not a finite one.
        const bool too_large = PyErr_ExceptionMatches(PyExc_OverflowError);
        PyErr_Clear();
        if (!too_large)
            type_error(name, "a number expected, not " + type_name(value));
        v = HUGE_VAL;
    }
    if (!std::isfinite(v) || (positive_only ? !(v > 0) : !(v >= 0)))
        value_error(name, std::string(py::repr(value)) + " is not "
                              + (positive_only ? "a finite number greater than 0" : "a finite number, 0 or more"));
    return v;
}

long whole_arg(const char* name, py::handle value, long low, long high)
{
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
        type_error(name, "a whole number expected, not " + type_name(value));
    int overflow = 0;
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index)
        throw py::error_already_set();
    const long v = PyLong_AsLongAndOverflow(index.ptr(), &overflow);
    if (overflow || v < low || v > high)
        value_error(name, std::string(py::repr(value)) + " is not a whole number from " + std::to_string(low)
                              + " to " + std::to_string(high));
    return v;
}
