// What travels beside the pixels: every Exif orientation loads as viewed
// (JPEGs with the Exif block written by hand), the Exif a result carries,
// ICC profiles and PNG colour chunks read and written back byte for byte,
// broken descriptions refused, and what each format cannot carry.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>

#include "io/exif.h"
#include "tests/io/image_test.h"

namespace {

Bytes encode_meta(SDL_Surface* image, ImageFormat format, const ImageMeta& meta)
{
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    std::string problem;
    const bool ok = encode_surface(image, format, 95, out, &problem, &meta);
    std::fclose(out);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    EXPECT_TRUE(ok) << problem;
    return bytes;
}

SurfacePtr decode_meta(const Bytes& bytes, ImageMeta* meta, ImageOrientation orientation = IMAGE_AS_VIEWED)
{
    std::string problem;
    SurfacePtr s(decode_surface(bytes.data(), bytes.size(), &problem, meta, orientation));
    EXPECT_TRUE(s) << problem;
    return s;
}

// A 48 x 32 JPEG of six 16 x 16 blocks of flat colour, named A B C over
// D E F; whole MCUs, so that each block's middle keeps its colour.
const uint8_t block_colours[6][3] = {{220, 30, 30}, {30, 200, 40}, {40, 50, 220},
                                     {230, 230, 40}, {30, 210, 210}, {210, 40, 200}};

Bytes six_blocks_jpeg()
{
    JpegSample j = {48, 32, 3, false, false, false, 0, 95, 0, {}};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            j.samples.insert(j.samples.end(), block_colours[y / 16 * 3 + x / 16], block_colours[y / 16 * 3 + x / 16] + 3);
    return write_jpeg(j);
}

// The block whose middle is at viewed block (bx, by), by colour; '?' for none.
char block_at(SDL_Surface* s, int bx, int by)
{
    Uint8 c[3];
    get_pixel(s, bx * 16 + 8, by * 16 + 8, &c[0], &c[1], &c[2]);
    for (int k = 0; k < 6; ++k)
        if (std::abs(c[0] - block_colours[k][0]) + std::abs(c[1] - block_colours[k][1])
                + std::abs(c[2] - block_colours[k][2])
            < 24)
            return static_cast<char>('A' + k);
    return '?';
}

}  // namespace

// The eight orientations as the Exif standard words them, applied to
// "ABC/DEF" by hand: the rows of blocks a viewer shows.
TEST(ExifOrientation, EveryValueLoadsAsViewed)
{
    const struct {
        int orientation;
        const char* viewed;
    } cases[] = {
        {1, "ABC/DEF"},  // as stored
        {2, "CBA/FED"},  // mirrored left to right
        {3, "FED/CBA"},  // turned half round
        {4, "DEF/ABC"},  // mirrored top to bottom
        {5, "AD/BE/CF"}, // mirrored about the top-left to bottom-right diagonal
        {6, "DA/EB/FC"}, // stored turned a quarter anticlockwise: turned a quarter clockwise to view
        {7, "FC/EB/DA"}, // mirrored about the other diagonal
        {8, "CF/BE/AD"}, // turned a quarter anticlockwise to view
    };
    const Bytes plain = six_blocks_jpeg();
    for (bool little : {true, false})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(little ? "II" : "MM") + ", orientation " + std::to_string(c.orientation));
            const Bytes jpeg = jpeg_with_segment(plain, 0xE1, exif_app1(exif_block(little, c.orientation, true)));
            ImageMeta meta;
            SurfacePtr viewed = decode_meta(jpeg, &meta);
            ASSERT_TRUE(viewed);
            EXPECT_EQ(meta.orientation, c.orientation);
            std::string rows;
            const int bw = viewed->w / 16, bh = viewed->h / 16;
            for (int by = 0; by < bh; ++by) {
                for (int bx = 0; bx < bw; ++bx)
                    rows += block_at(viewed.get(), bx, by);
                rows += by + 1 < bh ? "/" : "";
            }
            EXPECT_EQ(rows, c.viewed);
            // Only a permutation of the stored pixels: the same multiset of colours.
            SurfacePtr stored = decode_meta(jpeg, &meta, IMAGE_AS_STORED);
            ASSERT_TRUE(stored);
            EXPECT_EQ(stored->w, 48);
            std::vector<uint8_t> a = rgb_of(stored.get()), b = rgb_of(viewed.get());
            std::vector<uint32_t> pa, pb;
            for (size_t i = 0; i < a.size(); i += 3) {
                pa.push_back(a[i] << 16 | a[i + 1] << 8 | a[i + 2]);
                pb.push_back(b[i] << 16 | b[i + 1] << 8 | b[i + 2]);
            }
            std::sort(pa.begin(), pa.end());
            std::sort(pb.begin(), pb.end());
            EXPECT_TRUE(pa == pb);
            // A result carries orientation 1 and no thumbnail, the rest as it was.
            EXPECT_EQ(meta.exif, exif_block(little, 1, false));
        }
}

