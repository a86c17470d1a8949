// The folder snapshots are written to: a CapturePic folder beside the
// executable, made at start-up when it is missing. When neither that folder
// nor the executable's own folder can be written (an installed player in
// /usr/bin), snapshots go to a Trevolo folder in the user's pictures folder
// instead, which is made only when the first snapshot needs it, so starting
// the player never creates folders in the user's home.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace trevolo::app {

struct CaptureFolder {
  std::string dir;              // no trailing slash; a snapshot's name starts with '/'
  bool createOnDemand = false;  // made (with its parents) by EnsureCaptureFolder
};

// What PrepareCaptureFolder asks of its surroundings. Empty members use the
// process environment and access(2), so tests can inject their own.
struct CaptureEnv {
  // The value of an environment variable; nullopt when it is unset.
  std::function<std::optional<std::string>(const std::string& name)> getenv;
  // True when files can be created in the existing folder dir.
  std::function<bool(const std::string& dir)> isWritable;
};

// The folder beside the executable exePath ("/opt/trevolo/bin/trevolo" gives
// "/opt/trevolo/bin/CapturePic"), created with mode 0755 when missing.
// *result is true when dir is that CapturePic folder. When it cannot be made,
// dir stays the executable's folder (result false), unless that folder is not
// writable either: then dir is the create-on-demand folder
// "<pictures>/Trevolo" (result false too). An empty exePath (unknown
// executable) goes straight to that fallback rather than to "/CapturePic".
CaptureFolder PrepareCaptureFolder(const std::string& exePath, bool* result = nullptr,
                                   const CaptureEnv& env = {});

// Makes folder.dir with its parents (mode 0755) when it is a create-on-demand
// folder; a prepared folder is only checked. True when dir is a directory.
bool EnsureCaptureFolder(const CaptureFolder& folder);

// The running executable's path from /proc/self/exe; empty when unreadable.
std::string ExecutablePath();

// The user's pictures folder: $XDG_PICTURES_DIR, else the XDG_PICTURES_DIR
// line of $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), else
// $HOME/Pictures. Only absolute folders count; nullopt when none is known.
std::optional<std::string> PicturesFolder(const CaptureEnv& env = {});

// The value of the last XDG_PICTURES_DIR assignment in the text of a
// user-dirs.dirs file, with its quotes and backslash escapes removed and a
// leading $HOME (or ${HOME}) replaced by home. Values that are neither
// absolute nor under $HOME are ignored, as xdg-user-dirs ignores them.
std::optional<std::string> PicturesFromUserDirs(std::string_view text, const std::string& home);

}  // namespace trevolo::app
