// The snapshot folder on temporary folders. An executable under /proc stands
// for a player installed where nothing can be created: mkdir fails there even
// for root, which chmod tricks cannot give.
#include "app/capture_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace fs = std::filesystem;
using trevolo::app::CaptureEnv;
using trevolo::app::CaptureFolder;
using trevolo::app::EnsureCaptureFolder;
using trevolo::app::ExecutablePath;
using trevolo::app::PicturesFromUserDirs;
using trevolo::app::PrepareCaptureFolder;

namespace {

// An executable whose folder does not exist and cannot be made.
const std::string kUnwritableExe = "/proc/trevolo-no-such-folder/bin/trevolo";

class CaptureFolderTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_root = fs::temp_directory_path() /
             ("capture_folder_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(m_root);
    fs::create_directories(m_root / "bin");
  }
  void TearDown() override { fs::remove_all(m_root); }

  std::string path(const std::string& relative) const { return (m_root / relative).string(); }
  std::string exe() const { return path("bin/trevolo"); }

  // An environment holding exactly m_vars; nothing leaks in from the real one.
  CaptureEnv env() const
  {
    CaptureEnv e;
    e.getenv = [vars = m_vars](const std::string& name) -> std::optional<std::string> {
      const auto it = vars.find(name);
      if (it == vars.end()) return std::nullopt;
      return it->second;
    };
    return e;
  }

  void writeFile(const std::string& relative, const std::string& text)
  {
    fs::create_directories(fs::path(path(relative)).parent_path());
    std::ofstream(path(relative)) << text;
  }

  fs::path m_root;
  std::map<std::string, std::string> m_vars;
};

TEST_F(CaptureFolderTest, BesideTheExecutableUsesOrMakesCapturePic)
{
  bool result = false;
  {
    SCOPED_TRACE("missing: created with mode 0755");
    const mode_t saved = ::umask(022);
    const CaptureFolder folder = PrepareCaptureFolder(exe(), &result, env());
    ::umask(saved);
    EXPECT_EQ(folder.dir, path("bin/CapturePic"));
    EXPECT_TRUE(result);
    EXPECT_FALSE(folder.createOnDemand);
    struct stat st{};
    ASSERT_EQ(::stat(folder.dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0755u);
  }
  {
    SCOPED_TRACE("existing: used as it is, its files kept");
    writeFile("bin/CapturePic/old.jpg", "jpeg");
    result = false;
    const CaptureFolder folder = PrepareCaptureFolder(exe(), &result, env());
    EXPECT_EQ(folder.dir, path("bin/CapturePic"));
    EXPECT_TRUE(result);
    EXPECT_TRUE(fs::exists(path("bin/CapturePic/old.jpg")));
  }
}

TEST_F(CaptureFolderTest, AFileNamedCapturePicLeavesSnapshotsBesideTheExecutable)
{
  writeFile("bin/CapturePic", "not a folder");
  // A pictures folder is known, but the executable's folder is writable, so
  // the fallback is not taken.
  m_vars["HOME"] = path("home");
  bool result = true;
  const CaptureFolder folder = PrepareCaptureFolder(exe(), &result, env());
  EXPECT_EQ(folder.dir, path("bin"));
  EXPECT_FALSE(result);
  EXPECT_FALSE(folder.createOnDemand);
  EXPECT_TRUE(fs::is_regular_file(path("bin/CapturePic")));
  EXPECT_FALSE(fs::exists(path("home")));
}

TEST_F(CaptureFolderTest, ExecutablePathIsCutAtItsLastSlash)
{
  bool result = true;
  // No slash: the whole path stays, and nothing can be made inside it.
  EXPECT_EQ(PrepareCaptureFolder("trevolo-not-here", &result, env()).dir, "trevolo-not-here");
  EXPECT_FALSE(result);
  fs::create_directories(path("a/b.c"));
  EXPECT_EQ(PrepareCaptureFolder(path("a/b.c/trevolo.bin"), &result, env()).dir,
            path("a/b.c/CapturePic"));
  EXPECT_TRUE(result);
}

TEST_F(CaptureFolderTest, UnwritableExecutableFolderFallsBackToPicturesWithoutCreatingIt)
{
  struct Case {
    const char* name;
    std::map<std::string, std::string> vars;
    std::string userDirsFile;  // relative to m_root, "" for none
    std::string userDirsText;
    std::string expected;      // relative to m_root
  };
  const Case cases[] = {
      {"environment variable, trailing slash cut",
       {{"XDG_PICTURES_DIR", path("env pics") + "/"}, {"HOME", path("home")}},
       "home/.config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/ignored\"\n",
       "env pics/Trevolo"},
      {"user-dirs.dirs under ~/.config, $HOME and quotes",
       {{"HOME", path("home")}},
       "home/.config/user-dirs.dirs",
       "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "XDG_PICTURES_DIR=\"$HOME/My Pictures\"\n",
       "home/My Pictures/Trevolo"},
      {"user-dirs.dirs under XDG_CONFIG_HOME",
       {{"HOME", path("home")}, {"XDG_CONFIG_HOME", path("cfg")}},
       "cfg/user-dirs.dirs", "XDG_PICTURES_DIR=\"" + path("photos") + "\"\n",
       "photos/Trevolo"},
      {"relative variables ignored, HOME/Pictures",
       {{"HOME", path("home")}, {"XDG_PICTURES_DIR", "Pictures"}, {"XDG_CONFIG_HOME", "cfg"}},
       "cfg/user-dirs.dirs", "XDG_PICTURES_DIR=\"/elsewhere\"\n", "home/Pictures/Trevolo"},
      {"no file, HOME/Pictures", {{"HOME", path("home")}}, "", "", "home/Pictures/Trevolo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(m_root);
    fs::create_directories(m_root);
    if (!c.userDirsFile.empty()) writeFile(c.userDirsFile, c.userDirsText);
    const auto before = std::distance(fs::recursive_directory_iterator(m_root),
                                      fs::recursive_directory_iterator());
    m_vars = c.vars;
    bool result = true;
    const CaptureFolder folder = PrepareCaptureFolder(kUnwritableExe, &result, env());
    EXPECT_EQ(folder.dir, path(c.expected));
    EXPECT_TRUE(folder.createOnDemand);
    EXPECT_FALSE(result);
    EXPECT_FALSE(fs::exists(folder.dir));
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(m_root),
                            fs::recursive_directory_iterator()),
              before)
        << "preparing must not create anything";
  }
}

