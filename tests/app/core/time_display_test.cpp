#include "app/core/time_display.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace djkivo::app {
namespace {

TEST(TimeTextTest, MinutesUnpaddedSecondsTwoDigits) {
  const struct {
    std::uint32_t seconds;
    const char* text;
  } cases[] = {
      {0, "0:00"},    {5, "0:05"},     {59, "0:59"},
      {60, "1:00"},   {187, "3:07"},   {245, "4:05"},
      {600, "10:00"}, {4500, "75:00"}, {4294967295u, "71582788:15"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TimeText(c.seconds), c.text) << c.seconds;
}

TEST(ElapsedSecondsTest, TotalTimesPositionDivSize) {
  const struct {
    std::int64_t total, position, size;
    std::uint32_t elapsed;
  } cases[] = {
      {245, 500, 1000, 122},  // 122.5 truncates
      {59, 1000, 1000, 59},   // at the end
      {600, 0, 1000, 0},
      {0, 123, -1, 0},   // unknown length: total 0, size -1
      {300, 77, 0, 0},   // size 0 would divide by zero
      {300, 77, -1, 0},  // unknown size with a known total
      // A four-hour stream of 48 kHz stereo 16-bit: the product needs more than 64 bits.
      {14400, 2'764'800'000LL, 2'764'800'000LL, 14400},
      {std::numeric_limits<std::int64_t>::max() / 2, 4, 2, 0xFFFFFFFEu},  // low 32 bits kept
  };
  for (const auto& c : cases)
    EXPECT_EQ(ElapsedSeconds(c.total, c.position, c.size), c.elapsed)
        << c.total << " " << c.position << " " << c.size;
}

TEST(ComputeTimeTextsTest, BothTexts) {
  TimeTexts half = ComputeTimeTexts(245, 1'000'000, 2'000'000);
  EXPECT_EQ(half.elapsed, "2:02");
  EXPECT_EQ(half.total, "4:05");
  TimeTexts unknown = ComputeTimeTexts(0, 4096, -1);
  EXPECT_EQ(unknown.elapsed, "0:00");
  EXPECT_EQ(unknown.total, "0:00");
}

TEST(PlacementTest, TitleCentredButNeverLeftOfTheEdge) {
  EXPECT_EQ(TitleLeft(0, 137, 37), 68 - 18);
  EXPECT_EQ(TitleLeft(8, 145, 137), 8);  // exactly as wide as the panel
  EXPECT_EQ(TitleLeft(8, 145, 400), 8);  // wider: starts at the edge, cut at the right
  EXPECT_EQ(TitleLeft(10, 11, 0), 10);
  EXPECT_EQ(TotalTimeLeft(137, 30), 106);
}

}  // namespace
}  // namespace djkivo::app
