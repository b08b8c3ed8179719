// PngSuite, which no one here wrote: every image decodes to the values a
// second reader (tests/support/png_reference.h) finds in it, and keeps its
// colour chunks; every image keeps the kind its name says, with the pixels
// ImageMagick reads; every libpng crasher file is refused with one line.
#include <gtest/gtest.h>

#include "io/image_codecs.h"
#include "tests/io/image_test.h"
#include "tests/support/png_reference.h"

namespace {

namespace fs = std::filesystem;
const fs::path suite = TAVROSK_PNGSUITE_DIR;

Bytes bytes_of(const fs::path& path)
{
    const std::string text = read_file(path.string());
    return Bytes(text.begin(), text.end());
}

std::vector<fs::path> pngs_in(const fs::path& folder)
{
    std::vector<fs::path> files;
    for (const std::string& name : folder_entries(folder.string()))
        if (fs::path(name).extension() == ".png")
            files.push_back(folder / name);
    return files;
}

}  // namespace

TEST(PngSuite, EveryImageDecodesToItsStoredValues)
{
    SKIP_OR_FAIL_WITHOUT(suite, "PngSuite", "TAVROSK_PNGSUITE_DIR");
    const std::vector<fs::path> files = pngs_in(suite);
    EXPECT_GE(files.size(), 50u);
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const Bytes png = bytes_of(file);
        int w = 0, h = 0;
        std::vector<uint8_t> want;
        std::string why;
        ASSERT_TRUE(png_reference_rgb(png, &w, &h, &want, &why)) << why;
        std::string problem;
        ImageMeta meta;
        SurfacePtr s(decode_surface(png.data(), png.size(), &problem, &meta));
        ASSERT_TRUE(s) << problem;
        EXPECT_EQ(s->w, w);
        EXPECT_EQ(s->h, h);
        EXPECT_TRUE(rgb_of(s.get()) == want) << "pixels differ from the reference reading";
        // The colour chunks the file has, as they lie in it.
        for (const PngChunkRef& c : png_chunks(png))
            if (c.type == "gAMA") {
                EXPECT_EQ(meta.gama, c.body);
            }
    }
}

// The names say the colour type and depth: "basn" then 0 grey, 2 RGB, 3
// palette, 4 grey + alpha or 6 RGBA, a letter and the bits ("basn4a16").
// A tRNS chunk adds alpha; below 8 bits becomes 8.
TEST(PngSuite, EveryImageKeepsItsKindAndReadsAsImageMagickReadsIt)
{
    SKIP_OR_FAIL_WITHOUT(suite, "PngSuite", "TAVROSK_PNGSUITE_DIR");
    if (!imagemagick_installed()) {
        if (running_under_ci())
            FAIL() << "ImageMagick's convert is not installed, and CI=true";
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    }
    for (const fs::path& file : pngs_in(suite)) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        const size_t at = name.find(".png") - 4;
        const int type = name[at] - '0', bits = std::stoi(name.substr(at + 2, 2));
        bool trns = false;
        for (const PngChunkRef& c : png_chunks(bytes_of(file)))
            trns = trns || c.type == "tRNS";
        const int channels = (type == 0 || type == 4 ? 1 : 3) + (type == 4 || type == 6 || trns ? 1 : 0);
        ImageBuffer image, wide;
        std::string problem;
        ASSERT_TRUE(image_load(file.c_str(), &image, &problem)) << problem;
        EXPECT_EQ(image.view.channels, channels);
        EXPECT_EQ(image.view.type, bits == 16 ? SAMPLE_U16 : SAMPLE_U8);
        std::vector<uint16_t> want;
        ASSERT_TRUE(imagemagick_rgba16(file.string(), image.view.width, image.view.height, &want));
        ASSERT_TRUE(image_convert(image.view, {4, SAMPLE_U16}, &wide));
        const uint16_t* got = reinterpret_cast<const uint16_t*>(wide.view.pixels);
        EXPECT_TRUE(std::vector<uint16_t>(got, got + want.size()) == want) << "pixels differ from ImageMagick's";
    }
}

TEST(PngSuite, CrashersAreRefusedWithOneLine)
{
    SKIP_OR_FAIL_WITHOUT(suite, "PngSuite", "TAVROSK_PNGSUITE_DIR");
    const std::vector<fs::path> files = pngs_in(suite / "crashers");
    EXPECT_GE(files.size(), 20u);
    for (const fs::path& file : files) {
        std::string problem;
        SurfacePtr s(load_surface(file.c_str(), &problem));
        EXPECT_FALSE(s) << file.filename();
        EXPECT_FALSE(problem.empty()) << file.filename();
        EXPECT_EQ(problem.find('\n'), std::string::npos) << file.filename();
    }
}
