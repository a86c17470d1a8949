// Snapshot files: a contiguous I420 picture compressed into a baseline 4:2:0
// JPEG, and the file names snapshots get from the local time.
#pragma once

#include <cstdint>
#include <string>

// Writes `picture` to `path` as a JPEG of the given quality (1 to 100).
// The picture is one contiguous I420 image: the Y plane (height rows of width
// bytes), the U plane at offset width x height and the V plane at offset
// width x height x 5 / 4, each of height / 2 rows of width / 2 bytes. Nothing
// outside that area is read. Returns 1 when the file was written, 0 otherwise;
// a file that could not be completed is removed. Never ends the process.
int WriteJpegSnapshot(const char* path, const uint8_t* picture, int width, int height,
                      int quality);

namespace trevolo {

// Local wall-clock time to the millisecond.
struct SnapshotTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

SnapshotTime localSnapshotTime();

// "/YYYYMMDD_HHMMSS_mmm.jpg" (the year space-padded to four characters), to
// be appended to the capture folder. Two snapshots in the same millisecond
// share a name.
std::string snapshotFileName(const SnapshotTime& time);

}  // namespace trevolo
