// The system's open-file dialog for .av recordings. open() shows it and returns
// at once; the caller's UI loop keeps painting and calls pump() until the person
// answers, and the answer arrives through the Done callback from inside pump().
// All calls belong to the UI thread. GTK stays out of this header.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace trevolo::platform {

// The dialog's one filter entry. Its patterns cover every letter case, so
// "clip.AV" is listed as well as "clip.av".
inline constexpr const char* kAvFilterName = "AV files(*.av)";
inline constexpr const char* kAvFilterPatterns[] = {"*.av", "*.AV", "*.Av", "*.aV"};

class FileChooser {
 public:
  // accepted == false for cancel, close, Escape or any failure (path is then
  // empty); otherwise path names an existing regular file, as UTF-8 bytes.
  using Done = std::function<void(bool accepted, const std::string& path)>;

  FileChooser();
  // Destroying an open chooser closes its dialog without calling done.
  ~FileChooser();
  FileChooser(const FileChooser&) = delete;
  FileChooser& operator=(const FileChooser&) = delete;

  // Shows the dialog and returns at once. False, with a reason in *error when
  // error is not null, and done never called, when GTK cannot start (no
  // display) or a dialog is already open. The first call starts GTK, which then
  // stays up for the life of the process.
  bool open(Done done, std::string* error);
  bool isOpen() const;
  // Whether GTK was started in this process. It then holds fontconfig
  // objects to the end, so fontconfig must not be torn down at exit.
  static bool toolkitStarted();

  // Runs pending GTK work without blocking; the UI loop calls it on every pump
  // while a dialog is open. `done` is called from inside pump(), after the
  // chooser has closed, so it may open the chooser again or destroy it.
  void pump();

  // For tests: whether the open dialog's current filter lists a file of this
  // name, and that filter's display name. False and "" while closed.
  bool filterAccepts(const std::string& fileName) const;
  std::string filterName() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace trevolo::platform