// A block without an orientation, or with one out of range, or cut short
// anywhere: read as 1, never outside the bytes (the sanitizer build checks).
TEST(ExifOrientation, MalformedBlocksReadAsTopLeft)
{
    EXPECT_EQ(exif_orientation(nullptr, 0), 1);
    const Bytes none = exif_block(true, 0, true);
    EXPECT_EQ(exif_orientation(none.data(), none.size()), 1);
    std::vector<unsigned char> out;
    ASSERT_TRUE(exif_for_result(none.data(), none.size(), &out));
    EXPECT_EQ(out, exif_block(true, 0, false));
    for (int value : {0, 9, 65535}) {
        const Bytes odd = exif_block(false, value, false);
        EXPECT_EQ(exif_orientation(odd.data(), odd.size()), 1) << value;
    }
    const Bytes six = exif_block(false, 6, true);
    for (size_t cut = 0; cut < six.size(); ++cut) {
        const int o = exif_orientation(six.data(), cut);
        EXPECT_TRUE(o == 1 || o == 6) << cut;
        if (exif_for_result(six.data(), cut, &out)) {
            EXPECT_EQ(exif_orientation(out.data(), out.size()), 1) << cut;
        }
    }
}

// A thumbnail stored before data the rest of the block needs cannot be cut
// off: it is unlinked and zeroed where it lies.
TEST(ExifOrientation, ThumbnailBeforeOtherDataIsZeroed)
{
    Bytes block = exif_block(true, 3, true);
    // Move Make's value to the end of the block, after the thumbnail.
    const size_t make_entry = 8 + 2, make_value = block[make_entry + 8];
    const Bytes make(block.begin() + make_value, block.begin() + make_value + 20);
    block[make_entry + 8] = static_cast<unsigned char>(block.size());
    block.insert(block.end(), make.begin(), make.end());
    std::vector<unsigned char> out;
    ASSERT_TRUE(exif_for_result(block.data(), block.size(), &out));
    ASSERT_EQ(out.size(), block.size());
    EXPECT_EQ(exif_orientation(out.data(), out.size()), 1);
    EXPECT_TRUE(std::equal(make.begin(), make.end(), out.end() - 20)) << "Make was lost";
    EXPECT_EQ(std::search(out.begin(), out.end(), block.end() - 20 - 64, block.end() - 20 - 62), out.end())
        << "the thumbnail should be gone";
}

// One profile through every path: JPEG APP2 over two segments and PNG iCCP
// in, JPEG and PNG out, each read back byte for byte; PNG's colour chunks
// PNG to PNG as they were.
TEST(ColourData, ProfilesAndChunksRoundTripByteForByte)
{
    const Bytes profile = icc_profile(70000, 5);
    SurfacePtr image(make_surface(19, 11, 24));
    fill_random(image.get(), 3);
    PngSample p = {5, 3, PNG_COLOR_TYPE_RGB, 8, false, std::vector<uint16_t>(45, 77), {}, {}};
    const struct {
        const char* name;
        Bytes file;
    } sources[] = {
        {"JPEG", jpeg_with_icc(six_blocks_jpeg(), profile)},
        {"PNG", png_with_chunk(write_png(p), "iCCP", iccp_body("Display P3", profile))},
    };
    for (const auto& s : sources) {
        SCOPED_TRACE(s.name);
        ImageMeta meta;
        ASSERT_TRUE(decode_meta(s.file, &meta));
        EXPECT_TRUE(meta.icc == profile);
        for (ImageFormat format : {IMAGE_PNG, IMAGE_JPEG}) {
            ImageMeta back;
            ASSERT_TRUE(decode_meta(encode_meta(image.get(), format, meta), &back));
            EXPECT_TRUE(back.icc == profile) << image_format_name(format);
            EXPECT_EQ(image_meta_lost(meta, format), "");
        }
    }
    // sRGB, gAMA and cHRM as read, PNG to PNG.
    Bytes chrm(32);
    for (size_t i = 0; i < chrm.size(); ++i)
        chrm[i] = static_cast<unsigned char>(i % 4 == 3 ? 17 * i : 0);
    const Bytes tagged = png_with_chunk(png_with_chunk(png_with_chunk(write_png(p), "gAMA", {0, 0, 0xB1, 0x8F}),
                                                       "cHRM", chrm),
                                        "sRGB", {2});
    ImageMeta meta, back;
    ASSERT_TRUE(decode_meta(tagged, &meta));
    EXPECT_EQ(meta.gama, (Bytes{0, 0, 0xB1, 0x8F}));
    EXPECT_EQ(meta.chrm, chrm);
    EXPECT_EQ(meta.srgb, Bytes{2});
    ASSERT_TRUE(decode_meta(encode_meta(image.get(), IMAGE_PNG, meta), &back));
    EXPECT_EQ(back.gama, meta.gama);
    EXPECT_EQ(back.chrm, meta.chrm);
    EXPECT_EQ(back.srgb, meta.srgb);
    // Without a description, none is written.
    ASSERT_TRUE(decode_meta(encode_meta(image.get(), IMAGE_PNG, ImageMeta()), &back));
    EXPECT_TRUE(image_same_colour(ImageMeta(), back));
}

