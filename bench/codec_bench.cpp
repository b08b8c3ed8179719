// Decoding and encoding of one image in memory: tavrosk's image_decode and
// image_encode next to the bare libraries doing the same work, so that what
// our wrapper adds over libpng, libjpeg-turbo and SDL's BMP code shows.
//
// Usage: codec_bench [--benchmark_... flags] DIR
//   DIR/src.bmp, DIR/src.png, DIR/src.jpg   the image that is decoded;
//   DIR/warped.bmp, DIR/warped-jpeg.bmp     the pixels that are encoded:
//       tavrosk-warp's results for a lossless source and for the JPEG one,
//       which compress differently.
// tavrosk encodes the pixels from the 8-bit R, G, B image view tavrosk-warp
// holds its result in; the libraries encode from the same packed R, G, B
// bytes, SDL from a 32-bit surface with its default masks. Benchmark names: decode/FORMAT/SIDE and
// encode/FORMAT/SIDE/PICTURE. Before timing anything the program checks that
// both sides do the same work: the same decoded pixels, the same JPEG and BMP
// bytes, the same compressed PNG data (IDAT); it exits with status 1 if they
// differ.
//
// The bare libraries: libpng's simplified API (png_image_begin_read_from_memory,
// png_image_finish_read, png_image_write_to_memory, default compression);
// libjpeg-turbo decompressing to R, G, B rows and compressing at quality 92
// with jpeg_set_defaults, as our encoder does; SDL_LoadBMP_RW and
// SDL_SaveBMP_RW on memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "sdl/pixel.h"
#include "io/image_codecs.h"
#include "io/image_io.h"

namespace {

using Bytes = std::vector<unsigned char>;

const int jpeg_quality = 92;  // tavrosk-warp's default

Bytes read_file(const std::string& path)
{
    Bytes bytes;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return bytes;
    unsigned char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(in);
    return bytes;
}

// R, G, B of every pixel, top row first.
Bytes rgb_of(const ImageView& image)
{
    Bytes rgb;
    for (int y = 0; y < image.height; ++y)
        rgb.insert(rgb.end(), image_row(image, y), image_row(image, y) + 3 * static_cast<size_t>(image.width));
    return rgb;
}

// Pixels to encode, in the layouts both sides encode from.
struct Picture {
    std::string name;
    SDL_Surface* xrgb32;  // for SDL's BMP writer
    Bytes rgb;            // packed R, G, B
    ImageView rgb8;       // of rgb
    int w, h;
};

// The inputs, read once.
struct Inputs {
    Bytes file[3];  // by ImageFormat: BMP, PNG, JPEG
    Picture pictures[2];
};
Inputs inputs;

// --- The bare libraries ---------------------------------------------------

Bytes png_library_decode(const Bytes& file)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    Bytes rgb;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
        return rgb;
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        rgb.clear();
    return rgb;
}

// Into out, which is large enough; returns the bytes written, 0 on failure.
size_t png_library_encode(const Bytes& rgb, int w, int h, Bytes* out)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = out->size();
    if (!png_image_write_to_memory(&image, out->data(), &size, 0, rgb.data(), 0, nullptr))
        return 0;
    return size;
}

Bytes jpeg_library_decode(const Bytes& file)
{
    jpeg_decompress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, file.data(), file.size());
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    const size_t stride = static_cast<size_t>(c.output_width) * 3;
    Bytes rgb(stride * c.output_height);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = rgb.data() + stride * c.output_scanline;
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    return rgb;
}

size_t jpeg_library_encode(const Bytes& rgb, int w, int h, Bytes* out)
{
    jpeg_compress_struct c;
    jpeg_error_mgr errors;
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    // A buffer of the caller's: libjpeg-turbo writes into it while it is
    // large enough, and only then allocates one of its own.
    unsigned char* buffer = out->data();
    unsigned long size = out->size();
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, jpeg_quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    const size_t stride = static_cast<size_t>(w) * 3;
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(rgb.data()) + stride * c.next_scanline;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    if (buffer != out->data()) {  // did not fit: never the case for the sizes used here
        std::free(buffer);
        return 0;
    }
    return size;
}

Bytes bmp_library_decode(const Bytes& file)
{
    SDL_Surface* s = SDL_LoadBMP_RW(SDL_RWFromConstMem(file.data(), static_cast<int>(file.size())), 1);
    Bytes rgb;
    if (s) {
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x) {
                Uint8 c[3];
                get_pixel(s, x, y, &c[0], &c[1], &c[2]);
                rgb.insert(rgb.end(), c, c + 3);
            }
        SDL_FreeSurface(s);
    }
    return rgb;
}

