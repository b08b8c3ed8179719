#include "io/flo.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>

static void store_le32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

static bool write_failed(std::string* problem)
{
    const int error = errno;
    *problem = error ? std::string("cannot write: ") + std::strerror(error) : "cannot write";
    return false;
}

bool write_flo_header(std::FILE* out, int w, int h, std::string* problem)
{
    unsigned char header[12] = {'P', 'I', 'E', 'H'};
    store_le32(header + 4, static_cast<uint32_t>(w));
    store_le32(header + 8, static_cast<uint32_t>(h));
    errno = 0;
    return std::fwrite(header, 1, sizeof header, out) == sizeof header || write_failed(problem);
}

void size_field_buffer(FieldBuffer* buffer, int w)
{
    buffer->floats.resize(std::max<size_t>(static_cast<size_t>(w) * 2, 16384));
    buffer->used = 0;
}

// Writes what the buffer holds in little-endian byte order.
static bool flush_field(std::FILE* out, FieldBuffer* buffer, std::string* problem)
{
    static_assert(sizeof(float) == 4, "the format's floats are 32-bit");
    float* floats = buffer->floats.data();
    if (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
        for (size_t i = 0; i < buffer->used; ++i) {
            uint32_t bits;
            std::memcpy(&bits, &floats[i], sizeof bits);
            store_le32(reinterpret_cast<unsigned char*>(&floats[i]), bits);
        }
    errno = 0;
    const size_t count = buffer->used;
    buffer->used = 0;
    return std::fwrite(floats, sizeof(float), count, out) == count || write_failed(problem);
}

void field_row(const double* px, const double* py, int w, int y, float* uv)
{
    // Written so that the loop can run in SIMD registers; fabs(v) <= DBL_MAX
    // fails for infinities and NaN.
    for (int x = 0; x < w; ++x) {
        const bool known = std::fabs(px[x]) <= DBL_MAX && std::fabs(py[x]) <= DBL_MAX;
        uv[2 * x] = known ? static_cast<float>(px[x] - x) : 1e10f;
        uv[2 * x + 1] = known ? static_cast<float>(py[x] - y) : 1e10f;
    }
}

bool add_field_row(std::FILE* out, FieldBuffer* buffer, const double* px, const double* py, int w, int y,
                   std::string* problem)
{
    if (buffer->used + 2 * static_cast<size_t>(w) > buffer->floats.size() && !flush_field(out, buffer, problem))
        return false;
    field_row(px, py, w, y, buffer->floats.data() + buffer->used);
    buffer->used += 2 * static_cast<size_t>(w);
    return true;
}

bool finish_field(std::FILE* out, FieldBuffer* buffer, std::string* problem)
{
    if (!flush_field(out, buffer, problem))
        return false;
    errno = 0;
    return (std::fflush(out) == 0 && !std::ferror(out)) || write_failed(problem);
}

bool write_flo(std::FILE* out, const double* sx, const double* sy, int w, int h, std::string* problem)
{
    if (!write_flo_header(out, w, h, problem))
        return false;
    FieldBuffer buffer;
    size_field_buffer(&buffer, w);
    for (int y = 0; y < h; ++y) {
        const std::ptrdiff_t start = static_cast<std::ptrdiff_t>(y) * w;
        if (!add_field_row(out, &buffer, sx + start, sy + start, w, y, problem))
            return false;
    }
    return finish_field(out, &buffer, problem);
}

static void field_row(void* context, int y, const double* sx, const double* sy)
{
    FieldRows* field = static_cast<FieldRows*>(context);
    if (field->problem.empty())
        add_field_row(field->out, &field->buffer, sx, sy, field->w, y, &field->problem);
}

bool field_rows_start(FieldRows* field, std::FILE* out, int w, int h)
{
    field->out = out;
    field->w = w;
    field->problem.clear();
    size_field_buffer(&field->buffer, w);
    field->sink = {field_row, field};
    return write_flo_header(out, w, h, &field->problem);
}

bool field_rows_finish(FieldRows* field)
{
    return field->problem.empty() && finish_field(field->out, &field->buffer, &field->problem);
}