TEST_F(CaptureFolderTest, FallbackNeedsAKnownPicturesFolderAndAnUnwritableFolder)
{
  bool result = true;
  {
    SCOPED_TRACE("no HOME, nothing else: the executable's folder stays");
    const CaptureFolder folder = PrepareCaptureFolder(kUnwritableExe, &result, env());
    EXPECT_EQ(folder.dir, "/proc/trevolo-no-such-folder/bin");
    EXPECT_FALSE(folder.createOnDemand);
    EXPECT_FALSE(result);
  }
  m_vars["HOME"] = path("home");
  {
    SCOPED_TRACE("unknown executable: the fallback, never /CapturePic");
    const CaptureFolder folder = PrepareCaptureFolder("", &result, env());
    EXPECT_EQ(folder.dir, path("home/Pictures/Trevolo"));
    EXPECT_TRUE(folder.createOnDemand);
  }
  {
    SCOPED_TRACE("CapturePic exists but cannot be written");
    fs::create_directories(path("bin/CapturePic"));
    CaptureEnv e = env();
    e.isWritable = [this](const std::string& dir) { return dir != path("bin/CapturePic"); };
    const CaptureFolder folder = PrepareCaptureFolder(exe(), &result, e);
    EXPECT_EQ(folder.dir, path("home/Pictures/Trevolo"));
    EXPECT_FALSE(result);
  }
  {
    SCOPED_TRACE("CapturePic exists and is writable: no fallback");
    CaptureEnv e = env();
    e.isWritable = [this](const std::string& dir) { return dir == path("bin/CapturePic"); };
    const CaptureFolder folder = PrepareCaptureFolder(exe(), &result, e);
    EXPECT_EQ(folder.dir, path("bin/CapturePic"));
    EXPECT_TRUE(result);
  }
}

