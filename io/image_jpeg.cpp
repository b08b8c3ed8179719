// JPEG through libjpeg-turbo. The library's error_exit is replaced by one
// that keeps the message and longjmps back; each setjmp sits in a function
// whose frame holds no C++ object with a destructor, with the state in a
// plain record owned by the caller. Warnings are silent, except the end of
// the data ("Premature end of JPEG file"), on which libjpeg would pad the
// image with grey: here it fails the decode as truncated data. The APP1
// Exif and APP2 ICC_PROFILE markers are kept while the header is read and
// copied out before the library frees them.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "io/exif.h"
#include "io/image_codecs.h"

namespace {

// More scans than any encoder writes; each scan of a progressive image goes
// over the whole image, so a small file with thousands of empty scans would
// otherwise take minutes.
enum { MAX_SCANS = 100 };

enum JpegOutcome {
    JPEG_DONE,
    JPEG_FAILED,
    JPEG_TRUNCATED,
    JPEG_CMYK,
    JPEG_TOO_LARGE,
    JPEG_NO_MEMORY,
    JPEG_TOO_MANY_SCANS,
    JPEG_BAD_ICC
};

enum { EXIF_HEAD = 6, MAX_MARKER_DATA = 65533 };  // "Exif\0\0"; a marker's length field counts itself

// The library's error manager first, so that cinfo->err leads back here.
struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    JpegOutcome outcome;
    char text[JMSG_LENGTH_MAX];
};

void jpeg_fail(j_common_ptr cinfo)
{
    JpegErrors* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, e->text);
    e->outcome = JPEG_FAILED;
    std::longjmp(e->jump, 1);
}

void jpeg_note(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    JpegErrors* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    ++e->mgr.num_warnings;
    if (e->mgr.msg_code == JWRN_JPEG_EOF) {
        e->outcome = JPEG_TRUNCATED;
        std::longjmp(e->jump, 1);
    }
}

void install_errors(JpegErrors* e, j_common_ptr cinfo)
{
    cinfo->err = jpeg_std_error(&e->mgr);
    // Both of the library's callers of output_message are replaced, so
    // nothing is ever printed.
    e->mgr.error_exit = jpeg_fail;
    e->mgr.emit_message = jpeg_note;
}

void jpeg_count_scans(j_common_ptr cinfo)
{
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > MAX_SCANS) {
        JpegErrors* e = reinterpret_cast<JpegErrors*>(cinfo->err);
        e->outcome = JPEG_TOO_MANY_SCANS;
        std::longjmp(e->jump, 1);
    }
}

struct JpegRead {
    JpegErrors errors;
    jpeg_decompress_struct cinfo;
    jpeg_progress_mgr progress;
    const unsigned char* data;
    size_t size;
    ImageBuffer* image;  // the caller's, filled here
    JDIMENSION w, h;
    // malloc'd copies, freed by the caller: the first Exif block (without
    // its six-byte head) and the ICC profile.
    unsigned char* exif;
    size_t exif_size;
    JOCTET* icc;
    unsigned int icc_size;
};

// The markers the header held, copied before the library frees them.
void jpeg_copy_markers(JpegRead* r)
{
    j_decompress_ptr c = &r->cinfo;
    bool has_icc = false;
    for (jpeg_saved_marker_ptr m = c->marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && !r->exif && m->data_length > EXIF_HEAD
            && std::memcmp(m->data, "Exif\0\0", EXIF_HEAD) == 0) {
            r->exif_size = m->data_length - EXIF_HEAD;
            r->exif = static_cast<unsigned char*>(std::malloc(r->exif_size));
            if (r->exif)
                std::memcpy(r->exif, m->data + EXIF_HEAD, r->exif_size);
        }
        has_icc = has_icc || (m->marker == JPEG_APP0 + 2 && m->data_length >= 14
                              && std::memcmp(m->data, "ICC_PROFILE", 12) == 0);
    }
    // False both without a profile and with broken markers (numbers missing
    // or repeated), which would lose the colour description: refused.
    if (has_icc && !jpeg_read_icc_profile(c, &r->icc, &r->icc_size))
        r->errors.outcome = JPEG_BAD_ICC;
}