size_t bmp_library_encode(SDL_Surface* image, Bytes* out)
{
    SDL_RWops* rw = SDL_RWFromMem(out->data(), static_cast<int>(out->size()));
    if (SDL_SaveBMP_RW(image, rw, 0) != 0) {
        SDL_RWclose(rw);
        return 0;
    }
    size_t size = static_cast<size_t>(SDL_RWtell(rw));
    SDL_RWclose(rw);
    return size;
}

// --- tavrosk's ------------------------------------------------------------

// Through a stream on a fixed buffer, as large as any result here needs.
size_t tavrosk_encode(const ImageView& image, ImageFormat format, Bytes* out)
{
    std::FILE* stream = fmemopen(out->data(), out->size(), "wb");
    if (!stream)
        return 0;
    std::string problem;
    bool ok = image_encode(image, format, jpeg_quality, stream, &problem);
    long size = std::ftell(stream);
    std::fclose(stream);
    return ok && size > 0 ? static_cast<size_t>(size) : 0;
}

// --- Checks that both sides do the same work -------------------------------

// The concatenated data of every chunk of the given type.
Bytes png_chunks(const Bytes& png, const char* type)
{
    Bytes data;
    for (size_t pos = 8; pos + 12 <= png.size();) {
        const unsigned char* p = png.data() + pos;
        size_t length = static_cast<size_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (pos + 12 + length > png.size())
            break;
        if (std::memcmp(p + 4, type, 4) == 0)
            data.insert(data.end(), p + 8, p + 8 + length);
        pos += 12 + length;
    }
    return data;
}

Bytes tavrosk_decode_rgb(const Bytes& file)
{
    std::string problem;
    ImageBuffer image;
    return image_decode(file.data(), file.size(), &image, &problem) ? rgb_of(image.view) : Bytes();
}

Bytes buffer_for(int w, int h)
{
    return Bytes(static_cast<size_t>(w) * h * 4 + (1 << 20));
}

bool same_work()
{
    bool same = true;
    auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "codec_bench: %s\n", what);
            same = false;
        }
    };
    const Bytes& bmp = inputs.file[IMAGE_BMP];
    const Bytes& png = inputs.file[IMAGE_PNG];
    const Bytes& jpeg = inputs.file[IMAGE_JPEG];
    const Bytes bmp_pixels = tavrosk_decode_rgb(bmp);
    check(!bmp_pixels.empty() && bmp_pixels == bmp_library_decode(bmp), "BMP: decoded pixels differ");
    const Bytes png_pixels = tavrosk_decode_rgb(png);
    check(!png_pixels.empty() && png_pixels == png_library_decode(png), "PNG: decoded pixels differ");
    check(png_pixels == bmp_pixels, "src.png does not hold the pixels of src.bmp");
    const Bytes jpeg_pixels = tavrosk_decode_rgb(jpeg);
    check(!jpeg_pixels.empty() && jpeg_pixels == jpeg_library_decode(jpeg), "JPEG: decoded pixels differ");

    for (const Picture& pic : inputs.pictures) {
        const int w = pic.w, h = pic.h;
        Bytes ours = buffer_for(w, h), theirs = buffer_for(w, h);
        for (const ImageView& image : {pic.rgb8}) {
            size_t n = tavrosk_encode(image, IMAGE_BMP, &ours), m = bmp_library_encode(pic.xrgb32, &theirs);
            check(n > 0 && n == m && std::memcmp(ours.data(), theirs.data(), n) == 0, "BMP: encoded bytes differ");
            n = tavrosk_encode(image, IMAGE_JPEG, &ours);
            m = jpeg_library_encode(pic.rgb, w, h, &theirs);
            check(n > 0 && n == m && std::memcmp(ours.data(), theirs.data(), n) == 0, "JPEG: encoded bytes differ");
            n = tavrosk_encode(image, IMAGE_PNG, &ours);
            m = png_library_encode(pic.rgb, w, h, &theirs);
            const Bytes ours_png(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(n));
            const Bytes theirs_png(theirs.begin(), theirs.begin() + static_cast<std::ptrdiff_t>(m));
            check(n > 0 && m > 0 && png_chunks(ours_png, "IDAT") == png_chunks(theirs_png, "IDAT"),
                  "PNG: compressed data (IDAT) differs");
            check(tavrosk_decode_rgb(ours_png) == pic.rgb, "PNG: our encoding does not give the pixels back");
        }
    }
    return same;
}

// --- The benchmarks --------------------------------------------------------

void BM_DecodeTavrosk(benchmark::State& state, ImageFormat format)
{
    const Bytes& file = inputs.file[format];
    for (auto _ : state) {
        std::string problem;
        ImageBuffer image;
        benchmark::DoNotOptimize(image_decode(file.data(), file.size(), &image, &problem));
    }
}

