#include "app/open_rules.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace trevolo::app {
namespace {

namespace fs = std::filesystem;

// ---- extension test and cut -----------------------------------------------------

struct PathCase {
  const char* path;
  size_t avAt;  // character position of the first ".av"
  bool startup;
  bool dropped;
  const char* cut;
};

const PathCase kPaths[] = {
    {".avi_file.av", 0, false, false, ".av"},  // only the first ".av" counts
    {"a.av", 1, false, false, "a.av"},         // too short for a start-up file
    {"C:\\x.av", 4, true, true, "C:\\x.av"},
    {"/clips/x.av.bak", 8, true, true, "/clips/x.av"},
    {"/a.avi", 2, true, true, "/a.av"},
    {"ab.av", 2, false, true, "ab.av"},  // 5 characters: not longer than 5
    {"X.AV", kNoAvExtension, false, false, "X.AV"},
    {"/clips/readme.txt", kNoAvExtension, false, false, "/clips/readme.txt"},
    {"", kNoAvExtension, false, false, ""},
    // Non-ASCII: positions and lengths in characters, not bytes.
    {"\xC3\xA9.av", 1, false, false, "\xC3\xA9.av"},  // é.av: ".av" at byte 2
    {"\xE6\x97\xA5\xE6\x9C\xAC.av", 2, false, true, "\xE6\x97\xA5\xE6\x9C\xAC.av"},  // 日本.av
    {"/\xE6\x97\xA5\xE6\x9C\xAC.av.1", 3, true, true, "/\xE6\x97\xA5\xE6\x9C\xAC.av"},
    {"\xF0\x9F\x8E\xAC.av", 1, false, false, "\xF0\x9F\x8E\xAC.av"},  // one 4-byte character
    {"\xFF\xFE.av", 2, false, true, "\xFF\xFE.av"},  // invalid bytes count one each
};

TEST(ExtensionTest, PositionsTestsAndCuts) {
  for (const PathCase& c : kPaths) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FindAvExtension(c.path), c.avAt);
    EXPECT_EQ(IsStartupFile(c.path), c.startup);
    EXPECT_EQ(PassesExtensionTest(c.path, kMinAvPositionDropped), c.dropped);
    EXPECT_EQ(PassesExtensionTest(c.path, kMinAvPosition), c.avAt != kNoAvExtension && c.avAt >= 1);
    EXPECT_EQ(CutAfterAv(c.path), c.cut);
  }
}

TEST(ExtensionTest, HandOverOnlyPathsLongerThanFiveCharacters) {
  EXPECT_FALSE(IsHandOverPath("a.av"));
  EXPECT_FALSE(IsHandOverPath("\xE6\x97\xA5\xE6\x9C\xAC.av"));  // 5 characters, 9 bytes
  EXPECT_TRUE(IsHandOverPath("C:\\x.av"));
  EXPECT_TRUE(IsHandOverPath("readme.txt"));  // the receiver tests the extension
}

TEST(ExtensionTest, LongPathsAreNeverShortened) {
  const std::string dir = "/" + std::string(4000, 'd');
  EXPECT_EQ(CutAfterAv(dir + "/clip.av.part"), dir + "/clip.av");
  EXPECT_EQ(DecideDroppedOpen(dir + "/clip.av").path, dir + "/clip.av");
}

// ---- command line ----------------------------------------------------------------

TEST(CommandLine, LastArgumentWins) {
  const char* none[] = {"trevolo"};
  const char* two[] = {"trevolo", "/clips/a.av", "/clips/b.av"};
  EXPECT_EQ(CommandLinePath(1, none), "");
  EXPECT_EQ(CommandLinePath(0, nullptr), "");
  EXPECT_EQ(CommandLinePath(3, two), "/clips/b.av");
}

// ---- files on disk ------------------------------------------------------------------

class FilesOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "player_logic_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
  }
  std::string Make(const std::string& name) {
    const std::string path = (m_dir / name).string();
    std::ofstream(path) << "data";
    return path;
  }
  std::string At(const std::string& name) const { return (m_dir / name).string(); }

  fs::path m_dir;
};

