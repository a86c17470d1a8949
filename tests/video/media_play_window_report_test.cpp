// What avtool play-window reads from the player window's status lines, the
// summary it prints and the audio clock of its sync log.
#include <gtest/gtest.h>

#include <string>

#include "tools/media/play_window_report.h"

namespace trevolo::avtool {
namespace {

TEST(PlayWindowReport, EndsOnlyOnAStopAfterPlaying) {
  PlayWindowReport report;
  report.onStatus("state: stopped", 0);  // a window that never started
  EXPECT_FALSE(report.ended());
  report.onStatus("state: playing", 0);
  report.onStatus("state: paused", 0);
  report.onStatus("state: playing", 0);
  EXPECT_TRUE(report.played());
  EXPECT_FALSE(report.ended());
  report.onStatus("state: stopped", 0);
  EXPECT_TRUE(report.ended());
}

TEST(PlayWindowReport, TakesTheDurationTheWindowHeldWhenItReportedIt) {
  PlayWindowReport report;
  report.onStatus("state: playing", 0);
  report.onStatus("duration: 00:00:01", 1960);
  // The stop clears the window's duration; the report keeps what was played.
  report.onStatus("position: 00:00:00/00:00:00", 0);
  report.onStatus("state: stopped", 0);
  EXPECT_EQ(report.durationMs(), 1960);
}

TEST(PlayWindowReport, ReadsPictureSizeSnapshotAndErrors) {
  PlayWindowReport report;
  report.onStatus("picture: 1280x720", 0);
  report.onStatus("picture: 0x720", 0);      // not a size: the last good one stays
  report.onStatus("picture: 640x480junk", 0);
  report.onStatus("snapshot: /tmp/Capture Pic/20261207_110605_042.jpg", 0);
  report.onStatus("notice: 截图成功：/tmp/Capture Pic/20261207_110605_042.jpg", 0);
  report.onStatus("error: AVCreate fail", 0);
  EXPECT_EQ(report.pictureWidth(), 1280);
  EXPECT_EQ(report.pictureHeight(), 720);
  EXPECT_EQ(report.snapshotPath(), "/tmp/Capture Pic/20261207_110605_042.jpg");
  ASSERT_EQ(report.errors().size(), 1u);
  EXPECT_EQ(report.errors()[0], "AVCreate fail");
  EXPECT_FALSE(report.played());  // none of these is a state
}

TEST(PlayWindowSummary, PrintsEveryLineScriptsReadInOrder) {
  PlayWindowReport report;
  report.onStatus("state: playing", 0);
  report.onStatus("duration: 00:00:02", 2040);
  report.onStatus("picture: 320x240", 0);
  report.onStatus("snapshot: /p/s.jpg", 0);
  SummaryFacts facts;
  facts.picturesShown = 51;
  facts.lastPositionMs = 2020;
  facts.soundDevice = true;
  facts.renderer = "opengl";
  facts.endedBy = EndReason::EndOfFile;
  facts.snapshotRequested = true;
  EXPECT_EQ(FormatSummary(report, facts),
            "duration_ms: 2040\n"
            "picture_size: 320x240\n"
            "pictures_shown: 51\n"
            "last_position_ms: 2020\n"
            "sound_device: yes\n"
            "renderer: opengl\n"
            "ended_by: end of file\n"
            "snapshot: /p/s.jpg\n");
}

TEST(PlayWindowSummary, SnapshotLineOnlyWhenAskedAndSaysWhenNoneWasSaved) {
  const PlayWindowReport report;
  SummaryFacts facts;
  facts.endedBy = EndReason::WindowClosed;
  const std::string quiet = FormatSummary(report, facts);
  EXPECT_EQ(quiet.find("snapshot:"), std::string::npos);
  EXPECT_NE(quiet.find("ended_by: window closed\n"), std::string::npos);
  EXPECT_NE(quiet.find("sound_device: no\n"), std::string::npos);
  facts.snapshotRequested = true;
  facts.endedBy = EndReason::TimeLimit;
  const std::string asked = FormatSummary(report, facts);
  EXPECT_NE(asked.find("snapshot: not saved\n"), std::string::npos);
  EXPECT_NE(asked.find("ended_by: time limit\n"), std::string::npos);
}

TEST(HeardAudio, RunsOnFromTheLastAcceptedBlockLessTheLatency) {
  EXPECT_EQ(HeardAudioUs(-1, 0, 5'000'000, 75'000), -1);  // nothing accepted yet
  // Block at 1 s accepted at wall 1.2 s, asked at wall 1.25 s.
  EXPECT_EQ(HeardAudioUs(1'000'000, 1'200'000, 1'250'000, 75'000), 975'000);
  EXPECT_EQ(HeardAudioUs(1'000'000, 1'200'000, 1'250'000, 0), 1'050'000);
  // The first block of a file is not heard until the latency has passed.
  EXPECT_LT(HeardAudioUs(0, 0, 10'000, 75'000), 0);
}

}  // namespace
}  // namespace trevolo::avtool
