#include "tests/stress/recordings.h"

#include <algorithm>
#include <limits>
#include <random>

#include "engine/av_format.h"
#include "tools/av_writer.h"

namespace trevolo::stress {
namespace {

using test::Record;

Bytes Serialise(const Record& r) {
  Bytes b;
  AvWriter w(&b);
  const AvRecordHeader& h = r.header;
  if (h.type == AV_REC_MEDIA) {
    w.mediaBlock(h.videoTs, r.video, h.audioTs, r.audio);
  } else if (h.type == AV_REC_AUDIO_FORMAT) {
    w.audioFormat(Le16(h.format), Le16(h.format + 2), Le16(h.format + 4));
  } else {
    w.header(h.type, h.audioFrames, h.videoLength, h.videoTs, h.audioTs);
  }
  return b;
}

Bytes Join(const std::vector<Record>& records) {
  Bytes out;
  for (const Record& r : records) {
    const Bytes b = Serialise(r);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// Bytes that look like header fields: mostly 0xFF, some random.
Bytes Junk(std::mt19937& rng, size_t n) {
  Bytes junk(n);
  for (auto& b : junk) b = static_cast<uint8_t>(rng() % 3 ? 0xFF : rng() % 256);
  return junk;
}

// Overwritten runs, flipped bits, cut-outs, inserted junk and a cut-off end.
Bytes RandomDamage(Bytes bytes, uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  const int edits = 1 + static_cast<int>(pick(6));
  for (int e = 0; e < edits && bytes.size() > 64; ++e) {
    const size_t at = pick(bytes.size());
    const auto where = bytes.begin() + static_cast<long>(at);
    switch (pick(5)) {
      case 0: {
        const size_t end = std::min(bytes.size(), at + 1 + pick(40));
        std::fill(where, bytes.begin() + static_cast<long>(end),
                  static_cast<uint8_t>(pick(2) ? 0xFF : pick(256)));
        break;
      }
      case 1: bytes[at] ^= static_cast<uint8_t>(1u << pick(8)); break;
      case 2:
        bytes.erase(where,
                    bytes.begin() + static_cast<long>(std::min(bytes.size(), at + pick(2000))));
        break;
      case 3: {
        const Bytes junk = Junk(rng, pick(200));
        bytes.insert(where, junk.begin(), junk.end());
        break;
      }
      default: bytes.resize(std::max<size_t>(at, bytes.size() / 2)); break;
    }
  }
  return bytes;
}

// Index of the first media block.
size_t FirstBlock(const std::vector<Record>& records) {
  size_t i = 0;
  while (i < records.size() && records[i].header.type != AV_REC_MEDIA) ++i;
  return i;
}

}  // namespace

std::vector<Bytes> SplitRecords(const Bytes& recording) {
  std::vector<Bytes> out;
  for (const Record& r : test::ParseRecording(recording)) out.push_back(Serialise(r));
  return out;
}

std::vector<DamagedRecording> DamagedRecordings(const Bytes& recording, int randomCount) {
  const std::vector<Record> records = test::ParseRecording(recording);
  std::vector<DamagedRecording> out;
  if (records.size() < 8) return out;
  const size_t first = FirstBlock(records);
  const size_t middle = records.size() / 2;
  std::mt19937 rng(7);
  auto add = [&](std::string name, Bytes bytes, bool mustOpen) {
    out.push_back({std::move(name), std::move(bytes), mustOpen});
  };
  auto withRecords = [&](auto edit) {
    std::vector<Record> copy = records;
    edit(copy);
    return Join(copy);
  };
  const Bytes clean = Join(records);

  add("empty", {}, false);
  add("garbage only", Junk(rng, 8192), false);
  add("format record only", Serialise(records[0]), false);
  add("header cut short", Bytes(clean.begin(), clean.begin() + 20), false);
  {
    // The first block's header, then nothing.
    const Bytes head = Join({records.begin(), records.begin() + static_cast<long>(first)});
    Bytes cut = head;
    const Bytes block = Serialise(records[first]);
    cut.insert(cut.end(), block.begin(), block.begin() + 40);
    add("first block cut short", cut, false);
  }
  add("cut inside a middle block",
      Bytes(clean.begin(), clean.begin() + static_cast<long>(clean.size() * 3 / 5)), true);
  add("last block cut short", Bytes(clean.begin(), clean.end() - 50), true);
  {
    Bytes b;
    for (const Record& r : records) {
      const Bytes junk = Junk(rng, rng() % 90);
      b.insert(b.end(), junk.begin(), junk.end());
      const Bytes rec = Serialise(r);
      b.insert(b.end(), rec.begin(), rec.end());
    }
    add("junk between records", b, true);
  }
  add("audio frames longer than the format allows", withRecords([&](std::vector<Record>& rs) {
        for (Record& r : rs) {
          if (r.header.type == AV_REC_MEDIA && !r.audio.empty()) r.audio[0].resize(40, 0x3C);
        }
      }),
      true);
  {
    // A header in the middle claims the largest lengths its fields can hold.
    Bytes b = Join({records.begin(), records.begin() + static_cast<long>(middle)});
    AvWriter w(&b);
    w.header(AV_REC_MEDIA, 0xFFFF, 0xFFFFFFFFu, records[middle].header.videoTs,
             records[middle].header.audioTs);
    const Bytes rest = Join({records.begin() + static_cast<long>(middle), records.end()});
    b.insert(b.end(), rest.begin(), rest.end());
    add("huge lengths in a header", b, true);
  }
  add("largest time stamp in the middle", withRecords([&](std::vector<Record>& rs) {
        rs[middle].header.videoTs = std::numeric_limits<uint64_t>::max();
        rs[middle].header.audioTs = std::numeric_limits<uint64_t>::max();
      }),
      true);
  add("time stamps running backwards", withRecords([&](std::vector<Record>& rs) {
        std::reverse(rs.begin() + static_cast<long>(first), rs.end());
      }),
      false);
  add("time stamps all zero", withRecords([&](std::vector<Record>& rs) {
        for (Record& r : rs) r.header.videoTs = r.header.audioTs = 0;
      }),
      false);
  add("a gap of twelve days", withRecords([&](std::vector<Record>& rs) {
        for (size_t i = middle; i < rs.size(); ++i) {
          rs[i].header.videoTs += 1'000'000'000'000ull;
          rs[i].header.audioTs += 1'000'000'000'000ull;
        }
      }),
      true);
  {
    Bytes b;
    AvWriter w(&b);
    for (size_t i = 0; i < records.size(); ++i) {
      const uint8_t type = i % 2 ? AV_REC_SKIPPED : 7;
      w.header(type, 3, 64, records[i].header.videoTs, 0);
      w.raw(Serialise(records[i]));
    }
    add("unknown and skipped records between blocks", b, true);
  }
  add("no key frame", withRecords([&](std::vector<Record>& rs) {
        for (Record& r : rs) {
          if (r.video.size() > 4) r.video[4] = static_cast<uint8_t>((r.video[4] & 0xE0) | 1);
        }
      }),
      false);
  add("pictures that do not decode", withRecords([&](std::vector<Record>& rs) {
        uint32_t n = 0;
        for (Record& r : rs) {
          if (r.header.type != AV_REC_MEDIA) continue;
          const bool key = r.video.size() > 4 && (r.video[4] & 0x1F) == 7;
          r.video = SyntheticAccessUnit(r.video.size(), key, n++);
        }
      }),
      true);
  add("empty payloads", withRecords([&](std::vector<Record>& rs) {
        for (size_t i = middle; i < rs.size(); ++i) {
          rs[i].video.clear();
          for (Bytes& a : rs[i].audio) a.clear();
        }
      }),
      true);
  for (int seed = 1; seed <= randomCount; ++seed) {
    add("random damage " + std::to_string(seed),
        RandomDamage(clean, static_cast<uint32_t>(seed) * 7919u), false);
  }
  return out;
}

}  // namespace trevolo::stress
