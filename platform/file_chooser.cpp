#include "platform/file_chooser.h"

#include <gtk/gtk.h>

#include <filesystem>
#include <system_error>
#include <utility>

namespace trevolo::platform {

namespace {

// Bounds one pump() so a flood of GTK work can never hold up the caller's loop;
// whatever is left runs on the next pump.
constexpr int kMaxDispatchesPerPump = 64;

// GTK can be initialised only once per process; it stays up once started.
bool g_gtkStarted = false;
bool g_setlocaleDisabled = false;

bool startGtk(std::string* error) {
  if (g_gtkStarted) {
    return true;
  }
  // The player keeps the "C" locale for number formatting and file names;
  // GTK would otherwise switch the whole process to the user's locale.
  if (!g_setlocaleDisabled) {
    gtk_disable_setlocale();
    g_setlocaleDisabled = true;
  }
  if (!gtk_init_check(nullptr, nullptr)) {
    if (error != nullptr) {
      *error = "cannot open a display for the file dialog";
    }
    return false;
  }
  g_gtkStarted = true;
  return true;
}

// The engine reads the chosen file from start to end: anything but a regular
// file (a folder, a FIFO, a device) is refused, and so is a file that vanished
// after it was picked.
bool isReadableRegularFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

GtkFileFilter* makeAvFilter() {
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, kAvFilterName);
  for (const char* pattern : kAvFilterPatterns) {
    gtk_file_filter_add_pattern(filter, pattern);
  }
  return filter;
}

}  // namespace

struct FileChooser::Impl {
  GtkFileChooserNative* dialog = nullptr;  // owned; set while a dialog is open
  gulong responseHandler = 0;              // our "response" handler on dialog
  Done done;

  // Disconnects, hides and releases the dialog. Safe inside its own "response"
  // emission, which holds a reference of its own until it returns.
  void close() {
    if (dialog == nullptr) {
      return;
    }
    GtkFileChooserNative* closing = std::exchange(dialog, nullptr);
    g_signal_handler_disconnect(closing, std::exchange(responseHandler, 0));
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(closing));
    g_object_unref(closing);
  }

  static void onResponse(GtkNativeDialog* native, gint response, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    std::string path;
    if (response == GTK_RESPONSE_ACCEPT) {
      if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(native))) {
        path = name;
        g_free(name);
      }
    }
    const bool accepted = isReadableRegularFile(path);
    if (!accepted) {
      path.clear();
    }
    // Close first and call last: done may reopen or destroy this chooser.
    Done done = std::move(self->done);
    self->done = nullptr;
    self->close();
    if (done) {
      done(accepted, path);
    }
  }

  GtkFileFilter* currentFilter() const {
    return dialog == nullptr ? nullptr : gtk_file_chooser_get_filter(GTK_FILE_CHOOSER(dialog));
  }
};

bool FileChooser::toolkitStarted() { return g_gtkStarted; }

FileChooser::FileChooser() : m_impl(std::make_unique<Impl>()) {}

FileChooser::~FileChooser() {
  if (m_impl->dialog == nullptr) {
    return;
  }
  m_impl->close();
  // Send the window's destruction to the display now rather than at the next
  // pump, which may never come.
  if (GdkDisplay* display = gdk_display_get_default()) {
    gdk_display_flush(display);
  }
}

bool FileChooser::open(Done done, std::string* error) {
  if (m_impl->dialog != nullptr) {
    if (error != nullptr) {
      *error = "a file dialog is already open";
    }
    return false;
  }
  if (!startGtk(error)) {
    return false;
  }
  // No title, no parent and no initial folder: the toolkit's defaults.
  GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
      nullptr, nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  gtk_file_chooser_set_select_multiple(chooser, FALSE);
  GtkFileFilter* filter = makeAvFilter();
  gtk_file_chooser_add_filter(chooser, filter);  // the chooser takes the filter
  gtk_file_chooser_set_filter(chooser, filter);

  m_impl->dialog = dialog;
  m_impl->done = std::move(done);
  m_impl->responseHandler =
      g_signal_connect(dialog, "response", G_CALLBACK(&Impl::onResponse), m_impl.get());
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
  return true;
}

bool FileChooser::isOpen() const { return m_impl->dialog != nullptr; }

void FileChooser::pump() {
  // Touches no member: a done callback run from here may destroy this chooser.
  if (!g_gtkStarted) {
    return;
  }
  for (int i = 0; i < kMaxDispatchesPerPump; ++i) {
    if (!g_main_context_iteration(nullptr, FALSE)) {
      break;
    }
  }
}

bool FileChooser::filterAccepts(const std::string& fileName) const {
  GtkFileFilter* filter = m_impl->currentFilter();
  if (filter == nullptr) {
    return false;
  }
  GtkFileFilterInfo info{};
  info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
  info.display_name = fileName.c_str();
  return gtk_file_filter_filter(filter, &info) != FALSE;
}

std::string FileChooser::filterName() const {
  GtkFileFilter* filter = m_impl->currentFilter();
  const char* name = filter == nullptr ? nullptr : gtk_file_filter_get_name(filter);
  return name == nullptr ? std::string() : std::string(name);
}

}  // namespace trevolo::platform
