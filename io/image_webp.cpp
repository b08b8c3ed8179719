// WebP through libwebp: the pixels by its decoder and encoder, the ICCP and
// EXIF chunks of the extended format by its demuxer and muxer. The decoder
// gives 8-bit RGB, or RGBA when the file has alpha, with the library's
// default (smooth) chroma upsampling, as dwebp gives them.
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>

#include "io/exif.h"
#include "io/image_codecs.h"

namespace {

const char* status_words(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY:
        return "out of memory";
    case VP8_STATUS_BITSTREAM_ERROR:
        return "bitstream error";
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return "unsupported feature";
    default:
        return "invalid data";
    }
}

std::string webp_problem(VP8StatusCode status)
{
    if (status == VP8_STATUS_NOT_ENOUGH_DATA)
        return "truncated WebP data";
    return std::string("not a WebP image that can be decoded (") + status_words(status) + ")";
}

// The first chunk of that kind, or none.
std::vector<unsigned char> chunk_of(const WebPDemuxer* demux, const char* kind)
{
    std::vector<unsigned char> body;
    WebPChunkIterator it;
    if (WebPDemuxGetChunk(demux, kind, 1, &it))
        body.assign(it.chunk.bytes, it.chunk.bytes + it.chunk.size);
    WebPDemuxReleaseChunkIterator(&it);
    return body;
}

// The ICC profile and Exif block of an extended file. False when the file
// says it has a profile that cannot be found (the container is damaged):
// the image would be shown in other colours without it.
bool read_chunks(const unsigned char* data, size_t size, ImageMeta* meta, std::string* problem)
{
    WebPData whole = {data, size};
    WebPDemuxer* demux = WebPDemux(&whole);
    // Byte 20 holds the extended header's flags when a VP8X chunk comes first.
    const bool says_icc = size > 20 && std::memcmp(data + 12, "VP8X", 4) == 0 && (data[20] & ICCP_FLAG);
    if (!demux) {
        if (says_icc)
            *problem = "not a WebP image that can be decoded (its chunks cannot be read)";
        return !says_icc;
    }
    meta->icc = chunk_of(demux, "ICCP");
    std::vector<unsigned char> exif = chunk_of(demux, "EXIF");
    WebPDemuxDelete(demux);
    if (meta->icc.size() > IMAGE_MAX_ICC) {
        *problem = "not a WebP image that can be decoded (ICC profile over " + std::to_string(IMAGE_MAX_ICC)
                 + " bytes)";
        return false;
    }
    // Some writers keep JPEG's "Exif\0\0" before the TIFF block.
    const size_t skip = exif.size() >= 6 && std::memcmp(exif.data(), "Exif\0\0", 6) == 0 ? 6 : 0;
    if (exif.size() > skip) {
        meta->orientation = exif_orientation(exif.data() + skip, exif.size() - skip);
        exif_for_result(exif.data() + skip, exif.size() - skip, &meta->exif);
    }
    return true;
}

// An RGBA image whose pixels are all opaque made RGB; false when memory
// runs out.
bool rgb_where_opaque(ImageBuffer* image)
{
    const ImageView& v = image->view;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            if (image_row(v, y)[4 * x + 3] != 255)
                return true;
    ImageBuffer rgb;
    if (!image_buffer_make(&rgb, v.width, v.height, 3, SAMPLE_U8))
        return false;
    for (int y = 0; y < v.height; ++y)
        for (int x = 0; x < v.width; ++x)
            std::memcpy(image_row(rgb.view, y) + 3 * x, image_row(v, y) + 4 * x, 3);
    *image = std::move(rgb);
    return true;
}

}  // namespace