TEST(ColourData, UnreadableDescriptionsAreRefused)
{
    PngSample p = {3, 2, PNG_COLOR_TYPE_GRAY, 8, false, {1, 2, 3, 4, 5, 6}, {}, {}};
    const Bytes png = write_png(p);
    Bytes bad_crc = png_with_chunk(png, "gAMA", {0, 1, 0x86, 0xA0});
    bad_crc[33 + 12 + 3] ^= 1;
    Bytes cut_profile = iccp_body("x", icc_profile(500, 1));
    cut_profile.resize(cut_profile.size() - 4);
    Bytes two_of_three = jpeg_with_icc(six_blocks_jpeg(), icc_profile(140000, 2));
    // The second of three ICC segments removed: the profile has a hole.
    const size_t second = static_cast<size_t>(std::search(two_of_three.begin() + 30, two_of_three.end(),
                                                          std::begin("ICC_PROFILE\0\2"), std::end("ICC_PROFILE\0\2") - 1)
                                              - two_of_three.begin()) - 4;
    two_of_three.erase(two_of_three.begin() + second, two_of_three.begin() + second + 4 + 14 + 65519);
    const struct {
        const char* name;
        Bytes file;
        const char* problem;
    } cases[] = {
        {"empty gAMA", png_with_chunk(png, "gAMA", {}), "not a PNG image that can be decoded (gAMA: 0 bytes, 4 expected)"},
        {"gAMA 0", png_with_chunk(png, "gAMA", {0, 0, 0, 0}), "not a PNG image that can be decoded (gAMA: value out of range)"},
        {"sRGB 4", png_with_chunk(png, "sRGB", {4}), "not a PNG image that can be decoded (sRGB: value out of range)"},
        {"gAMA CRC", bad_crc, "not a PNG image that can be decoded (gAMA: CRC error)"},
        {"iCCP cut", png_with_chunk(png, "iCCP", cut_profile),
         "not a PNG image that can be decoded (iCCP: profile data corrupt or cut short)"},
        {"iCCP no name", png_with_chunk(png, "iCCP", {0, 0, 1, 2}),
         "not a PNG image that can be decoded (iCCP: bad profile name or compression method)"},
        {"JPEG ICC hole", two_of_three, "not a JPEG image that can be decoded (its ICC profile markers are broken)"},
    };
    for (const auto& c : cases) {
        std::string problem;
        ImageMeta meta;
        EXPECT_FALSE(decode_surface(c.file.data(), c.file.size(), &problem, &meta)) << c.name;
        EXPECT_EQ(problem, c.problem) << c.name;
    }
}

// Big-endian words, as colour chunks and profiles hold numbers.
Bytes words(std::initializer_list<uint32_t> values)
{
    Bytes b;
    for (uint32_t v : values)
        b.insert(b.end(), {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                           static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)});
    return b;
}

// A profile whose one tag is 'desc' with the body `tag`.
Bytes profile_with_description(const Bytes& tag)
{
    Bytes p = icc_profile(128, 9);
    const Bytes table = words({1, 0x64657363, 144, static_cast<uint32_t>(tag.size())});
    p.insert(p.end(), table.begin(), table.end());
    p.insert(p.end(), tag.begin(), tag.end());
    const Bytes size = words({static_cast<uint32_t>(p.size())});
    std::copy(size.begin(), size.end(), p.begin());
    return p;
}

