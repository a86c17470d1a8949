// The skin images kept in res/skin: every image the window loads is there at
// the size its control needs, buttons carry real transparency, the slider
// thumbs start with their key colour, the pieces drawn over the background
// match it, and skin_gen redraws the very same bytes.
#include <gtest/gtest.h>
#include <png.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kSkinDir = TREVOLO_SKIN_DIR;

struct Expected {
    const char* file;
    int width, height;
    bool alpha;
};

const Expected kImages[] = {
    {"130_idle.png", 806, 604, false},
    {"137_background.png", 1080, 706, false},
    {"149_logo.png", 150, 32, false},
    {"151_volume_channel.png", 87, 11, false},
    {"163_volume_channel_filled.png", 87, 11, false},
    {"164_volume_thumb.png", 11, 11, false},
    {"160_progress_channel.png", 970, 20, false},
    {"161_progress_channel_filled.png", 969, 20, false},
    {"162_progress_thumb.png", 20, 20, false},
    {"165_volume_icon.png", 19, 45, false},
    {"135_btn_mini.png", 25, 25, true},
    {"141_btn_mini_alt.png", 25, 25, true},
    {"134_btn_close.png", 25, 25, true},
    {"140_btn_close_alt.png", 25, 25, true},
    {"156_btn_capture.png", 68, 46, true},
    {"157_btn_capture_alt.png", 68, 46, true},
    {"133_btn_play.png", 68, 46, true},
    {"139_btn_play_alt.png", 68, 46, true},
    {"132_btn_pause.png", 68, 46, true},
    {"142_btn_pause_alt.png", 68, 46, true},
    {"131_btn_stop.png", 68, 46, true},
    {"143_btn_stop_alt.png", 68, 46, true},
    {"144_btn_openfile.png", 115, 48, true},
    {"145_btn_openfile_alt.png", 115, 48, true},
    {"128_icon.png", 32, 32, true},
    {"icon_16.png", 16, 16, true},
};

struct Pixel {
    int r, g, b, a;
    bool operator==(const Pixel&) const = default;
};

struct Decoded {
    int width = 0, height = 0;
    bool hasAlpha = false;          // the file itself has an alpha channel
    std::vector<unsigned char> rgba;

    Pixel at(int x, int y) const
    {
        const size_t i = (static_cast<size_t>(y) * width + x) * 4;
        return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
    }
};

// Reads a PNG as 8-bit RGBA; fails the test on any decoding error.
Decoded decode(const fs::path& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Decoded out;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ADD_FAILURE() << path << ": " << image.message;
        return out;
    }
    out.hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) {
        ADD_FAILURE() << path << ": " << image.message;
        out = {};
    }
    return out;
}

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SkinImages, EveryImageHasItsSizeAndAlphaOnlyWhereTheControlBlendsIt)
{
    for (const Expected& e : kImages) {
        SCOPED_TRACE(e.file);
        const Decoded d = decode(kSkinDir / e.file);
        ASSERT_EQ(d.width, e.width);
        ASSERT_EQ(d.height, e.height);
        EXPECT_EQ(d.hasAlpha, e.alpha);
        if (e.alpha) {
            // A button's corner shows the window through it; its middle is solid.
            EXPECT_EQ(d.at(0, 0).a, 0);
            EXPECT_EQ(d.at(e.width - 1, e.height - 1).a, 0);
            EXPECT_EQ(d.at(e.width / 2, e.height / 2).a, 255);
        }
    }
}

TEST(SkinImages, ThumbsAreKeyedByTheirTopLeftPixel)
{
    const Pixel key{255, 0, 255, 255};
    for (const char* file : {"162_progress_thumb.png", "164_volume_thumb.png"}) {
        SCOPED_TRACE(file);
        const Decoded d = decode(kSkinDir / file);
        ASSERT_GT(d.width, 0);
        EXPECT_EQ(d.at(0, 0), key);
        EXPECT_EQ(d.at(d.width - 1, d.height - 1), key);
        EXPECT_NE(d.at(d.width / 2, d.height / 2), key);
        // Exactly the pixels around the round thumb are keyed: not none, not all.
        int keyed = 0;
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x) keyed += d.at(x, y) == key;
        EXPECT_GT(keyed, d.width * d.height / 8);
        EXPECT_LT(keyed, d.width * d.height * 3 / 4);
    }
}

TEST(SkinImages, PiecesOverTheBackgroundMatchItAtTheirCorner)
{
    const Decoded bg = decode(kSkinDir / "137_background.png");
    ASSERT_EQ(bg.width, 1080);
    const struct {
        const char* file;
        int x, y;  // where the window places the piece
    } pieces[] = {{"149_logo.png", 3, 1},
                  {"165_volume_icon.png", 640, 660},
                  {"151_volume_channel.png", 666, 676},
                  {"163_volume_channel_filled.png", 666, 676},
                  {"160_progress_channel.png", 50, 640},
                  {"161_progress_channel_filled.png", 50, 640}};
    for (const auto& p : pieces) {
        SCOPED_TRACE(p.file);
        const Decoded d = decode(kSkinDir / p.file);
        ASSERT_GT(d.width, 0);
        EXPECT_EQ(d.at(0, 0), bg.at(p.x, p.y));
        EXPECT_EQ(d.at(d.width - 1, 0), bg.at(p.x + d.width - 1, p.y));
    }
}

class SkinGenerator : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("skin_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "_" + std::to_string(static_cast<long>(getpid())));
        fs::remove_all(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    int run(const std::string& args)
    {
        const std::string cmd = std::string(SKIN_GEN_PATH) + " " + args + " 2>/dev/null";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }

    fs::path m_dir;
};

TEST_F(SkinGenerator, RedrawsExactlyTheKeptFiles)
{
    ASSERT_EQ(run(m_dir.string()), 0);
    std::set<std::string> written;
    for (const auto& entry : fs::directory_iterator(m_dir))
        written.insert(entry.path().filename().string());
    std::set<std::string> expected;
    for (const Expected& e : kImages) expected.insert(e.file);
    EXPECT_EQ(written, expected);
    for (const std::string& file : expected) {
        SCOPED_TRACE(file);
        EXPECT_EQ(readBytes(m_dir / file), readBytes(kSkinDir / file))
            << "res/skin is stale: rebuild the 'skin' target";
    }
}

TEST_F(SkinGenerator, RefusesBadArgumentsAndUnwritablePlaces)
{
    EXPECT_EQ(run(""), 1);
    EXPECT_EQ(run("--bogus"), 1);
    EXPECT_EQ(run(m_dir.string() + " --preview"), 1);
    fs::create_directories(m_dir);
    std::ofstream(m_dir / "file") << "x";
    EXPECT_EQ(run((m_dir / "file").string()), 1);  // a file where the folder should be
    EXPECT_EQ(run(m_dir.string() + " --preview " + (m_dir / "no/such/dir.png").string()), 1);
}

}  // namespace
