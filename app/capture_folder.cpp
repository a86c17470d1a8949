#include "app/capture_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace trevolo::app {

namespace {

constexpr const char* kCaptureSubfolder = "/CapturePic";
constexpr const char* kFallbackSubfolder = "/Trevolo";
constexpr const char* kUserDirsFile = "/user-dirs.dirs";
constexpr const char* kPicturesKey = "XDG_PICTURES_DIR";
constexpr mode_t kFolderMode = 0755;
// A user-dirs.dirs file is a handful of lines; anything bigger is not one.
constexpr std::streamsize kMaxUserDirsBytes = 64 * 1024;

std::optional<std::string> lookup(const CaptureEnv& env, const std::string& name)
{
  if (env.getenv) return env.getenv(name);
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

// A folder string without trailing slashes; "" stands for the root, so
// "/" + name joins correctly. This turns it back into a path to look at.
std::string onDisk(const std::string& dir) { return dir.empty() ? "/" : dir; }

std::string withoutTrailingSlashes(std::string dir)
{
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  return dir;
}

// The folder with its trailing slashes cut, except that the root stays "/".
std::string rootOrTrimmed(const std::string& dir)
{
  const std::string trimmed = withoutTrailingSlashes(dir);
  return trimmed.empty() ? "/" : trimmed;
}

// dir + "/" + name without doubling the slash after the root.
std::string join(const std::string& dir, const char* name)
{
  return withoutTrailingSlashes(dir) + name;
}

bool isDirectory(const std::string& dir)
{
  std::error_code ec;
  return std::filesystem::is_directory(onDisk(dir), ec);
}

bool isWritable(const CaptureEnv& env, const std::string& dir)
{
  if (env.isWritable) return env.isWritable(dir);
  return isDirectory(dir) && ::access(onDisk(dir).c_str(), W_OK | X_OK) == 0;
}

// An absolute, non-empty environment value with its trailing slashes cut;
// relative values would make snapshots depend on the working directory.
std::optional<std::string> absoluteVariable(const CaptureEnv& env, const std::string& name)
{
  std::optional<std::string> value = lookup(env, name);
  if (!value || value->empty() || value->front() != '/') return std::nullopt;
  return rootOrTrimmed(*value);
}

std::optional<std::string> readSmallFile(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxUserDirsBytes, '\0');
  in.read(text.data(), kMaxUserDirsBytes);
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

size_t skipBlanks(std::string_view line, size_t i)
{
  while (i < line.size() && isBlank(line[i])) ++i;
  return i;
}

// The length of a leading "$HOME" or "${HOME}" that stands alone (followed by
// '/' or the end of the value) in a value; 0 when there is none.
size_t homePrefixLength(std::string_view value, bool quoted)
{
  for (const std::string_view prefix : {std::string_view("${HOME}"), std::string_view("$HOME")}) {
    if (value.substr(0, prefix.size()) != prefix) continue;
    const std::string_view after = value.substr(prefix.size());
    if (after.empty() || after.front() == '/') return prefix.size();
    const char c = after.front();
    if (quoted ? c == '"' : isBlank(c) || c == '#') return prefix.size();
  }
  return 0;
}

// Parses one line of a user-dirs.dirs file; a value only when the line
// assigns XDG_PICTURES_DIR a usable folder.
std::optional<std::string> picturesFromLine(std::string_view line, const std::string& home)
{
  const std::string_view key = kPicturesKey;
  size_t i = skipBlanks(line, 0);
  if (line.substr(i, key.size()) != key) return std::nullopt;
  i = skipBlanks(line, i + key.size());
  if (i >= line.size() || line[i] != '=') return std::nullopt;
  i = skipBlanks(line, i + 1);
  const bool quoted = i < line.size() && line[i] == '"';
  if (quoted) ++i;

  std::string value;
  if (const size_t homeLength = homePrefixLength(line.substr(i), quoted)) {
    if (home.empty() || home.front() != '/') return std::nullopt;
    value = withoutTrailingSlashes(home);
    i += homeLength;
  } else if (i >= line.size() || line[i] != '/') {
    return std::nullopt;
  }
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted ? c == '"' : isBlank(c) || c == '#') break;
    if (c == '\\' && i + 1 < line.size()) ++i;
    value += line[i];
  }
  return rootOrTrimmed(value);
}

// mkdir -p with mode 0755 for each folder it makes.
bool makeFolders(const std::string& dir)
{
  for (size_t slash = dir.find('/', 1); ; slash = dir.find('/', slash + 1)) {
    const std::string prefix = dir.substr(0, slash);
    if (::mkdir(prefix.c_str(), kFolderMode) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  return isDirectory(dir);
}

}  // namespace

std::optional<std::string> PicturesFromUserDirs(std::string_view text, const std::string& home)
{
  std::optional<std::string> found;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (std::optional<std::string> value = picturesFromLine(line, home)) found = value;
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return found;
}

std::optional<std::string> PicturesFolder(const CaptureEnv& env)
{
  if (std::optional<std::string> dir = absoluteVariable(env, kPicturesKey)) return dir;
  const std::optional<std::string> home = absoluteVariable(env, "HOME");
  std::optional<std::string> config = absoluteVariable(env, "XDG_CONFIG_HOME");
  if (!config && home) config = join(*home, "/.config");
  if (config) {
    if (std::optional<std::string> text = readSmallFile(join(*config, kUserDirsFile))) {
      if (std::optional<std::string> dir = PicturesFromUserDirs(*text, home.value_or("")))
        return dir;
    }
  }
  if (home) return join(*home, "/Pictures");
  return std::nullopt;
}

CaptureFolder PrepareCaptureFolder(const std::string& exePath, bool* result,
                                   const CaptureEnv& env)
{
  CaptureFolder out;
  bool prepared = false;
  // With no executable path there is no folder beside it: "" + "/CapturePic"
  // would be a folder at the root of the file system.
  if (!exePath.empty()) {
    const size_t slash = exePath.rfind('/');
    out.dir = slash == std::string::npos ? exePath : exePath.substr(0, slash);
    const std::string folder = out.dir + kCaptureSubfolder;
    if (isDirectory(folder) || ::mkdir(folder.c_str(), kFolderMode) == 0) {
      out.dir = folder;
      prepared = true;
    }
  }
  if (exePath.empty() || !isWritable(env, out.dir)) {
    if (std::optional<std::string> pictures = PicturesFolder(env)) {
      out = {join(*pictures, kFallbackSubfolder), true};
      prepared = false;
    }
  }
  if (result) *result = prepared;
  return out;
}

bool EnsureCaptureFolder(const CaptureFolder& folder)
{
  if (folder.createOnDemand && !folder.dir.empty() && folder.dir.front() == '/')
    return makeFolders(folder.dir);
  return isDirectory(folder.dir);
}

std::string ExecutablePath()
{
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : path.string();
}

}  // namespace trevolo::app
