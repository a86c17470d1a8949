// avtool info, seekpos and play as a user runs them, on valid and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sys/wait.h>

#include "test_files.h"

namespace trevolo {
namespace {

using test::kBase;
using test::TempDir;

struct ToolRun {
  int status;
  std::string out;
};

ToolRun Avtool(const std::string& args) {
  const std::string cmd = std::string(AVTOOL_PATH) + " " + args + " 2>&1";
  ToolRun r{-1, {}};
  std::FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string Line(const std::string& out, const std::string& key) {
  const auto at = out.find("\n" + key);
  if (at == std::string::npos) return "";
  const auto end = out.find('\n', at + 1);
  return out.substr(at + 1, end - at - 1);
}

class AvtoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteBytes(m_path, test::MakeRecording({.pictures = 30, .gop = 10}));
  }
  TempDir m_dir;
  std::string m_path = m_dir.file("r.av");
};

TEST_F(AvtoolTest, InfoJson) {
  const ToolRun r = Avtool("info --json " + m_path);
  ASSERT_EQ(r.status, 0) << r.out;
  // 28-byte audio format record, then blocks of 28 + 4 + 64 + 200 bytes.
  const uint64_t block = 28 + 4 + 64 + 200;
  const std::string expected =
      "{\"size\": " + std::to_string(28 + 30 * block) +
      ", \"index\": \"full\", \"first_us\": " + std::to_string(kBase) +
      ", \"last_us\": " + std::to_string(kBase + 29 * 40000) + ", \"duration_us\": 1160000" +
      ", \"key_frames\": [[28, " + std::to_string(kBase) + "], [" + std::to_string(28 + 10 * block) +
      ", " + std::to_string(kBase + 400000) + "], [" + std::to_string(28 + 20 * block) + ", " +
      std::to_string(kBase + 800000) + "]]}\n";
  EXPECT_EQ(r.out, expected);
  const ToolRun text = Avtool("info " + m_path);
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("key frames:  3"), std::string::npos) << text.out;
}

TEST_F(AvtoolTest, Seekpos) {
  const uint64_t block = 28 + 4 + 64 + 200;
  EXPECT_EQ(Avtool("seekpos " + m_path + " 0").out, "28\n");
  EXPECT_EQ(Avtool("seekpos " + m_path + " 500000").out, std::to_string(28 + 10 * block) + "\n");
  EXPECT_EQ(Avtool("seekpos " + m_path + " 1160000").out, std::to_string(28 + 20 * block) + "\n");
  const ToolRun refused = Avtool("seekpos " + m_path + " 1160001");
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(refused.out, "refused\n");
  EXPECT_EQ(Avtool("seekpos " + m_path + " 18446744073709551615").status, 3);
}

TEST_F(AvtoolTest, PlaySummary) {
  const ToolRun r = Avtool("play --fast " + m_path);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Line(r.out, "states: "), "states: 1,3");
  EXPECT_EQ(Line(r.out, "audio_frames: "), "audio_frames: 60");
  EXPECT_EQ(Line(r.out, "pictures: "), "pictures: 30");
  EXPECT_EQ(Line(r.out, "first_picture_us: "), "first_picture_us: " + std::to_string(kBase));
  EXPECT_EQ(Line(r.out, "last_picture_us: "),
            "last_picture_us: " + std::to_string(kBase + 29 * 40000));
}

TEST_F(AvtoolTest, PlayWithPauseAndSeek) {
  const ToolRun r = Avtool("play --pause-at 100:200 --seek 400:800000 " + m_path);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Line(r.out, "states: "), "states: 1,2,1,3");
  EXPECT_NE(r.out.find("seek to +800000 us: done"), std::string::npos) << r.out;
  EXPECT_EQ(Line(r.out, "last_picture_us: "),
            "last_picture_us: " + std::to_string(kBase + 29 * 40000));
}

TEST_F(AvtoolTest, BadFilesGiveOneLineAndStatusOne) {
  test::WriteBytes(m_dir.file("text.av"), std::vector<uint8_t>(1000, 'x'));
  test::WriteBytes(m_dir.file("empty.av"), {});
  for (const std::string cmd : {"info", "seekpos", "play"}) {
    for (const std::string file : {"missing.av", "text.av", "empty.av", ""}) {
      const std::string path = file.empty() ? m_dir.file("") : m_dir.file(file);
      const std::string extra = cmd == "seekpos" ? " 0" : "";
      const ToolRun r = Avtool(cmd + " " + path + extra);
      EXPECT_EQ(r.status, 1) << cmd << " " << file << ": " << r.out;
      EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    }
  }
}

TEST_F(AvtoolTest, TruncatedAndDamagedFilesPlayWhatCanBePlayed) {
  auto bytes = test::MakeRecording({.pictures = 30, .gop = 10});
  std::vector<uint8_t> damaged(bytes.begin(), bytes.begin() + 3000);
  damaged.insert(damaged.end(), 500, 0xFF);  // a damaged stretch
  damaged.insert(damaged.end(), bytes.begin() + 3000, bytes.end() - 100);  // and cut short
  test::WriteBytes(m_dir.file("damaged.av"), damaged);
  const ToolRun r = Avtool("play --fast " + m_dir.file("damaged.av"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Line(r.out, "states: "), "states: 1,3");
  // The damaged block still yields its (misread) picture; the cut one does not.
  EXPECT_EQ(Line(r.out, "pictures: "), "pictures: 29");
}

}  // namespace
}  // namespace trevolo
