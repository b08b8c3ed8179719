// TIFF through libtiff, from and to memory. Grey and RGB images of 8, 16 or
// floating-point samples, with or without an alpha sample, are read as they
// are stored (strips or tiles, one plane or separate planes), so that 16 bits
// and floats are kept; every other kind libtiff knows (palettes, 1 to 4 bits,
// YCbCr and old-style JPEG, CMYK, LogLuv) goes through libtiff's own RGBA
// reader, whose 8-bit pixels are the ones tiff2rgba gives. Only the first
// image of a file is read. libtiff reports errors through a handler set on
// each handle, so nothing is printed and the first message names the
// refusal.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "io/image_codecs.h"

namespace {

// The file in memory: read from `data`, or written into `out`.
struct TiffFile {
    const unsigned char* data;
    size_t size;
    std::vector<unsigned char>* out;
    size_t pos;
    std::string message;  // the first error libtiff reported
    bool icc_lost;        // libtiff could not read the ICC profile's tag
};

tmsize_t tiff_read(thandle_t handle, void* to, tmsize_t length)
{
    TiffFile* f = static_cast<TiffFile*>(handle);
    const size_t size = f->out ? f->out->size() : f->size;
    const unsigned char* data = f->out ? f->out->data() : f->data;
    const size_t n = f->pos >= size ? 0 : std::min(static_cast<size_t>(length), size - f->pos);
    if (n > 0)
        std::memcpy(to, data + f->pos, n);
    f->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t tiff_write(thandle_t handle, void* from, tmsize_t length)
{
    TiffFile* f = static_cast<TiffFile*>(handle);
    if (!f->out)
        return 0;
    const size_t n = static_cast<size_t>(length);
    if (f->out->size() < f->pos + n)
        f->out->resize(f->pos + n);
    std::memcpy(f->out->data() + f->pos, from, n);
    f->pos += n;
    return length;
}

toff_t tiff_seek(thandle_t handle, toff_t offset, int whence)
{
    TiffFile* f = static_cast<TiffFile*>(handle);
    const size_t size = f->out ? f->out->size() : f->size;
    const toff_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? size : 0;
    // Offsets beyond 1 GiB past the data are as wrong as any other; past
    // the end a write extends the file, a read finds nothing.
    if (offset > (toff_t(1) << 31) || base + offset > size + (toff_t(1) << 30))
        return static_cast<toff_t>(-1);
    f->pos = static_cast<size_t>(base + offset);
    return f->pos;
}

int tiff_close(thandle_t)
{
    return 0;
}

toff_t tiff_size(thandle_t handle)
{
    TiffFile* f = static_cast<TiffFile*>(handle);
    return f->out ? f->out->size() : f->size;
}

int tiff_map(thandle_t, void**, toff_t*)
{
    return 0;
}

void tiff_unmap(thandle_t, void*, toff_t) {}

int tiff_error(TIFF*, void* user, const char*, const char* format, va_list args)
{
    TiffFile* f = static_cast<TiffFile*>(user);
    if (f->message.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        // Some messages open with the handle's name, which says nothing here.
        f->message = std::strncmp(text, "memory: ", 8) == 0 ? text + 8 : text;
        std::replace(f->message.begin(), f->message.end(), '\n', ' ');
    }
    return 1;
}

// Warnings pass, except one that drops the profile: without it the image
// would be shown in other colours, so that refuses the file.
int tiff_warning(TIFF*, void* user, const char*, const char* format, va_list args)
{
    char text[256];
    std::vsnprintf(text, sizeof text, format, args);
    if (std::strstr(text, "ICC Profile"))
        static_cast<TiffFile*>(user)->icc_lost = true;
    return 1;
}

TIFF* tiff_open(TiffFile* f, const char* mode)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_error, f);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiff_warning, f);
    // No single buffer libtiff allocates for a readable image is larger
    // than the largest image kept, 2^27 pixels of four 16-bit samples.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(IMAGE_MAX_PIXELS) * 8);
    TIFF* tif = TIFFClientOpenExt("memory", mode, f, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size,
                                  tiff_map, tiff_unmap, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

// How the samples of a file read as stored map onto the result.
struct Layout {
    uint32_t w, h;
    uint16_t bits, format, photometric, spp, planar;
    int channels;      // of the result: 1 to 4
    int source[4];     // the file's sample index of each result channel
    bool premultiplied, inverted;
    SampleType type;
};

// True when the file's samples can be read as stored (see the file's
// header); fills *l.
bool stored_layout(TIFF* tif, Layout* l)
{
    uint16_t extra_count = 0, *extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l->bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l->format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l->spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l->planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l->photometric))
        return false;
    const bool ints = l->format == SAMPLEFORMAT_UINT && (l->bits == 8 || l->bits == 16);
    const bool floats = l->format == SAMPLEFORMAT_IEEEFP && (l->bits == 32 || l->bits == 64);
    const int colours = l->photometric == PHOTOMETRIC_RGB ? 3
                      : l->photometric == PHOTOMETRIC_MINISBLACK || l->photometric == PHOTOMETRIC_MINISWHITE ? 1
                                                                                                              : 0;
    if (!(ints || floats) || colours == 0 || l->spp < colours || l->spp - colours != extra_count
        || (l->planar != PLANARCONFIG_CONTIG && l->planar != PLANARCONFIG_SEPARATE))
        return false;
    l->type = floats ? SAMPLE_F32 : l->bits == 8 ? SAMPLE_U8 : SAMPLE_U16;
    l->channels = colours;
    for (int c = 0; c < colours; ++c)
        l->source[c] = c;
    // The first extra sample is alpha when it says so; one whose meaning is
    // unspecified is taken as alpha as libtiff's RGBA reader takes it. Any
    // others are not carried.
    l->premultiplied = false;
    if (extra_count > 0 && extra[0] <= EXTRASAMPLE_UNASSALPHA) {
        l->source[l->channels++] = colours;
        l->premultiplied = extra[0] != EXTRASAMPLE_UNASSALPHA;
    }
    l->inverted = l->photometric == PHOTOMETRIC_MINISWHITE;
    return true;
}