// Which descriptions count as the same colours, and how each is named in a
// warning: none, an sRGB chunk and gAMA 0.45455 with sRGB's primaries (as
// ImageMagick writes them) are all sRGB.
TEST(ColourData, SrgbInEveryFormCountsAsOneAndTheRestIsNamed)
{
    const Bytes srgb_chrm = words({31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000});
    const Bytes wide_chrm = words({31270, 32900, 70800, 29200, 17000, 79700, 13100, 4600});
    const Bytes gamma_srgb = words({45455}), gamma_half = words({50000});
    // ICC v2's ASCII name, v4's first UTF-16 record (an en dash in it), and
    // an ASCII count that runs past its tag.
    Bytes v2 = words({0x64657363, 0, 12});
    v2.insert(v2.end(), {'D', 'i', 's', 'p', 'l', 'a', 'y', ' ', 'P', '3', 0, 0});
    Bytes v4 = words({0x6D6C7563, 0, 1, 12, 0x656E5553, 8, 28});
    v4.insert(v4.end(), {0, 's', 0, 'R', 0x20, 0x13, 0, 'G'});
    Bytes cut = v2;
    cut[11] = 200;
    ImageMeta none, chunk, magick, gamma_only, half, wide, p3, p4, broken, random, random2;
    chunk.srgb = {0};
    magick.gama = gamma_srgb;
    magick.chrm = srgb_chrm;
    gamma_only.gama = gamma_srgb;
    half.gama = gamma_half;
    half.chrm = srgb_chrm;
    wide.gama = gamma_srgb;
    wide.chrm = wide_chrm;
    p3.icc = profile_with_description(v2);
    p4.icc = profile_with_description(v4);
    broken.icc = profile_with_description(cut);
    random.icc = icc_profile(300, 1);
    random2.icc = icc_profile(300, 2);
    const struct {
        const ImageMeta& meta;
        const char* words;
        bool srgb;
    } cases[] = {
        {none, "none", true},
        {chunk, "sRGB chunk", true},
        {magick, "gAMA 0.45455 and cHRM of the sRGB primaries", true},
        {gamma_only, "gAMA 0.45455", true},
        {half, "gAMA 0.5 and cHRM of the sRGB primaries", false},
        {wide, "gAMA 0.45455 and cHRM", false},
        {p3, "ICC profile 'Display P3' of 168 bytes", false},
        {p4, "ICC profile 'sR?G' of 180 bytes", false},
        {broken, "ICC profile 'Display P3' of 168 bytes", false},
        {random, "ICC profile of 300 bytes", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(image_colour_words(c.meta), c.words);
        EXPECT_EQ(image_same_colour(c.meta, none), c.srgb) << c.words;
        EXPECT_EQ(image_same_colour(magick, c.meta), c.srgb) << c.words;
        EXPECT_TRUE(image_same_colour(c.meta, c.meta)) << c.words;
        // sRGB however described is not lost where it cannot be written.
        EXPECT_EQ(image_meta_lost(c.meta, IMAGE_BMP).empty(), c.srgb) << c.words;
    }
    EXPECT_FALSE(image_same_colour(random, random2));
    EXPECT_FALSE(image_same_colour(half, wide));
}

// What each format keeps of each kind of description.
TEST(ColourData, WhatEachFormatCannotCarry)
{
    ImageMeta icc, grey_icc, gamma, srgb, exif;
    icc.icc = icc_profile(200, 1);
    grey_icc.icc = icc_profile(200, 1, false);
    gamma.gama = {0, 1, 0x86, 0xA0};
    gamma.chrm = Bytes(32, 1);
    srgb.srgb = {0};
    srgb.gama = {0, 0, 0xB1, 0x8F};
    exif.exif = exif_block(true, 1, false);
    const struct {
        const ImageMeta* meta;
        const char* name;
        const char *bmp, *png, *jpeg;
    } cases[] = {
        {&icc, "ICC", "ICC profile", "", ""},
        {&grey_icc, "grey ICC", "ICC profile (not one for RGB data)", "ICC profile (not one for RGB data)",
         "ICC profile (not one for RGB data)"},
        {&gamma, "gAMA cHRM", "gAMA and cHRM chunks", "", "gAMA and cHRM chunks"},
        {&srgb, "sRGB", "", "", ""},
        {&exif, "Exif", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(image_meta_lost(*c.meta, IMAGE_BMP), c.bmp) << c.name;
        EXPECT_EQ(image_meta_lost(*c.meta, IMAGE_PPM), c.bmp) << c.name;
        EXPECT_EQ(image_meta_lost(*c.meta, IMAGE_PNG), c.png) << c.name;
        EXPECT_EQ(image_meta_lost(*c.meta, IMAGE_JPEG), c.jpeg) << c.name;
    }
}
