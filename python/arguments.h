// The module's arguments as the engine takes them: NumPy arrays checked and
// described as plain image views (raster/image.h), segment tables, weights
// and counts.
//
// Conventions:
// - An image is (H, W) grey, (H, W, C) with C channels from 1 to 4, or, where
//   a batch is allowed, (N, H, W, C): N images of that kind. dtype uint8,
//   uint16 or float32 in the host's byte order.
// - An array is used where it lies when its pixels are packed along each row
//   (rows may be padded, reversed or views into a larger array) and its
//   samples aligned; any other layout is copied once into a C-contiguous
//   array, so the engine never sees a layout it cannot read.
// - Every fault raises TypeError (a wrong type or dtype) or ValueError (a
//   wrong shape, size, layout or value) whose message opens with the
//   argument's name, "image: ...". Nothing is given to the engine before all
//   the checks have passed.
#pragma once
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <vector>

#include "raster/image.h"
#include "warp/segment.h"

namespace py = pybind11;

// An image argument: the array the engine reads or writes (the caller's, or
// a copy of it) and a view of each of its images.
struct ImageArg {
    py::array array;
    std::vector<ImageView> views;  // N for a batch, else one
};

// The dtype of samples of that type.
py::dtype dtype_of(SampleType type);

// Checks `object`, an ndarray or anything NumPy makes one of, as an image
// (a batch too when batch_allowed) that the engine reads, copying it when
// its layout needs it.
ImageArg image_arg(const char* name, py::handle object, bool batch_allowed);

// The array a result is written to: a new one of `shape` and `dtype` when
// `out` is None, else `out` itself after checks: a writable ndarray of that
// shape and dtype, packed along its rows and aligned, whose images and rows
// do not overlap each other nor any array of `reads`.
ImageArg result_arg(const char* name, py::handle out, const std::vector<py::ssize_t>& shape, const py::dtype& dtype,
                    const std::vector<const ImageArg*>& reads);

// The segment table of `pairs`: anything NumPy reads as integers or floats
// of shape (n, 2, 4) or (2n, 4), n >= 1, every value finite.
std::vector<Segment> segments_arg(py::handle pairs);

// A weight of the warp as the tools take it: a real number (not a bool),
// finite, greater than 0 when positive_only, else 0 or more.
double weight_arg(const char* name, py::handle value, bool positive_only);

// A whole number from low to high: a Python or NumPy integer, not a bool.
long whole_arg(const char* name, py::handle value, long low, long high);

// Raises ValueError "NAME: MESSAGE".
[[noreturn]] void value_error(const char* name, const std::string& message);