// One sample of the file as the result holds it: 16 bits and float kept, a
// double narrowed to the nearest float, min-is-white turned into
// min-is-black.
void put_sample(const Layout& l, const unsigned char* from, unsigned char* to, bool alpha)
{
    const bool invert = l.inverted && !alpha;
    if (l.type == SAMPLE_U8) {
        *to = invert ? static_cast<unsigned char>(255 - *from) : *from;
    } else if (l.type == SAMPLE_U16) {
        uint16_t v;
        std::memcpy(&v, from, 2);
        v = invert ? static_cast<uint16_t>(65535 - v) : v;
        std::memcpy(to, &v, 2);
    } else {
        float v;
        if (l.bits == 64) {
            double d;
            std::memcpy(&d, from, 8);
            v = static_cast<float>(d);
        } else {
            std::memcpy(&v, from, 4);
        }
        v = invert ? 1.0f - v : v;
        std::memcpy(to, &v, 4);
    }
}

// A block of rows x cols pixels decoded at (x0, y0) of plane `plane` (-1:
// all samples interleaved), with `pitch` bytes from one of its rows to the
// next, copied into the result.
void place_block(const Layout& l, const ImageView& out, const unsigned char* block, size_t pitch, uint32_t x0,
                 uint32_t y0, uint32_t cols, uint32_t rows, int plane)
{
    const int in_bytes = l.bits / 8, out_bytes = sample_bytes(l.type);
    const int per_pixel = plane < 0 ? l.spp : 1;
    rows = std::min(rows, l.h - y0);
    cols = std::min(cols, l.w - x0);
    for (uint32_t y = 0; y < rows; ++y) {
        const unsigned char* from = block + y * pitch;
        unsigned char* to = image_row(out, static_cast<int>(y0 + y)) + size_t(x0) * image_pixel_bytes(out);
        for (int c = 0; c < l.channels; ++c) {
            if (plane >= 0 && l.source[c] != plane)
                continue;
            const int at = plane < 0 ? l.source[c] : 0;
            const bool alpha = image_has_alpha(out) && c == l.channels - 1;
            for (uint32_t x = 0; x < cols; ++x)
                put_sample(l, from + (size_t(x) * per_pixel + at) * in_bytes,
                           to + (size_t(x) * l.channels + c) * out_bytes, alpha);
        }
    }
}

