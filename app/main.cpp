// trevolo: the player. One instance plays; a later launch hands its file to
// the running player, brings its window forward and exits.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/open_rules.h"
#include "app/player_keys.h"
#include "app/trevolo_dlg.h"
#include "platform/file_chooser.h"
#include "platform/single_instance.h"
#include "platform/ttf_font.h"

namespace {

constexpr const char* kVersion = "1.0.0.3";
constexpr const char* kErrorCaption = "Error Info";
constexpr const char* kNoLock = "Trevolo can't create uniquely identified.";
constexpr const char* kNoWindow = "Trevolo is running,but can't find it's windows.";
// Paths this short are not worth handing over; the window still comes forward.
constexpr size_t kShortestHandOver = 5;

void PrintHelp() {
  std::printf(
      "Usage: trevolo [-v|--verbose] [FILE.av]\n"
      "Plays an .av recording (H.264 video, AMR-NB sound) in the Trevolo window.\n"
      "When Trevolo is already running, FILE is handed to the running player.\n\n"
      "  -v, --verbose  print what the window shows to stderr, one line per change\n"
      "  -h, --help     show this help\n"
      "      --version  show the version\n\n"
      "Keys in the window:\n");
  for (const std::string& line : trevolo::app::KeyListLines(/*padded=*/true)) {
    std::printf("  %s\n", line.c_str());
  }
}

void ErrorBox(const std::string& text, bool verbose) {
  if (verbose) std::fprintf(stderr, "error: %s\n", text.c_str());
  trevolo::platform::ShowMessageBox(kErrorCaption, text);
}

int RunPlayer(const std::string& path, const std::string& folder, bool verbose) {
  trevolo::app::PlayerOptions options;
  options.initialFile = trevolo::app::IsStartupFile(path) ? path : std::string();
  options.instanceFolder = folder;
  if (verbose) {
    options.status = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  }
  std::string error;
  auto dlg = trevolo::app::CTrevoloDlg::create(options, &error);
  if (!dlg) {
    std::fprintf(stderr, "trevolo: %s\n", error.c_str());
    return 1;
  }
  dlg->run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool verbose = false;
  std::vector<const char*> args = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      PrintHelp();
      return 0;
    }
    if (a == "--version") {
      std::printf("trevolo %s\n", kVersion);
      return 0;
    }
    if (a == "-v" || a == "--verbose") {
      verbose = true;
      continue;
    }
    args.push_back(argv[i]);
  }
  const std::string path = trevolo::app::CommandLinePath(static_cast<int>(args.size()), args.data());

  std::string error;
  const std::string folder = trevolo::platform::InstanceFolder(&error);
  int status = 0;
  if (folder.empty()) {
    ErrorBox(kNoLock, verbose);
  } else {
    std::unique_ptr<trevolo::platform::InstanceLock> lock;
    const std::string toSend =
        trevolo::app::CharacterCount(path) > kShortestHandOver ? path : std::string();
    switch (trevolo::platform::ResolveLaunch(folder, toSend, &lock, &error)) {
      case trevolo::platform::LaunchRole::Player: status = RunPlayer(path, folder, verbose); break;
      case trevolo::platform::LaunchRole::Forwarded: break;
      case trevolo::platform::LaunchRole::NoWindow: ErrorBox(kNoWindow, verbose); break;
      case trevolo::platform::LaunchRole::Error: ErrorBox(kNoLock, verbose); break;
    }
  }
  trevolo::platform::TtfFont::shutdown(!trevolo::platform::FileChooser::toolkitStarted());
  trevolo::platform::Window::shutdown();
  return status;
}
