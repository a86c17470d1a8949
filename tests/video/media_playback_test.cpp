// The media callbacks behind a real engine, real decoders and, for the
// volume, a real sound output on SDL's disk driver.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "audio/direct_sound.h"
#include "tests/video/media_test_support.h"
#include "tools/media/test_pattern.h"

namespace trevolo::test {
namespace {

using namespace std::chrono_literals;

constexpr int kWidth = 192;
constexpr int kHeight = 112;

class PlaybackTest : public RealTimeMediaFixture {
 protected:
  PlaybackTest() : RealTimeMediaFixture("trevolo_media_play") {}
  std::string generate(const std::string& name, const std::string& options) {
    const std::string path = (m_dir / name).string();
    const std::string command =
        std::string(AVTOOL_PATH) + " gen -o " + path + " " + options + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? path : std::string();
  }
};

TEST_F(PlaybackTest, AWholeFilePostsSizeThenFirstPicturePositionsAndStop) {
  const std::string file =
      generate("two.av", "--seconds 2 --size " + std::to_string(kWidth) + "x" +
                             std::to_string(kHeight) + " --fps 25");
  ASSERT_FALSE(file.empty());
  m_media.filePath = file;
  ASSERT_EQ(StartEngine(), 1);
  ASSERT_TRUE(m_window.waitFor(PN_STOPPED, 10s));
  std::this_thread::sleep_for(100ms);
  AVDestroy(m_media.engine);
  m_media.engine = nullptr;

  const std::vector<Post> posts = m_window.posts();
  const std::vector<intptr_t> codes = Codes(posts);
  ASSERT_GE(codes.size(), 4u);
  // AVCreate reports playing before StartEngine learns the duration.
  EXPECT_EQ(codes[0], PN_PLAYING);
  EXPECT_EQ(posts[1], (Post{WM_PLAYER_NOTIFY, PN_DURATION,
                            static_cast<intptr_t>(m_media.duration / 1000)}));
  EXPECT_GT(m_media.duration, 1'800'000u);
  const auto size = std::find(codes.begin(), codes.end(), PN_PICTURE_SIZE);
  const auto first = std::find(codes.begin(), codes.end(), PN_FIRST_PICTURE);
  ASSERT_NE(size, codes.end());
  EXPECT_LT(size, first);
  EXPECT_EQ(posts[size - codes.begin()].wParam, (uintptr_t{kWidth} << 16) + kHeight);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), PN_PICTURE_SIZE), 1);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), PN_FIRST_PICTURE), 1);

  // Positions run forward to about the end; after the stop report at most a
  // frame that was already being accepted may still report its position.
  std::vector<intptr_t> positions;
  for (size_t i = 0; i < posts.size(); ++i) {
    if (codes[i] == PN_POSITION) positions.push_back(posts[i].lParam);
  }
  ASSERT_GT(positions.size(), 80u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_GT(positions.back(), 1700);
  const auto stop = std::find(codes.begin(), codes.end(), PN_STOPPED);
  EXPECT_LE(std::count(stop, codes.end(), intptr_t{PN_POSITION}), 1);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), PN_STOPPED), 1);

  // Every picture reached the renderer whole and in order.
  const std::vector<Shown> shown = m_renderer.shown();
  ASSERT_GE(shown.size(), 40u);
  EXPECT_EQ(shown.front().frameNumber, 0);
  for (size_t i = 1; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].format, 0);
    EXPECT_EQ(shown[i].width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(shown[i].frameNumber, shown[i - 1].frameNumber + 1) << "picture " << i;
  }
  // The engine is gone; its last picture is kept.
  ASSERT_NE(m_media.lastPicture, nullptr);
  EXPECT_EQ(ReadFrameNumber(m_media.lastPicture.get(), kWidth, kWidth, kHeight),
            shown.back().frameNumber);
}

// CDirectSound with the device opened for the player's stream.
class TestSound : public CDirectSound {};

TEST_F(PlaybackTest, WithASoundDeviceTheVolumeScalesWhatIsHeardNotTheEnginesBlock) {
  const std::filesystem::path heardFile = m_dir / "heard.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", heardFile.c_str(), 1);
  unsetenv("SDL_DISKAUDIODELAY");
  std::vector<int16_t> sent;
  {
    _AUDIO_CONFIG format = {1, 1, 8000, 16000, 2, 16, 0};
    TestSound sound;
    ASSERT_EQ(sound.CreateDSound(&format, 320), 1);
    sound.Play(0, 1);
    m_media.soundOutput.store(&sound);
    m_media.volume.store(50);
    std::vector<int16_t> block(160);
    for (int frame = 0; frame < 12; ++frame) {
      for (int i = 0; i < 160; ++i) block[i] = static_cast<int16_t>(1000 + frame * 160 + i);
      const std::vector<int16_t> before = block;
      ASSERT_EQ(AudioRender(reinterpret_cast<uint8_t*>(block.data()), 320, frame * 20'000u), 1);
      EXPECT_EQ(block, before);  // offered again unchanged if it had been refused
      sent.insert(sent.end(), block.begin(), block.end());  // every block is heard, the first too
    }
    std::this_thread::sleep_for(200ms);
    m_media.soundOutput.store(nullptr);
    sound.Stop();
  }
  std::ifstream in(heardFile, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  std::vector<int16_t> heard(bytes.size() / 2);
  std::memcpy(heard.data(), bytes.data(), heard.size() * 2);
  const auto start = std::find_if(heard.begin(), heard.end(), [](int16_t s) { return s != 0; });
  ASSERT_GE(heard.end() - start, static_cast<ptrdiff_t>(sent.size()));
  for (size_t i = 0; i < sent.size(); ++i) {
    ASSERT_EQ(start[static_cast<ptrdiff_t>(i)], sent[i] / 2) << "sample " << i;
  }
  EXPECT_EQ(m_window.posts().size(), 12u);  // one position per accepted frame
}

}  // namespace
}  // namespace trevolo::test