// Reads every strip or tile of every plane into the result; false with the
// library's message kept in the file record.
bool read_stored(TIFF* tif, const Layout& l, const ImageView& out)
{
    const bool tiled = TIFFIsTiled(tif);
    const tmsize_t block_size = tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    if (block_size <= 0)
        return false;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[static_cast<size_t>(block_size)]);
    if (!block)
        return false;
    const int planes = l.planar == PLANARCONFIG_SEPARATE ? l.spp : 1;
    uint32_t tile_w = l.w, tile_h = 0;
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_w);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tile_h);
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &tile_h);
        tile_h = std::min(tile_h, l.h);
    }
    if (tile_w == 0 || tile_h == 0)
        return false;
    const size_t pitch = static_cast<size_t>(tiled ? TIFFTileRowSize(tif) : TIFFScanlineSize(tif));
    for (int p = 0; p < planes; ++p)
        for (uint32_t y = 0; y < l.h; y += tile_h)
            for (uint32_t x = 0; x < l.w; x += tile_w) {
                const uint16_t plane = static_cast<uint16_t>(p);
                const tmsize_t got = tiled ? TIFFReadTile(tif, block.get(), x, y, 0, plane)
                                           : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, plane),
                                                                  block.get(), block_size);
                // A short strip or tile would leave rows of the result unset.
                const uint32_t rows = std::min(tile_h, l.h - y);
                if (got < 0 || (!tiled && static_cast<size_t>(got) < pitch * rows))
                    return false;
                place_block(l, out, block.get(), pitch, x, y, tile_w, tile_h, planes > 1 ? p : -1);
            }
    if (l.premultiplied)
        image_unpremultiply(out);
    return true;
}

// libtiff's RGBA reader, asked for the rows as stored. Its pixels have
// associated alpha; the result's is straight. Grey stays grey, palettes and
// all else come out RGB.
bool read_as_rgba(TIFF* tif, ImageBuffer* image, uint16_t orientation, std::string* problem)
{
    char why[1024] = "";
    TIFFRGBAImage img;
    if (!TIFFRGBAImageOK(tif, why) || !TIFFRGBAImageBegin(&img, tif, 0, why)) {
        *problem = std::string("TIFF image of a kind not supported (") + why + ")";
        return false;
    }
    img.req_orientation = orientation;
    const bool grey = img.photometric == PHOTOMETRIC_MINISBLACK || img.photometric == PHOTOMETRIC_MINISWHITE;
    const int channels = (grey ? 1 : 3) + (img.alpha ? 1 : 0);
    std::unique_ptr<uint32_t[]> raster;
    bool ok = image_buffer_make(image, static_cast<int>(img.width), static_cast<int>(img.height), channels, SAMPLE_U8);
    if (ok)
        raster.reset(new (std::nothrow) uint32_t[size_t(img.width) * img.height]);
    if (!raster) {
        TIFFRGBAImageEnd(&img);
        *problem = no_memory_problem(static_cast<int>(img.width), static_cast<int>(img.height));
        return false;
    }
    ok = TIFFRGBAImageGet(&img, raster.get(), img.width, img.height) != 0;
    TIFFRGBAImageEnd(&img);
    if (!ok)
        return false;
    const ImageView& out = image->view;
    for (int y = 0; y < out.height; ++y) {
        unsigned char* row = image_row(out, y);
        for (int x = 0; x < out.width; ++x) {
            const uint32_t v = raster[size_t(y) * out.width + x];
            const unsigned char rgba[4] = {static_cast<unsigned char>(TIFFGetR(v)),
                                           static_cast<unsigned char>(TIFFGetG(v)),
                                           static_cast<unsigned char>(TIFFGetB(v)),
                                           static_cast<unsigned char>(TIFFGetA(v))};
            unsigned char* p = row + x * channels;
            if (grey)
                p[0] = rgba[0];
            else
                std::memcpy(p, rgba, 3);
            if (img.alpha)
                p[channels - 1] = rgba[3];
        }
    }
    if (img.alpha)
        image_unpremultiply(out);
    return true;
}