TEST_F(FilesOnDisk, WildcardsAreOrdinaryCharacters) {
  Make("ab.av");
  EXPECT_TRUE(IsPlayableFile(At("ab.av")));
  EXPECT_FALSE(IsPlayableFile(At("a*.av")));
  EXPECT_FALSE(IsPlayableFile(At("a?.av")));
  EXPECT_FALSE(IsPlayableFile(At("*")));
  Make("a*.av");
  EXPECT_TRUE(IsPlayableFile(At("a*.av")));
  EXPECT_FALSE(IsPlayableFile(At("a?.av")));
}

TEST_F(FilesOnDisk, OnlyRegularFilesPlay) {
  fs::create_directory(At("x.av"));
  EXPECT_FALSE(IsPlayableFile(At("x.av")));
  EXPECT_FALSE(IsPlayableFile(At("missing.av")));
  EXPECT_FALSE(IsPlayableFile(""));
  ASSERT_EQ(mkfifo(At("pipe.av").c_str(), 0600), 0);
  EXPECT_FALSE(IsPlayableFile(At("pipe.av")));  // and must not block opening it

  const std::string target = Make("\xE6\x97\xA5\xE6\x9C\xAC.av");
  EXPECT_TRUE(IsPlayableFile(target));
  fs::create_symlink(target, At("link.av"));
  EXPECT_TRUE(IsPlayableFile(At("link.av")));
  fs::create_symlink(At("gone.av"), At("dangling.av"));
  EXPECT_FALSE(IsPlayableFile(At("dangling.av")));
}

TEST_F(FilesOnDisk, CommandLineCutsThenOpensOrReportsMissing) {
  const std::string clip = Make("x.av");
  EXPECT_EQ(DecideCommandLineOpen(clip + "_old"), (OpenDecision{OpenAction::Queue, clip}));
  EXPECT_EQ(DecideCommandLineOpen(At("none.av")),
            (OpenDecision{OpenAction::NotifyMissing, At("none.av")}));
  EXPECT_EQ(DecideCommandLineOpen("").action, OpenAction::Ignore);
}

// ---- decisions without a disk ------------------------------------------------------

bool NothingExists(const std::string&) { return false; }
bool EverythingExists(const std::string&) { return true; }

TEST(OpenDecisions, ArrivalPathsFollowTheirOwnRules) {
  EXPECT_EQ(DecideHandOverOpen("C:\\clips\\x.av.bak", &NothingExists),
            (OpenDecision{OpenAction::NotifyMissing, "C:\\clips\\x.av"}));
  EXPECT_EQ(DecideHandOverOpen("C:\\clips\\x.av.bak", &EverythingExists),
            (OpenDecision{OpenAction::Queue, "C:\\clips\\x.av"}));
  EXPECT_EQ(DecideHandOverOpen(".avi_file.av", &EverythingExists).action, OpenAction::Ignore);
  EXPECT_EQ(DecideHandOverOpen("X.AV", &EverythingExists).action, OpenAction::Ignore);
  // A drop is neither cut nor checked on disk: the engine reports what it cannot open.
  EXPECT_EQ(DecideDroppedOpen("C:\\a.avi"), (OpenDecision{OpenAction::Queue, "C:\\a.avi"}));
  EXPECT_EQ(DecideDroppedOpen("X.AV").action, OpenAction::Ignore);
  EXPECT_EQ(DecideDroppedOpen("a.av").action, OpenAction::Ignore);
  EXPECT_EQ(DecideDroppedOpen("\xC3\xA9.av").action, OpenAction::Ignore);
}

TEST(OpenDecisions, LabelTexts) {
  EXPECT_EQ(BlankFileNameText(), std::string(23, '\t'));
  EXPECT_EQ(MissingFileNotice("C:\\clips\\x.av"), "[File not exist] C:\\clips\\x.av");
}

}  // namespace
}  // namespace trevolo::app
