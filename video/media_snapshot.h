// Snapshots of the picture on screen: the path the next snapshot goes to and
// the writer that compresses a picture of the media context's current size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Room for the full path of the next snapshot, terminator included.
inline constexpr size_t kSnapshotPathBytes = 1024;

// Sets the path the next WriteJpegSnapshot writes to. A path that does not
// fit is refused (false) and the previous one stays: cutting it short would
// write somewhere the user did not ask for.
bool SetSnapshotPath(const std::string& path);
std::string GetSnapshotPath();

// Writes `picture` (contiguous I420 of the media context's width x height)
// to the snapshot path. 1 when the file was written, 0 otherwise (no
// picture, size 0, file not writable, compression failed).
int WriteJpegSnapshot(const uint8_t* picture, int quality);
// The same for a picture of the size given (the saved paused picture, whose
// size the decoder may have moved on from).
int WriteJpegSnapshot(const uint8_t* picture, int width, int height, int quality);
