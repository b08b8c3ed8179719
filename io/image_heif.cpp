// HEIF and AVIF through libheif (HEVC by libde265, AV1 by dav1d or aom). The
// library crashes on some damaged files, so decoding runs in a child
// process that sends what it decoded through a pipe:
//   a HeifReply; then, when it says so, the message (a refusal) or the
//   pixels (rows packed), the ICC profile and the Exif block.
// The parent believes nothing of it it has not checked: sizes against the
// size rule before it allocates, every length against its limit, and a
// child that dies, stops early or outlives its time is a refusal. The child
// never returns into the caller's code: it ends with _exit, so that no
// stream buffer or exit handler of the parent runs twice.
#include <libheif/heif.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "io/exif.h"
#include "io/image_codecs.h"

namespace {

enum { MAX_MESSAGE = 400, MAX_EXIF = 1 << 20 };

struct HeifReply {
    uint32_t refused;  // 1: a message of message_size bytes follows
    uint32_t message_size;
    int32_t width, height, channels, bits16;
    uint32_t icc_size, exif_size;
};

// ---- the child ----

bool write_fully(int fd, const void* data, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void send_refusal(int fd, const std::string& message)
{
    HeifReply reply = {};
    reply.refused = 1;
    reply.message_size = static_cast<uint32_t>(std::min<size_t>(message.size(), MAX_MESSAGE));
    write_fully(fd, &reply, sizeof reply) && write_fully(fd, message.data(), reply.message_size);
}

// libheif's messages may end in a newline or hold several lines: one line here.
std::string heif_words(const heif_error& error)
{
    std::string words = error.message ? error.message : "unknown error";
    std::replace(words.begin(), words.end(), '\n', ' ');
    while (!words.empty() && words.back() == ' ')
        words.pop_back();
    return "not a HEIF image that can be decoded (" + words + ")";
}

// The Exif item's bytes begin with the offset of the TIFF header after them.
std::vector<unsigned char> exif_block(const heif_image_handle* handle)
{
    heif_item_id id;
    std::vector<unsigned char> item, block;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) != 1)
        return block;
    item.resize(heif_image_handle_get_metadata_size(handle, id));
    if (item.size() < 4 || heif_image_handle_get_metadata(handle, id, item.data()).code != heif_error_Ok)
        return block;
    const uint32_t skip = static_cast<uint32_t>(item[0]) << 24 | item[1] << 16 | item[2] << 8 | item[3];
    if (skip < item.size() - 4)
        block.assign(item.begin() + 4 + skip, item.end());
    return block;
}

// Little-endian samples of `bits` bits (9 to 16), in place, as 16-bit
// samples in the host's order scaled to the full range to the nearest level.
void widen_to_16(unsigned char* samples, size_t count, int bits)
{
    const uint32_t max = (1u << bits) - 1;
    for (size_t i = 0; i < count; ++i) {
        unsigned char* p = samples + 2 * i;
        const uint32_t v = std::min<uint32_t>(p[0] | p[1] << 8, max);
        const uint16_t wide = static_cast<uint16_t>((v * 65535u + max / 2) / max);
        std::memcpy(p, &wide, 2);
    }
}

// Decodes the primary image and sends it; a refusal is sent as a message.
void decode_and_send(int fd, const unsigned char* data, size_t size, bool as_stored)
{
    heif_context* ctx = heif_context_alloc();
    heif_context_set_maximum_image_size_limit(ctx, IMAGE_MAX_SIDE);
    heif_image_handle* handle = nullptr;
    heif_error error = heif_context_read_from_memory_without_copy(ctx, data, size, nullptr);
    if (error.code == heif_error_Ok)
        error = heif_context_get_primary_image_handle(ctx, &handle);
    if (error.code != heif_error_Ok)
        return send_refusal(fd, heif_words(error));
    const int w = heif_image_handle_get_width(handle), h = heif_image_handle_get_height(handle);
    if (!image_size_allowed(w, h))
        return send_refusal(fd, image_size_problem(w, h));
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
    const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_decoding_options* options = heif_decoding_options_alloc();
    options->ignore_transformations = as_stored;
    heif_image* image = nullptr;
    error = heif_decode_image(handle, &image, heif_colorspace_RGB, chroma, options);
    heif_decoding_options_free(options);
    if (error.code != heif_error_Ok)
        return send_refusal(fd, heif_words(error));
    HeifReply reply = {};
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    reply.width = heif_image_get_width(image, heif_channel_interleaved);
    reply.height = heif_image_get_height(image, heif_channel_interleaved);
    reply.channels = alpha ? 4 : 3;
    reply.bits16 = deep;
    const int bits = heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved);
    if (!plane || !image_size_allowed(reply.width, reply.height) || (deep && (bits <= 8 || bits > 16)))
        return send_refusal(fd, "not a HEIF image that can be decoded (unexpected pixel layout)");
    std::vector<unsigned char> icc(heif_image_handle_get_raw_color_profile_size(handle));
    if (!icc.empty() && heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
        icc.clear();
    const std::vector<unsigned char> exif = exif_block(handle);
    reply.icc_size = static_cast<uint32_t>(icc.size());
    reply.exif_size = static_cast<uint32_t>(exif.size());
    if (!write_fully(fd, &reply, sizeof reply))
        return;
    // libheif hands colour over as stored, multiplied by alpha where the
    // file says it is; the result's alpha is straight.
    const bool premultiplied = alpha && heif_image_is_premultiplied_alpha(image);
    const size_t row_bytes = size_t(reply.width) * reply.channels * (deep ? 2 : 1);
    std::vector<unsigned char> row(row_bytes);
    for (int y = 0; y < reply.height; ++y) {
        std::memcpy(row.data(), plane + size_t(y) * stride, row_bytes);
        if (deep)
            widen_to_16(row.data(), row_bytes / 2, bits);
        if (premultiplied) {
            const ImageView line = {row.data(), reply.width, 1, static_cast<std::ptrdiff_t>(row_bytes), reply.channels,
                                    deep ? SAMPLE_U16 : SAMPLE_U8};
            image_unpremultiply(line);
        }
        if (!write_fully(fd, row.data(), row_bytes))
            return;
    }
    write_fully(fd, icc.data(), icc.size()) && write_fully(fd, exif.data(), exif.size());
    // The context, handle and image go with the process.
}