bool decode_webp(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem, ImageMeta* meta)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) {
        *problem = "WebP decoder of another version";
        return false;
    }
    VP8StatusCode status = WebPGetFeatures(data, size, &config.input);
    if (status != VP8_STATUS_OK) {
        *problem = webp_problem(status);
        return false;
    }
    const WebPBitstreamFeatures& f = config.input;
    if (f.has_animation) {
        *problem = "animated WebP images are not supported";
        return false;
    }
    if (!image_size_allowed(f.width, f.height)) {
        *problem = image_size_problem(f.width, f.height);
        return false;
    }
    if (!read_chunks(data, size, meta, problem)) {
        *meta = ImageMeta();
        return false;
    }
    // Decoded as RGBA whatever the header says: a lossless stream without
    // the alpha flag can still hold transparent pixels (a palette index
    // past the palette's end is transparent black), and dwebp keeps them.
    if (!image_buffer_make(image, f.width, f.height, 4, SAMPLE_U8)) {
        *meta = ImageMeta();
        *problem = no_memory_problem(f.width, f.height);
        return false;
    }
    WebPRGBABuffer& out = config.output.u.RGBA;
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    out.rgba = image->view.pixels;
    out.stride = static_cast<int>(image->view.stride);
    out.size = static_cast<size_t>(image->view.stride) * f.height;
    status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status == VP8_STATUS_OK && (f.has_alpha || rgb_where_opaque(image)))
        return true;
    *problem = status == VP8_STATUS_OK ? no_memory_problem(f.width, f.height) : webp_problem(status);
    *image = ImageBuffer();
    *meta = ImageMeta();
    return false;
}

namespace {

const char* encoder_words(WebPEncodingError error)
{
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
        return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION:
        return "image too large for WebP";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW:
        return "a partition overflowed; use a lower quality";
    default:
        return "encoding failed";
    }
}

// The encoded image with the profile and Exif block in the extended
// format's chunks; false when the muxer fails.
bool add_chunks(const WebPMemoryWriter& bitstream, const ImageMeta& meta, WebPData* assembled)
{
    const WebPData image = {bitstream.mem, bitstream.size};
    WebPMux* mux = WebPMuxCreate(&image, 0);
    bool ok = mux != nullptr;
    if (ok && image_icc_fits(meta)) {
        const WebPData icc = {meta.icc.data(), meta.icc.size()};
        ok = WebPMuxSetChunk(mux, "ICCP", &icc, 0) == WEBP_MUX_OK;
    }
    if (ok && !meta.exif.empty()) {
        const WebPData exif = {meta.exif.data(), meta.exif.size()};
        ok = WebPMuxSetChunk(mux, "EXIF", &exif, 0) == WEBP_MUX_OK;
    }
    ok = ok && WebPMuxAssemble(mux, assembled) == WEBP_MUX_OK;
    WebPMuxDelete(mux);
    return ok;
}

}  // namespace

bool encode_webp(const ImageView& image, int quality, std::FILE* out, std::string* problem, const ImageMeta* meta)
{
    ImageBuffer rgb;
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) {
        *problem = "WebP encoder of another version";
        return false;
    }
    if (!image_to_rgb8(image, &rgb)) {
        *problem = no_memory_problem(image.width, image.height);
        return false;
    }
    // Lossless keeps the colour under fully transparent pixels too (exact),
    // so that what is written is what was there.
    config.lossless = quality == 0;
    config.exact = config.lossless;
    config.quality = quality == 0 ? 75.0f : static_cast<float>(quality);
    picture.use_argb = config.lossless;
    picture.width = image.width;
    picture.height = image.height;
    const int stride = static_cast<int>(rgb.view.stride);
    const bool imported = rgb.view.channels == 4 ? WebPPictureImportRGBA(&picture, rgb.view.pixels, stride)
                                                 : WebPPictureImportRGB(&picture, rgb.view.pixels, stride);
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    bool ok = imported && WebPEncode(&config, &picture);
    if (!ok)
        *problem = std::string("WebP encoder error (") + (imported ? encoder_words(picture.error_code) : "out of memory")
                 + ")";
    WebPPictureFree(&picture);
    WebPData assembled;
    WebPDataInit(&assembled);
    const bool chunks = ok && meta && (image_icc_fits(*meta) || !meta->exif.empty());
    if (chunks && !add_chunks(writer, *meta, &assembled)) {
        *problem = "WebP encoder error (cannot add the ICC profile or Exif block)";
        ok = false;
    }
    // Write errors show on the stream, where the caller looks for them.
    if (ok && chunks)
        std::fwrite(assembled.bytes, 1, assembled.size, out);
    else if (ok)
        std::fwrite(writer.mem, 1, writer.size, out);
    WebPDataClear(&assembled);
    WebPMemoryWriterClear(&writer);
    return ok;
}
