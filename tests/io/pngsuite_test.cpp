// PngSuite, which no one here wrote: every image decodes to the values a
// second reader (tests/support/png_reference.h) finds in it, and keeps its
// colour chunks; every libpng crasher file is refused with one line.
#include <gtest/gtest.h>

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