// ---- the parent ----

double now_seconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

enum ReadResult { READ_OK, READ_ENDED, READ_TIMED_OUT, READ_FAILED };

// Reads exactly size bytes before the deadline.
ReadResult read_fully(int fd, void* to, size_t size, double deadline)
{
    unsigned char* p = static_cast<unsigned char*>(to);
    while (size > 0) {
        const double left = deadline - now_seconds();
        if (left <= 0)
            return READ_TIMED_OUT;
        pollfd wait_for = {fd, POLLIN, 0};
        // In doubles first: a caller's deadline may lie beyond an int of milliseconds.
        const int ready = poll(&wait_for, 1, static_cast<int>(std::min(left * 1000, 1e9)) + 1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return READ_FAILED;
        if (ready == 0)
            continue;
        const ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return READ_FAILED;
        if (n == 0)
            return READ_ENDED;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return READ_OK;
}

// Everything the child sends, checked; *problem names a refusal the child
// sent or what was wrong with the reply.
ReadResult receive(int fd, double deadline, ImageBuffer* image, std::vector<unsigned char>* icc,
                   std::vector<unsigned char>* exif, std::string* problem)
{
    HeifReply r;
    ReadResult got = read_fully(fd, &r, sizeof r, deadline);
    if (got != READ_OK)
        return got;
    if (r.refused) {
        if (r.message_size > MAX_MESSAGE)
            return READ_FAILED;
        problem->assign(r.message_size, ' ');
        return read_fully(fd, &(*problem)[0], r.message_size, deadline);
    }
    if (!image_size_allowed(r.width, r.height)) {
        *problem = image_size_problem(r.width, r.height);
        return READ_FAILED;
    }
    if ((r.channels != 3 && r.channels != 4) || r.bits16 < 0 || r.bits16 > 1 || r.icc_size > IMAGE_MAX_ICC
        || r.exif_size > MAX_EXIF)
        return READ_FAILED;
    if (!image_buffer_make(image, r.width, r.height, r.channels, r.bits16 ? SAMPLE_U16 : SAMPLE_U8)) {
        *problem = no_memory_problem(r.width, r.height);
        return READ_FAILED;
    }
    const size_t row_bytes = size_t(r.width) * image_pixel_bytes(image->view);
    for (int y = 0; y < r.height && got == READ_OK; ++y)
        got = read_fully(fd, image_row(image->view, y), row_bytes, deadline);
    icc->resize(r.icc_size);
    exif->resize(r.exif_size);
    if (got == READ_OK)
        got = read_fully(fd, icc->data(), icc->size(), deadline);
    if (got == READ_OK)
        got = read_fully(fd, exif->data(), exif->size(), deadline);
    return got;
}

// Why the child ended, in words; "" for a clean exit.
std::string child_death(int status)
{
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return "";
    if (WIFSIGNALED(status))
        return "the HEIF decoder crashed on this file (signal " + std::to_string(WTERMSIG(status)) + ", "
             + strsignal(WTERMSIG(status)) + ")";
    return "the HEIF decoder failed on this file (status " + std::to_string(WEXITSTATUS(status)) + ")";
}

}  // namespace

bool decode_heif(const unsigned char* data, size_t size, ImageBuffer* image, std::string* problem, ImageMeta* meta,
                 bool as_stored, int seconds)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *problem = std::string("cannot start the HEIF decoder: ") + std::strerror(errno);
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        // The parent's handlers would clean up the parent's files.
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
            signal(sig, SIG_DFL);
        close(fds[0]);
        decode_and_send(fds[1], data, size, as_stored);
        _exit(0);
    }
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        *problem = std::string("cannot start the HEIF decoder: ") + std::strerror(errno);
        return false;
    }
    std::vector<unsigned char> icc, exif;
    problem->clear();
    const ReadResult got = receive(fds[0], now_seconds() + seconds, image, &icc, &exif, problem);
    close(fds[0]);
    // A child that sent too little or nonsense may still be running.
    if (got == READ_TIMED_OUT || got == READ_FAILED)
        kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string death = got == READ_TIMED_OUT || got == READ_FAILED ? "" : child_death(status);
    const bool refused = got != READ_OK || !problem->empty() || !death.empty();
    if (!refused) {
        meta->icc = std::move(icc);
        if (!exif.empty())
            exif_for_result(exif.data(), exif.size(), &meta->exif);
        return true;
    }
    *image = ImageBuffer();
    *meta = ImageMeta();
    if (got == READ_TIMED_OUT)
        *problem = "the HEIF decoder took over " + std::to_string(seconds) + " seconds on this file";
    else if (!death.empty())
        *problem = death;
    else if (problem->empty())
        *problem = "not a HEIF image that can be decoded (the decoder's reply was cut short or malformed)";
    return false;
}

