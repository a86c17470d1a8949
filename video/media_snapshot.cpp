#include "video/media_snapshot.h"

#include <mutex>

#include "video/jpeg_writer.h"
#include "video/media_context.h"

namespace {

// Written by the snapshot command on the main window's thread, read by the
// video output thread when it carries out a pending request.
std::mutex g_pathLock;
std::string g_snapshotPath = "/tmp/PlayerCaptureTmp.jpg";

}  // namespace

bool SetSnapshotPath(const std::string& path) {
  if (path.empty() || path.size() >= kSnapshotPathBytes) return false;
  std::lock_guard<std::mutex> guard(g_pathLock);
  g_snapshotPath = path;
  return true;
}

std::string GetSnapshotPath() {
  std::lock_guard<std::mutex> guard(g_pathLock);
  return g_snapshotPath;
}

int WriteJpegSnapshot(const uint8_t* picture, int quality) {
  const MediaContext& media = GetMediaContext();
  return WriteJpegSnapshot(picture, media.width.load(), media.height.load(), quality);
}

int WriteJpegSnapshot(const uint8_t* picture, int width, int height, int quality) {
  if (picture == nullptr || width <= 0 || height <= 0) return 0;
  return WriteJpegSnapshot(GetSnapshotPath().c_str(), picture, width, height, quality);
}