// From the header to the end marker; libjpeg may longjmp out of it.
void jpeg_read_all(JpegRead* r)
{
    j_decompress_ptr c = &r->cinfo;
    jpeg_mem_src(c, r->data, r->size);
    jpeg_save_markers(c, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(c, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(c, TRUE);
    jpeg_copy_markers(r);
    if (r->errors.outcome == JPEG_BAD_ICC)
        return;
    if (c->jpeg_color_space == JCS_CMYK || c->jpeg_color_space == JCS_YCCK) {
        r->errors.outcome = JPEG_CMYK;
        return;
    }
    r->w = c->image_width;
    r->h = c->image_height;
    if (!image_size_allowed(r->w, r->h)) {
        r->errors.outcome = JPEG_TOO_LARGE;
        return;
    }
    // Only the output colour space is set, so the pixels are libjpeg-turbo's
    // defaults: the accurate integer inverse DCT (JDCT_ISLOW) and smooth
    // ("fancy") chroma upsampling. Grey stays one channel.
    const int channels = c->jpeg_color_space == JCS_GRAYSCALE ? 1 : 3;
    c->out_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(c);
    if (c->output_components != channels || c->output_width != r->w || c->output_height != r->h) {
        std::snprintf(r->errors.text, sizeof r->errors.text, "unexpected output layout");
        return;
    }
    if (!image_buffer_make(r->image, static_cast<int>(r->w), static_cast<int>(r->h), channels, SAMPLE_U8)) {
        r->errors.outcome = JPEG_NO_MEMORY;
        return;
    }
    while (c->output_scanline < c->output_height) {
        JSAMPROW row = image_row(r->image->view, static_cast<int>(c->output_scanline));
        jpeg_read_scanlines(c, &row, 1);
    }
    // Reads on to the end marker, so that a cut after the last scan shows.
    jpeg_finish_decompress(c);
    r->errors.outcome = JPEG_DONE;
}

void jpeg_read_guarded(JpegRead* r)
{
    install_errors(&r->errors, reinterpret_cast<j_common_ptr>(&r->cinfo));
    if (setjmp(r->errors.jump))
        return;
    jpeg_create_decompress(&r->cinfo);
    r->progress.progress_monitor = jpeg_count_scans;
    r->cinfo.progress = &r->progress;
    jpeg_read_all(r);
}

struct JpegWrite {
    JpegErrors errors;
    jpeg_compress_struct cinfo;
    const ImageView* image;  // 8-bit grey or R, G, B
    std::FILE* out;
    int quality;
    // Written after the header, owned by the caller: the APP1 Exif marker's
    // data and the ICC profile; sizes 0 for none.
    const unsigned char* exif;
    unsigned int exif_size;
    const unsigned char* icc;
    unsigned int icc_size;
    std::atomic<long long>* rows_done;  // or NULL
};

void jpeg_write_all(JpegWrite* wr)
{
    j_compress_ptr c = &wr->cinfo;
    jpeg_stdio_dest(c, wr->out);
    const ImageView& image = *wr->image;
    c->image_width = static_cast<JDIMENSION>(image.width);
    c->image_height = static_cast<JDIMENSION>(image.height);
    c->in_color_space = image.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    c->input_components = image.channels;
    // Defaults: YCbCr with 2 x 2 chroma subsampling (4:2:0), or one grey
    // component; baseline.
    jpeg_set_defaults(c);
    jpeg_set_quality(c, wr->quality, TRUE);
    jpeg_start_compress(c, TRUE);
    if (wr->exif_size > 0)
        jpeg_write_marker(c, JPEG_APP0 + 1, wr->exif, wr->exif_size);
    if (wr->icc_size > 0)
        jpeg_write_icc_profile(c, wr->icc, wr->icc_size);
    while (c->next_scanline < c->image_height) {
        JSAMPROW row = image_row(image, static_cast<int>(c->next_scanline));
        jpeg_write_scanlines(c, &row, 1);
        if (wr->rows_done)
            ++*wr->rows_done;
    }
    jpeg_finish_compress(c);
    wr->errors.outcome = JPEG_DONE;
}

void jpeg_write_guarded(JpegWrite* wr)
{
    install_errors(&wr->errors, reinterpret_cast<j_common_ptr>(&wr->cinfo));
    if (setjmp(wr->errors.jump))
        return;
    jpeg_create_compress(&wr->cinfo);
    jpeg_write_all(wr);
}

}  // namespace

bool decode_jpeg(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem,
                 ImageMeta* meta)
{
    JpegRead r = {};
    r.data = data;
    r.size = size;
    r.image = image;
    r.errors.outcome = JPEG_FAILED;
    jpeg_read_guarded(&r);
    jpeg_destroy_decompress(&r.cinfo);
    if (r.errors.outcome == JPEG_DONE) {
        if (r.icc)
            meta->icc.assign(r.icc, r.icc + r.icc_size);
        if (r.exif) {
            meta->orientation = exif_orientation(r.exif, r.exif_size);
            exif_for_result(r.exif, r.exif_size, &meta->exif);
        }
    }
    std::free(r.exif);
    std::free(r.icc);
    switch (r.errors.outcome) {
    case JPEG_DONE:
        return true;
    case JPEG_BAD_ICC:
        *problem = "not a JPEG image that can be decoded (its ICC profile markers are broken)";
        break;
    case JPEG_TRUNCATED:
        *problem = "truncated JPEG data";
        break;
    case JPEG_CMYK:
        *problem = "CMYK JPEG images are not supported";
        break;
    case JPEG_TOO_LARGE:
        *problem = image_size_problem(r.w, r.h);
        break;
    case JPEG_NO_MEMORY:
        *problem = no_memory_problem(static_cast<int>(r.w), static_cast<int>(r.h));
        break;
    case JPEG_TOO_MANY_SCANS:
        *problem = "JPEG image with more than " + std::to_string(MAX_SCANS) + " scans";
        break;
    case JPEG_FAILED:
        *problem = std::string("not a JPEG image that can be decoded (") + r.errors.text + ")";
        break;
    }
    *image = ImageBuffer();
    return false;
}

bool encode_jpeg(const ImageView& image, int quality, std::FILE* out, std::string* problem, const ImageMeta* meta,
                 std::atomic<long long>* rows_done)
{
    std::vector<unsigned char> exif;
    JpegWrite wr = {};
    if (meta && !meta->exif.empty() && meta->exif.size() <= MAX_MARKER_DATA - EXIF_HEAD) {
        exif.assign(reinterpret_cast<const unsigned char*>("Exif\0\0"),
                    reinterpret_cast<const unsigned char*>("Exif\0\0") + EXIF_HEAD);
        exif.insert(exif.end(), meta->exif.begin(), meta->exif.end());
        wr.exif = exif.data();
        wr.exif_size = static_cast<unsigned int>(exif.size());
    }
    if (meta && image_icc_fits(*meta, image.channels) && meta->icc.size() <= IMAGE_MAX_ICC) {
        wr.icc = meta->icc.data();
        wr.icc_size = static_cast<unsigned int>(meta->icc.size());
    }
    wr.image = &image;
    wr.out = out;
    wr.quality = quality;
    wr.rows_done = rows_done;
    wr.errors.outcome = JPEG_FAILED;
    jpeg_write_guarded(&wr);
    jpeg_destroy_compress(&wr.cinfo);
    if (wr.errors.outcome != JPEG_DONE)
        *problem = std::string("JPEG encoder error (") + wr.errors.text + ")";
    return wr.errors.outcome == JPEG_DONE;
}
