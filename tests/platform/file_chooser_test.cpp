// The open-file dialog, driven the way a person drives it: the tests find the
// dialog's window with xdotool, press keys into it and keep pumping the
// chooser meanwhile, as the player's UI loop does. They need an X display
// (xvfb-run); without one only the no-display case runs.
#include "platform/file_chooser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace trevolo::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Long enough for GTK to map its dialog or check a typed file under a loaded
// Xvfb, short enough that a broken case fails in seconds, not minutes.
// GTK under AddressSanitizer shows its widgets and handles keys several times
// slower; the waits grow with it.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 4;
#else
constexpr int kSlowdown = 1;
#endif
constexpr auto kWaitLimit = std::chrono::seconds(4) * kSlowdown;
constexpr auto kPumpPeriod = std::chrono::milliseconds(10);
constexpr auto kSettleTime = std::chrono::milliseconds(300) * kSlowdown;

struct Answer {
  bool accepted = false;
  std::string path;
};

// What a Done callback saw: nothing yet, or one answer. A second call fails.
struct AnswerRecorder {
  std::optional<Answer> answer;
  int calls = 0;

  FileChooser::Done callback() {
    return [this](bool accepted, const std::string& path) {
      ++calls;
      answer = Answer{accepted, path};
    };
  }
};

std::string runForOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
      out += buffer;
    }
    pclose(pipe);
  }
  return out;
}

// The first visible toplevel of this process, or "" when none is mapped.
std::string visibleWindowOfThisProcess() {
  std::string ids = runForOutput("xdotool search --onlyvisible --pid " +
                                 std::to_string(getpid()) + " 2>/dev/null");
  return ids.substr(0, ids.find('\n'));
}

template <typename Predicate>
bool pumpUntil(FileChooser& chooser, Predicate done) {
  const auto deadline = Clock::now() + kWaitLimit;
  while (!done()) {
    if (Clock::now() > deadline) {
      return false;
    }
    chooser.pump();
    std::this_thread::sleep_for(kPumpPeriod);
  }
  return true;
}

// Lets GTK handle what the keyboard sent, so the next keys reach the widgets
// that the last ones opened.
void pumpFor(FileChooser& chooser, std::chrono::milliseconds span) {
  const auto end = Clock::now() + span;
  pumpUntil(chooser, [&] { return Clock::now() >= end; });
}

std::string waitForDialogWindow(FileChooser& chooser) {
  std::string window;
  pumpUntil(chooser, [&] { return !(window = visibleWindowOfThisProcess()).empty(); });
  // Mapped is not yet ready for keys: let GTK finish showing its widgets.
  pumpFor(chooser, kSettleTime);
  return window;
}

// Sends keys to the dialog through the X server's test extension, as a
// keyboard would, then pumps while GTK handles them. xdotool does not wait on
// this process, so running it to the end first cannot deadlock.
void pressKeys(FileChooser& chooser, const std::string& window, const std::string& actions) {
  const std::string command = "xdotool windowfocus " + window + " " + actions;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  pumpFor(chooser, kSettleTime);
}

// Opens the location field and types a full path into it, as a person would.
void typePath(FileChooser& chooser, const std::string& window, const std::string& path) {
  pressKeys(chooser, window, "key ctrl+l");
  pressKeys(chooser, window, "type --delay 2 '" + path + "'");
  pressKeys(chooser, window, "key Return");
}

// A private folder holding the files the dialog is shown, removed afterwards.
class ClipFolder {
 public:
  ClipFolder() {
    std::string pattern = (fs::temp_directory_path() / "file_chooser_test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot create a temporary folder";
      return;
    }
    m_path = pattern;
    for (const char* name : {"a.av", "B.AV", "c.txt"}) {
      std::ofstream(fs::path(m_path) / name) << "data";
    }
  }
  ~ClipFolder() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  std::string file(const std::string& name) const { return (fs::path(m_path) / name).string(); }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

class FileChooserOnDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
      GTEST_SKIP() << "needs an X display: run under xvfb-run";
    }
    // Keep GTK's recent-files list and settings out of the real home folder.
    setenv("XDG_DATA_HOME", m_folder.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", m_folder.path().c_str(), 1);
  }

  // Opens the chooser and waits until its window is on screen.
  std::string openAndWait(FileChooser& chooser, AnswerRecorder& recorder) {
    std::string error;
    EXPECT_TRUE(chooser.open(recorder.callback(), &error)) << error;
    EXPECT_TRUE(chooser.isOpen());
    std::string window = waitForDialogWindow(chooser);
    EXPECT_FALSE(window.empty()) << "the dialog never appeared";
    return window;
  }

  void expectNoWindowLeft(FileChooser& chooser) {
    EXPECT_TRUE(pumpUntil(chooser, [] { return visibleWindowOfThisProcess().empty(); }))
        << "a dialog window is still on screen";
  }

  ClipFolder m_folder;
};

TEST_F(FileChooserOnDisplay, FilterListsAvFilesOfAnyCaseAndNothingElse) {
  FileChooser chooser;
  EXPECT_FALSE(chooser.filterAccepts("a.av")) << "a closed chooser has no filter";
  EXPECT_EQ(chooser.filterName(), "");

  AnswerRecorder recorder;
  std::string error;
  ASSERT_TRUE(chooser.open(recorder.callback(), &error)) << error;
  EXPECT_EQ(chooser.filterName(), kAvFilterName);
  for (const char* name : {"a.av", "B.AV", "mixed.Av", "mixed.aV", "two.dots.av"}) {
    EXPECT_TRUE(chooser.filterAccepts(name)) << name;
  }
  for (const char* name : {"c.txt", "a.avi", "av", "a.av.bak", "a.mp4"}) {
    EXPECT_FALSE(chooser.filterAccepts(name)) << name;
  }
}

