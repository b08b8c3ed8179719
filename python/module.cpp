// The extension tavrosk._tavrosk: the engine's warp, morph frames, source
// points, field and fold flags for NumPy arrays (python/engine.cpp), and the
// tools' pairs files. The package's front (tavrosk/__init__.py) gives these
// their public names, keyword arguments and help texts; every argument is
// checked in C++ (python/arguments.h) before anything is read.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "io/segment_file.h"
#include "python/arguments.h"
#include "python/engine.h"

namespace {

py::array read_pairs(const std::string& path)
{
    std::FILE* in = std::fopen(path.c_str(), "r");
    struct stat about;
    if (in && fstat(fileno(in), &about) == 0 && S_ISDIR(about.st_mode)) {
        std::fclose(in);
        in = nullptr;
        errno = EISDIR;
    }
    if (!in) {
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
        throw py::error_already_set();
    }
    std::vector<Segment> segments;
    long line = 0;
    std::string problem;
    const bool ok = read_segments(in, &segments, &line, &problem);
    std::fclose(in);
    if (!ok)
        throw py::value_error(segment_file_message(path, line, problem));
    const py::ssize_t n = static_cast<py::ssize_t>(segments.size() / 2);
    py::array_t<double> result({n, static_cast<py::ssize_t>(2), static_cast<py::ssize_t>(4)});
    double* out = result.mutable_data();
    for (const Segment& s : segments) {
        *out++ = s.x1;
        *out++ = s.y1;
        *out++ = s.x2;
        *out++ = s.y2;
    }
    return std::move(result);
}

void write_pairs(const std::string& path, py::handle pairs)
{
    std::string text;
    for (const Segment& s : segments_arg(pairs))
        text += segment_line(s) + "\n";
    std::string message;
    if (!write_segment_file(path, text, &message))
    {
        PyErr_SetString(PyExc_OSError, message.c_str());
        throw py::error_already_set();
    }
}

}  // namespace

PYBIND11_MODULE(_tavrosk, m)
{
    m.doc() = "The engine of the tavrosk package; use the functions of tavrosk itself.";
    m.attr("__version__") = TAVROSK_VERSION;
    m.def("read_pairs", read_pairs);
    m.def("write_pairs", write_pairs);
    add_engine(m);
}