bool read_first_image(TIFF* tif, ImageBuffer* image, std::string* problem, ImageMeta* meta)
{
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    if (!image_size_allowed(w, h)) {
        *problem = image_size_problem(w, h);
        return false;
    }
    uint32_t icc_size = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &icc_size, &icc) && icc && icc_size > 0) {
        if (icc_size > IMAGE_MAX_ICC) {
            *problem = "not a TIFF image that can be decoded (ICC profile over " + std::to_string(IMAGE_MAX_ICC)
                     + " bytes)";
            return false;
        }
        meta->icc.assign(static_cast<unsigned char*>(icc), static_cast<unsigned char*>(icc) + icc_size);
    }
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    meta->orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    Layout l = {};
    l.w = w;
    l.h = h;
    if (!stored_layout(tif, &l))
        return read_as_rgba(tif, image, static_cast<uint16_t>(meta->orientation), problem);
    if (!image_buffer_make(image, static_cast<int>(w), static_cast<int>(h), l.channels, l.type)) {
        *problem = no_memory_problem(static_cast<int>(w), static_cast<int>(h));
        return false;
    }
    return read_stored(tif, l, image->view);
}

}  // namespace

bool decode_tiff(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem, ImageMeta* meta)
{
    TiffFile f = {data, size, nullptr, 0, "", false};
    TIFF* tif = tiff_open(&f, "rm");
    problem->clear();
    bool ok = tif && read_first_image(tif, image, problem, meta);
    if (ok && f.icc_lost) {
        *problem = "not a TIFF image that can be decoded (its ICC profile cannot be read)";
        ok = false;
    }
    if (tif)
        TIFFClose(tif);
    if (ok)
        return true;
    *image = ImageBuffer();
    *meta = ImageMeta();
    if (problem->empty())
        *problem = "not a TIFF image that can be decoded (" + (f.message.empty() ? "no image data" : f.message) + ")";
    return false;
}

namespace {

bool write_all(TIFF* tif, const ImageView& image, const ImageMeta* meta)
{
    const int n = image.channels;
    const bool alpha = image_has_alpha(image);
    const uint16_t bits = static_cast<uint16_t>(8 * sample_bytes(image.type));
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(n));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, image.type == SAMPLE_F32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, n >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (alpha) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    // Deflate over differences from the left neighbour (floats by their
    // bytes): lossless, and smaller than LZW for photographs and 16 bits.
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, image.type == SAMPLE_F32 ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    if (meta && image_icc_fits(*meta, n))
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(meta->icc.size()), meta->icc.data());
    // TIFFWriteScanline may encode in place: each row goes through a copy.
    const size_t row_bytes = size_t(image.width) * image_pixel_bytes(image);
    std::vector<unsigned char> row(row_bytes);
    for (int y = 0; y < image.height; ++y) {
        std::memcpy(row.data(), image_row(image, y), row_bytes);
        if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) < 0)
            return false;
    }
    return TIFFWriteDirectory(tif) != 0;
}

}  // namespace

bool encode_tiff(const ImageView& image, std::FILE* out, std::string* problem, const ImageMeta* meta)
{
    std::vector<unsigned char> bytes;
    TiffFile f = {nullptr, 0, &bytes, 0, "", false};
    TIFF* tif = tiff_open(&f, "w");
    bool ok = tif && write_all(tif, image, meta);
    if (tif)
        TIFFClose(tif);
    if (!ok) {
        *problem = "TIFF encoder error (" + (f.message.empty() ? std::string("no memory") : f.message) + ")";
        return false;
    }
    // Write errors show on the stream, where the caller looks for them.
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    return true;
}