namespace {

heif_error write_to_stream(heif_context*, const void* data, size_t size, void* stream)
{
    // Write errors show on the stream, where the caller looks for them.
    std::fwrite(data, 1, size, static_cast<std::FILE*>(stream));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

heif_error encode_into(heif_context* ctx, heif_encoder* encoder, const ImageView& rgb, const ImageMeta* meta)
{
    const bool alpha = rgb.channels == 4;
    heif_image* image = nullptr;
    heif_error error = heif_image_create(rgb.width, rgb.height, heif_colorspace_RGB,
                                         alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image);
    if (error.code == heif_error_Ok)
        error = heif_image_add_plane(image, heif_channel_interleaved, rgb.width, rgb.height, 8);
    if (error.code != heif_error_Ok) {
        heif_image_release(image);
        return error;
    }
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height; ++y)
        std::memcpy(plane + size_t(y) * stride, image_row(rgb, y), size_t(rgb.width) * rgb.channels);
    if (meta && image_icc_fits(*meta))
        heif_image_set_raw_color_profile(image, "prof", meta->icc.data(), meta->icc.size());
    heif_image_handle* handle = nullptr;
    error = heif_context_encode_image(ctx, image, encoder, nullptr, &handle);
    if (error.code == heif_error_Ok && meta && !meta->exif.empty())
        error = heif_context_add_exif_metadata(ctx, handle, meta->exif.data(), static_cast<int>(meta->exif.size()));
    heif_image_handle_release(handle);
    heif_image_release(image);
    return error;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// x265 3.5 leaves one block of its own per encoder it opens; that is
// Debian's library, not this code, so LeakSanitizer is told to pass it.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libx265.so\n";
}
#endif

bool heif_can_write(bool avif)
{
    return heif_have_encoder_for_format(avif ? heif_compression_AV1 : heif_compression_HEVC) != 0;
}

bool encode_heif(const ImageView& image, bool avif, int quality, std::FILE* out, std::string* problem,
                 const ImageMeta* meta)
{
    const char* name = avif ? "AVIF" : "HEIF";
    if (!heif_can_write(avif)) {
        *problem = std::string("this build of libheif cannot write ") + name + " images (it has no "
                 + (avif ? "AV1" : "HEVC") + " encoder)";
        return false;
    }
    ImageBuffer rgb;
    if (!image_to_rgb8(image, &rgb)) {
        *problem = no_memory_problem(image.width, image.height);
        return false;
    }
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_error error = heif_context_get_encoder_for_format(ctx, avif ? heif_compression_AV1 : heif_compression_HEVC,
                                                           &encoder);
    if (error.code == heif_error_Ok)
        error = heif_encoder_set_lossy_quality(encoder, quality);
    if (error.code == heif_error_Ok)
        error = encode_into(ctx, encoder, rgb.view, meta);
    if (error.code == heif_error_Ok) {
        heif_writer writer = {1, write_to_stream};
        error = heif_context_write(ctx, &writer, out);
    }
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(ctx);
    if (error.code != heif_error_Ok)
        *problem = std::string(name) + " encoder error (" + (error.message ? error.message : "unknown") + ")";
    return error.code == heif_error_Ok;
}
