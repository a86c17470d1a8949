// avtool amr: frame files in, the decoder's PCM out as little-endian bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/audio/amr_test_frames.h"

namespace trevolo::amr::test {
namespace {

class AmrTool : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/amr_tool_testXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    m_dir = dir;
  }
  void TearDown() override { std::system(("rm -rf '" + m_dir + "'").c_str()); }

  // Writes `prefix` and the frames (less the last `cut` bytes) to a file.
  std::string write(const char* name, const std::string& prefix, const std::vector<Frame>& frames,
                    size_t cut = 0) const {
    std::string bytes = prefix;
    for (const Frame& f : frames) bytes.append(f.begin(), f.end());
    std::ofstream(m_dir + "/" + name, std::ios::binary) << bytes.substr(0, bytes.size() - cut);
    return m_dir + "/" + name;
  }

  // Runs "avtool amr ARGS -o OUT"; returns the exit status, keeps stderr and
  // the output file's bytes.
  int run(const std::string& args) {
    const std::string out = m_dir + "/out.pcm", err = m_dir + "/err.txt";
    std::remove(out.c_str());
    const int status = std::system(
        (std::string(AVTOOL_PATH) + " amr " + args + " -o " + out + " 2>" + err).c_str());
    m_err = Slurp(err);
    m_out = Slurp(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static std::string LittleEndian(const Pcm& pcm) {
    std::string bytes;
    for (int16_t s : pcm) {
      bytes.push_back(static_cast<char>(s & 0xFF));
      bytes.push_back(static_cast<char>((s >> 8) & 0xFF));
    }
    return bytes;
  }

  std::string m_dir, m_err, m_out;
};

TEST_F(AmrTool, DecodesStorageFileAndOtherLayouts) {
  const std::vector<Frame> frames = Encode(TestSignal(150, 21), 4, true);
  const std::string expected = LittleEndian(DecodeAll(frames, 0));
  ASSERT_EQ(run(write("a.amr", "#!AMR\n", frames)), 0) << m_err;
  EXPECT_EQ(m_out, expected);

  std::vector<Frame> if2;
  for (const Frame& f : frames) if2.push_back(ToLayout(f, 2));
  ASSERT_EQ(run("--layout 2 " + write("b.if2", "", if2)), 0) << m_err;
  EXPECT_EQ(m_out, expected);
}

TEST_F(AmrTool, RefusesCutFramesAndForeignFiles) {
  EXPECT_EQ(run(write("cut.amr", "#!AMR\n", Encode(TestSignal(10, 2), 7, false), 1)), 1);
  EXPECT_NE(m_err.find("needs 32 bytes, only 31 left"), std::string::npos) << m_err;
  EXPECT_EQ(run(write("wb.amr", "#!AMR-WB\n", {})), 1);
  EXPECT_EQ(run("--layout 5 " + m_dir + "/wb.amr"), 1);
  EXPECT_EQ(run(m_dir + "/missing.amr"), 1);
  EXPECT_TRUE(m_out.empty());
}

}  // namespace
}  // namespace trevolo::amr::test