TEST_F(FileChooserOnDisplay, TypedPathIsAcceptedAndEscapeCancelsTheNextOpen) {
  FileChooser chooser;
  AnswerRecorder chosen;
  std::string window = openAndWait(chooser, chosen);
  ASSERT_FALSE(window.empty());
  const std::string target = m_folder.file("a.av");
  typePath(chooser, window, target);
  ASSERT_TRUE(pumpUntil(chooser, [&] { return chosen.calls > 0; })) << "no answer";
  EXPECT_EQ(chosen.calls, 1);
  EXPECT_TRUE(chosen.answer->accepted);
  EXPECT_EQ(chosen.answer->path, target);
  EXPECT_FALSE(chooser.isOpen());
  expectNoWindowLeft(chooser);

  // The same chooser opens again; Escape is a cancel with an empty path.
  AnswerRecorder cancelled;
  window = openAndWait(chooser, cancelled);
  ASSERT_FALSE(window.empty());
  pressKeys(chooser, window, "key Escape");
  ASSERT_TRUE(pumpUntil(chooser, [&] { return cancelled.calls > 0; })) << "no answer";
  EXPECT_FALSE(cancelled.answer->accepted);
  EXPECT_EQ(cancelled.answer->path, "");
  EXPECT_EQ(chosen.calls, 1) << "the first answer was reported again";
  EXPECT_FALSE(chooser.isOpen());
  expectNoWindowLeft(chooser);
}

// A second open is refused while the first dialog is up; the first still
// answers once, and its done may destroy the chooser that calls it.
TEST_F(FileChooserOnDisplay, SecondOpenIsRefusedAndTheFirstAnswerMayDestroyTheChooser) {
  auto chooser = std::make_unique<FileChooser>();
  int firstCalls = 0;
  std::string error;
  ASSERT_TRUE(chooser->open(
      [&](bool, const std::string&) {
        ++firstCalls;
        chooser.reset();
      },
      &error))
      << error;
  const std::string window = waitForDialogWindow(*chooser);
  ASSERT_FALSE(window.empty());

  AnswerRecorder second;
  EXPECT_FALSE(chooser->open(second.callback(), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(chooser->isOpen());

  const std::string escape = "xdotool windowfocus " + window + " key Escape";
  ASSERT_EQ(std::system(escape.c_str()), 0);
  // Pumped through the chooser itself, which is gone once the answer is in.
  const auto deadline = Clock::now() + kWaitLimit;
  while (chooser != nullptr && Clock::now() < deadline) {
    chooser->pump();
    std::this_thread::sleep_for(kPumpPeriod);
  }
  EXPECT_EQ(firstCalls, 1);
  EXPECT_EQ(chooser, nullptr);
  EXPECT_EQ(second.calls, 0) << "a refused open must never answer";
}

TEST_F(FileChooserOnDisplay, DestroyingAnOpenChooserClosesItsWindowSilently) {
  AnswerRecorder recorder;
  {
    FileChooser chooser;
    ASSERT_FALSE(openAndWait(chooser, recorder).empty());
  }
  // GTK is still up; another chooser pumps whatever the first one left behind.
  FileChooser other;
  expectNoWindowLeft(other);
  EXPECT_EQ(recorder.calls, 0);
}

TEST_F(FileChooserOnDisplay, SomethingOtherThanARegularFileIsRefused) {
  const std::string fifo = m_folder.file("pipe.av");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  FileChooser chooser;
  AnswerRecorder recorder;
  const std::string window = openAndWait(chooser, recorder);
  ASSERT_FALSE(window.empty());
  typePath(chooser, window, fifo);
  // The toolkit may refuse the pipe itself (no answer) or hand it over; either
  // way the chooser must never report it as chosen.
  pumpUntil(chooser, [&] { return recorder.calls > 0; });
  if (recorder.calls == 0) {
    pressKeys(chooser, window, "key Escape");
    ASSERT_TRUE(pumpUntil(chooser, [&] { return recorder.calls > 0; }));
  }
  EXPECT_FALSE(recorder.answer->accepted);
  EXPECT_EQ(recorder.answer->path, "");
}

// In a fresh process, so that this open is the one that starts GTK.
TEST_F(FileChooserOnDisplay, StartingTheToolkitKeepsTheProcessLocale) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string before = std::setlocale(LC_ALL, nullptr);
        setenv("LC_ALL", "C.UTF-8", 1);  // what GTK would switch to
        FileChooser chooser;
        AnswerRecorder recorder;
        const bool opened = chooser.open(recorder.callback(), nullptr);
        const std::string after = std::setlocale(LC_ALL, nullptr);
        std::fprintf(stderr, "locale before \"%s\", after \"%s\"\n", before.c_str(),
                     after.c_str());
        std::exit(opened && after == before ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// Runs in a fresh process, so no earlier test has started GTK already.
TEST(FileChooserWithoutDisplay, OpenFailsCleanlyAndNeverAnswers) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        FileChooser chooser;
        AnswerRecorder recorder;
        std::string error;
        const bool opened = chooser.open(recorder.callback(), &error);
        const bool secondOpened = chooser.open(recorder.callback(), nullptr);
        chooser.pump();
        const bool clean = !opened && !secondOpened && !error.empty() && !chooser.isOpen() &&
                           recorder.calls == 0;
        std::exit(clean ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace trevolo::platform
