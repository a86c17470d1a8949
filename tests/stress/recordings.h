// Recordings for the stress tests, made from a generated recording's
// records: split for a writer that appends them while the player reads,
// and damaged in every way the project's damaged-file tests know.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/media/media_test_util.h"

namespace trevolo::stress {

using test::Bytes;

// Each record of a well-formed recording serialised on its own; their
// concatenation is the recording. Empty when it is not one.
std::vector<Bytes> SplitRecords(const Bytes& recording);

struct DamagedRecording {
  std::string name;
  Bytes bytes;
  bool mustOpen;  // a good first block: the player must take it
};

// Hand-made damage (empty, garbage, cut headers and blocks, huge lengths,
// bad time stamps, unknown records, no key frame, undecodable pictures) and
// `randomCount` seeded random edits, all of `recording`.
std::vector<DamagedRecording> DamagedRecordings(const Bytes& recording, int randomCount);

}  // namespace trevolo::stress