void BM_DecodeLibrary(benchmark::State& state, ImageFormat format)
{
    const Bytes& file = inputs.file[format];
    for (auto _ : state) {
        if (format == IMAGE_BMP) {
            // SDL's own surface, not copied out: that is all the library does.
            SDL_Surface* s = SDL_LoadBMP_RW(SDL_RWFromConstMem(file.data(), static_cast<int>(file.size())), 1);
            benchmark::DoNotOptimize(s);
            SDL_FreeSurface(s);
        } else {
            Bytes rgb = format == IMAGE_PNG ? png_library_decode(file) : jpeg_library_decode(file);
            benchmark::DoNotOptimize(rgb.data());
        }
    }
}

void BM_EncodeTavrosk(benchmark::State& state, ImageFormat format, const Picture* pic, const ImageView* image)
{
    Bytes out = buffer_for(pic->w, pic->h);
    size_t size = 0;
    for (auto _ : state) {
        size = tavrosk_encode(*image, format, &out);
        benchmark::DoNotOptimize(size);
    }
    state.counters["bytes"] = static_cast<double>(size);
}

void BM_EncodeLibrary(benchmark::State& state, ImageFormat format, const Picture* pic)
{
    Bytes out = buffer_for(pic->w, pic->h);
    size_t size = 0;
    for (auto _ : state) {
        if (format == IMAGE_BMP)
            size = bmp_library_encode(pic->xrgb32, &out);
        else if (format == IMAGE_PNG)
            size = png_library_encode(pic->rgb, pic->w, pic->h, &out);
        else
            size = jpeg_library_encode(pic->rgb, pic->w, pic->h, &out);
        benchmark::DoNotOptimize(size);
    }
    state.counters["bytes"] = static_cast<double>(size);
}

bool load_inputs(const std::string& dir)
{
    const char* names[3] = {"src.bmp", "src.png", "src.jpg"};
    for (int f = 0; f < 3; ++f) {
        inputs.file[f] = read_file(dir + "/" + names[f]);
        if (inputs.file[f].empty()) {
            std::fprintf(stderr, "codec_bench: cannot read %s/%s\n", dir.c_str(), names[f]);
            return false;
        }
    }
    const char* pictures[2] = {"warped", "warped-jpeg"};
    for (int i = 0; i < 2; ++i) {
        Picture& pic = inputs.pictures[i];
        pic.name = pictures[i];
        const std::string path = dir + "/" + pic.name + ".bmp";
        std::string problem;
        ImageBuffer warped;
        if (!image_load(path.c_str(), &warped, &problem)) {
            std::fprintf(stderr, "codec_bench: %s: %s\n", path.c_str(), problem.c_str());
            return false;
        }
        pic.w = warped.view.width;
        pic.h = warped.view.height;
        pic.rgb = rgb_of(warped.view);
        pic.rgb8 = image_view_u8(pic.rgb.data(), pic.w, pic.h, 3);
        pic.xrgb32 = SDL_CreateRGBSurface(0, pic.w, pic.h, 32, 0, 0, 0, 0);
        if (!pic.xrgb32)
            return false;
        const unsigned char* p = pic.rgb.data();
        for (int y = 0; y < pic.h; ++y)
            for (int x = 0; x < pic.w; ++x, p += 3)
                put_pixel(pic.xrgb32, x, y, p[0], p[1], p[2]);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: codec_bench [--benchmark_... flags] DIR\n"
                             "DIR holds src.bmp, src.png, src.jpg (decoded), warped.bmp and warped-jpeg.bmp "
                             "(encoded)\n");
        return 2;
    }
    if (!load_inputs(argv[1]) || !same_work())
        return 1;
    static const char* names[3] = {"bmp", "png", "jpeg"};
    std::vector<benchmark::internal::Benchmark*> cases;
    for (ImageFormat f : {IMAGE_BMP, IMAGE_PNG, IMAGE_JPEG}) {
        const std::string n = names[f];
        cases.push_back(benchmark::RegisterBenchmark(("decode/" + n + "/tavrosk").c_str(), BM_DecodeTavrosk, f));
        cases.push_back(benchmark::RegisterBenchmark(("decode/" + n + "/library").c_str(), BM_DecodeLibrary, f));
        for (const Picture& pic : inputs.pictures) {
            const std::string suffix = "/" + pic.name;
            cases.push_back(benchmark::RegisterBenchmark(("encode/" + n + "/tavrosk" + suffix).c_str(),
                                                         BM_EncodeTavrosk, f, &pic, &pic.rgb8));
            cases.push_back(benchmark::RegisterBenchmark(("encode/" + n + "/library" + suffix).c_str(),
                                                         BM_EncodeLibrary, f, &pic));
        }
    }
    // The least time besides the median: on a shared machine other work only
    // ever adds to a repetition's time.
    for (auto* b : cases)
        b->Unit(benchmark::kMillisecond)->ComputeStatistics("min", [](const std::vector<double>& v) {
            return *std::min_element(v.begin(), v.end());
        });
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (Picture& pic : inputs.pictures)
        SDL_FreeSurface(pic.xrgb32);
    return 0;
}