TEST(PicturesFromUserDirs, ParsesTheAssignmentLikeXdgUserDirs)
{
  const std::string home = "/home/ann";
  const struct {
    const char* text;
    std::optional<std::string> expected;
  } cases[] = {
      {"XDG_PICTURES_DIR=\"$HOME/Pictures\"\n", "/home/ann/Pictures"},
      {"  XDG_PICTURES_DIR = \"${HOME}/Bilder\"", "/home/ann/Bilder"},
      {"XDG_PICTURES_DIR=\"/srv/photos/\"", "/srv/photos"},
      {"XDG_PICTURES_DIR=\"$HOME\"", "/home/ann"},
      {"XDG_PICTURES_DIR=\"$HOME/a \\\"b\\\" \\\\c\"", "/home/ann/a \"b\" \\c"},
      {"XDG_PICTURES_DIR=$HOME/Pics # unquoted, with a comment", "/home/ann/Pics"},
      {"XDG_PICTURES_DIR=$HOME/Fotos\r\n", "/home/ann/Fotos"},
      {"XDG_PICTURES_DIR=\"$HOME/one\"\nXDG_PICTURES_DIR=\"$HOME/two\"\n", "/home/ann/two"},
      {"XDG_PICTURES_DIR=\"$HOME/ok\"\nXDG_PICTURES_DIR=\"bad\"\n", "/home/ann/ok"},
      {"XDG_PICTURES_DIR=\"/\"", "/"},
      {"XDG_PICTURES_DIR=\"relative/Pictures\"", std::nullopt},
      {"XDG_PICTURES_DIR=\"$HOMEWORK/x\"", std::nullopt},
      {"# XDG_PICTURES_DIR=\"/commented\"", std::nullopt},
      {"XDG_PICTURES_DIRS=\"/other/key\"", std::nullopt},
      {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"", std::nullopt},
      {"XDG_PICTURES_DIR", std::nullopt},
      {"XDG_PICTURES_DIR=", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(PicturesFromUserDirs(c.text, home), c.expected);
  }
  // $HOME cannot be expanded without a home; absolute values still work.
  EXPECT_EQ(PicturesFromUserDirs("XDG_PICTURES_DIR=\"$HOME/P\"", ""), std::nullopt);
  EXPECT_EQ(PicturesFromUserDirs("XDG_PICTURES_DIR=\"/abs\"", ""), "/abs");
  EXPECT_EQ(PicturesFromUserDirs("XDG_PICTURES_DIR=\"$HOME/P\"", "/home/bo/"), "/home/bo/P");
}

TEST_F(CaptureFolderTest, EnsureMakesOnlyCreateOnDemandFolders)
{
  const CaptureFolder nested{path("home/Pictures/Trevolo"), true};
  EXPECT_TRUE(EnsureCaptureFolder(nested));
  EXPECT_TRUE(fs::is_directory(nested.dir));
  EXPECT_TRUE(EnsureCaptureFolder(nested)) << "a second call finds it";
  std::ofstream(nested.dir + "/20260101_000000_000.jpg") << "jpeg";
  EXPECT_TRUE(fs::exists(nested.dir + "/20260101_000000_000.jpg"));

  // A prepared folder is only checked, never made.
  EXPECT_FALSE(EnsureCaptureFolder({path("bin/CapturePic"), false}));
  EXPECT_FALSE(fs::exists(path("bin/CapturePic")));
  EXPECT_TRUE(EnsureCaptureFolder({path("bin"), false}));

  writeFile("blocked", "a file where a folder should be");
  EXPECT_FALSE(EnsureCaptureFolder({path("blocked/Trevolo"), true}));
  EXPECT_FALSE(EnsureCaptureFolder({"/proc/trevolo-no-such-folder/Trevolo", true}));
  EXPECT_FALSE(EnsureCaptureFolder({"relative/Trevolo", true}));
  EXPECT_FALSE(fs::exists("relative"));
}

TEST(ExecutablePath, IsThisTestProgram)
{
  const std::string exe = ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), '/');
  EXPECT_EQ(fs::path(exe).filename(), "capture_folder_tests");
  EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));
}

}  // namespace
